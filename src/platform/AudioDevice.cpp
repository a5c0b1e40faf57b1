#include "platform/AudioDevice.h"

#include <SDL.h>

namespace platform {

namespace {
SDL_AudioDeviceID device = 0;
bool subsystemUp = false;
AudioFill fillFunction = nullptr;
void* fillUser = nullptr;

void sdlCallback(void*, Uint8* stream, int bytes) {
    fillFunction(fillUser, reinterpret_cast<int16_t*>(stream), bytes / 4);
}
} // namespace

bool openAudio(int rate, int blockFrames, AudioFill fill, void* user, AudioFormat& obtained) {
    if (device) return false;
    if (!subsystemUp) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystemUp = true;
    }

    fillFunction = fill;
    fillUser = user;
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(blockFrames);
    want.callback = sdlCallback;
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts to whatever the hardware wants, so the callback always sees
    // exactly this format and block size.
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!device) {
        // Nothing of it is in use: the next attempt may pick another driver.
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemUp = false;
        return false;
    }
    obtained.rate = have.freq;
    obtained.blockFrames = have.samples;
    return true;
}

void startAudio() {
    if (device) SDL_PauseAudioDevice(device, 0);
}

void closeAudio() {
    if (!device) return;
    SDL_CloseAudioDevice(device);
    device = 0;
    // The audio subsystem itself stays up for the rest of the process: shut down at exit, after
    // the video, it would make SDL unload shared libraries that still own allocations.
}

bool audioIsOpen() { return device != 0; }

} // namespace platform
