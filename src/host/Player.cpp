#include "host/Player.h"

#include "base/Report.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/FrameStep.h"
#include "demo/SignalQueue.h"
#include "host/DemoClock.h"
#include "host/DemoEngine.h"
#include "host/FrameLoop.h"
#include "host/FrameWindows.h"
#include "host/LoadingSequence.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "sound/SpectrumTap.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// Taken during static initialisation: as close to process start as the program can see.
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

class WindowDriver : public FrameLoopDriver {
  public:
    explicit WindowDriver(DemoEngine& e) : engine(e) {}
    bool pollEvent(platform::Event& event) override { return platform::pollEvent(event); }
    void dispatch(const platform::Event& event) override { DemoEngine::windowProc(event); }
    void clear() override { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT); }
    int now() override { return demoClock.now(); }
    void renderFrame(int t) override {
        if (!firstFrameSeen) {
            firstFrame = std::chrono::steady_clock::now();
            firstFrameSeen = true;
        }
        drawFrame(t);
    }
    void present() override {
        engine.swapBuffers();
        if (timed) windows.frame(wallSeconds(), platform::threadCpuSeconds());
    }
    void startTiming() {
        timed = true;
        windows.start(wallSeconds(), platform::threadCpuSeconds());
    }
    static double wallSeconds() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    bool firstFrameSeen = false;
    std::chrono::steady_clock::time_point firstFrame;
    bool timed = false;
    FrameWindows windows;

  private:
    DemoEngine& engine;
};

bool statsWanted() {
    const char* value = getenv("HOLDFAST_STATS");
    return value && *value && strcmp(value, "0") != 0;
}
} // namespace

void checkGLRequirements() {
    if (!platform::initGLExtensions()) reportError(__FILE__, __LINE__, "Could not init GLEW", true);
    const platform::GLCaps& caps = platform::glCaps();
    // Framebuffer objects stand in for pbuffers with render-to-texture.
    if (!caps.framebufferObject)
        reportError(__FILE__, __LINE__, "EXT_framebuffer_object not supported", true);
    if (!caps.multitexture) reportError(__FILE__, __LINE__, "ARB_multitexture not supported", true);
    if (!caps.shadow) reportError(__FILE__, __LINE__, "ARB_shadow not supported", true);
    if (caps.maxTextureUnits < 3)
        reportError(__FILE__, __LINE__, "Minimum 3 texture units are required", true);
    // A window of another size than the frame (full screen, resized, on a scaled desktop) shows
    // the frame scaled, drawn into a frame target of its own size. Without one the frame is drawn
    // into the window unscaled, as before.
    if (!platform::createFrameTarget(screenWidth, screenHeight))
        fprintf(stderr,
                "the driver refused a %d x %d frame target: windows of another size show the "
                "frame unscaled\n",
                screenWidth, screenHeight);
}

int runPlayer() {
    screenWidth = 800;
    screenHeight = 600;
    fullscreenRequested = true;

    DemoEngine engine("hold fast", screenWidth, screenHeight, 32, fullscreenRequested, nullptr);
    // The cursor is hidden while the window is full screen (the platform follows Alt+Enter).
    checkGLRequirements();
    // Frames go out on the display's refresh; the demo clock runs on regardless.
    const platform::Vsync vsync = platform::vsyncFromEnvironment();
    const int swapInterval = platform::setVsync(vsync);

    loadingSequence(engine);

    unsigned long frames = 0;
    const bool stats = statsWanted();
    WindowDriver driver(engine);
    auto loopStart = std::chrono::steady_clock::now();
    if (!quitRequested) {
        // Keys pressed while loading were not meant for the running demo.
        platform::discardPendingInput();
        inputEnabled = true;
        if (stats) driver.startTiming();
        frames = runFrameLoop(driver);
    }
    auto loopEnd = std::chrono::steady_clock::now();

    engine.shutdown();
    // The queue and the list's storage go; the effects themselves live until the process ends.
    // A process-wide record keeps them reachable, so a leak checker sees them as owned and only
    // reports memory that really was lost.
    static std::vector<Effect*>* effectsUntilExit = new std::vector<Effect*>();
    if (effectList)
        effectsUntilExit->insert(effectsUntilExit->end(), effectList->effects().begin(),
                                 effectList->effects().end());
    delete signalQueue;
    signalQueue = nullptr;
    delete effectList;
    effectList = nullptr;

    if (stats) {
        double seconds = std::chrono::duration<double>(loopEnd - loopStart).count();
        double loadMs =
            driver.firstFrameSeen
                ? std::chrono::duration<double, std::milli>(driver.firstFrame - processStart).count()
                : 0.0;
        // The spectrum figures show whether the audio-reactive effects heard the music. The CPU
        // figures are the rendering thread's own: the audio thread and the driver's workers are
        // left out. vsync is what was asked for, swap_interval what the driver gave (0 where it
        // has no say over swaps at all, as under Xvfb).
        const FrameWindows& w = driver.windows;
        fprintf(stderr,
                "frames=%lu seconds=%.3f fps=%.1f load_ms=%.0f spectra=%lu spectrum_peak=%.3f beats=%zu "
                "worst_fps=%.1f "
                "cpu_us_per_frame=%.1f worst_cpu_us_per_frame=%.1f vsync=%s swap_interval=%d\n",
                frames, seconds, seconds > 0 ? frames / seconds : 0.0, loadMs, spectrumTap::spectraRead(),
                spectrumTap::peakEnergy(), spectrumTap::beatTimes().size(), w.worstFps(),
                w.meanCpuUsPerFrame(), w.worstCpuUsPerFrame(),
                vsync == platform::Vsync::Off  ? "0"
                : vsync == platform::Vsync::On ? "1"
                                               : "adaptive",
                swapInterval);
    }
    return 0;
}
