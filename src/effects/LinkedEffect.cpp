#include "effects/LinkedEffect.h"

#include "demo/Effect.h"
#include "resources/PBuffer.h"

void initLinkedTarget(PBuffer& target, int size, GLint magFilter, GLbitfield clearMask, TargetBuffers buffers,
                      TargetLifetime lifetime) {
    if (target.isInitialized()) target.destroy();
    target.initialize(size, size, false, buffers, lifetime);
    target.createTexture(GL_REPEAT, GL_LINEAR, magFilter);
    if (!target.holdsStorage()) return;
    target.enable();
    glClearColor(0, 0, 0, 0);
    glClear(clearMask);
    target.disable();
}

void startLinked(Effect* linked, int time, std::initializer_list<PBuffer*> targets) {
    if (!linked) return;
    linked->start(time);
    for (PBuffer* target : targets) {
        if (!target->isInitialized()) continue;
        target->enable();
        linked->start(time);
        target->disable();
    }
}

void updateLinked(Effect* linked, int time, std::initializer_list<LinkedTarget> targets) {
    if (!linked) return;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    for (const LinkedTarget& pass : targets) {
        if (!pass.target->isInitialized()) continue;
        pass.target->enable();
        glClearColor(0, 0, 0, 0);
        glClear(pass.clearMask);
        linked->update(time);
        linked->render(time);
        if (pass.afterRender) pass.afterRender();
        pass.target->disable();
    }
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}
