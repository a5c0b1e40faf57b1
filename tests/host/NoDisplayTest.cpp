// The tools with no display server at all: the capture tool picks the offscreen driver itself and
// draws the frames it draws under X, byte for byte; nothing about probing for displays reaches
// stderr.
#include "NoDisplayCaptureTest.h"
#include "X11Control.h"

#include <gtest/gtest.h>

TEST(NoDisplay, TheCaptureToolDrawsTheFramesItDrawsUnderXAndSaysNothingOfDisplays) {
    PrivateDisplay display;
    if (!display.ok()) GTEST_SKIP() << "needs Xvfb";
    const std::string times = "--sparse --times 1000,70000,150000,200000,250000";
    const std::string onX = makeTempDir(), without = makeTempDir();
    CommandResult x = nodisplay::capture(times, onX, true, 300);
    ASSERT_EQ(x.exitCode, 0) << x.err;
    CommandResult none = nodisplay::capture(times, without, false, 300);
    ASSERT_EQ(none.exitCode, 0) << none.err;
    int count = 0;
    EXPECT_EQ(nodisplay::differingFrames(without, onX, count), "");
    EXPECT_EQ(count, 5);
    EXPECT_EQ(none.err.find("XDG_RUNTIME_DIR"), std::string::npos) << none.err;
    EXPECT_EQ(none.err.find("display"), std::string::npos) << none.err;

    CommandResult checked =
        runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR " + binPath("holdfast-script") +
                   " --check " + nodisplay::bundledDemo() + "/data.qzd --password tolvrask");
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_EQ(checked.out + checked.err, "0 errors, 0 warnings\n");
}
