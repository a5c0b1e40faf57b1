// The effects' random numbers, from a 15-bit linear congruential generator (the classic C
// library one the effects' ranges were worked out for: 0 .. 32767). It is ours rather than the
// C library's so that its state can be set: the numbers a frame draws follow from the frame's
// time alone (`startFrame`), and those drawn while a script loads from a fixed seed
// (`startLoad`). A frame is then the same however the demo reached its time, which jumping
// tools (a preview seeking, a capture stepping) rely on.
#pragma once

#include <cstdint>

namespace Random {
inline uint32_t& state() {
    static uint32_t value = 1;
    return value;
}

inline void seed(uint32_t value) {
    state() = value;
}

// 0 .. 32767.
inline int next15() {
    uint32_t& s = state();
    s = s * 214013u + 2531011u;
    return static_cast<int>((s >> 16) & 0x7FFF);
}

// 0 .. 1 inclusive: next15() / 32767 as the effects use it.
inline float unit() {
    return static_cast<float>(next15()) / 32767.0f;
}

// Before a frame at demo time `time` is stepped. The time is mixed (a 32-bit finaliser) so that
// neighbouring frames start far apart in the sequence.
inline void startFrame(int time) {
    uint32_t x = static_cast<uint32_t>(time) + 0x9E3779B9u;
    x = (x ^ (x >> 16)) * 0x7FEB352Du;
    x = (x ^ (x >> 15)) * 0x846CA68Bu;
    seed(x ^ (x >> 16));
}

// Before a script is loaded: every load makes the same effects with the same numbers.
inline void startLoad() {
    seed(1);
}
} // namespace Random
