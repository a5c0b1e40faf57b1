#include "resources/DataFile.h"

#include "archive/ExtractMember.h"
#include "host/Report.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::string archiveName;
std::string archivePassword;
bool archiveHasPassword = false;
bool archiveSet = false;
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

namespace {
DataFileObserver dataFileObserver = nullptr;
} // namespace

DataFileObserver setDataFileObserver(DataFileObserver observer) {
    DataFileObserver previous = dataFileObserver;
    dataFileObserver = observer;
    return previous;
}

DataFile::DataFile(const char* name) {
    opened = openInto(name);
    if (dataFileObserver && name) dataFileObserver(name, opened);
}

DataFile::~DataFile() {
    close();
}

DataFile* DataFile::open(const char* name) {
    DataFile* file = new DataFile();
    const bool ok = file->openInto(name);
    if (dataFileObserver && name) dataFileObserver(name, ok);
    if (!ok) {
        delete file;
        return nullptr;
    }
    file->opened = true;
    return file;
}

bool DataFile::openInto(const char* name) {
    data = nullptr;
    size = 0;
    position = 0;
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
        report::showBox("message",
                        report::format("filename: %s\ndata size: %i, ptr: %i, retVal: %i", name,
                                       static_cast<int>(memberSize),
                                       static_cast<int>(reinterpret_cast<uintptr_t>(memberData)), result),
                        report::BoxStyle::Ok, false);
        return false;
    }

    // FIFOs and devices are refused without waiting on them, and reported: a plain open would
    // hang. Missing files and directories stay quiet failures.
    std::string why;
    const int fd = platform::openRegularFile(name, &why);
    if (fd < 0) {
        if (errno == ENODEV)
            reportErrorText(__FILE__, __LINE__, "Data file is not a regular file", name, false);
        return false;
    }
    FILE* stream = fdopen(fd, "rb");
    if (!stream) {
        ::close(fd);
        return false;
    }
    long length = -1;
    if (fseek(stream, 0, SEEK_END) == 0) length = ftell(stream);
    // A directory or unseekable stream has no usable length: a failed open, not a huge allocation.
    if (length < 0 || length > 0x7fffffffL || fseek(stream, 0, SEEK_SET) != 0) {
        fclose(stream);
        return false;
    }
    size = static_cast<uint32_t>(length);
    data = static_cast<unsigned char*>(malloc(size ? size : 1));
    if (!data) {
        fclose(stream);
        size = 0;
        return false;
    }
    size_t got = size ? fread(data, 1, size, stream) : 0;
    // A short read keeps the bytes that came; the rest must not be stale heap contents.
    if (got < size) memset(data + got, 0, size - got);
    fclose(stream);
    return true;
}

unsigned int DataFile::read(void* destination, unsigned int itemSize, unsigned int count) {
    // Whole items only, all in one copy (byte-sized items are the common case).
    if (position > size) return 0;
    if (itemSize == 0) return count;
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
    size = 0;
    position = 0;
    opened = false;
}
