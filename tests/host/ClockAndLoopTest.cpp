// The demo clock's arithmetic and the frame loop's end conditions, with injected time and events.
#include "base/RunState.h"
#include "host/DemoClock.h"
#include "host/DemoEngine.h"
#include "host/FrameLoop.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {
int64_t fakeTicks = 0;
int64_t fakeCounter() {
    return fakeTicks;
}
} // namespace

TEST(DemoClock, OffsetIsTheFirstReading) {
    DemoClock clock;
    clock.setOffset(5000);
    clock.start();
    int t = clock.now();
    EXPECT_GE(t, 5000);
    EXPECT_LT(t, 5100);
}

TEST(DemoClock, ThousandPerSecondWhateverTheTickRateWrappingAt32Bits) {
    for (int64_t frequency : {1000LL, 3579545LL, 1000000000LL}) {
        DemoClock clock(&fakeCounter, frequency);
        fakeTicks = 123456789;
        clock.setOffset(0);
        clock.start();
        fakeTicks += (frequency * 7 + 1) / 2; // 3.5 s, rounded up
        EXPECT_EQ(clock.now(), 3500) << frequency;
        fakeTicks += frequency / 1000 - 1; // just under one more ms: truncated
        EXPECT_EQ(clock.now(), 3500) << frequency;
    }

    // A negative start reads as a huge unsigned time; readings wrap at 32 bits.
    DemoClock clock(&fakeCounter, 1000);
    fakeTicks = 0;
    clock.setOffset(-2000);
    clock.start();
    fakeTicks = 500;
    EXPECT_EQ(clock.now(), -1500);
    EXPECT_GT(static_cast<unsigned>(clock.now()), kDemoEndTime);
    fakeTicks = 0;
    clock.setOffset(0x7fffffff);
    clock.start();
    fakeTicks = 1;
    EXPECT_EQ(static_cast<unsigned>(clock.now()), 0x80000000u);
}

namespace {
// Scripted driver: each call to now() returns the next time; records what happened.
struct ScriptedDriver : FrameLoopDriver {
    std::deque<platform::Event> events;
    std::deque<int> times;
    int lastTime = 0;
    std::vector<std::string> log;

    bool pollEvent(platform::Event& event) override {
        if (events.empty()) return false;
        event = events.front();
        events.pop_front();
        return true;
    }
    void dispatch(const platform::Event& event) override { DemoEngine::windowProc(event); }
    void clear() override { log.push_back("clear"); }
    int now() override {
        if (!times.empty()) {
            lastTime = times.front();
            times.pop_front();
        }
        return lastTime;
    }
    void renderFrame(int t) override { log.push_back("render " + std::to_string(t)); }
    void present() override { log.push_back("present"); }
};

platform::Event key(platform::EventType type, bool escape) {
    platform::Event e;
    e.type = type;
    e.escape = escape;
    return e;
}

class FrameLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        quitRequested = false;
        inputEnabled = true;
    }
    void TearDown() override {
        quitRequested = false;
        inputEnabled = false;
    }
};
} // namespace

TEST_F(FrameLoopTest, TimePastTheEndOrBeforeZeroEndsWithoutPresentingThatFrame) {
    ScriptedDriver d;
    d.times = {285990, 285995, 286000, 286000, 286001, 286001};
    unsigned long frames = runFrameLoop(d);
    EXPECT_EQ(frames, 2u);
    std::vector<std::string> expected = {"clear",         "render 285990", "present", "clear",
                                         "render 286000", "present",       "clear",   "render 286001"};
    EXPECT_EQ(d.log, expected);

    // A negative start is past the end too: one frame rendered, never presented.
    ScriptedDriver before;
    before.times = {-100, -99};
    EXPECT_EQ(runFrameLoop(before), 0u);
    EXPECT_EQ(before.log, (std::vector<std::string>{"clear", "render -100"}));
}

TEST_F(FrameLoopTest, QuitEndsBeforeClearAndRenderEscapeAfterThePresent) {
    ScriptedDriver d;
    d.times = {10, 10, 20, 20, 30, 30};
    d.events = {key(platform::EventType::Other, false), key(platform::EventType::Quit, false)};
    EXPECT_EQ(runFrameLoop(d), 1u);
    EXPECT_EQ(d.log, (std::vector<std::string>{"clear", "render 10", "present"}));
    EXPECT_TRUE(quitRequested);

    // Escape ends after the current frame is presented.
    quitRequested = false;
    ScriptedDriver escape;
    escape.events = {key(platform::EventType::KeyUp, true), key(platform::EventType::KeyDown, false),
                     key(platform::EventType::KeyDown, true)};
    EXPECT_EQ(runFrameLoop(escape), 3u);
    EXPECT_TRUE(quitRequested);
}

TEST_F(FrameLoopTest, EscapeAndCloseBeforeInputIsEnabledDoNothing) {
    inputEnabled = false;
    ScriptedDriver d;
    d.times = {0, 0, 10, 10, 20, 20, 286001, 286001};
    d.events = {key(platform::EventType::KeyDown, true), key(platform::EventType::CloseRequest, false),
                key(platform::EventType::KeyUp, true)};
    EXPECT_EQ(runFrameLoop(d), 3u); // only the end time stops it
    EXPECT_FALSE(quitRequested);
    EXPECT_EQ(d.log.back(), "render 286001");

    DemoEngine::windowProc(key(platform::EventType::KeyDown, true));
    EXPECT_FALSE(quitRequested);
    inputEnabled = true;
    DemoEngine::windowProc(key(platform::EventType::KeyDown, true));
    EXPECT_TRUE(quitRequested);
}
