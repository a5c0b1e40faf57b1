#include "capture/Outputs.h"

#include "platform/ReplacingFile.h"
#include "resources/PngWriter.h"

#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <system_error>

namespace fs = std::filesystem;

namespace capture {

namespace {

// What a signal must undo: the temporary files being written and the ffmpeg child. Plain
// buffers, so that the handler touches nothing that is not async-signal-safe.
volatile sig_atomic_t ffmpegChild = 0;
char partialPath[2][PATH_MAX];
volatile sig_atomic_t partialSet[2] = {0, 0};

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

} // namespace

bool replaceable(const fs::path& path) {
    return platform::replaceableOutput(path.c_str());
}

bool refuseUnlessReplaceable(const fs::path& path) {
    if (replaceable(path)) return false;
    fprintf(stderr, "holdfast-capture: will not write %s: it exists and is not a regular file\n",
            path.c_str());
    return true;
}
PartialFile::PartialFile(int slot, const fs::path& path) : slot(slot) {
    snprintf(partialPath[slot], sizeof partialPath[slot], "%s", path.c_str());
    partialSet[slot] = 1;
}

PartialFile::~PartialFile() {
    partialSet[slot] = 0;
}

void noteFfmpegChild(pid_t pid) {
    ffmpegChild = pid;
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

} // namespace capture
