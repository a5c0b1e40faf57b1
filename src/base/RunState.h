// Process-wide run state: the window size and the loop's quit/input flags. The host sets them;
// frame stepping and the effects that shape their grids to the window read them.
#pragma once

extern int screenWidth;
extern int screenHeight;
extern bool fullscreenRequested;
extern bool quitRequested;
extern bool inputEnabled;
