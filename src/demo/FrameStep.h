// The per-frame drive of the demo timeline.
#pragma once

class Effect;
struct Signal;

// Delivers due signals, then updates and renders the active effects at demo time t.
// Draws nothing while no effect list exists.
void renderFrame(int t);

// The first step of renderFrame on its own: hands every signal due at t to its effect
// (signals for a name no effect has are dropped).
void deliverDueSignals(int t);

// The frame step without drawing: signals and the update pass at t. Replaying a stretch of the
// timeline this way leaves the effects' clocks, pattern steps and signal state as the full
// frames would, at a fraction of the cost (what effects keep from drawing is not replayed).
void updateFrame(int t);

// The frame step without drawing: signals and each active effect's updateState (its clock,
// pattern step and whatever else its update keeps, such as a scene's camera). Frames stepped
// this way leave that state where full frames would, at a tiny part of the cost.
void stepState(int t);

// What the frame step (or a load's warm-up) is working on, for a report that wants to name the
// script line behind it: the signal being handed over, the effect being updated, drawn or warmed
// up. Null when none.
const Signal* signalInProgress();
const Effect* effectInProgress();
// Marks an effect as the one in progress while it lives (they nest).
class EffectInProgress {
  public:
    explicit EffectInProgress(const Effect* effect);
    ~EffectInProgress();
    EffectInProgress(const EffectInProgress&) = delete;
    EffectInProgress& operator=(const EffectInProgress&) = delete;

  private:
    const Effect* previous;
};
