// Loads the demo between the GL checks and the frame loop: data archive, loading picture, effect
// list and signal queue, script, music and clock, and the display mode once more.
#pragma once

#include <string>

class DemoEngine;

// Start the music after loading (always on in the player).
extern bool musicEnabled;
// The music stream, opened from the working directory, not from the archive.
extern std::string musicFileName;

// Where the data comes from and how the loading picture is presented.
struct LoadingSetup {
    // The data archive every data file is read from; nullptr reads data files from disk.
    const char* archiveName = "data.qzd";
    const char* archivePassword = "tolvrask";
    // Shows the freshly drawn loading picture (the player swaps buffers); may be null.
    void (*present)(void* context) = nullptr;
    void* presentContext = nullptr;
};

// The player's loading sequence, on the engine's window.
void loadingSequence(DemoEngine& engine);
// The same steps for any front end (the capture tool reads a directory and presents nothing).
void loadingSequence(const LoadingSetup& setup);
// Loads the script, starts the music and the demo clock.
void loadDemo();
// Switches to or out of the fullscreen mode once more; a refusal is ignored.
void applyDisplayMode(bool fullscreen);
// The engine whose window applyDisplayMode acts on (set by the player).
void setDisplayEngine(DemoEngine* engine);
