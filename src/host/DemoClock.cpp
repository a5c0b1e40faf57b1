#include "host/DemoClock.h"

#include "platform/Platform.h"

DemoClock demoClock;

DemoClock::DemoClock(Counter counterFn, int64_t ticksPerSecond)
    : counter(counterFn ? counterFn : &platform::counterNow),
      frequency(counterFn ? ticksPerSecond : platform::counterFrequency()) {}

int DemoClock::now() const {
    int64_t elapsed = ((counter() - startCount) * 1000) / frequency;
    uint32_t low = static_cast<uint32_t>(elapsed) + static_cast<uint32_t>(offset);
    return static_cast<int>(low);
}
