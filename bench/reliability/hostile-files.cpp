// Writes the picture files bench/reliability.sh tries the loaders and the archive with:
//   hostile-files padded-png OUT BYTES      a valid 16 x 16 PNG, then zeros up to BYTES (a sparse file)
//   hostile-files scans-jpeg OUT SCANS SIDE a progressive grey JPEG of SIDE x SIDE with SCANS scans
//   hostile-files pictures DIR N SIDE       N different RGB PNGs of SIDE x SIDE, DIR/pic000.png ...
#include "resources/PngWriter.h"

#include <cstdio> // before jpeglib.h, which uses FILE

#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<unsigned char> noisyPicture(int side, uint32_t seed) {
    std::vector<unsigned char> rgb(static_cast<size_t>(side) * side * 3);
    uint32_t s = seed * 2654435761u + 1;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            unsigned char* p = &rgb[(static_cast<size_t>(y) * side + x) * 3];
            // A gradient with some grain: compresses like a photograph, not like noise.
            p[0] = static_cast<unsigned char>(x + (s & 15));
            p[1] = static_cast<unsigned char>(y + seed * 7);
            p[2] = static_cast<unsigned char>((x ^ y) + ((s >> 8) & 7));
        }
    return rgb;
}

// A progressive JPEG with `scans` scans: its first scan of high AC coefficients (state-free,
// mostly end-of-band runs, a few bytes) is repeated. The decoder warns about the repeated
// progression and goes on, each scan costing a pass over the picture.
bool scansJpeg(const char* path, long scans, int side) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(side);
    info.image_height = static_cast<JDIMENSION>(side);
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(side));
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < side; ++x)
            row[static_cast<size_t>(x)] =
                static_cast<unsigned char>((x + static_cast<int>(info.next_scanline)) / 8);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::vector<unsigned char> file(buffer, buffer + size);
    free(buffer);

    // Scan headers of one component: FF DA, length, 1, component, tables, Ss, Se, Ah|Al.
    std::vector<size_t> starts;
    for (size_t i = 0; i + 9 < file.size(); ++i)
        if (file[i] == 0xff && file[i + 1] == 0xda) starts.push_back(i);
    size_t pick = starts.size();
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        if (file[starts[i] + 7] > 0 && (file[starts[i] + 9] >> 4) == 0) pick = i;
    if (pick == starts.size()) return false;
    // The scan runs to the first marker after its header (stuffed FF 00 and restarts are data).
    const size_t from = starts[pick];
    size_t to = from + 2 + ((static_cast<size_t>(file[from + 2]) << 8) | file[from + 3]);
    while (to + 1 < file.size() && !(file[to] == 0xff && file[to + 1] != 0 && (file[to + 1] & 0xf8) != 0xd0))
        ++to;
    FILE* out = fopen(path, "wb");
    if (!out) return false;
    fwrite(file.data(), 1, to, out);
    for (long n = static_cast<long>(starts.size()); n < scans; ++n)
        fwrite(file.data() + from, 1, to - from, out);
    fwrite(file.data() + to, 1, file.size() - to, out);
    return fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind == "padded-png" && argc == 4) {
        const std::vector<unsigned char> rgb = noisyPicture(16, 1);
        if (!writeRgbPng(argv[2], 16, 16, rgb.data(), false, false)) return 1;
        return truncate(argv[2], static_cast<off_t>(atoll(argv[3]))) == 0 ? 0 : 1;
    }
    if (kind == "scans-jpeg" && argc == 5) return scansJpeg(argv[2], atol(argv[3]), atoi(argv[4])) ? 0 : 1;
    if (kind == "pictures" && argc == 5) {
        const int count = atoi(argv[3]);
        const int side = atoi(argv[4]);
        for (int i = 0; i < count; ++i) {
            char name[32];
            snprintf(name, sizeof(name), "/pic%03d.png", i);
            const std::vector<unsigned char> rgb = noisyPicture(side, static_cast<uint32_t>(i));
            if (!writeRgbPng(std::string(argv[2]) + name, side, side, rgb.data(), false, false)) return 1;
        }
        return 0;
    }
    fprintf(stderr,
            "usage: hostile-files padded-png OUT BYTES | scans-jpeg OUT SCANS SIDE | pictures DIR N SIDE\n");
    return 2;
}
