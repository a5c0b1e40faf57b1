// Per-second figures of a run for the statistics line: the slowest second of frames and the
// second in which a frame cost the most CPU time on average.
#pragma once

class FrameWindows {
  public:
    // Times in seconds from any fixed origin: wall-clock and CPU time of the rendering thread.
    void start(double wall, double cpu);
    // After each presented frame. A window closes with the first frame at least one second after
    // it opened, so one long frame makes a window of its own length.
    void frame(double wall, double cpu);

    unsigned long frames() const { return total; }
    double meanCpuUsPerFrame() const;
    // Over the closed windows and the open one if it is at least half a second long; a shorter
    // run reports its whole length.
    double worstFps() const;
    double worstCpuUsPerFrame() const;

  private:
    bool tailCounts() const;

    double startWall = 0, startCpu = 0;
    double lastWall = 0, lastCpu = 0;
    double windowWall = 0, windowCpu = 0;
    unsigned long windowFrames = 0;
    unsigned long total = 0;
    bool anyWindow = false;
    double worstFpsSeen = 0;
    double worstCpuSeen = 0;
};
