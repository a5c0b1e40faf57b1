// SDL turns SIGINT and SIGTERM into quit events, which a tool without an event loop never reads.
// A tool holds both signals from its start until its GL context is made (SDL's video start
// installs the handlers), then gives them their default action back and lets any that came
// meanwhile through: Ctrl+C or a kill ends it at once (the shell sees 130 or 143). A signal its
// starter ignored stays ignored: SDL leaves those alone too.
#pragma once

#include <csignal>

namespace tool {

inline sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

inline void holdStopSignals() {
    const sigset_t set = stopSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

inline void endOnStopSignals() {
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(sig, SIG_DFL);
    }
    const sigset_t set = stopSignals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace tool
