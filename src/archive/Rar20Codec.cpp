#include "archive/Rar20Codec.h"

namespace rar {

const uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                 24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t kLengthBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kDistBase[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
const uint8_t kDistBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                               7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                               15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
const uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    uint32_t counts[kMaxCodeLength + 1] = {};
    for (int i = 0; i < n; ++i)
        counts[lengths[i]]++;
    counts[0] = 0;
    uint32_t next[kMaxCodeLength + 1] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + counts[len - 1]) << 1;
        next[len] = code;
    }
    for (int i = 0; i < n; ++i)
        codes[i] = lengths[i] ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
}

} // namespace rar
