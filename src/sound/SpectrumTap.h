// The spectrum tap: the FFT unit's 512 magnitudes of what is playing, for the spectrum effect.
#pragma once

#include <vector>

namespace spectrumTap {

// Switches the FFT unit on when the sound system runs; false (and nothing done) otherwise.
bool activate();
// The 512 magnitudes (0..1, lowest frequency first) while the music plays, valid until the next
// call; nullptr without a sound system, while the music is paused or not started, or while the
// FFT unit is off.
const float* read();

// What the reads saw since the process started (for the player's statistics): how many gave a
// spectrum, and the largest sum of the 512 magnitudes that a reader reported (noteEnergy).
void noteEnergy(float sum);
unsigned long spectraRead();
float peakEnergy();
// The beats a reader heard (noteBeat, with the demo time of each, in order): the player's and
// the capture tool's figure of how often the beat test fired.
void noteBeat(int time);
const std::vector<int>& beatTimes();

} // namespace spectrumTap
