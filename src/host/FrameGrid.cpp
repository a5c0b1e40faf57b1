#include "host/FrameGrid.h"

int64_t FrameGrid::frameAt(int64_t t) const {
    const int64_t d = t - start;
    if (d < 0) return 0;
    // The largest k with floor(k * 1000 / fps) <= d, that is k * 1000 < (d + 1) * fps.
    return ((d + 1) * rate - 1) / 1000;
}

int64_t FrameGrid::firstFrameFrom(int64_t t) const {
    const int64_t d = t - start;
    if (d <= 0) return 0;
    // The smallest k with floor(k * 1000 / fps) >= d, that is k * 1000 >= d * fps.
    return (d * rate + 999) / 1000;
}
