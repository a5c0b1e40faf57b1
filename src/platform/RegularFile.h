// Opening a file for reading only when it is a regular file. A FIFO (or a device) under a data
// file's name would make a plain open or fopen wait forever for a writer; opened non-blocking
// and checked with fstat, it is refused at once instead.
#pragma once

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// A read-only descriptor (blocking mode restored), or -1 with `why` saying what went wrong and
// errno set: EISDIR for a directory, ENODEV for any other file that is not a regular one, else
// the error of the open. `size` gets the file's length when not null.
inline int openRegularFile(const char* path, std::string* why, off_t* size = nullptr) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (why) *why = strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        if (why) *why = strerror(error);
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        const bool directory = S_ISDIR(st.st_mode);
        if (why) *why = directory ? "a directory, not a file" : "not a regular file (a FIFO or device)";
        ::close(fd);
        errno = directory ? EISDIR : ENODEV;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (size) *size = st.st_size;
    return fd;
}

} // namespace platform
