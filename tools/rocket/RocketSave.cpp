#include "rocket/RocketSave.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace rocket {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return std::string();
    return s.substr(a, s.find_last_not_of(" \t\r") + 1 - a);
}

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

// A float written so that reading it back gives the same float.
std::string number(double v) {
    char text[32];
    snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(v)));
    return text;
}

// The fraction the loader turns back into value i of `count` (it multiplies by count - 1 and
// truncates).
std::string intFraction(int i, int count) {
    float f = static_cast<float>(i) / static_cast<float>(count - 1);
    const float away = i < 0 ? -1e30f : 1e30f;
    for (int tries = 0; tries < 8 && truncateToInt(f * static_cast<float>(count - 1)) != i; ++tries)
        f = std::nextafter(f, away);
    return number(f);
}

struct Line {
    int time;
    double value;
};

// Splits the curve between (a, fa) and (b, fb) where it strays furthest from the straight line
// between them, until no millisecond (all a frame ever sees) lies further than the tolerance.
void straighten(const Track& track, double rowMs, int a, double fa, int b, double fb,
                std::vector<Line>& out) {
    struct Span {
        int a;
        double fa;
        int b;
        double fb;
    };
    std::vector<Span> todo{{a, fa, b, fb}};
    std::vector<Line> found;
    while (!todo.empty()) {
        const Span s = todo.back();
        todo.pop_back();
        double worst = kCurveTolerance;
        int at = -1;
        double atValue = 0;
        for (int t = s.a + 1; t < s.b; ++t) {
            const double curve = track.valueAtRow(t / rowMs);
            const double line = s.fa + (s.fb - s.fa) * (t - s.a) / static_cast<double>(s.b - s.a);
            if (std::fabs(curve - line) > worst) {
                worst = std::fabs(curve - line);
                at = t;
                atValue = curve;
            }
        }
        if (at < 0) continue;
        found.push_back({at, atValue});
        todo.push_back({s.a, s.fa, at, atValue});
        todo.push_back({at, atValue, s.b, s.fb});
    }
    std::sort(found.begin(), found.end(), [](const Line& x, const Line& y) { return x.time < y.time; });
    out.insert(out.end(), found.begin(), found.end());
}

// Float tracks: the script blends linearly between keys, so steps become two keys a millisecond
// apart and curves become straight pieces.
void floatKeys(const Track& track, double rowMs, std::vector<Line>& out) {
    const auto& keys = track.keys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const TrackKey& k = keys[i];
        const int t = rowTime(k.row, rowMs);
        out.push_back({t, k.value});
        if (i + 1 == keys.size()) break;
        const TrackKey& next = keys[i + 1];
        const int tNext = rowTime(next.row, rowMs);
        switch (k.interpolation) {
        case Interpolation::Step:
            if (next.value != k.value && tNext - 1 > t) out.push_back({tNext - 1, k.value});
            break;
        case Interpolation::Linear:
            break;
        case Interpolation::Smooth:
        case Interpolation::Ramp:
            straighten(track, rowMs, t, k.value, tNext, next.value, out);
            break;
        }
    }
}

// On/off and integer tracks switch at their keys in the script: a key wherever the editor's
// value, as the variable sees it, changes, found millisecond by millisecond inside curves.
void switchingKeys(const Track& track, double rowMs, double (*quantise)(double), std::vector<Line>& out) {
    const auto& keys = track.keys();
    for (size_t i = 0; i < keys.size(); ++i) {
        const TrackKey& k = keys[i];
        const int t = rowTime(k.row, rowMs);
        double last = quantise(k.value);
        out.push_back({t, last});
        if (i + 1 == keys.size() || k.interpolation == Interpolation::Step) continue;
        const int tNext = rowTime(keys[i + 1].row, rowMs);
        for (int ms = t + 1; ms < tNext; ++ms) {
            const double v = quantise(track.valueAtRow(ms / rowMs));
            if (v != last) {
                out.push_back({ms, v});
                last = v;
            }
        }
    }
}

double onOff(double v) {
    return v > 0.5 ? 1.0 : 0.0;
}
double rounded(double v) {
    return std::round(v);
}

} // namespace

int rowTime(uint32_t row, double rowMs) {
    // The frames at integer ms see row r from the first ms at or after r * rowMs; a hair off for
    // rounding in the product.
    const double t = std::ceil(static_cast<double>(row) * rowMs - 1e-6);
    return t >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(t);
}

std::string writeTracks(const std::string& script, const std::vector<SavedTrack>& tracks, double rowMs,
                        int trackEnd) {
    std::vector<std::string> lines = splitLines(script);
    // The last save's block goes; lines it set aside come back.
    std::vector<std::string> kept;
    bool inBlock = false;
    for (const std::string& line : lines) {
        const std::string t = trimmed(line);
        if (t == kBlockBegin) {
            inBlock = true;
            continue;
        }
        if (inBlock) {
            if (t == kBlockEnd) inBlock = false;
            continue;
        }
        kept.push_back(startsWith(line, kSetAside) ? line.substr(strlen(kSetAside)) : line);
    }

    std::vector<const SavedTrack*> written;
    for (const SavedTrack& s : tracks)
        if (s.track && !s.track->empty()) written.push_back(&s);

    // The script's own keys of a written track would blend with the editor's: set them aside.
    bool timeline = false;
    size_t endAt = kept.size();
    for (size_t i = 0; i < kept.size(); ++i) {
        const std::vector<std::string> w = words(kept[i]);
        if (w.empty() || startsWith(w[0], "//")) continue;
        if (w[0] == "__LINETIME__") {
            endAt = i;
            break;
        }
        for (const std::string& word : w) {
            if (word == "__TIMELINE__") timeline = true;
            if (word == "__HEADER__" || word == "__DEFS__" || word == "__SETUP__") timeline = false;
        }
        if (!timeline) continue;
        for (size_t j = 1; j + 2 < w.size(); ++j) {
            if (w[j] != "SIGNAL" && w[j] != "s") continue;
            for (const SavedTrack* s : written)
                if (w[j + 1] == s->effect && w[j + 2] == s->variable) {
                    kept[i] = kSetAside + kept[i];
                    break;
                }
            break;
        }
    }

    std::vector<std::string> block;
    if (!written.empty()) {
        block.push_back(kBlockBegin);
        block.push_back("__TIMELINE__");
        block.push_back("TIMEOFFSET 0");
        for (const SavedTrack* s : written) {
            std::vector<Line> keys;
            if (s->kind == KindBool)
                switchingKeys(*s->track, rowMs, onOff, keys);
            else if (s->kind == KindInt)
                switchingKeys(*s->track, rowMs, rounded, keys);
            else
                floatKeys(*s->track, rowMs, keys);
            // The first key holds from 0 to the track's end; the last value holds after the last key.
            if (!keys.empty() && keys.back().time < trackEnd) keys.push_back({trackEnd, keys.back().value});
            for (const Line& k : keys) {
                std::string value;
                if (s->kind == KindInt && s->count > 1)
                    value = intFraction(truncateToInt(k.value), s->count);
                else
                    value = number(k.value);
                block.push_back(std::to_string(k.time) + " SIGNAL " + s->effect + " " + s->variable + " " +
                                value);
            }
        }
        block.push_back(kBlockEnd);
    }
    kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(endAt), block.begin(), block.end());
    std::string out;
    for (const std::string& line : kept)
        out += line + "\n";
    return out;
}

} // namespace rocket
