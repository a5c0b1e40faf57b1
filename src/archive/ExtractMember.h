// Returns one member of a RAR 2.x data archive, decrypted and unpacked, as one malloc block.
#pragma once

#include <string>

// Returns 1 on success: *data is a malloc block owned by the caller, *size its length.
// Any other value is a failure and both outputs are zero. `password` may be null (none given).
int extractArchiveMember(unsigned char** data, unsigned int* size, char* memberName, const char* archiveName,
                         const char* password);

// The unpacked length of a member, read from its header without extracting it; -1 when the
// archive or the member cannot be found.
long long archiveMemberSize(const char* memberName, const char* archiveName);

// Why the last failed call failed ("no member ...", the archive's or the member's error).
const std::string& lastArchiveError();
