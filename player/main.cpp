// The demo player. It takes no arguments (any given are ignored): everything comes from data.qzd
// and music.ogg.
#include "host/Player.h"

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
    return runPlayer();
}
