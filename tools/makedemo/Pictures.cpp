// The pictures that the picture effects show: a plasma that tiles seamlessly (so that the
// roto-zoomer's repeats meet without seams), stored as PNG, and a sunset over the sea, stored as
// JPEG. Both are drawn from formulas here.
#include "makedemo/ContentSteps.h"
#include "resources/PngWriter.h"

#include <cstdio> // before jpeglib.h, which uses FILE

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kSize = 512;

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

unsigned char toByte(float v) {
    return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

template <typename F> std::vector<unsigned char> draw(F colourAt) {
    std::vector<unsigned char> rgb(static_cast<size_t>(kSize) * kSize * 3);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const Rgb c = colourAt(static_cast<float>(x) / kSize, static_cast<float>(y) / kSize);
            unsigned char* p = &rgb[(static_cast<size_t>(y) * kSize + x) * 3];
            p[0] = toByte(c.r);
            p[1] = toByte(c.g);
            p[2] = toByte(c.b);
        }
    return rgb;
}

// Whole periods across the picture in every term, so the left edge continues the right one and
// the top the bottom.
Rgb plasma(float u, float v) {
    const float w = 2.0f * kPi;
    const float s = std::sin(w * 2 * u) + std::sin(w * 3 * v) + std::sin(w * (2 * u + v)) +
                    std::sin(w * (u - 2 * v)) * 0.5f;
    const float t = 0.5f + 0.5f * std::sin(s * 1.6f); // 0..1, banded
    // Deep blue through violet and magenta to a warm gold.
    const Rgb low{0.05f, 0.06f, 0.30f}, mid{0.55f, 0.10f, 0.60f}, high{1.0f, 0.72f, 0.25f};
    Rgb c = t < 0.5f ? mix(low, mid, t * 2) : mix(mid, high, (t - 0.5f) * 2);
    const float rim = std::pow(std::fabs(std::sin(s * 3.2f)), 24.0f); // thin bright contour lines
    return mix(c, Rgb{1, 1, 1}, rim * 0.6f);
}

// v = 0 is the top row.
Rgb sunset(float u, float v) {
    const float horizon = 0.62f;
    const float sunX = 0.5f, sunY = 0.50f, sunR = 0.10f;
    if (v < horizon) {
        // Sky: violet at the top to orange at the horizon, the sun with a wide glow.
        const float t = v / horizon;
        Rgb c = t < 0.6f ? mix(Rgb{0.12f, 0.05f, 0.30f}, Rgb{0.75f, 0.20f, 0.40f}, t / 0.6f)
                         : mix(Rgb{0.75f, 0.20f, 0.40f}, Rgb{1.0f, 0.62f, 0.22f}, (t - 0.6f) / 0.4f);
        const float dx = u - sunX, dy = (v - sunY) * 0.8f;
        const float d = std::sqrt(dx * dx + dy * dy);
        const float glow = std::exp(-d * d * 30.0f) * 0.6f;
        c = mix(c, Rgb{1.0f, 0.85f, 0.5f}, glow);
        if (d < sunR) c = mix(Rgb{1.0f, 0.95f, 0.70f}, c, std::pow(d / sunR, 8.0f));
        // Far hills: a dark band along the horizon with a wavy top.
        const float hill =
            horizon - 0.05f - 0.03f * std::sin(u * 2 * kPi * 3) - 0.02f * std::sin(u * 2 * kPi * 7 + 1);
        if (v > hill) c = mix(c, Rgb{0.10f, 0.03f, 0.12f}, 0.85f);
        return c;
    }
    // Sea: dark blue, with the sun's path in broken bright stripes.
    const float depth = (v - horizon) / (1 - horizon);
    Rgb c = mix(Rgb{0.35f, 0.15f, 0.30f}, Rgb{0.03f, 0.05f, 0.18f}, std::sqrt(depth));
    const float width = 0.04f + 0.12f * depth;
    const float path = std::exp(-std::pow((u - sunX) / width, 2.0f));
    const float ripple = 0.5f + 0.5f * std::sin(depth * 140.0f + std::sin(u * 40.0f) * 2.0f);
    c = mix(c, Rgb{1.0f, 0.75f, 0.40f}, path * ripple * (1.0f - depth * 0.5f));
    return c;
}

bool writeJpeg(const fs::path& path, const std::vector<unsigned char>& rgb) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = kSize;
    info.image_height = kSize;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<unsigned char*>(rgb.data()) + static_cast<size_t>(info.next_scanline) * kSize * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

bool makePictures(const fs::path& dataDir) {
    std::error_code ec;
    const fs::path images = dataDir / "images";
    fs::create_directories(images, ec);
    const fs::path plasmaPath = images / "plasma.png", sunsetPath = images / "sunset.jpg";
    if (!writeRgbPng(plasmaPath.string(), kSize, kSize, draw(plasma).data(), false, false)) {
        std::fprintf(stderr, "holdfast-makedemo: cannot write %s\n", plasmaPath.c_str());
        return false;
    }
    if (!writeJpeg(sunsetPath, draw(sunset))) {
        std::fprintf(stderr, "holdfast-makedemo: cannot write %s\n", sunsetPath.c_str());
        return false;
    }
    return true;
}

RegisterContentStep reg("pictures", makePictures);

} // namespace
