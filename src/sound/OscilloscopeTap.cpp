#include "sound/OscilloscopeTap.h"

#include "base/Report.h"
#include "sound/SoundSystem.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct TapState {
    sound::DspUnit* unit = nullptr;
    int users = 0;
    // The ring is written by the mixing thread and read by the main thread, sample by sample;
    // relaxed atomics make that race harmless without costing anything.
    std::atomic<int16_t>* ring = nullptr;
    int ringEntries = 0;
    std::atomic<int> blockIndex{0};
};

// Never destroyed: the mixing thread may still capture while static objects are destroyed at
// exit, before the exit handler closes the sound system.
TapState& tap() {
    static TapState* state = new TapState();
    return *state;
}

int16_t low16(int64_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xffffu));
}

bool is16Bit(int mixerType) {
    return mixerType == sound::kMixerMmxP5 || mixerType == sound::kMixerMmxP6 ||
           mixerType == sound::kMixerQualityMmxP5 || mixerType == sound::kMixerQualityMmxP6;
}

size_t frameBytes(int mixerType) {
    return is16Bit(mixerType) ? 4 : 8;
}

} // namespace

void OscilloscopeTap::convertFrames(int mixerType, const void* frames, int length, int16_t* destination) {
    switch (mixerType) {
    case sound::kMixerMmxP5:
    case sound::kMixerMmxP6:
    case sound::kMixerQualityMmxP5:
    case sound::kMixerQualityMmxP6: {
        const int16_t* in = static_cast<const int16_t*>(frames);
        for (int i = 0; i < length; ++i)
            destination[i] = static_cast<int16_t>((in[2 * i] + in[2 * i + 1]) >> 1);
        break;
    }
    case sound::kMixerQualityFpu: {
        const float* in = static_cast<const float*>(frames);
        for (int i = 0; i < length; ++i) {
            // Single-precision arithmetic, as the mixer's own floats add up.
            const float v = (in[2 * i] + in[2 * i + 1]) * 0.5f;
            // Truncation toward zero, kept in range so the conversion is defined.
            int32_t whole;
            if (!(v > -2147483648.0f))
                whole = INT32_MIN; // also NaN
            else if (v >= 2147483648.0f)
                whole = INT32_MAX;
            else
                whole = static_cast<int32_t>(v);
            destination[i] = low16(whole);
        }
        break;
    }
    default: {
        const int32_t* in = static_cast<const int32_t*>(frames);
        // The sum is taken in 64 bits: two large 32-bit samples must not overflow.
        for (int i = 0; i < length; ++i)
            destination[i] = low16((static_cast<int64_t>(in[2 * i]) + in[2 * i + 1]) >> 1);
        break;
    }
    }
}

void* OscilloscopeTap::capture(void*, void* newBuffer, int length, void*) {
    TapState& t = tap();
    const int block = sound::dspGetBufferLength();
    const int total = sound::dspGetBufferLengthTotal();
    if (!t.ring || block <= 0 || total <= 0 || t.ringEntries < total + kSpareSamples) return newBuffer;
    const int blocks = total / block;
    int index = t.blockIndex.load(std::memory_order_relaxed);
    if (index < 0 || index >= blocks) index = 0;
    // A block never spills into the next one.
    const int n = length < block ? length : block;
    const int mixer = sound::getMixer();
    int16_t converted[4096];
    std::atomic<int16_t>* destination = t.ring + static_cast<size_t>(index) * block;
    for (int done = 0; done < n;) {
        const int chunk = n - done < 4096 ? n - done : 4096;
        convertFrames(mixer, static_cast<const char*>(newBuffer) + done * frameBytes(mixer), chunk,
                      converted);
        for (int i = 0; i < chunk; ++i)
            destination[done + i].store(converted[i], std::memory_order_relaxed);
        done += chunk;
    }
    ++index;
    if (index >= blocks) index = 0;
    t.blockIndex.store(index, std::memory_order_relaxed);
    return newBuffer;
}

void OscilloscopeTap::start() {
    TapState& t = tap();
    if (!sound::isInitialized()) {
        reportError(__FILE__, __LINE__, "Oscillo: sound not inited", true);
        return;
    }
    if (t.unit && !sound::dspIsLive(t.unit)) {
        // The sound system was closed and started again since: the old unit is gone.
        t.unit = nullptr;
        t.users = 0;
    }
    ++t.users;
    if (!t.unit) {
        const int entries = sound::dspGetBufferLengthTotal() + kSpareSamples;
        delete[] t.ring; // no unit runs, so nothing writes it
        t.ring = new std::atomic<int16_t>[entries];
        for (int i = 0; i < entries; ++i)
            t.ring[i].store(0, std::memory_order_relaxed);
        t.ringEntries = entries;
        t.blockIndex.store(0);
        t.unit = sound::dspCreate(capture, kPriority, nullptr);
    }
    sound::dspSetActive(t.unit, true);
}

void OscilloscopeTap::setActive(bool on) {
    sound::dspSetActive(tap().unit, on);
}

void OscilloscopeTap::stop() {
    TapState& t = tap();
    if (t.users > 0) --t.users;
    if (t.users > 0 || !t.unit) return;
    if (sound::dspIsLive(t.unit)) {
        sound::dspSetActive(t.unit, false);
        sound::dspFree(t.unit);
    }
    t.unit = nullptr;
}

bool OscilloscopeTap::running() {
    return sound::dspGetActive(tap().unit);
}

int OscilloscopeTap::blockIndex() {
    return tap().blockIndex.load(std::memory_order_relaxed);
}

int OscilloscopeTap::readingPosition() {
    const int total = totalLength();
    int position = (blockIndex() + 1) * blockLength();
    if (position >= total) position -= total;
    return position;
}

int OscilloscopeTap::blockLength() {
    return sound::dspGetBufferLength();
}
int OscilloscopeTap::totalLength() {
    return sound::dspGetBufferLengthTotal();
}

int16_t OscilloscopeTap::sample(int index) {
    TapState& t = tap();
    if (!t.ring || index < 0 || index >= t.ringEntries) return 0;
    return t.ring[index].load(std::memory_order_relaxed);
}

void OscilloscopeTap::samples(int first, int count, int step, int16_t* out) {
    TapState& t = tap();
    for (int i = 0; i < count; ++i) {
        const int index = first + i * step;
        out[i] =
            t.ring && index >= 0 && index < t.ringEntries ? t.ring[index].load(std::memory_order_relaxed) : 0;
    }
}

int OscilloscopeTap::ringSize() {
    return tap().ringEntries;
}
