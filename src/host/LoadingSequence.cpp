#include "host/LoadingSequence.h"

#include "archive/DataFile.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "engine/SceneLoaderQZG.h"
#include "host/DemoClock.h"
#include "host/DemoEngine.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/ScreenQuad.h"
#include "resources/Texture.h"
#include "sound/TesselMusic.h"

#include <cstdlib>

bool musicEnabled = true;
std::string musicFileName = "music.ogg";

namespace {
constexpr const char* kLoadingPicture = "data/images/loading.png";
DemoEngine* displayEngine = nullptr;

void closeSoundAtExit() {
    tesselMusic.closeSound();
}

void swapEngine(void* engine) {
    static_cast<DemoEngine*>(engine)->swapBuffers();
}
} // namespace

void setDisplayEngine(DemoEngine* engine) {
    displayEngine = engine;
}

void loadDemo() {
    if (musicEnabled) tesselMusic.pause();
    scriptLoader.load("data/scripts/demo.scr");
    if (musicEnabled && tesselMusic.initSound()) {
        if (tesselMusic.openStream(musicFileName.c_str())) {
            tesselMusic.setTime(demoStartTime);
            tesselMusic.play();
        }
    }
    demoClock.setOffset(demoStartTime);
    demoClock.start();
}

void loadingSequence(const LoadingSetup& setup) {
    // A demo read from its folder (the front end has entered it) names only files inside it, as a
    // packed one names only members of its archive.
    if (setup.archiveName)
        setDataArchive(setup.archiveName, setup.archivePassword);
    else
        setDataFolder(".");
    // A picture's decoded copy goes as soon as it is uploaded, instead of all of them adding up to
    // the load's peak memory.
    const bool keptImages = TextureManager::keepDecodedImages(false);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

    // The picture stays on screen while the script loads.
    Texture* loading = TextureManager::instance().loadTexture(kLoadingPicture, "", GL_TEXTURE_2D);
    setOrthoYUp();
    drawTexturedQuad(loading, ScreenRect{0.0f, 0.0f, 1.0f, 1.0f});
    if (setup.present) setup.present(setup.presentContext);
    // Shown now, and nothing draws it again: its texture with the mipmaps (5.3 MiB for a picture
    // of 800 x 600) and its decoded copy would only add to the load's peak memory. A demo that
    // shows the picture too loads it again.
    TextureManager::instance().releaseIfUnshared(kLoadingPicture);

    if (!effectList) effectList = new EffectList();
    if (!signalQueue) signalQueue = new SignalQueue();

    static bool exitHandlerRegistered = false;
    if (!exitHandlerRegistered) {
        std::atexit(closeSoundAtExit);
        exitHandlerRegistered = true;
    }

    // Scene files name textures by their last path component inside the texture directory.
    SceneLoaderQZG::setKeepStoredTexturePaths(false);
    loadDemo();
    // Every picture of the load went without its decoded copy; later loads keep theirs as before.
    TextureManager::keepDecodedImages(keptImages);
    platform::returnFreeMemory();
    applyDisplayMode(fullscreenRequested);
}

void loadingSequence(DemoEngine& engine) {
    setDisplayEngine(&engine);
    LoadingSetup setup;
    setup.present = swapEngine;
    setup.presentContext = &engine;
    loadingSequence(setup);
}

void applyDisplayMode(bool fullscreen) {
    if (!displayEngine || !displayEngine->getWindow()) return;
    // A refusal is ignored.
    if (fullscreen && !platform::desktopFullscreenAvailable()) return;
    platform::setFullscreen(displayEngine->getWindow(), fullscreen);
}
