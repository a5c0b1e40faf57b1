// holdfast-capture's frames: stepped as the player's loop makes them, read back once, and the
// run's progress and summary on stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace capture {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// The frame as it was drawn, read back once however many requested times show it.
class FrameReader {
  public:
    void invalidate() { valid = false; }
    const unsigned char* pixels();

  private:
    std::vector<unsigned char> rgb = std::vector<unsigned char>(static_cast<size_t>(kWidth) * kHeight * 3);
    bool valid = false;
};

// One frame step as the player's loop makes it, with the music the taps would hear.
void stepFrame(int t);

// Prints where a long run stands: on a terminal one line rewritten in place a few times a second;
// into a file or a pipe a line of its own at every tenth of the run, and at least every 10 s.
class Progress {
  public:
    explicit Progress(uint64_t total);
    void show(uint64_t written, int64_t t, bool force = false);

  private:
    uint64_t total;
    bool terminal;
    uint64_t printed = 0; // frames written at the last line
    int tenths = 0;       // tenths of the run the lines so far have passed
    std::chrono::steady_clock::time_point last;
};

// Ends the progress line a terminal shows, if one is open, so that a message starts a line of
// its own.
void endProgressLine();

// What was written and stepped, how fast, and when the Spectrum's beat test fired.
void printSummary(const char* what, uint64_t written, uint64_t stepped, double seconds);

} // namespace capture
