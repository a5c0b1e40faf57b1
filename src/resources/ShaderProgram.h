// GLSL fragment programs from the demo's data: a file in Shadertoy's form (a mainImage function)
// gets the declarations of its inputs before it and a main after it; a file with its own main is
// compiled as it stands. The driver's messages are given back with the file's own name and lines,
// so that the player, the checker and the preview all say where the author has to look.
#pragma once

#include <string>

namespace shaderprogram {

// Longest program file accepted: real ones are a few kilobytes, while a driver given megabytes
// can take minutes over it.
constexpr long long kMaxProgramBytes = 64 * 1024;

// What the driver is given for a file's text.
struct Source {
    std::string text;     // the whole fragment shader
    int addedLines = 0;   // lines put before the file's first line
    bool wrapped = false; // Shadertoy's form: declarations and a main added
    bool hasEntry = true; // the file defines mainImage or main
};
Source fragmentSource(const std::string& fileText);

// The driver's compile or link log with every place it names turned into the file's own
// ("FILE:LINE: error: ..."), one message a line; lines in the added declarations, and messages
// that name no line, read "FILE: ...". Understands the logs of Mesa ("0:12(5): error: ..."),
// NVIDIA ("0(12) : error C0000: ...") and AMD/Intel ("ERROR: 0:12: ...").
std::string mapLog(const std::string& log, const std::string& fileName, int addedLines);

struct Build {
    enum class Problem { None, Missing, TooLong, Refused };
    Problem problem = Problem::None;
    unsigned program = 0; // a linked program's GL name (the caller owns it), or 0
    std::string error;    // why not: "FILE:LINE: error: ..." lines for Refused
};

// Compiles and links a program file's text; needs a current GL context.
Build build(const std::string& fileName, const std::string& fileText);
// Reads the file from the demo's data (folder or archive) and builds it. Missing: no such file;
// TooLong: more than kMaxProgramBytes (not read); Refused: the driver would not take it.
Build load(const std::string& fileName);

} // namespace shaderprogram
