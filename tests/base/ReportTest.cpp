// Report texts, GL error names, and what fatal and non-fatal reports do to the process.
#include "base/Report.h"
#include "platform/GL.h"

#include "GLTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::vector<report::Record> seen;
void record(const report::Record& r) {
    seen.push_back(r);
}

class ReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seen.clear();
        report::setSink(&record);
    }
    void TearDown() override { report::setSink(nullptr); }
};
} // namespace

TEST_F(ReportTest, NonFatalReportsReturnWithExactTexts) {
    reportError("src/demo/EffectList.cpp", 7, "Effect list empty", false);
    reportErrorInt("src/demo/ScriptLoader.cpp", 42, "Bad count", -3, false);
    reportErrorText("src/demo/EffectList.cpp", 114, "Effect Id not found", "Blur2", false);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].text, "src/demo/EffectList.cpp:7 Effect list empty");
    EXPECT_EQ(seen[1].text, "src/demo/ScriptLoader.cpp:42 Bad count: -3");
    EXPECT_EQ(seen[2].text, "src/demo/EffectList.cpp:114 Effect Id not found: Blur2");
    for (auto& r : seen) {
        EXPECT_EQ(r.caption, "error");
        EXPECT_FALSE(r.fatal);
    }
}

TEST_F(ReportTest, LongDetailIsReportedWhole) {
    std::string longName(5000, 'x');
    reportErrorText("f.cpp", 1, "Effect Id not found", longName.c_str(), false);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "f.cpp:1 Effect Id not found: " + longName);
}

TEST(GLErrorNames, EveryKnownErrorAndUnknown) {
    EXPECT_STREQ(glErrorName(GL_INVALID_ENUM), "GL_INVALID_ENUM");
    EXPECT_STREQ(glErrorName(GL_INVALID_VALUE), "GL_INVALID_VALUE");
    EXPECT_STREQ(glErrorName(GL_INVALID_OPERATION), "GL_INVALID_OPERATION");
    EXPECT_STREQ(glErrorName(GL_STACK_OVERFLOW), "GL_STACK_OVERFLOW");
    EXPECT_STREQ(glErrorName(GL_STACK_UNDERFLOW), "GL_STACK_UNDERFLOW");
    EXPECT_STREQ(glErrorName(GL_OUT_OF_MEMORY), "GL_OUT_OF_MEMORY");
    EXPECT_STREQ(glErrorName(0x0506), "Unknown error");
}

namespace {
void exitHandlerMark() {
    fputs("exit handler ran\n", stderr);
}
} // namespace

TEST(ReportDeath, FatalReportExitsWithOneAndRunsExitHandlers) {
    EXPECT_EXIT(
        {
            atexit(exitHandlerMark);
            reportErrorText("src/demos/main.cpp", 114, "Effect Id not found", "Blur2", true);
            fputs("still running\n", stderr);
        },
        ::testing::ExitedWithCode(1),
        "error: src/demos/main.cpp:114 Effect Id not found: Blur2\n(.|\n)*exit handler ran");
}

TEST(ReportDeath, AssertFailsOnlyWhenFalse) {
    checkAssert(true, "a.cpp", 3);
    EXPECT_EXIT(checkAssert(false, "a.cpp", 3), ::testing::ExitedWithCode(1), "a.cpp:3 assertion failed");
}

TEST_F(GLTest, CheckGLErrorReportsPendingErrorAndExits) {
    seen.clear();
    report::setSink(&record);
    checkGLError("gl.cpp", 9); // nothing pending: returns without a report
    report::setSink(nullptr);
    EXPECT_TRUE(seen.empty());
    EXPECT_EXIT(
        {
            glEnable(0xFFFF); // GL_INVALID_ENUM
            checkGLError("gl.cpp", 9);
        },
        ::testing::ExitedWithCode(1), "gl.cpp:9 GL error: GL_INVALID_ENUM");
}
