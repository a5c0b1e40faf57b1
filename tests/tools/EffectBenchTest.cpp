// The per-effect bench runner as a whole program: its options, and every bench script rendered
// for a couple of frames from a generated data folder (so a broken script fails here, not in the
// middle of a benchmark run).
#include "GLTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

bool haveRunner() {
    return fs::exists(binPath("effect-bench")) && fs::exists(binPath("blur-reference"));
}

} // namespace

TEST(EffectBench, AnswersHelpVersionAndBadArguments) {
    if (!haveRunner()) GTEST_SKIP() << "built without the benchmarks";
    for (const char* program : {"effect-bench", "blur-reference", "shader-reference"}) {
        CommandResult help = runCommand(binPath(program) + " --help");
        EXPECT_EQ(help.exitCode, 0) << program;
        EXPECT_NE(help.out.find(program), std::string::npos) << program;
        CommandResult version = runCommand(binPath(program) + " --version");
        EXPECT_EQ(version.exitCode, 0) << program;
        EXPECT_NE(version.out.find(HOLDFAST_VERSION), std::string::npos) << program;
        CommandResult bad = runCommand(binPath(program) + " --frames -3");
        EXPECT_EQ(bad.exitCode, 2) << program;
        EXPECT_NE(bad.err.find("usage"), std::string::npos) << program;
    }
    CommandResult missing =
        runCommand(binPath("effect-bench") + " --data /nonexistent --script /nonexistent.scr");
    EXPECT_EQ(missing.exitCode, 2);
}

TEST(EffectBench, RendersEveryBenchScript) {
    if (!haveRunner()) GTEST_SKIP() << "built without the benchmarks";
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string data = makeTempDir();
    CommandResult made = runCommand(
        binPath("holdfast-makedemo") + " --content " + HOLDFAST_SOURCE_DIR + "/content --out " + data, 600);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    int scripts = 0, copyModeScripts = 0;
    for (const auto& entry : fs::directory_iterator(std::string(HOLDFAST_SOURCE_DIR) + "/bench/effects")) {
        if (entry.path().extension() != ".scr") continue;
        ++scripts;
        // Copy mode changes only what draws into depth render targets: Blur, DOF and the scenes.
        const std::string text = readFile(entry.path().string());
        const bool depthTargets = text.find("INSERT_EFFECT Blur") != std::string::npos ||
                                  text.find("INSERT_EFFECT DOF") != std::string::npos ||
                                  text.find("INSERT_EFFECT Scene") != std::string::npos;
        copyModeScripts += depthTargets;
        for (const char* mode : {"", " --copy-mode"}) {
            if (*mode && !depthTargets) continue;
            CommandResult r = runCommand(binPath("effect-bench") + " --data " + data + " --script " +
                                             entry.path().string() + " --frames 2 --warmup 1" + mode,
                                         300);
            EXPECT_EQ(r.exitCode, 0) << entry.path() << mode << "\n" << r.err;
            EXPECT_EQ(r.out.rfind("frames=2 ", 0), 0u) << entry.path() << mode << "\n" << r.out;
            // No GL error was reported on the way.
            EXPECT_EQ(r.err.find("GL_INVALID"), std::string::npos) << entry.path() << mode << "\n" << r.err;
            EXPECT_EQ(r.err.find("GL_OUT_OF"), std::string::npos) << entry.path() << mode << "\n" << r.err;
        }
    }
    EXPECT_GE(scripts, 3);
    EXPECT_GE(copyModeScripts, 3);
}
