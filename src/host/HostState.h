// Process-wide state of the host: window size and the loop's quit/input flags.
#pragma once

extern int screenWidth;
extern int screenHeight;
extern bool fullscreenRequested;
extern bool quitRequested;
extern bool inputEnabled;
