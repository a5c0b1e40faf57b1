// The fuzz input as a file the data-file layer can open: an in-memory file (memfd) reached by
// its /proc path, rewritten for every input, so no disk is involved.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

inline const char* fuzzInputPath(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("holdfast-fuzz-input", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) abort();
        done += static_cast<size_t>(n);
    }
    return path.c_str();
}
