// SDL turns SIGINT and SIGTERM into quit events, which a tool without an event loop never reads.
// Called after the tool's GL context is made (SDL's video start installs the handlers), this gives
// both their default action back, so that Ctrl+C or a kill ends the tool at once (the shell sees
// 130 or 143). A signal its starter ignored stays ignored: SDL leaves those alone too.
#pragma once

#include <csignal>

namespace tool {

inline void endOnStopSignals() {
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            std::signal(sig, SIG_DFL);
    }
}

} // namespace tool
