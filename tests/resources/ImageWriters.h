// Writes small PNG and JPEG files for the image tests, through libpng and libjpeg themselves.
#pragma once

#include <cstdio> // before jpeglib.h, which uses FILE

#include <jpeglib.h>
#include <png.h>

#include <string>
#include <vector>

// `pixels`: rows top first, tightly packed, in the layout the colour type and depth ask for
// (16-bit samples big-endian). `palette`: RGB triples for PNG_COLOR_TYPE_PALETTE. `interlaced`
// stores the rows in the seven Adam7 passes.
inline bool writePNG(const std::string& path, int width, int height, int colourType, int bitDepth,
                     const std::vector<unsigned char>& pixels, const std::vector<unsigned char>& palette = {},
                     bool interlaced = false) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(out);
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, bitDepth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> entries(palette.size() / 3);
        for (size_t i = 0; i < entries.size(); ++i)
            entries[i] = png_color{palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2]};
        png_set_PLTE(png, info, entries.data(), static_cast<int>(entries.size()));
    }
    png_write_info(png, info);
    const int passes = interlaced ? png_set_interlace_handling(png) : 1;
    const size_t rowBytes = png_get_rowbytes(png, info);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y)
            png_write_row(png, const_cast<unsigned char*>(pixels.data()) + y * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(out);
    return true;
}

// 8-bit RGB rows for an image whose every pixel comes from colourAt(x, y) -> {r, g, b}.
template <typename F> std::vector<unsigned char> rgbPixels(int width, int height, F colourAt) {
    std::vector<unsigned char> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto c = colourAt(x, y);
            pixels.push_back(c[0]);
            pixels.push_back(c[1]);
            pixels.push_back(c[2]);
        }
    return pixels;
}

// Baseline JPEG at quality 100 without chroma subsampling; `components` 1 (grey) or 3 (RGB).
inline bool writeJPEG(const std::string& path, int width, int height, int components,
                      const std::vector<unsigned char>& pixels) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    for (int c = 0; c < info.num_components; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) + info.next_scanline * width * components;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    fclose(out);
    return true;
}

// A progressive grey JPEG of side x side with `scans` scans: its first scan of high AC
// coefficients (state-free, mostly end-of-band runs) is repeated. Decoders warn about the repeated
// progression and go on, one pass over the picture per scan.
inline std::string progressiveJpegWithScans(int side, int scans) {
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = side;
    info.image_height = side;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(side);
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < side; ++x)
            row[x] = static_cast<unsigned char>(x * 7 + info.next_scanline * 3);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const std::string file(reinterpret_cast<char*>(buffer), size);
    free(buffer);
    // Scan headers of one component: FF DA, length, 1, component, tables, Ss, Se, Ah|Al.
    std::vector<size_t> starts;
    for (size_t at = file.find("\xFF\xDA"); at != std::string::npos; at = file.find("\xFF\xDA", at + 2))
        starts.push_back(at);
    size_t pick = 0;
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        if (file[starts[i] + 7] > 0 && (static_cast<unsigned char>(file[starts[i] + 9]) >> 4) == 0) pick = i;
    // The scan runs to the first marker after its header (stuffed FF 00 and restarts are data).
    const size_t from = starts[pick];
    size_t to =
        from + 2 +
        ((static_cast<unsigned char>(file[from + 2]) << 8) | static_cast<unsigned char>(file[from + 3]));
    while (to + 1 < file.size() && !(file[to] == '\xFF' && file[to + 1] != 0 &&
                                     (static_cast<unsigned char>(file[to + 1]) & 0xF8) != 0xD0))
        ++to;
    std::string out = file.substr(0, to);
    for (int n = static_cast<int>(starts.size()); n < scans; ++n)
        out += file.substr(from, to - from);
    return out + file.substr(to);
}
