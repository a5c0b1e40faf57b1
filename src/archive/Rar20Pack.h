// Encoder for RAR 2.0 compressed data (unpack version 20): lazy LZ77 over a 1 MiB window with
// hash chains, the four repeated distances, per-block Huffman tables, and multimedia (audio)
// blocks where the adaptive predictor codes a block smaller than LZ does.
#pragma once

#include "archive/Rar20Codec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace rar {

class Rar20Encoder {
  public:
    struct Options {
        bool audioBlocks = true; // try multimedia blocks on data that looks like samples
        int chainDepth = 32;
        size_t blockSize = 128 * 1024;
    };
    Rar20Encoder();
    explicit Rar20Encoder(const Options& options);
    ~Rar20Encoder();

    // Compresses one member (size > 0). With `solid` the dictionary, distances, audio state and
    // tables continue from the previous call, as a solid archive's decoder expects.
    std::vector<uint8_t> encode(const uint8_t* data, size_t size, bool solid);

    // Blocks of each kind written so far (for tests and the tool's statistics).
    size_t lzBlocks() const { return lzBlockCount; }
    size_t audioBlocks() const { return audioBlockCount; }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
    size_t lzBlockCount = 0;
    size_t audioBlockCount = 0;
};

} // namespace rar
