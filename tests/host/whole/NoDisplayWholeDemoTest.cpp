// The whole bundled demo a frame a second, captured on an X server and with no display server at
// all: every frame the same, byte for byte. A minute, so CTest labels it "slow".
#include "../NoDisplayCaptureTest.h"
#include "X11Control.h"

#include <gtest/gtest.h>

TEST(NoDisplay, TheWholeDemoIsCapturedWithoutAnyDisplayServerAsUnderX) {
    PrivateDisplay display;
    if (!display.ok()) GTEST_SKIP() << "needs Xvfb";
    const std::string everyFrame = "--fps 1 --from 0 --to 286000 --step 1000";
    const std::string onX = makeTempDir(), without = makeTempDir();
    CommandResult x = nodisplay::capture(everyFrame, onX, true, 600);
    ASSERT_EQ(x.exitCode, 0) << x.err;
    CommandResult none = nodisplay::capture(everyFrame, without, false, 600);
    ASSERT_EQ(none.exitCode, 0) << none.err;
    int count = 0;
    EXPECT_EQ(nodisplay::differingFrames(without, onX, count), "");
    EXPECT_EQ(count, 287);
}
