#include "effects/StreakPasses.h"

#include "resources/PBuffer.h"
#include "resources/ScreenQuad.h"

namespace {
struct Pass {
    float step;
    float offset; // copies at -offset, -offset + step, ... (pixels)
};
// Each pass spreads the last one's result further: 5, 15, 25 and 35 pixels between the outer copies.
constexpr Pass kPasses[4] = {{1.0f, 2.5f}, {3.0f, 6.5f}, {5.0f, 12.5f}, {7.0f, 17.5f}};
constexpr unsigned kCopies = 6;
} // namespace

PBuffer* runStreakPasses(const StreakSource& source, PBuffer* p1, PBuffer* p2, PBuffer* p3, int lastPass,
                         float intensity, bool onlyX, bool onlyY) {
    if (lastPass < 0) return nullptr;
    // onlyX leaves out the vertical copies, onlyY the horizontal ones.
    if (source.texture)
        streakTexture(source.texture, p1, kCopies, kPasses[0].step, kPasses[0].offset, intensity, onlyX,
                      onlyY);
    else
        streakPBuffer(source.pbuffer, p1, kCopies, kPasses[0].step, kPasses[0].offset, intensity, onlyX,
                      onlyY);
    PBuffer* result = p1;
    PBuffer* const chain[4] = {p1, p2, p3, p1};
    for (int pass = 1; pass <= lastPass && pass < 4; ++pass) {
        streakPBuffer(chain[pass - 1], chain[pass], kCopies, kPasses[pass].step, kPasses[pass].offset,
                      intensity, onlyX, onlyY);
        result = chain[pass];
    }
    return result;
}
