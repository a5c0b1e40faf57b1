// The audio output device: 16-bit stereo frames pulled by a callback on the device's own thread.
#pragma once

#include <cstdint>

namespace platform {

// Fills `frames` interleaved stereo 16-bit frames. Runs on the audio thread; it must not wait
// for the main thread.
using AudioFill = void (*)(void* user, int16_t* out, int frames);

struct AudioFormat {
    int rate = 0;
    int blockFrames = 0;  // frames per callback
};

// Opens the default output device at `rate` Hz, 16-bit stereo, asking for `blockFrames` frames
// per callback. The device starts paused (startAudio). False when there is no usable device.
bool openAudio(int rate, int blockFrames, AudioFill fill, void* user, AudioFormat& obtained);
void startAudio();
// Stops the device and joins its thread: after this returns the callback never runs again.
void closeAudio();
bool audioIsOpen();

} // namespace platform
