// The picture effects in whole demos rendered by holdfast-capture: pictures named in the script's
// setup section, links between effects, and links that would loop.
#include "../resources/ImageWriters.h"
#include "GLTest.h"
#include "PngPixels.h"

#include "resources/ImageLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

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
    const int xs[4] = {200, 600, 200, 600}, ys[4] = {150, 150, 450, 450}; // y from the top
    for (int q = 0; q < 4; ++q) {
        const std::vector<int> p = frame.at(xs[q], ys[q]);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p[c], expected[q][c], 2) << what << ", quadrant " << q;
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

TEST(PicturesCapture, LinksThatWouldLoopAreRefusedAndTheDemoGoesOn) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", kLoopScript);
    writeQuadrants(demo + "/data/images/quadrants.png");
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 100,600,800 --out " + out, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectQuadrants(readPng(out + "/frame_00000100.png"), "linked to the picture");
    // Refused, reported, not fatal; Tiles has no link now and shows the last picture it drew.
    EXPECT_NE(r.err.find("Linked effect loops back to this effect: RotoZoom"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Linked effect loops back to this effect: Tiles"), std::string::npos) << r.err;
    expectQuadrants(readPng(out + "/frame_00000600.png"), "after the refused loop");
    expectQuadrants(readPng(out + "/frame_00000800.png"), "after the refused link to itself");
}

TEST(PicturesCapture, ImageAndRotoZoomFromAScript) {
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
    CommandResult r = runCommand(
        binPath("holdfast-capture") + " --data " + demo + " --times 500,1000,2500,3500 --out " + out, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* frame : {"/frame_00000500.png", "/frame_00001000.png"}) {
        const Frame f = readPng(out + frame);
        ASSERT_TRUE(f.ok);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(f.at(400, 300)[c], 128, 3) << frame;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(f.at(10, 590)[c], 128, 3) << frame;
    }
    expectQuadrants(readPng(out + "/frame_00002500.png"), "Image2");
    const Frame moved = readPng(out + "/frame_00003500.png");
    ASSERT_TRUE(moved.ok);
    EXPECT_EQ(moved.at(600, 150), (std::vector<int>{255, 0, 0})); // its top left now on the right
}

namespace {

// Rows of 8-bit samples with `channels` per pixel.
double columnDifference(const ImageData& image, int a, int b) {
    const int channels = static_cast<int>(image.bitsPerPixel / 8);
    double sum = 0;
    for (uint32_t y = 0; y < image.height; ++y)
        for (int c = 0; c < 3; ++c)
            sum += std::abs(image.data[(y * image.width + a) * channels + c] -
                            image.data[(y * image.width + b) * channels + c]);
    return sum / image.height;
}

double rowDifference(const ImageData& image, int a, int b) {
    const int channels = static_cast<int>(image.bitsPerPixel / 8);
    double sum = 0;
    for (uint32_t x = 0; x < image.width; ++x)
        for (int c = 0; c < 3; ++c)
            sum += std::abs(image.data[(a * image.width + x) * channels + c] -
                            image.data[(b * image.width + x) * channels + c]);
    return sum / image.width;
}

// Distinct colours among a coarse grid of the frame's pixels.
size_t coloursIn(const Frame& frame) {
    std::vector<std::vector<int>> seen;
    for (int y = 5; y < 600; y += 20)
        for (int x = 5; x < 800; x += 20) {
            const std::vector<int> p = frame.at(x, y);
            if (std::find(seen.begin(), seen.end(), p) == seen.end()) seen.push_back(p);
        }
    return seen.size();
}

} // namespace

// A folder demo reads only files inside its folder, as a packed one only members of its archive:
// pictures named by a ".." that leaves it, an absolute path or a link out are refused, reported
// with their names, and never drawn.
TEST(PicturesCapture, PicturesOutsideTheDemoFolderAreRefused) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string root = makeTempDir(), demo = root + "/demo", out = makeTempDir();
    writeQuadrants(root + "/outside.png");
    writeQuadrants(demo + "/data/images/inside.png");
    ASSERT_EQ(symlink("../../../outside.png", (demo + "/data/images/link.png").c_str()), 0);
    writeFile(demo + "/data/scripts/demo.scr",
              "__HEADER__\nDEMO_START 0\nDEMO_END 10000\n__DEFS__\n"
              "INSERT_EFFECT Image1\nINSERT_EFFECT Image2\nINSERT_EFFECT Image3\n"
              "__SETUP__\n0 SIGNAL Image1 Datafile \"../outside.png\"\n"
              "0 SIGNAL Image2 Datafile \"" +
                  root +
                  "/outside.png\"\n"
                  "0 SIGNAL Image3 Datafile \"data/images/link.png\"\n"
                  "__TIMELINE__\n0 BEGIN Image1\n0 BEGIN Image2\n0 BEGIN Image3\n");
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 100 --out " + out, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> refused = {"../outside.png: a \"..\" climbs out of it",
                                              root + "/outside.png: an absolute path",
                                              "data/images/link.png: a link that leads out of it"};
    for (const std::string& why : refused)
        EXPECT_NE(r.err.find("Data file lies outside the demo folder, not read: " + why), std::string::npos)
            << r.err;
    const Frame frame = readPng(out + "/frame_00000100.png");
    ASSERT_TRUE(frame.ok);
    // Without their pictures the effects draw plain quads: no quadrant differs from another.
    EXPECT_EQ(frame.at(200, 150), frame.at(600, 450)) << "no picture drawn";
    EXPECT_EQ(frame.at(600, 150), frame.at(200, 450)) << "no picture drawn";
}

TEST(PicturesCapture, TheDemoMakerDrawsThePictures) {
    const std::string out = makeTempDir();
    CommandResult r = runCommand(
        binPath("holdfast-makedemo") + " --content " + HOLDFAST_SOURCE_DIR + "/content --out " + out, 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ImageData* plasma = ImageLibrary::instance().loadImage((out + "/data/images/plasma.png").c_str(), "");
    ImageData* sunset = ImageLibrary::instance().loadImage((out + "/data/images/sunset.jpg").c_str(), "");
    ASSERT_TRUE(plasma);
    ASSERT_TRUE(sunset);
    for (ImageData* image : {plasma, sunset}) {
        EXPECT_EQ(image->width, 512u);
        EXPECT_EQ(image->height, 512u);
    }
    // The plasma repeats without a seam: its last column leads into its first (and its last row
    // into its first) as smoothly as neighbouring columns follow each other.
    const double step = std::max(columnDifference(*plasma, 0, 1), 1.0);
    EXPECT_LT(columnDifference(*plasma, 511, 0), 3 * step);
    EXPECT_LT(rowDifference(*plasma, 511, 0), 3 * std::max(rowDifference(*plasma, 0, 1), 1.0));
    // The sunset has a sky above a sea: no seam is asked of it, and it is not flat.
    EXPECT_GT(rowDifference(*sunset, 0, 500), 20.0);
    freeImage(plasma);
    freeImage(sunset);
}

TEST(PicturesCapture, TheBundledDemoShowsThePicturesInItsSecondMinute) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string build = std::filesystem::path(HOLDFAST_BIN_DIR).parent_path().string(),
                      out = makeTempDir();
    CommandResult made = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " + build, 900);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    // RotoZoom of the plasma, the mosaic of the sunset, the tiles over the roto-zoom (between
    // the kicks, whose flashes would cover them).
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + build +
                                     "/demo/data.qzd --sparse --times 20250,35750,53250 --out " + out,
                                 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
    for (const char* frame : {"/frame_00020250.png", "/frame_00035750.png", "/frame_00053250.png"}) {
        const Frame f = readPng(out + frame);
        ASSERT_TRUE(f.ok) << frame;
        EXPECT_GT(coloursIn(f), 100u) << frame;
    }
}
