// Writes the seed pictures for the PNG and JPEG fuzzers (made here, not kept in the tree):
// every PNG colour type and depth, interlaced and not, a palette with transparency, and baseline,
// progressive, greyscale and subsampled JPEGs, all small.
//   make_image_seeds PNG_DIR JPEG_DIR
#include <cstdio> // before jpeglib.h, which uses FILE

#include <jpeglib.h>
#include <png.h>

#include <string>
#include <vector>

namespace {

bool writePng(const std::string& path, int width, int height, int colourType, int depth, bool interlaced) {
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
    png_set_IHDR(png, info, width, height, depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> palette(1 << depth);
        for (size_t i = 0; i < palette.size(); ++i)
            palette[i] = png_color{static_cast<png_byte>(i * 37), static_cast<png_byte>(i * 91),
                                   static_cast<png_byte>(255 - i)};
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
        png_byte alpha[2] = {0, 128};
        png_set_tRNS(png, info, alpha, 2, nullptr);
    }
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_byte> row(rowBytes);
    const int passes = interlaced ? png_set_interlace_handling(png) : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            for (size_t i = 0; i < rowBytes; ++i)
                row[i] = static_cast<png_byte>((i * 13 + y * 7) & 0xff);
            if (colourType == PNG_COLOR_TYPE_PALETTE && depth == 8)
                for (auto& b : row)
                    b &= 3;
            png_write_row(png, row.data());
        }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fclose(out) == 0;
}

bool writeJpeg(const std::string& path, int width, int height, int components, bool progressive,
               int sampling) {
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
    jpeg_set_quality(&info, 75, TRUE);
    if (components == 3) {
        info.comp_info[0].h_samp_factor = sampling;
        info.comp_info[0].v_samp_factor = sampling;
    }
    if (progressive) jpeg_simple_progression(&info);
    info.restart_interval = progressive ? 0 : 2;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width) * components);
    while (info.next_scanline < info.image_height) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<JSAMPLE>((i * 5 + info.next_scanline * 11) & 0xff);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: make_image_seeds PNG_DIR JPEG_DIR\n");
        return 2;
    }
    const std::string png = argv[1], jpeg = argv[2];
    bool ok = true;
    struct PngCase {
        const char* name;
        int colourType, depth;
    };
    const PngCase pngCases[] = {
        {"rgb8", PNG_COLOR_TYPE_RGB, 8},         {"rgba8", PNG_COLOR_TYPE_RGBA, 8},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8},       {"greyalpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"palette8", PNG_COLOR_TYPE_PALETTE, 8}, {"palette2", PNG_COLOR_TYPE_PALETTE, 2},
        {"rgb16", PNG_COLOR_TYPE_RGB, 16},       {"grey1", PNG_COLOR_TYPE_GRAY, 1},
        {"grey4", PNG_COLOR_TYPE_GRAY, 4},       {"rgba16", PNG_COLOR_TYPE_RGBA, 16},
    };
    for (const PngCase& c : pngCases) {
        ok &= writePng(png + "/" + c.name + ".png", 13, 7, c.colourType, c.depth, false);
        ok &= writePng(png + "/" + c.name + "-adam7.png", 9, 11, c.colourType, c.depth, true);
    }
    ok &= writeJpeg(jpeg + "/rgb-444.jpg", 16, 16, 3, false, 1);
    ok &= writeJpeg(jpeg + "/rgb-420.jpg", 21, 13, 3, false, 2);
    ok &= writeJpeg(jpeg + "/grey.jpg", 17, 9, 1, false, 1);
    ok &= writeJpeg(jpeg + "/progressive.jpg", 24, 16, 3, true, 2);
    ok &= writeJpeg(jpeg + "/progressive-grey.jpg", 8, 8, 1, true, 1);
    return ok ? 0 : 1;
}
