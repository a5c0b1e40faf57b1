// The authoring tools' common command-line behaviour: --help and --version on stdout with exit
// code 0, usage errors with exit code 2 and the usage text on stderr.
#include "GLTest.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kTools[] = {"holdfast-script",   "holdfast-pack",  "holdfast-makemusic",
                              "holdfast-makedemo", "holdfast-scene", "holdfast-capture",
                              "holdfast-preview"};
// The tools that share tools/common/ToolOptions.h: --help lists the common options, and either option
// wins wherever it stands.
bool sharesToolOptions(const std::string& name) {
    return name != "holdfast-scene" && name != "holdfast-capture" && name != "holdfast-preview";
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

} // namespace

TEST(ToolOptions, HelpAndVersionGoToStdoutWithExitCodeZero) {
    for (const char* name : kTools) {
        SCOPED_TRACE(name);
        CommandResult version = runCommand(binPath(name) + " --version", 60);
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, std::string(name) + " " + HOLDFAST_VERSION + "\n");
        EXPECT_EQ(version.err, "");

        CommandResult help = runCommand(binPath(name) + " --help", 60);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(firstLine(help.out).rfind(std::string("usage: ") + name, 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");
        if (!sharesToolOptions(name)) continue;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;

        // Either one wins over the other arguments, even ones that would be a usage error.
        CommandResult mixed = runCommand(binPath(name) + " --no-such-option --version", 60);
        EXPECT_EQ(mixed.exitCode, 0);
        EXPECT_EQ(firstLine(mixed.out), std::string(name) + " " + HOLDFAST_VERSION);
    }
}

TEST(ToolOptions, UsageErrorsExitWithTwoAndTheUsageOnStderr) {
    for (const char* name : kTools) {
        for (const char* args : {" --no-such-option", ""}) {
            SCOPED_TRACE(std::string(name) + args);
            CommandResult r = runCommand(binPath(name) + args, 60);
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(std::string("usage: ") + name), std::string::npos) << r.err;
        }
    }
    // Values out of range are usage errors too.
    CommandResult music = runCommand(binPath("holdfast-makemusic") + " out.ogg --seconds 0", 60);
    EXPECT_EQ(music.exitCode, 2);
    CommandResult script = runCommand(binPath("holdfast-script") + " --password pw demo.scr", 60);
    EXPECT_EQ(script.exitCode, 2);
}
