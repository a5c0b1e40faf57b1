// The demo clock: wall-clock milliseconds since start(), shifted to begin at DEMO_START.
// Readings are 32-bit with wrap-around, compared as unsigned by their users.
#pragma once

#include <cstdint>

class DemoClock {
  public:
    using Counter = int64_t (*)();

    // Defaults to the platform's performance counter; tests inject their own.
    explicit DemoClock(Counter counter = nullptr, int64_t frequency = 0);

    void setOffset(int ms) { offset = ms; }
    void start() { startCount = counter(); }
    int now() const;

  private:
    Counter counter;
    int64_t frequency;
    int64_t startCount = 0;
    int64_t offset = 0;
};

// The one clock of the program.
extern DemoClock demoClock;
