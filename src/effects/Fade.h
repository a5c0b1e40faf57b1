// A coloured full-screen quad whose opacity follows the effect's phase: fading out (default) or in.
#pragma once

#include "demo/Effect.h"

class Texture;

class Fade : public Effect {
  public:
    Fade();
    void start(int time) override;
    void render(int time) override;
    // Besides the base types: 22 sets Speed to 1/value, 27 the fade-out flag, 31 the blend flag.
    void signal(const Signal& s) override;

    FloatVariable red{0.0f}, green{0.0f}, blue{0.0f};
    FloatVariable alpha{0.0f};  // accepted from scripts; the opacity comes from the phase
    Texture* texture = nullptr; // never set: the quad is untextured
    bool fadeOut = true;
    bool blend = false;
};
