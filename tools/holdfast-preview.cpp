// holdfast-preview: a windowed player for demo authors, with the music, that jumps anywhere in
// the demo and reloads the script after an edit without restarting.
//
// Keys: Space pause/resume (the music too), Left/Right -/+1 s, PageUp/PageDown -/+10 s, Home to
// the start, [ and ] mark a loop span and L loops it, R reloads the script, Escape quits. The
// title shows the demo time, frames per second and the part of the music playing (the last
// DEFINE name that begins a timeline line on its own and starts at or before the time).
//
// A jump loads the script again, steps every frame before it without drawing (signals, clocks,
// pattern steps, scene state) and draws the last 150 ms (with the music at each frame's time in the
// taps) as a player running at --fps frames per second would have (--exact-jumps draws every frame
// from the start), so the frame after a jump is the one holdfast-capture writes for that time. A
// script error on reload keeps the running demo and shows the error in the title and on stderr.
#include "DemoLocation.h"
#include "ToolOptions.h"
#include "demo/DemoState.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "host/DemoEngine.h"
#include "host/FrameGrid.h"
#include "host/FrameLoop.h"
#include "host/HostState.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "host/Report.h"
#include "host/TimelineControl.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/ContactSheet.h"
#include "resources/PngWriter.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr const char* kScriptName = "data/scripts/demo.scr";
// A jump draws the frames of the last 150 ms before its time in full: longer than the 100 ms a
// spectrum's beat lasts, and render targets and GL state come from these frames. The frames
// before only step their signals, clocks and pattern steps.
constexpr int kDrawnMsAfterJump = 150;

const char* kUsage =
    "usage: holdfast-preview --data PATH [--password PW] [--music FILE] [--at MS] [--fps N] [--paused]\n"
    "                        [--exact-jumps]\n"
    "       holdfast-preview --data PATH [...] --seek-frames T1,T2,... --out DIR\n";

const char* kHelp =
    "A windowed player for demo authors.\n"
    "\n"
    "  --data PATH       a data archive, or a directory holding data/... (read from disk, so\n"
    "                    edits show after R)\n"
    "  --password PW     the archive's password (default: the player's)\n"
    "  --music FILE      the music (default: music.ogg beside PATH)\n"
    "  --at MS           starts at this demo time\n"
    "  --fps N           frame rate a jump replays the timeline at (default 60, as holdfast-capture)\n"
    "  --paused          starts paused\n"
    "  --exact-jumps     a jump draws every frame from the start (into one pixel) before the\n"
    "                    last 150 ms: whatever effects keep, but slow for a heavy demo\n"
    "  --seek-frames T1,... --out DIR\n"
    "                    jumps to each time in turn, writes the frame shown after each jump as\n"
    "                    DIR/frame_%08u.png and ends (checks and timings)\n"
    "\n"
    "Keys: Space pause/resume, Left/Right -/+1 s, PageUp/PageDown -/+10 s, Home start,\n"
    "      [ and ] loop start and end, L loop on/off, R reload the script, Escape quit.\n";

struct Options {
    std::string data;
    std::string password = "tolvrask";
    std::string music;
    std::string out;
    std::vector<uint32_t> seekFrames;
    int64_t at = -1;
    int fps = 60;
    bool paused = false;
    ReplayMode jumpMode = ReplayMode::StateOnly;
};

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-preview: %s\n", problem);
    fputs(kUsage, stderr);
    return 2;
}

using tool::parseDemoTime;

// 0: go on; -1: --help or --version answered; else the usage error's exit code.
int parseOptions(int argc, char** argv, Options& o) {
    std::string at, fps, frames;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            printf("%s\n%s", kUsage, kHelp);
            return -1;
        }
        if (arg == "--version") {
            printf("holdfast-preview %s\n", HOLDFAST_VERSION);
            return -1;
        }
        if (arg == "--data")
            ok = value(o.data);
        else if (arg == "--password")
            ok = value(o.password);
        else if (arg == "--music")
            ok = value(o.music);
        else if (arg == "--at")
            ok = value(at);
        else if (arg == "--fps")
            ok = value(fps);
        else if (arg == "--out")
            ok = value(o.out);
        else if (arg == "--seek-frames")
            ok = value(frames);
        else if (arg == "--paused")
            o.paused = true;
        else if (arg == "--exact-jumps")
            o.jumpMode = ReplayMode::TinyFrames;
        else
            return usage(("unknown argument " + arg).c_str());
        if (!ok) return usage((arg + " needs a value").c_str());
    }
    if (o.data.empty()) return usage("--data is required");
    uint32_t n = 0;
    if (!at.empty()) {
        if (!parseDemoTime(at, n)) return usage("--at takes a demo time in ms");
        o.at = n;
    }
    if (!fps.empty()) {
        if (!parseDemoTime(fps, n) || n == 0 || n > 1000) return usage("--fps takes 1 to 1000");
        o.fps = static_cast<int>(n);
    }
    if (!frames.empty()) {
        if (!tool::parseDemoTimes(frames, o.seekFrames))
            return usage("--seek-frames takes a comma-separated list of ms");
        if (o.out.empty()) return usage("--seek-frames needs --out DIR");
    } else if (!o.out.empty()) {
        return usage("--out goes with --seek-frames");
    }
    return 0;
}

void clearBuffers(int) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// A frame of a jump's replay starts as the capture tool's do: cleared, with the taps holding
// the music just before its time.
void replayedFrameStart(int t) {
    clearBuffers(t);
    sound::renderReplayAt(t);
}

class Preview {
  public:
    Preview(DemoEngine& e, int fps, ReplayMode mode) : engine(e), fps(fps), jumpMode(mode) {}

    // The script the loading sequence just loaded becomes the one jumps replay.
    bool adoptLoadedScript() {
        ScriptProblem problem;
        if (!readScript(kScriptName, script, problem)) return false;
        sections = timelineSections(script, scriptLoader.defined());
        return true;
    }

    // Shows the frame a player has on screen at time t, with the state it has there.
    // `shown`, when given, receives the frame as it is presented (rows bottom-up).
    void jump(int64_t t, std::vector<unsigned char>* shown = nullptr) {
        const auto begin = std::chrono::steady_clock::now();
        t = std::clamp<int64_t>(t, demoStartTime, std::max<int64_t>(demoStartTime, demoRunEnd()));
        ScriptProblem problem;
        if (!loadScript(script, problem)) { // the last good script: only fails if the data changed under it
            showProblem(problem);
            return;
        }
        const FrameGrid grid(demoStartTime, fps);
        restoreStartGLState();
        const int drawn = std::max(3, kDrawnMsAfterJump * fps / 1000);
        // The replayed frames hear the music at their own times, playing (as a player's would),
        // while the output is held silent.
        sound::beginReplay();
        const bool musicWasPlaying = tesselMusic.isPlaying();
        if (tesselMusic.hasStream() && !musicWasPlaying) tesselMusic.play();
        replayTimeline(grid, grid.frameAt(t), jumpMode == ReplayMode::TinyFrames ? 3 : drawn,
                       replayedFrameStart, jumpMode);
        if (tesselMusic.hasStream()) {
            if (!musicWasPlaying) tesselMusic.pause();
            tesselMusic.setTime(static_cast<int>(t));
        }
        sound::endReplay();
        if (shown) {
            shown->resize(static_cast<size_t>(kWidth) * kHeight * 3);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, shown->data());
        }
        engine.swapBuffers();
        anchorTime = t;
        anchorCount = platform::counterNow();
        lastJumpMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        fprintf(stderr, "holdfast-preview: jump to %lld ms took %.0f ms\n", static_cast<long long>(t),
                lastJumpMs);
        titleDirty = true;
    }

    int64_t now() const {
        if (!playing) return anchorTime;
        return anchorTime + (platform::counterNow() - anchorCount) * 1000 / platform::counterFrequency();
    }

    void setPlaying(bool play) {
        if (play == playing) return;
        if (play) {
            anchorCount = platform::counterNow();
            if (tesselMusic.hasStream()) {
                tesselMusic.setTime(static_cast<int>(anchorTime));
                tesselMusic.play();
            }
        } else {
            anchorTime = now();
            tesselMusic.pause();
        }
        playing = play;
        titleDirty = true;
    }

    void reload() {
        std::string text;
        ScriptProblem problem;
        if (!readScript(kScriptName, text, problem) || !loadScript(text, problem)) {
            showProblem(problem);
            return;
        }
        script = text;
        sections = timelineSections(script, scriptLoader.defined());
        error.clear();
        fprintf(stderr, "holdfast-preview: script reloaded\n");
        jump(now());
    }

    void handleKey(platform::Key key) {
        const int64_t t = now();
        switch (key) {
        case platform::Key::Escape:
            quit = true;
            break;
        case platform::Key::Space:
            setPlaying(!playing);
            break;
        case platform::Key::Left:
            jump(t - 1000);
            break;
        case platform::Key::Right:
            jump(t + 1000);
            break;
        case platform::Key::PageUp:
            jump(t - 10000);
            break;
        case platform::Key::PageDown:
            jump(t + 10000);
            break;
        case platform::Key::Home:
            jump(demoStartTime);
            break;
        case platform::Key::LeftBracket:
            loopStart = t;
            titleDirty = true;
            break;
        case platform::Key::RightBracket:
            loopEnd = t;
            titleDirty = true;
            break;
        case platform::Key::L:
            looping = !looping && loopEnd > loopStart;
            if (looping && (t < loopStart || t >= loopEnd)) jump(loopStart);
            titleDirty = true;
            break;
        case platform::Key::R:
            reload();
            break;
        default:
            break;
        }
    }

    // One turn of the loop: events, a frame when playing, the title.
    void step() {
        platform::Event event;
        while (platform::pollEvent(event)) {
            if (event.type == platform::EventType::Quit || event.type == platform::EventType::CloseRequest)
                quit = true;
            else if (event.type == platform::EventType::KeyDown)
                handleKey(event.key);
        }
        if (quit) return;
        if (playing) {
            // No faster than the frame rate jumps replay at: the preview is a player at that rate.
            const auto due = lastFrame + std::chrono::microseconds(1000000 / fps);
            if (std::chrono::steady_clock::now() < due) std::this_thread::sleep_until(due);
            lastFrame = std::chrono::steady_clock::now();
            int64_t t = now();
            if (looping && t >= loopEnd) {
                jump(loopStart);
                t = now();
            }
            if (t > demoRunEnd()) {
                setPlaying(false);
            } else {
                clearBuffers(0);
                renderFrame(static_cast<int>(t));
                engine.swapBuffers();
                ++framesSinceCount;
            }
        } else {
            // Nothing moves: the last frame stays on screen.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        updateTitle();
    }

    bool quitRequested() const { return quit; }
    double lastJumpDuration() const { return lastJumpMs; }

  private:
    void showProblem(const ScriptProblem& problem) {
        error = problem.scriptLine > 0 ? std::string(kScriptName) + ":" + std::to_string(problem.scriptLine) +
                                             ": " + problem.message
                                       : std::string(kScriptName) + ": " + problem.message;
        fprintf(stderr, "holdfast-preview: %s (the demo keeps running as it was)\n", error.c_str());
        titleDirty = true;
    }

    void updateTitle() {
        const auto nowWall = std::chrono::steady_clock::now();
        const double sinceCount = std::chrono::duration<double>(nowWall - fpsCountStart).count();
        if (sinceCount >= 0.5) {
            shownFps = framesSinceCount / sinceCount;
            framesSinceCount = 0;
            fpsCountStart = nowWall;
            titleDirty = true;
        }
        if (playing && nowWall - lastTitle > std::chrono::milliseconds(100)) titleDirty = true;
        if (!titleDirty) return;
        titleDirty = false;
        lastTitle = nowWall;
        const int64_t t = now();
        char head[64];
        snprintf(head, sizeof head, "holdfast-preview | %lld.%03lld s | %.0f fps",
                 static_cast<long long>(t / 1000),
                 static_cast<long long>(t % 1000 < 0 ? -(t % 1000) : t % 1000), playing ? shownFps : 0.0);
        std::string title = head;
        const std::string section = sectionAt(sections, static_cast<int>(t));
        if (!section.empty()) title += " | " + section;
        if (!playing) title += " | paused";
        if (loopEnd > loopStart)
            title +=
                " | loop " + timeLabel(loopStart) + "-" + timeLabel(loopEnd) + (looping ? " on" : " off");
        if (!error.empty()) title += " | ERROR " + error;
        platform::setWindowTitle(engine.getWindow(), title.c_str());
    }

    DemoEngine& engine;
    int fps;
    ReplayMode jumpMode;
    std::string script;
    std::vector<TimelineSection> sections;
    std::string error;
    bool playing = true;
    bool quit = false;
    bool looping = false;
    int64_t loopStart = 0, loopEnd = 0;
    int64_t anchorTime = 0;
    int64_t anchorCount = 0;
    double lastJumpMs = 0;
    bool titleDirty = true;
    double shownFps = 0;
    int framesSinceCount = 0;
    std::chrono::steady_clock::time_point fpsCountStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastTitle{};
    std::chrono::steady_clock::time_point lastFrame{};
};

// The frame shown after a jump to each time, as PNG files: checks and timings.
int writeSeekFrames(Preview& preview, const Options& options, const fs::path& outDir) {
    std::vector<unsigned char> rgb;
    double total = 0, worst = 0;
    for (uint32_t t : options.seekFrames) {
        preview.jump(t, &rgb);
        total += preview.lastJumpDuration();
        worst = std::max(worst, preview.lastJumpDuration());
        char name[32];
        snprintf(name, sizeof name, "frame_%08u.png", t);
        if (!writeRgbPng((outDir / name).string(), kWidth, kHeight, rgb.data(), true, true)) {
            fprintf(stderr, "holdfast-preview: cannot write %s\n", (outDir / name).c_str());
            return 1;
        }
    }
    fprintf(stderr, "holdfast-preview: %zu jumps, %.1f ms on average, %.1f ms at most\n",
            options.seekFrames.size(), options.seekFrames.empty() ? 0.0 : total / options.seekFrames.size(),
            worst);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parseOptions(argc, argv, options)) return code < 0 ? 0 : code;

    std::error_code ec;
    tool::DemoData demo;
    if (!demo.find(options.data))
        return usage((demo.path.string() + " is neither a data archive nor a directory").c_str());
    const fs::path outDir = options.out.empty() ? fs::path() : tool::absolutePath(options.out);
    if (!outDir.empty() && !tool::makeOutputDirectory("holdfast-preview", outDir)) return 2;
    const fs::path music = demo.music(options.music);
    if (!demo.enter("holdfast-preview")) return 2;

    screenWidth = kWidth;
    screenHeight = kHeight;
    fullscreenRequested = false;
    DemoEngine engine("holdfast-preview", kWidth, kHeight, 32, false, nullptr);
    if (!engine.succeeded()) {
        fprintf(stderr, "holdfast-preview: no window could be opened\n");
        return 1;
    }
    checkGLRequirements();

    if (fs::is_regular_file(music, ec)) {
        musicFileName = music.string();
    } else {
        musicEnabled = false;
        fprintf(stderr, "holdfast-preview: no music at %s, playing silently\n", music.c_str());
    }
    const std::string archive = demo.path.string();
    LoadingSetup setup;
    setup.archiveName = demo.fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);
    if (musicEnabled && !tesselMusic.hasStream())
        fprintf(stderr, "holdfast-preview: the music %s could not be played; the demo runs silent\n",
                music.c_str());

    keepStartGLState();
    Preview preview(engine, options.fps, options.jumpMode);
    if (!preview.adoptLoadedScript())
        reportError(__FILE__, __LINE__, "script: could not open file for parsing", true);
    if (!outDir.empty()) {
        preview.setPlaying(false);
        const int code = writeSeekFrames(preview, options, outDir);
        engine.shutdown();
        return code;
    }
    preview.jump(options.at >= 0 ? options.at : demoStartTime);
    if (options.paused) preview.setPlaying(false);
    platform::discardPendingInput();
    while (!preview.quitRequested())
        preview.step();
    engine.shutdown();
    return 0;
}
