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
                                     "/demo/data.qzd --sparse --times 138250,165000 --out " + out,
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
        for (int x = 0; x < 800; ++x)
            lit += !dark(x, y);
    EXPECT_GT(lit, 800L * 300 * 9 / 10);
}

// Without music the capture tool still has its (silent) sound system, as the player has without
// music.ogg or a sound device: Osc starts and draws the silence as a line across its middle.
TEST(AudioGridCapture, WithoutMusicTheWaveformIsAFlatLine) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir() + "/frames";
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Spectrum
INSERT_EFFECT Osc
__TIMELINE__
0 SIGNAL Clear Red 1
0 SIGNAL Clear Green 1
0 SIGNAL Clear Blue 1
0 BEGIN Clear
0 INIT Spectrum
0 BEGIN Spectrum
0 INIT Osc
0 BEGIN Osc
)");
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 500 --out " + out, 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("no music"), std::string::npos) << r.err;
    const Frame frame = readPng(out + "/frame_00000500.png");
    ASSERT_TRUE(frame.ok);
    // The rectangle spans 0.4 .. 0.8 of the screen both ways: the line lies at 0.6 of its height.
    for (int x : {340, 400, 600}) {
        int top = -1, bottom = -1;
        for (int y = 0; y < 600; ++y) {
            if (frame.at(x, y)[0] < 128) {
                if (top < 0) top = y;
                bottom = y;
            }
        }
        ASSERT_GE(top, 0) << x;
        EXPECT_NEAR((top + bottom) / 2.0, 360, 3) << x;
        EXPECT_LE(bottom - top, 8) << x;
    }
}
