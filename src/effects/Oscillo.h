// Shows the waveform of the music as a dark line over a rectangle of the screen.
#pragma once

#include "demo/Effect.h"
#include "effects/OscilloscopeView.h"

class Oscillo : public Effect {
  public:
    Oscillo();
    // Starts the oscilloscope tap: without a sound system that is fatal.
    void start(int time) override;
    void render(int time) override;

    FloatVariable red{1.0f};    // "Red"
    FloatVariable green{1.0f};  // "Green"
    FloatVariable blue{1.0f};   // "Blue"
    FloatVariable alpha{0.5f};  // "Alpha"
    FloatVariable xPos{0.4f};   // "xPos": left edge of the rectangle
    FloatVariable yPos{0.4f};   // "yPos": top edge, measured from the top
    FloatVariable width{0.4f};  // "Width"
    FloatVariable height{0.4f}; // "Height"

    OscilloscopeView view;
    bool ready = false; // nothing is drawn before the first start
};
