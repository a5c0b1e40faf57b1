// The preview's command line.
#pragma once

#include "host/TimelineControl.h"
#include "rocket/RocketProtocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace preview {

struct Options {
    std::string data;
    std::string password = "tolvrask";
    std::string music;
    std::string out;
    std::vector<uint32_t> seekFrames;
    int64_t at = -1;
    int fps = 60;
    bool paused = false;
    ReplayMode jumpMode = ReplayMode::StateOnly;
    bool useRocket = false;
    std::string rocketHost = "127.0.0.1";
    uint16_t rocketPort = rocket::kDefaultPort;
    double rowMs = 0; // 0: a quarter of DEMO_BEAT
};

// Prints the problem (when given) and the usage to stderr; returns the exit code 2.
int usage(const char* problem);

// 0: go on; -1: --help or --version answered; else the usage error's exit code.
int parseOptions(int argc, char** argv, Options& o);

} // namespace preview
