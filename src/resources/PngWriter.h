// Writes 8-bit RGB and RGBA pictures as PNG files (tools: captured frames, generated pictures).
#pragma once

#include <string>

// `rgb` holds height rows of width * 3 bytes; `bottomUp` when the first row is the bottom one
// (as glReadPixels returns them). `fast` trades file size for speed. False on any failure.
bool writeRgbPng(const std::string& path, int width, int height, const unsigned char* rgb, bool bottomUp,
                 bool fast);
// The same with an alpha byte after each pixel's colour (`rgba`: rows of width * 4 bytes).
bool writeRgbaPng(const std::string& path, int width, int height, const unsigned char* rgba, bool bottomUp);
