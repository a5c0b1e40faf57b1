// The per-frame drive of the demo timeline.
#pragma once

// Delivers due signals, then updates and renders the active effects at demo time t.
// Draws nothing while no effect list exists.
void renderFrame(int t);

// The first step of renderFrame on its own: hands every signal due at t to its effect
// (signals for a name no effect has are dropped).
void deliverDueSignals(int t);
