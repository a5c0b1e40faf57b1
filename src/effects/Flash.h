// A white full-screen quad that flares up on every step of the pattern and decays with the phase.
#pragma once

#include "demo/Effect.h"

class Texture;

class Flash : public Effect {
  public:
    Flash();
    void patternStep(float phase) override;
    void render(int time) override;

    BoolVariable add{true};     // additive instead of alpha blending
    BoolVariable repeat{true};  // accepted from scripts; no influence on drawing
    Texture* texture = nullptr; // never set: the quad is untextured
    float flashStart = 0.0f;    // phase at the last pattern step
};
