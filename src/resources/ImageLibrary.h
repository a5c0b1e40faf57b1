// Decoding of PNG and JPEG files from the data-file layer, and the two pixel operations that
// texture creation needs (widening to 32 bits, nearest-neighbour resize).
#pragma once

#include <cstdint>
#include <string>

// Images with a side longer than this are refused (reported, not fatal) before decoding.
constexpr uint32_t kMaxImageSide = 8192;
// Progressive JPEGs with more scans than this are refused: each scan is a pass over the whole
// picture, and real encoders write about ten (libjpeg-turbo's tools guard the same way). Large
// pictures get fewer, so that no picture takes more than about a second: scans x pixels at most
// kMaxJpegScanPixels, which still allows 100 scans at the largest size.
constexpr int kMaxJpegScans = 1000;
constexpr uint64_t kMaxJpegScanPixels = 100ull * kMaxImageSide * kMaxImageSide;
// Bytes after a picture's end (a PNG's IEND, a JPEG's end marker) worth a word to the author, when
// they are also more than the picture itself: the loaders never read them.
constexpr uint64_t kTrailingDataNote = 64 * 1024;

// One decoded image. Rows are tightly packed (width * bitsPerPixel / 8 bytes), top row first,
// channels red, green, blue (, alpha). `data` comes from malloc and belongs to the holder.
struct ImageData {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    unsigned char* data = nullptr;
};

// Frees the pixels and the record; null is accepted.
void freeImage(ImageData* image);

// What the last load found: why it failed, and how much of the file the picture took.
struct ImageLoadReport {
    std::string failure;       // "" after a success; else, for an author: "is missing", "is broken: ..."
    uint64_t fileBytes = 0;    // the file's length
    uint64_t pictureBytes = 0; // up to the picture's end; 0 when unknown
    uint64_t trailingBytes() const {
        return pictureBytes && fileBytes > pictureBytes ? fileBytes - pictureBytes : 0;
    }
    // Much more after the picture than the picture: worth a warning ("trailing data").
    bool muchTrailingData() const {
        return trailingBytes() >= kTrailingDataNote && trailingBytes() > pictureBytes;
    }
};

class ImageLibrary {
  public:
    // The process-wide instance (the library keeps no state of its own).
    static ImageLibrary& instance();

    // Picks the decoder by the name's last four characters: ".png"/".PNG" or ".jpg"/".JPG";
    // anything else gives nullptr. The path is directory + name when directory is not empty.
    ImageData* loadImage(const char* name, const char* directory);
    // nullptr on any failure (missing file, bad signature, decoder error, truncated data, a side
    // longer than kMaxImageSide, more than kMaxJpegScans scans). Only the bytes up to the
    // picture's end are read; lastLoad() says why a load failed and what followed the picture.
    ImageData* loadPNG(const char* path);
    ImageData* loadJPEG(const char* path);
    const ImageLoadReport& lastLoad() const { return last; }

    // Replaces the pixels of a 24-bit image with 32-bit ones (alpha 255); any other depth is fatal,
    // naming `path` (the picture's file) when given.
    void convertTo32Bit(ImageData* image, const char* path = nullptr);
    // Nearest-neighbour resize in place; 0 on success, 1 when the image is missing.
    int scaleImage(uint32_t newWidth, uint32_t newHeight, ImageData* image);

  private:
    ImageLoadReport last;
};
