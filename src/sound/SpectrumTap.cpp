#include "sound/SpectrumTap.h"

#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

namespace spectrumTap {

namespace {
unsigned long reads = 0;
float peak = 0.0f;
std::vector<int> beats;
} // namespace

bool activate() {
    if (!tesselMusic.isSoundInitialized()) return false;
    sound::dspSetActive(sound::dspGetFFTUnit(), true);
    return true;
}

const float* read() {
    if (!tesselMusic.isSoundInitialized() || !tesselMusic.isPlaying()) return nullptr;
    const float* spectrum = sound::dspGetSpectrum();
    if (spectrum) ++reads;
    return spectrum;
}

void noteEnergy(float sum) {
    if (sum > peak) peak = sum;
}

unsigned long spectraRead() {
    return reads;
}
float peakEnergy() {
    return peak;
}

void noteBeat(int time) {
    beats.push_back(time);
}

const std::vector<int>& beatTimes() {
    return beats;
}

} // namespace spectrumTap
