// Decoder for RAR 2.0 compressed data (unpack version 20/26): LZ77 with Huffman tables that
// may be kept between blocks, four repeated distances, and multimedia (audio delta) blocks.
// One decoder carries the state of a solid stream from member to member.
#pragma once

#include "archive/Rar20Codec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rar {

// Bytes past the end of the packed input that the decoder may read (they must be zero).
// Every step checks for overrun before reading more than this many bytes past the end.
constexpr size_t kInputPadding = 32;

class Rar20Decoder {
  public:
    Rar20Decoder();

    // Unpacks exactly `outSize` bytes. With `solid` false every state is reset first; with
    // `solid` true the dictionary, tables and distances continue from the previous call.
    // `in` must be followed by kInputPadding readable zero bytes. Returns false on damaged data.
    bool decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool solid,
                std::string* error);

    // Memory a copy of this decoder takes (a solid stream's saved state).
    size_t stateBytes() const { return sizeof(*this) + history.size(); }

  private:
    struct BitReader;
    struct Huffman {
        static constexpr int kQuickBits = 10;
        // Zero-filled: a table never built decodes nothing.
        uint16_t quick[1 << kQuickBits] = {}; // (symbol << 4) | length; 0 sends the look-up to the slow path
        uint32_t limit[kMaxCodeLength + 2] = {};
        uint32_t first[kMaxCodeLength + 1] = {};
        uint32_t offset[kMaxCodeLength + 1] = {};
        uint16_t sorted[kAudioCodes > kMainCodes ? kAudioCodes : kMainCodes] = {};
        bool build(const uint8_t* lengths, int count);
        int decode(BitReader& in) const;
    };

    void resetState();
    bool readTables(BitReader& in);
    void keepHistory(const uint8_t* out, size_t outSize);

    Huffman mainCode, distCode, repLenCode;
    Huffman audioCode[4];
    uint8_t table[kMaxTableSize];
    uint8_t oldTable[kMaxTableSize];
    bool tablesRead = false;
    bool audioBlock = false;
    int channels = 1;
    int curChannel = 0;
    AudioState audio;
    uint32_t oldDist[4];
    unsigned oldDistPtr = 0;
    uint32_t lastDist = 0;
    uint32_t lastLength = 0;
    // The last bytes of earlier members of a solid stream, for matches that reach back into them.
    std::vector<uint8_t> history;
};

} // namespace rar
