// holdfast-preview driven through its window: jumps, reloads after an edit, a broken script.
#include "../resources/ImageWriters.h"
#include "GLTest.h"
#include "OggWriter.h"
#include "PngPixels.h"
#include "PreviewPanel.h"
#include "PreviewProcess.h"
#include "X11Control.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

// A flash on every 100 ms pattern step that fades within a few frames, so a frame depends on
// the frames drawn before it; the part "LATER" begins at 1000 ms.
std::string flashScript(const std::string& extra = "") {
    return R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
DEFINE LATER 1000
DEFINE BAR 400
INSERT_EFFECT Clear
INSERT_EFFECT Flash
__SETUP__
0 SIGNAL Flash Pattern "11"
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear Red 0.25
0 SIGNAL Flash Speed 0.2
0 BEGIN Flash
BAR * 2 SIGNAL Clear Red 0.25
LATER SIGNAL Clear Red 0.25
)" + extra;
}

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

using Preview = PreviewProcess;

// The capture tool's frame at t, top row first.
std::vector<unsigned char> captured(const std::string& demo, int t) {
    const std::string out = makeTempDir();
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --times " +
                                     std::to_string(t) + " --out " + out,
                                 120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    char name[32];
    snprintf(name, sizeof name, "/frame_%08d.png", t);
    return readPng(out + name).rgb;
}

// A frame after a jump and the capture tool's frame for the same time (top row first).
struct FramePair {
    std::vector<unsigned char> jumped, stepped;
};

// Jumps the preview to each time in the order given (--seek-frames) and captures the same times;
// the pairs come in the order of `times`.
std::vector<FramePair> jumpedAndCaptured(const std::string& demo, const std::vector<int>& times) {
    std::string list;
    for (int t : times)
        list += (list.empty() ? "" : ",") + std::to_string(t);
    const std::string jumped = makeTempDir(), stepped = makeTempDir();
    CommandResult r = runCommand(
        binPath("holdfast-preview") + " --data " + demo + " --seek-frames " + list + " --out " + jumped, 120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<int> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::string increasing;
    for (int t : sorted)
        increasing += (increasing.empty() ? "" : ",") + std::to_string(t);
    r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --times " + increasing + " --out " +
                       stepped,
                   120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<FramePair> pairs;
    for (int t : times) {
        char name[32];
        snprintf(name, sizeof name, "/frame_%08d.png", t);
        pairs.push_back({readPng(jumped + name).rgb, readPng(stepped + name).rgb});
    }
    return pairs;
}

int redAtCentre(const std::vector<unsigned char>& rgb) {
    return rgb.empty() ? -1 : rgb[(300 * 800 + 400) * 3];
}

std::array<int, 3> centre(const std::vector<unsigned char>& rgb) {
    if (rgb.empty()) return {-1, -1, -1};
    const unsigned char* p = &rgb[(300 * 800 + 400) * 3];
    return {p[0], p[1], p[2]};
}

// A one-colour picture saved as an editor does: a new file renamed over the old one.
void savePicture(const std::string& path, std::array<unsigned char, 3> colour, int bitDepth = 8) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < 16 * 16; ++i)
        for (unsigned char c : colour) {
            pixels.push_back(c);
            if (bitDepth == 16) pixels.push_back(c);
        }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(writePNG(path + ".new", 16, 16, PNG_COLOR_TYPE_RGB, bitDepth, pixels));
    std::filesystem::rename(path + ".new", path);
}

// Waits up to 20 s for the centre of the window to show `colour`; returns the last colour seen.
std::array<int, 3> waitForCentre(unsigned long window, std::array<int, 3> colour) {
    std::array<int, 3> seen = centre(grabWindow(window, 800, 600));
    for (int i = 0; i < 800 && seen != colour; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        seen = centre(grabWindow(window, 800, 600));
    }
    return seen;
}

// Waits up to 20 s for `part` to leave the title; returns the last title seen.
std::string waitForTitleWithout(unsigned long window, const std::string& part) {
    std::string title = windowTitle(window);
    for (int i = 0; i < 800 && title.find(part) != std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        title = windowTitle(window);
    }
    return title;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(PreviewTool, AJumpShowsTheFrameTheCaptureToolWrites) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    PrivateDisplay display; // its own screen: no other test's window covers this one
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 425 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    std::string title = waitForTitle(preview.window, {"0:00.425", "paused"}, 20000);
    ASSERT_NE(title.find("0:00.425"), std::string::npos) << title << "\n" << preview.err();
    EXPECT_EQ(title.find("LATER"), std::string::npos) << title;

    sendKey(preview.window, "Right");
    title = waitForTitle(preview.window, {"0:01.425", "LATER", "paused"}, 20000);
    ASSERT_NE(title.find("0:01.425"), std::string::npos) << title << "\n" << preview.err();
    const std::vector<unsigned char> shown = grabWindow(preview.window, 800, 600);
    const std::vector<unsigned char> expected = captured(demo, 1425);
    ASSERT_EQ(shown.size(), expected.size());
    EXPECT_TRUE(shown == expected) << "preview " << redAtCentre(shown) << ", capture "
                                   << redAtCentre(expected);
    // 16 ms into the flash of the step that began at 1400 ms: no longer at full strength.
    EXPECT_LT(redAtCentre(shown), 250);

    // Back by ten seconds stops at the start; Home too.
    sendKey(preview.window, "Prior");
    title = waitForTitle(preview.window, {"0:00.000"}, 20000);
    EXPECT_NE(title.find("0:00.000"), std::string::npos) << title;
    // Space plays (the title loses "paused"), and pauses again.
    sendKey(preview.window, "space");
    title = waitForTitle(preview.window, {"fps"}, 5000);
    title = waitForTitleWithout(preview.window, "paused");
    EXPECT_EQ(title.find("paused"), std::string::npos) << title;
    sendKey(preview.window, "space");
    title = waitForTitle(preview.window, {"paused"}, 5000);
    EXPECT_NE(title.find("paused"), std::string::npos) << title;
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// A jump's frame is the capture tool's also where the picture hangs on random numbers (Noise's
// moving grain; Splinzor's jitter, made again by every jump's reload) and on the music (the
// Spectrum's level brightening the tube), and for a jump back after a jump forward.
TEST(PreviewTool, JumpsMatchTheCaptureWhereRandomGrainAndTheMusicShowInThePicture) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 125
__DEFS__
DEFINE ONLY 2
INSERT_EFFECT Spectrum
INSERT_EFFECT Splinzor
INSERT_EFFECT Noise
__TIMELINE__
0 INIT Spectrum
0 BEGIN Spectrum
0 TRIGGER Spectrum ONLY "Splinzor"
0 BEGIN Splinzor
0 SIGNAL Splinzor Alpha 0.3
0 SIGNAL Splinzor SpectrumStr 1
0 BEGIN Noise
0 SIGNAL Noise Alpha 0.3
0 SIGNAL Noise Animate 1
)");
    ASSERT_TRUE(writeSineOgg(demo + "/music.ogg", 2.0, 440.0, 0.5));
    const std::vector<FramePair> frames = jumpedAndCaptured(demo, {1200, 600});
    for (const FramePair& frame : frames) {
        ASSERT_FALSE(frame.stepped.empty());
        EXPECT_TRUE(frame.jumped == frame.stepped);
    }
    // The music does show: without it the tube is dimmer.
    const std::string silent = makeTempDir();
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --music " + demo +
                                     "/no-music.ogg --times 600 --out " + silent,
                                 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(readPng(silent + "/frame_00000600.png").rgb == frames[1].stepped);
}

// Pattern steps longer than the frames a jump draws in full: the flash still starts where the
// player's did, not at the first drawn frame.
TEST(PreviewTool, AJumpKeepsTheStartOfALongPatternStep) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 1000
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Flash
__SETUP__
0 SIGNAL Flash Pattern "1"
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Flash Speed 0.01
0 BEGIN Flash
)");
    const FramePair frame = jumpedAndCaptured(demo, {1600}).front();
    ASSERT_FALSE(frame.stepped.empty());
    EXPECT_EQ(redAtCentre(frame.jumped), redAtCentre(frame.stepped));
    EXPECT_TRUE(frame.jumped == frame.stepped);
}

TEST(PreviewTool, ReloadShowsAnEditAndABrokenScriptKeepsTheDemoRunning) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    writeFile(script, flashScript());
    PrivateDisplay display; // its own screen: no other test's window covers this one
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 2050 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    std::string title = waitForTitle(preview.window, {"0:02.050", "paused"}, 20000);
    ASSERT_NE(title.find("0:02.050"), std::string::npos) << title << "\n" << preview.err();
    const int before = redAtCentre(grabWindow(preview.window, 800, 600));

    // The background turns full red from 2000 ms on.
    writeFile(script, flashScript("2000 SIGNAL Clear Red 1\n"));
    sendKey(preview.window, "r");
    // Waits for the full red itself: a grab may still see the frame from before the reload.
    int after = before;
    for (int i = 0; i < 400 && after != 255; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        after = redAtCentre(grabWindow(preview.window, 800, 600));
    }
    EXPECT_LT(before, 255);
    EXPECT_EQ(after, 255) << preview.err();
    EXPECT_NE(preview.err().find("script reloaded"), std::string::npos) << preview.err();

    // A script that names no such effect: the error in the title and on stderr, with the script
    // line; the demo goes on.
    writeFile(script, flashScript("INSERT_EFFECT NoSuchEffect\n"));
    sendKey(preview.window, "r");
    title = waitForTitle(preview.window, {"ERROR"}, 20000);
    EXPECT_NE(title.find("data/scripts/demo.scr:19: "), std::string::npos) << title;
    EXPECT_NE(title.find("Effect Id not found: NoSuchEffect"), std::string::npos) << title;
    EXPECT_NE(preview.err().find("Effect Id not found: NoSuchEffect"), std::string::npos) << preview.err();
    ASSERT_TRUE(preview.running()) << preview.err();
    // Still the demo of the last good script: jumps work and the background is still full red.
    sendKey(preview.window, "Right");
    title = waitForTitle(preview.window, {"0:03.050"}, 20000);
    EXPECT_NE(title.find("0:03.050"), std::string::npos) << title;
    EXPECT_NE(title.find("ERROR"), std::string::npos) << title;
    EXPECT_EQ(redAtCentre(grabWindow(preview.window, 800, 600)), after);

    // Mended: the error goes from the title.
    writeFile(script, flashScript());
    sendKey(preview.window, "r");
    title = waitForTitleWithout(preview.window, "ERROR");
    EXPECT_EQ(title.find("ERROR"), std::string::npos) << title;
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

TEST(PreviewTool, LoopSpanIsShownInTheTitle) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    PrivateDisplay display; // its own screen: no other test's window covers this one
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_NE(waitForTitle(preview.window, {"0:01.000"}, 20000).find("0:01.000"), std::string::npos);
    sendKey(preview.window, "bracketleft");
    sendKey(preview.window, "Right");
    ASSERT_NE(waitForTitle(preview.window, {"0:02.000"}, 20000).find("0:02.000"), std::string::npos);
    sendKey(preview.window, "bracketright");
    std::string title = waitForTitle(preview.window, {"loop 0:01.000-0:02.000 off"}, 20000);
    EXPECT_NE(title.find("loop 0:01.000-0:02.000 off"), std::string::npos) << title;
    sendKey(preview.window, "l");
    title = waitForTitle(preview.window, {"loop 0:01.000-0:02.000 on", "0:01.000"}, 20000);
    EXPECT_NE(title.find("loop 0:01.000-0:02.000 on"), std::string::npos) << title;
    EXPECT_NE(title.find("| 0:01.000 |"), std::string::npos)
        << "looping jumps to the loop's start: " << title;
    // Played, the span comes round again and again; its jump is logged on the first pass only.
    const size_t before = count(preview.err(), "jump to 1000 ms");
    sendKey(preview.window, "space");
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    EXPECT_EQ(count(preview.err(), "jump to 1000 ms"), before + 1) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// DEMO_LENGTH ends the demo's run: playing stops there (paused on its last frame) instead of
// going on to the end of the timeline at 10 s.
TEST(PreviewTool, PlayingStopsAtTheDemoLength) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    std::string script = flashScript();
    script.replace(script.find("DEMO_BEAT"), 0, "DEMO_LENGTH 1500\n");
    writeFile(demo + "/data/scripts/demo.scr", script);
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1200");
    ASSERT_NE(preview.window, 0u) << preview.err();
    const std::string title = waitForTitle(preview.window, {"paused"}, 20000);
    ASSERT_NE(title.find("paused"), std::string::npos) << title;
    EXPECT_NE(title.find("| 0:01.5"), std::string::npos) << "stops just past 1.5 s: " << title;
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Frames written with --out replace regular files only: a FIFO under a frame's name is refused
// at once (not opened for writing, which waits for a reader forever) and left in place. No frame
// is written for a time after the demo's end.
TEST(PreviewTool, SeekFramesReplaceOnlyRegularFilesAndStopAtTheDemosEnd) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    const std::string out = makeTempDir();
    ASSERT_EQ(mkfifo((out + "/frame_00000100.png").c_str(), 0600), 0);
    CommandResult r =
        runCommand("HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast-preview") + " --data " +
                       demo + " --seek-frames 0,100 --out " + out,
                   60);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write " + out + "/frame_00000100.png: it exists and is not a regular file"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(std::filesystem::is_fifo(out + "/frame_00000100.png"));
    EXPECT_TRUE(std::filesystem::is_regular_file(out + "/frame_00000000.png"));
    for (const auto& entry : std::filesystem::directory_iterator(out))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();

    // Times past the end a demo gives itself are not written, and that is said once, as capture does.
    std::string ending = flashScript();
    ending.replace(ending.find("DEMO_END"), 0, "DEMO_LENGTH 500\n");
    writeFile(demo + "/data/scripts/demo.scr", ending);
    const std::string later = makeTempDir();
    r = runCommand("HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast-preview") + " --data " +
                       demo + " --seek-frames 400,600,5000 --out " + later,
                   60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string said = "the demo ends at 500 ms; no frame after it is written";
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(said), r.err.rfind(said)) << r.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(later + "/frame_00000400.png"));
    EXPECT_FALSE(std::filesystem::exists(later + "/frame_00000600.png"));
    EXPECT_FALSE(std::filesystem::exists(later + "/frame_00005000.png"));
}

TEST(PreviewTool, AnswersHelpVersionAndRejectsBadArguments) {
    CommandResult r = runCommand(binPath("holdfast-preview") + " --help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: holdfast-preview"), std::string::npos) << r.out;
    r = runCommand(binPath("holdfast-preview") + " --version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("holdfast-preview ") + HOLDFAST_VERSION + "\n");
    const std::string demo = makeTempDir();
    for (const std::string& args : {std::string(""), "--data " + demo + " --at x",
                                    "--data " + demo + " --fps 0", "--data " + demo + " --seek-frames 5",
                                    "--data " + demo + " --bogus", "--data " + demo + "/missing"}) {
        r = runCommand(binPath("holdfast-preview") + " " + args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args;
    }
}

// The preview follows the demo's files on disk without a key: a missing picture saved, a picture
// replaced as an editor saves it, a broken picture (the last good one stays, the error in the title), the
// picture mended, and the script.
TEST(PreviewTool, EditsOnDiskShowWithoutAKey) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr",
                      picture = demo + "/data/images/colour.png";
    const auto scriptText = [](const std::string& extra) {
        return R"(__HEADER__
DEMO_START 0
DEMO_END 10000
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Image1
__SETUP__
0 SIGNAL Image1 Datafile "data/images/colour.png"
__TIMELINE__
0 BEGIN Clear
0 BEGIN Image1
)" + extra;
    };
    writeFile(script, scriptText(""));
    std::filesystem::create_directories(demo + "/data/images");
    PrivateDisplay display; // its own screen: no other test's window covers this one
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    // No picture yet: a plain white quad, until the picture is saved.
    EXPECT_EQ(waitForCentre(preview.window, {255, 255, 255}), (std::array<int, 3>{255, 255, 255}));
    savePicture(picture, {255, 0, 0});
    EXPECT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();

    savePicture(picture, {0, 0, 255});
    EXPECT_EQ(waitForCentre(preview.window, {0, 0, 255}), (std::array<int, 3>{0, 0, 255})) << preview.err();
    EXPECT_NE(preview.err().find("data/images/colour.png changed"), std::string::npos) << preview.err();

    // 16 bits a channel: refused on upload. The blue picture stays, the demo runs on.
    savePicture(picture, {0, 255, 0}, 16);
    std::string title = waitForTitle(preview.window, {"ERROR"}, 20000);
    EXPECT_NE(title.find("ERROR data/images/colour.png: Image has unsupported bit depth"), std::string::npos)
        << title << "\n"
        << preview.err();
    ASSERT_TRUE(preview.running()) << preview.err();
    EXPECT_EQ(centre(grabWindow(preview.window, 800, 600)), (std::array<int, 3>{0, 0, 255}));
    writeFile(picture, "not a picture");
    title = waitForTitle(preview.window, {"is not a PNG file"}, 20000);
    EXPECT_NE(title.find("ERROR data/images/colour.png: is not a PNG file"), std::string::npos) << title;

    // Mended: shown, and the error leaves the title.
    savePicture(picture, {255, 255, 0});
    EXPECT_EQ(waitForCentre(preview.window, {255, 255, 0}), (std::array<int, 3>{255, 255, 0}))
        << preview.err();
    title = waitForTitleWithout(preview.window, "ERROR");
    EXPECT_EQ(title.find("ERROR"), std::string::npos) << title;

    // The script, written in place: the picture ends at 500 ms and the background turns blue.
    writeFile(script, scriptText("0 SIGNAL Clear Blue 1\n500 END Image1\n"));
    EXPECT_EQ(waitForCentre(preview.window, {0, 0, 255}), (std::array<int, 3>{0, 0, 255})) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Ten PageDowns in a row make one jump, 100 s ahead; arrows pressed one by one after it count from
// its target.
TEST(PreviewTool, JumpKeysInARowMakeOneJump) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_NE(waitForTitle(preview.window, {"0:00.000", "paused"}, 20000).find("paused"), std::string::npos);
    const size_t before = count(preview.err(), "jump to");
    sendKeys(preview.window, std::vector<std::string>(10, "Next"));
    std::string title = waitForTitle(preview.window, {"1:40.000"}, 20000);
    EXPECT_NE(title.find("1:40.000"), std::string::npos) << title;
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a second jump would come by now
    EXPECT_EQ(count(preview.err(), "jump to") - before, 1u) << preview.err();
    EXPECT_NE(preview.err().find("jump to 100000 ms"), std::string::npos) << preview.err();

    for (const char* key : {"Prior", "Left", "Left", "Right"})
        sendKey(preview.window, key);
    title = waitForTitle(preview.window, {"1:29.000"}, 20000);
    EXPECT_NE(title.find("1:29.000"), std::string::npos) << title;
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Keys pressed while a long jump replays the timeline take that jump to their target: one replay,
// not one per key. (--exact-jumps at 1000 frames a second makes the replay take a while.)
TEST(PreviewTool, KeysDuringAJumpTakeItToTheirTarget) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--paused --exact-jumps --fps 1000");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_NE(waitForTitle(preview.window, {"0:00.000", "paused"}, 20000).find("paused"), std::string::npos);
    const size_t before = count(preview.err(), "jump to");
    sendKeys(preview.window, {"g", "2", "8", "0", "Return"});
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // the jump to 4:40 has begun
    sendKeys(preview.window, {"Left", "Left", "Prior"});
    std::string title = waitForTitle(preview.window, {"4:28.000"}, 30000);
    EXPECT_NE(title.find("4:28.000"), std::string::npos) << title;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(count(preview.err(), "jump to") - before, 1u) << preview.err();
    EXPECT_NE(preview.err().find("jump to 268000 ms"), std::string::npos) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// G and a typed time go there (the title's format or seconds); a time it can't read stays in the
// title with a hint, Escape drops it. Up and Down go to the parts that begin timeline lines.
TEST(PreviewTool, TypedTimesAndPartsAreGoneTo) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", flashScript());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 250 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_NE(waitForTitle(preview.window, {"0:00.250"}, 20000).find("0:00.250"), std::string::npos);

    const auto type = [&](const std::vector<std::string>& keys) {
        for (const std::string& key : keys)
            sendKey(preview.window, key);
    };
    type({"g", "1", "colon", "0", "BackSpace", "2", "period", "5"});
    std::string title = waitForTitle(preview.window, {"go to 1:2.5_"}, 20000);
    EXPECT_NE(title.find("go to 1:2.5_"), std::string::npos) << title;
    type({"Return"});
    title = waitForTitle(preview.window, {"1:02.500"}, 20000);
    EXPECT_NE(title.find("1:02.500"), std::string::npos) << title;
    EXPECT_EQ(title.find("go to"), std::string::npos) << title;
    type({"g", "7", "Return"});
    title = waitForTitle(preview.window, {"0:07.000"}, 20000);
    EXPECT_NE(title.find("0:07.000 | 0 fps | LATER"), std::string::npos) << title;

    type({"g", "1", "colon", "7", "5", "Return"});
    title = waitForTitle(preview.window, {"(m:ss.mmm or seconds)"}, 20000);
    EXPECT_NE(title.find("go to 1:75_ (m:ss.mmm or seconds)"), std::string::npos) << title;
    type({"Escape"});
    title = waitForTitleWithout(preview.window, "go to");
    EXPECT_EQ(title.find("go to"), std::string::npos) << title;
    EXPECT_NE(title.find("0:07.000"), std::string::npos) << title;
    ASSERT_TRUE(preview.running()) << "Escape while typing drops the time, not the preview";

    // Up: the start of the part playing; within its first second, the part before (here the
    // demo's start). Down: the next part; none after the last.
    type({"Up"});
    title = waitForTitle(preview.window, {"0:01.000"}, 20000);
    EXPECT_NE(title.find("0:01.000 | 0 fps | LATER"), std::string::npos) << title;
    type({"Up"});
    title = waitForTitle(preview.window, {"0:00.000"}, 20000);
    EXPECT_NE(title.find("0:00.000"), std::string::npos) << title;
    type({"Down"});
    title = waitForTitle(preview.window, {"0:01.000"}, 20000);
    EXPECT_NE(title.find("0:01.000"), std::string::npos) << title;
    const size_t jumps = count(preview.err(), "jump to");
    type({"Down"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(count(preview.err(), "jump to"), jumps) << "no part after LATER";
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// An archive demo: the archive packed again is read again, its pictures too.
TEST(PreviewTool, AnArchivePackedAgainIsReloaded) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string folder = makeTempDir(), archive = makeTempDir() + "/demo.qzd";
    writeFile(folder + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
__DEFS__
INSERT_EFFECT Image1
__SETUP__
0 SIGNAL Image1 Datafile "data/images/colour.png"
__TIMELINE__
0 BEGIN Image1
)");
    const auto pack = [&] {
        CommandResult r =
            runCommand(binPath("holdfast-pack") + " create " + archive + " " + folder + " --password secret");
        ASSERT_EQ(r.exitCode, 0) << r.err;
    };
    savePicture(folder + "/data/images/colour.png", {255, 0, 0});
    pack();
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(archive, "--password secret --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    EXPECT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();
    savePicture(folder + "/data/images/colour.png", {0, 255, 0});
    pack();
    EXPECT_EQ(waitForCentre(preview.window, {0, 255, 0}), (std::array<int, 3>{0, 255, 0})) << preview.err();
    EXPECT_NE(preview.err().find("the archive changed"), std::string::npos) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// While the preview plays, a saved picture goes into its texture and shows in the next frame: no
// script reload, no jump. The picture lies outside data/: its folder is watched as well.
TEST(PreviewTool, APlayingPreviewShowsASavedPictureWithoutAJump) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), picture = demo + "/art/colour.png";
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 200000
__DEFS__
INSERT_EFFECT Image1
__SETUP__
0 SIGNAL Image1 Datafile "art/colour.png"
__TIMELINE__
0 BEGIN Image1
)");
    savePicture(picture, {255, 0, 0});
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000");
    ASSERT_NE(preview.window, 0u) << preview.err();
    EXPECT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();
    const size_t jumps = count(preview.err(), "jump to");
    savePicture(picture, {0, 255, 255});
    EXPECT_EQ(waitForCentre(preview.window, {0, 255, 255}), (std::array<int, 3>{0, 255, 255}))
        << preview.err();
    for (int i = 0; i < 400 && preview.err().find("the edit shows") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_NE(preview.err().find("the edit shows"), std::string::npos) << preview.err();
    EXPECT_EQ(preview.err().find("script reloaded"), std::string::npos) << preview.err();
    EXPECT_EQ(count(preview.err(), "jump to"), jumps) << preview.err();
    EXPECT_EQ(windowTitle(preview.window).find("paused"), std::string::npos);
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Every finding where the author is looking: on the panel over the frame, worded and graded as
// holdfast-script --check does, each once on stderr; H hides the panel; a broken save shows its
// error there while the last good demo runs on; frames written to files never hold the panel.
TEST(PreviewTool, FindingsShowOnThePanelAsTheCheckerGradesThem) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    const std::string body = R"(__HEADER__
DEMO_END 10000
DEFINE LINK 2
INSERT_EFFECT Clear
INSERT_EFFECT Image1
INSERT_EFFECT Blur
INSERT_EFFECT Scene0
__SETUP__
0 SIGNAL Image1 Datafile "data/images/missing.png"
0 SIGNAL Scene0 Datafile "data/scenes/gone.qzg"
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear Blue 1
0 TRIGGER Blur LINK "Image1"
0 TRIGGER Image1 LINK "Blur"
100 TRIGGER Clear LNK "Image1"
)";
    writeFile(script, body);
    const std::vector<std::string> expected = {
        "data/scripts/demo.scr:9: error: picture data/images/missing.png is missing",
        "data/scripts/demo.scr:10: error: scene file data/scenes/gone.qzg is missing",
        "data/scripts/demo.scr:15: warning: Linked effect loops back to this effect: Blur",
        "data/scripts/demo.scr:16: warning: TRIGGER type `LNK` is not a DEFINE name, so the line is ignored; "
        "did you mean `LINK`?"};
    const CommandResult check = runCommand(binPath("holdfast-script") + " --check " + demo, 120);
    for (const std::string& line : expected)
        EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;

    // Written frames hold the demo alone: a jump's frame is still the capture tool's.
    const FramePair frame = jumpedAndCaptured(demo, {500}).front();
    ASSERT_FALSE(frame.stepped.empty());
    EXPECT_TRUE(frame.jumped == frame.stepped);

    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 500 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    std::string panel = waitForPanel(preview.window, "2 errors, 2 warnings");
    for (const std::string& line : expected)
        EXPECT_NE(panel.find(line), std::string::npos) << line << "\n" << panel;
    std::string title = waitForTitle(preview.window, {"ERROR"}, 20000);
    EXPECT_NE(title.find("ERROR data/scripts/demo.scr:9: picture data/images/missing.png is missing"),
              std::string::npos)
        << title;
    // The blue background shows above the panel.
    EXPECT_EQ(centre(grabWindow(preview.window, 800, 600)), (std::array<int, 3>{0, 0, 255}));

    // H hides the panel and shows it again.
    sendKey(preview.window, "h");
    for (int i = 0; i < 400 && !panelText(grabWindow(preview.window, 800, 600)).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_EQ(panelText(grabWindow(preview.window, 800, 600)), "");
    sendKey(preview.window, "h");
    EXPECT_NE(waitForPanel(preview.window, "2 errors").find("2 errors"), std::string::npos);

    // A jump and a reload of the same files say nothing again.
    sendKey(preview.window, "Right");
    waitForTitle(preview.window, {"0:01.500"}, 20000);
    sendKey(preview.window, "r");
    for (int i = 0; i < 400 && count(preview.err(), "script reloaded") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    for (const std::string& line : expected)
        EXPECT_EQ(count(preview.err(), line), 1u) << line << "\n" << preview.err();

    // A broken save: its error on the panel with its line, the last good demo running under it.
    writeFile(script, body + "INSERT_EFFECT NoSuchEffect\n");
    panel = waitForPanel(preview.window, "NoSuchEffect");
    EXPECT_NE(panel.find("data/scripts/demo.scr:17: error: Effect Id not found: NoSuchEffect"),
              std::string::npos)
        << panel << "\n"
        << preview.err();
    EXPECT_EQ(centre(grabWindow(preview.window, 800, 600)), (std::array<int, 3>{0, 0, 255}));
    ASSERT_TRUE(preview.running()) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// A picture rewritten in place (as ImageMagick writes) is read half written when the writer
// pauses: it is read again once the file has been quiet, and nothing is reported.
TEST(PreviewTool, APictureRewrittenInPlaceIsReadAgainBeforeAnythingIsReported) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), picture = demo + "/data/images/colour.png";
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_END 10000
INSERT_EFFECT Image1
__SETUP__
0 SIGNAL Image1 Datafile "data/images/colour.png"
__TIMELINE__
0 BEGIN Image1
)");
    savePicture(picture, {255, 0, 0});
    savePicture(demo + "/blue.png", {0, 0, 255});
    const std::string blue = readFile(demo + "/blue.png");
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();
    FILE* out = fopen(picture.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(blue.data(), 1, blue.size() / 2, out);
    fflush(out);
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // longer than a save's 80 ms
    fwrite(blue.data() + blue.size() / 2, 1, blue.size() - blue.size() / 2, out);
    fclose(out);
    EXPECT_EQ(waitForCentre(preview.window, {0, 0, 255}), (std::array<int, 3>{0, 0, 255})) << preview.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(preview.err().find("error"), std::string::npos) << preview.err();
    EXPECT_EQ(windowTitle(preview.window).find("ERROR"), std::string::npos);
    EXPECT_EQ(panelText(grabWindow(preview.window, 800, 600)), "");
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

namespace {
// A one-colour Clear, the whole frame.
std::string clearScript(const std::string& red, const std::string& green, const std::string& blue) {
    return "__HEADER__\nDEMO_START 0\nDEMO_END 200000\n__DEFS__\nINSERT_EFFECT Clear\n__TIMELINE__\n0 BEGIN "
           "Clear\n0 SIGNAL Clear Red " +
           red + "\n0 SIGNAL Clear Green " + green + "\n0 SIGNAL Clear Blue " + blue + "\n";
}

// Waits up to 20 s for `part` in the preview's stderr.
bool waitForErr(const Preview& preview, const std::string& part) {
    for (int i = 0; i < 800 && preview.err().find(part) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    return preview.err().find(part) != std::string::npos;
}
} // namespace

// The watch never stops silently: links under data/ that lead back up are watched once (the first
// frame shows, the loop is said), a save made while more file events came than the system queues
// (the preview stopped meanwhile) still shows, and so does one after data/ was deleted and made
// again.
TEST(PreviewTool, EditsShowAfterALinkLoopLostEventsAndARecreatedDataFolder) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    namespace fs = std::filesystem;
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    writeFile(script, clearScript("1", "0", "0"));
    fs::create_directory_symlink("..", demo + "/data/l1");
    fs::create_directory_symlink("..", demo + "/data/l2");
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    EXPECT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();
    EXPECT_TRUE(waitForErr(preview, "(links make a loop): each folder is watched once")) << preview.err();

    kill(preview.pid, SIGSTOP);
    const long queue = std::stol(readFile("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_LT(queue, 1 << 20);
    const std::string names[2] = {demo + "/data/a", demo + "/data/b"};
    for (long i = 0; i <= queue; ++i) // each open for writing and close is one event
        close(open(names[i % 2].c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    writeFile(script, clearScript("0", "1", "0"));
    kill(preview.pid, SIGCONT);
    EXPECT_EQ(waitForCentre(preview.window, {0, 255, 0}), (std::array<int, 3>{0, 255, 0})) << preview.err();
    EXPECT_NE(preview.err().find("the system dropped file events"), std::string::npos) << preview.err();

    fs::remove_all(demo + "/data");
    EXPECT_TRUE(waitForErr(preview, "data is gone")) << preview.err();
    writeFile(script, clearScript("0", "0", "1"));
    EXPECT_EQ(waitForCentre(preview.window, {0, 0, 255}), (std::array<int, 3>{0, 0, 255})) << preview.err();
    EXPECT_NE(preview.err().find("data is back and watched again"), std::string::npos) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// A saved shader goes into the running effect: the next frame draws with it, without a script
// reload or a jump. A save the driver refuses keeps the last good program drawing, with the
// driver's message in the title, until the file builds again.
TEST(PreviewTool, ASavedShaderIsReloadedInPlace) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), program = demo + "/data/shaders/colour.frag";
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 200000
__DEFS__
INSERT_EFFECT Shader1
__SETUP__
0 SIGNAL Shader1 Datafile "data/shaders/colour.frag"
__TIMELINE__
0 BEGIN Shader1
)");
    const auto save = [&](const std::string& colour) {
        writeFile(program + ".new",
                  "void mainImage(out vec4 fragColor, in vec2 fragCoord)\n{\n    fragColor = " + colour +
                      ";\n}\n");
        std::filesystem::rename(program + ".new", program);
    };
    save("vec4(1.0, 0.0, 0.0, 1.0)");
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(demo, "--at 1000");
    ASSERT_NE(preview.window, 0u) << preview.err();
    EXPECT_EQ(waitForCentre(preview.window, {255, 0, 0}), (std::array<int, 3>{255, 0, 0})) << preview.err();
    const size_t jumps = count(preview.err(), "jump to");

    save("vec4(0.0, 1.0, 0.0, 1.0)");
    EXPECT_EQ(waitForCentre(preview.window, {0, 255, 0}), (std::array<int, 3>{0, 255, 0})) << preview.err();
    EXPECT_TRUE(waitForErr(preview, "the edit shows")) << preview.err();

    save("vec4(0.0, 0.0, 1.0, 1.0) +");
    std::string title = waitForTitle(preview.window, {"ERROR"}, 20000);
    EXPECT_NE(title.find("ERROR data/shaders/colour.frag:3: error"), std::string::npos) << title;
    EXPECT_NE(waitForPanel(preview.window, "the last good program draws on").find("colour.frag:3: error"),
              std::string::npos);
    EXPECT_EQ(centre(grabWindow(preview.window, 800, 600)), (std::array<int, 3>{0, 255, 0}));
    ASSERT_TRUE(preview.running()) << preview.err();

    save("vec4(0.0, 0.0, 1.0, 1.0)");
    EXPECT_EQ(waitForCentre(preview.window, {0, 0, 255}), (std::array<int, 3>{0, 0, 255})) << preview.err();
    title = waitForTitleWithout(preview.window, "ERROR");
    EXPECT_EQ(title.find("ERROR"), std::string::npos) << title;
    EXPECT_EQ(preview.err().find("script reloaded"), std::string::npos) << preview.err();
    EXPECT_EQ(count(preview.err(), "jump to"), jumps) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}
