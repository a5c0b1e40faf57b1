#include "base/RunState.h"

int screenWidth = 800;
int screenHeight = 600;
bool fullscreenRequested = true;
bool quitRequested = false;
bool inputEnabled = false;
