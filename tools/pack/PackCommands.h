// holdfast-pack's commands, one function each: create (Create.cpp) and the ones that read an
// archive (Inspect.cpp: list, extract, test, bench).
#pragma once

#include <string>
#include <vector>

namespace pack {

struct Args {
    std::vector<std::string> positional;
    std::string password;
    bool havePassword = false;
    bool compress = false;
    bool solid = false;
    bool noAudio = false;
    int rounds = 3;
};

// The usage on stderr; returns the exit code 2.
int usage();
// The password given, or null for none.
const char* passwordOf(const Args& a);

int create(const Args& a);
int list(const Args& a);
int extract(const Args& a);
int test(const Args& a);
// Extraction speed of a whole archive, for comparing builds and machines.
int bench(const Args& a);

} // namespace pack
