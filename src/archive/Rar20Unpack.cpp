#include "archive/Rar20Unpack.h"

#include <algorithm>
#include <cstring>

namespace rar {

struct Rar20Decoder::BitReader {
    const uint8_t* data;
    size_t size;
    size_t bitPos = 0;

    static uint64_t load64be(const uint8_t* p) {
        uint64_t v;
        memcpy(&v, p, 8);
        return __builtin_bswap64(v);
    }
    uint32_t peek16() const {
        return static_cast<uint32_t>((load64be(data + (bitPos >> 3)) << (bitPos & 7)) >> 48);
    }
    void skip(unsigned n) { bitPos += n; }
    uint32_t bits(unsigned n) { // 1..16
        uint32_t v = peek16() >> (16 - n);
        bitPos += n;
        return v;
    }
    bool overrun() const { return bitPos > size * 8; }
};

bool Rar20Decoder::Huffman::build(const uint8_t* lengths, int count) {
    uint32_t counts[kMaxCodeLength + 1] = {};
    for (int i = 0; i < count; ++i)
        counts[lengths[i] & 0xf]++;
    counts[0] = 0;
    uint32_t code = 0;
    uint32_t index = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + counts[len - 1]) << 1; // canonical: shorter codes first, then by symbol
        first[len] = code;
        offset[len] = index;
        index += counts[len];
        // An over-full code cannot come from a real encoder.
        if (code + counts[len] > (1u << len)) return false;
        limit[len] = (code + counts[len]) << (16 - len);
    }
    limit[kMaxCodeLength + 1] = 0x10000;
    uint32_t next[kMaxCodeLength + 1];
    memcpy(next, offset, sizeof(next));
    for (int i = 0; i < count; ++i)
        if (lengths[i]) sorted[next[lengths[i]]++] = static_cast<uint16_t>(i);

    memset(quick, 0, sizeof(quick));
    for (int len = 1; len <= kQuickBits; ++len) {
        for (uint32_t k = 0; k < counts[len]; ++k) {
            uint32_t sym = sorted[offset[len] + k];
            uint32_t start = (first[len] + k) << (kQuickBits - len);
            uint32_t span = 1u << (kQuickBits - len);
            uint16_t entry = static_cast<uint16_t>((sym << 4) | len);
            for (uint32_t e = 0; e < span; ++e)
                quick[start + e] = entry;
        }
    }
    return true;
}

inline int Rar20Decoder::Huffman::decode(BitReader& in) const {
    uint32_t window = in.peek16();
    uint16_t entry = quick[window >> (16 - kQuickBits)];
    if (entry) {
        in.skip(entry & 0xf);
        return entry >> 4;
    }
    for (int len = kQuickBits + 1; len <= kMaxCodeLength; ++len) {
        if (window < limit[len]) {
            uint32_t index = offset[len] + ((window >> (16 - len)) - first[len]);
            in.skip(len);
            return sorted[index];
        }
    }
    return -1; // not a code of this table
}

Rar20Decoder::Rar20Decoder() {
    resetState();
}

void Rar20Decoder::resetState() {
    memset(table, 0, sizeof(table));
    memset(oldTable, 0, sizeof(oldTable));
    tablesRead = false;
    audioBlock = false;
    channels = 1;
    curChannel = 0;
    audio.reset();
    memset(oldDist, 0, sizeof(oldDist));
    oldDistPtr = 0;
    lastDist = 0;
    lastLength = 0;
    history.clear();
}

bool Rar20Decoder::readTables(BitReader& in) {
    tablesRead = false; // until the whole set is in; a failure leaves no half-built tables in use
    uint32_t header = in.peek16();
    audioBlock = (header & 0x8000) != 0;
    if (!(header & 0x4000)) memset(oldTable, 0, sizeof(oldTable));
    in.skip(2);
    int tableSize;
    if (audioBlock) {
        channels = static_cast<int>((header >> 12) & 3) + 1;
        if (curChannel >= channels) curChannel = 0;
        in.skip(2);
        tableSize = kAudioCodes * channels;
    } else {
        tableSize = kLzTableSize;
    }
    uint8_t preLengths[kPreCodes];
    for (int i = 0; i < kPreCodes; ++i)
        preLengths[i] = static_cast<uint8_t>(in.bits(4));
    if (in.overrun()) return false;
    Huffman pre;
    if (!pre.build(preLengths, kPreCodes)) return false;
    int i = 0;
    while (i < tableSize) {
        if (in.overrun()) return false;
        int number = pre.decode(in);
        if (number < 0) return false;
        if (number < 16) {
            table[i] = static_cast<uint8_t>((number + oldTable[i]) & 0xf);
            ++i;
        } else if (number == 16) {
            if (i == 0) return false;
            int n = static_cast<int>(in.bits(2)) + 3;
            for (; n > 0 && i < tableSize; --n, ++i)
                table[i] = table[i - 1];
        } else {
            int n = number == 17 ? static_cast<int>(in.bits(3)) + 3 : static_cast<int>(in.bits(7)) + 11;
            for (; n > 0 && i < tableSize; --n, ++i)
                table[i] = 0;
        }
    }
    if (in.overrun()) return false;
    if (audioBlock) {
        for (int c = 0; c < channels; ++c)
            if (!audioCode[c].build(table + c * kAudioCodes, kAudioCodes)) return false;
    } else {
        if (!mainCode.build(table, kMainCodes) || !distCode.build(table + kMainCodes, kDistCodes) ||
            !repLenCode.build(table + kMainCodes + kDistCodes, kRepLenCodes))
            return false;
    }
    // Only this table's entries become the base of the next kept table: past its end the old
    // lengths stay as they were (zero after a table sent without the keep flag), as in unRAR.
    memcpy(oldTable, table, static_cast<size_t>(tableSize));
    tablesRead = true;
    return true;
}

void Rar20Decoder::keepHistory(const uint8_t* out, size_t outSize) {
    if (outSize >= kMaxDistance) {
        history.assign(out + outSize - kMaxDistance, out + outSize);
        return;
    }
    size_t keep = std::min(history.size(), static_cast<size_t>(kMaxDistance) - outSize);
    history.erase(history.begin(), history.end() - static_cast<std::ptrdiff_t>(keep));
    history.insert(history.end(), out, out + outSize);
}

bool Rar20Decoder::decode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool solid,
                          std::string* error) {
    auto fail = [&](const char* message) {
        if (error) *error = message;
        tablesRead = false; // a later solid member cannot continue from a broken stream
        return false;
    };
    if (!solid) resetState();
    // An empty member has nothing to decode (its packed data may well be empty too).
    if (outSize == 0) return true;
    BitReader bits{in, inSize};
    if (!tablesRead && !readTables(bits)) return fail("damaged compressed data (tables)");

    size_t pos = 0;
    const size_t histSize = history.size();
    while (pos < outSize) {
        if (bits.overrun()) return fail("compressed data ends early");
        if (audioBlock) {
            int number = audioCode[curChannel].decode(bits);
            if (number < 0) return fail("damaged compressed data");
            if (number == kAudioNewTable) {
                if (!readTables(bits)) return fail("damaged compressed data (tables)");
                continue;
            }
            int value = (audio.predict(curChannel) - number) & 0xff;
            audio.update(curChannel, number, value);
            out[pos++] = static_cast<uint8_t>(value);
            if (++curChannel == channels) curChannel = 0;
            continue;
        }

        int number = mainCode.decode(bits);
        if (number < 0) return fail("damaged compressed data");
        if (number < 256) {
            out[pos++] = static_cast<uint8_t>(number);
            continue;
        }
        uint32_t length, distance;
        if (number >= kSymMatch) {
            int slot = number - kSymMatch;
            length = kLengthBase[slot] + 3u;
            if (kLengthBits[slot]) length += bits.bits(kLengthBits[slot]);
            int distSlot = distCode.decode(bits);
            if (distSlot < 0) return fail("damaged compressed data");
            distance = kDistBase[distSlot] + 1;
            if (kDistBits[distSlot]) distance += bits.bits(kDistBits[distSlot]);
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000) ++length;
            }
        } else if (number == kSymNewTable) {
            if (!readTables(bits)) return fail("damaged compressed data (tables)");
            continue;
        } else if (number == kSymRepeatLast) {
            length = lastLength;
            distance = lastDist;
        } else if (number < kSymShort) {
            distance = oldDist[(oldDistPtr - static_cast<unsigned>(number - kSymRepeatLast)) & 3];
            int slot = repLenCode.decode(bits);
            if (slot < 0) return fail("damaged compressed data");
            length = kLengthBase[slot] + 2u;
            if (kLengthBits[slot]) length += bits.bits(kLengthBits[slot]);
            if (distance >= 0x101) {
                ++length;
                if (distance >= 0x2000) {
                    ++length;
                    if (distance >= 0x40000) ++length;
                }
            }
        } else {
            int slot = number - kSymShort;
            distance = kShortBase[slot] + 1u;
            if (kShortBits[slot]) distance += bits.bits(kShortBits[slot]);
            length = 2;
        }

        lastDist = oldDist[oldDistPtr++ & 3] = distance;
        lastLength = length;
        if (distance == 0 || distance > pos + histSize) return fail("damaged compressed data (distance)");
        size_t n = std::min<size_t>(length, outSize - pos);
        if (distance <= pos) {
            uint8_t* dst = out + pos;
            const uint8_t* src = dst - distance;
            if (distance >= n) {
                memcpy(dst, src, n);
            } else if (distance >= 8) {
                size_t i = 0;
                for (; i + 8 <= n; i += 8)
                    memcpy(dst + i, src + i, 8);
                for (; i < n; ++i)
                    dst[i] = src[i];
            } else {
                for (size_t i = 0; i < n; ++i)
                    dst[i] = src[i];
            }
        } else {
            // Reaches back into earlier members of the solid stream.
            for (size_t i = 0; i < n; ++i) {
                size_t at = pos + i;
                out[at] = at >= distance ? out[at - distance] : history[histSize - (distance - at)];
            }
        }
        pos += n;
    }
    if (bits.overrun()) return fail("compressed data ends early");

    // A table switch may follow the last byte of a member; the next solid member then starts with it.
    if (inSize >= (bits.bitPos >> 3) + 5) {
        int number = audioBlock ? audioCode[curChannel].decode(bits) : mainCode.decode(bits);
        // A failed read leaves tablesRead false, so the next member starts with a table of its own.
        if (number == (audioBlock ? kAudioNewTable : kSymNewTable)) readTables(bits);
    }
    keepHistory(out, outSize);
    return true;
}

} // namespace rar
