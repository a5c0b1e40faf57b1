// Pieces shared by the RAR 2.0 decoder and encoder: table sizes, the length and distance
// code tables, and the adaptive audio predictor of multimedia blocks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace rar {

constexpr int kMainCodes = 298; // 256 literals, repeat codes, short matches, table switch, 28 lengths
constexpr int kDistCodes = 48;
constexpr int kRepLenCodes = 28;
constexpr int kPreCodes = 19;
constexpr int kAudioCodes = 257; // 256 deltas and the table switch
constexpr int kLzTableSize = kMainCodes + kDistCodes + kRepLenCodes;
constexpr int kMaxTableSize = kAudioCodes * 4;
constexpr int kMaxCodeLength = 15;

constexpr int kSymRepeatLast = 256; // repeat the last length and distance
constexpr int kSymOldDist = 257;    // 257..260: one of the four last distances, new length
constexpr int kSymShort = 261;      // 261..268: length 2, short distance
constexpr int kSymNewTable = 269;
constexpr int kSymMatch = 270; // 270..297: length slot, then a distance code
constexpr int kAudioNewTable = 256;

// Largest distance the format can express; the window is 1 MiB.
constexpr uint32_t kMaxDistance = 0x100000;

extern const uint8_t kLengthBase[28];
extern const uint8_t kLengthBits[28];
extern const uint32_t kDistBase[48];
extern const uint8_t kDistBits[48];
extern const uint8_t kShortBase[8];
extern const uint8_t kShortBits[8];

// Canonical Huffman codes (most significant bit first) for `n` code lengths; length 0 gets no code.
void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes);

// One channel's predictor state of a multimedia block.
struct AudioChannel {
    int k[5];
    int d[4];
    int lastDelta;
    unsigned dif[11];
    unsigned byteCount;
    int lastChar;
};

struct AudioState {
    AudioChannel channels[4];
    int channelDelta;

    void reset() { memset(this, 0, sizeof(*this)); }

    // Shifts the channel's history and returns the predicted byte.
    int predict(int channel) {
        AudioChannel& v = channels[channel];
        v.d[3] = v.d[2];
        v.d[2] = v.d[1];
        v.d[1] = v.lastDelta - v.d[0];
        v.d[0] = v.lastDelta;
        int p = 8 * v.lastChar + v.k[0] * v.d[0] + v.k[1] * v.d[1] + v.k[2] * v.d[2] + v.k[3] * v.d[3] +
                v.k[4] * channelDelta;
        return (p >> 3) & 0xff;
    }

    // Adapts the predictor after the byte `value` was coded as `delta` (predicted - value).
    void update(int channel, int delta, int value) {
        AudioChannel& v = channels[channel];
        v.byteCount++;
        int e = static_cast<int8_t>(delta) * 8;
        v.dif[0] += std::abs(e);
        v.dif[1] += std::abs(e - v.d[0]);
        v.dif[2] += std::abs(e + v.d[0]);
        v.dif[3] += std::abs(e - v.d[1]);
        v.dif[4] += std::abs(e + v.d[1]);
        v.dif[5] += std::abs(e - v.d[2]);
        v.dif[6] += std::abs(e + v.d[2]);
        v.dif[7] += std::abs(e - v.d[3]);
        v.dif[8] += std::abs(e + v.d[3]);
        v.dif[9] += std::abs(e - channelDelta);
        v.dif[10] += std::abs(e + channelDelta);
        channelDelta = v.lastDelta = static_cast<int8_t>(value - v.lastChar);
        v.lastChar = value;
        if ((v.byteCount & 0x1f) == 0) {
            unsigned minDif = v.dif[0];
            int best = 0;
            v.dif[0] = 0;
            for (int i = 1; i < 11; ++i) {
                if (v.dif[i] < minDif) {
                    minDif = v.dif[i];
                    best = i;
                }
                v.dif[i] = 0;
            }
            if (best > 0) {
                int& weight = v.k[(best - 1) / 2];
                if (best & 1) {
                    if (weight >= -16) --weight;
                } else {
                    if (weight < 16) ++weight;
                }
            }
        }
    }
};

} // namespace rar
