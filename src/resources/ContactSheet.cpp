#include "resources/ContactSheet.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kAdvance = kGlyphWidth + 1;
constexpr unsigned char kBackground = 32;

struct Glyph {
    char c;
    unsigned char rows[kGlyphHeight]; // bit 4 is the leftmost column
};

// Enough for time labels and short notes.
const Glyph kGlyphs[] = {
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}}, {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}}, {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}}, {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}}, {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}}, {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {':', {0x00, 0x0c, 0x0c, 0x00, 0x0c, 0x0c, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}}, {'s', {0x00, 0x00, 0x0e, 0x10, 0x0e, 0x01, 0x1e}},
    {'m', {0x00, 0x00, 0x1a, 0x15, 0x15, 0x11, 0x11}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
};

const Glyph* glyphFor(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return &g;
    return nullptr;
}

} // namespace

int smallTextWidth(const std::string& text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * kAdvance - 1;
}

void drawSmallText(std::vector<unsigned char>& rgb, int width, int height, int x, int y,
                   const std::string& text, unsigned char r, unsigned char g, unsigned char b) {
    for (size_t n = 0; n < text.size(); ++n) {
        const Glyph* glyph = glyphFor(text[n]);
        if (!glyph) continue;
        const int left = x + static_cast<int>(n) * kAdvance;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (!(glyph->rows[row] & (0x10 >> col))) continue;
                const int px = left + col, py = y + row;
                if (px < 0 || py < 0 || px >= width || py >= height) continue;
                unsigned char* p = &rgb[(static_cast<size_t>(py) * width + px) * 3];
                p[0] = r;
                p[1] = g;
                p[2] = b;
            }
        }
    }
}

std::string timeLabel(long long ms) {
    const bool negative = ms < 0;
    const unsigned long long v =
        negative ? 0ull - static_cast<unsigned long long>(ms) : static_cast<unsigned long long>(ms);
    char text[48];
    snprintf(text, sizeof text, "%s%llu:%02llu.%03llu", negative ? "-" : "", v / 60000, v / 1000 % 60,
             v % 1000);
    return text;
}

ContactSheet::ContactSheet(size_t tiles, int columns) : capacity(tiles) {
    cols = static_cast<int>(
        std::max<size_t>(1, std::min<size_t>(tiles, static_cast<size_t>(std::max(1, columns)))));
    const size_t rows = std::max<size_t>(1, (tiles + cols - 1) / cols);
    sheetWidth = kGap + cols * (kThumbWidth + kGap);
    sheetHeight = kGap + static_cast<int>(rows) * (kThumbHeight + kLabelHeight + kGap);
    rgb.assign(static_cast<size_t>(sheetWidth) * sheetHeight * 3, kBackground);
}

int ContactSheet::tileX(size_t i) const {
    return kGap + static_cast<int>(i % cols) * (kThumbWidth + kGap);
}
int ContactSheet::tileY(size_t i) const {
    return kGap + static_cast<int>(i / cols) * (kThumbHeight + kLabelHeight + kGap);
}

bool ContactSheet::addTile(const unsigned char* frame, int width, int height, bool bottomUp,
                           const std::string& label) {
    if (used >= capacity || width <= 0 || height <= 0) return false;
    const int x0 = tileX(used), y0 = tileY(used);
    for (int ty = 0; ty < kThumbHeight; ++ty) {
        const int sy0 = ty * height / kThumbHeight, sy1 = std::max(sy0 + 1, (ty + 1) * height / kThumbHeight);
        for (int tx = 0; tx < kThumbWidth; ++tx) {
            const int sx0 = tx * width / kThumbWidth, sx1 = std::max(sx0 + 1, (tx + 1) * width / kThumbWidth);
            unsigned sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy) {
                const int row = bottomUp ? height - 1 - sy : sy;
                const unsigned char* p = frame + (static_cast<size_t>(row) * width + sx0) * 3;
                for (int sx = sx0; sx < sx1; ++sx, p += 3) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const unsigned count = static_cast<unsigned>((sy1 - sy0) * (sx1 - sx0));
            unsigned char* out = &rgb[(static_cast<size_t>(y0 + ty) * sheetWidth + x0 + tx) * 3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>((sum[c] + count / 2) / count);
        }
    }
    const int textX = x0 + (kThumbWidth - smallTextWidth(label)) / 2;
    drawSmallText(rgb, sheetWidth, sheetHeight, textX, y0 + kThumbHeight + 3, label, 230, 230, 230);
    ++used;
    return true;
}
