// Shared helpers for the archive tests: scratch folders, archives built in memory, hand-made
// headers with valid CRCs.
#pragma once

#include "archive/Crc32.h"
#include "archive/RarWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace archivetest {

using Bytes = std::vector<uint8_t>;

struct ScratchDir {
    std::filesystem::path path;
    ScratchDir() {
        char tmpl[] = "/tmp/holdfast-archive-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

inline void writeFile(const std::string& path, const Bytes& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

inline Bytes readFile(const std::string& path) {
    Bytes out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

inline Bytes textBytes(size_t n, uint32_t seed = 1) {
    static const char* words[] = {"effect ", "Blur ",   "BEGIN ", "1000 ",
                                  "scene ",  "light\n", "glow ",  "the "};
    Bytes out;
    uint32_t s = seed;
    while (out.size() < n) {
        s = s * 1103515245u + 12345u;
        const char* w = words[(s >> 16) % 8];
        out.insert(out.end(), w, w + strlen(w));
    }
    out.resize(n);
    return out;
}

inline Bytes noiseBytes(size_t n, uint32_t seed = 7) {
    Bytes out(n);
    uint32_t s = seed;
    for (auto& b : out) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = static_cast<uint8_t>(s);
    }
    return out;
}

// 16-bit stereo samples: a sine pair with a little noise.
inline Bytes pcmBytes(size_t frames) {
    Bytes out(frames * 4);
    uint32_t s = 99;
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            s = s * 1103515245u + 12345u;
            int v = static_cast<int>(9000 * std::sin(i * (0.01 + 0.003 * c))) +
                    static_cast<int>((s >> 16) % 32) - 16;
            out[i * 4 + c * 2] = static_cast<uint8_t>(v & 0xff);
            out[i * 4 + c * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
        }
    }
    return out;
}

// Builds an archive file from (name, data) pairs.
inline bool buildArchive(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& members,
                         const rar::WriterOptions& options) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    rar::Writer writer(options);
    bool ok = writer.begin(f);
    for (const auto& m : members)
        ok = ok && writer.add(m.first, m.second.data(), m.second.size(), 0x5a210000);
    ok = ok && writer.finish();
    fclose(f);
    return ok;
}

inline void put16(Bytes& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void put32(Bytes& v, uint32_t x) {
    put16(v, x & 0xffff);
    put16(v, x >> 16);
}
// Sets the header CRC over `crcBytes` bytes from the type field (all of it when 0).
inline void seal(Bytes& h, size_t crcBytes = 0) {
    uint32_t crc = rar::crc32Update(0, h.data() + 2, crcBytes ? crcBytes : h.size() - 2);
    h[0] = static_cast<uint8_t>(crc);
    h[1] = static_cast<uint8_t>(crc >> 8);
}

inline Bytes marker() {
    return {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
}

inline Bytes mainHeader(uint16_t flags = 0) {
    Bytes h = {0, 0, 0x73};
    put16(h, flags);
    put16(h, 13);
    put16(h, 0);
    put32(h, 0);
    seal(h);
    return h;
}

// A stored, unencrypted file header followed by its data.
inline Bytes storedMember(const std::string& name, const Bytes& data, uint16_t extraFlags = 0,
                          uint32_t declaredSize = 0xffffffffu, bool large = false) {
    Bytes h = {0, 0, 0x74};
    uint16_t flags = static_cast<uint16_t>(0x8000 | extraFlags | (large ? 0x100 : 0));
    put16(h, flags);
    put16(h, static_cast<uint32_t>(32 + (large ? 8 : 0) + name.size()));
    put32(h, static_cast<uint32_t>(data.size()));
    put32(h, declaredSize == 0xffffffffu ? static_cast<uint32_t>(data.size()) : declaredSize);
    h.push_back(2);
    put32(h, rar::crc32Update(0, data.data(), data.size()));
    put32(h, 0x5a210000);
    h.push_back(20);
    h.push_back(0x30);
    put16(h, static_cast<uint32_t>(name.size()));
    put32(h, 0x20);
    if (large) {
        put32(h, 0);
        put32(h, 0);
    }
    h.insert(h.end(), name.begin(), name.end());
    seal(h);
    h.insert(h.end(), data.begin(), data.end());
    return h;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace archivetest
