#include "archive/RarArchive.h"

#include "archive/Crc32.h"
#include "archive/Rar20Crypt.h"
#include "archive/Rar20Unpack.h"
#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace rar {

namespace {

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
constexpr uint8_t kTypeMain = 0x73;
constexpr uint8_t kTypeFile = 0x74;
constexpr uint8_t kTypeEnd = 0x7b;

inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool headerCrcMatches(const uint8_t* header, size_t size, size_t fixedSize) {
    uint16_t stored = get16(header);
    if ((crc32Update(0, header + 2, size - 2) & 0xffff) == stored) return true;
    // RAR 2.x leaves embedded comments out of the header CRC.
    return fixedSize > 2 && fixedSize < size &&
           (crc32Update(0, header + 2, fixedSize - 2) & 0xffff) == stored;
}

char foldSeparator(char c) {
    return c == '\\' ? '/' : c;
}
char foldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(const std::string& stored, const char* wanted, bool ignoreCase) {
    size_t i = 0;
    for (; i < stored.size(); ++i) {
        char a = foldSeparator(stored[i]);
        char b = foldSeparator(wanted[i]);
        if (b == '\0') return false;
        if (ignoreCase) {
            a = foldCase(a);
            b = foldCase(b);
        }
        if (a != b) return false;
    }
    return wanted[i] == '\0';
}

} // namespace

bool isUnsafeName(const std::string& name) {
    if (name.empty()) return true;
    if (name[0] == '/' || name[0] == '\\') return true;
    if (name.size() >= 2 && name[1] == ':') return true; // drive letter
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/' || name[i] == '\\') {
            if (i - start == 2 && name[start] == '.' && name[start + 1] == '.') return true;
            start = i + 1;
        }
    }
    return false;
}

struct Reader::Source {
    virtual ~Source() = default;
    virtual bool read(uint64_t offset, void* dst, size_t n) = 0;
    uint64_t size = 0;
};

namespace {
struct FileSource : Reader::Source {
    int fd = -1;
    ~FileSource() override {
        if (fd >= 0) ::close(fd);
    }
    bool read(uint64_t offset, void* dst, size_t n) override {
        if (offset > size || n > size - offset) return false;
        uint8_t* p = static_cast<uint8_t*>(dst);
        while (n > 0) {
            ssize_t got = ::pread(fd, p, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            p += got;
            n -= static_cast<size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    }
};
struct MemorySource : Reader::Source {
    const uint8_t* data = nullptr;
    bool read(uint64_t offset, void* dst, size_t n) override {
        if (offset > size || n > size - offset) return false;
        if (n) memcpy(dst, data + offset, n);
        return true;
    }
};
} // namespace

struct Reader::Decoder {
    Rar20Decoder rar20;
    long lastIndex = -1; // member whose end state the decoder holds; -1: none
};

namespace {
struct FreeBlock {
    void operator()(uint8_t* p) const { free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeBlock>;
} // namespace

// Members of a solid stream asked for in any order. One decoder walks each stream forward, and
// every member it passes leaves what a later request needs to be served without walking from the
// stream's start again: the member's bytes where they take less memory than a decoder state, else
// the decoder state the member starts from. A failed member is remembered with its reason, since
// nothing after it in its stream can be unpacked. Everything kept counts against the member limit.
struct Reader::SolidCache {
    std::string password;
    bool hasPassword = false;
    Decoder walker;
    std::vector<long> previous; // the compressed member before each one; -1: none
    std::vector<long> next;     // the compressed member after each one; -1: none
    std::vector<Block> bytes;
    std::vector<std::unique_ptr<Rar20Decoder>> startState;
    std::vector<std::string> failure;
    uint64_t kept = 0;
};

Reader::Reader() = default;
Reader::~Reader() = default;

bool Reader::fail(const std::string& message) {
    lastError = message;
    return false;
}

bool Reader::openFile(const char* path) {
    list.clear();
    solid.reset();
    decoded = 0;
    damage.clear();
    sawEnd = false;
    auto src = std::make_unique<FileSource>();
    std::string why;
    off_t size = 0;
    src->fd = platform::openRegularFile(path, &why, &size);
    if (src->fd < 0) return fail("cannot open archive: " + why);
    src->size = static_cast<uint64_t>(size);
    source = std::move(src);
    return parse();
}

bool Reader::openMemory(const uint8_t* data, size_t size) {
    list.clear();
    solid.reset();
    decoded = 0;
    damage.clear();
    sawEnd = false;
    auto src = std::make_unique<MemorySource>();
    src->data = data;
    src->size = size;
    source = std::move(src);
    return parse();
}

bool Reader::parse() {
    uint8_t marker[7];
    if (!source->read(0, marker, 7) || memcmp(marker, kMarker, 7) != 0) return fail("not a RAR archive");
    uint64_t pos = 7;
    bool sawMain = false;
    std::vector<uint8_t> header;
    auto damaged = [&](const std::string& what) {
        damage = what + " at offset " + std::to_string(pos);
        // Without a single usable member the archive is simply broken.
        if (!sawMain) return fail("damaged archive: " + damage);
        return true;
    };
    while (pos < source->size) {
        uint8_t base[7];
        if (!source->read(pos, base, 7)) return damaged("truncated block header");
        uint8_t type = base[2];
        uint16_t blockFlags = get16(base + 3);
        uint16_t headSize = get16(base + 5);
        if (headSize < 7) return damaged("bad block header size");
        header.resize(headSize);
        if (!source->read(pos, header.data(), headSize)) return damaged("truncated block header");

        uint64_t addSize = 0;
        if (type == kTypeFile || (blockFlags & flags::kLongBlock)) {
            if (headSize < 11) return damaged("bad block header size");
            addSize = get32(header.data() + 7);
        }
        size_t fixedSize = headSize;
        if (type == kTypeMain) fixedSize = 13;
        if (type == kTypeFile && headSize >= 32)
            fixedSize = 32 + ((blockFlags & flags::kFileLarge) ? 8 : 0) + get16(header.data() + 26);
        if (!headerCrcMatches(header.data(), headSize, fixedSize)) return damaged("header CRC mismatch");

        if (type == kTypeMain) {
            if (headSize < 13) return damaged("bad archive header");
            archiveFlags = blockFlags;
            sawMain = true;
            if (blockFlags & flags::kArchiveEncryptedHeaders)
                return fail("encrypted headers are not supported");
        } else if (type == kTypeFile) {
            if (!sawMain) return damaged("file header before archive header");
            if (headSize < 32) return damaged("bad file header");
            const uint8_t* h = header.data();
            Entry e;
            e.flags = blockFlags;
            e.packedSize = get32(h + 7);
            e.unpackedSize = get32(h + 11);
            e.hostOs = h[15];
            e.crc = get32(h + 16);
            e.dosTime = get32(h + 20);
            e.unpackVersion = h[24];
            e.method = h[25];
            uint16_t nameSize = get16(h + 26);
            e.attributes = get32(h + 28);
            size_t nameAt = 32;
            if (blockFlags & flags::kFileLarge) {
                if (headSize < 40) return damaged("bad file header");
                e.packedSize |= static_cast<uint64_t>(get32(h + 32)) << 32;
                e.unpackedSize |= static_cast<uint64_t>(get32(h + 36)) << 32;
                nameAt = 40;
            }
            if (nameAt + nameSize > headSize) return damaged("bad file name size");
            e.name.assign(reinterpret_cast<const char*>(h + nameAt), nameSize);
            // A Unicode name carries its plain form before a zero byte.
            size_t zero = e.name.find('\0');
            if (zero != std::string::npos) e.name.resize(zero);
            e.unsafeName = isUnsafeName(e.name);
            addSize = e.packedSize;
            e.dataOffset = pos + headSize;
            if (e.dataOffset > source->size || e.packedSize > source->size - e.dataOffset)
                return damaged("member data runs past the end of the archive");
            list.push_back(std::move(e));
        } else if (type == kTypeEnd) {
            sawEnd = true;
            break;
        }
        // Comments, old-style sub-blocks, recovery records and unknown blocks are skipped by size.
        uint64_t next = pos + headSize;
        if (addSize > source->size || next > source->size - addSize)
            return damaged("block runs past the end");
        pos = next + addSize;
    }
    if (!sawMain) return fail("not a RAR archive (no archive header)");
    return true;
}

int Reader::find(const char* name) const {
    if (!name) return -1;
    if (isUnsafeName(name)) return -1;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < list.size(); ++i) {
            const Entry& e = list[i];
            if (e.directory() || e.unsafeName) continue;
            if (sameName(e.name, name, pass == 1)) return static_cast<int>(i);
        }
    }
    return -1;
}

bool Reader::checkEntry(const Entry& e) {
    if (e.directory()) return fail("member is a directory");
    if (e.unsafeName) return fail("member has an unsafe name");
    if (e.flags & (flags::kFileSplitBefore | flags::kFileSplitAfter))
        return fail("member is split across volumes (not supported)");
    if (e.unpackedSize > memberLimit) return fail("member is larger than the allowed size");
    if (e.encrypted() && e.unpackVersion != 20 && e.unpackVersion != 26)
        return fail("member uses an unsupported encryption (version " + std::to_string(e.unpackVersion) +
                    ")");
    if (e.stored()) {
        if (e.packedSize < e.unpackedSize) return fail("stored member is shorter than its declared size");
        if (e.encrypted() && (e.packedSize & ~static_cast<uint64_t>(15)) < e.unpackedSize)
            return fail("stored member is shorter than its declared size");
        return true;
    }
    if (e.method < 0x31 || e.method > 0x35) return fail("unknown packing method");
    if (e.unpackVersion != 20 && e.unpackVersion != 26)
        return fail("unsupported packing version " + std::to_string(e.unpackVersion));
    // No code of the format yields more than about 2 KiB per input byte.
    if (e.unpackedSize > e.packedSize * 2100 + 1024) return fail("member's declared size is implausible");
    return true;
}

bool Reader::unpackOne(size_t index, const char* password, Decoder& decoder, bool keepOutput, uint8_t** out) {
    *out = nullptr;
    const Entry& e = list[index];
    if (!checkEntry(e)) return false;
    if (e.encrypted() && !password) return fail("member is encrypted and no password was given");

    const size_t packedSize = static_cast<size_t>(e.packedSize);
    const size_t size = static_cast<size_t>(e.unpackedSize);
    std::unique_ptr<Rar20Cipher> cipher;
    if (e.encrypted()) cipher.reset(new Rar20Cipher(password));
    const size_t cipherBytes = packedSize & ~static_cast<size_t>(15);
    uint8_t* data;
    if (e.stored()) {
        // Read straight into the block handed out and decrypt it there (the padding stays at the end).
        data = static_cast<uint8_t*>(malloc(packedSize ? packedSize : 1));
        if (!data) return fail("out of memory");
        if (!source->read(e.dataOffset, data, packedSize)) {
            free(data);
            return fail("cannot read member data");
        }
        if (cipher) cipher->decrypt(data, cipherBytes);
    } else {
        std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[packedSize + kInputPadding]);
        if (!packed) return fail("out of memory");
        memset(packed.get() + packedSize, 0, kInputPadding);
        if (!source->read(e.dataOffset, packed.get(), packedSize)) return fail("cannot read member data");
        if (cipher) cipher->decrypt(packed.get(), cipherBytes);
        data = static_cast<uint8_t*>(malloc(size ? size : 1));
        if (!data) return fail("out of memory");
        bool solid = e.solid() && decoder.lastIndex >= 0;
        std::string why;
        decoder.lastIndex = -1;
        decoded += size;
        if (!decoder.rar20.decode(packed.get(), packedSize, data, size, solid, &why)) {
            free(data);
            return fail(why + (e.encrypted() ? " (wrong password?)" : ""));
        }
        decoder.lastIndex = static_cast<long>(index);
    }
    if (crc32Update(0, data, size) != e.crc) {
        free(data);
        if (!e.stored()) decoder.lastIndex = -1;
        return fail(e.encrypted() ? "CRC mismatch (wrong password or damaged data)"
                                  : "CRC mismatch (damaged data)");
    }
    if (keepOutput)
        *out = data;
    else
        free(data);
    return true;
}

uint64_t Reader::solidKeptBytes() const {
    return solid ? solid->kept : 0;
}

void Reader::resetSolid() {
    solid.reset(new SolidCache);
    SolidCache& c = *solid;
    const size_t n = list.size();
    c.previous.assign(n, -1);
    c.next.assign(n, -1);
    c.bytes.resize(n);
    c.startState.resize(n);
    c.failure.resize(n);
    long last = -1;
    for (size_t i = 0; i < n; ++i) {
        c.previous[i] = last;
        if (list[i].directory() || list[i].stored()) continue;
        if (last >= 0) c.next[static_cast<size_t>(last)] = static_cast<long>(i);
        last = static_cast<long>(i);
    }
}

bool Reader::extractSolid(size_t index, const char* password, uint8_t** out) {
    if (!solid || solid->hasPassword != (password != nullptr) ||
        solid->password != (password ? password : "")) {
        // What was kept was unpacked with another password.
        resetSolid();
        solid->hasPassword = password != nullptr;
        solid->password = password ? password : "";
    }
    SolidCache& c = *solid;
    const auto continues = [&](long k) {
        return list[static_cast<size_t>(k)].solid() && c.previous[static_cast<size_t>(k)] >= 0;
    };
    const auto room = [&](uint64_t bytes) {
        if (bytes > memberLimit || c.kept > memberLimit - bytes) return false;
        c.kept += bytes;
        return true;
    };
    const long wanted = static_cast<long>(index);
    if (!c.failure[index].empty()) return fail(c.failure[index]);
    const size_t size = static_cast<size_t>(list[index].unpackedSize);
    if (c.bytes[index]) {
        uint8_t* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
        if (!copy) return fail("out of memory");
        if (size) memcpy(copy, c.bytes[index].get(), size);
        *out = copy;
        return true;
    }
    if (c.startState[index]) {
        std::unique_ptr<Decoder> replay(new Decoder);
        replay->rar20 = *c.startState[index];
        replay->lastIndex = c.previous[index];
        return unpackOne(index, password, *replay, true, out);
    }

    long start = wanted;
    while (continues(start))
        start = c.previous[static_cast<size_t>(start)];
    Decoder& walker = c.walker;
    if (walker.lastIndex >= start && walker.lastIndex < wanted) {
        start = c.next[static_cast<size_t>(walker.lastIndex)];
    } else {
        // The walker leaves its place: where it stood is kept, so that its stream can go on later.
        if (walker.lastIndex >= 0) {
            const long n = c.next[static_cast<size_t>(walker.lastIndex)];
            if (n >= 0 && continues(n) && !c.bytes[static_cast<size_t>(n)] &&
                !c.startState[static_cast<size_t>(n)] && room(walker.rar20.stateBytes()))
                c.startState[static_cast<size_t>(n)].reset(new Rar20Decoder(walker.rar20));
        }
        walker.lastIndex = -1;
        for (long k = c.previous[index]; k > start; k = c.previous[static_cast<size_t>(k)])
            if (c.startState[static_cast<size_t>(k)]) {
                walker.rar20 = *c.startState[static_cast<size_t>(k)];
                walker.lastIndex = c.previous[static_cast<size_t>(k)];
                start = k;
                break;
            }
    }
    // A member on the way that failed before fails this one too, without walking up to it again.
    for (long k = start; k != wanted; k = c.next[static_cast<size_t>(k)])
        if (!c.failure[static_cast<size_t>(k)].empty())
            return fail("earlier member of the solid stream failed: " + c.failure[static_cast<size_t>(k)]);
    for (long k = start;; k = c.next[static_cast<size_t>(k)]) {
        const size_t at = static_cast<size_t>(k);
        const uint64_t bytes = list[at].unpackedSize;
        const bool keepBytes = bytes <= walker.rar20.stateBytes();
        if (!keepBytes && continues(k) && !c.startState[at] && room(walker.rar20.stateBytes()))
            c.startState[at].reset(new Rar20Decoder(walker.rar20));
        uint8_t* data = nullptr;
        if (!unpackOne(at, password, walker, true, &data)) {
            c.failure[at] = lastError;
            walker.lastIndex = -1;
            if (k != wanted) lastError = "earlier member of the solid stream failed: " + lastError;
            return false;
        }
        if (k == wanted) {
            if (keepBytes && !c.bytes[at] && room(bytes)) {
                c.bytes[at].reset(static_cast<uint8_t*>(malloc(size ? size : 1)));
                if (c.bytes[at])
                    memcpy(c.bytes[at].get(), data, size);
                else
                    c.kept -= bytes;
            }
            *out = data;
            return true;
        }
        if (keepBytes && !c.bytes[at] && room(bytes))
            c.bytes[at].reset(data);
        else
            free(data);
    }
}

bool Reader::extract(size_t index, const char* password, uint8_t** data, size_t* size) {
    *data = nullptr;
    *size = 0;
    if (!source || index >= list.size()) return fail("no such member");
    const Entry& e = list[index];
    if (!checkEntry(e)) return false;
    uint8_t* out = nullptr;
    // A compressed member shares its decoder with others when it continues a solid stream or the
    // next compressed member continues from it.
    bool shares = false;
    if (!e.stored()) {
        for (size_t k = index; !shares && k-- > 0;) {
            if (list[k].directory() || list[k].stored()) continue;
            shares = e.solid();
            break;
        }
        for (size_t k = index + 1; !shares && k < list.size(); ++k) {
            if (list[k].directory() || list[k].stored()) continue;
            shares = list[k].solid();
            break;
        }
    }
    if (shares) {
        if (!extractSolid(index, password, &out)) return false;
    } else {
        std::unique_ptr<Decoder> alone(new Decoder);
        if (!unpackOne(index, password, *alone, true, &out)) return false;
    }
    *data = out;
    *size = static_cast<size_t>(e.unpackedSize);
    return true;
}

void Reader::extractAll(const char* password, const Visitor& visit) {
    Decoder decoder;
    for (size_t i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        if (e.directory()) continue;
        uint8_t* out = nullptr;
        if (!e.stored() && e.solid() && decoder.lastIndex < 0 && i > 0) {
            bool earlier = false;
            for (size_t k = 0; k < i; ++k)
                earlier |= !list[k].directory() && !list[k].stored();
            if (earlier) {
                visit(i, nullptr, 0, false, "earlier member of the solid stream failed");
                continue;
            }
        }
        if (unpackOne(i, password, decoder, true, &out)) {
            visit(i, out, static_cast<size_t>(e.unpackedSize), true, std::string());
            free(out);
        } else {
            visit(i, nullptr, 0, false, lastError);
        }
    }
}

} // namespace rar
