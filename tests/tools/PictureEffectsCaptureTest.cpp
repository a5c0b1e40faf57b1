// The picture effects in whole demos rendered by holdfast-capture: pictures named in the script's
// setup section, links between effects, and links that would loop.
#include "GLTest.h"
#include "PngPixels.h"
#include "../resources/ImageWriters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool haveDisplay() { return getenv("DISPLAY") && *getenv("DISPLAY"); }

using Rgb = std::array<unsigned char, 3>;

// 64 x 64: red top left, green top right, blue bottom left, white bottom right.
void writeQuadrants(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    auto pixels = rgbPixels(64, 64, [](int x, int y) {
        if (y < 32) return x < 32 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
        return x < 32 ? Rgb{0, 0, 255} : Rgb{255, 255, 255};
    });
    ASSERT_TRUE(writePNG(path, 64, 64, PNG_COLOR_TYPE_RGB, 8, pixels));
}

void expectQuadrants(const Frame& frame, const char* what) {
    ASSERT_TRUE(frame.ok) << what;
    const std::vector<std::vector<int>> expected = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const int xs[4] = {200, 600, 200, 600}, ys[4] = {150, 150, 450, 450};  // y from the top
    for (int q = 0; q < 4; ++q) {
        const std::vector<int> p = frame.at(xs[q], ys[q]);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(p[c], expected[q][c], 2) << what << ", quadrant " << q;
    }
}

// Tiles (phase held at 0) shows the picture of Image1 through its target. Then links that would
// loop are asked for: at 500 ms Tiles onto RotoZoom, which already draws Tiles; at 700 Tiles onto itself.
const char* kLoopScript = R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
DEFINE LINK 2
INSERT_EFFECT Clear
INSERT_EFFECT Image1
INSERT_EFFECT RotoZoom
INSERT_EFFECT Tiles
__SETUP__
0 SIGNAL Image1 Datafile "data/images/quadrants.png"
__TIMELINE__
0 SIGNAL Clear Green 0.5
0 BEGIN Clear
0 SIGNAL Tiles Speed 0
0 BEGIN Tiles
0 TRIGGER Tiles LINK "Image1"
0 TRIGGER RotoZoom LINK "Tiles"
500 TRIGGER Tiles LINK "RotoZoom"
700 TRIGGER Tiles LINK "Tiles"
)";

} // namespace

TEST(PictureEffectsCapture, LinksThatWouldLoopAreRefusedAndTheDemoGoesOn) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", kLoopScript);
    writeQuadrants(demo + "/data/images/quadrants.png");
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 100,600,800 --out " + out, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectQuadrants(readPng(out + "/frame_00000100.png"), "linked to the picture");
    // Refused, reported, not fatal; Tiles has no link now and shows the last picture it drew.
    EXPECT_NE(r.err.find("Linked effect loops back to this effect: RotoZoom"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Linked effect loops back to this effect: Tiles"), std::string::npos) << r.err;
    expectQuadrants(readPng(out + "/frame_00000600.png"), "after the refused loop");
    expectQuadrants(readPng(out + "/frame_00000800.png"), "after the refused link to itself");
}

TEST(PictureEffectsCapture, ImageAndRotoZoomFromAScript) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir();
    writeQuadrants(demo + "/data/images/quadrants.png");
    ASSERT_TRUE(writeJPEG(demo + "/data/images/grey.jpg", 16, 16, 1, std::vector<unsigned char>(256, 128)));
    // 0-999: Image1 (the last picture named) straight on the screen. 1000-1999: RotoZoom of it at
    // phase 0 (one texel of the grey picture fills the screen). 2000-: Image2 with the quadrants.
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
__DEFS__
DEFINE LINK 2
DEFINE MOVE 7
INSERT_EFFECT Image1
INSERT_EFFECT Image2
INSERT_EFFECT RotoZoom
__SETUP__
0 SIGNAL Image1 Datafile "data/images/quadrants.png"
0 SIGNAL Image1 Datafile "data/images/grey.jpg"
0 SIGNAL Image2 Datafile "data/images/quadrants.png"
__TIMELINE__
0 BEGIN Image1
1000 END Image1
1000 BEGIN RotoZoom
1000 TRIGGER RotoZoom LINK "Image1"
1000 INIT RotoZoom
2000 END RotoZoom
2000 BEGIN Image2
2000 INIT Image2
3000 TRIGGER Image2 MOVE 0.5 0 0
)");
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 500,1000,2500,3500 --out " + out, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* frame : {"/frame_00000500.png", "/frame_00001000.png"}) {
        const Frame f = readPng(out + frame);
        ASSERT_TRUE(f.ok);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(f.at(400, 300)[c], 128, 3) << frame;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(f.at(10, 590)[c], 128, 3) << frame;
    }
    expectQuadrants(readPng(out + "/frame_00002500.png"), "Image2");
    const Frame moved = readPng(out + "/frame_00003500.png");
    ASSERT_TRUE(moved.ok);
    EXPECT_EQ(moved.at(600, 150), (std::vector<int>{255, 0, 0}));  // its top left now on the right
}
