// The bundled demo's drop rendered by holdfast-capture: the grid picture on GridExp, and in the
// second half the GridExp2 tunnel with the Osc waveform across it.
#include "GLTest.h"
#include "PngPixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

TEST(AudioGridCapture, TheBundledDemosGridsAndWaveformInTheDrop) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string build = std::filesystem::path(HOLDFAST_BIN_DIR).parent_path().string();
    CommandResult made = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " + build, 900);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string out = makeTempDir() + "/frames";
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + build +
                                     "/demo/data.qzd --times 138250,165000 --out " + out,
                                 300);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // The warped sheet covers the screen with the picture's orange and blue squares.
    const Frame sheet = readPng(out + "/frame_00138250.png");
    ASSERT_TRUE(sheet.ok);
    long orange = 0, blue = 0;
    for (size_t i = 0; i + 2 < sheet.rgb.size(); i += 3) {
        const int red = sheet.rgb[i], b = sheet.rgb[i + 2];
        if (red > b + 60) ++orange;
        if (b > red + 60) ++blue;
    }
    EXPECT_GT(orange, 800 * 600 / 5);
    EXPECT_GT(blue, 800 * 600 / 5);

    // The waveform: a near-black line across the lower part of the screen (yPos 0.55, height 0.4,
    // x from 0.05 to 0.95), over the tunnel, and no such line above it.
    const Frame tunnel = readPng(out + "/frame_00165000.png");
    ASSERT_TRUE(tunnel.ok);
    auto dark = [&](int x, int y) {
        const std::vector<int> p = tunnel.at(x, y);
        return p[0] + p[1] + p[2] < 24;
    };
    int crossed = 0;
    for (int x = 60; x < 740; ++x) {
        for (int y = 330; y < 570; ++y) {
            if (dark(x, y)) {
                ++crossed;
                break;
            }
        }
    }
    EXPECT_GT(crossed, 640);
    long lit = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 800; ++x) lit += !dark(x, y);
    EXPECT_GT(lit, 800L * 300 * 9 / 10);
}
