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
bool sizeIsSane(const char* path, uint64_t width, uint64_t height, std::string* failure) {
    if (width <= kMaxImageSide && height <= kMaxImageSide) return true;
    *failure =
        report::format("is too large (%llu x %llu pixels; the limit is 8192 a side)",
                       static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    reportErrorText(__FILE__, __LINE__, "Image too large (limit 8192 pixels per side)",
                    report::format("%s (%llu x %llu)", path, static_cast<unsigned long long>(width),
                                   static_cast<unsigned long long>(height))
                        .c_str(),
                    false);
    return false;
}

// The picture's file opened for reading in order, or nullptr with the reason in `report`.
DataFile* openPicture(const char* path, ImageLoadReport& report) {
    report = ImageLoadReport();
    DataFile* file = DataFile::openStream(path);
    if (!file) {
        report.failure = DataFile::lastFailure().empty() ? "cannot be read" : DataFile::lastFailure();
        return nullptr;
    }
    report.fileBytes = file->getSize();
    return file;
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
    last = ImageLoadReport();
    last.failure = "is neither a .png nor a .jpg file";
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

// Everything the error path must release lives outside the setjmp frame's automatic variables.
struct PngJob {
    DataFile* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    unsigned char* pixels = nullptr;
    png_bytep* rows = nullptr;
    char message[160] = {}; // libpng's words for the error that ended the decoding

    ~PngJob() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        free(rows);
        free(pixels);
        delete file;
    }
};

// libpng's own handlers print "libpng error: ..." to stderr; the load reports in its own words.
void pngError(png_structp png, png_const_charp message) {
    PngJob* job = static_cast<PngJob*>(png_get_error_ptr(png));
    snprintf(job->message, sizeof(job->message), "%s", message ? message : "");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {
    // Problems libpng works around (a known-bad colour profile, a text chunk's odd keyword).
}

void readFromDataFile(png_structp png, png_bytep destination, png_size_t length) {
    DataFile* file = static_cast<DataFile*>(png_get_io_ptr(png));
    // A short read means a truncated file; libpng must not decode whatever the buffer held.
    if (length > 0xffffffffu || file->read(destination, 1, static_cast<unsigned>(length)) != length)
        png_error(png, "unexpected end of file");
}

uint32_t bigEndian32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Where the PNG ends: the chunks after the image data are stepped over by their lengths (never
// read) up to IEND. Something that is no chunk ends the picture where it starts.
uint64_t pngEnd(DataFile& file) {
    uint64_t at = file.tell();
    const uint64_t size = file.getSize();
    for (int chunks = 0; chunks < 100000; ++chunks) {
        if (size - at < 12) return size;
        unsigned char head[8];
        file.seek(static_cast<int>(static_cast<uint32_t>(at)), 0);
        if (file.read(head, 1, 8) != 8) return size;
        const uint32_t length = bigEndian32(head);
        for (int i = 4; i < 8; ++i)
            if (!((head[i] >= 'A' && head[i] <= 'Z') || (head[i] >= 'a' && head[i] <= 'z'))) return at;
        if (length > 0x7fffffffu) return at;
        const uint64_t next = at + 12 + length;
        if (next > size) return size;
        if (memcmp(head + 4, "IEND", 4) == 0) return next;
        at = next;
    }
    return at;
}

ImageData* decodePNG(PngJob& job, const char* path, ImageLoadReport& report) {
    // Only plain C data is touched between setjmp and a possible longjmp.
    if (setjmp(png_jmpbuf(job.png))) {
        report.failure = strcmp(job.message, "unexpected end of file") == 0
                             ? "is cut short"
                             : std::string("is broken (libpng: ") + job.message + ")";
        return nullptr;
    }

    png_set_read_fn(job.png, job.file, readFromDataFile);
    png_set_sig_bytes(job.png, 8);
    png_read_info(job.png, job.info);
    if (!sizeIsSane(path, png_get_image_width(job.png, job.info), png_get_image_height(job.png, job.info),
                    &report.failure))
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
    report.failure = "is broken (no pixels)";
    if (width == 0 || height == 0 || rowBytes == 0) return nullptr;
    if (height > SIZE_MAX / rowBytes) return nullptr;
    // Deflate expands at most 1032-fold: a header that claims more pixels than the file can hold
    // is a broken file, not a reason to allocate gigabytes.
    report.failure = "is broken (its header claims more pixels than the file can hold)";
    if (rowBytes * height / 1032 > job.file->getSize()) return nullptr;

    // Zeroed: libpng leaves the unused low bits of a row's last byte (depths below 8) untouched.
    report.failure = "is too large to decode into memory";
    job.pixels = static_cast<unsigned char*>(calloc(height, rowBytes));
    job.rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * height));
    if (!job.pixels || !job.rows) return nullptr;
    for (png_uint_32 i = 0; i < height; ++i)
        job.rows[i] = job.pixels + i * rowBytes;
    png_read_image(job.png, job.rows);
    report.failure.clear();
    report.pictureBytes = pngEnd(*job.file);

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
    job.file = openPicture(path, last);
    if (!job.file) return nullptr;

    unsigned char signature[8];
    if (job.file->read(signature, 1, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        last.failure = "is not a PNG file (it does not begin with the PNG signature)";
        return nullptr;
    }

    // libpng 1.6 refuses structures created for another minor version, so the header's version is
    // the one to name here.
    last.failure = "cannot be decoded (libpng could not start)";
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngError, pngWarning);
    if (!job.png) return nullptr;
    job.info = png_create_info_struct(job.png);
    if (!job.info) return nullptr;
    return decodePNG(job, path, last);
}

// ---- JPEG --------------------------------------------------------------------------------

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    jmp_buf escape;
    char message[JMSG_LENGTH_MAX] = {}; // why the decoding stopped
};

[[noreturn]] void jpegStop(j_common_ptr info, const char* why) {
    JpegErrorManager* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    snprintf(manager->message, sizeof(manager->message), "%s", why);
    longjmp(manager->escape, 1);
}

void jpegErrorExit(j_common_ptr info) {
    // The library's default ends the process; a broken image must only fail its load. No C++
    // object may live in the frames the jump leaves.
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    char why[JMSG_LENGTH_MAX + 32];
    snprintf(why, sizeof(why), "is broken (libjpeg: %s)", text);
    jpegStop(info, why);
}

void jpegSilent(j_common_ptr) {}

void jpegWarning(j_common_ptr info, int level) {
    // Scan data that ends early (the file ends, or a marker comes before the rows are complete)
    // would come out with made-up grey rows: that is a failed load.
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jpegStop(info, "is cut short");
    if (level < 0 && info->err->msg_code == JWRN_HIT_MARKER)
        jpegStop(info, "is broken (its scan data ends early)");
}

// Called as the decoder works through the file: a file of endless scans is refused early.
struct JpegProgress {
    jpeg_progress_mgr base;
    int scanLimit = kMaxJpegScans;
    char why[96] = {};
};

void jpegProgress(j_common_ptr info) {
    JpegProgress* progress = reinterpret_cast<JpegProgress*>(info->progress);
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > progress->scanLimit)
        jpegStop(info, progress->why);
}

// Feeds the decoder from the data file a piece at a time, so that only the bytes up to the end
// marker are ever read.
struct JpegSource {
    jpeg_source_mgr base;
    DataFile* file = nullptr;
    JOCTET* buffer = nullptr;
    size_t capacity = 0;
};

void sourceStart(j_decompress_ptr) {}
void sourceEnd(j_decompress_ptr) {}

boolean sourceFill(j_decompress_ptr info) {
    JpegSource* source = reinterpret_cast<JpegSource*>(info->src);
    size_t got = source->file->read(source->buffer, 1, static_cast<unsigned>(source->capacity));
    if (got == 0) {
        // As libjpeg's own sources do: an end marker is made up after a warning (which ends the load).
        WARNMS(info, JWRN_JPEG_EOF);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->base.next_input_byte = source->buffer;
    source->base.bytes_in_buffer = got;
    return TRUE;
}

void sourceSkip(j_decompress_ptr info, long count) {
    JpegSource* source = reinterpret_cast<JpegSource*>(info->src);
    if (count <= 0) return;
    if (static_cast<size_t>(count) <= source->base.bytes_in_buffer) {
        source->base.next_input_byte += count;
        source->base.bytes_in_buffer -= static_cast<size_t>(count);
        return;
    }
    // Marker segments are under 64 KiB: past what is buffered, the rest is skipped in the file.
    const long rest = count - static_cast<long>(source->base.bytes_in_buffer);
    source->base.bytes_in_buffer = 0;
    source->file->seek(static_cast<int>(rest), 1);
}

struct JpegJob {
    jpeg_decompress_struct info;
    JpegErrorManager error;
    JpegProgress progress;
    JpegSource source;
    bool created = false;
    DataFile* file = nullptr;
    unsigned char* pixels = nullptr;

    ~JpegJob() {
        if (created) jpeg_destroy_decompress(&info);
        free(source.buffer);
        free(pixels);
        delete file;
    }
};

ImageData* decodeJPEG(JpegJob& job, const char* path, ImageLoadReport& report) {
    if (setjmp(job.error.escape)) {
        report.failure = job.error.message;
        return nullptr;
    }

    job.source.capacity = 16 * 1024;
    job.source.buffer = static_cast<JOCTET*>(malloc(job.source.capacity));
    if (!job.source.buffer)
        jpegStop(reinterpret_cast<j_common_ptr>(&job.info), "cannot be decoded (out of memory)");
    job.source.file = job.file;
    job.source.base.init_source = sourceStart;
    job.source.base.fill_input_buffer = sourceFill;
    job.source.base.skip_input_data = sourceSkip;
    job.source.base.resync_to_restart = jpeg_resync_to_restart;
    job.source.base.term_source = sourceEnd;
    job.source.base.bytes_in_buffer = 0;
    job.source.base.next_input_byte = nullptr;
    job.info.src = &job.source.base;
    job.progress.base.progress_monitor = jpegProgress;
    job.info.progress = &job.progress.base;

    if (jpeg_read_header(&job.info, TRUE) != JPEG_HEADER_OK)
        jpegStop(reinterpret_cast<j_common_ptr>(&job.info), "is broken (no picture in it)");
    // The decoder's own buffers (a whole-image coefficient array for progressive files) follow
    // the frame header's size, so it is checked before decompression starts.
    if (!sizeIsSane(path, job.info.image_width, job.info.image_height, &report.failure)) return nullptr;
    const uint64_t pixels = static_cast<uint64_t>(job.info.image_width) * job.info.image_height;
    if (pixels > 0 && kMaxJpegScanPixels / pixels < static_cast<uint64_t>(kMaxJpegScans)) {
        job.progress.scanLimit = static_cast<int>(kMaxJpegScanPixels / pixels);
        snprintf(job.progress.why, sizeof(job.progress.why),
                 "has more than %d scans, the most a %u x %u progressive JPEG may have",
                 job.progress.scanLimit, static_cast<unsigned>(job.info.image_width),
                 static_cast<unsigned>(job.info.image_height));
    } else {
        snprintf(job.progress.why, sizeof(job.progress.why),
                 "has more than %d scans (a progressive JPEG made to keep decoders busy)", kMaxJpegScans);
    }

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
    report.failure = "is broken (no pixels)";
    if (width == 0 || height == 0 || channels == 0) return nullptr;
    // Rows are delivered tightly packed: widening and resizing read them that way.
    const size_t rowBytes = width * channels;
    if (height > SIZE_MAX / rowBytes) return nullptr;
    report.failure = "is too large to decode into memory";
    job.pixels = static_cast<unsigned char*>(malloc(rowBytes * height));
    if (!job.pixels) return nullptr;

    report.failure = "is broken (rows missing)";
    while (job.info.output_scanline < job.info.output_height) {
        JSAMPROW row = job.pixels + job.info.output_scanline * rowBytes;
        if (jpeg_read_scanlines(&job.info, &row, 1) != 1) return nullptr;
    }
    jpeg_finish_decompress(&job.info);
    report.failure.clear();
    report.pictureBytes = job.file->tell() - job.source.base.bytes_in_buffer;

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
    last = ImageLoadReport();
    if (setjmp(job.error.escape)) {
        last.failure = job.error.message;
        return nullptr;
    }
    jpeg_create_decompress(&job.info);
    job.created = true;

    job.file = openPicture(path, last);
    if (!job.file) return nullptr;
    return decodeJPEG(job, path, last);
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
