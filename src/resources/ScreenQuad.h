// Small immediate-mode drawing helpers shared by the 2D effects: unit-square projections,
// rectangles with or without a texture rectangle, brightening and streak passes.
#pragma once

class Texture;
class PBuffer;

// In the unit square: x to the right, y measured down from the top edge. As a texture
// rectangle the fields read s, t, tw, th.
struct ScreenRect {
    float x;
    float y;
    float width;
    float height;
};

// Projection glOrtho(0, 1, 0, 1, -1, 1) (y up) or glOrtho(0, 1, 1, 0, -1, 1) (y down), then an
// identity model-view; the matrix mode is GL_MODELVIEW afterwards. Nothing is pushed.
void setOrthoYUp();
void setOrthoYDown();

// One GL_QUADS primitive; corner 1 is (x, 1 - y) with texture coordinate (s, t), then clockwise
// on screen under setOrthoYUp. No colour is set.
void drawQuad(const ScreenRect& rect);
void drawQuadTexRect(const ScreenRect& rect, const ScreenRect& texRect);
// With a texture: binds it and enables GL_TEXTURE_2D around the quad; null draws with whatever
// texturing is current.
void drawTexturedQuad(Texture* texture, const ScreenRect& rect);
void drawTexturedQuadTexRect(Texture* texture, const ScreenRect& rect, const ScreenRect& texRect);
// The rectangle (0, 0, 1, 1).
void drawUnitQuad();

// Multiplies the frame buffer by about `factor` (doubling passes under GL_DST_COLOR, GL_ONE blending).
void brightenScreen(int factor);

// Sums count shifted copies of the bound texture along x and along y into the current target
// (size x size), each scaled by intensity. The vertical pass's translation is left on the
// model-view matrix.
void drawStreakQuads(float size, unsigned count, float step, float offset, float intensity, bool skipVertical,
                     bool skipHorizontal);
// drawStreakQuads into `target` with the colour contents of `source` (or `texture`) bound; nothing
// when the target is not initialised.
void streakPBuffer(PBuffer* source, PBuffer* target, unsigned count, float step, float offset,
                   float intensity, bool skipVertical, bool skipHorizontal);
void streakTexture(Texture* texture, PBuffer* target, unsigned count, float step, float offset,
                   float intensity, bool skipVertical, bool skipHorizontal);
