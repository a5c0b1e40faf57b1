#include "demo/FrameStep.h"

#include "base/RunState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/Random.h"
#include "demo/SignalQueue.h"
#include "platform/GL.h"

#include <vector>

namespace {
const Signal* deliveredSignal = nullptr;
const Effect* steppedEffect = nullptr;

bool isActive(Effect* effect, int t) {
    return effect->activeTrack.valueAt(t) > 0.0f;
}
} // namespace

const Signal* signalInProgress() {
    return deliveredSignal;
}

const Effect* effectInProgress() {
    return steppedEffect;
}

EffectInProgress::EffectInProgress(const Effect* effect) : previous(steppedEffect) {
    steppedEffect = effect;
}

EffectInProgress::~EffectInProgress() {
    steppedEffect = previous;
}

void deliverDueSignals(int t) {
    if (!signalQueue) return;
    while (signalQueue->isDue(t)) {
        // A copy: the receiving effect may touch the queue.
        const Signal s = signalQueue->next();
        if (Effect* effect = effectList ? effectList->findEffect(s.effectName) : nullptr) {
            const EffectInProgress inProgress(effect);
            struct Delivering {
                explicit Delivering(const Signal& s) { deliveredSignal = &s; }
                ~Delivering() { deliveredSignal = nullptr; }
            } delivering(s);
            effect->signal(s);
        }
    }
}

namespace {
// Signals due at t, then `step` (a virtual member) on every active effect.
void stepActiveEffects(int t, void (Effect::*step)(int)) {
    if (!effectList) return;
    deliverDueSignals(t);
    // A copy: an effect may change the list.
    const std::vector<Effect*> effects = effectList->effects();
    for (Effect* effect : effects)
        if (isActive(effect, t)) {
            const EffectInProgress inProgress(effect);
            (effect->*step)(t);
        }
}
} // namespace

void updateFrame(int t) {
    stepActiveEffects(t, &Effect::update);
}

void stepState(int t) {
    stepActiveEffects(t, &Effect::updateState);
}

void renderFrame(int t) {
    if (!effectList) return;
    Random::startFrame(t);
    deliverDueSignals(t);

    // The frame works on a copy so that an effect changing the list cannot upset the passes.
    const std::vector<Effect*> effects = effectList->effects();
    for (Effect* effect : effects)
        if (isActive(effect, t)) {
            const EffectInProgress inProgress(effect);
            effect->update(t);
        }

    glViewport(0, 0, screenWidth, screenHeight);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();

    for (Effect* effect : effects)
        if (isActive(effect, t)) {
            const EffectInProgress inProgress(effect);
            effect->render(t);
        }

    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
