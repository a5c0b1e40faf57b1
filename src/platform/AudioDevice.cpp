#include "platform/AudioDevice.h"

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace platform {

namespace {
enum class Output { None, Device, Silent };

Output output = Output::None;
SDL_AudioDeviceID device = 0;
bool subsystemUp = false;
AudioFill fillFunction = nullptr;
void* fillUser = nullptr;

// The silent output's pacing thread; never destroyed, so a process that exits without closing
// the output does not end in a joinable thread's destructor.
std::thread* pacer = nullptr;
std::atomic<bool> pacing{false};
bool silentAllowed = true;
int silentRate = 44100;
int silentBlock = 1024;

void sdlCallback(void*, Uint8* stream, int bytes) {
    fillFunction(fillUser, reinterpret_cast<int16_t*>(stream), bytes / 4);
}

// ALSA prints its own diagnostics to stderr when SDL probes a machine without a sound card; the
// failure itself reaches us as a failed open, so its chatter is dropped. The library is the one
// SDL loads later (same soname), and it stays loaded so the handler stays in place.
using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);
void dropAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
    static bool done = false;
    if (done) return;
    done = true;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    using SetHandler = int (*)(AlsaErrorHandler);
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (set) set(dropAlsaMessage);
}

bool openDevice(int rate, int blockFrames, AudioFormat& obtained) {
    if (!subsystemUp) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystemUp = true;
    }
    // SDL's own "dummy" driver paces its callbacks loosely (about a tenth slow here), which would
    // let the music drift from the demo clock: the silent output below keeps exact time.
    const char* driver = SDL_GetCurrentAudioDriver();
    if (driver && std::strcmp(driver, "dummy") == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemUp = false;
        return false;
    }
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
    obtained.silent = false;
    return true;
}

// Fills a block every block's duration, on absolute deadlines so the average rate is exact. A
// thread that falls far behind (a suspended machine) starts again from now, as a device would
// after an underrun, instead of mixing seconds of music in one burst.
void pace() {
    std::vector<int16_t> block(static_cast<size_t>(silentBlock) * 2);
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(silentBlock) / silentRate));
    const auto tooLate = std::chrono::seconds(1);
    auto deadline = Clock::now();
    while (pacing.load()) {
        fillFunction(fillUser, block.data(), silentBlock);
        deadline += period;
        const auto now = Clock::now();
        if (now - deadline > tooLate) deadline = now;
        std::this_thread::sleep_until(deadline);
    }
}
} // namespace

bool openAudio(int rate, int blockFrames, AudioFill fill, void* user, AudioFormat& obtained) {
    if (output != Output::None || !fill || rate <= 0 || blockFrames <= 0) return false;
    fillFunction = fill;
    fillUser = user;
    quietAlsa();
    if (openDevice(rate, blockFrames, obtained)) {
        output = Output::Device;
        return true;
    }
    if (!silentAllowed) return false;
    silentRate = rate;
    silentBlock = blockFrames;
    obtained.rate = rate;
    obtained.blockFrames = blockFrames;
    obtained.silent = true;
    output = Output::Silent;
    return true;
}

void startAudio() {
    if (output == Output::Device) {
        SDL_PauseAudioDevice(device, 0);
    } else if (output == Output::Silent && !pacing.load()) {
        pacing.store(true);
        pacer = new std::thread(pace);
    }
}

void closeAudio() {
    if (output == Output::Device) {
        SDL_CloseAudioDevice(device);
        device = 0;
        // The audio subsystem itself stays up for the rest of the process: shut down at exit,
        // after the video, it would make SDL unload shared libraries that still own allocations.
    } else if (output == Output::Silent) {
        pacing.store(false);
        if (pacer) {
            pacer->join();
            delete pacer;
            pacer = nullptr;
        }
    }
    output = Output::None;
}

bool audioIsOpen() {
    return output != Output::None;
}
bool audioIsSilent() {
    return output == Output::Silent;
}
void allowSilentOutput(bool allowed) {
    silentAllowed = allowed;
}

} // namespace platform
