// Writes a sync editor's tracks into a demo script as ordinary SIGNAL keys, so that the player
// plays without the editor what the preview showed with it.
#pragma once

#include "rocket/RocketTrack.h"

#include <string>
#include <vector>

namespace rocket {

// Marks around the written block; the next save replaces what lies between them.
constexpr const char* kBlockBegin =
    "// holdfast-preview: Rocket tracks (the next save from the editor replaces this block)";
constexpr const char* kBlockEnd = "// holdfast-preview: end of the Rocket tracks";
// The script's own SIGNAL lines for a track the editor holds are kept behind this, and given back
// when the editor no longer holds that track.
constexpr const char* kSetAside = "//rocket-held ";

// A curved key (smooth, ramp) is written as straight pieces, with keys wherever needed so that at
// no millisecond the pieces lie further than this from the curve.
constexpr double kCurveTolerance = 0.001;

struct SavedTrack {
    std::string effect, variable;
    int kind = 0;  // VariableKind
    int count = 1; // an int variable's value count (its script values are fractions when > 1)
    const Track* track = nullptr;
};

// `script` with the tracks that hold keys written in; rows of `rowMs`, tracks ending at `trackEnd` ms.
std::string writeTracks(const std::string& script, const std::vector<SavedTrack>& tracks, double rowMs,
                        int trackEnd);

// The first demo time (ms) at which a frame sees row `row` (the keys' times in the script).
int rowTime(uint32_t row, double rowMs);

} // namespace rocket
