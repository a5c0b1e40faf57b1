// What texture creation does with a decoded image, minus the GL: widen to 32 bits and resize to
// a power-of-two square (only for pictures small enough to keep each run fast).
#pragma once

#include "resources/ImageLibrary.h"

#include <cstdlib>

inline void useImage(ImageData* image) {
    if (!image) return;
    ImageLibrary& library = ImageLibrary::instance();
    const uint64_t pixels = static_cast<uint64_t>(image->width) * image->height;
    if (image->bitsPerPixel == 24 || image->bitsPerPixel == 32) {
        if (image->bitsPerPixel == 24) library.convertTo32Bit(image);
        if (pixels <= (1u << 18)) {
            uint32_t side = 1;
            while (side < image->width || side < image->height)
                side *= 2;
            library.scaleImage(side, side, image);
        }
    }
    freeImage(image);
}

// Reports of refused pictures go to stderr; the fuzzer needs no box.
inline const bool unattended = [] { return setenv("HOLDFAST_UNATTENDED", "1", 1) == 0; }();
