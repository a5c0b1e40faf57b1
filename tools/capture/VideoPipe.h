// holdfast-capture's video: ffmpeg reading raw frames on its standard input.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace capture {

// The ffmpeg program: HOLDFAST_FFMPEG if set, else ffmpeg on the PATH; empty if not found.
std::string findFfmpeg();

class VideoPipe {
  public:
    bool start(const std::string& ffmpeg, const std::string& out, int fps, double seconds, double musicStart,
               const std::string& music);
    bool write(const unsigned char* data, size_t size);
    // Closes the pipe and waits for ffmpeg; true when it finished without error.
    bool finish();

  private:
    pid_t pid = -1;
    int fd = -1;
};

} // namespace capture
