// The demo player. It takes no arguments: everything comes from data.qzd and music.ogg.
#include "host/Player.h"

// Effects, textures and render targets live until the process ends by design, and the GL
// driver unloads itself at exit; a leak report at exit would only list those.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }

int main() { return runPlayer(); }
