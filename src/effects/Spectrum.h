// Listens to the music: reduces each frame's spectrum to one level, detects beats, and sends the
// level (signal type 5) to its target effects. Draws nothing.
#pragma once

#include "demo/Effect.h"

#include <deque>
#include <vector>

class Spectrum : public Effect {
  public:
    Spectrum();
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;
    // 2: the effect named by the text becomes the only target; 3: it is added; 36: decay mode.
    void signal(const Signal& s) override;

    // One frame's spectrum (512 magnitudes) at `time`: updates the beat state and returns the
    // level to send.
    float analyse(const float* spectrum, int time);

    std::vector<Effect*> targets; // may hold an effect more than once: it then hears each entry
    bool fftActivated = false;
    float maximum = 0.0f;
    float level = 0.0f;
    float lastSum = 0.0f;
    int historyLength = 10;
    std::deque<float> history; // the last sums, oldest first
    float historySum = 0.0f;
    float beatSum = kNoBeat;
    int lastBeatTime = 0;
    bool decayMode = false;  // send a pulse falling from 1 to 0 in 100 ms after each beat
    int lastPassTime = 0;    // when the beat test last passed
    bool passedOnce = false; // since the start

    // Accepted from scripts; the beat test uses its own fixed thresholds.
    FloatVariable maxThresh{0.92f}; // "MaxThresh"
    FloatVariable sumThresh{0.1f};  // "SumThresh"

    static constexpr float kNoBeat = 100000.0f;
    static constexpr float kBeatMaximum = 0.92f; // the loudest band must pass this ...
    static constexpr float kBeatSum = 0.5f;      // ... and all bands together this
};
