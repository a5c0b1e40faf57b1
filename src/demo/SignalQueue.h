// The script's timed signals, sorted by time, each handed out once when demo time reaches it.
#pragma once

#include "demo/Signal.h"

#include <cstddef>
#include <vector>

class SignalQueue {
  public:
    void clear();
    void add(const Signal& s);
    // Stable sort by time (unsigned, like every demo time): equal times keep script order.
    void sortAndRewind();
    // A signal is waiting at the cursor and its time, unsigned, is <= time.
    bool isDue(int time) const;
    // The signal at the cursor; advances the cursor. Only valid while isDue.
    const Signal& next();

    const std::vector<Signal>& all() const { return signals; }
    size_t position() const { return cursor; }

  private:
    std::vector<Signal> signals;
    size_t cursor = 0;
};
