// The per-second figures of the statistics line.
#include "host/FrameWindows.h"

#include <gtest/gtest.h>

namespace {
// Presents `count` frames of `seconds` each, each using `cpu` seconds, after (*wall, *cpuNow).
void run(FrameWindows& w, double& wall, double& cpuNow, int count, double seconds, double cpu) {
    for (int i = 0; i < count; ++i) {
        wall += seconds;
        cpuNow += cpu;
        w.frame(wall, cpuNow);
    }
}
} // namespace

TEST(FrameWindows, TheSlowestSecondAndTheCostliestSecondStandOutOfTheMean) {
    // Frame times that add up exactly, so the windows fall on whole seconds.
    FrameWindows w;
    double wall = 1000, cpu = 50;
    w.start(wall, cpu);
    run(w, wall, cpu, 256, 1.0 / 128, 0.002); // two seconds at 128 fps, 2 ms of CPU a frame
    run(w, wall, cpu, 64, 1.0 / 64, 0.005);   // one at 64 fps, 5 ms a frame
    run(w, wall, cpu, 128, 1.0 / 128, 0.002); // one more at 128 fps
    run(w, wall, cpu, 8, 1.0 / 32, 0.009);    // a quarter second at 32 fps: too short to count
    EXPECT_EQ(w.frames(), 456u);
    EXPECT_NEAR(w.worstFps(), 64.0, 0.01);
    EXPECT_NEAR(w.worstCpuUsPerFrame(), 5000.0, 0.1);
    EXPECT_NEAR(w.meanCpuUsPerFrame(), (384 * 2000.0 + 64 * 5000.0 + 8 * 9000.0) / 456, 0.1);
    // Half a second of it is enough: a run that ends in its slowest part shows it.
    run(w, wall, cpu, 8, 1.0 / 32, 0.009);
    EXPECT_NEAR(w.worstFps(), 32.0, 0.01);
    EXPECT_NEAR(w.worstCpuUsPerFrame(), 9000.0, 0.1);
}

TEST(FrameWindows, OneLongFrameIsAWindowOfItsOwnLength) {
    FrameWindows w;
    double wall = 0, cpu = 0;
    w.start(wall, cpu);
    run(w, wall, cpu, 100, 0.01, 0.001);
    run(w, wall, cpu, 1, 3.0, 0.5); // a three-second stall
    run(w, wall, cpu, 200, 0.01, 0.001);
    EXPECT_NEAR(w.worstFps(), 1.0 / 3.0, 0.01);
    EXPECT_NEAR(w.worstCpuUsPerFrame(), 500000.0, 1.0);
}

TEST(FrameWindows, ARunShorterThanASecondReportsItsWholeLengthAndNoFramesReportZero) {
    FrameWindows w;
    double wall = 5, cpu = 1;
    w.start(wall, cpu);
    EXPECT_EQ(w.worstFps(), 0.0);
    EXPECT_EQ(w.meanCpuUsPerFrame(), 0.0);
    EXPECT_EQ(w.worstCpuUsPerFrame(), 0.0);
    run(w, wall, cpu, 40, 0.02, 0.004);
    EXPECT_NEAR(w.worstFps(), 50.0, 0.01);
    EXPECT_NEAR(w.worstCpuUsPerFrame(), 4000.0, 0.1);
    // Starting again forgets the earlier run.
    w.start(wall, cpu);
    EXPECT_EQ(w.frames(), 0u);
    EXPECT_EQ(w.worstFps(), 0.0);
}
