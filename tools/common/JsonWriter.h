// JSON text output for the tools: strings escaped (bytes that are not UTF-8 shown as the
// Latin-1 character of that code), floats in their shortest round-trip form, non-finite as null.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace json_detail {

// Length of the valid UTF-8 sequence at s (at most n bytes), 0 if there is none.
inline size_t utf8Length(const unsigned char* s, size_t n) {
    size_t len;
    unsigned min;
    unsigned cp;
    if (s[0] < 0x80) return 1;
    if ((s[0] & 0xE0) == 0xC0)
        len = 2, min = 0x80, cp = s[0] & 0x1F;
    else if ((s[0] & 0xF0) == 0xE0)
        len = 3, min = 0x800, cp = s[0] & 0x0F;
    else if ((s[0] & 0xF8) == 0xF0)
        len = 4, min = 0x10000, cp = s[0] & 0x07;
    else
        return 0;
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

} // namespace json_detail

class Json {
  public:
    void raw(const char* s) { out += s; }
    void str(const std::string& s) {
        out += '"';
        const auto* p = reinterpret_cast<const unsigned char*>(s.data());
        for (size_t i = 0; i < s.size();) {
            unsigned char c = p[i];
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
                ++i;
            } else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
                ++i;
            } else if (size_t len = json_detail::utf8Length(p + i, s.size() - i)) {
                out.append(s, i, len);
                i += len;
            } else {
                // A byte that is not UTF-8 is shown as the Latin-1 character of that code.
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
                ++i;
            }
        }
        out += '"';
    }
    void num(int v) { out += std::to_string(v); }
    void num(float v) {
        if (!std::isfinite(v)) {
            out += "null";
            return;
        }
        char buf[32];
        auto res = std::to_chars(buf, buf + sizeof buf, v); // shortest text that reads back as v
        out.append(buf, res.ptr);
    }
    void boolean(bool v) { out += v ? "true" : "false"; }
    void key(const char* name) {
        str(name);
        out += ':';
    }
    std::string out;
};
