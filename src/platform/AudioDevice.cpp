#include "platform/AudioDevice.h"

#include <SDL.h>

namespace platform {

namespace {
SDL_AudioDeviceID device = 0;
AudioFill fillFunction = nullptr;
void* fillUser = nullptr;

void sdlCallback(void*, Uint8* stream, int bytes) {
    fillFunction(fillUser, reinterpret_cast<int16_t*>(stream), bytes / 4);
}
} // namespace

bool openAudio(int rate, int blockFrames, AudioFill fill, void* user, AudioFormat& obtained) {
    if (device) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;

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
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
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
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool audioIsOpen() { return device != 0; }

} // namespace platform
