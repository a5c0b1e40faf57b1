// A glowing tube of 100 smooth curves in 3D: rings of 10 control points around the viewing axis,
// each drawn as a uniform cubic B-spline fading along its length, with a dot at its start. A
// wobble sampled every 5 ms into a 2000-entry history drives the rings, each point 750 ms later
// than the one before, so the motion travels along the tube. Untextured and additive.
#pragma once

#include "demo/Effect.h"

class Splinzor : public Effect {
  public:
    static constexpr int kHistory = 2000;
    static constexpr int kRings = 100;
    static constexpr int kPoints = 10;
    static constexpr int kStepMs = 5;

    Splinzor();
    void render(int time) override;

    // Shared by every Splinzor (a new one refills them).
    static const float* history();    // kHistory values, the newest last
    static int lastStepTime();        // demo time of the next history step still due
    static const float* ringStarts(); // kRings x (x, y, z), the first sample of each curve

    // Takes the history steps due up to `time` (one per 5 ms since the last); none when time has
    // not moved forward. Returns how many steps the time asked for.
    long catchUp(int time);

    FloatVariable red{0.4f}, green{0.4f}, blue{0.4f}, alpha{0.4f};
    FloatVariable radius{0.5f}; // "Radius"
    FloatVariable zInc{0.5f};   // "zInc"
    FloatVariable magic1{0.4f}; // jitter strength
    FloatVariable magic2{0.5f}; // cosine frequency of the depth wobble
    FloatVariable magic3{0.5f}; // sine frequency of the depth wobble

  private:
    float wobbleAt(int time);
    void historyStep(int time);
};
