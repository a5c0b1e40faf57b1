#include "sound/SoundSystem.h"

#include "base/Report.h"
#include "platform/AudioDevice.h"
#include "sound/MusicFile.h"

#include <kiss_fftr.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sound {

struct Stream {
    OggVorbis_File file{};
    long rate = 44100;
    int64_t totalFrames = 0;

    // Decoded frames not yet mixed (owned by whoever mixes the stream).
    float** pcm = nullptr;
    long pcmFrames = 0;
    long pcmPos = 0;
    int pcmChannels = 0;
    int64_t leadingSilence = 0; // offline: frames of silence before the music begins

    // Rate conversion (only when the file's rate differs from the mix rate).
    double step = 1.0;
    double frac = 0.0;
    float current[2] = {0, 0};
    float next[2] = {0, 0};
    bool primed = false;

    std::atomic<int64_t> position{0}; // source frames consumed
    std::atomic<bool> ended{false};
    int channel = -1; // slot it plays on (main thread)
};

struct DspUnit {
    std::atomic<int> live{0};
    std::atomic<bool> active{false};
    DspCallback callback = nullptr;
    void* userData = nullptr;
    int priority = 0;
};

namespace {

constexpr int kMaxUnits = 32;
constexpr int kChannelSerialShift = 12;

struct Channel {
    std::atomic<Stream*> stream{nullptr};
    std::atomic<bool> paused{true};
    bool used = false; // main thread
    int serial = 0;    // main thread
};

// The last spectrum, passed from the mixing thread to the reader without a lock: the writer
// fills its own buffer and swaps it with the middle one; the reader swaps the middle one for
// its own when the writer marked it fresh.
class SpectrumExchange {
  public:
    float* writeBuffer() { return buffers[back]; }
    void publish() { back = middle.exchange(back | kFresh) & kIndex; }
    const float* read() {
        if (middle.load() & kFresh) front = middle.exchange(front) & kIndex;
        return buffers[front];
    }
    void reset() {
        for (auto& b : buffers)
            std::fill(b, b + kSpectrumSize, 0.0f);
        front = 0;
        middle = 1;
        back = 2;
    }

  private:
    static constexpr int kFresh = 4;
    static constexpr int kIndex = 3;
    float buffers[3][kSpectrumSize] = {};
    int front = 0;
    std::atomic<int> middle{1};
    int back = 2;
};

struct System {
    bool initialized = false;
    bool offlineWanted = false;
    bool offline = false;
    std::atomic<bool> replaying{false};
    int offlineBlockLength = 1024;
    int offlineBlocks = 4;

    int rate = 44100;
    int blockLength = 1024;
    int blocks = 4;

    std::unique_ptr<Channel[]> channels;
    int channelCount = 0;
    std::vector<Stream*> streams; // every open stream, for close

    DspUnit units[kMaxUnits]; // units[0] is the FFT unit

    // Odd while the mixing thread is inside a callback.
    std::atomic<uint32_t> mixSequence{0};

    // Mixing buffers, sized at init.
    std::vector<float> accumulator;
    std::vector<int16_t> original;
    std::vector<int16_t> work;

    // FFT unit.
    kiss_fftr_cfg fft = nullptr;
    float history[kFFTSize] = {};
    int historyPos = 0;
    float window[kFFTSize] = {};
    SpectrumExchange spectrum;

    void shutdown() {
        if (!initialized) return;
        if (!offline) platform::closeAudio();
        for (Stream* st : streams) {
            ov_clear(&st->file);
            delete st;
        }
        streams.clear();
        for (DspUnit& unit : units) {
            unit.live.store(0);
            unit.active.store(false);
        }
        channels.reset();
        channelCount = 0;
        initialized = false;
        offline = false;
    }
};

// Never destroyed: the exit handler that closes the sound system runs after the static objects
// made since it was registered are gone, and until then the mixing thread still uses this.
System& sys() {
    static System* system = new System();
    return *system;
}

// After the main thread took something away from the mixer, waits until a mix that may still
// use it has finished. Sequentially consistent on both sides: either the mixer's next read
// sees the change, or its callback was already running and this waits for it to end.
void waitForMixer() {
    System& s = sys();
    uint32_t seq = s.mixSequence.load();
    if (!(seq & 1u)) return;
    while (s.mixSequence.load() == seq)
        std::this_thread::yield();
}

// ---- decoding ----

bool pullSourceFrame(Stream& st, float& left, float& right) {
    if (st.leadingSilence > 0) {
        --st.leadingSilence;
        left = right = 0.0f;
        return true;
    }
    if (st.pcmPos >= st.pcmFrames) {
        int link = 0;
        long got = 0;
        for (int attempt = 0; attempt < 8; ++attempt) {
            got = ov_read_float(&st.file, &st.pcm, 4096, &link);
            if (got != OV_HOLE) break; // a gap in the data: go on after it
        }
        if (got <= 0) return false;
        vorbis_info* info = ov_info(&st.file, link);
        st.pcmChannels = info ? info->channels : 1;
        st.pcmFrames = got;
        st.pcmPos = 0;
    }
    left = st.pcm[0][st.pcmPos];
    right = st.pcmChannels > 1 ? st.pcm[1][st.pcmPos] : left;
    ++st.pcmPos;
    st.position.store(st.position.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return true;
}

// One output frame at the mix rate; false at the end of the music.
bool pullFrame(Stream& st, float& left, float& right) {
    if (st.step == 1.0) return pullSourceFrame(st, left, right);
    if (!st.primed) {
        if (!pullSourceFrame(st, st.current[0], st.current[1])) return false;
        if (!pullSourceFrame(st, st.next[0], st.next[1])) {
            st.next[0] = st.current[0];
            st.next[1] = st.current[1];
        }
        st.primed = true;
        st.frac = 0.0;
    }
    while (st.frac >= 1.0) {
        st.current[0] = st.next[0];
        st.current[1] = st.next[1];
        if (!pullSourceFrame(st, st.next[0], st.next[1])) return false;
        st.frac -= 1.0;
    }
    const float f = static_cast<float>(st.frac);
    left = st.current[0] + (st.next[0] - st.current[0]) * f;
    right = st.current[1] + (st.next[1] - st.current[1]) * f;
    st.frac += st.step;
    return true;
}

void resetDecoder(Stream& st) {
    st.pcm = nullptr;
    st.pcmFrames = 0;
    st.pcmPos = 0;
    st.leadingSilence = 0;
    st.primed = false;
    st.frac = 0.0;
}

// Positions the decoder at a source frame; a negative frame means that much silence first.
void seekFrames(Stream& st, int64_t frame) {
    resetDecoder(st);
    int64_t target = std::max<int64_t>(frame, 0);
    if (frame < 0) st.leadingSilence = -frame;
    bool ok = target < st.totalFrames || st.totalFrames <= 0;
    if (ok) ok = ov_pcm_seek(&st.file, target) == 0;
    st.position.store(target, std::memory_order_relaxed);
    st.ended.store(!ok && st.leadingSilence == 0);
    if (!ok) {
        // Past the end: nothing more to decode.
        st.pcmFrames = 0;
        st.pcmPos = 0;
    }
}

// ---- mixing ----

int16_t toSample(float v) {
    float scaled = v * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(std::lrint(scaled));
}

void mixBlock(int16_t* out, int frames) {
    System& s = sys();
    float* acc = s.accumulator.data();
    std::fill(acc, acc + frames * 2, 0.0f);
    for (int c = 0; c < s.channelCount; ++c) {
        Channel& ch = s.channels[c];
        Stream* st = ch.stream.load();
        if (!st || ch.paused.load() || st->ended.load(std::memory_order_relaxed)) continue;
        for (int i = 0; i < frames; ++i) {
            float l, r;
            if (!pullFrame(*st, l, r)) {
                st->ended.store(true);
                break;
            }
            acc[2 * i] += l;
            acc[2 * i + 1] += r;
        }
    }
    for (int i = 0; i < frames * 2; ++i)
        out[i] = toSample(acc[i]);
}

void runChain(int16_t* block, int frames) {
    System& s = sys();
    DspUnit* order[kMaxUnits];
    int count = 0;
    for (DspUnit& unit : s.units) {
        if (!unit.live.load(std::memory_order_acquire) || !unit.active.load()) continue;
        // Insertion by priority; equal priorities keep creation order.
        int i = count++;
        while (i > 0 && order[i - 1]->priority > unit.priority) {
            order[i] = order[i - 1];
            --i;
        }
        order[i] = &unit;
    }
    if (count == 0) return;
    std::copy(block, block + frames * 2, s.original.data());
    void* buffer = block;
    for (int i = 0; i < count; ++i) {
        void* result = order[i]->callback(s.original.data(), buffer, frames, order[i]->userData);
        if (result) buffer = result;
    }
    if (buffer != block)
        std::copy(static_cast<int16_t*>(buffer), static_cast<int16_t*>(buffer) + frames * 2, block);
}

void processBlocks(int16_t* out, int frames) {
    System& s = sys();
    while (frames > 0) {
        const int n = std::min(frames, s.blockLength);
        mixBlock(out, n);
        runChain(out, n);
        out += n * 2;
        frames -= n;
    }
}

void deviceFill(void*, int16_t* out, int frames) {
    System& s = sys();
    s.mixSequence.fetch_add(1);
    if (s.replaying.load())
        std::fill(out, out + static_cast<size_t>(frames) * 2, int16_t{0});
    else
        processBlocks(out, frames);
    s.mixSequence.fetch_add(1);
}

void* fftUnitCallback(void*, void* newBuffer, int length, void*) {
    System& s = sys();
    const int16_t* frames = static_cast<const int16_t*>(newBuffer);
    for (int i = 0; i < length; ++i) {
        s.history[s.historyPos] = (frames[2 * i] + frames[2 * i + 1]) * (0.5f / 32768.0f);
        s.historyPos = (s.historyPos + 1) % kFFTSize;
    }
    float ordered[kFFTSize];
    for (int i = 0; i < kFFTSize; ++i)
        ordered[i] = s.history[(s.historyPos + i) % kFFTSize];
    computeSpectrum(ordered, s.spectrum.writeBuffer());
    s.spectrum.publish();
    return newBuffer;
}

// ---- channels ----

Channel* channelOf(int handle, System& s) {
    if (handle < 0) return nullptr;
    const int index = handle & ((1 << kChannelSerialShift) - 1);
    if (index >= s.channelCount) return nullptr;
    Channel& ch = s.channels[index];
    if (!ch.used || ch.serial != (handle >> kChannelSerialShift)) return nullptr;
    return &ch;
}

// Takes the stream off its channel and frees the channel; the mixer no longer touches it.
void detachStream(Stream* st) {
    System& s = sys();
    if (st->channel < 0) return;
    Channel& ch = s.channels[st->channel];
    ch.stream.store(nullptr);
    ch.paused.store(true);
    ch.used = false;
    st->channel = -1;
    waitForMixer();
}

// Lends the stream to the main thread (for a seek) and gives it back after.
template <typename F> void withStreamHeld(Stream* st, F f) {
    System& s = sys();
    Channel* ch = st->channel >= 0 ? &s.channels[st->channel] : nullptr;
    if (ch) {
        ch->stream.store(nullptr);
        waitForMixer();
    }
    f();
    if (ch) ch->stream.store(st);
}

// The offline block count: enough for one whole FFT window.
int offlineBlockCount(const System& s) {
    int blocks = s.offlineBlocks;
    while (s.offlineBlockLength * blocks < kFFTSize)
        ++blocks;
    return blocks;
}

} // namespace

void setOfflineMode(bool offline, int blockLength, int blocks) {
    System& s = sys();
    s.offlineWanted = offline;
    s.offlineBlockLength = std::max(1, blockLength);
    s.offlineBlocks = std::max(1, blocks);
}

bool init(int rate, int maxSoftwareChannels, unsigned) {
    System& s = sys();
    if (s.initialized) return true;
    if (rate <= 0) return false;
    s.rate = rate;
    s.channelCount = std::max(0, std::min(maxSoftwareChannels, 1 << kChannelSerialShift));
    s.channels.reset(new Channel[s.channelCount]);
    s.offline = s.offlineWanted;

    for (int i = 0; i < kFFTSize; ++i)
        s.window[i] = 0.5f - 0.5f * std::cos(2.0f * static_cast<float>(M_PI) * i / kFFTSize);
    if (!s.fft) s.fft = kiss_fftr_alloc(kFFTSize, 0, nullptr, nullptr);
    std::fill(s.history, s.history + kFFTSize, 0.0f);
    s.historyPos = 0;
    s.spectrum.reset();

    DspUnit& fftUnit = s.units[0];
    fftUnit.callback = fftUnitCallback;
    fftUnit.userData = nullptr;
    fftUnit.priority = kFFTUnitPriority;
    fftUnit.active.store(false);

    auto sizeBuffers = [&s] {
        s.accumulator.assign(static_cast<size_t>(s.blockLength) * 2, 0.0f);
        s.original.assign(static_cast<size_t>(s.blockLength) * 2, 0);
        s.work.assign(static_cast<size_t>(s.blockLength) * 2, 0);
    };
    if (s.offline) {
        s.blockLength = s.offlineBlockLength;
        // The FFT sees only what the blocks of one offline render hold.
        s.blocks = offlineBlockCount(s);
        sizeBuffers();
        fftUnit.live.store(1, std::memory_order_release);
        s.initialized = true;
        return true;
    }

    platform::AudioFormat obtained;
    if (!platform::openAudio(rate, 1024, deviceFill, nullptr, obtained)) {
        fftUnit.live.store(0);
        s.channels.reset();
        s.channelCount = 0;
        return false;
    }
    // The mixer splits every callback into blocks of at most blockLength frames.
    s.blockLength = obtained.blockFrames > 0 ? std::min(obtained.blockFrames, 4096) : 1024;
    s.blocks = 4;
    sizeBuffers();
    fftUnit.live.store(1, std::memory_order_release);
    s.initialized = true;
    platform::startAudio();
    return true;
}

void close() {
    sys().shutdown();
}

bool isInitialized() {
    return sys().initialized;
}
bool isOffline() {
    return sys().initialized && sys().offline;
}
int mixRate() {
    return sys().rate;
}

Stream* streamOpen(const char* fileName) {
    System& s = sys();
    if (!s.initialized || !fileName) return nullptr;
    // A FIFO or device under the music's name would block the open forever: refused and reported.
    // A missing file stays a quiet failure (the demo then runs without music).
    std::string why;
    auto* st = new Stream();
    if (!openMusicFile(fileName, &st->file, &why)) {
        if (errno == ENODEV)
            reportErrorText(__FILE__, __LINE__, "Music file is not a regular file", fileName, false);
        delete st;
        return nullptr;
    }
    vorbis_info* info = ov_info(&st->file, -1);
    if (!info || info->channels < 1 || info->rate <= 0) {
        ov_clear(&st->file);
        delete st;
        return nullptr;
    }
    st->rate = info->rate;
    st->step = static_cast<double>(st->rate) / s.rate;
    ogg_int64_t total = ov_pcm_total(&st->file, -1);
    st->totalFrames = total > 0 ? total : 0;
    s.streams.push_back(st);
    return st;
}

bool streamClose(Stream* st) {
    System& s = sys();
    if (!st) return false;
    auto it = std::find(s.streams.begin(), s.streams.end(), st);
    if (it == s.streams.end()) return false;
    detachStream(st);
    s.streams.erase(it);
    ov_clear(&st->file);
    delete st;
    return true;
}

bool streamSetTime(Stream* st, int ms) {
    if (!st) return false;
    const int64_t frame = static_cast<int64_t>(std::max(ms, 0)) * st->rate / 1000;
    withStreamHeld(st, [&] { seekFrames(*st, frame); });
    return !st->ended.load();
}

int streamGetTime(const Stream* st) {
    if (!st) return 0;
    return static_cast<int>(st->position.load(std::memory_order_relaxed) * 1000 / st->rate);
}

int streamGetLengthMs(const Stream* st) {
    return st ? static_cast<int>(st->totalFrames * 1000 / st->rate) : 0;
}

bool streamEnded(const Stream* st) {
    return st && st->ended.load();
}

int streamPlay(Stream* st, bool paused) {
    System& s = sys();
    if (!s.initialized || !st) return -1;
    detachStream(st);
    for (int i = 0; i < s.channelCount; ++i) {
        Channel& ch = s.channels[i];
        if (ch.used) continue;
        ch.used = true;
        ch.serial = ch.serial % ((1 << 18) - 1) + 1;
        ch.paused.store(paused);
        st->channel = i;
        ch.stream.store(st);
        return (ch.serial << kChannelSerialShift) | i;
    }
    return -1;
}

bool setPaused(int channel, bool paused) {
    Channel* ch = channelOf(channel, sys());
    if (!ch) return false;
    ch->paused.store(paused);
    return true;
}

bool getPaused(int channel) {
    Channel* ch = channelOf(channel, sys());
    return !ch || ch->paused.load();
}

DspUnit* dspCreate(DspCallback callback, int priority, void* userData) {
    System& s = sys();
    if (!callback) return nullptr;
    for (int i = 1; i < kMaxUnits; ++i) {
        DspUnit& unit = s.units[i];
        if (unit.live.load()) continue;
        unit.active.store(false);
        unit.callback = callback;
        unit.userData = userData;
        unit.priority = priority;
        unit.live.store(1, std::memory_order_release);
        return &unit;
    }
    return nullptr;
}

void dspFree(DspUnit* unit) {
    if (!unit || unit == &sys().units[0]) return;
    unit->active.store(false);
    unit->live.store(0);
    waitForMixer();
}

void dspSetActive(DspUnit* unit, bool active) {
    if (!unit) return;
    unit->active.store(active);
    if (!active) waitForMixer();
}

bool dspGetActive(const DspUnit* unit) {
    return unit && unit->live.load() && unit->active.load();
}

bool dspIsLive(const DspUnit* unit) {
    return unit && unit->live.load();
}

DspUnit* dspGetFFTUnit() {
    return &sys().units[0];
}

const float* dspGetSpectrum() {
    System& s = sys();
    if (!s.initialized || !s.units[0].active.load()) return nullptr;
    return s.spectrum.read();
}

int dspGetBufferLength() {
    return sys().blockLength;
}
int dspGetBufferLengthTotal() {
    return sys().blockLength * sys().blocks;
}
int getMixer() {
    return kMixerQualityMmxP6;
}

namespace {
// Mixes `blocks` blocks of `blockLength` frames ending at music time `ms` through the chain.
void renderBlocksAt(System& s, int ms, int blockLength, int blocks) {
    const int64_t framesBefore = static_cast<int64_t>(blockLength) * blocks;
    for (int c = 0; c < s.channelCount; ++c) {
        Stream* st = s.channels[c].stream.load();
        if (!st || s.channels[c].paused.load()) continue;
        // Music time of the first frame of the blocks, in the stream's own rate.
        const int64_t endFrame = static_cast<int64_t>(ms) * st->rate / 1000;
        const int64_t startFrame = endFrame - framesBefore * st->rate / s.rate;
        // Consecutive renders usually overlap; a seek is only skipped when the decoder is
        // exactly there already.
        if (startFrame < 0 || st->position.load() != startFrame || st->leadingSilence != 0 || st->primed ||
            st->ended.load())
            seekFrames(*st, startFrame);
    }
    const size_t samples = static_cast<size_t>(blockLength) * 2;
    if (s.accumulator.size() < samples) s.accumulator.resize(samples);
    if (s.original.size() < samples) s.original.resize(samples);
    if (s.work.size() < samples) s.work.resize(samples);
    int16_t* block = s.work.data();
    for (int b = 0; b < blocks; ++b) {
        mixBlock(block, blockLength);
        runChain(block, blockLength);
    }
}

} // namespace

void renderOfflineAt(int ms) {
    System& s = sys();
    if (!s.initialized || !s.offline) return;
    renderBlocksAt(s, ms, s.blockLength, s.blocks);
}

void beginReplay() {
    System& s = sys();
    if (!s.initialized || s.offline) return;
    s.replaying.store(true);
    // From here the output thread no longer touches the streams, the buffers or the chain.
    waitForMixer();
}

void renderReplayAt(int ms) {
    System& s = sys();
    if (!s.initialized || s.offline || !s.replaying.load()) return;
    renderBlocksAt(s, ms, s.offlineBlockLength, offlineBlockCount(s));
}

void endReplay() {
    System& s = sys();
    s.replaying.store(false);
}

void computeSpectrum(const float* samples, float* magnitudes) {
    System& s = sys();
    if (!s.fft) {
        s.fft = kiss_fftr_alloc(kFFTSize, 0, nullptr, nullptr);
        for (int i = 0; i < kFFTSize; ++i)
            s.window[i] = 0.5f - 0.5f * std::cos(2.0f * static_cast<float>(M_PI) * i / kFFTSize);
    }
    kiss_fft_scalar in[kFFTSize];
    kiss_fft_cpx out[kFFTSize / 2 + 1];
    for (int i = 0; i < kFFTSize; ++i)
        in[i] = samples[i] * s.window[i];
    kiss_fftr(s.fft, in, out);
    // The Hann window halves a sine's peak: a full-scale sine in the middle of a bin has
    // magnitude N/4 there.
    const float scale = 4.0f / kFFTSize;
    for (int k = 0; k < kSpectrumSize; ++k) {
        float m = std::sqrt(out[k].r * out[k].r + out[k].i * out[k].i) * scale;
        magnitudes[k] = m > 1.0f ? 1.0f : m;
    }
}

} // namespace sound
