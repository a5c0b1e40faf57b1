#include "rocket/RocketSave.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
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

// "Effect:Variable" of a timeline line that keys a variable; empty for any other line.
std::string keyedTrack(const std::vector<std::string>& w) {
    for (size_t j = 1; j + 2 < w.size(); ++j)
        if (w[j] == "SIGNAL" || w[j] == "s") return w[j + 1] + ":" + w[j + 2];
    return std::string();
}

// The fraction the loader turns back into value i of `count` (it multiplies by count - 1 and
// truncates).
std::string intFraction(int i, int count) {
    float f = static_cast<float>(i) / static_cast<float>(count - 1);
    const float away = i < 0 ? -1e30f : 1e30f;
    for (int tries = 0; tries < 8 && truncateToInt(f * static_cast<float>(count - 1)) != i; ++tries)
        f = std::nextafter(f, away);
    return scriptNumber(f);
}

double onOff(double v) {
    return v > 0.5 ? 1.0 : 0.0;
}
// An integer variable's value as the preview gives it (IntVariable with a stand-in track).
double rounded(double v) {
    return truncateToInt(std::round(v));
}

} // namespace

std::string scriptNumber(float v) {
    if (v == 0) return "0"; // not "-0"
    // Plain decimals (no exponent), as few digits after the point as read back the same float.
    char text[64];
    for (int digits = 0; digits < 50; ++digits) {
        snprintf(text, sizeof text, "%.*f", digits, static_cast<double>(v));
        if (std::strtof(text, nullptr) == v) return text;
    }
    snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    return text;
}

SaveResult writeTracks(const std::string& script, const std::vector<SavedTrack>& tracks, double rowMs,
                       int trackEnd) {
    SaveResult result;
    std::vector<const SavedTrack*> written;
    std::set<std::string> writtenNames;
    for (const SavedTrack& s : tracks)
        if (s.track && !s.track->empty()) {
            written.push_back(&s);
            writtenNames.insert(s.effect + ":" + s.variable);
        }

    // The last save's block goes, but for the lines of tracks the editor holds no keys for (an
    // editor started without its file, another document): those stay, and with them any line an
    // author added. The lines it set aside come back.
    std::vector<std::string> kept, keptInBlock;
    std::set<std::string> keptNames;
    bool inBlock = false;
    for (const std::string& line : splitLines(script)) {
        const std::string t = trimmed(line);
        if (t == kBlockBegin) {
            inBlock = true;
            continue;
        }
        if (inBlock) {
            if (t == kBlockEnd) {
                inBlock = false;
            } else if (!t.empty() && t != "__TIMELINE__" && t != "TIMEOFFSET 0") {
                const std::string name = keyedTrack(words(t));
                if (name.empty() || !writtenNames.count(name)) keptInBlock.push_back(line);
                if (!name.empty() && !writtenNames.count(name) && keptNames.insert(name).second)
                    result.kept.push_back(name);
            }
            continue;
        }
        kept.push_back(startsWith(line, kSetAside) ? line.substr(strlen(kSetAside)) : line);
    }

    // The script's own keys of a track the block keys would blend with the block's: set them aside.
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
        const std::string name = keyedTrack(w);
        if (!name.empty() && (writtenNames.count(name) || keptNames.count(name)))
            kept[i] = kSetAside + kept[i];
    }

    std::vector<std::string> block;
    if (!written.empty() || !keptInBlock.empty()) {
        block.push_back(kBlockBegin);
        block.push_back("__TIMELINE__");
        block.push_back("TIMEOFFSET 0");
        block.insert(block.end(), keptInBlock.begin(), keptInBlock.end());
        bool offsetMoved = false;
        for (const std::string& line : keptInBlock)
            offsetMoved = offsetMoved || startsWith(trimmed(line), "TIMEOFFSET");
        if (offsetMoved && !written.empty()) block.push_back("TIMEOFFSET 0");
        size_t total = 0;
        std::vector<TimedValue> keys;
        for (const SavedTrack* s : written) {
            const Curve curve(*s->track, rowMs, trackEnd);
            const size_t room = kMaxSavedKeys - total;
            const bool fits = s->kind == KindBool  ? curve.switchingKeys(onOff, keys, room)
                              : s->kind == KindInt ? curve.switchingKeys(rounded, keys, room)
                                                   : curve.floatKeys(keys, room);
            if (!fits) {
                result.refused = "the editor's tracks would take more than " + std::to_string(kMaxSavedKeys) +
                                 " script lines (reached at " + s->effect + ":" + s->variable + ")";
                return result;
            }
            total += keys.size();
            for (const TimedValue& k : keys) {
                std::string value;
                if (s->kind == KindInt) {
                    int i = truncateToInt(k.value);
                    if (s->listed) i = std::clamp(i, 0, std::max(s->count - 1, 0));
                    value = s->count > 1 ? intFraction(i, s->count) : std::to_string(i);
                } else {
                    value = scriptNumber(static_cast<float>(k.value));
                }
                block.push_back(std::to_string(k.time) + " SIGNAL " + s->effect + " " + s->variable + " " +
                                value);
            }
        }
        block.push_back(kBlockEnd);
    }
    kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(endAt), block.begin(), block.end());
    for (const std::string& line : kept)
        result.text += line + "\n";
    return result;
}

} // namespace rocket
