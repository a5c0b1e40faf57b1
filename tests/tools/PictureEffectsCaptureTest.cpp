// Blur and Splinzor in whole demos rendered by holdfast-capture.
#include "GLTest.h"
#include "PngPixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// White, blurred once with BlurFactor 60/255 (12 copies of 10), then Splinzor from 5000 ms on.
const char* kScript = R"(__HEADER__
DEMO_START 0
DEMO_END 2100000000     // the tracks reach the last frame
DEMO_BEAT 125
__DEFS__
DEFINE LINK 2
INSERT_EFFECT Clear
INSERT_EFFECT Blur
INSERT_EFFECT Splinzor
__TIMELINE__
0 SIGNAL Clear Red 1
0 SIGNAL Clear Green 1
0 SIGNAL Clear Blue 1
0 TRIGGER Blur LINK "Clear"
0 SIGNAL Blur DoBlur 1
0 SIGNAL Blur BlurAmount 0
0 SIGNAL Blur BlurFactor 0.23529412
0 BEGIN Blur
5000 END Blur
5000 BEGIN Splinzor
)";

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

// Lit pixels of a frame, and how many of them lean to blue (b > r + 16) or to red (r > b + 16).
struct Tint {
    long lit = 0, blue = 0, red = 0;
};
Tint tint(const Frame& frame) {
    Tint t;
    for (size_t i = 0; i + 2 < frame.rgb.size(); i += 3) {
        const int r = frame.rgb[i], g = frame.rgb[i + 1], b = frame.rgb[i + 2];
        if (r + g + b < 90) continue;
        ++t.lit;
        if (b > r + 16) ++t.blue;
        if (r > b + 16) ++t.red;
    }
    return t;
}

} // namespace

// The last frame lies almost 2^31 ms after the one before: Splinzor's history catches up with a
// history's worth of steps, not with hundreds of millions.
TEST(PictureEffectsCapture, BlurAndAFarJumpOfSplinzor) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir() + "/frames";
    writeFile(demo + "/data/scripts/demo.scr", kScript);
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo +
                                     " --sparse --times 1000,6000,2000000000 --out " + out,
                                 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    Frame blurred = readPng(out + "/frame_00001000.png");
    ASSERT_TRUE(blurred.ok);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(blurred.at(400, 300)[c], 120, 1) << c;

    for (const char* name : {"/frame_00006000.png", "/frame_2000000000.png"}) {
        Frame tube = readPng(out + name);
        ASSERT_TRUE(tube.ok) << name;
        long lit = 0;
        for (unsigned char v : tube.rgb)
            lit += v > 0;
        EXPECT_GT(lit, 1000) << name;
    }
}

// The bundled demo's arps (the tube glowing through the Blur, cyan tails) and breakdown (the bare
// tube with amber tails under static).
TEST(PictureEffectsCapture, TheBundledDemosTubeInTheArpsAndTheBreakdown) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string build = std::filesystem::path(HOLDFAST_BIN_DIR).parent_path().string();
    CommandResult made = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " + build, 900);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string out = makeTempDir() + "/frames";
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + build +
                                     "/demo/data.qzd --sparse --times 70000,101000 --out " + out,
                                 300);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Tint arps = tint(readPng(out + "/frame_00070000.png"));
    const Tint breakdown = tint(readPng(out + "/frame_00101000.png"));
    EXPECT_GT(arps.lit, 800 * 600 / 50);
    EXPECT_GT(breakdown.lit, 800 * 600 / 50);
    EXPECT_GT(arps.blue, arps.red);
    EXPECT_GT(breakdown.red, breakdown.blue);
}
