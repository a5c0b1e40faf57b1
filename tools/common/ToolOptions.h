// What every authoring tool answers the same way: --help and --version on stdout with exit code 0,
// and a usage error as the usage text on stderr with exit code 2.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tool {

struct Description {
    const char* name;    // "holdfast-pack"
    const char* summary; // one line: what the tool does
    const char* usage;   // "usage: ..." lines, each ending in a newline
};

// Ends the process when an argument is --help or --version; otherwise returns.
inline void answerHelpAndVersion(int argc, char** argv, const Description& tool) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(tool.usage, stdout);
            std::printf("\n%s\n  --help     this text\n  --version  the version\n", tool.summary);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", tool.name, HOLDFAST_VERSION);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
    }
}

// Prints the problem (when given) and the usage text to stderr; returns the exit code 2.
inline int usageError(const Description& tool, const char* problem = nullptr) {
    if (problem) std::fprintf(stderr, "%s: %s\n", tool.name, problem);
    std::fputs(tool.usage, stderr);
    return 2;
}

// A demo time on the command line: a decimal count of milliseconds up to 2147483647, since the
// frame step takes it as a signed 32-bit int. Also serves for plain counts.
inline bool parseDemoTime(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0x7fffffffull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Comma-separated demo times, appended to `times`; false on any bad item or an empty list.
inline bool parseDemoTimes(const std::string& list, std::vector<uint32_t>& times) {
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint32_t t;
        if (!parseDemoTime(item, t)) return false;
        times.push_back(t);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !times.empty();
}

} // namespace tool
