#include "sound/SpectrumTap.h"

#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

namespace spectrumTap {

namespace {
unsigned long reads = 0;
float peak = 0.0f;
} // namespace

bool activate() {
    if (!tesselMusic.isSoundInitialized()) return false;
    sound::dspSetActive(sound::dspGetFFTUnit(), true);
    return true;
}

const float* read() {
    if (!tesselMusic.isSoundInitialized() || !tesselMusic.isPlaying()) return nullptr;
    const float* spectrum = sound::dspGetSpectrum();
    if (spectrum) {
        ++reads;
        float sum = 0.0f;
        for (int i = 0; i < sound::kSpectrumSize; ++i) sum += spectrum[i];
        if (sum > peak) peak = sum;
    }
    return spectrum;
}

unsigned long spectraRead() { return reads; }
float peakEnergy() { return peak; }

} // namespace spectrumTap
