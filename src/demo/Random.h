// The effects' random numbers: the C library's rand(), read as the 15-bit generator the
// effects' ranges were worked out for. glibc's RAND_MAX is 2^31 - 1, so rand() / 32767 would
// reach 65536; the low 15 bits keep every value in 0..1.
#pragma once

#include <cstdlib>

namespace Random {
// 0 .. 32767, like rand() with a 15-bit RAND_MAX.
inline int next15() {
    return std::rand() & 0x7FFF;
}

// 0 .. 1 inclusive: rand() / 32767 as the effects use it.
inline float unit() {
    return static_cast<float>(next15()) / 32767.0f;
}
} // namespace Random
