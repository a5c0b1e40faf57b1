#include "demo/Variable.h"

#include "demo/DemoState.h"

#include <algorithm>
#include <climits>
#include <cmath>

int truncateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(v);
}

namespace {

// Demo times compare as unsigned numbers.
inline unsigned u(int time) {
    return static_cast<unsigned>(time);
}

// Keys go in at their time; the first key of an empty track also fixes the value from 0 to
// trackEndTime. The end key is placed in time order so that a first key lying after DEMO_END
// still leaves a sorted track.
template <typename T> void addTrackKey(std::vector<Key<T>>& keys, const T& v, int time) {
    if (keys.empty()) {
        keys.push_back({0, v});
        if (time != 0 && time != trackEndTime) keys.push_back({time, v});
        auto at = std::upper_bound(keys.begin(), keys.end(), trackEndTime,
                                   [](int t, const Key<T>& k) { return u(t) < u(k.time); });
        keys.insert(at, Key<T>{trackEndTime, v});
        return;
    }
    // Tracks are kept in time order, so the place is the first key not before `time`. Keys come in
    // script order, mostly ascending: the place just before the end key is tried first, which
    // keeps a whole script's insertions linear.
    const size_t n = keys.size();
    auto at = keys.end();
    if (n >= 2 && u(keys[n - 2].time) < u(time) && u(time) <= u(keys[n - 1].time))
        at = keys.end() - 1;
    else
        at = std::lower_bound(keys.begin(), keys.end(), time,
                              [](const Key<T>& k, int t) { return u(k.time) < u(t); });
    if (at == keys.end()) return; // after the last key: the track ends there, nothing to add
    if (at->time == time)
        at->value = v;
    else
        keys.insert(at, Key<T>{time, v});
}

// Two equal keys (the 0 and trackEndTime ones) are just a constant.
template <typename T> void compactTrack(std::vector<Key<T>>& keys, T& value) {
    if (keys.size() == 2 && keys[0].value == keys[1].value) {
        value = keys[0].value;
        keys.clear();
    }
}

// Step rule: the key before the first one lying after `time`; nullptr means "use the value".
template <typename T> const T* stepLookup(const std::vector<Key<T>>& keys, int time) {
    if (keys.size() < 2) return nullptr;
    for (size_t i = 1; i < keys.size(); ++i)
        if (u(keys[i].time) > u(time)) return &keys[i - 1].value;
    return nullptr;
}

// Gives keys at exactly `time` the value; true when there was one.
template <typename T> bool setKeyAt(std::vector<Key<T>>& keys, const T& v, int time) {
    bool found = false;
    for (auto& k : keys)
        if (k.time == time) {
            k.value = v;
            found = true;
        }
    return found;
}

template <typename T> void trackFallback(const T& value, T& lastValue, bool& changed) {
    if (value != lastValue) {
        lastValue = value;
        changed = true;
    }
}

} // namespace

float blendKeys(const FloatKey& p, const FloatKey& k, int time) {
    const unsigned t = u(time);
    if (t == u(p.time)) return p.value;
    if (t == u(k.time)) return k.value;
    float after = static_cast<float>(t - u(p.time));
    float before = static_cast<float>(u(k.time) - t);
    float span = static_cast<float>(u(k.time) - u(p.time));
    return (k.value * after + p.value * before) / span;
}

// ---- Variable: every operation does nothing unless its kind supports it ----

void Variable::set(float, int) {}
void Variable::set(const std::string&, int) {}
float Variable::get() const {
    return 0.0f;
}
float Variable::valueAt(int) {
    return 0.0f;
}
void Variable::exportKeys(std::vector<FloatKey>&) const {}
void Variable::importKeys(const std::vector<FloatKey>&) {}
void Variable::compact() {}
void Variable::addKey(float, int) {}
void Variable::addKey(const std::string&, int) {}
std::string Variable::stringAt(int) {
    return std::string();
}
void Variable::exportTextKeys(std::vector<TextKey>&) const {}
void Variable::importTextKeys(const std::vector<TextKey>&) {}

// ---- FloatVariable ----

void FloatVariable::set(float v, int time) {
    value = std::clamp(v, 0.0f, 1.0f);
    setKeyAt(keys, value, time);
}

float FloatVariable::valueAt(int time) {
    float result = value;
    double live = 0.0;
    if (override && override->valueAt(time, live)) {
        result = static_cast<float>(live);
    } else if (keys.size() >= 2) {
        const unsigned t = u(time);
        for (size_t i = 1; i < keys.size(); ++i) {
            const FloatKey& k = keys[i];
            if (u(k.time) < t) continue;
            result = blendKeys(keys[i - 1], k, time);
            break;
        }
    }
    if (result != lastValue) {
        lastValue = result;
        changed = true;
    }
    return result;
}

void FloatVariable::exportKeys(std::vector<FloatKey>& out) const {
    out.insert(out.end(), keys.begin(), keys.end());
}

void FloatVariable::importKeys(const std::vector<FloatKey>& in) {
    keys = in;
    changed = true;
}

void FloatVariable::compact() {
    compactTrack(keys, value);
}

void FloatVariable::addKey(float v, int time) {
    addTrackKey(keys, v, time);
    changed = true;
}

// ---- BoolVariable ----

void BoolVariable::set(float v, int time) {
    value = v > 0.0f;
    if (setKeyAt(keys, value, time)) changed = true;
}

float BoolVariable::valueAt(int time) {
    double live = 0.0;
    if (override && override->valueAt(time, live)) {
        trackFallback(live > 0.5, lastValue, changed);
        return live > 0.5 ? 1.0f : 0.0f;
    }
    if (const bool* k = stepLookup(keys, time)) return *k ? 1.0f : 0.0f;
    trackFallback(value, lastValue, changed);
    return value ? 1.0f : 0.0f;
}

void BoolVariable::exportKeys(std::vector<FloatKey>& out) const {
    for (const auto& k : keys)
        out.push_back({k.time, k.value ? 1.0f : 0.0f});
}

void BoolVariable::importKeys(const std::vector<FloatKey>& in) {
    keys.clear();
    for (const auto& k : in)
        keys.push_back({k.time, k.value > 0.0f});
    changed = true;
}

void BoolVariable::compact() {
    compactTrack(keys, value);
}

void BoolVariable::addKey(float v, int time) {
    addTrackKey(keys, v > 0.0f, time);
    changed = true;
}

// ---- IntVariable ----

void IntVariable::set(float v, int time) {
    const double top = std::max(count - 1, 0);
    value = std::isnan(v) ? 0 : truncateToInt(std::clamp(static_cast<double>(v), 0.0, top));
    if (setKeyAt(keys, value, time)) changed = true;
}

float IntVariable::get() const {
    if (count < 2) return 0.0f;
    return static_cast<float>(value) / static_cast<float>(count - 1);
}

float IntVariable::valueAt(int time) {
    double live = 0.0;
    if (override && override->valueAt(time, live)) {
        double rounded = std::round(live);
        // A list-backed value indexes its list: keep it inside.
        if (listId != NoList) rounded = std::clamp(rounded, 0.0, static_cast<double>(std::max(count - 1, 0)));
        const int v = truncateToInt(rounded);
        trackFallback(v, lastValue, changed);
        return static_cast<float>(v);
    }
    if (const int* k = stepLookup(keys, time)) return static_cast<float>(*k);
    trackFallback(value, lastValue, changed);
    return static_cast<float>(value);
}

void IntVariable::exportKeys(std::vector<FloatKey>& out) const {
    for (const auto& k : keys) {
        float v = count < 2 ? static_cast<float>(k.value)
                            : static_cast<float>(k.value) / static_cast<float>(count - 1);
        out.push_back({k.time, v});
    }
}

void IntVariable::importKeys(const std::vector<FloatKey>& in) {
    keys.clear();
    for (const auto& k : in) {
        double v = count < 2 ? k.value : static_cast<double>(k.value) * (count - 1);
        keys.push_back({k.time, truncateToInt(v)});
    }
    changed = true;
}

void IntVariable::compact() {
    compactTrack(keys, value);
}

void IntVariable::addKey(float v, int time) {
    addTrackKey(keys, truncateToInt(v), time);
    changed = true;
}

// ---- StringVariable ----

void StringVariable::set(const std::string& v, int time) {
    value = v;
    if (setKeyAt(keys, value, time)) changed = true;
}

void StringVariable::compact() {
    compactTrack(keys, value);
}

void StringVariable::addKey(const std::string& v, int time) {
    addTrackKey(keys, v, time);
    changed = true;
}

std::string StringVariable::stringAt(int time) {
    const std::string* k = stepLookup(keys, time);
    return k ? *k : value;
}

const std::string& StringVariable::trackedStringAt(int time) {
    if (const std::string* k = stepLookup(keys, time)) return *k;
    trackFallback(value, lastValue, changed);
    return value;
}

void StringVariable::exportTextKeys(std::vector<TextKey>& out) const {
    if (keys.empty()) {
        out.push_back({0, value});
        return;
    }
    out.insert(out.end(), keys.begin(), keys.end());
}

void StringVariable::importTextKeys(const std::vector<TextKey>& in) {
    keys = in;
    changed = true;
}
