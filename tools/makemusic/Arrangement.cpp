#include "makemusic/Arrangement.h"

#include <algorithm>
#include <cmath>

namespace makemusic {

namespace {

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

constexpr double kCeiling = 0.97;

} // namespace

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

} // namespace makemusic
