#include "resources/PngWriter.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>

namespace {
bool writePng(const std::string& path, int width, int height, const unsigned char* pixels, int channels,
              bool bottomUp, bool fast) {
    FILE* out = fopen(path.c_str(), "wb");
    if (!out) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(out);
        return false;
    }
    png_init_io(png, out);
    if (fast) {
        png_set_compression_level(png, Z_BEST_SPEED);
        png_set_filter(png, 0, PNG_FILTER_SUB);
    }
    png_set_IHDR(png, info, width, height, 8, channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * channels;
    for (int i = 0; i < height; ++i) {
        int y = bottomUp ? height - 1 - i : i;
        png_write_row(png, const_cast<png_bytep>(pixels + static_cast<size_t>(y) * stride));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(out) == 0;
}
} // namespace

bool writeRgbPng(const std::string& path, int width, int height, const unsigned char* rgb, bool bottomUp,
                 bool fast) {
    return writePng(path, width, height, rgb, 3, bottomUp, fast);
}

bool writeRgbaPng(const std::string& path, int width, int height, const unsigned char* rgba, bool bottomUp) {
    return writePng(path, width, height, rgba, 4, bottomUp, false);
}
