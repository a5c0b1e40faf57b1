// Little-endian fields of RAR block headers, and the header CRC that seals a finished block.
#pragma once

#include "archive/Crc32.h"

#include <cstdint>
#include <vector>

namespace rar {

inline void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

inline void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xffff);
    put16(v, x >> 16);
}

// The first two bytes of a block hold the low 16 bits of the CRC-32 of the rest of its header.
inline void sealHeader(std::vector<uint8_t>& h) {
    uint32_t crc = crc32Update(0, h.data() + 2, h.size() - 2);
    h[0] = static_cast<uint8_t>(crc);
    h[1] = static_cast<uint8_t>(crc >> 8);
}

} // namespace rar
