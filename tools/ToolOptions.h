// What every authoring tool answers the same way: --help and --version on stdout with exit code 0,
// and a usage error as the usage text on stderr with exit code 2.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

} // namespace tool
