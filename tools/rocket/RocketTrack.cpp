#include "rocket/RocketTrack.h"

#include "rocket/RocketCurve.h"

#include <algorithm>
#include <cmath>

namespace rocket {

namespace {
bool rowBefore(const TrackKey& k, uint32_t row) {
    return k.row < row;
}
} // namespace

void Track::setKey(const TrackKey& key) {
    if (waiting_.empty()) {
        if (keys_.empty() || keys_.back().row < key.row) {
            keys_.push_back(key);
            return;
        }
        auto at = std::lower_bound(keys_.begin(), keys_.end(), key.row, rowBefore);
        if (at->row == key.row) {
            *at = key;
            return;
        }
    }
    waiting_.push_back({key, false});
}

void Track::deleteKey(uint32_t row) {
    if (waiting_.empty()) {
        if (keys_.empty()) return;
        if (keys_.back().row == row) {
            keys_.pop_back();
            return;
        }
        auto at = std::lower_bound(keys_.begin(), keys_.end(), row, rowBefore);
        if (at == keys_.end() || at->row != row) return;
    }
    TrackKey key;
    key.row = row;
    waiting_.push_back({key, true});
}

void Track::clear() {
    keys_.clear();
    waiting_.clear();
}

const std::vector<TrackKey>& Track::keys() const {
    if (!waiting_.empty()) merge();
    return keys_;
}

void Track::merge() const {
    // The last edit of each row counts: sorted by row, arrival order kept within a row.
    std::stable_sort(waiting_.begin(), waiting_.end(),
                     [](const Edit& a, const Edit& b) { return a.key.row < b.key.row; });
    std::vector<TrackKey> merged;
    merged.reserve(keys_.size() + waiting_.size());
    auto old = keys_.begin();
    for (size_t i = 0; i < waiting_.size(); ++i) {
        if (i + 1 < waiting_.size() && waiting_[i + 1].key.row == waiting_[i].key.row) continue;
        const Edit& e = waiting_[i];
        while (old != keys_.end() && old->row < e.key.row)
            merged.push_back(*old++);
        if (old != keys_.end() && old->row == e.key.row) ++old;
        if (!e.erase) merged.push_back(e.key);
    }
    merged.insert(merged.end(), old, keys_.end());
    keys_.swap(merged);
    waiting_.clear();
    waiting_.shrink_to_fit(); // a flood's edits do not stay allocated
}

double interpolate(Interpolation kind, double a, double b, double t) {
    switch (kind) {
    case Interpolation::Step:
        return a;
    case Interpolation::Linear:
        break;
    case Interpolation::Smooth:
        t = t * t * (3.0 - 2.0 * t);
        break;
    case Interpolation::Ramp:
        t = t * t;
        break;
    }
    return a + (b - a) * t;
}

double Track::valueAtRow(double row) const {
    const std::vector<TrackKey>& keys = this->keys();
    if (keys.empty()) return 0.0;
    if (!(row >= static_cast<double>(keys.front().row))) return keys.front().value; // NaN too
    if (row >= static_cast<double>(keys.back().row)) return keys.back().value;
    // The last key at or before the row's whole part, as the editor finds it.
    const double whole = std::floor(row);
    auto after = std::upper_bound(keys.begin(), keys.end(), whole,
                                  [](double r, const TrackKey& k) { return r < static_cast<double>(k.row); });
    const TrackKey& k0 = *(after - 1);
    const TrackKey& k1 = *after;
    const double t = (row - k0.row) / static_cast<double>(k1.row - k0.row);
    return interpolate(k0.interpolation, k0.value, k1.value, t);
}

bool LiveTrack::valueAt(int time, double& value) const {
    if (track.empty()) return false;
    const Curve curve(track, rowMs, trackEnd);
    if (kind == KindFloat) return curve.scriptValueAt(time, value);
    // On/off and integer tracks in the script switch at their keys and fall back on the
    // variable's own value from the track's end on: so does the stand-in.
    return time < trackEnd && curve.editorValueAt(time, value);
}

} // namespace rocket
