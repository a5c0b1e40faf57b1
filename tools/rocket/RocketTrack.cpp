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
        if (count_ == 0 || first()[count_ - 1].row < key.row) {
            reserve(0, 1);
            first()[count_++] = key;
            return;
        }
        if (first()->row > key.row) {
            reserve(1, 0);
            --first_;
            ++count_;
            *first() = key;
            return;
        }
        TrackKey* at = std::lower_bound(first(), first() + count_, key.row, rowBefore);
        if (at->row == key.row) { // the last key's row is at or after it: `at` is a key
            *at = key;
            return;
        }
    }
    waiting_.push_back({key, false});
}

void Track::deleteKey(uint32_t row) {
    if (waiting_.empty()) {
        if (count_ == 0) return;
        if (first()[count_ - 1].row == row) {
            --count_;
            return;
        }
        if (first()->row == row) {
            ++first_;
            --count_;
            return;
        }
        const TrackKey* at = std::lower_bound(first(), first() + count_, row, rowBefore);
        if (at == first() + count_ || at->row != row) return;
    }
    TrackKey key;
    key.row = row;
    waiting_.push_back({key, true});
}

void Track::clear() {
    store_ = {};
    spare_ = {};
    first_ = count_ = 0;
    waiting_.clear();
}

KeySpan Track::keys() const {
    if (!waiting_.empty()) merge();
    return count_ ? KeySpan(first(), count_) : KeySpan();
}

void Track::reserve(size_t front, size_t back) const {
    const size_t roomFront = first_, roomBack = store_.size() - first_ - count_;
    if (roomFront >= front && roomBack >= back) return;
    // The side that ran out gets as much room again as there are keys: each key is moved a
    // bounded number of times on average, and the array stays within three times the keys.
    const size_t newFront = roomFront >= front ? roomFront : std::max({front, count_, size_t(16)});
    const size_t newBack = roomBack >= back ? roomBack : std::max({back, count_, size_t(16)});
    std::vector<TrackKey> grown(newFront + count_ + newBack);
    std::copy(first(), first() + count_, grown.data() + newFront);
    store_.swap(grown);
    first_ = newFront;
}

void Track::merge() const {
    // The last edit of each row counts: sorted by row, arrival order kept within a row.
    std::stable_sort(waiting_.begin(), waiting_.end(),
                     [](const Edit& a, const Edit& b) { return a.key.row < b.key.row; });
    // Into the other buffer, with the same room before the first key; runs of unchanged keys
    // are copied whole.
    const size_t needed = first_ + count_ + waiting_.size();
    if (spare_.size() < needed) spare_.resize(needed);
    TrackKey* const begin = spare_.data() + first_;
    TrackKey* out = begin;
    const TrackKey* old = first();
    const TrackKey* const oldEnd = old + count_;
    for (size_t i = 0; i < waiting_.size(); ++i) {
        if (i + 1 < waiting_.size() && waiting_[i + 1].key.row == waiting_[i].key.row) continue;
        const Edit& e = waiting_[i];
        const TrackKey* upTo = std::lower_bound(old, oldEnd, e.key.row, rowBefore);
        out = std::copy(old, upTo, out);
        old = upTo;
        if (old != oldEnd && old->row == e.key.row) ++old;
        if (!e.erase) *out++ = e.key;
    }
    out = std::copy(old, oldEnd, out);
    count_ = static_cast<size_t>(out - begin);
    store_.swap(spare_);
    waiting_.clear();
    if (waiting_.capacity() > 65536) waiting_.shrink_to_fit(); // a burst's edits do not stay allocated
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
    const KeySpan keys = this->keys();
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
