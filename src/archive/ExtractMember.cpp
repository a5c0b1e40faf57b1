#include "archive/ExtractMember.h"

#include "archive/RarArchive.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

// The data-file layer opens one member after another from the same archive: its headers are
// read once, and a solid stream goes on from where the last member left it. The archive's
// identity (inode, size, time) is checked on every call, so a replaced file is read afresh.
struct CachedArchive {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified = {};
    std::unique_ptr<rar::Reader> reader;

    bool matches(const char* name, const struct stat& st) const {
        return reader && path == name && device == st.st_dev && inode == st.st_ino && size == st.st_size &&
               modified.tv_sec == st.st_mtim.tv_sec && modified.tv_nsec == st.st_mtim.tv_nsec;
    }
};

CachedArchive cache;
std::string lastError;

rar::Reader* openArchive(const char* archiveName, int* failure) {
    struct stat st;
    if (stat(archiveName, &st) == 0 && cache.matches(archiveName, st)) return cache.reader.get();
    cache.reader.reset();
    std::unique_ptr<rar::Reader> reader(new rar::Reader);
    if (!reader->openFile(archiveName)) {
        lastError = reader->error();
        fprintf(stderr, "%s: %s\n", archiveName, reader->error().c_str());
        *failure = -1;
        return nullptr;
    }
    cache.path = archiveName;
    cache.device = st.st_dev;
    cache.inode = st.st_ino;
    cache.size = st.st_size;
    cache.modified = st.st_mtim;
    cache.reader = std::move(reader);
    return cache.reader.get();
}

} // namespace

int extractArchiveMember(unsigned char** data, unsigned int* size, char* memberName, const char* archiveName,
                         const char* password) {
    *data = nullptr;
    *size = 0;
    if (!memberName || !archiveName) return 0;
    int failure = 0;
    rar::Reader* reader = openArchive(archiveName, &failure);
    if (!reader) return failure;
    int index = reader->find(memberName);
    if (index < 0) {
        lastError = "no member of that name";
        fprintf(stderr, "%s: no member \"%s\"%s%s\n", archiveName, memberName,
                reader->damaged() ? ", archive damaged: " : "", reader->damageReport().c_str());
        return -2;
    }
    uint8_t* out = nullptr;
    size_t outSize = 0;
    if (!reader->extract(static_cast<size_t>(index), password, &out, &outSize)) {
        lastError = reader->error();
        fprintf(stderr, "%s: %s: %s\n", archiveName, memberName, reader->error().c_str());
        return -3;
    }
    *data = out;
    *size = static_cast<unsigned int>(outSize);
    return 1;
}

long long archiveMemberSize(const char* memberName, const char* archiveName) {
    if (!memberName || !archiveName) return -1;
    int failure = 0;
    rar::Reader* reader = openArchive(archiveName, &failure);
    if (!reader) return -1;
    const int index = reader->find(memberName);
    if (index < 0) return -1;
    return static_cast<long long>(reader->entries()[static_cast<size_t>(index)].unpackedSize);
}

const std::string& lastArchiveError() {
    return lastError;
}
