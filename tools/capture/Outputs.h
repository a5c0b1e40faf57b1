// holdfast-capture's outputs: files that appear complete or not at all, and a run ended by a
// signal that leaves nothing half written behind (nor ffmpeg running).
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace capture {

// Outputs replace regular files only: a device node, FIFO, symbolic link or folder in the way is
// left alone (as root, renaming over /dev/stdout would replace it for the whole machine).
bool replaceable(const std::filesystem::path& path);
// True, after saying so on stderr, when `path` holds something an output must not replace.
bool refuseUnlessReplaceable(const std::filesystem::path& path);

// A temporary file for the length of its life: removed when a signal ends the run meanwhile.
// Slot 0 is the frame being written, slot 1 the video.
class PartialFile {
  public:
    PartialFile(int slot, const std::filesystem::path& path);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

  private:
    int slot;
};

// The ffmpeg child a signal must stop (0: none).
void noteFfmpegChild(pid_t pid);
// SIGTERM, SIGINT, SIGHUP: stop ffmpeg, remove what is half written, then end as the signal does.
void handleStopSignals();

// The temporary name of `path` in its folder, keeping its ending (ffmpeg picks the format by it).
std::filesystem::path temporaryFor(const std::filesystem::path& path);
// A file appears complete or not at all: written under a temporary name, then renamed.
bool writeFramePng(const std::filesystem::path& path, const unsigned char* rgb, int width, int height,
                   bool bottomUp);

} // namespace capture
