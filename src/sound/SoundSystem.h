// The small sound system under the music and the analysis taps: one mix of streamed Ogg Vorbis
// channels, a chain of DSP units run in priority order on every block of the mix, and an FFT
// unit that keeps the spectrum of what is playing.
//
// The mix runs on the audio device's thread, or, in offline mode, on the caller's thread when
// it asks for the audio at a given music time (deterministic rendering). Everything else is
// called from the main thread. The audio thread never waits for the main thread; the main
// thread waits at most one block for the audio thread when it takes a stream away from it.
#pragma once

#include <cstdint>

namespace sound {

constexpr int kSpectrumSize = 512; // magnitudes handed out, lowest frequency first
constexpr int kFFTSize = 1024;     // samples of mixed output per transform
constexpr int kFFTUnitPriority = 900;

// Mixer types as reported by getMixer; they say how DSP buffers hold a stereo frame.
constexpr int kMixerMmxP5 = 2;        // 16-bit integer pairs
constexpr int kMixerMmxP6 = 3;        // 16-bit integer pairs
constexpr int kMixerQualityFpu = 5;   // float pairs
constexpr int kMixerQualityMmxP5 = 6; // 16-bit integer pairs
constexpr int kMixerQualityMmxP6 = 7; // 16-bit integer pairs: what this mixer produces

// A DSP unit callback: called with the block as it came from the mix and the block as the
// units before it left it (interleaved stereo in the mixer's format), the block length in
// frames and the unit's user data. Returns the buffer the next unit gets (nullptr: unchanged).
using DspCallback = void* (*)(void* originalBuffer, void* newBuffer, int length, void* userData);

struct DspUnit;
struct Stream;

// Chooses the output of the next init: the audio device (default), or none, with the mix made
// on demand by renderOfflineAt. Offline blocks have `blockLength` frames, `blocks` per total.
void setOfflineMode(bool offline, int blockLength = 1024, int blocks = 4);

// Starts the sound system; without a sound device it plays to the silent output, which keeps
// the same pace. False only when no output can run at all.
bool init(int mixRate, int maxSoftwareChannels, unsigned flags);
// Stops output and frees every stream and unit.
void close();
bool isInitialized();
bool isOffline();
int mixRate();

// Opens a music file for streaming; seeking in it is exact to the sample. nullptr on failure.
Stream* streamOpen(const char* fileName);
bool streamClose(Stream* stream);
// Positions the stream (music time in ms); works while playing too.
bool streamSetTime(Stream* stream, int ms);
// Music time of the next frame to be mixed, ms.
int streamGetTime(const Stream* stream);
int streamGetLengthMs(const Stream* stream);
bool streamEnded(const Stream* stream);
// Starts the stream on a free channel (stopping it on the channel it played on before);
// returns the channel, or -1 when no channel is free.
int streamPlay(Stream* stream, bool paused);

bool setPaused(int channel, bool paused);
bool getPaused(int channel);

DspUnit* dspCreate(DspCallback callback, int priority, void* userData);
void dspFree(DspUnit* unit);
// Switching a unit off guarantees its callback has finished and will not run again.
void dspSetActive(DspUnit* unit, bool active);
bool dspGetActive(const DspUnit* unit);
// False once the unit was freed, or the sound system closed under it.
bool dspIsLive(const DspUnit* unit);
DspUnit* dspGetFFTUnit();
// The latest spectrum: kSpectrumSize magnitudes in 0..1, scaled so that a full-scale sine gives
// about 1.0 in its bin. Valid until the next call; nullptr when the sound system is down or the
// FFT unit is off.
const float* dspGetSpectrum();
int dspGetBufferLength();      // frames per block
int dspGetBufferLengthTotal(); // frames in all blocks together
int getMixer();

// Offline mode: mixes the total length of blocks that ends at music time `ms` and runs each
// block through the DSP chain, so that the taps hold exactly what plays just before `ms`.
void renderOfflineAt(int ms);

// Jumping while the device plays (an author's preview): between beginReplay and endReplay the
// output plays silence and leaves the streams and the DSP chain alone, and renderReplayAt fills
// the taps from the music at `ms` as renderOfflineAt does with the offline block sizes, so a
// replayed frame hears what a capture of that frame hears. Channels play only if unpaused.
void beginReplay();
void renderReplayAt(int ms);
void endReplay();

// The FFT unit's transform on its own: magnitudes of the last kFFTSize mono samples (-1..1).
void computeSpectrum(const float* samples, float* magnitudes);

} // namespace sound
