// Two layers of random grey texels over the screen (1024 and 512 per side, sampled without
// filtering), alpha-blended; with "Animate" they jump to a new random offset every frame like
// television static. Signal 5 (from the spectrum) makes it flare by the beat factor of signal 28.
#pragma once

#include "demo/Effect.h"
#include "resources/ScreenQuad.h"

class Texture;

class Noise : public Effect {
  public:
    Noise();
    void render(int time) override;
    // 5: alpha boost = beat factor x value; 28: beat factor = value.
    void signal(const Signal& s) override;

    // The texture rectangle both layers are drawn with; shared by every Noise.
    static ScreenRect& textureRect();

    FloatVariable red{1.0f}, green{1.0f}, blue{1.0f}, alpha{1.0f};
    BoolVariable animate{false}; // "Animate"
    Texture* noise1 = nullptr;   // "noisetexture", 1024 x 1024
    Texture* noise2 = nullptr;   // "noisetexture2", 512 x 512
    float alphaBoost = 0.0f;
    float beatFactor = 0.0f;
};
