// effect-bench: renders one demo script for a fixed number of frames and prints the time per frame.
//   effect-bench --data DIR --script FILE [--frames N] [--warmup N] [--start MS] [--step MS] [--window MS]
//                [--copy-mode]
//
// DIR holds data/... (a generated data folder, e.g. the output of holdfast-makedemo); it becomes
// the working directory, so the script's data paths resolve there. FILE is loaded as the player
// loads data/scripts/demo.scr. After the warm-up frames, N frames are drawn at demo times
// START, START + STEP, ...; each frame ends with glFinish so the GL's work counts. Prints one line:
//   frames=N wall_s=S fps=F us_per_frame=U cpu_us_per_frame=C worst_fps=W worst_cpu_us_per_frame=X
//   worst_at_ms=T
// The worst figures are those of the slowest and the costliest span of WINDOW ms of demo time
// (default 1000); T is where the costliest one starts.
// Run with GALLIUM_NOOP=1 to measure our CPU cost and the GL calls without any drawing.
// --copy-mode runs the picture effects as on a driver without depth render targets.
#include "base/Report.h"
#include "base/RunState.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "host/FrameLoop.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

int usage(const char* problem) {
    if (problem) fprintf(stderr, "effect-bench: %s\n", problem);
    fprintf(stderr, "usage: effect-bench --data DIR --script FILE [--frames N] [--warmup N] [--start MS] "
                    "[--step MS] [--window MS] [--copy-mode]\n");
    return 2;
}

bool parseCount(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end && *end == '\0' && end != text && value >= 0 && value <= 100000000;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    std::string data, script;
    long frames = 100, warmup = 5, start = 0, step = 20, window = 1000;
    bool copyMode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            printf("effect-bench --data DIR --script FILE [--frames N] [--warmup N] [--start MS] [--step MS] "
                   "[--window MS] [--copy-mode]\n  renders FILE for N frames and prints frames per second "
                   "and us "
                   "per frame, overall and in the worst WINDOW ms of demo time\n");
            return 0;
        }
        if (arg == "--version") {
            printf("effect-bench %s\n", HOLDFAST_VERSION);
            return 0;
        }
        if (arg == "--copy-mode") {
            copyMode = true;
            continue;
        }
        if (i + 1 >= argc) return usage((arg + " needs a value").c_str());
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--data")
            data = value;
        else if (arg == "--script")
            script = value;
        else if (arg == "--frames")
            ok = parseCount(value, frames);
        else if (arg == "--warmup")
            ok = parseCount(value, warmup);
        else if (arg == "--start")
            ok = parseCount(value, start);
        else if (arg == "--step")
            ok = parseCount(value, step);
        else if (arg == "--window")
            ok = parseCount(value, window) && window > 0;
        else
            return usage(("unknown argument " + arg).c_str());
        if (!ok) return usage((arg + " takes a non-negative number").c_str());
    }
    if (data.empty() || script.empty()) return usage("--data and --script are required");
    std::error_code ec;
    const fs::path scriptPath = fs::absolute(script, ec);
    if (!fs::is_regular_file(scriptPath, ec)) return usage((script + " is not a file").c_str());
    if (!fs::is_directory(data, ec) || chdir(data.c_str()) != 0)
        return usage((data + " is not a directory").c_str());
    // The audio-reactive effects need a sound system: an offline one, playing music.ogg from the
    // data folder when there is one. The taps are fed once, after the warm-up frames have started
    // the effects, so the timed frames measure the effects' reads and drawing, not the mixing
    // (which runs on the audio thread in the player).
    sound::setOfflineMode(true);
    tesselMusic.initSound();
    if (fs::is_regular_file("music.ogg", ec) && tesselMusic.openStream("music.ogg")) {
        tesselMusic.setTime(static_cast<int>(start));
        tesselMusic.play();
    }

    screenWidth = 800;
    screenHeight = 600;
    fullscreenRequested = false;
    if (!platform::createHiddenGLContext(screenWidth, screenHeight))
        reportError(__FILE__, __LINE__, "Could not init GLEW", true);
    checkGLRequirements();
    if (copyMode) platform::setDepthTextureTargetDisabled(true);

    musicEnabled = false;
    scriptLoader.load(scriptPath.c_str());

    auto frame = [&](long index) {
        const int t = static_cast<int>(start + index * step);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        drawFrame(t);
        glFinish();
    };
    for (long i = 0; i < warmup; ++i)
        frame(i);
    sound::renderOfflineAt(static_cast<int>(start + warmup * step));
    const double cpuBegin = cpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    // Frames are grouped by the span of demo time they show.
    long windowIndex = -1, windowFrames = 0, worstAt = start;
    double windowWall0 = 0, windowCpu0 = 0, worstFps = -1, worstCpuUs = -1;
    auto closeWindow = [&](double wallNow, double cpuNow) {
        if (windowFrames == 0) return;
        const double span = wallNow - windowWall0;
        const double fps = span > 0 ? windowFrames / span : 0.0;
        const double cpuUs = (cpuNow - windowCpu0) * 1e6 / windowFrames;
        if (worstFps < 0 || fps < worstFps) worstFps = fps;
        if (cpuUs > worstCpuUs) {
            worstCpuUs = cpuUs;
            worstAt = start + windowIndex * window;
        }
    };
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    for (long i = 0; i < frames; ++i) {
        const long index = (warmup + i) * step / window;
        if (index != windowIndex) {
            const double wallNow = seconds(), cpuNow = cpuSeconds();
            closeWindow(wallNow, cpuNow);
            windowIndex = index;
            windowFrames = 0;
            windowWall0 = wallNow;
            windowCpu0 = cpuNow;
        }
        frame(warmup + i);
        ++windowFrames;
    }
    const double wall = seconds();
    const double cpu = cpuSeconds() - cpuBegin;
    closeWindow(wall, cpu + cpuBegin);
    const double n = frames > 0 ? static_cast<double>(frames) : 1.0;
    printf("frames=%ld wall_s=%.4f fps=%.2f us_per_frame=%.1f cpu_us_per_frame=%.1f worst_fps=%.2f "
           "worst_cpu_us_per_frame=%.1f worst_at_ms=%ld\n",
           frames, wall, wall > 0 ? static_cast<double>(frames) / wall : 0.0, wall * 1e6 / n, cpu * 1e6 / n,
           worstFps < 0 ? 0.0 : worstFps, worstCpuUs < 0 ? 0.0 : worstCpuUs, worstAt);
    checkGLError(__FILE__, __LINE__);
    return 0;
}
