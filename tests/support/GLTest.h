// Test support: a current GL context (hidden 800x600 window, offscreen) and running programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Fixture with a current GL context; skips the test when no GL context can be made.
class GLTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // Reads the back buffer's pixel at (x, y) (origin bottom-left) as RGBA bytes.
    std::vector<unsigned char> pixel(int x, int y);
};

// True once a GL context could be made current (creates it on first call).
bool ensureGLContext();

struct CommandResult {
    int exitCode = -1; // 128 + signal when killed by a signal
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing stdout and stderr; `timeoutSeconds` bounds it.
CommandResult runCommand(const std::string& commandLine, int timeoutSeconds = 60);

// Waits up to `ms` for the child process `pid` (started with fork) to end: its exit code (128 +
// the signal when one ended it), or -1 when it still runs then, killed and reaped if `killLate`.
int waitChildExit(int pid, int ms, bool killLate = true);

// A fresh empty directory under the system temp dir, removed at exit.
std::string makeTempDir();
// Writes text to a file, creating parent directories.
void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);

// Path of a built program in build/bin.
std::string binPath(const std::string& name);
