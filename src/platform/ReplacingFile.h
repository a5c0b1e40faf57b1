// Writing an output so that it replaces only a regular file, and only whole. The data goes to a
// fresh temporary file beside the target and is renamed over it at the end; a device node, FIFO,
// symbolic link or folder under the target's name is left alone (opening a FIFO for writing would
// wait for a reader forever, and renaming over a device or link replaces it for everyone).
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// True when nothing is at `path` or a regular file is; a symbolic link is not followed.
inline bool replaceableOutput(const char* path) {
    struct stat st;
    return ::lstat(path, &st) != 0 || S_ISREG(st.st_mode);
}

class ReplacingFile {
  public:
    explicit ReplacingFile(std::string target) : target_(std::move(target)) {}
    ~ReplacingFile() { abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Refuses a target that exists and is not a regular file, else makes the temporary file.
    bool begin(std::string* why) {
        if (!replaceableOutput(target_.c_str())) {
            if (why) *why = "it exists and is not a regular file";
            return false;
        }
        std::string name = target_ + ".tmp-XXXXXX";
        fd_ = ::mkstemp(&name[0]);
        if (fd_ < 0) {
            if (why) *why = strerror(errno);
            return false;
        }
        temporary_ = name;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask); // mkstemp makes it private; outputs are ordinary files
        return true;
    }

    // The temporary file, for writers that open by name.
    const std::string& temporary() const { return temporary_; }

    // The temporary file as a stream, for writers that take one.
    FILE* stream() {
        if (!stream_ && fd_ >= 0) {
            stream_ = ::fdopen(fd_, "wb");
            if (stream_) fd_ = -1;
        }
        return stream_;
    }

    // Closes the temporary file and renames it over the target, if that is still replaceable.
    bool commit(std::string* why) {
        bool ok = true;
        if (stream_) ok = std::fclose(stream_) == 0;
        stream_ = nullptr;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!ok) {
            if (why) *why = strerror(errno);
        } else if (!replaceableOutput(target_.c_str())) {
            if (why) *why = "it exists and is not a regular file";
            ok = false;
        } else if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
            if (why) *why = strerror(errno);
            ok = false;
        } else {
            temporary_.clear();
        }
        abandon();
        return ok;
    }

    // Removes the temporary file (done by the destructor when commit was not reached).
    void abandon() {
        if (stream_) std::fclose(stream_);
        stream_ = nullptr;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        temporary_.clear();
    }

  private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    FILE* stream_ = nullptr;
};

} // namespace platform
