#include "sound/SpectrumTap.h"

#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

namespace spectrumTap {

bool activate() {
    if (!tesselMusic.isSoundInitialized()) return false;
    sound::dspSetActive(sound::dspGetFFTUnit(), true);
    return true;
}

const float* read() {
    if (!tesselMusic.isSoundInitialized() || !tesselMusic.isPlaying()) return nullptr;
    return sound::dspGetSpectrum();
}

} // namespace spectrumTap
