// A holdfast-preview started in its own process with its stderr in a file, for tests that drive
// its window with keys. Killed at the end of the scope if still running.
#pragma once

#include "GLTest.h"
#include "X11Control.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

struct PreviewProcess {
    pid_t pid = -1;
    std::string errPath;
    unsigned long window = 0;

    PreviewProcess(const std::string& demo, const std::string& arguments) {
        errPath = makeTempDir() + "/stderr.txt";
        pid = fork();
        if (pid == 0) {
            if (!freopen(errPath.c_str(), "w", stderr)) _exit(97);
            setenv("HOLDFAST_UNATTENDED", "1", 1);
            setenv("SDL_AUDIODRIVER", "dummy", 1);
            const std::string command = binPath("holdfast-preview") + " --data " + demo + " " + arguments;
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            _exit(98);
        }
        window = waitForWindowTitled("holdfast-preview", 30000, pid);
    }
    ~PreviewProcess() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    PreviewProcess(const PreviewProcess&) = delete;
    PreviewProcess& operator=(const PreviewProcess&) = delete;

    bool running() const { return waitpid(pid, nullptr, WNOHANG) == 0; }
    std::string err() const { return readFile(errPath); }
    // Exit code after Escape (128 + the signal if one ended it), or -1 if it does not end.
    int quit() {
        sendKey(window, "Escape");
        const int code = waitChildExit(pid, 20000, false);
        if (code >= 0) pid = -1;
        return code;
    }
};
