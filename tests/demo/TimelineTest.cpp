// The effect list, the signal queue and the frame step.
#include "ProbeEffect.h"

#include "GLTest.h"
#include "base/RunState.h"
#include "demo/FrameStep.h"
#include "demo/SignalQueue.h"
#include "platform/GL.h"

#include <gtest/gtest.h>

namespace {

Signal at(int time, const std::string& effect, int type = 0) {
    Signal s;
    s.time = time;
    s.effectName = effect;
    s.type = type;
    return s;
}

std::vector<std::string> drain(SignalQueue& q, int time) {
    std::vector<std::string> out;
    while (q.isDue(time)) {
        const Signal& s = q.next();
        out.push_back(std::to_string(s.time) + s.effectName);
    }
    return out;
}

TEST(SignalQueue, TimesCompareUnsignedAndEqualTimesKeepScriptOrder) {
    SignalQueue q;
    q.add(at(2000, "A"));
    q.add(at(1000, "B"));
    q.add(at(2000, "C"));
    q.add(at(500, "D"));
    q.add(at(1000, "E"));
    q.add(at(2000, "F"));
    q.sortAndRewind();
    EXPECT_EQ(drain(q, 999), (std::vector<std::string>{"500D"}));
    EXPECT_EQ(drain(q, 5000), (std::vector<std::string>{"1000B", "1000E", "2000A", "2000C", "2000F"}));
    EXPECT_FALSE(q.isDue(100000));

    q.clear();
    q.add(at(-5, "Late"));
    q.add(at(3000, "Early"));
    q.sortAndRewind();
    // A negative time is a huge unsigned one: it waits at the end instead of blocking the queue.
    EXPECT_EQ(drain(q, 3000), (std::vector<std::string>{"3000Early"}));
    EXPECT_EQ(drain(q, -1), (std::vector<std::string>{"-5Late"}));

    q.clear();
    EXPECT_FALSE(q.isDue(-1));
    EXPECT_EQ(q.position(), 0u);
}

class Timeline : public ::testing::Test {
  protected:
    ProbeEffect* probe(const std::string& name) {
        return static_cast<ProbeEffect*>(effectList->findEffect(name));
    }
    DemoFixtureState state;
};

TEST_F(Timeline, CreateEffectStartsWithAnInactiveTrackAndUnknownNamesAreFatal) {
    trackEndTime = 60000;
    ASSERT_TRUE(effectList->createEffect("ProbeA"));
    ProbeEffect* a = probe("ProbeA");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->activeTrack.keys.size(), 2u);
    EXPECT_EQ(a->activeTrack.keys[0].time, 0);
    EXPECT_EQ(a->activeTrack.keys[1].time, 60000);
    EXPECT_FALSE(a->activeTrack.keys[0].value);
    EXPECT_FALSE(a->activeTrack.keys[1].value);
    EXPECT_EQ(effectList->findEffect("Probe"), nullptr); // exact names only
    EXPECT_EQ(effectList->findEffect("ProbeAA"), nullptr);

    // Unknown names are fatal.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(effectList->createEffect("Blur2"), ::testing::ExitedWithCode(1),
                "Effect Id not found: Blur2");
    EXPECT_EXIT(effectList->createEffect("blur"), ::testing::ExitedWithCode(1), "Effect Id not found: blur");
    // Known names are matched exactly: another case or a prefix is still unknown.
    EffectList::setTestFactory(nullptr);
    EXPECT_EXIT(effectList->createEffect("Scene"), ::testing::ExitedWithCode(1),
                "Effect Id not found: Scene");
}

TEST_F(Timeline, TheFirstOfTwoSameNamedEffectsGetsEverything) {
    effectList->createEffect("Blur");
    effectList->createEffect("Blur");
    ASSERT_EQ(effectList->effects().size(), 2u);
    auto* first = static_cast<ProbeEffect*>(effectList->effects()[0]);
    auto* second = static_cast<ProbeEffect*>(effectList->effects()[1]);
    EXPECT_EQ(effectList->findEffect("Blur"), first);
    signalQueue->add(at(10, "Blur", 7));
    signalQueue->sortAndRewind();
    deliverDueSignals(10);
    EXPECT_EQ(first->received.size(), 1u);
    EXPECT_TRUE(second->received.empty());
}

TEST_F(Timeline, ClearEffectsDestroysEveryEffect) {
    effectList->createEffect("ProbeA");
    effectList->createEffect("ProbeB");
    ProbeEffect::destroyed = 0;
    effectList->clearEffects();
    EXPECT_EQ(ProbeEffect::destroyed, 2);
    EXPECT_TRUE(effectList->effects().empty());
}

// The frame step without GL: signal delivery is its first step.
TEST_F(Timeline, AJumpDeliversEverySignalInBetweenInTimeOrder) {
    effectList->createEffect("ProbeA");
    for (int t : {5001, 900, 5000, 901, 2500})
        signalQueue->add(at(t, "ProbeA", 3));
    signalQueue->add(at(2500, "Missing", 3)); // dropped, and does not hold up the queue
    signalQueue->add(at(2600, "ProbeA", 4));
    signalQueue->sortAndRewind();

    deliverDueSignals(900);
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeA 3 @900"}));
    probeLog().clear();
    deliverDueSignals(5000);
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeA 3 @901", "signal ProbeA 3 @2500",
                                                    "signal ProbeA 4 @2600", "signal ProbeA 3 @5000"}));
    probeLog().clear();
    deliverDueSignals(5000); // each signal once
    EXPECT_TRUE(probeLog().empty());
}

class FrameStep : public GLTest {
  protected:
    ProbeEffect* add(const std::string& name, int begin, int end) {
        effectList->createEffect(name);
        auto* e = static_cast<ProbeEffect*>(effectList->findEffect(name));
        if (begin >= 0) e->activeTrack.addKey(1.0f, begin);
        if (end >= 0) e->activeTrack.addKey(0.0f, end);
        return e;
    }
    ProbeEffect* probe(const std::string& name) {
        return static_cast<ProbeEffect*>(effectList->findEffect(name));
    }
    void SetUp() override {
        GLTest::SetUp();
        trackEndTime = 60000;
    }
    DemoFixtureState state;
};

TEST_F(FrameStep, SignalsFirstThenUpdatesThenRendersInListOrder) {
    add("ProbeA", 1000, 5000);
    ProbeEffect* idle = add("ProbeIdle", -1, -1);
    add("ProbeB", 0, -1);
    for (int t : {4000, 900, 5000})
        signalQueue->add(at(t, "ProbeIdle", 9));
    signalQueue->add(at(4500, "ProbeA", 0));
    signalQueue->sortAndRewind();

    renderFrame(900);
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeIdle 9 @900", "update ProbeB 900",
                                                    "render ProbeB 900"}));
    probeLog().clear();

    renderFrame(4999);
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeIdle 9 @4000", "signal ProbeA 0 @4500",
                                                    "update ProbeA 4999", "update ProbeB 4999",
                                                    "render ProbeA 4999", "render ProbeB 4999"}));
    EXPECT_EQ(probe("ProbeA")->elapsed, 499); // restarted by its INIT signal at 4500
    probeLog().clear();

    renderFrame(5000); // END at 5000: the effect ran up to 4999
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeIdle 9 @5000", "update ProbeB 5000",
                                                    "render ProbeB 5000"}));
    // Never active, yet it got every signal.
    EXPECT_EQ(idle->received.size(), 3u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameStep, AFrameThatJumpsDeliversTheSkippedSignalsBeforeAnyUpdate) {
    add("ProbeA", 0, -1);
    for (int t : {5001, 900, 5000, 901, 3000})
        signalQueue->add(at(t, "ProbeA", 3));
    signalQueue->sortAndRewind();
    renderFrame(900);
    probeLog().clear();

    renderFrame(5000);
    EXPECT_EQ(probeLog(), (std::vector<std::string>{"signal ProbeA 3 @901", "signal ProbeA 3 @3000",
                                                    "signal ProbeA 3 @5000", "update ProbeA 5000",
                                                    "render ProbeA 5000"}));
}

struct GLSeen {
    GLint viewport[4] = {0, 0, 0, 0};
    GLint projectionDepth = 0;
    GLint modelviewDepth = 0;
    GLint mode = 0;
};
GLSeen seen;

TEST_F(FrameStep, RenderPassRunsInsidePushedMatricesAndTheFullViewport) {
    ProbeEffect* e = add("ProbeA", 0, -1);
    e->onRender = [](ProbeEffect&, int) {
        glGetIntegerv(GL_VIEWPORT, seen.viewport);
        glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &seen.projectionDepth);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &seen.modelviewDepth);
        glGetIntegerv(GL_MATRIX_MODE, &seen.mode);
        // An effect that sets up its own projection must not leak it into the next frame.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 1, 0, 1, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glTranslatef(5, 5, 5);
    };
    glViewport(10, 10, 20, 20);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    GLint projectionBefore = 0, modelviewBefore = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projectionBefore);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelviewBefore);

    renderFrame(100);

    EXPECT_EQ(seen.viewport[0], 0);
    EXPECT_EQ(seen.viewport[1], 0);
    EXPECT_EQ(seen.viewport[2], screenWidth);
    EXPECT_EQ(seen.viewport[3], screenHeight);
    EXPECT_EQ(seen.projectionDepth, projectionBefore + 1);
    EXPECT_EQ(seen.modelviewDepth, modelviewBefore + 1);
    EXPECT_EQ(seen.mode, GL_MODELVIEW);

    GLint depth = 0, mode = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, projectionBefore);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, modelviewBefore);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 1.0f);
    EXPECT_FLOAT_EQ(m[12], 0.0f);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_FLOAT_EQ(m[12], 0.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(FrameStep, NothingHappensWithoutAnEffectList) {
    add("ProbeA", 0, -1);
    signalQueue->add(at(0, "ProbeA", 1));
    signalQueue->sortAndRewind();
    EffectList* saved = effectList;
    effectList = nullptr;
    renderFrame(100);
    effectList = saved;
    EXPECT_TRUE(probeLog().empty());
    EXPECT_TRUE(signalQueue->isDue(100)); // still waiting for the first real frame
}

} // namespace
