// holdfast-capture as a whole program: frames at chosen demo times from a directory or an archive.
#include "GLTest.h"
#include "PngPixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// A clear colour of (1, 0.5, 0) all the time, inverted from 500 ms up to 699 ms.
const char* kScript = R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Invert
__TIMELINE__
0 SIGNAL Clear Red 1
0 SIGNAL Clear Green 0.5
0 BEGIN Clear
500 BEGIN Invert
700 END Invert
)";

bool haveDisplay() { return getenv("DISPLAY") && *getenv("DISPLAY"); }

std::string testDemo() {
    std::string dir = makeTempDir();
    writeFile(dir + "/data/scripts/demo.scr", kScript);
    return dir;
}

CommandResult capture(const std::string& arguments) { return runCommand(binPath("holdfast-capture") + " " + arguments, 120); }

void expectColour(const Frame& frame, int r, int g, int b) {
    ASSERT_TRUE(frame.ok);
    ASSERT_EQ(frame.width, 800);
    ASSERT_EQ(frame.height, 600);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{400, 300}, std::pair{799, 599}}) {
        std::vector<int> p = frame.at(x, y);
        EXPECT_EQ(p[0], r) << x << "," << y;
        EXPECT_NEAR(p[1], g, 1) << x << "," << y;
        EXPECT_EQ(p[2], b) << x << "," << y;
    }
}

} // namespace

TEST(CaptureTool, RendersTheTimelineAtTheGivenTimes) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir() + "/frames";
    CommandResult r = capture("--data " + demo + " --times 699,250,700,600 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectColour(readPng(out + "/frame_00000250.png"), 255, 128, 0);
    expectColour(readPng(out + "/frame_00000600.png"), 0, 127, 255);
    expectColour(readPng(out + "/frame_00000699.png"), 0, 127, 255);
    expectColour(readPng(out + "/frame_00000700.png"), 255, 128, 0);  // END is exclusive
    EXPECT_NE(r.err.find("4 frames in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frames per second"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no music"), std::string::npos) << r.err;
}

TEST(CaptureTool, ARangeGivesOneFrameAtEveryStep) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir() + "/frames";
    CommandResult r = capture("--data " + demo + " --from 400 --to 800 --step 150 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame_00000400.png", "frame_00000550.png", "frame_00000700.png"}));
    expectColour(readPng(out + "/frame_00000550.png"), 0, 127, 255);
}

TEST(CaptureTool, ReadsAPackedArchiveWithItsPassword) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), archive = makeTempDir() + "/test.qzd", out = makeTempDir();
    CommandResult pack = runCommand(binPath("holdfast-pack") + " create " + archive + " " + demo +
                                    " --password secret --compress");
    ASSERT_EQ(pack.exitCode, 0) << pack.err;

    CommandResult r = capture("--data " + archive + " --password secret --times 600 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectColour(readPng(out + "/frame_00000600.png"), 0, 127, 255);

    // A wrong password reads no script: the player's fatal message and exit code.
    r = capture("--data " + archive + " --password wrong --times 600 --out " + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script: could not open file for parsing"), std::string::npos) << r.err;
}

TEST(CaptureTool, UsesTheMusicBesideTheData) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir();
    CommandResult music = runCommand(binPath("holdfast-makemusic") + " " + demo + "/music.ogg --seconds 3", 120);
    ASSERT_EQ(music.exitCode, 0) << music.err;
    CommandResult r = capture("--data " + demo + " --times 250 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("no music"), std::string::npos) << r.err;
    expectColour(readPng(out + "/frame_00000250.png"), 255, 128, 0);

    // A music file named explicitly that is not there: silent, as in the player.
    r = capture("--data " + demo + " --music " + demo + "/missing.ogg --times 250 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("no music"), std::string::npos) << r.err;
}

TEST(CaptureTool, RejectsIncompleteOrContradictoryArguments) {
    const std::string demo = testDemo(), out = makeTempDir();
    for (const std::string& args :
         {std::string("--times 1 --out ") + out, "--data " + demo + " --times 1", "--data " + demo + " --out " + out,
          "--data " + demo + " --times 1 --from 0 --to 5 --step 1 --out " + out,
          "--data " + demo + " --from 0 --to 5 --step 0 --out " + out,
          "--data " + demo + " --from 9 --to 5 --step 1 --out " + out, "--data " + demo + " --times 1,x --out " + out,
          "--data " + demo + " --times -5 --out " + out, "--data " + demo + " --times 99999999999 --out " + out,
          "--data " + demo + " --times 2147483648 --out " + out,  // past the largest demo time
          "--data " + demo + "/nothing --times 1 --out " + out, "--data " + demo + " --times 1 --out " + out + " --fps"}) {
        CommandResult r = capture(args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args;
    }
}

TEST(CaptureTool, AScriptErrorEndsWithThePlayersFatalMessage) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", "__DEFS__\nINSERT_EFFECT NoSuchEffect\n");
    CommandResult r = capture("--data " + demo + " --times 0 --out " + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Effect Id not found: NoSuchEffect"), std::string::npos) << r.err;
}
