// Reading the preview's panel back from its window's pixels, with the overlay's own font.
#pragma once

#include "X11Control.h"
#include "preview/OverlayFont.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// The text of the panel over the frame, read back from the window's pixels with the overlay's
// own font: its lines from the top, wrapped lines joined, runs of blanks made one.
inline std::string panelText(const std::vector<unsigned char>& rgb, int width = 800, int height = 600) {
    namespace font = preview::font;
    if (rgb.empty()) return "";
    const auto ink = [&](int x, int y) {
        const unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return std::max({p[0], p[1], p[2]}) >= 160;
    };
    std::vector<std::string> lines;
    for (int row = 0;; ++row) {
        const int top = height - font::kMargin - (row + 1) * font::kCellHeight;
        if (top < 0) break;
        std::string line;
        for (int x = font::kMargin; x + font::kCellWidth <= width; x += font::kCellWidth) {
            unsigned char cell[font::kGlyphHeight] = {};
            for (int r = 0; r < font::kGlyphHeight; ++r)
                for (int c = 0; c < font::kGlyphWidth; ++c)
                    if (ink(x + c * font::kScale, top + r * font::kScale)) cell[r] |= 0x10 >> c;
            char found = '\x01';
            for (int g = 0; g <= font::kLast - font::kFirst; ++g)
                if (std::equal(cell, cell + font::kGlyphHeight, font::kGlyphs[g]))
                    found = static_cast<char>(font::kFirst + g);
            line += found;
        }
        if (line.find_first_not_of(' ') == std::string::npos || line.find('\x01') != std::string::npos) break;
        lines.insert(lines.begin(), line);
    }
    std::string text;
    for (const std::string& line : lines)
        text += " " + line;
    std::string joined;
    for (char c : text)
        if (c != ' ' || (!joined.empty() && joined.back() != ' ')) joined += c;
    return joined;
}

// Waits up to 20 s for `part` to show on the panel; returns the last text read.
inline std::string waitForPanel(unsigned long window, const std::string& part) {
    std::string text = panelText(grabWindow(window, 800, 600));
    for (int i = 0; i < 800 && text.find(part) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        text = panelText(grabWindow(window, 800, 600));
    }
    return text;
}
