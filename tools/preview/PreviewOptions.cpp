#include "preview/PreviewOptions.h"

#include "common/ToolOptions.h"

#include <cstdio>

namespace preview {

namespace {

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
    "      [ and ] loop start and end, L loop on/off, R reload, H hide/show the panel of\n"
    "      findings, S save the editor's tracks into the script (--rocket), Escape quit.\n";

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

} // namespace

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-preview: %s\n", problem);
    fputs(kUsage, stderr);
    return 2;
}

using tool::parseDemoTime;

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

} // namespace preview
