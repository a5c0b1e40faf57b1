// holdfast-makedemo: makes the demo's data folder from its sources.
//   holdfast-makedemo --content DIR --out DIR
//
// Copies every file under CONTENT/data (the demo script and whatever else is authored by hand)
// to OUT/data, and draws the loading picture OUT/data/images/loading.png (800 x 600) from
// scratch. The music is made separately by holdfast-makemusic; holdfast-pack then packs OUT.
#include "common/ToolOptions.h"
#include "makedemo/ContentSteps.h"
#include "resources/PngWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::vector<ContentStep>& contentSteps() {
    static std::vector<ContentStep> steps;
    return steps;
}

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// 5 x 7 capitals, one row per entry, the top row first, bit 4 the leftmost column.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'G', {0x0F, 0x10, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
};

const Glyph* glyphFor(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;
}

struct Picture {
    std::vector<float> rgb = std::vector<float>(static_cast<size_t>(kWidth) * kHeight * 3, 0.0f);
    float* at(int x, int y) { return &rgb[(static_cast<size_t>(y) * kWidth + x) * 3]; }
    void blend(int x, int y, const float colour[3], float alpha) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        float* p = at(x, y);
        for (int c = 0; c < 3; ++c)
            p[c] = p[c] * (1.0f - alpha) + colour[c] * alpha;
    }
};

int textWidth(const char* text, int scale) {
    return static_cast<int>(std::strlen(text)) * 6 * scale - scale;
}

// Text centred on cx with its top at y; each font pixel a scale x scale square with a soft glow.
void drawText(Picture& picture, const char* text, int cx, int y, int scale, const float colour[3]) {
    const int x0 = cx - textWidth(text, scale) / 2;
    const float glow[3] = {colour[0] * 0.5f, colour[1] * 0.6f, colour[2]};
    for (int pass = 0; pass < 2; ++pass) {
        const int grow = pass == 0 ? scale / 2 : 0;
        for (size_t i = 0; text[i]; ++i) {
            const Glyph* g = glyphFor(text[i]);
            if (!g) continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col) {
                    if (!(g->rows[row] & (0x10 >> col))) continue;
                    const int px = x0 + static_cast<int>(i) * 6 * scale + col * scale;
                    const int py = y + row * scale;
                    for (int dy = -grow; dy < scale + grow; ++dy)
                        for (int dx = -grow; dx < scale + grow; ++dx)
                            picture.blend(px + dx, py + dy, pass == 0 ? glow : colour,
                                          pass == 0 ? 0.25f : 1.0f);
                }
        }
    }
}

void drawLoadingPicture(Picture& picture) {
    // A night-blue field brightening towards the middle, with faint scan lines.
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float dx = (x - kWidth * 0.5f) / kWidth, dy = (y - kHeight * 0.45f) / kHeight;
            const float glow = std::exp(-(dx * dx + dy * dy) * 6.0f);
            const float scan = (y % 4 == 0) ? 0.85f : 1.0f;
            float* p = picture.at(x, y);
            p[0] = (0.02f + 0.10f * glow) * scan;
            p[1] = (0.03f + 0.12f * glow) * scan;
            p[2] = (0.08f + 0.30f * glow) * scan;
        }
    // A horizon line under the title.
    const float line[3] = {0.55f, 0.75f, 1.0f};
    for (int x = 150; x < 650; ++x) {
        const float fade = 1.0f - std::fabs(x - 400.0f) / 250.0f;
        picture.blend(x, 352, line, 0.8f * fade);
        picture.blend(x, 353, line, 0.4f * fade);
    }
    const float title[3] = {0.92f, 0.95f, 1.0f};
    drawText(picture, "HOLD FAST", kWidth / 2, 240, 11, title);
    const float small[3] = {0.6f, 0.7f, 0.85f};
    drawText(picture, "LOADING...", kWidth / 2, 380, 3, small);
}

bool writePng(const Picture& picture, const fs::path& path) {
    std::vector<unsigned char> bytes(picture.rgb.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const float v = picture.rgb[i];
        bytes[i] = static_cast<unsigned char>(std::lround((v < 0 ? 0 : v > 1 ? 1 : v) * 255.0f));
    }
    return writeRgbPng(path.string(), kWidth, kHeight, bytes.data(), false, false);
}

const tool::Description kTool = {
    "holdfast-makedemo",
    "Generates the demo's data folder (script, pictures, scenes) from the content sources.",
    "usage: holdfast-makedemo --content DIR --out DIR\n"};

int usage() {
    return tool::usageError(kTool);
}

} // namespace

int main(int argc, char** argv) {
    tool::answerHelpAndVersion(argc, argv, kTool);
    std::string content, out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--content" && i + 1 < argc)
            content = argv[++i];
        else if (arg == "--out" && i + 1 < argc)
            out = argv[++i];
        else
            return usage();
    }
    if (content.empty() || out.empty()) return usage();

    std::error_code ec;
    const fs::path source = fs::path(content) / "data";
    if (!fs::is_directory(source, ec)) {
        fprintf(stderr, "holdfast-makedemo: no data folder in %s\n", content.c_str());
        return 1;
    }
    const fs::path target = fs::path(out) / "data";
    // Everything is written by name into the output folder: a FIFO there would block the run and
    // a device or link would be written through. Only regular files and folders may be in the way.
    for (auto it = fs::recursive_directory_iterator(target, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec || fs::is_regular_file(status) || fs::is_directory(status)) continue;
        fprintf(stderr, "holdfast-makedemo: will not write into %s: %s is not a regular file or folder\n",
                out.c_str(), it->path().c_str());
        return 1;
    }
    ec.clear();
    fs::create_directories(target, ec);
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec) {
        fprintf(stderr, "holdfast-makedemo: copying %s: %s\n", source.c_str(), ec.message().c_str());
        return 1;
    }

    fs::create_directories(target / "images", ec);
    Picture picture;
    drawLoadingPicture(picture);
    if (!writePng(picture, target / "images" / "loading.png")) {
        fprintf(stderr, "holdfast-makedemo: cannot write %s\n", (target / "images" / "loading.png").c_str());
        return 1;
    }

    std::vector<ContentStep> steps = contentSteps();
    std::sort(steps.begin(), steps.end(),
              [](const ContentStep& a, const ContentStep& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const ContentStep& step : steps) {
        if (!step.make(target)) {
            fprintf(stderr, "holdfast-makedemo: making the %s failed\n", step.name);
            return 1;
        }
    }
    return 0;
}
