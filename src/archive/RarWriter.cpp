#include "archive/RarWriter.h"

#include "archive/Crc32.h"
#include "archive/Rar20Crypt.h"
#include "archive/Rar20Pack.h"
#include "archive/RarArchive.h"
#include "archive/RarHeaderBytes.h"

#include <ctime>
#include <vector>

namespace rar {

namespace {

constexpr uint8_t kHostWin32 = 2;
constexpr uint8_t kUnpackVersion = 20;
constexpr uint8_t kMethodNormal = 0x33;
constexpr uint16_t kDict1M = 0x0080;
constexpr uint32_t kAttrArchive = 0x20;

} // namespace

uint32_t dosTimeFromUnix(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm) || tm.tm_year < 80) return (1u << 21) | (1u << 16); // 1980-01-01
    if (tm.tm_year > 207) tm.tm_year = 207;
    return (static_cast<uint32_t>(tm.tm_year - 80) << 25) | (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
           (static_cast<uint32_t>(tm.tm_mday) << 16) | (static_cast<uint32_t>(tm.tm_hour) << 11) |
           (static_cast<uint32_t>(tm.tm_min) << 5) | (static_cast<uint32_t>(tm.tm_sec / 2));
}

Writer::Writer(const WriterOptions& options) : opt(options) {
    Rar20Encoder::Options eo;
    eo.audioBlocks = options.audioBlocks;
    encoder.reset(new Rar20Encoder(eo));
}

Writer::~Writer() = default;

bool Writer::write(const void* data, size_t size) {
    if (size && fwrite(data, 1, size, file) != size) {
        lastError = "write failed";
        return false;
    }
    totalOut += size;
    return true;
}

bool Writer::begin(FILE* out) {
    file = out;
    static const uint8_t marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
    if (!write(marker, sizeof(marker))) return false;
    std::vector<uint8_t> h = {0, 0, 0x73};
    put16(h, opt.solid ? flags::kArchiveSolid : 0);
    put16(h, 13);
    put16(h, 0);
    put32(h, 0);
    sealHeader(h);
    return write(h.data(), h.size());
}

bool Writer::add(const std::string& name, const uint8_t* data, size_t size, uint32_t dosTime) {
    if (isUnsafeName(name)) {
        lastError = "refusing unsafe member name: " + name;
        return false;
    }
    if (size > kMaxMemberSize) {
        lastError = "file too large for the archive (limit 512 MiB): " + name;
        return false;
    }
    std::string stored = name;
    for (char& c : stored)
        if (c == '/') c = '\\';
    if (stored.size() > 1000) {
        lastError = "member name too long: " + name;
        return false;
    }

    uint16_t fileFlags = flags::kLongBlock;
    uint8_t method = kMethodStore;
    std::vector<uint8_t> packed;
    if (opt.compress && size > 0) {
        bool solid = opt.solid && streamStarted;
        packed = encoder->encode(data, size, solid);
        // A solid stream must go on through every member; elsewhere a member that grew is stored.
        if (opt.solid || packed.size() < size) {
            method = kMethodNormal;
            fileFlags |= kDict1M;
            if (solid) fileFlags |= flags::kFileSolid;
            streamStarted = true;
        }
    }
    if (method == kMethodStore) packed.assign(data, data + size);
    if (!opt.password.empty()) {
        fileFlags |= flags::kFileEncrypted;
        packed.resize((packed.size() + 15) & ~static_cast<size_t>(15), 0);
        std::unique_ptr<Rar20Cipher> cipher(new Rar20Cipher(opt.password.c_str()));
        cipher->encrypt(packed.data(), packed.size());
    }

    std::vector<uint8_t> h = {0, 0, 0x74};
    put16(h, fileFlags);
    put16(h, static_cast<uint32_t>(32 + stored.size()));
    put32(h, static_cast<uint32_t>(packed.size()));
    put32(h, static_cast<uint32_t>(size));
    h.push_back(kHostWin32);
    put32(h, crc32Update(0, data, size));
    put32(h, dosTime);
    h.push_back(kUnpackVersion);
    h.push_back(method);
    put16(h, static_cast<uint32_t>(stored.size()));
    put32(h, kAttrArchive);
    h.insert(h.end(), stored.begin(), stored.end());
    sealHeader(h);
    totalIn += size;
    return write(h.data(), h.size()) && write(packed.data(), packed.size());
}

bool Writer::finish() {
    // The end-of-archive block (type 0x7b, "skip if unknown" flag, as RAR 2.x writes it) lets a
    // reader tell a complete archive from one cut off between two members.
    std::vector<uint8_t> h = {0, 0, 0x7b};
    put16(h, 0x4000);
    put16(h, 7);
    sealHeader(h);
    if (!write(h.data(), h.size())) return false;
    if (fflush(file) != 0) {
        lastError = "write failed";
        return false;
    }
    return true;
}

} // namespace rar
