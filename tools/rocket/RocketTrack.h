// A sync editor's track: keys on rows, evaluated between rows the way the Rocket editor draws
// them, and usable in place of an effect variable's own keys.
#pragma once

#include "demo/Variable.h"
#include "rocket/RocketProtocol.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rocket {

struct TrackKey {
    uint32_t row = 0;
    float value = 0.0f;
    Interpolation interpolation = Interpolation::Step;
};

// Keys by row in one array. A key after the last one is appended and a key on a row that has
// one replaces it at once; any other edit waits in arrival order and all waiting edits go in
// with one merge when the keys are next read, so an editor sending thousands of keys in any order
// costs one pass over the track per frame, not one per key.
class Track {
  public:
    void setKey(const TrackKey& key); // replaces a key on the same row
    void deleteKey(uint32_t row);     // nothing if the row has no key
    void clear();
    bool empty() const { return keys().empty(); }
    size_t size() const { return keys().size(); }
    const std::vector<TrackKey>& keys() const;
    // Before the first key its value, after the last the last one's; between keys as the earlier
    // key's interpolation says. An empty track is 0.
    double valueAtRow(double row) const;

  private:
    struct Edit {
        TrackKey key;
        bool erase = false;
    };
    void merge() const;
    mutable std::vector<TrackKey> keys_; // by row
    mutable std::vector<Edit> waiting_;  // in arrival order
};

// The curve of interpolation `kind` from a to b at t in [0, 1].
double interpolate(Interpolation kind, double a, double b, double t);

// A track standing in for a variable: demo time to rows of `rowMs` (row 0 at time 0). What it
// gives at each millisecond is what the script gives once the track is saved into it (see
// RocketCurve.h), so the player shows exactly what the preview showed.
class LiveTrack : public VariableOverride {
  public:
    bool valueAt(int time, double& value) const override;
    Track track;
    double rowMs = 25.0;
    int trackEnd = INT_MAX; // the script's DEMO_END: keys end there, as the script's do
    int kind = KindFloat;   // VariableKind of the variable it stands in for
};

} // namespace rocket
