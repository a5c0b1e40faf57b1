#include "Rar20StreamGen.h"

#include "archive/Crc32.h"
#include "archive/Rar20Codec.h"
#include "archive/Rar20Crypt.h"
#include "archive/RarHeaderBytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace streamgen {

namespace {

using namespace rar;

const std::vector<std::string> kConstructs = {
    "literal",
    "match",
    "match length 260",
    "distance slot 47",
    "distance 1 MiB",
    "short distance",
    "old distance 1",
    "old distance 2",
    "old distance 3",
    "old distance 4",
    "repeat last",
    "table switch mid-member",
    "table switch ending a member",
    "table switch starting a member",
    "tables kept across solid members",
    "kept table",
    "kept table on first read",
    "pre-code repeat (16)",
    "pre-code zeros (17)",
    "pre-code long zeros (18)",
    "run past table end",
    "audio 1 channel",
    "audio 2 channels",
    "audio 3 channels",
    "audio 4 channels",
    "LZ to audio",
    "audio to LZ",
    "audio to audio",
    "empty block",
    "15-bit code",
    "solid member",
    "solid chain restart",
    "encrypted",
    "stored empty member",
    "predictor weight at limit",
    "channel index reset",
    "one-word code",
    "incomplete code",
    "member ends bare",
    "one-word pre-code",
    "incomplete pre-code",
    "solid flag on the first member",
    "same tables again",
    "kept table longer than the last",
    "kept table shorter than the last",
};

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9e3779b97f4a7c15ull + 0x2545f4914f6cdd1dull) {}
    uint32_t next() {
        uint64_t z = (s += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((static_cast<uint64_t>(next()) * n) >> 32); }
    uint32_t range(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); } // inclusive
    bool chance(double p) { return next() < p * 4294967296.0; }
};

class BitWriter {
  public:
    void put(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            acc = static_cast<uint8_t>((acc << 1) | ((value >> i) & 1));
            if (++count == 8) {
                out.push_back(acc);
                acc = 0;
                count = 0;
            }
        }
    }
    std::vector<uint8_t> take() {
        if (count) out.push_back(static_cast<uint8_t>(acc << (8 - count)));
        acc = 0;
        count = 0;
        std::vector<uint8_t> r;
        r.swap(out);
        return r;
    }

  private:
    std::vector<uint8_t> out;
    uint8_t acc = 0;
    unsigned count = 0;
};

// Table ids of symbols; a boundary marks the end of a member inside a block.
enum : int8_t { kBoundary = -1, kMain = 0, kDist = 1, kRepLen = 2, kAudio0 = 3 };

struct Sym {
    int8_t table;
    uint16_t code;
    uint8_t bits;
    uint32_t extra;
};

// A complete prefix code of random shape over `used` (at least two symbols): leaves are split
// at random, now and then always the deepest one, so lengths reach the 15-bit limit.
// Negative entries of `used` are leaves left without a symbol: the code is then incomplete.
void randomShape(Rng& rng, std::vector<int> used, uint8_t* lengths, int n) {
    memset(lengths, 0, static_cast<size_t>(n));
    if (used.empty()) return;
    std::vector<uint8_t> depth(1, 0);
    int mode = static_cast<int>(rng.below(3)); // 0 random, 1 deepest first, 2 shallowest first
    while (depth.size() < used.size()) {
        size_t pick = 0;
        if (mode == 1) {
            for (size_t i = 0; i < depth.size(); ++i)
                if (depth[i] < kMaxCodeLength && (depth[pick] >= kMaxCodeLength || depth[i] > depth[pick]))
                    pick = i;
            if (rng.chance(0.3)) mode = 0;
        } else if (mode == 2) {
            for (size_t i = 0; i < depth.size(); ++i)
                if (depth[i] < depth[pick]) pick = i;
        } else {
            do
                pick = rng.below(static_cast<uint32_t>(depth.size()));
            while (depth[pick] >= kMaxCodeLength);
        }
        depth[pick]++;
        depth.push_back(depth[pick]);
    }
    for (size_t i = used.size(); i > 1; --i)
        std::swap(used[i - 1], used[rng.below(static_cast<uint32_t>(i))]);
    for (size_t i = 0; i < used.size(); ++i)
        if (used[i] >= 0) lengths[used[i]] = depth[i];
}

class Generator {
  public:
    Generator(uint32_t seed, const Options& o, Tally* t) : rng(seed), opt(o), tally(t) {}

    Archive run() {
        plan();
        produce();
        wrap();
        return std::move(ar);
    }

  private:
    struct Block {
        bool audio = false;
        int channels = 1;
        uint8_t lengths[kMaxTableSize] = {};
        bool sameAgain = false; // the tables before, sent again as kept-table deltas of zero
    };

    void count(const std::string& what, uint64_t n = 1) {
        if (tally) (*tally)[what] += n;
    }

    // ---- what the archive holds -------------------------------------------------------------

    void plan() {
        static const char* passwords[] = {"tolvrask", "abc", "a longer pass phrase!", "x"};
        ar.solid = rng.chance(0.6);
        if (rng.chance(0.5)) ar.password = passwords[rng.below(4)];
        ar.unpackVersion = rng.chance(0.8) ? 20 : 26;
        bool large = opt.allowLarge && rng.chance(0.12);
        ar.dictFlags = large || rng.chance(0.6) ? 0x80 : static_cast<uint16_t>(rng.below(4) << 5);
        dictSize = 0x10000u << (ar.dictFlags >> 5);

        int n = static_cast<int>(rng.range(1, 5));
        size_t total = 0;
        for (int i = 0; i < n; ++i) {
            size_t size;
            if (large)
                size = ar.solid ? rng.range(300000, 700000) : rng.range(1100000, 1400000);
            else if (rng.chance(0.25))
                size = rng.range(1, 40);
            else
                size = rng.range(1, static_cast<uint32_t>(std::max<size_t>(opt.maxMemberSize, 2)));
            total += size;
            ends.push_back(total);
            solidAt.push_back(ar.solid && i > 0 && rng.chance(0.85));
        }
        if (large && ar.solid && total < 1200000) {
            ends.back() += 1200000 - total;
        }
        // Block shapes and symbol mix differ from archive to archive.
        pAudio = std::vector<double>{0.0, 0.25, 0.6}[rng.below(3)];
        pKeep = rng.chance(0.5) ? 0.5 : 0.1;
        pStopAtBoundary = rng.chance(0.5) ? 0.7 : 0.2;
        blockScale = std::vector<uint32_t>{8, 300, 5000, 60000}[rng.below(4)];
        pFar = large ? 0.02 : 0.0;
    }

    // ---- the decoder's state, as the generator tracks it ------------------------------------

    void resetModel() {
        streamStart = out.size();
        memset(oldDist, 0, sizeof(oldDist));
        distPtr = 0;
        lastDist = lastLength = 0;
        audio.reset();
        curChannel = 0;
        memset(table, 0, sizeof(table));
        lastSize = 0;
        tablesActive = false;
        blockAudio = false;
        blockChannels = 1;
        memset(lengths, 0, sizeof(lengths));
    }

    uint32_t available() const {
        return static_cast<uint32_t>(std::min<size_t>(out.size() - streamStart, dictSize));
    }

    void copyMatch(uint32_t length, uint32_t distance) {
        lastDist = oldDist[distPtr++ & 3] = distance;
        lastLength = length;
        for (uint32_t i = 0; i < length; ++i)
            out.push_back(out[out.size() - distance]);
    }

    // A length value v (0..vmax, vmax <= 255) as a slot and its extra bits.
    void lengthSlot(uint32_t vmax, int& slot, uint32_t& extra) {
        if (vmax == 255 && rng.chance(0.05)) {
            slot = 27;
            extra = 31;
            return;
        }
        int top = 0;
        while (top + 1 < 28 && kLengthBase[top + 1] <= vmax)
            ++top;
        slot = static_cast<int>(rng.below(static_cast<uint32_t>(top + 1)));
        uint32_t maxExtra = std::min<uint32_t>((1u << kLengthBits[slot]) - 1, vmax - kLengthBase[slot]);
        extra = rng.below(maxExtra + 1);
    }

    bool lzMatch(std::vector<Sym>& syms, uint32_t remaining, uint32_t avail) {
        int dslot;
        uint32_t dextra;
        if (avail >= kMaxDistance && rng.chance(pFar)) {
            dslot = 47;
            dextra = 0xffff;
        } else {
            int top = 0;
            while (top + 1 < 48 && kDistBase[top + 1] + 1 <= avail)
                ++top;
            dslot = static_cast<int>(rng.below(static_cast<uint32_t>(top + 1)));
            uint32_t maxExtra =
                std::min<uint32_t>((1u << kDistBits[dslot]) - 1, avail - kDistBase[dslot] - 1);
            dextra = rng.below(maxExtra + 1);
        }
        uint32_t dist = kDistBase[dslot] + 1 + dextra;
        uint32_t adj = (dist >= 0x2000) + (dist >= 0x40000);
        if (remaining < 3 + adj) return false;
        int lslot;
        uint32_t lextra;
        lengthSlot(std::min<uint32_t>(255, remaining - 3 - adj), lslot, lextra);
        uint32_t length = kLengthBase[lslot] + lextra + 3 + adj;
        syms.push_back({kMain, static_cast<uint16_t>(kSymMatch + lslot), kLengthBits[lslot], lextra});
        syms.push_back({kDist, static_cast<uint16_t>(dslot), kDistBits[dslot], dextra});
        count("match");
        if (length == 260) count("match length 260");
        if (dslot == 47) count("distance slot 47");
        if (dist == kMaxDistance) count("distance 1 MiB");
        copyMatch(length, dist);
        return true;
    }

    bool lzShort(std::vector<Sym>& syms, uint32_t remaining, uint32_t avail) {
        if (remaining < 2) return false;
        int top = 0;
        while (top + 1 < 8 && kShortBase[top + 1] + 1u <= avail)
            ++top;
        int slot = static_cast<int>(rng.below(static_cast<uint32_t>(top + 1)));
        uint32_t maxExtra = std::min<uint32_t>((1u << kShortBits[slot]) - 1, avail - kShortBase[slot] - 1);
        uint32_t extra = rng.below(maxExtra + 1);
        syms.push_back({kMain, static_cast<uint16_t>(kSymShort + slot), kShortBits[slot], extra});
        count("short distance");
        copyMatch(2, kShortBase[slot] + 1 + extra);
        return true;
    }

    bool lzOld(std::vector<Sym>& syms, uint32_t remaining, uint32_t avail) {
        int k = static_cast<int>(rng.range(1, 4));
        uint32_t dist = oldDist[(distPtr - static_cast<unsigned>(k)) & 3];
        if (dist == 0 || dist > avail) return false;
        uint32_t adj = (dist >= 0x101) + (dist >= 0x2000) + (dist >= 0x40000);
        if (remaining < 2 + adj) return false;
        int lslot;
        uint32_t lextra;
        lengthSlot(std::min<uint32_t>(255, remaining - 2 - adj), lslot, lextra);
        syms.push_back({kMain, static_cast<uint16_t>(kSymRepeatLast + k), 0, 0});
        syms.push_back({kRepLen, static_cast<uint16_t>(lslot), kLengthBits[lslot], lextra});
        count("old distance " + std::to_string(k));
        copyMatch(kLengthBase[lslot] + lextra + 2 + adj, dist);
        return true;
    }

    bool lzRepeat(std::vector<Sym>& syms, uint32_t remaining, uint32_t avail) {
        if (lastDist == 0 || lastDist > avail || lastLength > remaining) return false;
        syms.push_back({kMain, static_cast<uint16_t>(kSymRepeatLast), 0, 0});
        count("repeat last");
        copyMatch(lastLength, lastDist);
        return true;
    }

    void lzSymbol(std::vector<Sym>& syms, uint32_t remaining) {
        uint32_t avail = available();
        uint32_t r = rng.below(100);
        bool done = false;
        if (avail > 0) {
            if (r < 30)
                done = lzMatch(syms, remaining, avail);
            else if (r < 40)
                done = lzShort(syms, remaining, avail);
            else if (r < 55)
                done = lzOld(syms, remaining, avail);
            else if (r < 62)
                done = lzRepeat(syms, remaining, avail);
        }
        if (done) return;
        uint8_t byte;
        switch (literalMode) {
        case 0:
            byte = static_cast<uint8_t>(rng.next());
            break;
        case 1:
            byte = static_cast<uint8_t>('a' + rng.below(16));
            break;
        default:
            byte = static_cast<uint8_t>(rng.chance(0.9) ? rng.below(4) : rng.next());
            break;
        }
        syms.push_back({kMain, byte, 0, 0});
        count("literal");
        out.push_back(byte);
    }

    void audioSymbol(std::vector<Sym>& syms, int channels) {
        int ch = curChannel;
        int predicted = audio.predict(ch);
        int value;
        switch (audioMode) {
        case 0: { // small prediction errors
            int magnitude = static_cast<int>(rng.below(1u << rng.below(8)));
            value = (predicted - (rng.chance(0.5) ? magnitude : -magnitude)) & 0xff;
            break;
        }
        case 1: { // a tone per channel with a little noise
            phase[ch] += 0.03 + 0.02 * ch;
            value = (128 + static_cast<int>(std::lround(100 * std::sin(phase[ch]))) +
                     static_cast<int>(rng.below(5)) - 2) &
                    0xff;
            break;
        }
        default:
            value = static_cast<int>(rng.below(256));
            break;
        }
        int delta = (predicted - value) & 0xff;
        audio.update(ch, delta, value);
        for (int k : audio.channels[ch].k)
            if (k == 16 || k == -17) count("predictor weight at limit");
        syms.push_back({static_cast<int8_t>(kAudio0 + ch), static_cast<uint16_t>(delta), 0, 0});
        out.push_back(static_cast<uint8_t>(value));
        if (++curChannel == channels) curChannel = 0;
    }

    // Symbols of one block; crosses into following solid members (leaving boundary marks) or stops
    // at a member's end. Returns with out.size() == ends[member] when it stopped at an end.
    void blockSymbols(const Block& b, uint32_t target, std::vector<Sym>& syms) {
        for (uint32_t n = 0; n < target; ++n) {
            if (out.size() == ends[member]) {
                if (member + 1 == ends.size() || !solidAt[member + 1] || rng.chance(pStopAtBoundary)) return;
                syms.push_back({kBoundary, 0, 0, 0});
                ++member;
            }
            uint32_t remaining = static_cast<uint32_t>(ends[member] - out.size());
            bool cross =
                opt.probeCrossing && member + 1 < ends.size() && solidAt[member + 1] && rng.chance(0.3);
            if (cross) remaining += static_cast<uint32_t>(ends[member + 1] - ends[member] - 1);
            if (b.audio)
                audioSymbol(syms, b.channels);
            else
                lzSymbol(syms, remaining);
            if (out.size() > ends[member]) { // a match ran on into the next member
                count("probe: match across members");
                syms.push_back({kBoundary, 0, 0, 0});
                ++member;
            }
        }
    }

    // Code lengths for the block: every symbol it uses, the table switch, and at times unused ones.
    void planLengths(Block& b, const std::vector<Sym>& syms) {
        auto shape = [&](int table, int offset, int size, int extraSym) {
            std::vector<bool> used(static_cast<size_t>(size), false);
            for (const Sym& s : syms)
                if (s.table == table) used[s.code] = true;
            if (extraSym >= 0) used[static_cast<size_t>(extraSym)] = true;
            int extras = rng.chance(0.3) ? static_cast<int>(rng.below(static_cast<uint32_t>(size))) : 0;
            for (int i = 0; i < extras; ++i)
                used[rng.below(static_cast<uint32_t>(size))] = true;
            std::vector<int> list;
            for (int i = 0; i < size; ++i)
                if (used[static_cast<size_t>(i)]) list.push_back(i);
            bool incomplete = rng.chance(0.1);
            // A one-word code (one 1-bit code word); tables with the switch code always get a
            // second word so a member can end on a code that is not the switch.
            if (list.size() == 1 && incomplete && extraSym < 0) {
                memset(b.lengths + offset, 0, static_cast<size_t>(size));
                b.lengths[offset + list[0]] = 1;
                count("one-word code");
                return;
            }
            if (list.size() == 1) { // or a partner for it
                int other =
                    (list[0] + 1 + static_cast<int>(rng.below(static_cast<uint32_t>(size - 1)))) % size;
                list.push_back(other);
            }
            if (incomplete && !list.empty()) { // code words left unused
                int unused = static_cast<int>(rng.range(1, 8));
                for (int k = 0; k < unused; ++k)
                    list.push_back(-1);
                count("incomplete code");
            }
            randomShape(rng, list, b.lengths + offset, size);
        };
        if (b.audio) {
            for (int c = 0; c < b.channels; ++c)
                shape(kAudio0 + c, c * kAudioCodes, kAudioCodes, kAudioNewTable);
        } else {
            shape(kMain, 0, kMainCodes, kSymNewTable);
            shape(kDist, kMainCodes, kDistCodes, -1);
            shape(kRepLen, kMainCodes + kDistCodes, kRepLenCodes, -1);
        }
        int size = b.audio ? kAudioCodes * b.channels : kLzTableSize;
        for (int i = 0; i < size; ++i)
            if (b.lengths[i] == kMaxCodeLength) {
                count("15-bit code");
                break;
            }
    }

    // ---- writing ----------------------------------------------------------------------------

    int tableOffset(int8_t table) const {
        if (table >= kAudio0) return (table - kAudio0) * kAudioCodes;
        return table == kMain ? 0 : table == kDist ? kMainCodes : kMainCodes + kDistCodes;
    }

    void putSymbol(int index) { w.put(codes[index], lengths[index]); }

    void writeSwitch(int channel) {
        putSymbol(blockAudio ? channel * kAudioCodes + kAudioNewTable : kSymNewTable);
    }

    void writeTables(const Block& b) {
        const int size = b.audio ? kAudioCodes * b.channels : kLzTableSize;
        bool keep = b.sameAgain || rng.chance(pKeep);
        if (keep) count(tablesActive ? "kept table" : "kept table on first read");
        if (keep && tablesActive && size > lastSize) count("kept table longer than the last");
        if (keep && tablesActive && size < lastSize) count("kept table shorter than the last");
        lastSize = size;
        if (tablesActive) {
            if (blockAudio && b.audio) count("audio to audio");
            if (blockAudio && !b.audio) count("audio to LZ");
            if (!blockAudio && b.audio) count("LZ to audio");
        }
        if (b.audio)
            count(b.channels == 1 ? "audio 1 channel" : "audio " + std::to_string(b.channels) + " channels");

        struct Item {
            uint8_t sym, bits, value;
        };
        std::vector<Item> items;
        const uint8_t* L = b.lengths;
        double pRuns = rng.chance(0.2) || b.sameAgain ? 0.0 : 0.7;
        if (b.sameAgain) count("same tables again");
        for (int i = 0; i < size;) {
            auto runOf = [&](uint8_t v) {
                int r = 0;
                while (i + r < size && L[i + r] == v)
                    ++r;
                return r;
            };
            int left = size - i;
            if (L[i] == 0) {
                int z = runOf(0);
                if (z >= 11 && rng.chance(pRuns)) {
                    int hi = std::min(138, z == left ? 138 : z);
                    int n = static_cast<int>(rng.range(11, static_cast<uint32_t>(hi)));
                    items.push_back({18, 7, static_cast<uint8_t>(n - 11)});
                    count("pre-code long zeros (18)");
                    if (n > left) count("run past table end");
                    i += std::min(n, left);
                    continue;
                }
                if (z >= 3 && rng.chance(pRuns)) {
                    int hi = std::min(10, z == left ? 10 : z);
                    int n = static_cast<int>(rng.range(3, static_cast<uint32_t>(hi)));
                    items.push_back({17, 3, static_cast<uint8_t>(n - 3)});
                    count("pre-code zeros (17)");
                    if (n > left) count("run past table end");
                    i += std::min(n, left);
                    continue;
                }
            }
            if (i > 0) {
                int r = runOf(L[i - 1]);
                if (r >= 3 && rng.chance(pRuns)) {
                    int hi = std::min(6, r == left ? 6 : r);
                    int n = static_cast<int>(rng.range(3, static_cast<uint32_t>(hi)));
                    items.push_back({16, 2, static_cast<uint8_t>(n - 3)});
                    count("pre-code repeat (16)");
                    if (n > left) count("run past table end");
                    i += std::min(n, left);
                    continue;
                }
            }
            uint8_t old = keep ? table[i] : 0;
            items.push_back({static_cast<uint8_t>((L[i] - old) & 0xf), 0, 0});
            ++i;
        }
        std::vector<int> used;
        bool seen[kPreCodes] = {};
        for (const Item& it : items)
            seen[it.sym] = true;
        int extras = rng.chance(0.3) ? static_cast<int>(rng.below(6)) : 0;
        for (int k = 0; k < extras; ++k)
            seen[rng.below(kPreCodes)] = true;
        for (int s = 0; s < kPreCodes; ++s)
            if (seen[s]) used.push_back(s);
        uint8_t preLengths[kPreCodes];
        uint16_t preCodes[kPreCodes];
        if (used.size() == 1 && rng.chance(0.5)) {
            memset(preLengths, 0, sizeof(preLengths));
            preLengths[used[0]] = 1;
            count("one-word pre-code");
        } else {
            if (used.size() == 1) used.push_back((used[0] + 1) % kPreCodes);
            if (rng.chance(0.1)) {
                used.push_back(-1);
                count("incomplete pre-code");
            }
            randomShape(rng, used, preLengths, kPreCodes);
        }
        canonicalCodes(preLengths, kPreCodes, preCodes);

        w.put(b.audio ? 1 : 0, 1);
        w.put(keep ? 1 : 0, 1);
        if (b.audio) w.put(static_cast<uint32_t>(b.channels - 1), 2);
        for (int s = 0; s < kPreCodes; ++s)
            w.put(preLengths[s], 4);
        for (const Item& it : items) {
            w.put(preCodes[it.sym], preLengths[it.sym]);
            w.put(it.value, it.bits);
        }

        // The decoder now holds these lengths (entries past `size` keep what they had).
        // The lengths a later kept table is coded against: cleared by a table sent without the
        // keep flag, then this table's entries (past them the earlier ones stay).
        if (!keep) memset(table, 0, sizeof(table));
        memcpy(table, L, static_cast<size_t>(size));
        memcpy(lengths, L, sizeof(lengths));
        if (b.audio) {
            for (int c = 0; c < b.channels; ++c)
                canonicalCodes(lengths + c * kAudioCodes, kAudioCodes, codes + c * kAudioCodes);
        } else {
            canonicalCodes(lengths, kMainCodes, codes);
            canonicalCodes(lengths + kMainCodes, kDistCodes, codes + kMainCodes);
            canonicalCodes(lengths + kMainCodes + kDistCodes, kRepLenCodes, codes + kMainCodes + kDistCodes);
        }
        blockAudio = b.audio;
        blockChannels = b.channels;
        tablesActive = true;
        if (b.audio && writeChannel >= b.channels) writeChannel = 0;
    }

    // Ends the member being written. Decoders look at the code after a member's last symbol
    // (a table switch there belongs to the next member), so unless a switch was just written
    // one code that is not a switch follows.
    void finishMember(bool trailer) {
        int offset = blockAudio ? writeChannel * kAudioCodes : 0;
        int skip = blockAudio ? kAudioNewTable : kSymNewTable;
        int n = blockAudio ? kAudioCodes : kMainCodes;
        if (trailer && tablesActive && rng.chance(0.3)) {
            // No code after the last symbol: what follows is zero bits, and all-zero bits are the
            // first code word of the table, which may stand there when it is not the switch.
            int zeroWord = -1;
            for (int s = 0; s < n; ++s)
                if (lengths[offset + s] && codes[offset + s] == 0) zeroWord = s;
            if (zeroWord != skip) {
                trailer = false;
                count("member ends bare");
            }
        }
        if (trailer && tablesActive) {
            std::vector<int> candidates;
            for (int s = 0; s < n; ++s)
                if (s != skip && lengths[offset + s]) candidates.push_back(offset + s);
            putSymbol(candidates[rng.below(static_cast<uint32_t>(candidates.size()))]);
        }
        stream[written++].packed = w.take();
    }

    void writeSymbols(const std::vector<Sym>& syms) {
        for (const Sym& s : syms) {
            if (s.table == kBoundary) {
                count("tables kept across solid members");
                finishMember(true);
                continue;
            }
            putSymbol(tableOffset(s.table) + s.code);
            if (s.bits) w.put(s.extra, s.bits);
            if (s.table >= kAudio0 && ++writeChannel == blockChannels) writeChannel = 0;
        }
    }

    void produce() {
        stream.resize(ends.size());
        resetModel();
        writeChannel = 0;
        bool pendingBoundary =
            false; // the last block ended exactly at the end of a solid member's predecessor
        while (true) {
            Block b;
            b.audio = rng.chance(pAudio);
            if (b.audio) {
                b.channels = static_cast<int>(rng.range(1, 4));
                // The next channel index falls back to 0 when the new block has fewer channels.
                if (curChannel >= b.channels) {
                    curChannel = 0;
                    count("channel index reset");
                }
            }
            literalMode = static_cast<int>(rng.below(3));
            audioMode = static_cast<int>(rng.below(3));
            uint32_t target = rng.chance(0.03) ? 0 : rng.range(1, blockScale);
            int switchChannel = writeChannel;
            std::vector<Sym> syms;
            blockSymbols(b, target, syms);
            planLengths(b, syms);
            if (syms.empty()) count("empty block");
            if (tablesActive && b.audio == blockAudio && b.channels == blockChannels && rng.chance(0.05)) {
                bool fits = true;
                for (const Sym& sym : syms)
                    if (sym.table != kBoundary && !lengths[tableOffset(sym.table) + sym.code]) fits = false;
                if (fits) {
                    memcpy(b.lengths, lengths, sizeof(b.lengths));
                    b.sameAgain = true;
                }
            }

            if (pendingBoundary) {
                if (rng.chance(0.5)) {
                    writeSwitch(switchChannel);
                    count("table switch ending a member");
                    writeTables(b);
                    finishMember(false);
                } else {
                    finishMember(true);
                    writeSwitch(switchChannel);
                    count("table switch starting a member");
                    writeTables(b);
                }
                pendingBoundary = false;
            } else {
                if (tablesActive) {
                    writeSwitch(switchChannel);
                    count("table switch mid-member");
                }
                writeTables(b);
            }
            writeSymbols(syms);

            if (out.size() != ends[member]) continue;
            if (member + 1 == ends.size()) {
                finishMember(true);
                break;
            }
            ++member;
            if (solidAt[member]) {
                pendingBoundary = true;
            } else {
                finishMember(true);
                if (ar.solid) count("solid chain restart");
                resetModel();
                writeChannel = 0;
            }
        }
        size_t from = 0;
        for (size_t i = 0; i < stream.size(); ++i) {
            stream[i].data.assign(out.begin() + static_cast<std::ptrdiff_t>(from),
                                  out.begin() + static_cast<std::ptrdiff_t>(ends[i]));
            stream[i].solid = solidAt[i];
            if (solidAt[i]) count("solid member");
            from = ends[i];
        }
    }

    // ---- the archive ------------------------------------------------------------------------

    void wrap() {
        // Empty members now and then, stored as RAR stores them (outside the stream).
        for (size_t i = 0; i < stream.size(); ++i) {
            if (rng.chance(0.1)) {
                Member empty;
                empty.stored = true;
                ar.members.push_back(empty);
                count("stored empty member");
            }
            ar.members.push_back(std::move(stream[i]));
        }
        if (!ar.password.empty()) count("encrypted");
        size_t firstPacked = 0;
        while (firstPacked < ar.members.size() && ar.members[firstPacked].stored)
            ++firstPacked;
        std::vector<uint8_t>& img = ar.image;
        static const uint8_t marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1a, 0x07, 0x00};
        img.assign(marker, marker + 7);
        std::vector<uint8_t> h = {0, 0, 0x73};
        put16(h, ar.solid ? 0x0008 : 0);
        put16(h, 13);
        put16(h, 0);
        put32(h, 0);
        sealHeader(h);
        img.insert(img.end(), h.begin(), h.end());
        for (size_t i = 0; i < ar.members.size(); ++i) {
            Member& m = ar.members[i];
            m.name = "gen\\part" + std::to_string(i) + ".bin";
            std::vector<uint8_t> body = m.packed;
            uint16_t fileFlags = 0x8000;
            if (!m.stored) fileFlags |= ar.dictFlags | (m.solid ? 0x0010 : 0);
            // The first member of a solid archive may carry the solid flag too: nothing before
            // it to continue, so the stream starts fresh.
            if (!m.stored && ar.solid && !m.solid && i == firstPacked && rng.chance(0.3)) {
                fileFlags |= 0x0010;
                count("solid flag on the first member");
            }
            if (!ar.password.empty()) {
                fileFlags |= 0x0004;
                body.resize((body.size() + 15) & ~static_cast<size_t>(15), 0);
                std::unique_ptr<Rar20Cipher> cipher(new Rar20Cipher(ar.password.c_str()));
                cipher->encrypt(body.data(), body.size());
            }
            h.assign({0, 0, 0x74});
            put16(h, fileFlags);
            put16(h, static_cast<uint32_t>(32 + m.name.size()));
            put32(h, static_cast<uint32_t>(body.size()));
            put32(h, static_cast<uint32_t>(m.data.size()));
            h.push_back(2);
            put32(h, crc32Update(0, m.data.data(), m.data.size()));
            put32(h, 0x5a210000);
            h.push_back(ar.unpackVersion);
            h.push_back(m.stored ? 0x30 : static_cast<uint8_t>(rng.range(0x31, 0x35)));
            put16(h, static_cast<uint32_t>(m.name.size()));
            put32(h, 0x20);
            h.insert(h.end(), m.name.begin(), m.name.end());
            sealHeader(h);
            img.insert(img.end(), h.begin(), h.end());
            img.insert(img.end(), body.begin(), body.end());
        }
    }

    Rng rng;
    Options opt;
    Tally* tally;
    Archive ar;
    std::vector<Member> stream; // the compressed members in order
    std::vector<size_t> ends;   // where each compressed member ends in `out`
    std::vector<bool> solidAt;
    size_t member = 0;  // member the symbols being generated belong to
    size_t written = 0; // member the bit writer fills
    std::vector<uint8_t> out;
    size_t streamStart = 0;
    uint32_t dictSize = kMaxDistance;

    double pAudio = 0, pKeep = 0, pStopAtBoundary = 0, pFar = 0;
    uint32_t blockScale = 100;
    int literalMode = 0, audioMode = 0;
    double phase[4] = {};

    uint32_t oldDist[4] = {};
    unsigned distPtr = 0;
    uint32_t lastDist = 0, lastLength = 0;
    AudioState audio{};
    int curChannel = 0;   // channel of the next audio symbol while generating
    int writeChannel = 0; // the same while writing (generation runs one block ahead)
    uint8_t table[kMaxTableSize] = {};
    int lastSize = 0; // size of the table read last
    bool tablesActive = false;
    bool blockAudio = false;
    int blockChannels = 1;
    uint8_t lengths[kMaxTableSize] = {};
    uint16_t codes[kMaxTableSize] = {};
    BitWriter w;
};

} // namespace

Archive generate(uint32_t seed, const Options& options, Tally* tally) {
    return Generator(seed, options, tally).run();
}

const std::vector<std::string>& constructNames() {
    return kConstructs;
}

} // namespace streamgen
