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

// A track's keys in row order, read in place.
class KeySpan {
  public:
    KeySpan() = default;
    KeySpan(const TrackKey* data, size_t size) : data_(data), size_(size) {}
    const TrackKey* begin() const { return data_; }
    const TrackKey* end() const { return data_ + size_; }
    const TrackKey& operator[](size_t i) const { return data_[i]; }
    const TrackKey& front() const { return data_[0]; }
    const TrackKey& back() const { return data_[size_ - 1]; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

  private:
    const TrackKey* data_ = nullptr;
    size_t size_ = 0;
};

// Keys by row in one array with room kept at both ends: a key before the first or after the last
// goes in at its end (amortised constant time, so an editor sending keys on rising or falling rows
// costs a key's worth each), and a key on a row that has one replaces it at once. Any other edit
// waits in arrival order and all waiting edits go in with one merge when the keys are next read,
// so thousands of keys in any order cost one pass over the track per frame, not one per key.
class Track {
  public:
    void setKey(const TrackKey& key); // replaces a key on the same row
    void deleteKey(uint32_t row);     // nothing if the row has no key
    void clear();
    bool empty() const { return keys().empty(); }
    size_t size() const { return keys().size(); }
    KeySpan keys() const;
    // Before the first key its value, after the last the last one's; between keys as the earlier
    // key's interpolation says. An empty track is 0.
    double valueAtRow(double row) const;

  private:
    struct Edit {
        TrackKey key;
        bool erase = false;
    };
    void merge() const;
    // Makes room for `front` more keys before the first and `back` more after the last.
    void reserve(size_t front, size_t back) const;
    TrackKey* first() const { return store_.data() + first_; }
    mutable std::vector<TrackKey> store_; // the keys are store_[first_, first_ + count_)
    mutable size_t first_ = 0, count_ = 0;
    mutable std::vector<TrackKey> spare_; // the merge's other buffer, kept so it costs no page faults
    mutable std::vector<Edit> waiting_;   // in arrival order
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
