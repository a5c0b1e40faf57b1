#include "rocket/RocketTrack.h"

#include <algorithm>
#include <cmath>

namespace rocket {

namespace {
bool rowBefore(const TrackKey& k, uint32_t row) {
    return k.row < row;
}
} // namespace

void Track::setKey(const TrackKey& key) {
    auto at = std::lower_bound(keys_.begin(), keys_.end(), key.row, rowBefore);
    if (at != keys_.end() && at->row == key.row)
        *at = key;
    else
        keys_.insert(at, key);
}

void Track::deleteKey(uint32_t row) {
    auto at = std::lower_bound(keys_.begin(), keys_.end(), row, rowBefore);
    if (at != keys_.end() && at->row == row) keys_.erase(at);
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
    if (keys_.empty()) return 0.0;
    if (!(row >= static_cast<double>(keys_.front().row))) return keys_.front().value; // NaN too
    if (row >= static_cast<double>(keys_.back().row)) return keys_.back().value;
    // The last key at or before the row's whole part, as the editor finds it.
    const double whole = std::floor(row);
    auto after = std::upper_bound(keys_.begin(), keys_.end(), whole,
                                  [](double r, const TrackKey& k) { return r < static_cast<double>(k.row); });
    const TrackKey& k0 = *(after - 1);
    const TrackKey& k1 = *after;
    const double t = (row - k0.row) / static_cast<double>(k1.row - k0.row);
    return interpolate(k0.interpolation, k0.value, k1.value, t);
}

} // namespace rocket
