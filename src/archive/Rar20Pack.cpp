#include "archive/Rar20Pack.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <queue>

namespace rar {

namespace {

constexpr uint32_t kWindowBits = 20;
constexpr uint32_t kWindow = 1u << kWindowBits;
constexpr uint32_t kWindowMask = kWindow - 1;
// Kept a little under the format's limit so no decoder's window wrap is ever in question.
constexpr uint32_t kMaxMatchDistance = kWindow - 512;
constexpr uint32_t kMaxMatch = 257;
constexpr uint32_t kNiceMatch = 128;
constexpr uint32_t kHashBits = 17;
constexpr uint32_t kNone = 0xffffffffu;

enum TableId : uint8_t { kMain = 0, kDist = 1, kRepLen = 2, kAudio0 = 3 };

struct Token {
    uint16_t code;
    uint8_t table;
    uint8_t extraBits;
    uint32_t extra;
};

struct LzState {
    uint32_t oldDist[4] = {0, 0, 0, 0};
    unsigned oldDistPtr = 0;
    uint32_t lastDist = 0;
    uint32_t lastLength = 0;
};

class BitWriter {
  public:
    void put(uint32_t value, unsigned n) {
        if (n == 0) return;
        acc = (acc << n) | (value & ((1u << n) - 1));
        count += n;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(acc >> (count - 8)));
            count -= 8;
        }
    }
    void flush() {
        if (count) out.push_back(static_cast<uint8_t>(acc << (8 - count)));
        count = 0;
        acc = 0;
    }
    size_t bitCount() const { return out.size() * 8 + count; }
    std::vector<uint8_t> out;

  private:
    uint64_t acc = 0;
    unsigned count = 0;
};

// Huffman code lengths limited to kMaxCodeLength. A table with a single used symbol gets a
// partner so every code has at least two words (decoders differ on one-word codes).
void buildLengths(const uint32_t* freq, int n, uint8_t* lengths) {
    std::vector<uint32_t> f(freq, freq + n);
    int used = 0;
    for (int i = 0; i < n; ++i)
        used += f[i] != 0;
    if (used == 0) {
        memset(lengths, 0, n);
        return;
    }
    if (used == 1) {
        for (int i = 0; i < n; ++i)
            if (!f[i]) {
                f[i] = 1;
                break;
            }
    }
    for (;;) {
        struct Node {
            uint64_t weight;
            int index;
        };
        auto cmp = [](const Node& a, const Node& b) {
            return a.weight != b.weight ? a.weight > b.weight : a.index > b.index;
        };
        std::priority_queue<Node, std::vector<Node>, decltype(cmp)> heap(cmp);
        std::vector<int> parent(2 * n, -1);
        int next = n;
        for (int i = 0; i < n; ++i)
            if (f[i]) heap.push({f[i], i});
        while (heap.size() > 1) {
            Node a = heap.top();
            heap.pop();
            Node b = heap.top();
            heap.pop();
            parent[a.index] = next;
            parent[b.index] = next;
            heap.push({a.weight + b.weight, next});
            ++next;
        }
        int maxLen = 0;
        for (int i = 0; i < n; ++i) {
            int len = 0;
            if (f[i])
                for (int p = i; parent[p] >= 0; p = parent[p])
                    ++len;
            lengths[i] = static_cast<uint8_t>(len);
            maxLen = std::max(maxLen, len);
        }
        if (maxLen <= kMaxCodeLength) return;
        for (int i = 0; i < n; ++i)
            if (f[i]) f[i] = (f[i] >> 1) | 1;
    }
}

// Writes the block header and the code lengths of `table` (`size` entries) through the pre-code.
// With `old` the lengths go as differences to the previous table of the same kind (the format's
// table reuse); `runs` allows the run-length codes.
void writeTables(BitWriter& w, bool audio, int channels, const uint8_t* table, int size, const uint8_t* old,
                 bool runs) {
    struct Item {
        uint8_t sym;
        uint8_t bits;
        uint8_t value;
    };
    std::vector<Item> items;
    for (int i = 0; i < size;) {
        uint8_t v = table[i];
        auto literal = [&](int at) {
            return static_cast<uint8_t>(old ? (table[at] - old[at]) & 0xf : table[at]);
        };
        int run = 1;
        while (runs && i + run < size && table[i + run] == v)
            ++run;
        if (v == 0 && run >= 3) {
            int r = std::min(run, 138);
            if (r >= 11)
                items.push_back({18, 7, static_cast<uint8_t>(r - 11)});
            else
                items.push_back({17, 3, static_cast<uint8_t>(r - 3)});
            i += r;
            continue;
        }
        items.push_back({literal(i), 0, 0});
        ++i;
        int rest = run - 1;
        while (rest >= 3) {
            int r = std::min(rest, 6);
            items.push_back({16, 2, static_cast<uint8_t>(r - 3)});
            rest -= r;
            i += r;
        }
        for (; rest > 0; --rest, ++i)
            items.push_back({literal(i), 0, 0});
    }
    uint32_t freq[kPreCodes] = {};
    for (const Item& it : items)
        freq[it.sym]++;
    uint8_t lengths[kPreCodes];
    buildLengths(freq, kPreCodes, lengths);
    uint16_t codes[kPreCodes];
    canonicalCodes(lengths, kPreCodes, codes);

    w.put(audio ? 1 : 0, 1);
    w.put(old ? 1 : 0, 1);
    if (audio) w.put(static_cast<uint32_t>(channels - 1), 2);
    for (int i = 0; i < kPreCodes; ++i)
        w.put(lengths[i], 4);
    for (const Item& it : items) {
        w.put(codes[it.sym], lengths[it.sym]);
        w.put(it.value, it.bits);
    }
}

struct SlotTables {
    uint8_t lengthSlot[256];
    uint8_t shortSlot[256];
    SlotTables() {
        for (int s = 0; s < 28; ++s)
            for (int v = kLengthBase[s]; v < kLengthBase[s] + (1 << kLengthBits[s]) && v < 256; ++v)
                lengthSlot[v] = static_cast<uint8_t>(s);
        for (int s = 0; s < 8; ++s)
            for (int v = kShortBase[s]; v < kShortBase[s] + (1 << kShortBits[s]) && v < 256; ++v)
                shortSlot[v] = static_cast<uint8_t>(s);
    }
};
const SlotTables& slots() {
    static const SlotTables t;
    return t;
}

inline int distSlot(uint32_t d) { // d = distance - 1
    if (d < 4) return static_cast<int>(d);
    if (d < 262144) {
        int b = 31 - __builtin_clz(d);
        return 2 * b + static_cast<int>((d >> (b - 1)) & 1);
    }
    return 36 + static_cast<int>((d - 262144) >> 16);
}

inline uint32_t matchAdjust(uint32_t d) {
    return (d >= 0x2000) + (d >= 0x40000);
}
inline uint32_t repAdjust(uint32_t d) {
    return (d >= 0x101) + (d >= 0x2000) + (d >= 0x40000);
}
inline uint32_t minMatch(uint32_t d) {
    return 3 + matchAdjust(d);
}

} // namespace

struct Rar20Encoder::Impl {
    Options opt;
    // Solid stream: the last window of earlier data followed by the current member.
    std::vector<uint8_t> buf;
    uint64_t base = 0; // absolute position of buf[0]
    std::vector<uint32_t> head;
    std::vector<uint32_t> prev;

    LzState lz;
    AudioState audio;
    int curChannel = 0;

    bool tablesActive = false;
    bool blockAudio = false;
    int blockChannels = 1;
    uint8_t lengths[kMaxTableSize] = {};
    uint16_t codes[kMaxTableSize] = {};

    explicit Impl(const Options& o) : opt(o), head(1u << kHashBits, kNone), prev(kWindow, kNone) {}

    void reset() {
        buf.clear();
        base = 0;
        std::fill(head.begin(), head.end(), kNone);
        lz = LzState();
        audio.reset();
        curChannel = 0;
        tablesActive = false;
        blockAudio = false;
        blockChannels = 1;
    }

    const uint8_t* at(uint64_t abs) const { return buf.data() + (abs - base); }
    uint64_t end() const { return base + buf.size(); }

    static uint32_t hash3(const uint8_t* p) {
        uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void insert(uint64_t p) {
        if (p + 3 > end()) return;
        uint32_t h = hash3(at(p));
        prev[p & kWindowMask] = head[h];
        head[h] = static_cast<uint32_t>(p);
    }

    uint32_t matchLength(uint64_t a, uint64_t b, uint32_t limit) const {
        const uint8_t* p = at(a);
        const uint8_t* q = at(b);
        uint32_t n = 0;
        while (n + 8 <= limit) {
            uint64_t x, y;
            memcpy(&x, p + n, 8);
            memcpy(&y, q + n, 8);
            if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < limit && p[n] == q[n])
            ++n;
        return n;
    }

    // Longest match at p (not inserted yet) within `limit` bytes that the format can code.
    void findMatch(uint64_t p, uint32_t limit, uint32_t& bestLen, uint32_t& bestDist) const {
        bestLen = 0;
        bestDist = 0;
        if (limit < 3 || p + 3 > end()) return;
        uint32_t cand = head[hash3(at(p))];
        int depth = opt.chainDepth;
        while (cand != kNone && depth-- > 0) {
            if (cand < base || cand >= p) break;
            uint64_t dist = p - cand;
            if (dist > kMaxMatchDistance) break;
            const uint8_t* a = at(p);
            const uint8_t* b = at(cand);
            if (b[bestLen < limit ? bestLen : 0] == a[bestLen < limit ? bestLen : 0] && b[0] == a[0]) {
                uint32_t len = matchLength(p, cand, limit);
                if (len >= minMatch(static_cast<uint32_t>(dist)) && len > bestLen) {
                    bestLen = len;
                    bestDist = static_cast<uint32_t>(dist);
                    if (len >= kNiceMatch || len == limit) break;
                }
            }
            uint32_t next = prev[cand & kWindowMask];
            if (next == kNone || next >= cand) break;
            cand = next;
        }
    }

    // Turns one match into tokens, keeping the decoder's distance state in step.
    static void emitMatch(std::vector<Token>& out, LzState& s, uint32_t len, uint32_t dist) {
        const SlotTables& t = slots();
        if (dist == s.lastDist && len == s.lastLength) {
            out.push_back({kSymRepeatLast, kMain, 0, 0});
        } else {
            int rep = -1;
            for (int k = 0; k < 4; ++k)
                if (s.oldDist[(s.oldDistPtr - 1 - k) & 3] == dist) {
                    rep = k;
                    break;
                }
            uint32_t adj2 = repAdjust(dist);
            if (rep >= 0 && len >= 2 + adj2 && len - 2 - adj2 <= 255) {
                uint32_t v = len - 2 - adj2;
                int slot = t.lengthSlot[v];
                out.push_back({static_cast<uint16_t>(kSymOldDist + rep), kMain, 0, 0});
                out.push_back(
                    {static_cast<uint16_t>(slot), kRepLen, kLengthBits[slot], v - kLengthBase[slot]});
            } else if (len == 2 && dist <= 256) {
                int slot = t.shortSlot[dist - 1];
                out.push_back({static_cast<uint16_t>(kSymShort + slot), kMain, kShortBits[slot],
                               dist - 1 - kShortBase[slot]});
            } else {
                uint32_t v = len - 3 - matchAdjust(dist);
                int slot = t.lengthSlot[v];
                int ds = distSlot(dist - 1);
                out.push_back({static_cast<uint16_t>(kSymMatch + slot), kMain, kLengthBits[slot],
                               v - kLengthBase[slot]});
                out.push_back({static_cast<uint16_t>(ds), kDist, kDistBits[ds], dist - 1 - kDistBase[ds]});
            }
        }
        s.lastDist = s.oldDist[s.oldDistPtr++ & 3] = dist;
        s.lastLength = len;
    }

    // LZ parse of [from, to) into tokens; `s` is advanced as the decoder would be.
    void parseLz(uint64_t from, uint64_t to, std::vector<Token>& out, LzState& s) {
        uint64_t p = from;
        uint32_t pendingLen = 0, pendingDist = 0;
        bool havePending = false;
        while (p < to) {
            uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, to - p));
            uint32_t len, dist;
            if (havePending) {
                len = pendingLen;
                dist = pendingDist;
                havePending = false;
            } else {
                findMatch(p, limit, len, dist);
            }
            // A repeated distance is much cheaper to code than a new one.
            uint32_t repLen = 0, repDist = 0;
            for (int k = 0; k < 4; ++k) {
                uint32_t d = s.oldDist[(s.oldDistPtr - 1 - k) & 3];
                if (d == 0 || d > p - base || d > kMaxMatchDistance || limit < 2) continue;
                uint32_t l = matchLength(p, p - d, limit);
                if (l >= 2 + repAdjust(d) && l > repLen) {
                    repLen = l;
                    repDist = d;
                }
            }
            if (repLen >= 3 && repLen + 1 >= len) {
                len = repLen;
                dist = repDist;
            } else if (len == 0 && repLen >= 2) {
                len = repLen;
                dist = repDist;
            }
            if (len >= 2 && len < 32 && p + 1 < to) {
                // Lazy step: take a literal if the next position starts a clearly longer match.
                insert(p);
                uint32_t nextLen, nextDist;
                uint32_t nextLimit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, to - p - 1));
                findMatch(p + 1, nextLimit, nextLen, nextDist);
                if (nextLen > len + (nextDist > (dist << 3) ? 1u : 0u)) {
                    out.push_back({*at(p), kMain, 0, 0});
                    ++p;
                    pendingLen = nextLen;
                    pendingDist = nextDist;
                    havePending = true;
                    continue;
                }
                emitMatch(out, s, len, dist);
                for (uint64_t q = p + 1; q < p + len; ++q)
                    insert(q);
                p += len;
                continue;
            }
            if (len >= 2) {
                emitMatch(out, s, len, dist);
                for (uint64_t q = p; q < p + len; ++q)
                    insert(q);
                p += len;
                continue;
            }
            out.push_back({*at(p), kMain, 0, 0});
            insert(p);
            ++p;
        }
    }

    // Audio coding of [from, to) with `channels` channels; `st` and `ch` advance.
    void parseAudio(uint64_t from, uint64_t to, int channels, std::vector<Token>& out, AudioState& st,
                    int& ch) {
        if (ch >= channels) ch = 0;
        const uint8_t* p = at(from);
        size_t n = static_cast<size_t>(to - from);
        out.reserve(out.size() + n);
        for (size_t i = 0; i < n; ++i) {
            int value = p[i];
            int delta = (st.predict(ch) - value) & 0xff;
            st.update(ch, delta, value);
            out.push_back({static_cast<uint16_t>(delta), static_cast<uint8_t>(kAudio0 + ch), 0, 0});
            if (++ch == channels) ch = 0;
        }
    }

    struct Block {
        bool audio = false;
        int channels = 1;
        std::vector<Token> tokens;
        uint8_t lengths[kMaxTableSize] = {};
        size_t bits = 0;
    };

    // Code lengths for a block's tokens; the table switch code is always present.
    static void planBlock(Block& b) {
        if (b.audio) {
            for (int c = 0; c < b.channels; ++c) {
                uint32_t freq[kAudioCodes] = {};
                freq[kAudioNewTable] = 1;
                for (const Token& t : b.tokens)
                    if (t.table == kAudio0 + c) freq[t.code]++;
                buildLengths(freq, kAudioCodes, b.lengths + c * kAudioCodes);
            }
        } else {
            uint32_t mainFreq[kMainCodes] = {}, distFreq[kDistCodes] = {}, repFreq[kRepLenCodes] = {};
            mainFreq[kSymNewTable] = 1;
            for (const Token& t : b.tokens) {
                if (t.table == kMain)
                    mainFreq[t.code]++;
                else if (t.table == kDist)
                    distFreq[t.code]++;
                else
                    repFreq[t.code]++;
            }
            buildLengths(mainFreq, kMainCodes, b.lengths);
            buildLengths(distFreq, kDistCodes, b.lengths + kMainCodes);
            buildLengths(repFreq, kRepLenCodes, b.lengths + kMainCodes + kDistCodes);
        }
        BitWriter tables;
        writeTables(tables, b.audio, b.channels, b.lengths, tableSize(b), nullptr, true);
        size_t bits = tables.bitCount();
        for (const Token& t : b.tokens)
            bits += b.lengths[tableOffset(b, t.table) + t.code] + t.extraBits;
        b.bits = bits;
    }

    static int tableSize(const Block& b) { return b.audio ? kAudioCodes * b.channels : kLzTableSize; }
    static int tableOffset(const Block& b, uint8_t table) {
        if (b.audio) return (table - kAudio0) * kAudioCodes;
        return table == kMain ? 0 : table == kDist ? kMainCodes : kMainCodes + kDistCodes;
    }

    void writeBlock(BitWriter& w, const Block& b) {
        if (tablesActive) {
            // Switch code in the tables now in force, then the new tables.
            int sym = blockAudio ? curChannelAtSwitch * kAudioCodes + kAudioNewTable : kSymNewTable;
            w.put(codes[sym], lengths[sym]);
        }
        int size = tableSize(b);
        // The cheapest of plain lengths and differences to the tables in force (same kind only:
        // what a decoder keeps beyond the current table's size is not something to rely on).
        int bestVariant = 0;
        if (tablesActive && blockAudio == b.audio && blockChannels == b.channels) {
            size_t bestBits = SIZE_MAX;
            for (int variant = 0; variant < 3; ++variant) {
                BitWriter trial;
                writeTables(trial, b.audio, b.channels, b.lengths, size, variant ? lengths : nullptr,
                            variant != 2);
                if (trial.bitCount() < bestBits) {
                    bestBits = trial.bitCount();
                    bestVariant = variant;
                }
            }
        }
        writeTables(w, b.audio, b.channels, b.lengths, size, bestVariant ? lengths : nullptr,
                    bestVariant != 2);
        memcpy(lengths, b.lengths, sizeof(lengths));
        blockAudio = b.audio;
        blockChannels = b.channels;
        if (b.audio) {
            for (int c = 0; c < b.channels; ++c)
                canonicalCodes(lengths + c * kAudioCodes, kAudioCodes, codes + c * kAudioCodes);
        } else {
            canonicalCodes(lengths, kMainCodes, codes);
            canonicalCodes(lengths + kMainCodes, kDistCodes, codes + kMainCodes);
            canonicalCodes(lengths + kMainCodes + kDistCodes, kRepLenCodes, codes + kMainCodes + kDistCodes);
        }
        tablesActive = true;
        for (const Token& t : b.tokens) {
            int index = tableOffset(b, t.table) + t.code;
            w.put(codes[index], lengths[index]);
            w.put(t.extra, t.extraBits);
        }
    }

    int curChannelAtSwitch = 0;

    // Ends a member with one code that is not a table switch: decoders look at the next code
    // when enough padding follows (encrypted members are padded to 16 bytes).
    void writeTrailer(BitWriter& w) {
        int offset = blockAudio ? curChannel * kAudioCodes : 0;
        int count = blockAudio ? kAudioCodes : kMainCodes;
        int skip = blockAudio ? kAudioNewTable : kSymNewTable;
        for (int s = 0; s < count; ++s) {
            if (s != skip && lengths[offset + s]) {
                w.put(codes[offset + s], lengths[offset + s]);
                return;
            }
        }
    }

    static bool looksLikeSamples(const uint8_t* p, size_t n) {
        // Cheap gate before the audio trial: many distinct byte values (text and runs are LZ's).
        if (n < 4096) return false;
        bool seen[256] = {};
        int distinct = 0;
        for (size_t i = 0; i < n; i += 7)
            if (!seen[p[i]]) {
                seen[p[i]] = true;
                ++distinct;
            }
        return distinct > 96;
    }
};

Rar20Encoder::Rar20Encoder() : Rar20Encoder(Options()) {}
Rar20Encoder::Rar20Encoder(const Options& options) : impl(new Impl(options)) {}
Rar20Encoder::~Rar20Encoder() = default;

std::vector<uint8_t> Rar20Encoder::encode(const uint8_t* data, size_t size, bool solid) {
    Impl& s = *impl;
    if (!solid) s.reset();
    if (s.buf.size() > kWindow) {
        size_t drop = s.buf.size() - kWindow;
        s.buf.erase(s.buf.begin(), s.buf.begin() + static_cast<std::ptrdiff_t>(drop));
        s.base += drop;
    }
    uint64_t start = s.end();
    s.buf.insert(s.buf.end(), data, data + size);
    uint64_t stop = s.end();

    BitWriter w;
    for (uint64_t from = start; from < stop;) {
        uint64_t to = std::min<uint64_t>(stop, from + s.opt.blockSize);
        Impl::Block lzBlock;
        LzState lzAfter = s.lz;
        s.parseLz(from, to, lzBlock.tokens, lzAfter);
        Impl::planBlock(lzBlock);

        Impl::Block best;
        bool useAudio = false;
        AudioState audioAfter;
        int channelAfter = s.curChannel;
        size_t bytes = static_cast<size_t>(to - from);
        if (s.opt.audioBlocks && lzBlock.bits > bytes * 5 && Impl::looksLikeSamples(s.at(from), bytes)) {
            size_t bestBits = lzBlock.bits;
            for (int channels = 1; channels <= 4; ++channels) {
                if (s.curChannel >= channels) continue; // keep the channel index unambiguous
                Impl::Block trial;
                trial.audio = true;
                trial.channels = channels;
                AudioState st = s.audio;
                int ch = s.curChannel;
                s.parseAudio(from, to, channels, trial.tokens, st, ch);
                Impl::planBlock(trial);
                if (trial.bits + 64 < bestBits) {
                    bestBits = trial.bits;
                    best = std::move(trial);
                    audioAfter = st;
                    channelAfter = ch;
                    useAudio = true;
                }
            }
        }
        s.curChannelAtSwitch = s.curChannel;
        if (useAudio) {
            s.writeBlock(w, best);
            s.audio = audioAfter;
            s.curChannel = channelAfter;
            ++audioBlockCount;
        } else {
            s.writeBlock(w, lzBlock);
            s.lz = lzAfter;
            ++lzBlockCount;
        }
        from = to;
    }
    s.writeTrailer(w);
    w.flush();
    return std::move(w.out);
}

} // namespace rar
