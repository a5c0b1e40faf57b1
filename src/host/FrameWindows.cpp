#include "host/FrameWindows.h"

void FrameWindows::start(double wall, double cpu) {
    startWall = lastWall = windowWall = wall;
    startCpu = lastCpu = windowCpu = cpu;
    windowFrames = 0;
    total = 0;
    anyWindow = false;
    worstFpsSeen = worstCpuSeen = 0;
}

void FrameWindows::frame(double wall, double cpu) {
    lastWall = wall;
    lastCpu = cpu;
    ++total;
    ++windowFrames;
    const double span = wall - windowWall;
    if (span < 1.0) return;
    const double fps = windowFrames / span;
    const double cpuUs = (cpu - windowCpu) * 1e6 / windowFrames;
    if (!anyWindow || fps < worstFpsSeen) worstFpsSeen = fps;
    if (!anyWindow || cpuUs > worstCpuSeen) worstCpuSeen = cpuUs;
    anyWindow = true;
    windowWall = wall;
    windowCpu = cpu;
    windowFrames = 0;
}

double FrameWindows::meanCpuUsPerFrame() const {
    return total ? (lastCpu - startCpu) * 1e6 / total : 0.0;
}

double FrameWindows::worstFps() const {
    if (anyWindow) return worstFpsSeen;
    const double span = lastWall - startWall;
    return span > 0 ? total / span : 0.0;
}

double FrameWindows::worstCpuUsPerFrame() const { return anyWindow ? worstCpuSeen : meanCpuUsPerFrame(); }
