// The picture the grid effects carry: data/textures/grids.png, 256 x 256, seamless when repeated
// (the grids wrap their texture coordinates): a checkerboard of warm and cool squares crossed by
// bright rings, so both the bending sheet and the tunnels show their motion.
#include "makedemo/ContentSteps.h"
#include "resources/PngWriter.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSize = 256;

unsigned char channel(float v) {
    return static_cast<unsigned char>(std::lround(std::fmin(1.0f, std::fmax(0.0f, v)) * 255));
}

bool makeGridPicture(const fs::path& dataDir) {
    const fs::path dir = dataDir / "textures";
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::vector<unsigned char> rgb(static_cast<size_t>(kSize) * kSize * 3);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const bool warm = ((x / 32) + (y / 32)) % 2 == 0;
            // Distance to the nearest tile centre, so the rings repeat with the tiles.
            const float dx = static_cast<float>((x % 64) - 32) + 0.5f;
            const float dy = static_cast<float>((y % 64) - 32) + 0.5f;
            const float ring = std::pow(0.5f + 0.5f * std::cos(std::sqrt(dx * dx + dy * dy) * 0.6f), 6.0f);
            float r = warm ? 0.85f : 0.10f, g = warm ? 0.35f : 0.45f, b = warm ? 0.10f : 0.80f;
            r += ring * 0.6f;
            g += ring * 0.6f;
            b += ring * 0.5f;
            unsigned char* p = &rgb[(static_cast<size_t>(y) * kSize + x) * 3];
            p[0] = channel(r);
            p[1] = channel(g);
            p[2] = channel(b);
        }
    }
    const fs::path file = dir / "grids.png";
    if (!writeRgbPng(file.string(), kSize, kSize, rgb.data(), false, false)) {
        std::fprintf(stderr, "holdfast-makedemo: cannot write %s\n", file.c_str());
        return false;
    }
    return true;
}

const RegisterContentStep reg("grids", makeGridPicture);

} // namespace
