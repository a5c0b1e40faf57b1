// The time an author types into the preview's title after G: "1:05.250" (minutes, seconds and
// milliseconds, the title's own format), "65.25" or "65" (seconds).
#pragma once

#include <cstdint>
#include <string>

namespace preview {

// False for anything else (empty, two colons, more than three decimals, seconds of 60 or more
// after minutes, a value past a day).
inline bool parseTypedTime(const std::string& text, int64_t& ms) {
    int64_t minutes = 0, seconds = 0, fraction = 0;
    int fractionDigits = 0;
    bool colon = false, dot = false, digits = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits = true;
            if (dot) {
                if (++fractionDigits > 3) return false;
                fraction = fraction * 10 + (c - '0');
            } else {
                seconds = seconds * 10 + (c - '0');
                if (seconds > 86400) return false;
            }
        } else if (c == ':' && !colon && !dot) {
            if (!digits) return false;
            colon = true;
            minutes = seconds;
            seconds = 0;
            digits = false;
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    if (!digits && !(dot && fractionDigits > 0)) return false;
    if (colon && seconds >= 60) return false;
    for (int i = fractionDigits; i < 3; ++i)
        fraction *= 10;
    ms = (minutes * 60 + seconds) * 1000 + fraction;
    return ms <= 86400000;
}

} // namespace preview
