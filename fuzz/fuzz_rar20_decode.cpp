// The RAR 2.0 decoder on raw packed streams. Input: 3 bytes of output size (little-endian,
// at most 1 MiB), 1 byte of flags (bit 0: decode a second member solid after the first),
// then the packed data.
#include "archive/Rar20Unpack.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    size_t outSize = (data[0] | (data[1] << 8) | (static_cast<size_t>(data[2]) << 16)) & 0xfffff;
    bool twice = data[3] & 1;
    std::vector<uint8_t> in(data + 4, data + size);
    size_t packed = in.size();
    in.resize(packed + rar::kInputPadding, 0);
    std::vector<uint8_t> out(outSize);
    rar::Rar20Decoder decoder;
    std::string error;
    bool ok = decoder.decode(in.data(), packed, out.data(), outSize, false, &error);
    if (twice) decoder.decode(in.data(), packed, out.data(), outSize, ok, &error);
    return 0;
}
