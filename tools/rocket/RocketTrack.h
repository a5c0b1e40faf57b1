// A sync editor's track: keys on rows, evaluated between rows the way the Rocket editor draws
// them, and usable in place of an effect variable's own keys.
#pragma once

#include "demo/Variable.h"
#include "rocket/RocketProtocol.h"

#include <cstdint>
#include <vector>

namespace rocket {

struct TrackKey {
    uint32_t row = 0;
    float value = 0.0f;
    Interpolation interpolation = Interpolation::Step;
};

class Track {
  public:
    void setKey(const TrackKey& key); // replaces a key on the same row
    void deleteKey(uint32_t row);     // nothing if the row has no key
    void clear() { keys_.clear(); }
    bool empty() const { return keys_.empty(); }
    const std::vector<TrackKey>& keys() const { return keys_; }
    // Before the first key its value, after the last the last one's; between keys as the earlier
    // key's interpolation says. An empty track is 0.
    double valueAtRow(double row) const;

  private:
    std::vector<TrackKey> keys_; // by row
};

// The curve of interpolation `kind` from a to b at t in [0, 1].
double interpolate(Interpolation kind, double a, double b, double t);

// A track standing in for a variable: demo time to rows of `rowMs` (row 0 at time 0).
class LiveTrack : public VariableOverride {
  public:
    bool valueAt(int time, double& value) const override {
        if (track.empty()) return false;
        value = track.valueAtRow(static_cast<double>(time) / rowMs);
        return true;
    }
    Track track;
    double rowMs = 25.0;
};

} // namespace rocket
