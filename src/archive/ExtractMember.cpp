#include "archive/ExtractMember.h"

#include "archive/RarArchive.h"

#include <cstdio>

int extractArchiveMember(unsigned char** data, unsigned int* size, char* memberName, const char* archiveName,
                         const char* password) {
    *data = nullptr;
    *size = 0;
    if (!memberName || !archiveName) return 0;
    rar::Reader reader;
    if (!reader.openFile(archiveName)) {
        fprintf(stderr, "%s: %s\n", archiveName, reader.error().c_str());
        return -1;
    }
    int index = reader.find(memberName);
    if (index < 0) {
        fprintf(stderr, "%s: no member \"%s\"%s%s\n", archiveName, memberName,
                reader.damaged() ? ", archive damaged: " : "", reader.damageReport().c_str());
        return -2;
    }
    uint8_t* out = nullptr;
    size_t outSize = 0;
    if (!reader.extract(static_cast<size_t>(index), password, &out, &outSize)) {
        fprintf(stderr, "%s: %s: %s\n", archiveName, memberName, reader.error().c_str());
        return -3;
    }
    *data = out;
    *size = static_cast<unsigned int>(outSize);
    return 1;
}
