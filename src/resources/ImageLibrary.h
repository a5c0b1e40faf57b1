// Decoding of PNG and JPEG files from the data-file layer, and the two pixel operations that
// texture creation needs (widening to 32 bits, nearest-neighbour resize).
#pragma once

#include <cstdint>

// Images with a side longer than this are refused (reported, not fatal) before decoding.
constexpr uint32_t kMaxImageSide = 8192;

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

class ImageLibrary {
  public:
    // The process-wide instance (the library keeps no state of its own).
    static ImageLibrary& instance();

    // Picks the decoder by the name's last four characters: ".png"/".PNG" or ".jpg"/".JPG";
    // anything else gives nullptr. The path is directory + name when directory is not empty.
    ImageData* loadImage(const char* name, const char* directory);
    // nullptr on any failure (missing file, bad signature, decoder error, truncated data, a side
    // longer than kMaxImageSide).
    ImageData* loadPNG(const char* path);
    ImageData* loadJPEG(const char* path);

    // Replaces the pixels of a 24-bit image with 32-bit ones (alpha 255); any other depth is fatal,
    // naming `path` (the picture's file) when given.
    void convertTo32Bit(ImageData* image, const char* path = nullptr);
    // Nearest-neighbour resize in place; 0 on success, 1 when the image is missing.
    int scaleImage(uint32_t newWidth, uint32_t newHeight, ImageData* image);
};
