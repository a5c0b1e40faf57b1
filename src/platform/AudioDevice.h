// The audio output: 16-bit stereo frames pulled by a callback on an output thread of its own.
// Where no sound device opens, the output is silent but keeps the same pace: a thread wakes at
// the rate a device would ask for frames, so the music is mixed and analysed in real time and
// only nothing is heard.
#pragma once

#include <cstdint>

namespace platform {

// Fills `frames` interleaved stereo 16-bit frames. Runs on the audio thread; it must not wait
// for the main thread.
using AudioFill = void (*)(void* user, int16_t* out, int frames);

struct AudioFormat {
    int rate = 0;
    int blockFrames = 0; // frames per callback
    bool silent = false; // no device: the frames go nowhere
};

// Opens the default output device at `rate` Hz, 16-bit stereo, asking for `blockFrames` frames
// per callback; without a usable device (or with SDL's "dummy" driver chosen), the silent
// output. The output starts paused (startAudio). False only when not even that can run.
bool openAudio(int rate, int blockFrames, AudioFill fill, void* user, AudioFormat& obtained);
void startAudio();
// Stops the output and joins its thread: after this returns the callback never runs again.
void closeAudio();
bool audioIsOpen();
// True while the open output is the silent one.
bool audioIsSilent();
// Whether openAudio may fall back to the silent output (default true). Off, a machine without a
// sound device has no output at all: how tests reach the paths for a sound system that cannot
// start.
void allowSilentOutput(bool allowed);

} // namespace platform
