#include "GLTest.h"

#include "platform/GL.h"
#include "platform/Platform.h"

#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

bool ensureGLContext() {
    static int state = 0; // 0 untried, 1 ok, 2 failed
    // Drawn without any display server: the same pixels as under X (the tests of programs that
    // open windows run those under the display that is named).
    if (state == 0)
        state = platform::createHiddenGLContext(800, 600, platform::HiddenDisplay::Offscreen) ? 1 : 2;
    return state == 1;
}

void GLTest::SetUp() {
    if (!ensureGLContext()) GTEST_SKIP() << "no GL context (no display?)";
    glViewport(0, 0, 800, 600);
    while (glGetError() != GL_NO_ERROR) {
    }
}

std::vector<unsigned char> GLTest::pixel(int x, int y) {
    std::vector<unsigned char> rgba(4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

CommandResult runCommand(const std::string& commandLine, int timeoutSeconds) {
    std::string dir = makeTempDir();
    std::string outPath = dir + "/out", errPath = dir + "/err";
    std::string full = "timeout -k 5 " + std::to_string(timeoutSeconds) + " sh -c '" +
                       [&] {
                           std::string quoted;
                           for (char c : commandLine)
                               quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
                           return quoted;
                       }() +
                       "' >" + outPath + " 2>" + errPath + " </dev/null";
    int status = system(full.c_str());
    CommandResult result;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

namespace {
struct TempDirs {
    std::vector<std::string> dirs;
    ~TempDirs() {
        std::error_code ec;
        for (auto& d : dirs)
            fs::remove_all(d, ec);
    }
} tempDirs;
} // namespace

std::string makeTempDir() {
    std::string pattern = (fs::temp_directory_path() / "holdfast-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    char* made = mkdtemp(buffer.data());
    if (!made) return "/tmp";
    tempDirs.dirs.push_back(made);
    return made;
}

void writeFile(const std::string& path, const std::string& contents) {
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string binPath(const std::string& name) {
#ifdef HOLDFAST_BIN_DIR
    return std::string(HOLDFAST_BIN_DIR) + "/" + name;
#else
    return "build/bin/" + name;
#endif
}

namespace {
// Test binaries never wait on a message box, however they are started.
struct Unattended {
    Unattended() {
        setenv("HOLDFAST_UNATTENDED", "1", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
    }
} unattended;
} // namespace

int waitChildExit(int pid, int ms, bool killLate) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < end);
    if (killLate) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return -1;
}
