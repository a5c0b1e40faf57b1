#include "effects/Scratch.h"

#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "platform/GL.h"
#include "resources/ScreenQuad.h"

#include <cmath>

Scratch::Scratch() : Effect3D("Scratch") {
    registerVariable(thisOrigin, "ThisOrigin", NoList, KindFloat);
    registerVariable(thisAmp, "ThisAmp", NoList, KindFloat);
    registerVariable(thatOrigin, "ThatOrigin", NoList, KindFloat);
    registerVariable(thatAmp, "ThatAmp", NoList, KindFloat);
    screen.initialize(256, 256, false, TargetBuffers::DepthWhenNeeded);
    screen.createTexture(GL_REPEAT, GL_LINEAR, GL_NEAREST);
    screen.enable();
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    screen.disable();
}

Scratch::~Scratch() {
    if (!scene) return;
    for (const char* name : {"screen1", "screen2", "screen3"}) {
        MeshObject* mesh = findMeshWithMaterial(*scene, name);
        if (!mesh) continue;
        PBuffer* shown = mesh->material()->pbuffer();
        if (shown && (shown == &screen || shown == &view.pbuffer || shown == scopePicture))
            mesh->material()->setPBuffer(nullptr);
    }
}

void Scratch::start(int time) {
    Effect3D::start(time);
    if (linked) linked->start(time);
    if (screen.isInitialized()) {
        screen.enable();
        if (linked) linked->start(time);
        screen.disable();
    }
    view.startTap();
    scopeStarted = true;
    scopePicture = view.renderToPBuffer();
    if (!scene) return;
    const char* names[] = {"screen1", "screen2", "screen3"};
    for (int i = 0; i < 3; ++i) {
        if (MeshObject* mesh = findMeshWithMaterial(*scene, names[i]))
            mesh->material()->setPBuffer(i == 0 ? &screen : scopePicture);
    }
}

void Scratch::drawLinked(int time) {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (screen.isInitialized()) {
        screen.enable();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        linked->update(time);
        linked->render(time);
        brightenScreen(16);
        screen.disable();
    }
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}

void Scratch::update(int time) {
    Effect3D::update(time);
    if (!linked || scratchMode) return;
    drawLinked(time);
}

int Scratch::scratchTime(int time) {
    thisAmp.valueAt(time);
    thisOrigin.valueAt(time);
    const double s = thatAmp.valueAt(time) * std::sin(0.2 * phase) * 500.0 + thatOrigin.valueAt(time) * 500.0;
    // Demo times are unsigned: a swing below zero stops at zero instead of wrapping round.
    return s > 0 ? static_cast<int>(s) : 0;
}

void Scratch::render(int time) {
    if (!scene || !scopeStarted) return;
    scopePicture = view.renderToPBuffer();
    const int swung = scratchTime(time);
    if (linked && scratchMode) drawLinked(swung);
    drawScene(phase);
}

void Scratch::signal(const Signal& s) {
    Effect3D::signal(s);
    if (s.type == 37) scratchMode = s.value != 0;
}
