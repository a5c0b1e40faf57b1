#include "makemusic/Synth.h"

#include <algorithm>
#include <cmath>

namespace makemusic {

namespace {

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

} // namespace

double midiHz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

size_t frameAt(double seconds) {
    return static_cast<size_t>(std::max(0.0, seconds) * kRate + 0.5);
}

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

} // namespace makemusic
