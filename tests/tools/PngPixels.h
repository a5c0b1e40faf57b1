// Reads PNG frames written by the capture tool.
#pragma once

#include <png.h>

#include <string>
#include <vector>

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb; // top row first
    bool ok = false;
    // The pixel at (x, y), y counted from the top.
    std::vector<int> at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

inline Frame readPng(const std::string& path) {
    Frame frame;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return frame;
    image.format = PNG_FORMAT_RGB;
    frame.width = static_cast<int>(image.width);
    frame.height = static_cast<int>(image.height);
    frame.rgb.resize(PNG_IMAGE_SIZE(image));
    frame.ok = png_image_finish_read(&image, nullptr, frame.rgb.data(), 0, nullptr) != 0;
    return frame;
}
