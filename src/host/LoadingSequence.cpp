#include "host/LoadingSequence.h"

#include "host/DemoClock.h"
#include "host/DemoEngine.h"
#include "host/HostState.h"
#include "platform/GL.h"
#include "platform/Platform.h"

namespace {
DemoEngine* displayEngine = nullptr;
}

void setDisplayEngine(DemoEngine* engine) { displayEngine = engine; }

void loadDemo() {
    demoClock.setOffset(0);
    demoClock.start();
}

void loadingSequence(DemoEngine& engine) {
    setDisplayEngine(&engine);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    loadDemo();
    applyDisplayMode(fullscreenRequested);
}

void applyDisplayMode(bool fullscreen) {
    if (!displayEngine || !displayEngine->getWindow()) return;
    // Only the exact mode counts; anything else is a refusal, which is ignored.
    if (fullscreen && !platform::fullscreenModeAvailable(screenWidth, screenHeight, 32)) return;
    platform::setFullscreen(displayEngine->getWindow(), fullscreen);
}
