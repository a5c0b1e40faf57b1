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

// The window still open counts once it is half a second long: a run often ends in its heaviest part.
bool FrameWindows::tailCounts() const {
    return windowFrames > 0 && lastWall - windowWall >= 0.5;
}

double FrameWindows::worstFps() const {
    double worst = worstFpsSeen;
    if (tailCounts()) {
        const double fps = windowFrames / (lastWall - windowWall);
        if (!anyWindow || fps < worst) worst = fps;
    } else if (!anyWindow) {
        const double span = lastWall - startWall;
        worst = span > 0 ? total / span : 0.0;
    }
    return worst;
}

double FrameWindows::worstCpuUsPerFrame() const {
    double worst = worstCpuSeen;
    if (tailCounts()) {
        const double cpuUs = (lastCpu - windowCpu) * 1e6 / windowFrames;
        if (!anyWindow || cpuUs > worst) worst = cpuUs;
    } else if (!anyWindow) {
        worst = meanCpuUsPerFrame();
    }
    return worst;
}
