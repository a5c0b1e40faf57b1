#include "capture/CaptureOptions.h"

#include "common/ToolOptions.h"

#include <algorithm>
#include <cstdio>

namespace capture {

namespace {

// A sheet holds each thumbnail in memory until it is written.
constexpr uint64_t kMaxSheetTiles = 1000;

const char* kUsage =
    "usage: holdfast-capture --data PATH [--password PW] [--music FILE] [--fps N] [--sparse]\n"
    "                        (--times T1,T2,... | --from A --to B --step S)\n"
    "                        [--out DIR] [--limit N] [--sheet FILE.png [--columns C]]\n"
    "       holdfast-capture --data PATH [...] --video FILE.mp4 [--fps N] --from A --to B\n";

const char* kHelp =
    "Renders a demo offline, as a player running at --fps frames per second shows it.\n"
    "\n"
    "  --data PATH       a data archive, or a directory holding data/...\n"
    "  --password PW     the archive's password (default: the player's)\n"
    "  --music FILE      the music (default: music.ogg beside PATH); decoded offline\n"
    "  --fps N           frames per second of the player stepped (default 60): frame k is drawn\n"
    "                    at DEMO_START + floor(k * 1000 / N) ms, every frame from the start; a\n"
    "                    requested time gets the last frame drawn at or before it\n"
    "  --sparse          step only the requested times (fast, but a frame then depends on the\n"
    "                    other times asked for)\n"
    "  --times T1,...    demo times in ms\n"
    "  --from A --to B --step S   every S ms from A to B (inclusive)\n"
    "  --out DIR         writes DIR/frame_%08u.png (the requested time in ms)\n"
    "  --limit N         stops after writing N frames\n"
    "  --sheet FILE.png  one picture of labelled thumbnails of the requested times\n"
    "  --columns C       thumbnails per row of the sheet (default 8)\n"
    "  --video FILE      streams every frame with a time in [A, B) to ffmpeg with the music from\n"
    "                    A (needs the ffmpeg program; HOLDFAST_FFMPEG names another)\n"
    "  --help, --version\n";

using tool::parseDemoTime;
using tool::parseDemoTimes;

} // namespace

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-capture: %s\n", problem);
    fputs(kUsage, stderr);
    return 2;
}

RequestedTimes::RequestedTimes(const Options& o) : options(o), next64(o.from) {}

uint64_t RequestedTimes::count() const {
    return options.range ? (static_cast<uint64_t>(options.to) - options.from) / options.step + 1
                         : options.times.size();
}

bool RequestedTimes::next(uint32_t& t) {
    if (options.range) {
        if (next64 > options.to) return false;
        t = static_cast<uint32_t>(next64);
        next64 += options.step;
        return true;
    }
    if (index >= options.times.size()) return false;
    t = options.times[index++];
    return true;
}

int parseOptions(int argc, char** argv, Options& o) {
    std::string from, to, step, timeList, fps, limit, columns;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            fputs("\n", stdout);
            fputs(kHelp, stdout);
            return -1;
        }
        if (arg == "--version") {
            printf("holdfast-capture %s\n", HOLDFAST_VERSION);
            return -1;
        }
        if (arg == "--data")
            ok = value(o.data);
        else if (arg == "--password")
            ok = value(o.password);
        else if (arg == "--music")
            ok = value(o.music);
        else if (arg == "--out")
            ok = value(o.out);
        else if (arg == "--times")
            ok = value(timeList);
        else if (arg == "--from")
            ok = value(from);
        else if (arg == "--to")
            ok = value(to);
        else if (arg == "--step")
            ok = value(step);
        else if (arg == "--fps")
            ok = value(fps);
        else if (arg == "--limit")
            ok = value(limit);
        else if (arg == "--sheet")
            ok = value(o.sheet);
        else if (arg == "--columns")
            ok = value(columns);
        else if (arg == "--video")
            ok = value(o.video);
        else if (arg == "--sparse")
            o.sparse = true;
        else
            return usage(("unknown argument " + arg).c_str());
        if (!ok) return usage((arg + " needs a value").c_str());
    }
    if (o.data.empty()) return usage("--data is required");
    uint32_t number = 0;
    if (!fps.empty()) {
        if (!parseDemoTime(fps, number) || number == 0 || number > 1000)
            return usage("--fps takes 1 to 1000");
        o.fps = static_cast<int>(number);
    }
    if (!limit.empty()) {
        if (!parseDemoTime(limit, number) || number == 0) return usage("--limit takes a count above 0");
        o.limit = number;
    }
    if (!columns.empty()) {
        if (!parseDemoTime(columns, number) || number == 0 || number > 100)
            return usage("--columns takes 1 to 100");
        o.columns = static_cast<int>(number);
    }

    if (!o.video.empty()) {
        if (!o.out.empty() || !o.sheet.empty() || !timeList.empty() || !step.empty() || o.sparse)
            return usage("--video takes --from and --to (and --fps), and no --out, --sheet, --times, --step "
                         "or --sparse");
        if (!parseDemoTime(from, o.from) || !parseDemoTime(to, o.to) || o.to <= o.from)
            return usage("--video needs --from A --to B with A < B (ms)");
        return 0;
    }
    if (o.out.empty() && o.sheet.empty()) return usage("--out or --sheet is required");
    const bool range = !from.empty() || !to.empty() || !step.empty();
    if (range == !timeList.empty()) return usage("give either --times or --from, --to and --step");
    if (!timeList.empty()) {
        if (!parseDemoTimes(timeList, o.times)) return usage("--times takes a comma-separated list of ms");
        // Frames are made in increasing time order.
        std::sort(o.times.begin(), o.times.end());
        o.times.erase(std::unique(o.times.begin(), o.times.end()), o.times.end());
    } else {
        if (!parseDemoTime(from, o.from) || !parseDemoTime(to, o.to) || !parseDemoTime(step, o.step) ||
            o.step == 0 || o.to < o.from)
            return usage("--from A --to B --step S needs A <= B and S > 0 (ms)");
        o.range = true;
    }
    if (!o.sheet.empty()) {
        const uint64_t wanted = std::min<uint64_t>(RequestedTimes(o).count(), o.limit ? o.limit : UINT64_MAX);
        if (wanted > kMaxSheetTiles)
            return usage("--sheet takes at most 1000 frames: use a larger --step or a --limit");
    }
    return 0;
}

} // namespace capture
