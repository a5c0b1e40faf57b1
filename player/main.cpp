// The demo player. It takes no arguments (any given are ignored): everything comes from data.qzd
// and music.ogg.
#include "host/Findings.h"
#include "host/Player.h"

#include <cstdio>

#ifdef HOLDFAST_LSAN_SUPPRESSIONS
// Sanitizer builds carry tests/lsan.supp (system libraries that keep allocations until exit), so
// a leak report from the player, however it is started, is about our code.
#include "LsanSuppressions.h"
extern "C" const char* __lsan_default_suppressions() {
    return kLsanSuppressions;
}
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif

int main() {
    // What is wrong with the demo, once each on stderr with its script line: the player's own
    // reports carry the line on their stderr copy, the rest (a missing picture, a script line the
    // loader skips) get a line of their own.
    findings::Collector findings(findings::Collector::Mode::Player, [](const findings::Finding& f) {
        fprintf(stderr, "holdfast: %s\n", findings::format(f).c_str());
    });
    return runPlayer();
}
