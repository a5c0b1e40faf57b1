// Test-only generator of RAR 2.0 compressed streams. Unlike our encoder, which only emits what
// pays off, it picks every construct the format allows pseudo-randomly from a seed: every
// length and distance slot up to the 1 MiB distance, the repeat-last and old-distance codes,
// short distances, table switches in mid-stream and between solid members, kept tables (deltas
// to the previous lengths, also across tables of other sizes), run codes in the table encoding
// (also running past the table's end), LZ and multimedia blocks with 1 to 4 channels, complete,
// incomplete and one-word codes with lengths up to 15 bits, members ending with or without a
// code after their last symbol. It tracks what a decoder must produce for every symbol it
// writes, so each member's expected bytes and CRC are known exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace streamgen {

struct Member {
    std::string name;            // stored with '\' separators
    std::vector<uint8_t> data;   // what the member unpacks to
    std::vector<uint8_t> packed; // compressed stream (before encryption); empty for stored
    bool solid = false;          // continues the stream of the member before
    bool stored = false;         // empty members are stored, as RAR does
};

struct Archive {
    std::vector<Member> members;
    std::string password; // empty: not encrypted
    bool solid = false;
    uint16_t dictFlags = 0x80; // file header dictionary bits (0x00 = 64 KiB .. 0x80 = 1 MiB)
    uint8_t unpackVersion = 20;
    std::vector<uint8_t> image; // the whole archive file
};

struct Options {
    size_t maxMemberSize = 256 * 1024;
    // Some seeds make streams over 1 MiB so the largest distances can be reached.
    bool allowLarge = true;
    // For probing the reference only: matches in a solid stream that run on past the end of a
    // member, their rest meant as the start of the next member. Not valid data: the reference
    // rejects such archives as damaged.
    bool probeCrossing = false;
};

// How often each construct was written (construct name -> count).
using Tally = std::map<std::string, uint64_t>;

// Deterministic: the same seed and options always give the same archive.
Archive generate(uint32_t seed, const Options& options, Tally* tally = nullptr);

// Every construct name the generator counts, for checks that none has gone missing.
const std::vector<std::string>& constructNames();

} // namespace streamgen
