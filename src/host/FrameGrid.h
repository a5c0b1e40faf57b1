// Frame times of a player that presents frames at a steady rate from the demo's start: frame k
// is drawn at start + floor(k * 1000 / fps) ms, as read by a millisecond clock. The capture tool
// and the preview step the same frames, so a frame at a given time is the same in both.
#pragma once

#include <cstdint>

class FrameGrid {
  public:
    FrameGrid(int startMs, int fps) : start(startMs), rate(fps > 0 ? fps : 1) {}

    int fps() const { return rate; }
    int startTime() const { return start; }
    // Demo time of frame k (k >= 0).
    int64_t timeOf(int64_t k) const { return start + k * 1000 / rate; }
    // The frame on screen at demo time t: the last one drawn at or before t; frame 0 before
    // the start.
    int64_t frameAt(int64_t t) const;
    // The first frame drawn at or after demo time t.
    int64_t firstFrameFrom(int64_t t) const;

  private:
    int start;
    int rate;
};
