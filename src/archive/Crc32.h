// CRC-32 (IEEE, reflected) as RAR uses it for headers, data and its 2.0 cipher (little-endian hosts).
#pragma once

#include <cstddef>
#include <cstdint>

namespace rar {

// The 256-entry table of the reflected polynomial 0xEDB88320.
const uint32_t* crcTable();

// Running CRC-32 over `size` bytes, continuing from `crc` (0 to start).
uint32_t crc32Update(uint32_t crc, const void* data, size_t size);

} // namespace rar
