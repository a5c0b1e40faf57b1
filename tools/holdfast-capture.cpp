// holdfast-capture: renders a demo offline, frame by frame at chosen demo times, to PNG files.
//   holdfast-capture --data PATH [--password PW] [--music FILE]
//                    (--times T1,T2,... | --from A --to B --step S) --out DIR
//
// PATH is a data archive (opened with PW, by default the player's password) or a directory that
// holds data/... (read from disk). The demo is loaded exactly as the player loads it; then, for
// each demo time t in increasing order, the frame step runs at t and the 800 x 600 frame is
// written as DIR/frame_%08u.png (t in ms). The music (default: music.ogg beside PATH) is decoded
// offline, so the spectrum and oscilloscope taps see what would be playing at t; without music
// they hold silence, as in the player without music.ogg. Fatal errors end with the player's
// messages and exit code 1; bad arguments with exit code 2.
#include "demo/FrameStep.h"
#include "host/HostState.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "host/Report.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/PngWriter.h"
#include "sound/SoundSystem.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

struct Options {
    std::string data;
    std::string password = "tolvrask";
    std::string music;
    std::string out;
    std::vector<uint32_t> times;
};

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-capture: %s\n", problem);
    fprintf(stderr, "usage: holdfast-capture --data PATH [--password PW] [--music FILE]\n"
                    "                        (--times T1,T2,... | --from A --to B --step S) --out DIR\n"
                    "  PATH: a data archive or a directory holding data/...; times in ms of demo time\n");
    return 2;
}

// A demo time: a decimal count of milliseconds; the frame step takes it as a signed 32-bit int.
bool parseTime(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0x7fffffffull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool parseTimes(const std::string& list, std::vector<uint32_t>& times) {
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint32_t t;
        if (!parseTime(item, t)) return false;
        times.push_back(t);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !times.empty();
}

// 0 when the options are complete, else the exit code of the usage message already shown.
int parseOptions(int argc, char** argv, Options& o) {
    std::string from, to, step, timeList;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--data") ok = value(o.data);
        else if (arg == "--password") ok = value(o.password);
        else if (arg == "--music") ok = value(o.music);
        else if (arg == "--out") ok = value(o.out);
        else if (arg == "--times") ok = value(timeList);
        else if (arg == "--from") ok = value(from);
        else if (arg == "--to") ok = value(to);
        else if (arg == "--step") ok = value(step);
        else return usage(("unknown argument " + arg).c_str());
        if (!ok) return usage((arg + " needs a value").c_str());
    }
    if (o.data.empty()) return usage("--data is required");
    if (o.out.empty()) return usage("--out is required");
    const bool range = !from.empty() || !to.empty() || !step.empty();
    if (range == !timeList.empty()) return usage("give either --times or --from, --to and --step");
    if (!timeList.empty()) {
        if (!parseTimes(timeList, o.times)) return usage("--times takes a comma-separated list of ms");
    } else {
        uint32_t a, b, s;
        if (!parseTime(from, a) || !parseTime(to, b) || !parseTime(step, s) || s == 0 || b < a)
            return usage("--from A --to B --step S needs A <= B and S > 0 (ms)");
        for (uint64_t t = a; t <= b; t += s) o.times.push_back(static_cast<uint32_t>(t));
    }
    // The frame step delivers signals as time moves on, so frames are made in increasing order.
    std::sort(o.times.begin(), o.times.end());
    o.times.erase(std::unique(o.times.begin(), o.times.end()), o.times.end());
    return 0;
}

fs::path absolute(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::absolute(path, ec);
    return ec ? fs::path(path) : p.lexically_normal();
}

} // namespace

int main(int argc, char** argv) {
    // A batch tool: reports go to stderr and never wait for someone to close a box.
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    Options options;
    if (int code = parseOptions(argc, argv, options)) return code;

    std::error_code ec;
    const fs::path data = absolute(options.data);
    const fs::path outDir = absolute(options.out);
    const bool fromDirectory = fs::is_directory(data, ec);
    if (!fromDirectory && !fs::is_regular_file(data, ec)) {
        return usage((data.string() + " is neither a data archive nor a directory").c_str());
    }
    fs::create_directories(outDir, ec);
    if (!fs::is_directory(outDir, ec)) {
        fprintf(stderr, "holdfast-capture: cannot make the output directory %s\n", outDir.c_str());
        return 2;
    }
    const fs::path music =
        options.music.empty() ? (fromDirectory ? data : data.parent_path()) / "music.ogg" : absolute(options.music);

    // Data files are named relative to the demo's folder, as in the player's working directory.
    if (fromDirectory && chdir(data.c_str()) != 0) {
        fprintf(stderr, "holdfast-capture: cannot enter %s\n", data.c_str());
        return 2;
    }

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
    if (!fs::is_regular_file(music, ec))
        fprintf(stderr, "holdfast-capture: no music at %s, rendering silently\n", music.c_str());

    const std::string archive = data.string();
    LoadingSetup setup;
    setup.archiveName = fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);

    const auto begin = std::chrono::steady_clock::now();
    std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    char name[32];
    size_t done = 0;
    for (uint32_t t : options.times) {
        const int demoTime = static_cast<int>(t);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        sound::renderOfflineAt(demoTime);
        renderFrame(demoTime);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        snprintf(name, sizeof name, "frame_%08u.png", t);
        // Frames are many and large: fast compression matters more than size here.
        if (!writeRgbPng((outDir / name).string(), kWidth, kHeight, rgb.data(), true, true)) {
            fprintf(stderr, "\nholdfast-capture: cannot write %s\n", (outDir / name).c_str());
            return 1;
        }
        ++done;
        if (done == options.times.size() || done % 10 == 0)
            fprintf(stderr, "\rholdfast-capture: frame %zu/%zu (t = %u ms)", done, options.times.size(), t);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    fprintf(stderr, "\nholdfast-capture: %zu frames in %.2f s, %.1f frames per second\n", done, seconds,
            seconds > 0 ? done / seconds : 0.0);
    return 0;
}
