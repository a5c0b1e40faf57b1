// holdfast-capture as a whole program: frames at chosen demo times from a directory or an archive.
#include "GLTest.h"
#include "PngPixels.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
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

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

std::string testDemo() {
    std::string dir = makeTempDir();
    writeFile(dir + "/data/scripts/demo.scr", kScript);
    return dir;
}

CommandResult capture(const std::string& arguments) {
    return runCommand(binPath("holdfast-capture") + " " + arguments, 120);
}

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
    expectColour(readPng(out + "/frame_00000700.png"), 255, 128, 0); // END is exclusive
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
    for (const auto& entry : fs::directory_iterator(out))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"frame_00000400.png", "frame_00000550.png", "frame_00000700.png"}));
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
    CommandResult music =
        runCommand(binPath("holdfast-makemusic") + " " + demo + "/music.ogg --seconds 3", 120);
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
         {std::string("--times 1 --out ") + out, "--data " + demo + " --times 1",
          "--data " + demo + " --out " + out,
          "--data " + demo + " --times 1 --from 0 --to 5 --step 1 --out " + out,
          "--data " + demo + " --from 0 --to 5 --step 0 --out " + out,
          "--data " + demo + " --from 9 --to 5 --step 1 --out " + out,
          "--data " + demo + " --times 1,x --out " + out, "--data " + demo + " --times -5 --out " + out,
          "--data " + demo + " --times 99999999999 --out " + out,
          "--data " + demo + " --times 2147483648 --out " + out, // past the largest demo time
          "--data " + demo + "/nothing --times 1 --out " + out,
          "--data " + demo + " --times 1 --out " + out + " --fps"}) {
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

namespace {

// A flash on every fourth 100 ms pattern step that fades within a few frames: what a frame shows
// depends on the frame before it, as with a player.
const char* kFlashScript = R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Flash
__SETUP__
0 SIGNAL Flash Pattern "1000"
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Flash Speed 0.2
0 BEGIN Flash
)";

std::string flashDemo() {
    std::string dir = makeTempDir();
    writeFile(dir + "/data/scripts/demo.scr", kFlashScript);
    return dir;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// What is wrong with a demo is said once, with its script line and the checker's words and grade,
// and the run goes on (exit code 0): a missing picture and a missing scene (white quads and no
// scene otherwise, without a word), a TRIGGER type never defined. Into a log (no terminal) the
// progress comes as whole lines, a few of them.
TEST(CaptureTool, FindingsAreSaidOnceWithTheirScriptLinesAndProgressInWholeLines) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_END 10000
DEFINE LINK 2
INSERT_EFFECT Image1
INSERT_EFFECT RotoZoom
INSERT_EFFECT Scene0
__SETUP__
0 SIGNAL Image1 Datafile "data/images/missing.png"
0 SIGNAL Scene0 Datafile "data/scenes/gone.qzg"
__TIMELINE__
0 BEGIN RotoZoom
0 TRIGGER RotoZoom LINK "Image1"
0 BEGIN Scene0
100 TRIGGER RotoZoom LNK "Image1"
)");
    CommandResult r = capture("--data " + demo + " --from 0 --to 2000 --step 50 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CommandResult check = runCommand(binPath("holdfast-script") + " --check " + demo, 120);
    for (const std::string& line :
         {std::string("data/scripts/demo.scr:8: error: picture data/images/missing.png is missing"),
          std::string("data/scripts/demo.scr:14: warning: TRIGGER type `LNK` is not a DEFINE name")}) {
        EXPECT_NE(check.out.find(line), std::string::npos) << check.out;
        EXPECT_EQ(countOf(r.err, "holdfast-capture: " + line), 1) << r.err;
    }
    // The player's own report keeps its words, with the script line on its stderr copy.
    EXPECT_NE(check.out.find("data/scripts/demo.scr:9: error: scene file data/scenes/gone.qzg is missing"),
              std::string::npos)
        << check.out;
    EXPECT_EQ(countOf(r.err, "could not load scene: data/scenes/gone.qzg (script line 9)\n"), 1) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    const int progress = countOf(r.err, "holdfast-capture: frame ");
    EXPECT_GE(progress, 1) << r.err;
    EXPECT_LE(progress, 11) << r.err;
    EXPECT_NE(r.err.find("frame 41/41 (t = 2000 ms)\n"), std::string::npos) << r.err;

    // A fatal mistake keeps the player's message and exit code, said once.
    writeFile(demo + "/data/scripts/demo.scr", "__DEFS__\nINSERT_EFFECT NoSuchEffect\n");
    r = capture("--data " + demo + " --times 0 --out " + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(countOf(r.err, "NoSuchEffect"), 1) << r.err;
}

TEST(CaptureTool, AFrameIsTheSameAloneOrInsideARange) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = flashDemo(), alone = makeTempDir(), inRange = makeTempDir();
    // 425 ms shows the frame of 416 ms at 60 fps: 16 ms into a flash that began at 400 ms.
    CommandResult r = capture("--data " + demo + " --times 425 --out " + alone);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = capture("--data " + demo + " --from 0 --to 1000 --step 25 --out " + inRange);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Frame a = readPng(alone + "/frame_00000425.png"), b = readPng(inRange + "/frame_00000425.png");
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_TRUE(a.rgb == b.rgb);
    const int grey = a.at(400, 300)[0];
    EXPECT_GT(grey, 0);
    EXPECT_LT(grey, 250) << "the flash should have faded since its step began at 400 ms";
    // Every frame from the start was stepped, however few were asked for.
    EXPECT_NE(r.err.find("41 frames in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("61 frames stepped"), std::string::npos) << r.err;
}

TEST(CaptureTool, SparseStepsOnlyTheRequestedTimes) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = flashDemo(), alone = makeTempDir(), pair = makeTempDir();
    CommandResult r = capture("--data " + demo + " --sparse --times 425 --out " + alone);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Alone, 425 ms is the first frame of its step: the flash at full strength.
    EXPECT_EQ(readPng(alone + "/frame_00000425.png").at(400, 300)[0], 255);
    r = capture("--data " + demo + " --sparse --times 400,425 --out " + pair);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_LT(readPng(pair + "/frame_00000425.png").at(400, 300)[0], 250);
    EXPECT_NE(r.err.find("2 frames stepped"), std::string::npos) << r.err;
}

TEST(CaptureTool, ATimeBetweenFramesShowsTheFrameOnScreenThen) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir(), sparse = makeTempDir();
    // At 4 frames per second frames are drawn at 0, 250, 500, 750 ms; Invert runs from 500 to 699.
    CommandResult r = capture("--data " + demo + " --fps 4 --times 499,740,750 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectColour(readPng(out + "/frame_00000499.png"), 255, 128, 0); // the frame of 250 ms
    expectColour(readPng(out + "/frame_00000740.png"), 0, 127, 255); // still the frame of 500 ms
    expectColour(readPng(out + "/frame_00000750.png"), 255, 128, 0);
    r = capture("--data " + demo + " --fps 4 --sparse --times 740 --out " + sparse);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectColour(readPng(sparse + "/frame_00000740.png"), 255, 128, 0);
}

TEST(CaptureTool, SheetHoldsOneLabelledThumbnailPerTime) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), dir = makeTempDir();
    CommandResult r =
        capture("--data " + demo + " --from 0 --to 900 --step 100 --columns 4 --sheet " + dir + "/sheet.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"sheet.png"}); // no frames, no leftovers
    const Frame sheet = readPng(dir + "/sheet.png");
    ASSERT_TRUE(sheet.ok);
    // 10 tiles of 160 x 120 with a 12-pixel label, 4 to a row, 4 pixels apart.
    EXPECT_EQ(sheet.width, 4 + 4 * 164);
    EXPECT_EQ(sheet.height, 4 + 3 * 136);
    auto centre = [&](int i) { return sheet.at(4 + (i % 4) * 164 + 80, 4 + (i / 4) * 136 + 60); };
    for (int i = 0; i < 10; ++i) {
        const bool inverted = i == 5 || i == 6; // 500 and 600 ms
        EXPECT_EQ(centre(i), inverted ? (std::vector<int>{0, 127, 255}) : (std::vector<int>{255, 128, 0}))
            << i;
    }
    // The label under the first tile is drawn in light pixels; the unused tile slots stay dark.
    int light = 0;
    for (int y = 124; y < 136; ++y)
        for (int x = 4; x < 164; ++x)
            light += sheet.at(x, y)[0] > 200;
    EXPECT_GT(light, 20);
    EXPECT_EQ(sheet.at(4 + 3 * 164 + 80, 4 + 2 * 136 + 60), (std::vector<int>{32, 32, 32}));

    // A sheet is kept in memory: too many tiles is a usage error, not an exhausted machine.
    r = capture("--data " + demo + " --from 0 --to 2147483647 --step 1 --sheet " + dir + "/big.png");
    EXPECT_EQ(r.exitCode, 2) << r.err;
}

TEST(CaptureTool, AHugeRangeIsGeneratedAsItGoes) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir();
    CommandResult r = capture("--data " + demo + " --from 0 --to 2147483647 --step 1 --limit 3 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(filesIn(out),
              (std::vector<std::string>{"frame_00000000.png", "frame_00000001.png", "frame_00000002.png"}));
    EXPECT_NE(r.err.find("frame 3/3"), std::string::npos) << r.err;
}

// A demo with DEMO_LENGTH ends there: no frame after it, and the tool says so once.
TEST(CaptureTool, NoFrameAfterTheDemosLength) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir() + "/frames";
    std::string script = kScript;
    script.insert(script.find("DEMO_BEAT"), "DEMO_LENGTH 600\n");
    writeFile(demo + "/data/scripts/demo.scr", script);
    CommandResult r = capture("--data " + demo + " --from 400 --to 900 --step 100 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(filesIn(out),
              (std::vector<std::string>{"frame_00000400.png", "frame_00000500.png", "frame_00000600.png"}));
    const std::string said = "the demo ends at 600 ms; no frame after it is written";
    const size_t at = r.err.find(said);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << r.err;
}

TEST(CaptureTool, UndecodableMusicIsReportedOnceAndTheDemoRunsSilent) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir();
    std::string noise(6000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919u) >> 3);
    writeFile(demo + "/music.ogg", "OggS" + noise);
    CommandResult r = capture("--data " + demo + " --from 0 --to 1000 --step 100 --out " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(countOf(r.err, "could not be decoded; the demo runs silent"), 1) << r.err;
    expectColour(readPng(out + "/frame_00000600.png"), 0, 127, 255);
}

TEST(CaptureTool, AFrameThatCannotBeWrittenLeavesNoPartialFile) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), out = makeTempDir();
    // A directory in the way of the second frame.
    writeFile(out + "/frame_00000100.png/keep", "x");
    CommandResult r = capture("--data " + demo + " --times 0,100,200 --out " + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(filesIn(out), (std::vector<std::string>{"frame_00000000.png", "frame_00000100.png"}));
    EXPECT_TRUE(fs::is_directory(out + "/frame_00000100.png"));
}

TEST(CaptureTool, VideoHasTheFramesAndTheMusic) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    if (runCommand("command -v ffprobe").exitCode != 0) GTEST_SKIP() << "needs ffmpeg and ffprobe";
    const std::string demo = testDemo(), dir = makeTempDir();
    CommandResult music =
        runCommand(binPath("holdfast-makemusic") + " " + demo + "/music.ogg --seconds 6", 120);
    ASSERT_EQ(music.exitCode, 0) << music.err;
    CommandResult r =
        capture("--data " + demo + " --video " + dir + "/clip.mp4 --fps 25 --from 1000 --to 4000");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(filesIn(dir), std::vector<std::string>{"clip.mp4"});
    CommandResult probe =
        runCommand("ffprobe -v error -count_frames -show_entries stream=codec_type,nb_read_frames "
                   "-show_entries format=duration -of compact " +
                   dir + "/clip.mp4");
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    EXPECT_NE(probe.out.find("codec_type=video|nb_read_frames=75"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("codec_type=audio"), std::string::npos) << probe.out;
    const size_t at = probe.out.find("format|duration=");
    ASSERT_NE(at, std::string::npos) << probe.out;
    EXPECT_NEAR(std::stod(probe.out.substr(at + 16)), 3.0, 0.05) << probe.out;

    // The first frame's colour survives the encoding (ffmpeg writes frames top row first).
    CommandResult still =
        runCommand("ffmpeg -v error -i " + dir + "/clip.mp4 -frames:v 1 " + dir + "/first.png");
    ASSERT_EQ(still.exitCode, 0) << still.err;
    const Frame first = readPng(dir + "/first.png");
    ASSERT_TRUE(first.ok);
    EXPECT_NEAR(first.at(400, 300)[0], 255, 6);
    EXPECT_NEAR(first.at(400, 300)[2], 0, 6);
}

TEST(CaptureTool, VideoWithoutFfmpegSaysWhatIsMissing) {
    const std::string demo = testDemo(), dir = makeTempDir();
    CommandResult r = runCommand("HOLDFAST_FFMPEG=" + dir + "/no-ffmpeg " + binPath("holdfast-capture") +
                                 " --data " + demo + " --video " + dir + "/clip.mp4 --from 0 --to 1000");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("needs the ffmpeg program"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir + "/clip.mp4"));
    // A video takes a span, not a list of times.
    r = capture("--data " + demo + " --video " + dir + "/clip.mp4 --times 5");
    EXPECT_EQ(r.exitCode, 2) << r.err;
}

TEST(CaptureTool, AnswersHelpAndVersion) {
    CommandResult r = capture("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: holdfast-capture"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--sparse"), std::string::npos);
    r = capture("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("holdfast-capture ") + HOLDFAST_VERSION + "\n");
}

namespace {

bool isFifo(const std::string& path) {
    return fs::is_fifo(fs::symlink_status(path));
}

} // namespace

// --sheet, --video and the frames of --out replace regular files only: a FIFO, a symbolic link or
// a device node in the way stays as it was (and a FIFO never blocks the run).
TEST(CaptureTool, OutputsReplaceOnlyRegularFiles) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = testDemo(), dir = makeTempDir();
    ASSERT_EQ(mkfifo((dir + "/fifo.png").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.mp4").c_str(), 0600), 0);
    writeFile(dir + "/target.png", "keep");
    fs::create_symlink(dir + "/target.png", dir + "/link.png");
    std::vector<std::string> sheets = {dir + "/fifo.png", dir + "/link.png"};
    // A device node of our own (a null device) where the system lets us make one.
    if (mknod((dir + "/device.png").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        sheets.push_back(dir + "/device.png");
    for (const std::string& sheet : sheets) {
        CommandResult r = capture("--data " + demo + " --times 0 --sheet " + sheet);
        EXPECT_EQ(r.exitCode, 2) << sheet << "\n" << r.err;
        EXPECT_NE(r.err.find("will not write " + sheet + ": it exists and is not a regular file"),
                  std::string::npos)
            << r.err;
    }
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --video " + dir +
                                     "/fifo.mp4 --from 0 --to 1000",
                                 20);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("will not write " + dir + "/fifo.mp4: it exists and is not a regular file"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(isFifo(dir + "/fifo.png"));
    EXPECT_TRUE(isFifo(dir + "/fifo.mp4"));
    EXPECT_TRUE(fs::is_symlink(dir + "/link.png"));
    EXPECT_EQ(readFile(dir + "/target.png"), "keep");
    if (sheets.size() == 3) {
        EXPECT_TRUE(fs::is_character_file(dir + "/device.png"));
    }

    // A frame's name taken by a FIFO: that frame cannot be written, and the FIFO stays.
    const std::string out = makeTempDir();
    ASSERT_EQ(mkfifo((out + "/frame_00000100.png").c_str(), 0600), 0);
    r = capture("--data " + demo + " --times 0,100 --out " + out);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write " + out + "/frame_00000100.png"), std::string::npos) << r.err;
    EXPECT_TRUE(isFifo(out + "/frame_00000100.png"));
    EXPECT_EQ(filesIn(out), (std::vector<std::string>{"frame_00000000.png", "frame_00000100.png"}));
}

// SIGTERM or SIGINT in the middle of a video stops ffmpeg and leaves no partial file.
TEST(CaptureTool, ASignalEndsAVideoLeavingNothingBehind) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    if (runCommand("command -v ffmpeg").exitCode != 0) GTEST_SKIP() << "needs ffmpeg";
    const std::string demo = testDemo();
    for (const std::string signal : {"TERM", "INT"}) {
        const std::string dir = makeTempDir();
        // A background job of a script ignores SIGINT unless told otherwise. Once ffmpeg has
        // made its file, the capture is signalled; the time it takes to end is printed.
        CommandResult r = runCommand("env --default-signal=INT " + binPath("holdfast-capture") + " --data " +
                                         demo + " --video " + dir +
                                         "/clip.mp4 --fps 100 --from 0 --to 9999 2>/dev/null & pid=$!\n"
                                         "for i in $(seq 300); do [ -n \"$(ls -A " +
                                         dir + ")\" ] && break; sleep 0.1; done\n" +
                                         "sleep 0.5; start=$(date +%s%N); kill -" + signal +
                                         " $pid; wait $pid; rc=$?; end=$(date +%s%N)\n"
                                         "echo \"rc=$rc ms=$(( (end - start) / 1000000 ))\"; ls -A " +
                                         dir,
                                     90);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const int expected = 128 + (signal == "TERM" ? SIGTERM : SIGINT);
        EXPECT_EQ(r.out.substr(0, r.out.find(' ')), "rc=" + std::to_string(expected))
            << signal << ": " << r.out;
        // Nothing is listed after the time: neither the video nor its temporary file.
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << signal << ": " << r.out;
        std::cout << "SIG" << signal << " ended the capture: " << r.out;
    }
}
