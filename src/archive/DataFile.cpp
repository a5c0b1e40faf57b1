#include "archive/DataFile.h"

#include "archive/ExtractMember.h"
#include "base/Report.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string archiveName;
std::string archivePassword;
bool archiveHasPassword = false;
bool archiveSet = false;
std::string dataFolder;
bool folderSet = false;
std::string failure;
// The last name refused for lying outside the folder: a size query and the open after it that
// refuse the same name say so once.
std::string lastRefused;

// Bytes read from disk at a time for a file opened as a stream.
constexpr uint32_t kWindowBytes = 64 * 1024;
} // namespace

void setDataArchive(const char* name, const char* password) {
    archiveName = name ? name : "";
    archivePassword = password ? password : "";
    archiveHasPassword = password != nullptr; // no password: none is handed to the extraction
    archiveSet = true;
}

bool dataArchiveIsSet() {
    return archiveSet;
}

void setDataFolder(const char* folder) {
    folderSet = folder != nullptr;
    dataFolder = folder ? folder : "";
}

namespace {
DataFileObserver dataFileObserver = nullptr;

// Why `name` may not be read from the data folder, or "" when it may (or none is set). A name
// that comes back to the folder after a ".." stays allowed; a link is judged by where it leads.
std::string outsideFolder(const char* name) {
    if (!folderSet) return std::string();
    if (name[0] == '/') return "an absolute path";
    int depth = 0;
    for (const char* part = name; *part;) {
        const char* end = strchr(part, '/');
        const size_t length = end ? static_cast<size_t>(end - part) : strlen(part);
        if (length == 2 && part[0] == '.' && part[1] == '.') {
            if (--depth < 0) return "a \"..\" climbs out of it";
        } else if (length > 0 && !(length == 1 && part[0] == '.')) {
            ++depth;
        }
        part += length;
        if (*part == '/') ++part;
    }
    char root[PATH_MAX];
    char target[PATH_MAX];
    const std::string path = dataFolder + "/" + name;
    // A name that does not resolve fails its open as a missing file.
    if (!realpath(dataFolder.c_str(), root) || !realpath(path.c_str(), target)) return std::string();
    const size_t rootLength = strlen(root);
    const bool inside =
        strncmp(target, root, rootLength) == 0 &&
        (target[rootLength] == '/' || target[rootLength] == '\0' || (rootLength == 1 && root[0] == '/'));
    if (inside) return std::string();
    return std::string("a link that leads out of it (to ") + target + ")";
}

// True when `name` may be read; else reports it (once for a size query and its open) and says why.
bool mayRead(const char* name) {
    const std::string why = outsideFolder(name);
    if (why.empty()) return true;
    failure = "leaves the demo folder: " + why;
    if (lastRefused != name)
        reportErrorText(__FILE__, __LINE__, "Data file lies outside the demo folder, not read",
                        (std::string(name) + ": " + why).c_str(), false);
    lastRefused = name;
    return false;
}

std::string diskPath(const char* name) {
    return folderSet && dataFolder != "." ? dataFolder + "/" + name : std::string(name);
}

// Words for an open from disk that failed with `error`.
std::string openFailure(int error, const std::string& why) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "is missing";
    case EACCES:
    case EPERM:
        return "is not readable (" + why + ")";
    case EISDIR:
        return "is a directory, not a file";
    case ENODEV:
        return "is not a regular file (a FIFO or device)";
    default:
        return "cannot be read (" + why + ")";
    }
}
} // namespace

DataFileObserver setDataFileObserver(DataFileObserver observer) {
    DataFileObserver previous = dataFileObserver;
    dataFileObserver = observer;
    return previous;
}

const std::string& DataFile::lastFailure() {
    return failure;
}

DataFile::DataFile(const char* name) {
    opened = openInto(name, false);
    if (dataFileObserver && name) dataFileObserver(name, opened);
}

DataFile::~DataFile() {
    close();
}

DataFile* DataFile::open(const char* name) {
    return openAs(name, false);
}

DataFile* DataFile::openStream(const char* name) {
    return openAs(name, true);
}

DataFile* DataFile::openAs(const char* name, bool streamed) {
    DataFile* file = new DataFile();
    const bool ok = file->openInto(name, streamed);
    if (dataFileObserver && name) dataFileObserver(name, ok);
    if (!ok) {
        delete file;
        return nullptr;
    }
    file->opened = true;
    return file;
}

long long DataFile::sizeOf(const char* name) {
    failure.clear();
    if (!name) return -1;
    if (archiveSet) {
        const long long size = archiveMemberSize(name, archiveName.c_str());
        if (size < 0) failure = "is not in the archive";
        return size;
    }
    if (!mayRead(name)) return -1;
    lastRefused.clear();
    struct stat st;
    if (stat(diskPath(name).c_str(), &st) != 0) {
        failure = openFailure(errno, strerror(errno));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        failure = openFailure(S_ISDIR(st.st_mode) ? EISDIR : ENODEV, std::string());
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

bool DataFile::openInto(const char* name, bool streamed) {
    close();
    failure.clear();
    if (!name) return false;
    if (archiveSet) {
        char* nameCopy = strdup(name);
        unsigned char* memberData = nullptr;
        unsigned int memberSize = 0;
        int result = extractArchiveMember(&memberData, &memberSize, nameCopy, archiveName.c_str(),
                                          archiveHasPassword ? archivePassword.c_str() : nullptr);
        free(nameCopy);
        if (result == 1) {
            data = memberData;
            size = memberSize;
            return true;
        }
        failure = result == -2 ? "is not in the archive"
                               : "cannot be taken from the archive: " + lastArchiveError();
        report::showBox("message",
                        report::format("filename: %s\ndata size: %i, ptr: %i, retVal: %i", name,
                                       static_cast<int>(memberSize),
                                       static_cast<int>(reinterpret_cast<uintptr_t>(memberData)), result),
                        report::BoxStyle::Ok, false);
        return false;
    }

    if (!mayRead(name)) return false;
    lastRefused.clear();
    // FIFOs and devices are refused without waiting on them, and reported: a plain open would
    // hang. Missing files and directories stay quiet failures.
    std::string why;
    off_t length = 0;
    const int fd = platform::openRegularFile(diskPath(name).c_str(), &why, &length);
    if (fd < 0) {
        const int error = errno;
        failure = openFailure(error, why);
        if (error == ENODEV)
            reportErrorText(__FILE__, __LINE__, "Data file is not a regular file", name, false);
        return false;
    }
    // Sizes are 32-bit: a longer file can only be read as a stream, and only up to 4 GiB.
    const off_t limit = streamed ? static_cast<off_t>(UINT32_MAX) : static_cast<off_t>(INT32_MAX);
    if (length < 0 || length > limit) {
        ::close(fd);
        failure = "is too large to read (" + std::to_string(static_cast<long long>(length)) + " bytes)";
        return false;
    }
    size = static_cast<uint32_t>(length);
    if (streamed) {
        descriptor = fd;
        return true;
    }
    data = static_cast<unsigned char*>(malloc(size ? size : 1));
    if (!data) {
        ::close(fd);
        failure = "is too large to read into memory (" + std::to_string(size) + " bytes)";
        size = 0;
        return false;
    }
    // A short read keeps the bytes that came; the rest must not be stale heap contents.
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < size) memset(data + got, 0, size - got);
    ::close(fd);
    return true;
}

const unsigned char* DataFile::getData() const {
    if (data || descriptor < 0) return data;
    // A stream asked for everything after all: read it whole, as an open would have.
    unsigned char* whole = static_cast<unsigned char*>(malloc(size ? size : 1));
    if (!whole) return nullptr;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(descriptor, whole + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got < size) memset(whole + got, 0, size - got);
    data = whole;
    ::close(descriptor);
    descriptor = -1;
    return data;
}

unsigned int DataFile::readStreamed(unsigned char* destination, unsigned int itemSize, unsigned int count) {
    const uint32_t fit = (size - position) / itemSize;
    const unsigned int items = count < fit ? count : fit;
    size_t wanted = static_cast<size_t>(items) * itemSize;
    size_t got = 0;
    uint64_t at = position;
    while (got < wanted) {
        if (window && at >= windowStart && at < static_cast<uint64_t>(windowStart) + windowLength) {
            const size_t offset = static_cast<size_t>(at - windowStart);
            size_t n = windowLength - offset;
            if (n > wanted - got) n = wanted - got;
            memcpy(destination + got, window + offset, n);
            got += n;
            at += n;
            continue;
        }
        ssize_t n;
        if (wanted - got >= kWindowBytes) {
            // Large requests go straight to the destination.
            n = ::pread(descriptor, destination + got, wanted - got, static_cast<off_t>(at));
            if (n > 0) {
                got += static_cast<size_t>(n);
                at += static_cast<uint64_t>(n);
            }
        } else {
            if (!window) window = static_cast<unsigned char*>(malloc(kWindowBytes));
            if (!window) break;
            n = ::pread(descriptor, window, kWindowBytes, static_cast<off_t>(at));
            windowStart = static_cast<uint32_t>(at);
            windowLength = n > 0 ? static_cast<uint32_t>(n) : 0;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the file became shorter than it was at the open
    }
    const unsigned int whole = static_cast<unsigned int>(got / itemSize);
    position += static_cast<uint32_t>(static_cast<size_t>(whole) * itemSize);
    return whole;
}

unsigned int DataFile::read(void* destination, unsigned int itemSize, unsigned int count) {
    // Whole items only, all in one copy (byte-sized items are the common case).
    if (position > size) return 0;
    if (itemSize == 0) return count;
    if (!data && descriptor >= 0)
        return readStreamed(static_cast<unsigned char*>(destination), itemSize, count);
    uint32_t fit = (size - position) / itemSize;
    unsigned int items = count < fit ? count : fit;
    if (items) {
        size_t bytes = static_cast<size_t>(items) * itemSize;
        memcpy(destination, data + position, bytes);
        position += static_cast<uint32_t>(bytes);
    }
    return items;
}

int DataFile::seek(int offset, int origin) {
    switch (origin) {
    case 0:
        position = static_cast<uint32_t>(offset);
        break;
    case 1:
        position += static_cast<uint32_t>(offset);
        break;
    case 2:
        position = size + static_cast<uint32_t>(offset);
        break;
    default:
        break;
    }
    return 0;
}

void DataFile::close() {
    free(data);
    data = nullptr;
    free(window);
    window = nullptr;
    windowLength = 0;
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
    size = 0;
    position = 0;
    opened = false;
}
