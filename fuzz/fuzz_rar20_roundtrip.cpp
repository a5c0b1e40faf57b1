// Encoder against decoder: any bytes, cut into up to three members of one solid stream and packed
// with varying block sizes and options, must come back unchanged.
#include "archive/Rar20Pack.h"
#include "archive/Rar20Unpack.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    rar::Rar20Encoder::Options options;
    options.audioBlocks = data[0] & 1;
    options.blockSize = 4096u << (data[0] >> 5); // 4 KiB .. 512 KiB
    options.chainDepth = 1 + (data[1] & 63);
    size_t cuts[2] = {data[2] * size / 256, data[3] * size / 256};
    if (cuts[0] > cuts[1]) std::swap(cuts[0], cuts[1]);
    data += 4;
    size -= 4;
    size_t bounds[4] = {0, cuts[0] < size ? cuts[0] : size, cuts[1] < size ? cuts[1] : size, size};

    rar::Rar20Encoder encoder(options);
    rar::Rar20Decoder decoder;
    bool started = false;
    for (int m = 0; m < 3; ++m) {
        size_t n = bounds[m + 1] - bounds[m];
        if (n == 0) continue; // empty members are stored, never packed
        const uint8_t* member = data + bounds[m];
        std::vector<uint8_t> packed = encoder.encode(member, n, started);
        size_t packedSize = packed.size();
        packed.resize(packedSize + rar::kInputPadding, 0);
        std::vector<uint8_t> out(n);
        std::string error;
        if (!decoder.decode(packed.data(), packedSize, out.data(), n, started, &error) ||
            memcmp(out.data(), member, n) != 0)
            abort();
        started = true;
    }
    return 0;
}
