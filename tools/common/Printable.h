// Names from files and archives as the tools print them: a name is the author's (or an archive
// maker's) text, and a line end or a terminal escape in it would forge output lines or reach the
// terminal. Control characters become C-style escapes (\n, \t, \x1b); everything else stays.
#pragma once

#include <string>

namespace tool {

inline std::string printable(const std::string& text) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7f) {
            out += ch;
            continue;
        }
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

} // namespace tool
