// The demo player. It takes no arguments: everything comes from data.qzd and music.ogg.
#include "host/Player.h"

int main() { return runPlayer(); }
