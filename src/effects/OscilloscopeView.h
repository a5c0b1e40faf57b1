// The waveform of what is playing, drawn from the oscilloscope tap as a thick line strip into a
// 256 x 256 render target that its effect lays over the screen. Owned by the effects that show a
// waveform.
#pragma once

#include "resources/PBuffer.h"

#include <vector>

class OscilloscopeView {
  public:
    static constexpr int kSize = 256;

    // Creates the render target (needs a current GL context).
    OscilloscopeView();
    // Gives its share of the tap back.
    ~OscilloscopeView();
    OscilloscopeView(const OscilloscopeView&) = delete;
    OscilloscopeView& operator=(const OscilloscopeView&) = delete;

    // Starts the tap (fatal without a sound system); a view starting again keeps one share of it.
    void startTap();
    bool holdsTap() const { return tapHeld; }

    void setColour(float r, float g, float b, float a);
    // Draws the waveform into the render target and returns it.
    PBuffer* renderToPBuffer();

    // The strip's segments + 1 vertices as (x, y) pairs in the unit square, y up: the block after
    // the one the tap is writing, sampled at segments + 1 evenly spaced places.
    void waveform(float* xy) const;

    int segments = 100;
    float colour[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    PBuffer pbuffer;
    int size = kSize;

  private:
    bool tapHeld = false;
    std::vector<float> strip; // the waveform's vertices, kept from frame to frame
};
