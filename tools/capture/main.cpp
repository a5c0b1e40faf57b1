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
#include "common/DemoLocation.h"
#include "common/ToolOptions.h"
#include "base/Report.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/FrameStep.h"
#include "host/FrameGrid.h"
#include "host/FrameLoop.h"
#include "host/LoadingSequence.h"
#include "host/Player.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "platform/ReplacingFile.h"
#include "resources/ContactSheet.h"
#include "resources/PngWriter.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
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

struct Options {
    std::string data;
    std::string password = "tolvrask";
    std::string music;
    std::string out;
    std::string sheet;
    std::string video;
    std::vector<uint32_t> times; // an explicit list, sorted
    bool range = false;
    uint32_t from = 0, to = 0, step = 0;
    int fps = 60;
    bool sparse = false;
    uint64_t limit = 0; // 0: no limit
    int columns = 8;
};

int usage(const char* problem) {
    if (problem) fprintf(stderr, "holdfast-capture: %s\n", problem);
    fputs(kUsage, stderr);
    return 2;
}

using tool::parseDemoTime;
using tool::parseDemoTimes;

// The requested times in increasing order, made one at a time: a range of two billion times
// costs no memory.
class RequestedTimes {
  public:
    explicit RequestedTimes(const Options& o) : options(o), next64(o.from) {}
    uint64_t count() const {
        return options.range ? (static_cast<uint64_t>(options.to) - options.from) / options.step + 1
                             : options.times.size();
    }
    bool next(uint32_t& t) {
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

  private:
    const Options& options;
    uint64_t next64;
    size_t index = 0;
};

// 0 when the options are complete, -1 after --help or --version, else the exit code of the
// usage message already shown.
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

// The frame as it was drawn, read back once however many requested times show it.
class FrameReader {
  public:
    void invalidate() { valid = false; }
    const unsigned char* pixels() {
        if (!valid) {
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
            valid = true;
        }
        return rgb.data();
    }

  private:
    std::vector<unsigned char> rgb = std::vector<unsigned char>(static_cast<size_t>(kWidth) * kHeight * 3);
    bool valid = false;
};

// One frame step as the player's loop makes it, with the music the taps would hear.
void stepFrame(int t) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    sound::renderOfflineAt(t);
    drawFrame(t);
}

// ---- outputs ----
// Outputs replace regular files only: a device node, FIFO, symbolic link or folder in the way is
// left alone (as root, renaming over /dev/stdout would replace it for the whole machine).
bool replaceable(const fs::path& path) {
    return platform::replaceableOutput(path.c_str());
}

bool refuseUnlessReplaceable(const fs::path& path) {
    if (replaceable(path)) return false;
    fprintf(stderr, "holdfast-capture: will not write %s: it exists and is not a regular file\n",
            path.c_str());
    return true;
}

// What a signal must undo: the temporary files being written and the ffmpeg child. Plain
// buffers, so that the handler touches nothing that is not async-signal-safe.
volatile sig_atomic_t ffmpegChild = 0;
char partialPath[2][PATH_MAX];
volatile sig_atomic_t partialSet[2] = {0, 0};

// A temporary file for the length of its life: removed when a signal ends the run meanwhile.
class PartialFile {
  public:
    PartialFile(int slot, const fs::path& path) : slot(slot) {
        snprintf(partialPath[slot], sizeof partialPath[slot], "%s", path.c_str());
        partialSet[slot] = 1;
    }
    ~PartialFile() { partialSet[slot] = 0; }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

  private:
    int slot;
};

// SIGTERM, SIGINT, SIGHUP: stop ffmpeg, remove what is half written, then end as the signal does.
void onStopSignal(int sig) {
    if (ffmpegChild > 0) {
        kill(static_cast<pid_t>(ffmpegChild), SIGKILL);
        waitpid(static_cast<pid_t>(ffmpegChild), nullptr, 0);
    }
    for (int i = 0; i < 2; ++i)
        if (partialSet[i]) unlink(partialPath[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

void handleStopSignals() {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started the run (nohup, a background job) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

// The temporary name of `path` in its folder, keeping its ending (ffmpeg picks the format by it).
fs::path temporaryFor(const fs::path& path) {
    return path.parent_path() / ("." + path.stem().string() + "." + std::to_string(getpid()) + ".part" +
                                 path.extension().string());
}

// A file appears complete or not at all: written under a temporary name, then renamed.
bool writeFramePng(const fs::path& path, const unsigned char* rgb, int width, int height, bool bottomUp) {
    const fs::path temporary = temporaryFor(path);
    if (!replaceable(path) || !replaceable(temporary)) return false;
    PartialFile partial(0, temporary);
    // Frames are many and large: fast compression matters more than size here.
    if (!writeRgbPng(temporary.string(), width, height, rgb, bottomUp, true)) {
        std::error_code ec;
        fs::remove(temporary, ec);
        return false;
    }
    if (!replaceable(path) || rename(temporary.c_str(), path.c_str()) != 0) {
        std::error_code ec;
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

// Prints where a long run stands, at most a few times a second.
class Progress {
  public:
    explicit Progress(uint64_t total) : total(total) {}
    void show(uint64_t written, int64_t t, bool force = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last < std::chrono::milliseconds(250)) return;
        last = now;
        fprintf(stderr, "\rholdfast-capture: frame %llu/%llu (t = %lld ms)",
                static_cast<unsigned long long>(written), static_cast<unsigned long long>(total),
                static_cast<long long>(t));
        fflush(stderr);
    }

  private:
    uint64_t total;
    std::chrono::steady_clock::time_point last{};
};

// The ffmpeg program: HOLDFAST_FFMPEG if set, else ffmpeg on the PATH; empty if not found.
std::string findFfmpeg() {
    if (const char* named = getenv("HOLDFAST_FFMPEG"); named && *named)
        return access(named, X_OK) == 0 ? std::string(named) : std::string();
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/ffmpeg";
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return std::string();
}

// ffmpeg reading raw frames on its standard input.
class VideoPipe {
  public:
    bool start(const std::string& ffmpeg, const std::string& out, int fps, double seconds, double musicStart,
               const std::string& music) {
        char rate[16], start[32], duration[32];
        snprintf(rate, sizeof rate, "%d", fps);
        snprintf(start, sizeof start, "%.3f", musicStart);
        snprintf(duration, sizeof duration, "%.6f", seconds);
        std::vector<std::string> args = {ffmpeg,    "-hide_banner", "-loglevel", "error", "-y",
                                         "-f",      "rawvideo",     "-pix_fmt",  "rgb24", "-video_size",
                                         "800x600", "-framerate",   rate,        "-i",    "pipe:0"};
        if (!music.empty())
            args.insert(args.end(), {"-ss", start, "-i", music, "-map", "0:v:0", "-map", "1:a:0", "-c:a",
                                     "aac", "-b:a", "192k"});
        // glReadPixels gives the bottom row first.
        args.insert(args.end(), {"-vf", "vflip", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
                                 "-pix_fmt", "yuv420p", "-t", duration, "-movflags", "+faststart", out});
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ffmpegChild = pid;
        close(fds[0]);
        fd = fds[1];
        return true;
    }
    bool write(const unsigned char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    // Closes the pipe and waits for ffmpeg; true when it finished without error.
    bool finish() {
        if (fd >= 0) close(fd);
        fd = -1;
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, 0) != pid) return false;
        ffmpegChild = 0;
        pid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

  private:
    pid_t pid = -1;
    int fd = -1;
};

void printSummary(const char* what, uint64_t written, uint64_t stepped, double seconds) {
    fprintf(stderr,
            "\nholdfast-capture: %llu %s in %.2f s, %.1f frames per second (%llu frames stepped, %.1f per "
            "second)\n",
            static_cast<unsigned long long>(written), what, seconds, seconds > 0 ? written / seconds : 0.0,
            static_cast<unsigned long long>(stepped), seconds > 0 ? stepped / seconds : 0.0);
    // How often the Spectrum's beat test fired in the frames stepped, and when (demo ms).
    const std::vector<int>& beats = spectrumTap::beatTimes();
    fprintf(stderr, "holdfast-capture: beats=%zu", beats.size());
    for (size_t i = 0; i < beats.size(); ++i)
        fprintf(stderr, "%s%d", i ? "," : " at ", beats[i]);
    fprintf(stderr, "\n");
}

} // namespace

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
        fprintf(stderr, "holdfast-capture: no music at %s, rendering silently\n", music.c_str());

    const std::string archive = demo.path.string();
    LoadingSetup setup;
    setup.archiveName = demo.fromDirectory ? nullptr : archive.c_str();
    setup.archivePassword = options.password.c_str();
    loadingSequence(setup);
    bool haveMusic = musicEnabled && musicPresent;
    if (haveMusic && !tesselMusic.hasStream()) {
        fprintf(stderr, "holdfast-capture: the music %s could not be decoded; the demo runs silent\n",
                music.c_str());
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
                fprintf(stderr, "\nholdfast-capture: ffmpeg stopped taking frames\n");
                video.finish();
                removePart();
                return 1;
            }
            ++written;
        }
        progress.show(written, grid.timeOf(end - 1), true);
        if (!video.finish()) {
            fprintf(stderr, "\nholdfast-capture: ffmpeg could not make %s\n", videoPath.c_str());
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
            fprintf(stderr, "\nholdfast-capture: the demo ends at %u ms; no frame after it is written\n",
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
                fprintf(stderr, "\nholdfast-capture: cannot write %s\n", (outDir / name).c_str());
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
            fprintf(stderr, "\nholdfast-capture: cannot write %s\n", sheetPath.c_str());
            return 1;
        }
    }
    printSummary("frames", written, stepped, elapsed());
    return 0;
}
