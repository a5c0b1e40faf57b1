#include "effects/Spectrum.h"

#include "demo/EffectList.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include <algorithm>

Spectrum::Spectrum() : Effect("Spectrum") {
    // Registered once, before the script is read, so that scripts may set them.
    registerVariable(maxThresh, "MaxThresh", NoList, KindFloat);
    registerVariable(sumThresh, "SumThresh", NoList, KindFloat);
}

// The effect keeps no clock of its own: neither start nor update are the base's.
void Spectrum::start(int time) {
    if (!tesselMusic.isSoundInitialized()) return;
    if (!fftActivated) fftActivated = spectrumTap::activate();
    lastSum = 0.0f;
    historyLength = 10;
    historySum = 0.0f;
    beatSum = kNoBeat;
    lastBeatTime = time;
    passedOnce = false;
    maxThresh.value = 0.92f;
    sumThresh.value = 0.1f;
    history.assign(static_cast<size_t>(historyLength), 0.0f);
}

float Spectrum::analyse(const float* spectrum, int time) {
    // Eight running sums and maxima side by side, which the compiler turns into vector adds.
    constexpr int kLanes = 8;
    static_assert(sound::kSpectrumSize % kLanes == 0, "whole rows of lanes");
    float sums[kLanes] = {};
    float maxima[kLanes] = {};
    for (int i = 0; i < sound::kSpectrumSize; i += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            sums[k] += spectrum[i + k];
            maxima[k] = spectrum[i + k] > maxima[k] ? spectrum[i + k] : maxima[k];
        }
    }
    float sum = 0.0f;
    maximum = 0.0f;
    for (int k = 0; k < kLanes; ++k) {
        sum += sums[k];
        maximum = std::max(maximum, maxima[k]);
    }
    if (!history.empty()) {
        historySum -= history.front();
        history.pop_front();
    }
    historySum += sum;
    history.push_back(sum);

    beatSum = kNoBeat;
    const bool beat = maximum > kBeatMaximum && sum > kBeatSum;
    if (beat) {
        beatSum = sum;
        lastBeatTime = time;
    }
    lastSum = sum;

    level = sum;
    if (decayMode) {
        if (beat) {
            level = 1.0f;
        } else {
            // Capped at 1 as well: a frame time before the last beat is no stronger pulse.
            const float since = static_cast<float>(time - lastBeatTime);
            level = std::clamp(1.0f - since * 0.01f, 0.0f, 1.0f);
        }
    }
    return level;
}

void Spectrum::update(int time) {
    if (!tesselMusic.isSoundInitialized()) return;
    if (!fftActivated) fftActivated = spectrumTap::activate();
    if (!tesselMusic.isPlaying()) return;
    const float* spectrum = spectrumTap::read();
    if (!spectrum) return;

    Signal s;
    s.time = time;
    s.type = 5;
    s.value = analyse(spectrum, time);
    spectrumTap::noteEnergy(lastSum);
    // A kick passes the test on several frames of its first 100 ms, not always in a row: it is
    // counted once, on the first.
    if (beatSum != kNoBeat) {
        if (!passedOnce || time - lastPassTime > 100) spectrumTap::noteBeat(time);
        passedOnce = true;
        lastPassTime = time;
    }
    s.values[0] = s.value;
    for (Effect* target : targets)
        target->signal(s);
}

void Spectrum::render(int) {}

void Spectrum::signal(const Signal& s) {
    Effect::signal(s);
    switch (s.type) {
    case 2:
        targets.clear();
        [[fallthrough]];
    case 3:
        if (Effect* target = effectList ? effectList->findEffect(s.text) : nullptr) targets.push_back(target);
        break;
    case 36:
        decayMode = s.value > 0;
        break;
    default:
        break;
    }
}
