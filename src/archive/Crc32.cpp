#include "archive/Crc32.h"

#include <cstring>

namespace rar {

namespace {
// Slicing-by-8 tables: eight bytes per step keeps the member check far below the decoder's cost.
struct Tables {
    uint32_t t[8][256];
    Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xff];
    }
};
const Tables& tables() {
    static const Tables instance;
    return instance;
}
} // namespace

const uint32_t* crcTable() {
    return tables().t[0];
}

uint32_t crc32Update(uint32_t crc, const void* data, size_t size) {
    const Tables& tb = tables();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = ~crc;
    while (size >= 8) {
        uint32_t lo, hi;
        memcpy(&lo, p, 4);
        memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = tb.t[7][lo & 0xff] ^ tb.t[6][(lo >> 8) & 0xff] ^ tb.t[5][(lo >> 16) & 0xff] ^ tb.t[4][lo >> 24] ^
            tb.t[3][hi & 0xff] ^ tb.t[2][(hi >> 8) & 0xff] ^ tb.t[1][(hi >> 16) & 0xff] ^ tb.t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size--)
        c = (c >> 8) ^ tb.t[0][(c ^ *p++) & 0xff];
    return ~c;
}

} // namespace rar
