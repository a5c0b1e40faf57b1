// Loads the demo between the GL checks and the frame loop.
#pragma once

class DemoEngine;

void loadingSequence(DemoEngine& engine);
void loadDemo();
// Switches to or out of the fullscreen mode once more; a refusal is ignored.
void applyDisplayMode(bool fullscreen);
// The engine whose window applyDisplayMode acts on (set by the player).
void setDisplayEngine(DemoEngine* engine);
