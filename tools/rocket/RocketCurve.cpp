#include "rocket/RocketCurve.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace rocket {

int rowTime(uint32_t row, double rowMs) {
    // The frames at integer ms see row r from the first ms at or after r * rowMs; a hair off for
    // rounding in the product.
    const double t = std::ceil(static_cast<double>(row) * rowMs - 1e-6);
    return t >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(t);
}

Curve::Curve(const Track& track, double rowMs, int trackEnd)
    : keys_(track.keys()), rowMs_(rowMs), end_(std::max(trackEnd, 0)) {}

long Curve::owner(int time) const {
    auto after = std::upper_bound(keys_.begin(), keys_.end(), time,
                                  [this](int t, const TrackKey& k) { return t < rowTime(k.row, rowMs_); });
    return static_cast<long>(after - keys_.begin()) - 1;
}

double Curve::at(size_t j, int time) const {
    const TrackKey& k = keys_[j];
    if (j + 1 == keys_.size()) return k.value;
    const TrackKey& next = keys_[j + 1];
    const double s = (time / rowMs_ - k.row) / static_cast<double>(next.row - k.row);
    return interpolate(k.interpolation, k.value, next.value, std::clamp(s, 0.0, 1.0));
}

Curve::Point Curve::first() const {
    const int t = keyTime(0);
    return {std::min(t, end_), static_cast<float>(at(static_cast<size_t>(owner(t)), t))};
}

void Curve::span(size_t j, Point& a, Point& b) const {
    const int t = keyTime(j);
    a = {t, static_cast<float>(at(j, t))};
    if (j + 1 == keys_.size()) { // the last key holds to the track's end
        b = {std::max(t, end_), a.value};
        return;
    }
    const int next = keyTime(j + 1);
    const int last = std::min(next - 1, end_); // the last ms that sees this key
    b = {last, static_cast<float>(at(j, last))};
    if (next > end_) return;
    // The next point is where the frames see the next key: the line may run straight into it.
    const size_t o = static_cast<size_t>(owner(next));
    const float nextValue = static_cast<float>(at(o, next));
    const TrackKey& k = keys_[j];
    if (k.interpolation == Interpolation::Step) {
        if (nextValue == a.value) b = {next, nextValue};
    } else if (o == j + 1 && static_cast<double>(keys_[j + 1].row) * rowMs_ == static_cast<double>(next)) {
        b = {next, nextValue}; // the curve's own end, on a whole ms
    }
}

bool Curve::cut(size_t j, const Point& a, const Point& b, Point& m) const {
    const Interpolation kind = keys_[j].interpolation;
    if (kind != Interpolation::Smooth && kind != Interpolation::Ramp) return false;
    const int64_t length = static_cast<int64_t>(b.time) - a.time;
    if (length < 2 || j + 1 >= keys_.size()) return false;
    const double rise = static_cast<double>(keys_[j + 1].value) - keys_[j].value;
    if (rise == 0) return false;
    // The curve is a polynomial in time: its distance from the chord is largest at a whole ms
    // next to where the two slopes agree, or the chord's middle (a safe extra look).
    const double start = keys_[j].row * rowMs_, width = (keys_[j + 1].row - keys_[j].row) * rowMs_;
    const double slope = (static_cast<double>(b.value) - a.value) / static_cast<double>(length);
    const double c = slope * width / rise; // the curve's slope in its own terms, 0..1 to 0..1
    double s[2];
    int count = 0;
    if (kind == Interpolation::Ramp) { // 2s = c
        s[count++] = c / 2;
    } else { // 6s - 6s^2 = c
        const double d = 1 - 2 * c / 3;
        if (d >= 0) {
            s[count++] = (1 - std::sqrt(d)) / 2;
            s[count++] = (1 + std::sqrt(d)) / 2;
        }
    }
    int64_t looks[5];
    int n = 0;
    looks[n++] = a.time + length / 2;
    for (int i = 0; i < count; ++i) {
        const double t = start + s[i] * width;
        if (!(t > a.time && t < b.time)) continue;
        looks[n++] = static_cast<int64_t>(std::floor(t));
        looks[n++] = static_cast<int64_t>(std::ceil(t));
    }
    double worst = kCurveTolerance;
    int64_t where = -1;
    for (int i = 0; i < n; ++i) {
        const int64_t t = looks[i];
        if (t <= a.time || t >= b.time) continue;
        const double line = a.value + slope * static_cast<double>(t - a.time);
        const double off = std::fabs(at(j, static_cast<int>(t)) - line);
        if (off > worst) {
            worst = off;
            where = t;
        }
    }
    if (where < 0) return false;
    // Cut within the middle half, so that no piece takes more than a few dozen cuts to reach.
    const int64_t margin = std::max<int64_t>(1, length / 4);
    where = std::clamp<int64_t>(where, a.time + margin, b.time - margin);
    m = {static_cast<int>(where), static_cast<float>(at(j, static_cast<int>(where)))};
    return true;
}

bool Curve::editorValueAt(int time, double& value) const {
    if (keys_.empty() || time < 0 || time > end_) return false;
    const long j = owner(time);
    if (j < 0) {
        const int t = keyTime(0);
        value = at(static_cast<size_t>(owner(t)), t);
    } else {
        value = at(static_cast<size_t>(j), time);
    }
    return true;
}

bool Curve::scriptValueAt(int time, double& value) const {
    if (keys_.empty() || time < 0 || time > end_) return false;
    const long j = owner(time);
    Point a, b;
    if (j < 0) {
        // Before the first key the script holds its value from 0 (the loader puts it there).
        b = first();
        a = {0, b.value};
    } else {
        span(static_cast<size_t>(j), a, b);
        Point m;
        while (cut(static_cast<size_t>(j), a, b, m))
            (time <= m.time ? b : a) = m;
    }
    value = blendKeys({a.time, a.value}, {b.time, b.value}, time);
    return true;
}

bool Curve::cutAll(size_t j, const Point& a, const Point& b, std::vector<TimedValue>& out,
                   size_t limit) const {
    Point m;
    if (!cut(j, a, b, m)) return true;
    if (!cutAll(j, a, m, out, limit)) return false;
    out.push_back({m.time, m.value});
    if (out.size() > limit) return false;
    return cutAll(j, m, b, out, limit);
}

bool Curve::floatKeys(std::vector<TimedValue>& out, size_t limit) const {
    out.clear();
    if (keys_.empty()) return true;
    const Point p = first();
    if (keyTime(0) > end_) {
        out.push_back({p.time, p.value});
        return true;
    }
    for (size_t j = 0; j < keys_.size(); ++j) {
        const int t = keyTime(j);
        if (t > end_) break;
        if (j + 1 < keys_.size() && keyTime(j + 1) == t) continue; // a later key on the same ms wins
        Point a, b;
        span(j, a, b);
        out.push_back({a.time, a.value});
        if (!cutAll(j, a, b, out, limit)) return false;
        // A point that is the next key's own is written with that key.
        const bool nextKeys = j + 1 < keys_.size() && b.time == keyTime(j + 1);
        if (b.time > a.time && !nextKeys) out.push_back({b.time, b.value});
        if (out.size() > limit) return false;
    }
    return true;
}

bool Curve::changes(size_t j, double (*quantise)(double), int a, double qa, int b, double qb,
                    std::vector<TimedValue>& out, size_t limit) const {
    // The editor's curves run one way between two keys: equal ends mean nothing changes between.
    if (qa == qb) return true;
    if (b - a == 1) {
        out.push_back({b, qb});
        return out.size() <= limit;
    }
    const int m = a + (b - a) / 2;
    const double qm = quantise(at(j, m));
    return changes(j, quantise, a, qa, m, qm, out, limit) && changes(j, quantise, m, qm, b, qb, out, limit);
}

bool Curve::switchingKeys(double (*quantise)(double), std::vector<TimedValue>& out, size_t limit) const {
    out.clear();
    if (keys_.empty()) return true;
    if (keyTime(0) > end_) {
        double v = 0;
        editorValueAt(end_, v);
        out.push_back({end_, quantise(v)});
        return true;
    }
    for (size_t j = 0; j < keys_.size(); ++j) {
        const int t = keyTime(j);
        if (t > end_) break;
        if (j + 1 < keys_.size() && keyTime(j + 1) == t) continue;
        const double q = quantise(at(j, t));
        if (out.empty() || out.back().value != q) out.push_back({t, q});
        if (j + 1 == keys_.size() || keys_[j].interpolation == Interpolation::Step) continue;
        const int last = std::min(keyTime(j + 1) - 1, end_);
        if (last > t && !changes(j, quantise, t, q, last, quantise(at(j, last)), out, limit)) return false;
        if (out.size() > limit) return false;
    }
    // The script's first key also sets the track's end: the last value is to hold there.
    if (out.back().time < end_) out.push_back({end_, out.back().value});
    return out.size() <= limit;
}

} // namespace rocket
