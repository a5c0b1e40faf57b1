// holdfast-preview: a windowed player for demo authors, with the music, that jumps anywhere in
// the demo and reloads it as its files are saved, without restarting.
//
// Keys: Space pause/resume (the music too), Left/Right -/+1 s, PageUp/PageDown -/+10 s, Up/Down
// to the part playing (or the one before) / the next part, Home to the start, G and a typed time
// to go there, [ and ] mark a loop span and L loops it, R reloads, H hides the panel, Escape quits.
// Jump keys in a row make one jump. The title shows the demo time, frames per second and the part
// of the music playing (the last DEFINE name that begins a timeline line on its own and starts at
// or before the time).
//
// An edit of a file the demo reads (watched on disk) reloads it: a picture in place, then the
// script with what it loads, and a jump to where the preview was. What is wrong with the demo (the
// findings holdfast-script --check lists, as the loaders meet them) is drawn on a panel over the
// frame, never in a frame written to a file; H hides and shows it, every reload shows it again.
//
// A jump loads the script again, steps every frame before it without drawing (signals, clocks,
// pattern steps, scene state) and draws the last 150 ms (with the music at each frame's time in the
// taps) as a player running at --fps frames per second would have (--exact-jumps draws every frame
// from the start), so the frame after a jump is the one holdfast-capture writes for that time. A
// script error on reload keeps the running demo and shows the error on the panel and on stderr.
//
// --rocket connects out to a GNU Rocket editor (tools/rocket): its tracks stand in for the
// effects' variables, its cursor and pause drive the preview, S (or the editor's save) writes its
// tracks into the script.
#include "base/Report.h"
#include "base/RunState.h"
#include "common/DemoLocation.h"
#include "demo/DemoState.h"
#include "host/DemoEngine.h"
#include "host/FrameLoop.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "platform/GL.h"
#include "platform/ReplacingFile.h"
#include "preview/Preview.h"
#include "preview/PreviewOptions.h"
#include "resources/PngWriter.h"
#include "sound/TesselMusic.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using namespace preview;

namespace {

// The frame shown after a jump to each time, as PNG files: checks and timings.
int writeSeekFrames(Preview& preview, const Options& options, const fs::path& outDir) {
    std::vector<unsigned char> rgb;
    double total = 0, worst = 0;
    size_t jumps = 0;
    bool saidEnd = false;
    for (uint32_t t : options.seekFrames) {
        // As in the capture tool: nothing is drawn after the end a demo gives itself (DEMO_LENGTH).
        if (demoLength > 0 && t > demoRunEnd()) {
            if (!saidEnd)
                fprintf(stderr, "holdfast-preview: the demo ends at %u ms; no frame after it is written\n",
                        demoRunEnd());
            saidEnd = true;
            continue;
        }
        ++jumps;
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
    fprintf(stderr, "holdfast-preview: %zu jumps, %.1f ms on average, %.1f ms at most\n", jumps,
            jumps ? total / jumps : 0.0, worst);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parseOptions(argc, argv, options)) return code < 0 ? 0 : code;
    // Each reload lets go of the pictures the last version loaded: their memory goes back.
    platform::returnLargeBlocksAtOnce();

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
    // What is wrong with the demo, heard from the loaders: on the panel over the frame, and once on
    // stderr. Until the preview is up, stderr alone.
    Preview* shown = nullptr;
    std::set<std::string> said;
    findings::Collector found(findings::Collector::Mode::Author, [&](const findings::Finding& f) {
        if (shown)
            shown->heard(f);
        else
            Preview::say(f, said);
    });
    LoadingSetup setup;
    setup.archiveName = demo.fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);
    if (musicEnabled && !tesselMusic.hasStream())
        fprintf(stderr, "holdfast-preview: the music %s could not be played; the demo runs silent\n",
                music.c_str());

    keepStartGLState();
    // From here on the demo's reports go on the panel: a message box would stop the preview.
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    Preview preview(engine, options.fps, options.jumpMode, edits, found);
    shown = &preview;
    std::unique_ptr<rocket::Link> rocketLink;
    if (options.useRocket && outDir.empty()) {
        rocketLink = std::make_unique<rocket::Link>(options.rocketHost, options.rocketPort, options.rowMs,
                                                    demo.fromDirectory ? kScriptName : "");
        preview.rocket = rocketLink.get();
        // Saves and what the link refuses go on the panel as well, where the author looks; the
        // connection's news is in the title already and leaves the frame alone.
        rocketLink->setMessageSink([&preview](const std::string& message) {
            for (const char* refusal :
                 {"nothing saved", "not applied", "past the demo's end", "closed the connection"})
                if (message.find(refusal) != std::string::npos) {
                    preview.overlay.post(Overlay::Kind::Rocket, "rocket: " + message, Overlay::Tone::Warning,
                                         10);
                    return;
                }
            if (message.compare(0, 6, "saved ") == 0)
                preview.overlay.post(Overlay::Kind::Rocket, "rocket: " + message, Overlay::Tone::Info, 5);
        });
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
        preview.notifyAuthor(Preview::Notice::Watch, why + ": edits show after R");
    preview.jump(options.at >= 0 ? options.at : demoStartTime);
    if (options.paused) preview.setPlaying(false);
    platform::discardPendingInput();
    while (!preview.quitRequested())
        preview.step();
    if (rocketLink && getenv("HOLDFAST_STATS")) rocketLink->printStats();
    engine.shutdown();
    return 0;
}
