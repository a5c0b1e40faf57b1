// The blur's chain of streak passes, shared by every effect that blurs a picture this way: up to
// four separable passes of six shifted copies each, every pass wider than the one before, through
// three working targets (source -> P1 -> P2 -> P3 -> P1).
#pragma once

class PBuffer;
class Texture;

struct StreakSource {
    Texture* texture = nullptr; // the picture as a texture, or
    PBuffer* pbuffer = nullptr; // in a render target (used when texture is null)
};

// Runs passes 0 .. lastPass (at most 3; nothing below 0) with the same intensity per copy.
// onlyX keeps the horizontal copies only, onlyY the vertical ones. Returns the target that holds
// the result, or nullptr when no pass ran.
PBuffer* runStreakPasses(const StreakSource& source, PBuffer* p1, PBuffer* p2, PBuffer* p3, int lastPass,
                         float intensity, bool onlyX, bool onlyY);
