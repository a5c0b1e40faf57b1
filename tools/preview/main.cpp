// holdfast-preview: a windowed player for demo authors, with the music, that jumps anywhere in
// the demo and reloads it as its files are saved, without restarting.
//
// Keys: Space pause/resume (the music too), Left/Right -/+1 s, PageUp/PageDown -/+10 s, Up/Down
// to the part playing (or the one before) / the next part, Home to the start, G and a typed time
// to go there, [ and ] mark a loop span and L loops it, R reloads, Escape quits. Jump keys in a row
// make one jump. The title shows the demo time, frames per second and the part of the music
// playing (the last DEFINE name that begins a timeline line on its own and starts at or before
// the time).
//
// An edit of a file the demo reads (watched on disk) reloads it: a picture in place, then the
// script with what it loads, and a jump to where the preview was.
//
// A jump loads the script again, steps every frame before it without drawing (signals, clocks,
// pattern steps, scene state) and draws the last 150 ms (with the music at each frame's time in the
// taps) as a player running at --fps frames per second would have (--exact-jumps draws every frame
// from the start), so the frame after a jump is the one holdfast-capture writes for that time. A
// script error on reload keeps the running demo and shows the error in the title and on stderr.
//
// --rocket connects out to a GNU Rocket editor (tools/rocket): its tracks stand in for the
// effects' variables, its cursor and pause drive the preview, S (or the editor's save) writes its
// tracks into the script.
#include "common/DemoLocation.h"
#include "common/ToolOptions.h"
#include "base/Report.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "host/DemoEngine.h"
#include "host/FrameGrid.h"
#include "host/FrameLoop.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "host/TimelineControl.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "platform/ReplacingFile.h"
#include "preview/EditFollower.h"
#include "preview/JumpQueue.h"
#include "preview/TypedTime.h"
#include "resources/ContactSheet.h"
#include "resources/PngWriter.h"
#include "resources/Texture.h"
#include "rocket/RocketLink.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
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
    "                        [--exact-jumps] [--rocket [HOST[:PORT]]] [--row-ms N]\n"
    "       holdfast-preview --data PATH [...] --seek-frames T1,T2,... --out DIR\n";

const char* kHelp =
    "A windowed player for demo authors.\n"
    "\n"
    "  --data PATH       a data archive, or a directory holding data/... (read from disk);\n"
    "                    saved edits of the files the demo reads show at once\n"
    "  --password PW     the archive's password (default: the player's)\n"
    "  --music FILE      the music (default: music.ogg beside PATH)\n"
    "  --at MS           starts at this demo time\n"
    "  --fps N           frame rate a jump replays the timeline at (default 60, as holdfast-capture)\n"
    "  --paused          starts paused\n"
    "  --exact-jumps     a jump draws every frame from the start (into one pixel) before the\n"
    "                    last 150 ms: whatever effects keep, but slow for a heavy demo\n"
    "  --rocket [HOST[:PORT]]\n"
    "                    syncs with a GNU Rocket editor (default 127.0.0.1:1338): a track\n"
    "                    Effect:Variable per float, int and bool variable; S saves its tracks\n"
    "                    into the script\n"
    "  --row-ms N        the editor's row in ms (default a quarter of DEMO_BEAT)\n"
    "  --seek-frames T1,... --out DIR\n"
    "                    jumps to each time in turn, writes the frame shown after each jump as\n"
    "                    DIR/frame_%08u.png and ends (checks and timings)\n"
    "\n"
    "Keys: Space pause/resume, Left/Right -/+1 s, PageUp/PageDown -/+10 s, Up/Down previous/next\n"
    "      part, Home start, G type a time (m:ss.mmm or seconds; Enter goes, Escape drops it),\n"
    "      [ and ] loop start and end, L loop on/off, R reload, S save the editor's tracks into\n"
    "      the script (--rocket), Escape quit.\n";

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
    bool useRocket = false;
    std::string rocketHost = "127.0.0.1";
    uint16_t rocketPort = rocket::kDefaultPort;
    double rowMs = 0; // 0: a quarter of DEMO_BEAT
};

// "HOST", "HOST:PORT" or ":PORT".
bool parseRocketAddress(const std::string& text, Options& o) {
    const size_t colon = text.rfind(':');
    const std::string host = text.substr(0, colon);
    if (!host.empty()) o.rocketHost = host;
    if (colon == std::string::npos) return !host.empty();
    uint32_t port = 0;
    if (!tool::parseDemoTime(text.substr(colon + 1), port) || port == 0 || port > 65535) return false;
    o.rocketPort = static_cast<uint16_t>(port);
    return true;
}

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-preview: %s\n", problem);
    fputs(kUsage, stderr);
    return 2;
}

using tool::parseDemoTime;

// 0: go on; -1: --help or --version answered; else the usage error's exit code.
int parseOptions(int argc, char** argv, Options& o) {
    std::string at, fps, frames, rowMs;
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
        else if (arg == "--rocket") {
            o.useRocket = true;
            // The address is optional: a following option is not one.
            if (i + 1 < argc && argv[i + 1][0] != '-' && !parseRocketAddress(argv[++i], o))
                return usage("--rocket takes HOST, HOST:PORT or :PORT");
        } else if (arg == "--row-ms")
            ok = value(rowMs);
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
    if (!rowMs.empty()) {
        if (!parseDemoTime(rowMs, n) || n == 0) return usage("--row-ms takes a number of ms above 0");
        o.rowMs = n;
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

// A report's text without the reporting source position ("src/x.cpp:12 "): an author wants the
// file of the demo and what is wrong with it.
std::string withoutSourcePosition(const std::string& text) {
    const size_t space = text.find(' ');
    const size_t colon = text.rfind(':', space);
    if (space == std::string::npos || colon == std::string::npos || colon + 1 >= space) return text;
    const std::string file = text.substr(0, colon), line = text.substr(colon + 1, space - colon - 1);
    const bool source = file.size() > 4 && (file.compare(file.size() - 4, 4, ".cpp") == 0 ||
                                            file.compare(file.size() - 2, 2, ".h") == 0);
    if (!source || line.find_first_not_of("0123456789") != std::string::npos) return text;
    return text.substr(space + 1);
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

class Preview : public rocket::Transport {
  public:
    Preview(DemoEngine& e, int fps, ReplayMode mode, preview::EditFollower& edits)
        : engine(e), fps(fps), jumpMode(mode), edits(edits) {}

    // The script the loading sequence just loaded becomes the one jumps replay.
    bool adoptLoadedScript() {
        ScriptProblem problem;
        if (!readScript(kScriptName, script, problem)) return false;
        sections = timelineSections(script, scriptLoader.defined());
        return true;
    }

    // Shows the frame a player has on screen at time t, with the state it has there.
    // `shown`, when given, receives the frame as it is presented (rows bottom-up). With
    // `interactive`, jump keys pressed while the timeline replays take the jump further (or
    // start it again for an earlier time) instead of queueing jumps of their own.
    void jump(int64_t t, std::vector<unsigned char>* shown = nullptr, bool interactive = false) {
        const auto begin = std::chrono::steady_clock::now();
        int64_t target = clampTime(t);
        ScriptProblem problem;
        if (!loadScript(script, problem)) { // the last good script: only fails if the data changed under it
            showProblem(problem);
            return;
        }
        if (rocket) rocket->effectsLoaded(); // the new effects follow the editor's tracks
        const FrameGrid grid(demoStartTime, fps);
        restoreStartGLState();
        const int drawn =
            jumpMode == ReplayMode::TinyFrames ? 3 : std::max(3, kDrawnMsAfterJump * fps / 1000);
        // The replayed frames hear the music at their own times, playing (as a player's would),
        // while the output is held silent.
        sound::beginReplay();
        const bool musicWasPlaying = tesselMusic.isPlaying();
        if (tesselMusic.hasStream() && !musicWasPlaying) tesselMusic.play();
        int64_t stepped = 0; // frames stepped so far
        bool abandoned = false;
        auto lastLook = std::chrono::steady_clock::now();
        for (;;) {
            const int64_t firstDrawn = firstDrawnFrame(grid.frameAt(target), drawn);
            if (stepped > firstDrawn) { // taken back before what is stepped: from the start again
                if (!loadScript(script, problem)) {
                    showProblem(problem);
                    abandoned = true;
                    break;
                }
                restoreStartGLState();
                stepped = 0;
            }
            if (stepped == firstDrawn) break;
            const int64_t to = std::min(firstDrawn, stepped + 8);
            stepFrames(grid, stepped, to, jumpMode);
            stepped = to;
            if (interactive && std::chrono::steady_clock::now() - lastLook > std::chrono::milliseconds(15)) {
                lastLook = std::chrono::steady_clock::now();
                target = clampTime(takeKeysDuringJump(target));
                if (quit) break;
            }
        }
        abandoned = abandoned || quit;
        if (!abandoned) {
            const int64_t last = grid.frameAt(target);
            drawFrames(grid, firstDrawnFrame(last, drawn), last, replayedFrameStart);
        }
        if (tesselMusic.hasStream()) {
            if (!musicWasPlaying) tesselMusic.pause();
            tesselMusic.setTime(static_cast<int>(target));
        }
        sound::endReplay();
        if (abandoned) return;
        if (shown) {
            shown->resize(static_cast<size_t>(kWidth) * kHeight * 3);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, shown->data());
        }
        engine.swapBuffers();
        if (rocket) rocket->frameShown(target, false);
        anchorTime = target;
        anchorCount = platform::counterNow();
        lastJumpMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
        fprintf(stderr, "holdfast-preview: jump to %lld ms took %.0f ms\n", static_cast<long long>(target),
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

    // Reads the demo's files again: the pictures in `pictures` (all that came from files when
    // `allPictures`), then the script with everything it loads. What fails keeps the demo as it
    // was, with the error in the title; false then.
    bool reload(const std::vector<std::string>& pictures, bool allPictures) {
        return reloadPictures(pictures, allPictures) && readScriptAgain();
    }

    // Reloads what an edit on disk touched, without a key. Pictures alone are read again into
    // their textures: a playing preview shows them in its next frame, a paused one jumps to
    // where it is (so the frame is the one a player would show).
    void followEdit() {
        preview::EditFollower::Edit edit;
        if (!edits.poll(edit)) return;
        for (const std::string& file : edit.files)
            fprintf(stderr, "holdfast-preview: %s changed\n", file.c_str());
        if (edit.archive) fprintf(stderr, "holdfast-preview: the archive changed\n");
        const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
        const bool picturesOnly =
            !edit.archive && std::all_of(edit.files.begin(), edit.files.end(), [&](const std::string& file) {
                return std::any_of(loaded.begin(), loaded.end(),
                                   [&](const Texture* texture) { return texture->sourcePath == file; });
            });
        if (picturesOnly) {
            if (!reloadPictures(edit.files, false)) return;
            if (playing) {
                editToShow = edit; // reported with the next frame
                return;
            }
            jump(now());
        } else if (!reload(edit.files, edit.archive)) {
            return;
        }
        reportEditShown(edit);
    }

    void handleKey(platform::Key key) {
        if (typing) {
            typeKey(key);
            return;
        }
        int64_t target = 0;
        if (jumpTarget(key, jumps.base(now()), target)) {
            jumps.push(target);
            return;
        }
        const int64_t t = now();
        switch (key) {
        case platform::Key::Escape:
            quit = true;
            break;
        case platform::Key::Space:
            setPlaying(!playing);
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
            reload({}, true);
            break;
        case platform::Key::G:
            typing = true;
            typed.clear();
            titleDirty = true;
            break;
        case platform::Key::S:
            if (rocket) rocket->save(*this);
            break;
        default:
            break;
        }
    }

    // One turn of the loop: events, edits on disk, a due jump, a frame when playing, the title.
    void step() {
        std::vector<platform::Key> keys;
        keys.swap(keysDuringJump);
        for (platform::Key key : keys)
            handleKey(key);
        platform::Event event;
        while (!quit && platform::pollEvent(event)) {
            if (event.type == platform::EventType::Quit || event.type == platform::EventType::CloseRequest)
                quit = true;
            else if (event.type == platform::EventType::KeyDown)
                handleKey(event.key);
        }
        if (quit) return;
        followEdit();
        int64_t target = 0;
        if (jumps.take(target)) jump(target, nullptr, true);
        if (quit) return;
        if (playing) {
            // No faster than the frame rate jumps replay at: the preview is a player at that rate.
            const auto due = lastFrame + std::chrono::microseconds(1000000 / fps);
            if (std::chrono::steady_clock::now() < due) std::this_thread::sleep_until(due);
            lastFrame = std::chrono::steady_clock::now();
        }
        // The editor is heard just before the frame is drawn, so its edits are on that frame.
        if (rocket && rocket->poll(*this, playing)) titleDirty = true;
        if (playing) {
            int64_t t = now();
            if (looping && t >= loopEnd) {
                jump(loopStart);
                t = now();
            }
            if (t > demoRunEnd()) {
                setPlaying(false);
            } else {
                clearBuffers(0);
                drawFrame(static_cast<int>(t));
                engine.swapBuffers();
                if (rocket) rocket->frameShown(t, true);
                ++framesSinceCount;
                if (editToShow) {
                    reportEditShown(*editToShow);
                    editToShow.reset();
                }
            }
        } else {
            // Nothing moves: the last frame stays on screen.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        updateTitle();
    }

    // What the editor does to the preview.
    void jumpTo(int64_t t) override { jump(t); }
    void play(bool on) override { setPlaying(on); }
    void reloadScript() override { reload({}, false); }
    void redraw() override {
        const int64_t t = now();
        clearBuffers(0);
        drawFrame(static_cast<int>(t));
        engine.swapBuffers();
        if (rocket) rocket->frameShown(t, playing);
    }

    rocket::Link* rocket = nullptr;

    bool quitRequested() const { return quit; }
    double lastJumpDuration() const { return lastJumpMs; }

  private:
    // Pictures read again in place, and the alpha of pictures they mask; false, with the error
    // in the title, when one can't be read (it keeps its old picture).
    bool reloadPictures(const std::vector<std::string>& pictures, bool allPictures) {
        const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
        for (Texture* texture : loaded) {
            const std::string& file = texture->sourcePath;
            if (!allPictures && std::find(pictures.begin(), pictures.end(), file) == pictures.end()) continue;
            std::string failed;
            if (!reloadPicture(*texture, file, failed)) {
                pictureError = failed;
                fprintf(stderr, "holdfast-preview: %s (the demo keeps the picture it had)\n", failed.c_str());
                titleDirty = true;
                return false;
            }
            for (Texture* masked : loaded)
                if (masked->alphaMask == texture) masked->applyAlphaMask(texture);
        }
        if (!pictureError.empty()) titleDirty = true;
        pictureError.clear();
        return true;
    }

    // The script with everything it loads (a picture the demo has not loaded yet, missing so
    // far, comes with it), and a jump to where the preview is.
    bool readScriptAgain() {
        std::string text;
        ScriptProblem problem;
        if (!readScript(kScriptName, text, problem) || !loadScript(text, problem)) {
            showProblem(problem);
            return false;
        }
        script = text;
        sections = timelineSections(script, scriptLoader.defined());
        error.clear();
        edits.watchOpenedFiles();
        if (rocket) rocket->scriptReloaded();
        fprintf(stderr, "holdfast-preview: script reloaded\n");
        jump(now());
        return true;
    }

    void reportEditShown(const preview::EditFollower::Edit& edit) {
        const double noticed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - edit.firstSeen)
                .count();
        if (edit.savedAt > 0)
            fprintf(stderr,
                    "holdfast-preview: the edit shows %.0f ms after it was saved (%.0f ms after it was "
                    "noticed)\n",
                    (preview::EditFollower::wallNow() - edit.savedAt) * 1000, noticed);
        else
            fprintf(stderr, "holdfast-preview: the edit shows %.0f ms after it was noticed\n", noticed);
    }

    int64_t clampTime(int64_t t) const {
        return std::clamp<int64_t>(t, demoStartTime, std::max<int64_t>(demoStartTime, demoRunEnd()));
    }

    // The target of a key that jumps, counted from `base`; false for the other keys.
    bool jumpTarget(platform::Key key, int64_t base, int64_t& target) const {
        switch (key) {
        case platform::Key::Left:
            target = base - 1000;
            return true;
        case platform::Key::Right:
            target = base + 1000;
            return true;
        case platform::Key::PageUp:
            target = base - 10000;
            return true;
        case platform::Key::PageDown:
            target = base + 10000;
            return true;
        case platform::Key::Home:
            target = demoStartTime;
            return true;
        case platform::Key::Up: {
            // The start of the part playing, or of the one before within a part's first second.
            target = demoStartTime;
            for (const TimelineSection& s : sections)
                if (s.time <= base - 1000) target = s.time;
            return true;
        }
        case platform::Key::Down:
            for (const TimelineSection& s : sections)
                if (s.time > base) {
                    target = s.time;
                    return true;
                }
            return false; // in the last part: nowhere to go
        default:
            return false;
        }
    }

    // Input while a jump replays the timeline: jump keys move its target, other keys wait for
    // the jump to end, a quit ends it.
    int64_t takeKeysDuringJump(int64_t target) {
        platform::Event event;
        while (platform::pollEvent(event)) {
            if (event.type == platform::EventType::Quit || event.type == platform::EventType::CloseRequest) {
                quit = true;
            } else if (event.type == platform::EventType::KeyDown) {
                int64_t to = 0;
                if (!typing && keysDuringJump.empty() && jumpTarget(event.key, jumps.base(target), to))
                    jumps.push(to);
                else if (event.key == platform::Key::Escape && !typing)
                    quit = true;
                else
                    keysDuringJump.push_back(event.key);
            }
        }
        int64_t to = target;
        jumps.take(to, true);
        return to;
    }

    // A key while a time is typed into the title (after G).
    void typeKey(platform::Key key) {
        titleDirty = true;
        const int k = static_cast<int>(key), zero = static_cast<int>(platform::Key::Digit0);
        const bool room = typed.size() < 16;
        if (k >= zero && k <= zero + 9) {
            if (room) typed += static_cast<char>('0' + (k - zero));
        } else if (key == platform::Key::Period) {
            if (room) typed += '.';
        } else if (key == platform::Key::Colon) {
            if (room) typed += ':';
        } else if (key == platform::Key::Backspace) {
            if (!typed.empty()) typed.pop_back();
        } else if (key == platform::Key::Escape) {
            typing = false;
        } else if (key == platform::Key::Return) {
            int64_t t = 0;
            if (preview::parseTypedTime(typed, t)) {
                typing = false;
                jumps.push(t);
            } else {
                typedProblem = true;
                return;
            }
        }
        typedProblem = false;
    }

    void showProblem(const ScriptProblem& problem, const std::string& file = kScriptName) {
        const std::string message = withoutSourcePosition(problem.message);
        error = file.empty()             ? message
                : problem.scriptLine > 0 ? file + ":" + std::to_string(problem.scriptLine) + ": " + message
                                         : file + ": " + message;
        fprintf(stderr, "holdfast-preview: %s (the demo keeps running as it was)\n", error.c_str());
        titleDirty = true;
    }

    // One picture read again into its texture; false with `failed` saying why when it can't be.
    static bool reloadPicture(Texture& texture, const std::string& file, std::string& failed) {
        try {
            report::FatalGuard guard; // a bit depth the upload refuses ends nothing here
            if (texture.reloadFromFile()) return true;
            failed = file + ": cannot be read as a picture (an 8-bit RGB or RGBA PNG, or a JPEG)";
        } catch (const report::FatalError& e) {
            failed = file + ": " + withoutSourcePosition(e.record.text);
        }
        return false;
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
        char fpsText[32];
        snprintf(fpsText, sizeof fpsText, "%.0f fps", playing ? shownFps : 0.0);
        std::string title = "holdfast-preview | " + timeLabel(t) + " | " + fpsText;
        const std::string section = sectionAt(sections, static_cast<int>(t));
        if (!section.empty()) title += " | " + section;
        if (!playing) title += " | paused";
        if (loopEnd > loopStart)
            title +=
                " | loop " + timeLabel(loopStart) + "-" + timeLabel(loopEnd) + (looping ? " on" : " off");
        if (rocket && !rocket->title().empty()) title += " | " + rocket->title();
        if (typing) title += " | go to " + typed + "_" + (typedProblem ? " (m:ss.mmm or seconds)" : "");
        if (!error.empty()) title += " | ERROR " + error;
        if (!pictureError.empty()) title += " | ERROR " + pictureError;
        platform::setWindowTitle(engine.getWindow(), title.c_str());
    }

    DemoEngine& engine;
    int fps;
    ReplayMode jumpMode;
    preview::EditFollower& edits;
    preview::JumpQueue jumps;
    std::vector<platform::Key> keysDuringJump; // other keys pressed while a jump ran
    std::string script;
    std::vector<TimelineSection> sections;
    std::string error;        // the last script load's
    std::string pictureError; // the last picture reload's
    std::optional<preview::EditFollower::Edit> editToShow;
    bool typing = false;
    bool typedProblem = false;
    std::string typed;
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
        const std::string path = (outDir / name).string();
        platform::ReplacingFile output(path);
        std::string why;
        if (!output.begin(&why) ||
            !writeRgbPng(output.temporary(), kWidth, kHeight, rgb.data(), true, true) ||
            !output.commit(&why)) {
            fprintf(stderr, "holdfast-preview: cannot write %s%s%s\n", path.c_str(), why.empty() ? "" : ": ",
                    why.c_str());
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
    preview::EditFollower edits; // notes the files the demo opens from here on
    LoadingSetup setup;
    setup.archiveName = demo.fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);
    if (musicEnabled && !tesselMusic.hasStream())
        fprintf(stderr, "holdfast-preview: the music %s could not be played; the demo runs silent\n",
                music.c_str());

    keepStartGLState();
    Preview preview(engine, options.fps, options.jumpMode, edits);
    std::unique_ptr<rocket::Link> rocketLink;
    if (options.useRocket && outDir.empty()) {
        rocketLink = std::make_unique<rocket::Link>(options.rocketHost, options.rocketPort, options.rowMs,
                                                    demo.fromDirectory ? kScriptName : "");
        preview.rocket = rocketLink.get();
    }
    if (!preview.adoptLoadedScript())
        reportError(__FILE__, __LINE__, "script: could not open file for parsing", true);
    if (!outDir.empty()) {
        preview.setPlaying(false);
        const int code = writeSeekFrames(preview, options, outDir);
        engine.shutdown();
        return code;
    }
    std::string why;
    if (!edits.start(demo.path, demo.fromDirectory, why))
        fprintf(stderr, "holdfast-preview: %s; edits show after R\n", why.c_str());
    preview.jump(options.at >= 0 ? options.at : demoStartTime);
    if (options.paused) preview.setPlaying(false);
    platform::discardPendingInput();
    while (!preview.quitRequested())
        preview.step();
    if (rocketLink && getenv("HOLDFAST_STATS")) rocketLink->printStats();
    engine.shutdown();
    return 0;
}
