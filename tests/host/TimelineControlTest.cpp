// What the authoring tools build on: the frame grid, catching fatal reports, reloading a script
// without losing the running one, the parts of a script, replays and the kept GL state.
#include "host/TimelineControl.h"
#include "base/Report.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "host/FrameGrid.h"
#include "platform/GL.h"

#include "GLTest.h"

#include <gtest/gtest.h>

#include <string>

TEST(FrameGrid, EveryTimeFallsBetweenTwoNeighbouringFrames) {
    for (int fps : {1, 7, 24, 25, 30, 60, 144, 1000}) {
        for (int start : {0, 250, -1000}) {
            const FrameGrid grid(start, fps);
            EXPECT_EQ(grid.timeOf(0), start);
            for (int64_t t = start - 5; t < start + 3000; t += 7) {
                const int64_t k = grid.frameAt(t);
                if (t < start) {
                    EXPECT_EQ(k, 0) << fps << " " << t;
                    continue;
                }
                EXPECT_LE(grid.timeOf(k), t) << fps << " " << t;
                EXPECT_GT(grid.timeOf(k + 1), t) << fps << " " << t;
                const int64_t first = grid.firstFrameFrom(t);
                EXPECT_GE(grid.timeOf(first), t) << fps << " " << t;
                if (first > 0) {
                    EXPECT_LT(grid.timeOf(first - 1), t) << fps << " " << t;
                }
            }
        }
    }
    // 60 frames per second: 16 or 17 ms apart, truncated like a millisecond clock.
    const FrameGrid grid(0, 60);
    EXPECT_EQ(grid.timeOf(1), 16);
    EXPECT_EQ(grid.timeOf(2), 33);
    EXPECT_EQ(grid.timeOf(60), 1000);
    EXPECT_EQ(grid.frameAt(2147483647), 128849018); // no overflow at the largest demo time
}

TEST(FatalGuard, TurnsFatalReportsIntoExceptionsWhileItLives) {
    {
        report::FatalGuard outer;
        {
            report::FatalGuard inner;
            EXPECT_THROW(reportError("a.cpp", 1, "first", true), report::FatalError);
        }
        try {
            reportErrorText("b.cpp", 2, "Effect Id not found", "X", true);
            FAIL() << "a fatal report returned";
        } catch (const report::FatalError& e) {
            EXPECT_EQ(e.record.text, "b.cpp:2 Effect Id not found: X");
            EXPECT_TRUE(e.record.fatal);
        }
        // Non-fatal reports still just return.
        EXPECT_NO_THROW(reportError("c.cpp", 3, "note", false));
    }
    // Without a guard a fatal report ends the process, as ever.
    EXPECT_EXIT(reportError("d.cpp", 4, "end", true), ::testing::ExitedWithCode(1), "d.cpp:4 end");
}

namespace {

const char* kGoodScript = R"(__HEADER__
DEMO_START 100
DEMO_END 5000
DEMO_BEAT 50
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Invert
__TIMELINE__
0 BEGIN Clear
0 INIT Clear
200 INIT Invert
)";

class TimelineReload : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        ScriptProblem problem;
        ASSERT_TRUE(loadScript(kGoodScript, problem)) << problem.message;
    }
};

} // namespace

TEST_F(TimelineReload, ABrokenScriptLeavesTheRunningTimelineAsItWas) {
    deliverDueSignals(150);
    EffectList* list = effectList;
    SignalQueue* queue = signalQueue;
    Effect* clear = effectList->findEffect("Clear");
    ASSERT_NE(clear, nullptr);
    lastPatternIndex = 3;

    struct Case {
        std::string script;
        std::string message;
        int line;
    };
    for (const Case& c :
         {Case{"__DEFS__\nINSERT_EFFECT Clear\n\nINSERT_EFFECT Nope\nINSERT_EFFECT Fade\n",
               "Effect Id not found: Nope", 4},
          Case{"DEMO_START 7\n__TIMELINE__\n0 BEGIN Clear\n", "Effect not found: Clear", 3},
          Case{"__DEFS__\nINSERT_EFFECT Clear\n__TIMELINE__\nLATER b Clear\n", "DEFINE not found: LATER", 4},
          Case{"__DEFS__\nINSERT_EFFECT Clear\n__TIMELINE__\n0 t Clear X \"\"\n", "Error in script string",
               4}}) {
        ScriptProblem problem;
        EXPECT_FALSE(loadScript(c.script, problem)) << c.script;
        EXPECT_NE(problem.message.find(c.message), std::string::npos) << problem.message;
        EXPECT_EQ(problem.scriptLine, c.line) << c.script;
        // The same list, queue, effects and progress as before.
        EXPECT_EQ(effectList, list);
        EXPECT_EQ(signalQueue, queue);
        ASSERT_EQ(effectList->effects().size(), 2u);
        EXPECT_EQ(effectList->effects()[0], clear);
        EXPECT_EQ(signalQueue->position(), 1u);
        EXPECT_EQ(demoStartTime, 100);
        EXPECT_EQ(beatLength, 50);
        EXPECT_EQ(trackEndTime, 5000);
        EXPECT_EQ(lastPatternIndex, 3);
        EXPECT_EQ(scriptLoader.currentLine(), 0); // outside a load
    }
    // The timeline goes on where it was: the INIT at 200 is still to come.
    deliverDueSignals(250);
    EXPECT_EQ(signalQueue->position(), 2u);

    // A good script replaces it and starts from scratch.
    ScriptProblem problem;
    ASSERT_TRUE(loadScript("DEMO_START 0\n__DEFS__\nINSERT_EFFECT Fade\n", problem)) << problem.message;
    ASSERT_EQ(effectList->effects().size(), 1u);
    EXPECT_EQ(effectList->effects()[0]->name, "Fade");
    EXPECT_EQ(signalQueue->position(), 0u);
    EXPECT_EQ(demoStartTime, 0);
    EXPECT_EQ(lastPatternIndex, 1000);
}

TEST_F(TimelineReload, ReplayEndsWithTheFullScreenStateAndTheKeptStartStateComesBack) {
    keepStartGLState();
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    keepStartGLState(); // nested keeps are harmless: each restore returns to the newest
    // Invert leaves texturing on after it draws; a restore takes that back.
    replayTimeline(FrameGrid(demoStartTime, 60), 30, 3, nullptr);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], screenWidth);
    EXPECT_EQ(viewport[3], screenHeight);
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    restoreStartGLState();
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLfloat projection[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_FLOAT_EQ(projection[0], 1.0f);
    EXPECT_FLOAT_EQ(projection[12], 0.0f);
    restoreStartGLState();
    restoreStartGLState();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TimelineReload, AStateOnlyReplayHandsOverEverySignalBeforeTheDrawnFrames) {
    // Frames at 100 + k * 1000 / 60 ms: the drawn frames 28 to 30 start at 566 ms, after both INITs.
    int drawnFrom = -1;
    static int* firstDrawn = &drawnFrom;
    replayTimeline(
        FrameGrid(demoStartTime, 60), 30, 3,
        [](int t) {
            if (*firstDrawn < 0) *firstDrawn = t;
        },
        ReplayMode::StateOnly);
    EXPECT_EQ(drawnFrom, 566);
    EXPECT_EQ(signalQueue->position(), 2u);
    EXPECT_EQ(effectList->findEffect("Invert")->startTime, 200);
}

TEST(TimelineSections, NamesThatBeginATimelineLineOnTheirOwn) {
    const char* script = R"(__DEFS__
DEFINE BEAT 500
DEFINE INTRO 0
DEFINE GROOVE 32000
DEFINE BUILD 112000
DEFINE DROP 128000
DEFINE FADESPEED 22
GROOVE SIGNAL Clear Red 1
__TIMELINE__
// ---- colours ----
INTRO SIGNAL Clear Red 0
   DROP s Clear Red 1
BEAT * 4 + BUILD b Invert
GROOVE s Clear Blue 0.1
GROOVE - BEAT e Invert
0 TRIGGER Fade FADESPEED 800
)";
    const std::map<std::string, int> defines = {{"BEAT", 500},     {"INTRO", 0},     {"GROOVE", 32000},
                                                {"BUILD", 112000}, {"DROP", 128000}, {"FADESPEED", 22}};
    const std::vector<TimelineSection> sections = timelineSections(script, defines);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].name, "INTRO");
    EXPECT_EQ(sections[1].name, "GROOVE");
    EXPECT_EQ(sections[2].name, "DROP");
    EXPECT_EQ(sectionAt(sections, -1), "");
    EXPECT_EQ(sectionAt(sections, 0), "INTRO");
    EXPECT_EQ(sectionAt(sections, 31999), "INTRO");
    EXPECT_EQ(sectionAt(sections, 32000), "GROOVE");
    EXPECT_EQ(sectionAt(sections, 200000), "DROP");
    EXPECT_TRUE(timelineSections(script, {}).empty());
}
