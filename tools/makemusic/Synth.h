// The synthesizer of the bundled music: a stereo bus for the whole piece, deterministic noise, and
// the instruments, each adding one note to a bus (Instruments.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace makemusic {

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

double midiHz(int note);
size_t frameAt(double seconds);

// ---- instruments: each adds one note to a bus ----

// The kick's body settles on 45 Hz, close to the middle of the spectrum's second band (43 Hz
// wide), and is driven hard into the saturation: nearly square for its first tenth of a second,
// its fundamental fills that band past what the Spectrum effect takes for a beat.
void kick(Bus& bus, double t0, float gain);
void snare(Bus& bus, double t0, float gain);
void hat(Bus& bus, double t0, float gain, bool open);
void crash(Bus& bus, double t0, float gain);
void riser(Bus& bus, double t0, double duration, float gain);
void bass(Bus& bus, double t0, double duration, int note, float gain);
void padNote(Bus& bus, double t0, double duration, int note, float gain);
void arpNote(Bus& bus, double t0, int note, float gain, float pan);

} // namespace makemusic
