// A sync editor's track as the demo script holds it once saved. Frames come at whole
// milliseconds, so the script needs keys only there: each row's key goes to the first whole
// millisecond that sees the row, and between keys the script's float tracks blend straight while
// on/off and integer tracks switch at their keys. A float track's keys are chosen so that the
// straight pieces follow the editor's curve (within kCurveTolerance for smooth and ramp keys);
// the preview shows the value those keys give, worked out the way the player works it out, so the
// saved script plays exactly what was seen.
#pragma once

#include "rocket/RocketTrack.h"

#include <cstddef>
#include <vector>

namespace rocket {

// A curved key's pieces lie no further than this from the editor's curve at any millisecond: an
// eighth of a colour level.
constexpr double kCurveTolerance = 1.0 / 2048;

// The first demo time (ms) at which a frame sees row `row` (a key's time in the script).
int rowTime(uint32_t row, double rowMs);

struct TimedValue {
    int time;
    double value;
};

class Curve {
  public:
    // `trackEnd`: the script's DEMO_END, where its key tracks end.
    Curve(const Track& track, double rowMs, int trackEnd);

    // The editor's value at a frame of demo time `time`: its curve between the keys around the
    // row. Before the first key, the first key's value at its time. False past the track's end and
    // before 0 (the variable's own value applies there, in the player too).
    bool editorValueAt(int time, double& value) const;
    // What the saved float keys give at `time`, exactly as the player computes it.
    bool scriptValueAt(int time, double& value) const;

    // The keys a float track is saved as, in time order, the last at the track's end. False when
    // it would take more than `limit` keys.
    bool floatKeys(std::vector<TimedValue>& out, size_t limit) const;
    // The keys of an on/off or integer track: one wherever `quantise` of the editor's value (what
    // the variable makes of it) changes, and one at the track's end. False past `limit` keys.
    bool switchingKeys(double (*quantise)(double), std::vector<TimedValue>& out, size_t limit) const;

  private:
    struct Point {
        int time;
        float value;
    };
    int keyTime(size_t j) const { return rowTime(keys_[j].row, rowMs_); }
    // The last key whose time is at or before `time` (the one a frame then sees); -1 for none.
    long owner(int time) const;
    // Key j's curve at `time` (a time whose frame sees key j).
    double at(size_t j, int time) const;
    // The straight piece of key j's span: from its key to the point before the next key's (or
    // the next key's point itself where the line runs on into it exactly).
    void span(size_t j, Point& a, Point& b) const;
    // Where a curved piece from a to b is to be cut in two; false when it is close enough.
    bool cut(size_t j, const Point& a, const Point& b, Point& m) const;
    bool cutAll(size_t j, const Point& a, const Point& b, std::vector<TimedValue>& out, size_t limit) const;
    bool changes(size_t j, double (*quantise)(double), int a, double qa, int b, double qb,
                 std::vector<TimedValue>& out, size_t limit) const;
    Point first() const;

    KeySpan keys_;
    double rowMs_;
    int end_;
};

} // namespace rocket
