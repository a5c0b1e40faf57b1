#include "resources/ImageLibrary.h"

#include "archive/DataFile.h"
#include "base/Report.h"

#include <csetjmp>
#include <cstdio> // before jpeglib.h, which uses FILE

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// A header that claims more is refused before anything is allocated for its pixels.
bool sizeIsSane(const char* path, uint64_t width, uint64_t height) {
    if (width <= kMaxImageSide && height <= kMaxImageSide) return true;
    reportErrorText(__FILE__, __LINE__, "Image too large (limit 8192 pixels per side)",
                    report::format("%s (%llu x %llu)", path, static_cast<unsigned long long>(width),
                                   static_cast<unsigned long long>(height))
                        .c_str(),
                    false);
    return false;
}
} // namespace

void freeImage(ImageData* image) {
    if (!image) return;
    free(image->data);
    delete image;
}

ImageLibrary& ImageLibrary::instance() {
    static ImageLibrary library;
    return library;
}

ImageData* ImageLibrary::loadImage(const char* name, const char* directory) {
    if (!name) return nullptr;
    const size_t length = strlen(name);
    if (length < 4) return nullptr;
    std::string path = (directory && *directory) ? std::string(directory) + name : std::string(name);
    const char* ending = name + length - 4;
    if (strcmp(ending, ".png") == 0 || strcmp(ending, ".PNG") == 0) return loadPNG(path.c_str());
    if (strcmp(ending, ".jpg") == 0 || strcmp(ending, ".JPG") == 0) return loadJPEG(path.c_str());
    return nullptr;
}

// ---- PNG ---------------------------------------------------------------------------------

namespace {

void readFromDataFile(png_structp png, png_bytep destination, png_size_t length) {
    DataFile* file = static_cast<DataFile*>(png_get_io_ptr(png));
    // A short read means a truncated file; libpng must not decode whatever the buffer held.
    if (length > 0xffffffffu || file->read(destination, 1, static_cast<unsigned>(length)) != length)
        png_error(png, "unexpected end of file");
}

// Everything the error path must release lives outside the setjmp frame's automatic variables.
struct PngJob {
    DataFile* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    unsigned char* pixels = nullptr;
    png_bytep* rows = nullptr;

    ~PngJob() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        free(rows);
        free(pixels);
        delete file;
    }
};

ImageData* decodePNG(PngJob& job, const char* path) {
    // Only plain C data is touched between setjmp and a possible longjmp.
    if (setjmp(png_jmpbuf(job.png))) return nullptr;

    png_set_read_fn(job.png, job.file, readFromDataFile);
    png_set_sig_bytes(job.png, 8);
    png_read_info(job.png, job.info);
    if (!sizeIsSane(path, png_get_image_width(job.png, job.info), png_get_image_height(job.png, job.info)))
        return nullptr;
    // No transformations: the pixels come out as stored (palette indices, grey, 16-bit...).
    // Adam7 passes are merged into whole rows; that changes the order, not the pixels.
    png_set_interlace_handling(job.png);
    png_read_update_info(job.png, job.info);

    const png_uint_32 width = png_get_image_width(job.png, job.info);
    const png_uint_32 height = png_get_image_height(job.png, job.info);
    const int bitDepth = png_get_bit_depth(job.png, job.info);
    const int channels = png_get_channels(job.png, job.info);
    const size_t rowBytes = png_get_rowbytes(job.png, job.info);
    if (width == 0 || height == 0 || rowBytes == 0) return nullptr;
    if (height > SIZE_MAX / rowBytes) return nullptr;
    // Deflate expands at most 1032-fold: a header that claims more pixels than the file can hold
    // is a broken file, not a reason to allocate gigabytes.
    if (rowBytes * height / 1032 > job.file->getSize()) return nullptr;

    // Zeroed: libpng leaves the unused low bits of a row's last byte (depths below 8) untouched.
    job.pixels = static_cast<unsigned char*>(calloc(height, rowBytes));
    job.rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * height));
    if (!job.pixels || !job.rows) return nullptr;
    for (png_uint_32 i = 0; i < height; ++i)
        job.rows[i] = job.pixels + i * rowBytes;
    png_read_image(job.png, job.rows);

    ImageData* image = new ImageData;
    image->width = width;
    image->height = height;
    image->bitsPerPixel = static_cast<uint32_t>(channels * bitDepth);
    image->data = job.pixels;
    job.pixels = nullptr;
    return image;
}

} // namespace

ImageData* ImageLibrary::loadPNG(const char* path) {
    PngJob job;
    job.file = DataFile::open(path);
    if (!job.file) return nullptr;

    unsigned char signature[8];
    if (job.file->read(signature, 1, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) return nullptr;

    // libpng 1.6 refuses structures created for another minor version, so the header's version is
    // the one to name here.
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!job.png) return nullptr;
    job.info = png_create_info_struct(job.png);
    if (!job.info) return nullptr;
    return decodePNG(job, path);
}

// ---- JPEG --------------------------------------------------------------------------------

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    jmp_buf escape;
};

void jpegErrorExit(j_common_ptr info) {
    // The library's default ends the process; a broken image must only fail its load.
    longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->escape, 1);
}

void jpegSilent(j_common_ptr) {}

void jpegWarning(j_common_ptr info, int level) {
    // Scan data that ends early (the file ends, or a marker comes before the rows are complete)
    // would come out with made-up grey rows: that is a failed load.
    if (level < 0 && (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER))
        longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->escape, 1);
}

struct JpegJob {
    jpeg_decompress_struct info;
    JpegErrorManager error;
    bool created = false;
    DataFile* file = nullptr;
    unsigned char* pixels = nullptr;

    ~JpegJob() {
        if (created) jpeg_destroy_decompress(&info);
        free(pixels);
        delete file;
    }
};

ImageData* decodeJPEG(JpegJob& job, const char* path) {
    if (setjmp(job.error.escape)) return nullptr;

    jpeg_mem_src(&job.info, job.file->getData(), job.file->getSize());
    if (jpeg_read_header(&job.info, TRUE) != JPEG_HEADER_OK) return nullptr;
    // The decoder's own buffers (a whole-image coefficient array for progressive files) follow
    // the frame header's size, so it is checked before decompression starts.
    if (!sizeIsSane(path, job.info.image_width, job.info.image_height)) return nullptr;

    switch (job.info.num_components) {
    case 1: // grey comes out as three equal channels
    case 3:
        job.info.out_color_space = JCS_RGB;
        break;
    case 4:
        job.info.out_color_space = JCS_CMYK;
        break;
    default:
        job.info.jpeg_color_space = JCS_UNKNOWN;
        job.info.out_color_space = JCS_UNKNOWN;
        break;
    }
    jpeg_start_decompress(&job.info);

    const size_t width = job.info.output_width;
    const size_t height = job.info.output_height;
    const size_t channels = static_cast<size_t>(job.info.output_components);
    if (width == 0 || height == 0 || channels == 0) return nullptr;
    // Rows are delivered tightly packed: widening and resizing read them that way.
    const size_t rowBytes = width * channels;
    if (height > SIZE_MAX / rowBytes) return nullptr;
    job.pixels = static_cast<unsigned char*>(malloc(rowBytes * height));
    if (!job.pixels) return nullptr;

    while (job.info.output_scanline < job.info.output_height) {
        JSAMPROW row = job.pixels + job.info.output_scanline * rowBytes;
        if (jpeg_read_scanlines(&job.info, &row, 1) != 1) return nullptr;
    }
    jpeg_finish_decompress(&job.info);

    ImageData* image = new ImageData;
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(height);
    image->bitsPerPixel = static_cast<uint32_t>(channels * 8);
    image->data = job.pixels;
    job.pixels = nullptr;
    return image;
}

} // namespace

ImageData* ImageLibrary::loadJPEG(const char* path) {
    JpegJob job;
    job.info.err = jpeg_std_error(&job.error.base);
    job.error.base.error_exit = jpegErrorExit;
    job.error.base.output_message = jpegSilent;
    job.error.base.emit_message = jpegWarning;
    if (setjmp(job.error.escape)) return nullptr;
    jpeg_create_decompress(&job.info);
    job.created = true;

    job.file = DataFile::open(path);
    if (!job.file) return nullptr;
    return decodeJPEG(job, path);
}

// ---- pixel operations --------------------------------------------------------------------

void ImageLibrary::convertTo32Bit(ImageData* image, const char* path) {
    if (!image) return;
    if (image->bitsPerPixel != 24) {
        // The file and the fix, so that an author knows which picture to write again and how.
        reportErrorText(__FILE__, __LINE__, "Image has unsupported bit depth",
                        report::format("%s (%u bits per pixel; write it as 8-bit RGB or RGBA)",
                                       path && *path ? path : "(unnamed)", image->bitsPerPixel)
                            .c_str(),
                        true);
        return;
    }
    const size_t pixelCount = static_cast<size_t>(image->width) * image->height;
    unsigned char* source = image->data;
    unsigned char* widened = static_cast<unsigned char*>(malloc(pixelCount * 4 + 1));
    if (!widened) {
        reportError(__FILE__, __LINE__, "out of memory", true);
        return;
    }
    for (size_t i = 0; i < pixelCount; ++i) {
        widened[i * 4 + 0] = source[i * 3 + 0];
        widened[i * 4 + 1] = source[i * 3 + 1];
        widened[i * 4 + 2] = source[i * 3 + 2];
        widened[i * 4 + 3] = 255;
    }
    image->data = widened;
    image->bitsPerPixel = 32;
    free(source);
}

int ImageLibrary::scaleImage(uint32_t newWidth, uint32_t newHeight, ImageData* image) {
    if (!image) {
        reportError(__FILE__, __LINE__, "no image to scale", false);
        return 1;
    }
    const size_t bytesPerPixel = image->bitsPerPixel / 8;
    const uint32_t oldWidth = image->width;
    const uint32_t oldHeight = image->height;
    unsigned char* source = image->data;
    // A size past the address range would wrap to a small block written far past its end.
    size_t bytes = 0;
    const bool representable = !__builtin_mul_overflow(static_cast<size_t>(newWidth), newHeight, &bytes) &&
                               !__builtin_mul_overflow(bytes, bytesPerPixel, &bytes) && bytes < SIZE_MAX;
    unsigned char* scaled = representable ? static_cast<unsigned char*>(malloc(bytes + 1)) : nullptr;
    if (!scaled) {
        reportError(__FILE__, __LINE__, "out of memory", true);
        return 1;
    }
    image->width = newWidth;
    image->height = newHeight;

    const float rx = static_cast<float>(oldWidth) / static_cast<float>(newWidth);
    const float ry = static_cast<float>(oldHeight) / static_cast<float>(newHeight);
    unsigned char* out = scaled;
    for (uint32_t y = 0; y < newHeight; ++y) {
        uint32_t sy = static_cast<uint32_t>(static_cast<float>(y) * ry);
        if (sy >= oldHeight) sy = oldHeight ? oldHeight - 1 : 0; // float rounding at the far edge
        for (uint32_t x = 0; x < newWidth; ++x) {
            uint32_t sx = static_cast<uint32_t>(static_cast<float>(x) * rx);
            if (sx >= oldWidth) sx = oldWidth ? oldWidth - 1 : 0;
            if (oldWidth && oldHeight)
                memcpy(out, source + (static_cast<size_t>(sy) * oldWidth + sx) * bytesPerPixel,
                       bytesPerPixel);
            else
                memset(out, 0, bytesPerPixel);
            out += bytesPerPixel;
        }
    }
    image->data = scaled;
    free(source);
    return 0;
}
