// Writes a sync editor's tracks into a demo script as ordinary SIGNAL keys, so that the player
// plays without the editor what the preview showed with it.
#pragma once

#include "rocket/RocketCurve.h"
#include "rocket/RocketTrack.h"

#include <cstddef>
#include <string>
#include <vector>

namespace rocket {

// Marks around the written block; the next save replaces what lies between them.
constexpr const char* kBlockBegin =
    "// holdfast-preview: Rocket tracks (the next save from the editor replaces this block)";
constexpr const char* kBlockEnd = "// holdfast-preview: end of the Rocket tracks";
// The script's own SIGNAL lines for a track the block keys are kept behind this, and given back
// when the block no longer keys that track.
constexpr const char* kSetAside = "//rocket-held ";
// A save that would write more keys than this is refused (an editor's tracks are a few thousand).
constexpr size_t kMaxSavedKeys = 1000000;

struct SavedTrack {
    std::string effect, variable;
    int kind = 0;  // VariableKind
    int count = 1; // an int variable's value count (its script values are fractions when > 1)
    const Track* track = nullptr;
    bool listed = false; // an int variable that indexes a list: its values stay inside the list
};

struct SaveResult {
    std::string text; // the script with the tracks written in
    // Tracks ("Effect:Variable") the last save wrote and the editor now holds no keys for: their
    // lines stay in the block as they were.
    std::vector<std::string> kept;
    std::string refused; // not empty: nothing is to be written, for this reason
};

// `script` with the tracks that hold keys written in; rows of `rowMs`, tracks ending at
// `trackEnd` ms (DEMO_END).
SaveResult writeTracks(const std::string& script, const std::vector<SavedTrack>& tracks, double rowMs,
                       int trackEnd);

// The shortest decimal that the script loader reads back as exactly `v`.
std::string scriptNumber(float v);

} // namespace rocket
