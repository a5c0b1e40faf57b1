// A contact sheet: frames shrunk to thumbnails in rows, each with a text label under it, so a
// whole demo can be seen at a glance in one picture.
#pragma once

#include <string>
#include <vector>

class ContactSheet {
  public:
    static constexpr int kThumbWidth = 160;
    static constexpr int kThumbHeight = 120;
    static constexpr int kLabelHeight = 12;
    static constexpr int kGap = 4;

    // Room for `tiles` thumbnails, `columns` to a row (fewer when there are fewer tiles).
    ContactSheet(size_t tiles, int columns);

    int width() const { return sheetWidth; }
    int height() const { return sheetHeight; }
    int columns() const { return cols; }
    // Top-left corner of tile i's thumbnail.
    int tileX(size_t i) const;
    int tileY(size_t i) const;

    // Shrinks an RGB frame (rows bottom-up when `bottomUp`, as glReadPixels gives them) into the
    // next free tile, averaging the pixels each thumbnail pixel covers, and writes the label
    // under it. False when every tile is taken.
    bool addTile(const unsigned char* rgb, int width, int height, bool bottomUp, const std::string& label);
    size_t tilesUsed() const { return used; }

    // Top row first.
    const std::vector<unsigned char>& pixels() const { return rgb; }

  private:
    size_t capacity;
    size_t used = 0;
    int cols;
    int sheetWidth;
    int sheetHeight;
    std::vector<unsigned char> rgb;
};

// Draws text with the built-in 5 x 7 font (digits, a few letters and signs; other characters
// are left blank) at (x, y), the top-left corner, into a top-down RGB picture. Clipped.
void drawSmallText(std::vector<unsigned char>& rgb, int width, int height, int x, int y,
                   const std::string& text, unsigned char r, unsigned char g, unsigned char b);
// Width in pixels of text in the small font.
int smallTextWidth(const std::string& text);

// A demo time as a label: "m:ss.mmm".
std::string timeLabel(long long ms);
