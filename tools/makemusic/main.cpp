// holdfast-makemusic: synthesizes the bundled demo's music and writes it as Ogg Vorbis.
//   holdfast-makemusic OUT.ogg [--seconds S] [--quality Q]
//
// Everything is made here from oscillators and noise: drums (kick on the beat, snare, hats,
// crashes), a bass line, pad chords and an arpeggio, at 120 beats per minute (a beat every
// 500 ms, a bar every 2000 ms). The arrangement, in bars:
//   0 intro (pads)            8 hats and a kick per bar     16 groove (drums, bass)
//  32 + arpeggio             48 breakdown (no drums)       56 build (snare roll, riser)
//  64 drop                   96 half-time                 112 drop again
// 128 outro, fading out until 286 s.
// The output is the same on every run (fixed noise seed).
#include "common/ToolOptions.h"
#include "platform/ReplacingFile.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kBeat = 0.5; // seconds
constexpr double kBar = 4 * kBeat;
constexpr double kStep = kBeat / 4; // a sixteenth
constexpr double kPi = 3.14159265358979323846;

// A stereo bus covering the whole piece.
struct Bus {
    std::vector<float> left, right;
    explicit Bus(size_t frames) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t frames() const { return left.size(); }
    void add(size_t i, float l, float r) {
        if (i < left.size()) {
            left[i] += l;
            right[i] += r;
        }
    }
};

// Deterministic white noise in -1..1.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1u) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
    }
};

double midiHz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

size_t frameAt(double seconds) {
    return static_cast<size_t>(std::max(0.0, seconds) * kRate + 0.5);
}

double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Band-limited sawtooth.
struct Saw {
    double phase = 0.0;
    double inc = 0.0;
    void setHz(double hz) { inc = hz / kRate; }
    float next() {
        double v = 2.0 * phase - 1.0 - polyBlep(phase, inc);
        phase += inc;
        if (phase >= 1.0) phase -= 1.0;
        return static_cast<float>(v);
    }
};

struct OnePole {
    float z = 0.0f;
    float a = 1.0f;
    void setCutoff(double hz) { a = static_cast<float>(1.0 - std::exp(-2.0 * kPi * hz / kRate)); }
    float lowpass(float x) { return z += a * (x - z); }
};

// ---- instruments: each adds one note to a bus ----

// The kick's body settles on 45 Hz, close to the middle of the spectrum's second band (43 Hz
// wide), and is driven hard into the saturation: nearly square for its first tenth of a second,
// its fundamental fills that band past what the Spectrum effect takes for a beat.
void kick(Bus& bus, double t0, float gain) {
    Noise noise(static_cast<uint32_t>(t0 * 1000) + 7);
    const size_t start = frameAt(t0);
    const int length = static_cast<int>(0.45 * kRate);
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double phase = 2.0 * kPi * (45.0 * t + (120.0 / 45.0) * (1.0 - std::exp(-45.0 * t)));
        double v = std::sin(phase) * std::exp(-4.5 * t);
        v += noise.next() * std::exp(-t * 500.0) * 0.25; // the beater's click
        if (i > length - 256) v *= (length - i) / 256.0;
        v = std::tanh(2.5 * v);
        bus.add(start + i, static_cast<float>(v * gain), static_cast<float>(v * gain));
    }
}

void snare(Bus& bus, double t0, float gain) {
    Noise noise(static_cast<uint32_t>(t0 * 1000) + 11);
    const size_t start = frameAt(t0);
    const int length = static_cast<int>(0.3 * kRate);
    float previous = 0.0f;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const float n = noise.next();
        const float bright = n - 0.6f * previous; // tilt the noise towards the top
        previous = n;
        double v =
            std::sin(2.0 * kPi * 185.0 * t) * std::exp(-28.0 * t) * 0.55 + bright * std::exp(-15.0 * t) * 0.5;
        if (i > length - 256) v *= (length - i) / 256.0;
        bus.add(start + i, static_cast<float>(v * gain * 0.95), static_cast<float>(v * gain));
    }
}

void hat(Bus& bus, double t0, float gain, bool open) {
    Noise noise(static_cast<uint32_t>(t0 * 1000) + 13);
    const size_t start = frameAt(t0);
    const double decay = open ? 11.0 : 70.0;
    const int length = static_cast<int>((open ? 0.4 : 0.09) * kRate);
    float p1 = 0.0f, p2 = 0.0f;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const float n = noise.next();
        const float high = n - 2.0f * p1 + p2; // second difference: only the hiss is left
        p2 = p1;
        p1 = n;
        double v = high * 0.25 * std::exp(-decay * t);
        if (i > length - 128) v *= (length - i) / 128.0;
        bus.add(start + i, static_cast<float>(v * gain * 0.8), static_cast<float>(v * gain));
    }
}

void crash(Bus& bus, double t0, float gain) {
    Noise noise(static_cast<uint32_t>(t0 * 1000) + 17);
    const size_t start = frameAt(t0);
    const int length = static_cast<int>(2.5 * kRate);
    float p1 = 0.0f;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const float nl = noise.next(), nr = noise.next();
        const float hl = nl - p1;
        p1 = nl;
        const double env = std::exp(-1.7 * t) * std::min(1.0, t * 400.0);
        double fade = i > length - 2048 ? (length - i) / 2048.0 : 1.0;
        bus.add(start + i, static_cast<float>(hl * 0.22 * env * fade * gain),
                static_cast<float>((nr - 0.5f * nl) * 0.2 * env * fade * gain));
    }
}

void riser(Bus& bus, double t0, double duration, float gain) {
    Noise noise(static_cast<uint32_t>(t0 * 1000) + 19);
    const size_t start = frameAt(t0);
    const int length = static_cast<int>(duration * kRate);
    OnePole filter;
    for (int i = 0; i < length; ++i) {
        const double x = static_cast<double>(i) / length;
        if (i % 64 == 0) filter.setCutoff(300.0 + 7000.0 * x * x);
        const float v = filter.lowpass(noise.next()) * static_cast<float>(x * x * 0.5 * gain);
        bus.add(start + i, v, v);
    }
}

void bass(Bus& bus, double t0, double duration, int note, float gain) {
    const size_t start = frameAt(t0);
    const int length = static_cast<int>((duration + 0.03) * kRate);
    Saw saw;
    saw.setHz(midiHz(note));
    OnePole filter, filter2;
    double sub = 0.0;
    const double subInc = 2.0 * kPi * midiHz(note) / kRate;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        if (i % 32 == 0) filter.setCutoff(220.0 + 1400.0 * std::exp(-t * 14.0));
        filter2.a = filter.a;
        double env = std::min(1.0, t * 300.0) * (0.75 + 0.25 * std::exp(-t * 8.0));
        if (t > duration) env *= std::max(0.0, 1.0 - (t - duration) / 0.03);
        const float tone =
            filter2.lowpass(filter.lowpass(saw.next())) + 0.6f * static_cast<float>(std::sin(sub));
        sub += subInc;
        const float v = static_cast<float>(tone * env * gain);
        bus.add(start + i, v, v);
    }
}

void padNote(Bus& bus, double t0, double duration, int note, float gain) {
    const size_t start = frameAt(t0);
    const double release = 0.6;
    const int length = static_cast<int>((duration + release) * kRate);
    Saw a, b;
    const double hz = midiHz(note);
    a.setHz(hz * 1.0041); // about 7 cents apart, one on each side
    b.setHz(hz / 1.0041);
    a.phase = 0.31;
    b.phase = 0.77;
    OnePole fa, fb, ga, gb;
    fa.setCutoff(1500.0);
    fb.setCutoff(1500.0);
    ga.a = fa.a;
    gb.a = fa.a;
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double env = std::min(1.0, t / 0.35);
        if (t > duration) env *= std::max(0.0, 1.0 - (t - duration) / release);
        const float l = ga.lowpass(fa.lowpass(a.next())) * static_cast<float>(env * gain);
        const float r = gb.lowpass(fb.lowpass(b.next())) * static_cast<float>(env * gain);
        bus.add(start + i, l * 0.8f + r * 0.2f, r * 0.8f + l * 0.2f);
    }
}

void arpNote(Bus& bus, double t0, int note, float gain, float pan) {
    const double hz = midiHz(note);
    // The note, then two echoes a dotted eighth apart, bouncing between the sides.
    const struct {
        double delay;
        float level;
        float pan;
    } taps[] = {{0.0, 1.0f, pan}, {3 * kStep, 0.45f, -0.7f}, {6 * kStep, 0.22f, 0.7f}};
    for (const auto& tap : taps) {
        const size_t start = frameAt(t0 + tap.delay);
        const int length = static_cast<int>(0.35 * kRate);
        Saw a, b;
        a.setHz(hz);
        b.setHz(hz);
        b.phase = 0.25; // the difference of two saws a quarter apart is a pulse
        OnePole filter;
        filter.setCutoff(tap.delay > 0 ? 1800.0 : 3200.0);
        const float l = (1.0f - tap.pan) * 0.5f, r = (1.0f + tap.pan) * 0.5f;
        for (int i = 0; i < length; ++i) {
            const double t = static_cast<double>(i) / kRate;
            double env = std::min(1.0, t * 500.0) * std::exp(-t * 10.0);
            if (i > length - 256) env *= (length - i) / 256.0;
            const float v = filter.lowpass(a.next() - b.next()) * static_cast<float>(env * gain * tap.level);
            bus.add(start + i, v * l, v * r);
        }
    }
}

// ---- the arrangement ----

struct Chord {
    int root;     // bass note
    int tones[3]; // pad voicing
};

const Chord kVerse[4] = {
    {45, {57, 60, 64}}, {41, {53, 57, 60}}, {48, {55, 60, 64}}, {43, {55, 59, 62}}}; // Am F C G
const Chord kBridge[4] = {
    {41, {53, 57, 60}}, {43, {55, 59, 62}}, {40, {52, 55, 59}}, {45, {57, 60, 64}}}; // F G Em Am

struct Section {
    int firstBar;
    bool pads, hats, kickPerBar, groove, bassLine, arps, roll, halfTime, bridge, sixteenths;
};

// Which parts play from which bar on (until the next entry).
const Section kSections[] = {
    // bar pads  hats   kick/bar groove bass   arps   roll   half   bridge 16ths
    {0, true, false, false, false, false, false, false, false, false, false},
    {8, true, true, true, false, false, false, false, false, false, false},
    {16, true, true, false, true, true, false, false, false, false, false},
    {32, true, true, false, true, true, true, false, false, false, false},
    {48, true, false, false, false, false, true, false, false, true, false},
    {56, true, false, true, false, false, true, true, false, true, false},
    {64, true, true, false, true, true, true, false, false, false, false},
    {96, true, true, false, false, true, true, false, true, true, false},
    {112, true, true, false, true, true, true, false, false, false, true},
    {128, true, true, false, true, true, false, false, false, false, false},
    {136, true, false, false, false, false, false, false, false, false, false},
};
const int kCrashBars[] = {16, 32, 64, 80, 112, 128};

const Section& sectionOf(int bar) {
    const Section* found = &kSections[0];
    for (const Section& s : kSections)
        if (s.firstBar <= bar) found = &s;
    return *found;
}

struct Parts {
    std::vector<double> kicks; // kick times, for the ducking of the other parts
};

// Adds the drums (when `drums` is given) and the other parts (when `music` is given).
void arrange(Bus* drums, Bus* music, int bars, Parts& parts) {
    for (int bar = 0; bar < bars; ++bar) {
        const Section& s = sectionOf(bar);
        const double t = bar * kBar;
        const Chord& chord = (s.bridge ? kBridge : kVerse)[bar % 4];
        const float intro = bar < 8 ? static_cast<float>(0.35 + 0.65 * bar / 8.0) : 1.0f;

        if (music && s.pads)
            for (int tone : chord.tones)
                padNote(*music, t, kBar - 0.05, tone, 0.1f * intro);

        if (drums && s.hats)
            for (int step = 0; step < 16; step += s.sixteenths ? 1 : 2) {
                const bool offbeat = step % 4 == 2;
                hat(*drums, t + step * kStep, offbeat ? 0.9f : (step % 2 ? 0.35f : 0.55f),
                    offbeat && s.groove && bar % 2 == 1);
            }

        if (drums && s.kickPerBar) {
            kick(*drums, t, 1.2f);
            parts.kicks.push_back(t);
        }
        if (drums && s.groove)
            for (int beat = 0; beat < 4; ++beat) {
                kick(*drums, t + beat * kBeat, 1.2f);
                parts.kicks.push_back(t + beat * kBeat);
                if (beat % 2 == 1) snare(*drums, t + beat * kBeat, 0.8f);
            }
        if (drums && s.halfTime) {
            kick(*drums, t, 1.2f);
            kick(*drums, t + 1.5 * kBeat, 1.1f);
            parts.kicks.push_back(t);
            parts.kicks.push_back(t + 1.5 * kBeat);
            snare(*drums, t + 2 * kBeat, 0.9f);
        }
        if (drums && s.roll) {
            // Eighths, then sixteenths, then thirty-seconds in the last bar, getting louder.
            const int inBuild = bar - s.firstBar;
            const int perBar = inBuild < 4 ? 8 : (inBuild < 7 ? 16 : 32);
            for (int i = 0; i < perBar; ++i) {
                const float level = 0.25f + 0.6f * (inBuild * perBar + i) / (8.0f * perBar);
                snare(*drums, t + i * kBar / perBar, level);
            }
            if (inBuild == 0) riser(*drums, t, 8 * kBar, 0.5f);
        }

        if (music && s.bassLine) {
            static const int kPattern[8] = {0, 0, 12, 0, 0, 12, 7, 12};
            if (s.halfTime) {
                bass(*music, t, 1.4 * kBeat, chord.root - 12, 0.38f);
                bass(*music, t + 1.5 * kBeat, 2.4 * kBeat, chord.root - 12, 0.34f);
            } else {
                for (int e = 0; e < 8; ++e)
                    bass(*music, t + e * 2 * kStep, 2 * kStep * 0.8, chord.root - 12 + kPattern[e], 0.32f);
            }
        }

        if (music && s.arps) {
            static const int kOrder[16] = {0, 1, 2, 3, 2, 1, 0, 1, 0, 1, 2, 3, 2, 1, 2, 3};
            const int tones[4] = {chord.tones[0] + 12, chord.tones[1] + 12, chord.tones[2] + 12,
                                  chord.tones[0] + 24};
            for (int step = 0; step < 16; ++step)
                arpNote(*music, t + step * kStep, tones[kOrder[step]], step % 4 == 0 ? 0.075f : 0.055f,
                        step % 2 ? 0.35f : -0.35f);
        }
    }
    if (drums)
        for (int bar : kCrashBars)
            if (bar < bars) crash(*drums, bar * kBar, 0.9f);
}

// Drums plus the other parts, which duck a little under every kick; then the ends are faded
// and the sum is softly limited just under full scale (the encoder's ripple must not clip).
constexpr double kCeiling = 0.97;
void mixDown(const Bus& drums, const Bus& music, const Parts& parts, double seconds, std::vector<float>& left,
             std::vector<float>& right) {
    const size_t frames = drums.frames();
    left.assign(frames, 0.0f);
    right.assign(frames, 0.0f);
    size_t nextKick = 0;
    double lastKick = -10.0;
    const double fadeOut = 8.0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        while (nextKick < parts.kicks.size() && parts.kicks[nextKick] <= t)
            lastKick = parts.kicks[nextKick++];
        const double duck = 1.0 - 0.45 * std::exp(-(t - lastKick) * 9.0);
        double master = 1.0;
        if (t > seconds - fadeOut) master = std::max(0.0, (seconds - t) / fadeOut);
        const double l = (drums.left[i] + music.left[i] * duck) * master;
        const double r = (drums.right[i] + music.right[i] * duck) * master;
        left[i] = static_cast<float>(std::tanh(l * 1.1) * kCeiling);
        right[i] = static_cast<float>(std::tanh(r * 1.1) * kCeiling);
    }
}

bool encode(const std::vector<float>& left, const std::vector<float>& right, float quality,
            const char* path) {
    // Written under a temporary name and renamed at the end: a failed run leaves no broken file.
    platform::ReplacingFile output(path);
    std::string why;
    FILE* out = output.begin(&why) ? output.stream() : nullptr;
    if (!out) {
        fprintf(stderr, "holdfast-makemusic: cannot write %s: %s\n", path,
                why.empty() ? "no stream" : why.c_str());
        return false;
    }
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, kRate, quality) != 0) {
        fprintf(stderr, "holdfast-makemusic: the encoder refused quality %.2f\n", quality);
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_comment_add_tag(&comment, "TITLE", "hold fast");
    vorbis_comment_add_tag(&comment, "ENCODER", "holdfast-makemusic");
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 0x686f6c64);

    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &headerComment);
    ogg_stream_packetin(&stream, &headerCode);
    ogg_page page;
    bool ok = true;
    auto writePage = [&](const ogg_page& p) {
        ok = ok && fwrite(p.header, 1, p.header_len, out) == static_cast<size_t>(p.header_len) &&
             fwrite(p.body, 1, p.body_len, out) == static_cast<size_t>(p.body_len);
    };
    while (ogg_stream_flush(&stream, &page))
        writePage(page);

    const size_t frames = left.size();
    size_t position = 0;
    bool done = false;
    while (!done) {
        const size_t chunk = std::min<size_t>(4096, frames - position);
        if (chunk == 0) {
            vorbis_analysis_wrote(&dsp, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(chunk));
            std::copy(left.begin() + position, left.begin() + position + chunk, buffer[0]);
            std::copy(right.begin() + position, right.begin() + position + chunk, buffer[1]);
            vorbis_analysis_wrote(&dsp, static_cast<int>(chunk));
            position += chunk;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page)) {
                    writePage(page);
                    if (ogg_page_eos(&page)) done = true;
                }
            }
        }
        if (chunk == 0 && !done) {
            while (ogg_stream_flush(&stream, &page))
                writePage(page);
            done = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    if (!ok) {
        fprintf(stderr, "holdfast-makemusic: error writing %s\n", path);
        return false;
    }
    if (!output.commit(&why)) {
        fprintf(stderr, "holdfast-makemusic: cannot write %s: %s\n", path, why.c_str());
        return false;
    }
    return true;
}

const tool::Description kTool = {
    "holdfast-makemusic", "Synthesises the demo's music (120 bpm) and writes it as Ogg Vorbis.",
    "usage: holdfast-makemusic OUT.ogg [--seconds S] [--quality Q]\n"
    "  S: length in seconds (default 286), Q: Vorbis quality -0.1..1 (default 0.3)\n"};

int usage() {
    return tool::usageError(kTool);
}

} // namespace

int main(int argc, char** argv) {
    tool::answerHelpAndVersion(argc, argv, kTool);
    const char* outPath = nullptr;
    double seconds = 286.0;
    float quality = 0.3f;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--quality" && i + 1 < argc) {
            quality = static_cast<float>(std::atof(argv[++i]));
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage();
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            return usage();
        }
    }
    if (!outPath || !(seconds > 0.5) || seconds > 3600.0 || !(quality >= -0.1f && quality <= 1.0f))
        return usage();
    // Refused before the minute of synthesis rather than after it.
    if (!platform::replaceableOutput(outPath)) {
        fprintf(stderr, "holdfast-makemusic: will not write %s: it exists and is not a regular file\n",
                outPath);
        return 1;
    }

    const auto begin = std::chrono::steady_clock::now();
    const size_t frames = frameAt(seconds);
    const int bars = static_cast<int>(std::ceil(seconds / kBar));
    Bus drums(frames), music(frames);
    Parts parts;
    // The drums and the other parts are independent: make them side by side.
    std::thread drumThread([&] { arrange(&drums, nullptr, bars, parts); });
    Parts unused;
    arrange(nullptr, &music, bars, unused);
    drumThread.join();
    std::vector<float> left, right;
    mixDown(drums, music, parts, seconds, left, right);
    const auto synthesized = std::chrono::steady_clock::now();
    if (!encode(left, right, quality, outPath)) return 1;
    const auto end = std::chrono::steady_clock::now();
    fprintf(stderr, "holdfast-makemusic: %s, %.1f s of music; synthesis %.1f s, encoding %.1f s\n", outPath,
            seconds, std::chrono::duration<double>(synthesized - begin).count(),
            std::chrono::duration<double>(end - synthesized).count());
    return 0;
}
