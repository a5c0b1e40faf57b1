// The linked effect's picture as a mosaic: a coarse copy (one texel per cell) gives the cell
// colours, and a small copy of the whole picture lands in every cell, tinted by its cell. The
// cells multiply as the phase grows.
#pragma once

#include "demo/Effect.h"
#include "resources/PBuffer.h"

class Mosaic : public Effect {
  public:
    Mosaic();
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;

    FloatVariable red{1.0f}, green{1.0f}, blue{1.0f}, alpha{1.0f}; // accepted, not drawn with
    FloatVariable saturation{0.4f};    // brightening of the cells: trunc(Saturation x 10)
    FloatVariable preSaturation{0.0f}; // accepted, not drawn with
    BoolVariable zoomCenter{true};     // zoom about the centre instead of a corner

    PBuffer detail; // 256 x 256, the picture brightened
    PBuffer cells;  // cellCount x cellCount, the cell colours
    int cellCount = 64;
};
