// The bundled music's arrangement: which parts play in which bars, and the mix of drums and the
// other parts into the finished stereo signal.
#pragma once

#include "makemusic/Synth.h"

#include <vector>

namespace makemusic {

struct Parts {
    std::vector<double> kicks; // kick times, for the ducking of the other parts
};

// Adds the drums (when `drums` is given) and the other parts (when `music` is given).
void arrange(Bus* drums, Bus* music, int bars, Parts& parts);

// Drums plus the other parts, which duck a little under every kick; then the ends are faded
// and the sum is softly limited just under full scale (the encoder's ripple must not clip).
void mixDown(const Bus& drums, const Bus& music, const Parts& parts, double seconds, std::vector<float>& left,
             std::vector<float>& right);

} // namespace makemusic
