#include "sound/MusicFile.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace sound {

namespace {

// How far past something that is not an Ogg page the next page is looked for: a damaged stretch
// in the music is resumed after, what lies beyond this is padding.
constexpr int64_t kResyncWindow = 1 << 20;

bool readAt(int fd, void* destination, size_t bytes, int64_t offset) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (bytes > 0) {
        const ssize_t n = ::pread(fd, out, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        bytes -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// The first "OggS" in [from, to), or -1.
int64_t findPage(int fd, int64_t from, int64_t to) {
    std::vector<unsigned char> buffer(64 * 1024 + 3);
    for (int64_t at = from; at < to; at += 64 * 1024) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(to - at, 64 * 1024) + 3);
        const ssize_t n = ::pread(fd, buffer.data(), want, static_cast<off_t>(at));
        if (n < 4) return -1;
        for (ssize_t i = 0; i + 3 < n; ++i)
            if (buffer[i] == 'O' && memcmp(&buffer[i], "OggS", 4) == 0) return at + i;
    }
    return -1;
}

// Where the Ogg data ends: page after page by the lengths in their headers, from the start.
int64_t oggEnd(int fd, int64_t size) {
    int64_t at = 0;
    unsigned char head[27 + 255];
    while (at < size) {
        if (size - at >= 27 && readAt(fd, head, 27, at) && memcmp(head, "OggS", 4) == 0 &&
            readAt(fd, head + 27, head[26], at + 27)) {
            int64_t next = at + 27 + head[26];
            for (int i = 0; i < head[26]; ++i)
                next += head[27 + i];
            if (next > size) return size; // cut short: the decoder says what it makes of it
            at = next;
            continue;
        }
        const int64_t resumed = findPage(fd, at + 1, std::min(size, at + kResyncWindow));
        if (resumed < 0) return at;
        at = resumed;
    }
    return size;
}

struct Source {
    int fd = -1;
    int64_t position = 0;
    int64_t end = 0;
};

size_t sourceRead(void* destination, size_t size, size_t count, void* data) {
    Source* s = static_cast<Source*>(data);
    if (size == 0 || s->position >= s->end) return 0;
    size_t bytes = size * count;
    if (static_cast<int64_t>(bytes) > s->end - s->position) bytes = static_cast<size_t>(s->end - s->position);
    ssize_t n;
    do
        n = ::pread(s->fd, destination, bytes, static_cast<off_t>(s->position));
    while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    s->position += n;
    return static_cast<size_t>(n) / size;
}

int sourceSeek(void* data, ogg_int64_t offset, int whence) {
    Source* s = static_cast<Source*>(data);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->position : s->end;
    if (base + offset < 0) return -1;
    s->position = base + offset;
    return 0;
}

int sourceClose(void* data) {
    Source* s = static_cast<Source*>(data);
    ::close(s->fd);
    delete s;
    return 0;
}

long sourceTell(void* data) {
    return static_cast<long>(static_cast<Source*>(data)->position);
}

} // namespace

bool openMusicFile(const char* fileName, OggVorbis_File* file, std::string* why) {
    std::string reason;
    off_t size = 0;
    const int fd = platform::openRegularFile(fileName, &reason, &size);
    if (fd < 0) {
        const int error = errno;
        if (why) *why = reason;
        errno = error;
        return false;
    }
    Source* source = new Source;
    source->fd = fd;
    source->end = oggEnd(fd, size);
    const ov_callbacks callbacks = {sourceRead, sourceSeek, sourceClose, sourceTell};
    if (ov_open_callbacks(source, file, nullptr, 0, callbacks) != 0) {
        sourceClose(source); // only a successful open hands the source to vorbisfile
        if (why) *why = "not an Ogg Vorbis file";
        errno = EINVAL;
        return false;
    }
    return true;
}

int musicLengthMs(const char* fileName, std::string* why) {
    OggVorbis_File file;
    if (!openMusicFile(fileName, &file, why)) return 0;
    const double seconds = ov_time_total(&file, -1);
    ov_clear(&file);
    if (seconds <= 0) {
        if (why) *why = "holds no music";
        return 0;
    }
    return static_cast<int>(seconds * 1000.0);
}

} // namespace sound
