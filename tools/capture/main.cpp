// holdfast-capture: renders a demo offline and writes frames as PNG files, a contact sheet or a
// video with its music.
//
// By default it shows what a player shows: every frame a player running at --fps frames per
// second would draw is stepped from the demo's start (frame k at DEMO_START + floor(k * 1000 /
// fps) ms), so effects that remember earlier frames (pattern steps, signals, clocks) come out
// the same whatever else was asked for. A requested time between two frame times gets the frame
// on screen at that moment: the last one drawn at or before it. --sparse steps only the
// requested times instead (quick, but a frame then depends on the other times asked for).
//
// PATH is a data archive (opened with PW, by default the player's password) or a directory that
// holds data/... (read from disk). The music (default: music.ogg beside PATH) is decoded
// offline, so the spectrum and oscilloscope taps see what would be playing at each frame; without
// music they hold silence, as in the player without music.ogg.
// Fatal errors in the demo end with the player's messages and exit code 1; bad arguments with 2.
#include "base/Report.h"
#include "base/RunState.h"
#include "capture/CaptureOptions.h"
#include "capture/Frames.h"
#include "capture/Outputs.h"
#include "capture/VideoPipe.h"
#include "common/DemoLocation.h"
#include "common/Printable.h"
#include "demo/DemoState.h"
#include "demo/FrameStep.h"
#include "host/Findings.h"
#include "host/FrameGrid.h"
#include "host/FrameLoop.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/ContactSheet.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using namespace capture;

int main(int argc, char** argv) {
    // A batch tool: reports go to stderr and never wait for someone to close a box.
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    Options options;
    if (int code = parseOptions(argc, argv, options)) return code < 0 ? 0 : code;

    std::error_code ec;
    tool::DemoData demo;
    if (!demo.find(options.data))
        return usage((demo.path.string() + " is neither a data archive nor a directory").c_str());
    const fs::path outDir = options.out.empty() ? fs::path() : tool::absolutePath(options.out);
    if (!outDir.empty() && !tool::makeOutputDirectory("holdfast-capture", outDir)) return 2;
    const fs::path sheetPath = options.sheet.empty() ? fs::path() : tool::absolutePath(options.sheet);
    const fs::path videoPath = options.video.empty() ? fs::path() : tool::absolutePath(options.video);
    if ((!sheetPath.empty() && refuseUnlessReplaceable(sheetPath)) ||
        (!videoPath.empty() && refuseUnlessReplaceable(videoPath)))
        return 2;
    handleStopSignals();
    std::string ffmpeg;
    if (!videoPath.empty()) {
        ffmpeg = findFfmpeg();
        if (ffmpeg.empty()) {
            fprintf(stderr, "holdfast-capture: --video needs the ffmpeg program (Debian package ffmpeg), "
                            "which was not found\n");
            return 1;
        }
    }
    const fs::path music = demo.music(options.music);
    if (!demo.enter("holdfast-capture")) return 2;

    screenWidth = kWidth;
    screenHeight = kHeight;
    fullscreenRequested = false;
    if (!platform::createHiddenGLContext(kWidth, kHeight))
        reportError(__FILE__, __LINE__, "Could not init GLEW", true);
    checkGLRequirements();

    // The sound system runs offline either way, as the player's runs even without a sound device:
    // without music the taps hold silence, as in the player without music.ogg.
    sound::setOfflineMode(true);
    musicFileName = music.string();
    const bool musicPresent = fs::is_regular_file(music, ec);
    if (!musicPresent)
        fprintf(stderr, "holdfast-capture: no music at %s, rendering silently\n",
                tool::printable(music.string()).c_str());

    // What is wrong with the demo, once each with its script line, as the player says it.
    findings::Collector findings(findings::Collector::Mode::Player, [](const findings::Finding& f) {
        endProgressLine();
        fprintf(stderr, "holdfast-capture: %s\n", findings::format(f).c_str());
    });
    const std::string archive = demo.path.string();
    LoadingSetup setup;
    setup.archiveName = demo.fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);
    bool haveMusic = musicEnabled && musicPresent;
    if (haveMusic && !tesselMusic.hasStream()) {
        fprintf(stderr, "holdfast-capture: the music %s could not be decoded; the demo runs silent\n",
                tool::printable(music.string()).c_str());
        haveMusic = false;
    }

    const FrameGrid grid(demoStartTime, options.fps);
    FrameReader frame;
    uint64_t written = 0, stepped = 0;
    int64_t lastStepped = -1; // the frame index stepped last
    // Steps every frame up to and including frame k.
    auto stepTo = [&](int64_t k, Progress& progress) {
        while (lastStepped < k) {
            const int64_t t = grid.timeOf(++lastStepped);
            stepFrame(static_cast<int>(t));
            frame.invalidate();
            ++stepped;
            progress.show(written, t);
        }
    };
    const auto begin = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };

    if (!videoPath.empty()) {
        const int64_t first = grid.firstFrameFrom(options.from);
        int64_t end = grid.firstFrameFrom(options.to); // the first frame not in the video
        // Nothing is drawn after the end a demo gives itself (DEMO_LENGTH); without one any time
        // can be drawn, as always.
        const int64_t afterDemo = grid.firstFrameFrom(static_cast<int64_t>(demoRunEnd()) + 1);
        if (demoLength > 0 && end > afterDemo) {
            end = afterDemo;
            fprintf(stderr, "holdfast-capture: the demo ends at %u ms; no frame after it is written\n",
                    demoRunEnd());
        }
        if (end <= first) {
            fprintf(stderr, "holdfast-capture: no frame falls in [%u, %u) at %d frames per second\n",
                    options.from, options.to, options.fps);
            return 2;
        }
        const uint64_t count = static_cast<uint64_t>(end - first);
        const double musicStart = static_cast<double>(grid.timeOf(first)) / 1000.0;
        VideoPipe video;
        signal(SIGPIPE, SIG_IGN);
        // ffmpeg writes under a temporary name; the video takes its name once it is complete.
        const fs::path videoPart = temporaryFor(videoPath);
        if (refuseUnlessReplaceable(videoPart)) return 1;
        PartialFile partial(1, videoPart);
        auto removePart = [&] {
            std::error_code removed;
            fs::remove(videoPart, removed);
        };
        if (!video.start(ffmpeg, videoPart.string(), options.fps, static_cast<double>(count) / options.fps,
                         std::max(0.0, musicStart), haveMusic ? music.string() : std::string())) {
            fprintf(stderr, "holdfast-capture: cannot start %s\n", ffmpeg.c_str());
            return 1;
        }
        Progress progress(count);
        for (int64_t k = first; k < end; ++k) {
            stepTo(k, progress);
            // Rows bottom-up: ffmpeg flips them.
            if (!video.write(frame.pixels(), static_cast<size_t>(kWidth) * kHeight * 3)) {
                endProgressLine();
                fprintf(stderr, "holdfast-capture: ffmpeg stopped taking frames\n");
                video.finish();
                removePart();
                return 1;
            }
            ++written;
        }
        progress.show(written, grid.timeOf(end - 1), true);
        if (!video.finish()) {
            endProgressLine();
            fprintf(stderr, "holdfast-capture: ffmpeg could not make %s\n", videoPath.c_str());
            removePart();
            return 1;
        }
        if (refuseUnlessReplaceable(videoPath) || rename(videoPart.c_str(), videoPath.c_str()) != 0) {
            fprintf(stderr, "holdfast-capture: cannot write %s\n", videoPath.c_str());
            removePart();
            return 1;
        }
        printSummary("video frames", written, stepped, elapsed());
        return 0;
    }

    RequestedTimes times(options);
    const uint64_t total = options.limit ? std::min<uint64_t>(options.limit, times.count()) : times.count();
    ContactSheet* sheet =
        sheetPath.empty() ? nullptr : new ContactSheet(static_cast<size_t>(total), options.columns);
    Progress progress(total);
    char name[32];
    uint32_t t;
    while (written < total && times.next(t)) {
        if (demoLength > 0 && t > demoRunEnd()) { // the times come in order: none later is drawn
            endProgressLine();
            fprintf(stderr, "holdfast-capture: the demo ends at %u ms; no frame after it is written\n",
                    demoRunEnd());
            break;
        }
        if (options.sparse) {
            stepFrame(static_cast<int>(t));
            frame.invalidate();
            ++stepped;
        } else {
            stepTo(grid.frameAt(t), progress);
        }
        if (!outDir.empty()) {
            snprintf(name, sizeof name, "frame_%08u.png", t);
            if (!writeFramePng(outDir / name, frame.pixels(), kWidth, kHeight, true)) {
                endProgressLine();
                fprintf(stderr, "holdfast-capture: cannot write %s\n", (outDir / name).c_str());
                return 1;
            }
        }
        if (sheet) sheet->addTile(frame.pixels(), kWidth, kHeight, true, timeLabel(t));
        ++written;
        progress.show(written, t, written == total);
    }
    if (sheet) {
        const bool ok =
            writeFramePng(sheetPath, sheet->pixels().data(), sheet->width(), sheet->height(), false);
        delete sheet;
        if (!ok) {
            endProgressLine();
            fprintf(stderr, "holdfast-capture: cannot write %s\n", sheetPath.c_str());
            return 1;
        }
    }
    printSummary("frames", written, stepped, elapsed());
    return 0;
}
