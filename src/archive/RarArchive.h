// Reading RAR 1.5-2.x archives: block headers with CRC checks, member look-up, and extraction
// of stored and RAR 2.0 compressed members (solid streams included), RAR 2.0 encryption, and a
// CRC-32 check of every unpacked member. Hostile input fails cleanly: every size is bounded by
// the archive's length and a sane member limit before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rar {

// Members larger than this are refused (the demo's files are far smaller).
constexpr uint64_t kMaxMemberSize = 512ull << 20;

namespace flags {
constexpr uint16_t kArchiveSolid = 0x0008;
constexpr uint16_t kArchiveComment = 0x0002;
constexpr uint16_t kArchiveEncryptedHeaders = 0x0080;
constexpr uint16_t kFileSplitBefore = 0x0001;
constexpr uint16_t kFileSplitAfter = 0x0002;
constexpr uint16_t kFileEncrypted = 0x0004;
constexpr uint16_t kFileComment = 0x0008;
constexpr uint16_t kFileSolid = 0x0010;
constexpr uint16_t kFileDictMask = 0x00e0;
constexpr uint16_t kFileDirectory = 0x00e0;
constexpr uint16_t kFileLarge = 0x0100;
constexpr uint16_t kFileUnicode = 0x0200;
constexpr uint16_t kLongBlock = 0x8000;
} // namespace flags

constexpr uint8_t kMethodStore = 0x30;

struct Entry {
    std::string name; // as stored: DOS/Windows archives use '\'
    uint64_t packedSize = 0;
    uint64_t unpackedSize = 0;
    uint64_t dataOffset = 0;
    uint32_t crc = 0;
    uint32_t dosTime = 0;
    uint32_t attributes = 0;
    uint16_t flags = 0;
    uint8_t hostOs = 0;
    uint8_t unpackVersion = 0;
    uint8_t method = 0;
    bool unsafeName = false; // absolute, or with a ".." component

    bool encrypted() const { return flags & flags::kFileEncrypted; }
    bool solid() const { return flags & flags::kFileSolid; }
    bool directory() const { return (flags & flags::kFileDictMask) == flags::kFileDirectory; }
    bool stored() const { return method == kMethodStore; }
};

class Reader {
  public:
    Reader();
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the headers. False when the file is not a usable archive; a damaged or truncated
    // archive opens with the members before the damage and damaged() set.
    bool openFile(const char* path);
    // Same over a memory image that must outlive the reader.
    bool openMemory(const uint8_t* data, size_t size);

    const std::vector<Entry>& entries() const { return list; }
    bool solidArchive() const { return archiveFlags & flags::kArchiveSolid; }
    uint16_t mainFlags() const { return archiveFlags; }
    bool damaged() const { return !damage.empty(); }
    const std::string& damageReport() const { return damage; }
    // True when the headers ended with an end-of-archive block. Without one, an archive cut off
    // right after a member looks whole; only this tells the difference.
    bool endMarked() const { return sawEnd; }
    const std::string& error() const { return lastError; }

    // Index of the member called `name`, or -1. '/' and '\' are the same separator; an exact
    // match wins over a case-insensitive one. Directories and unsafe names never match.
    int find(const char* name) const;

    // Extracts member `index` whole into one malloc block that the caller frees. On failure
    // returns false, sets error() and leaves both outputs null/zero. Members of a solid stream
    // may be asked for in any order and again: each is unpacked once, and what later calls need
    // of it is kept (see solidKeptBytes()).
    bool extract(size_t index, const char* password, uint8_t** data, size_t* size);

    // Extracts every file member in archive order (one pass through solid streams) and reports
    // each: `data` is valid only during the call and null when `ok` is false.
    using Visitor = std::function<void(size_t index, const uint8_t* data, size_t size, bool ok,
                                       const std::string& error)>;
    void extractAll(const char* password, const Visitor& visit);

    // Bounds applied before allocation; lowered by the fuzzer. The memory kept of solid streams
    // stays within the same bound.
    void setMemberLimit(uint64_t bytes) { memberLimit = bytes; }

    // Bytes the RAR 2.0 decoder has produced for extract() since the archive was opened, and the
    // memory kept of solid streams so that no member is unpacked twice.
    uint64_t decodedBytes() const { return decoded; }
    uint64_t solidKeptBytes() const;

    struct Source; // where the archive's bytes come from (file or memory)

  private:
    struct Decoder;
    struct SolidCache;
    bool parse();
    bool fail(const std::string& message);
    bool checkEntry(const Entry& e);
    bool unpackOne(size_t index, const char* password, Decoder& decoder, bool keepOutput, uint8_t** out);
    bool extractSolid(size_t index, const char* password, uint8_t** out);
    void resetSolid();

    std::unique_ptr<Source> source;
    std::vector<Entry> list;
    uint16_t archiveFlags = 0;
    std::string damage;
    bool sawEnd = false;
    std::string lastError;
    uint64_t memberLimit = kMaxMemberSize;
    uint64_t decoded = 0;
    // What extract() has learnt of solid streams: where its decoder stands, members' bytes and
    // saved decoder states.
    std::unique_ptr<SolidCache> solid;
};

// True for names that are absolute or contain a ".." component (either separator).
bool isUnsafeName(const std::string& name);

} // namespace rar
