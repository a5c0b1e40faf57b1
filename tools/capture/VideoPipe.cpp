#include "capture/VideoPipe.h"

#include "capture/Outputs.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace capture {

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

bool VideoPipe::start(const std::string& ffmpeg, const std::string& out, int fps, double seconds,
                      double musicStart, const std::string& music) {
    char rate[16], start[32], duration[32];
    snprintf(rate, sizeof rate, "%d", fps);
    snprintf(start, sizeof start, "%.3f", musicStart);
    snprintf(duration, sizeof duration, "%.6f", seconds);
    std::vector<std::string> args = {ffmpeg,    "-hide_banner", "-loglevel", "error", "-y",
                                     "-f",      "rawvideo",     "-pix_fmt",  "rgb24", "-video_size",
                                     "800x600", "-framerate",   rate,        "-i",    "pipe:0"};
    if (!music.empty())
        args.insert(args.end(), {"-ss", start, "-i", music, "-map", "0:v:0", "-map", "1:a:0", "-c:a", "aac",
                                 "-b:a", "192k"});
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
    noteFfmpegChild(pid);
    close(fds[0]);
    fd = fds[1];
    return true;
}

bool VideoPipe::write(const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool VideoPipe::finish() {
    if (fd >= 0) close(fd);
    fd = -1;
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return false;
    noteFfmpegChild(0);
    pid = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace capture
