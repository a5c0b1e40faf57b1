// The frame on real screens: full screen at the desktop's resolution with the frame scaled and
// centred, Alt+Enter, resized windows, vsync; each program on an X server of the test's own.
#include "../tools/PngPixels.h"
#include "GLTest.h"
#include "PreviewProcess.h"
#include "X11Control.h"
#include "platform/Platform.h"
#include "resources/PngWriter.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

namespace {

using Rgb = std::vector<int>;
const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255}, kYellow{255, 255, 0},
    kBlack{0, 0, 0};

// A demo folder (and its packed data.qzd) whose frame is one picture: red, green, blue and white
// quadrants with a yellow square in the middle.
std::string pictureDemo(const std::string& header = "") {
    const std::string dir = makeTempDir();
    std::vector<unsigned char> rgb(64 * 64 * 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool middle = x >= 24 && x < 40 && y >= 24 && y < 40;
            const Rgb& c = middle ? kYellow : y < 32 ? (x < 32 ? kRed : kGreen) : (x < 32 ? kBlue : kWhite);
            for (int k = 0; k < 3; ++k)
                rgb[(y * 64 + x) * 3 + k] = static_cast<unsigned char>(c[k]);
        }
    std::filesystem::create_directories(dir + "/src/data/images");
    EXPECT_TRUE(writeRgbPng(dir + "/src/data/images/picture.png", 64, 64, rgb.data(), false, true));
    writeFile(dir + "/src/data/scripts/demo.scr",
              "__HEADER__\nDEMO_START 0\nDEMO_END 286000\n" + header +
                  "__DEFS__\nINSERT_EFFECT Image1\n__SETUP__\n"
                  "0 SIGNAL Image1 Datafile \"data/images/picture.png\"\n__TIMELINE__\n0 BEGIN Image1\n");
    CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + dir + "/data.qzd " + dir +
                                      "/src --password tolvrask");
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
    return dir;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb; // top row first
    Rgb at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
    bool rowsBlack(int from, int to) const { return spanBlack(0, width, from, to); }
    bool columnsBlack(int from, int to) const { return spanBlack(from, to, 0, height); }
    bool spanBlack(int x0, int x1, int y0, int y1) const {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (at(x, y) != kBlack) return false;
        return true;
    }
};

// What the frame shows where the picture's parts are, given where the frame lies in the picture
// (x, y from the top left): its quadrants' centres, its middle, and its outermost pixels.
void expectFrameAt(const Picture& p, int x, int y, int width, int height, const std::string& what) {
    auto near = [](const Rgb& a, const Rgb& b) {
        for (int k = 0; k < 3; ++k)
            if (std::abs(a[k] - b[k]) > 3) return false;
        return true;
    };
    auto at = [&](double fx, double fy) {
        return p.at(x + static_cast<int>(fx * width), y + static_cast<int>(fy * height));
    };
    EXPECT_TRUE(near(at(0.2, 0.2), kRed)) << what;
    EXPECT_TRUE(near(at(0.8, 0.2), kGreen)) << what;
    EXPECT_TRUE(near(at(0.2, 0.8), kBlue)) << what;
    EXPECT_TRUE(near(at(0.8, 0.8), kWhite)) << what;
    EXPECT_TRUE(near(at(0.5, 0.5), kYellow)) << what;
    // The picture reaches the frame's edges (where the picture's far side blends in): its first
    // and last columns and rows are no bar.
    auto lit = [](const Rgb& c) { return c[0] + c[1] + c[2] > 100; };
    EXPECT_TRUE(lit(p.at(x, y + height / 4)) && lit(p.at(x + width - 1, y + height / 4))) << what;
    EXPECT_TRUE(lit(p.at(x + width / 4, y)) && lit(p.at(x + width / 4, y + height - 1))) << what;
}

Picture grab(unsigned long window, int width, int height) {
    return Picture{width, height, grabWindow(window, width, height)};
}

// Waits until `check` holds (or a few seconds pass); the frames keep coming meanwhile.
template <typename Check> bool eventually(Check check) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!check()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

struct Player {
    pid_t pid = -1;
    std::string errPath;
    Player(const std::string& dir, const std::string& vsync, const char* driver = "") {
        errPath = dir + "/stderr.txt";
        pid = fork();
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0 || !freopen(errPath.c_str(), "w", stderr)) _exit(99);
            setenv("HOLDFAST_UNATTENDED", "1", 1);
            setenv("HOLDFAST_STATS", "1", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            if (*driver) setenv("SDL_VIDEODRIVER", driver, 1);
            if (vsync.empty())
                unsetenv("HOLDFAST_VSYNC");
            else
                setenv("HOLDFAST_VSYNC", vsync.c_str(), 1);
            const std::string bin = binPath("holdfast");
            execl(bin.c_str(), "holdfast", static_cast<char*>(nullptr));
            _exit(98);
        }
    }
    ~Player() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Exit code once it ended by itself within `seconds`, else -1 (and it is killed).
    int exitCode(int seconds) {
        const int code = waitChildExit(pid, seconds * 1000, false);
        if (code >= 0) pid = -1;
        return code;
    }
    std::string err() const { return readFile(errPath); }
};

} // namespace

TEST(ScaledFrame, WhereTheFrameLiesInTheWindow) {
    using platform::frameRectIn;
    using platform::Scaling;
    auto rect = [](platform::FrameRect r) { return std::vector<int>{r.x, r.y, r.width, r.height}; };
    EXPECT_EQ(rect(frameRectIn(800, 600, 1280, 1024, Scaling::Linear)), (std::vector<int>{0, 32, 1280, 960}));
    EXPECT_EQ(rect(frameRectIn(800, 600, 1920, 1080, Scaling::Linear)),
              (std::vector<int>{240, 0, 1440, 1080}));
    EXPECT_EQ(rect(frameRectIn(800, 600, 800, 600, Scaling::Linear)), (std::vector<int>{0, 0, 800, 600}));
    // A 200 % desktop: the drawable has twice the window's pixels, and the frame fills them.
    EXPECT_EQ(rect(frameRectIn(800, 600, 1600, 1200, Scaling::Linear)), (std::vector<int>{0, 0, 1600, 1200}));
    EXPECT_EQ(rect(frameRectIn(800, 600, 2560, 1440, Scaling::Nearest)),
              (std::vector<int>{480, 120, 1600, 1200}));
    EXPECT_EQ(rect(frameRectIn(800, 600, 1280, 1024, Scaling::Nearest)),
              (std::vector<int>{240, 212, 800, 600}));
    // Nearest below one whole multiple scales down like linear; an empty window takes nothing.
    EXPECT_EQ(rect(frameRectIn(800, 600, 640, 400, Scaling::Nearest)), (std::vector<int>{53, 0, 533, 400}));
    EXPECT_EQ(rect(frameRectIn(800, 600, 0, 600, Scaling::Linear)), (std::vector<int>{0, 0, 0, 0}));
}

// Under a 1280 x 1024 screen the player covers it without a mode switch: the frame scaled to
// 1280 x 960, black bars of 32 rows above and below, its middle the capture's middle. Alt+Enter
// makes it an 800 x 600 window and full screen again.
TEST(ScaledFrame, FullScreenShowsTheFrameScaledAndCentredAndAltEnterToggles) {
    PrivateDisplay display;
    if (!display.ok()) GTEST_SKIP() << "needs Xvfb";
    const std::string dir = pictureDemo();
    Player player(dir, "");
    const unsigned long window = waitForWindow("hold fast", 30000, player.pid);
    ASSERT_NE(window, 0u) << player.err();
    const unsigned long root = rootWindow();
    Picture screen;
    ASSERT_TRUE(eventually([&] {
        screen = grab(root, 1280, 1024);
        return !screen.rgb.empty() && screen.at(640, 512) == kYellow;
    })) << player.err();
    EXPECT_TRUE(screen.rowsBlack(0, 32));
    EXPECT_TRUE(screen.rowsBlack(992, 1024));
    expectFrameAt(screen, 0, 32, 1280, 960, "full screen");

    const std::string captured = makeTempDir();
    CommandResult r = runCommand(
        binPath("holdfast-capture") + " --data " + dir + "/data.qzd --times 500 --out " + captured, 60);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Frame frame = readPng(captured + "/frame_00000500.png");
    ASSERT_TRUE(frame.ok);
    EXPECT_EQ(frame.at(400, 300), screen.at(640, 512));

    sendChord(window, {"Alt_L", "Return"});
    EXPECT_TRUE(eventually([&] { return windowSize(window) == std::make_pair(800, 600); }));
    Picture windowed;
    EXPECT_TRUE(eventually([&] {
        windowed = grab(window, 800, 600);
        return !windowed.rgb.empty() && windowed.at(400, 300) == kYellow;
    }));
    expectFrameAt(windowed, 0, 0, 800, 600, "windowed after Alt+Enter");
    sendChord(window, {"Alt_L", "Return"});
    EXPECT_TRUE(eventually([&] { return windowSize(window) == std::make_pair(1280, 1024); }));

    sendKey(window, "Escape");
    EXPECT_EQ(player.exitCode(20), 0);
    const std::string err = player.err();
    EXPECT_EQ(err.find("requested fullscreen mode not supported"), std::string::npos) << err;
    EXPECT_NE(err.find(" vsync=adaptive swap_interval=0\n"), std::string::npos) << err;
}

// HOLDFAST_VSYNC picks the swap interval; the statistics line names what was asked for and the
// interval in use. Xvfb's GLX has no swap control (the interval stays 0); the offscreen driver
// has every interval but adaptive, which falls back to 1. A value it does not know is named and
// the default taken.
TEST(ScaledFrame, TheSwapIntervalAskedForIsReported) {
    PrivateDisplay display;
    if (!display.ok()) GTEST_SKIP() << "needs Xvfb";
    const std::string dir = pictureDemo("DEMO_LENGTH 300\n");
    // Each setting once, on either driver: Xvfb's GLX gives interval 0 whatever is asked, EGL what
    // is asked (adaptive falls back to 1).
    const std::pair<const char*, std::string> runs[] = {
        {"", "0"}, {"", "sometimes"}, {"offscreen", "1"}, {"offscreen", ""}, {"offscreen", "0"}};
    for (const auto& [driver, vsync] : runs) {
        {
            Player player(dir, vsync, driver);
            EXPECT_EQ(player.exitCode(60), 0) << vsync;
            const std::string err = player.err();
            std::smatch m;
            ASSERT_TRUE(std::regex_search(
                err, m, std::regex("frames=[1-9][0-9]* .* vsync=([a-z0-9]+) swap_interval=(-?[0-9]+)\n")))
                << driver << " " << vsync << ": " << err;
            const bool known = vsync == "0" || vsync == "1";
            EXPECT_EQ(m[1], known ? vsync : "adaptive") << err;
            EXPECT_EQ(m[2], *driver ? (vsync == "0" ? "0" : "1") : "0") << driver << " " << vsync;
            EXPECT_EQ(err.find("HOLDFAST_VSYNC=sometimes is not 0, 1 or adaptive") != std::string::npos,
                      vsync == "sometimes")
                << err;
        }
    }
}

// A preview window resized by hand shows the frame scaled into it the same way, with bars at the
// sides of a wide window and above and below a tall one.
TEST(ScaledFrame, AResizedPreviewWindowScalesTheFrame) {
    PrivateDisplay display;
    if (!display.ok()) GTEST_SKIP() << "needs Xvfb";
    const std::string dir = pictureDemo();
    PreviewProcess preview(dir + "/src", "");
    ASSERT_NE(preview.window, 0u) << preview.err();
    for (auto size : {std::make_pair(1000, 500), std::make_pair(600, 650)}) {
        resizeWindow(preview.window, size.first, size.second);
        const platform::FrameRect r =
            platform::frameRectIn(800, 600, size.first, size.second, platform::Scaling::Linear);
        const int top = size.second - r.y - r.height; // the picture's rows run from the top
        Picture shown;
        EXPECT_TRUE(eventually([&] {
            shown = grab(preview.window, size.first, size.second);
            return !shown.rgb.empty() && shown.at(size.first / 2, size.second / 2) == kYellow &&
                   shown.spanBlack(0, r.x, 0, size.second) && shown.spanBlack(0, size.first, 0, top);
        })) << size.first
            << "x" << size.second << "\n"
            << preview.err();
        EXPECT_TRUE(shown.spanBlack(r.x + r.width, size.first, 0, size.second));
        EXPECT_TRUE(shown.spanBlack(0, size.first, top + r.height, size.second));
        expectFrameAt(shown, r.x, top, r.width, r.height,
                      std::to_string(size.first) + "x" + std::to_string(size.second));
    }
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}
