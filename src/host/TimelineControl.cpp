#include "host/TimelineControl.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "engine/SceneLoaderQZG.h"
#include "host/FrameLoop.h"
#include "platform/GL.h"

#include <algorithm>
#include <sstream>

namespace {
int failingLine = 0;
report::Sink outerSink = nullptr; // a tool's own, which hears every report of the load too

void noteLine(const report::Record& record) {
    if (record.fatal) failingLine = scriptLoader.currentLine();
    if (outerSink) outerSink(record);
}

// What a script load sets besides the list and the queue.
struct TimelineGlobals {
    int start = demoStartTime, end = demoEndTime, beat = beatLength, trackEnd = trackEndTime,
        pattern = lastPatternIndex, length = demoLength;
    void restore() const {
        demoLength = length;
        demoStartTime = start;
        demoEndTime = end;
        beatLength = beat;
        trackEndTime = trackEnd;
        lastPatternIndex = pattern;
    }
};

// The value lastPatternIndex has when the program starts: no step seen yet.
constexpr int kNoPatternStep = 1000;
} // namespace

namespace {
constexpr int kKeptTextureUnits = 4;
struct StartMatrices {
    bool kept = false;
    GLfloat modelview[16], projection[16], texture[kKeptTextureUnits][16];
    GLint textureUnits = 1;
} startMatrices;
} // namespace

void keepStartGLState() {
    StartMatrices& m = startMatrices;
    glGetFloatv(GL_MODELVIEW_MATRIX, m.modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, m.projection);
    GLint active = GL_TEXTURE0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &m.textureUnits);
    m.textureUnits = std::clamp(m.textureUnits, 1, kKeptTextureUnits);
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    for (int unit = 0; unit < m.textureUnits; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glGetFloatv(GL_TEXTURE_MATRIX, m.texture[unit]);
    }
    glActiveTexture(static_cast<GLenum>(active));
    glMatrixMode(static_cast<GLenum>(mode));
    // Everything else the attribute stacks hold: enables, bindings, blending, colours.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    m.kept = true;
}

void restoreStartGLState() {
    StartMatrices& m = startMatrices;
    if (!m.kept) return;
    for (int unit = 0; unit < m.textureUnits; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        glMatrixMode(GL_TEXTURE);
        glLoadMatrixf(m.texture[unit]);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(m.projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m.modelview);
    // The pops bring back the matrix mode and the active unit too.
    glPopClientAttrib();
    glPopAttrib();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
}

bool readScript(const char* fileName, std::string& text, ScriptProblem& problem) {
    DataFile file(fileName);
    if (!file.isOpen()) {
        problem.message = std::string("script: could not open file for parsing: ") + fileName;
        problem.scriptLine = 0;
        return false;
    }
    text.assign(reinterpret_cast<const char*>(file.getData()), file.getSize());
    return true;
}

bool loadScript(const std::string& text, ScriptProblem& problem) {
    EffectList* oldList = effectList;
    SignalQueue* oldQueue = signalQueue;
    const TimelineGlobals saved;
    // The new effects read their scenes from the files, as at the program's start: the cached
    // ones carry what the running timeline did to them (cameras, hidden objects, lights).
    SceneCache::Scenes oldScenes = SceneCache::instance().takeAll();
    effectList = new EffectList();
    signalQueue = new SignalQueue();
    failingLine = 0;
    const report::Sink previousSink = report::setSink(noteLine);
    outerSink = previousSink;
    try {
        report::FatalGuard guard;
        scriptLoader.loadText(text);
    } catch (const report::FatalError& error) {
        report::setSink(previousSink);
        effectList->clearEffects();
        delete effectList;
        delete signalQueue;
        effectList = oldList;
        signalQueue = oldQueue;
        saved.restore();
        SceneCache::instance().restore(std::move(oldScenes));
        problem.message = error.record.text;
        problem.scriptLine = failingLine;
        return false;
    }
    report::setSink(previousSink);
    if (oldList) oldList->clearEffects();
    delete oldList;
    delete oldQueue;
    SceneCache::destroy(oldScenes);
    lastPatternIndex = kNoPatternStep;
    return true;
}

int64_t firstDrawnFrame(int64_t frame, int drawnFrames) {
    return std::max<int64_t>(0, frame - std::max(1, drawnFrames) + 1);
}

void stepFrames(const FrameGrid& grid, int64_t from, int64_t to, ReplayMode mode) {
    if (from >= to) return;
    if (mode == ReplayMode::StateOnly) {
        for (int64_t k = from; k < to; ++k)
            stepState(static_cast<int>(grid.timeOf(k)));
    } else if (mode == ReplayMode::UpdatesOnly) {
        for (int64_t k = from; k < to; ++k)
            updateFrame(static_cast<int>(grid.timeOf(k)));
    } else {
        // The frame step takes its viewport from the screen size; the scissor box keeps the
        // effects' clears (which ignore the viewport) to the same pixel. Nothing in the demo
        // uses the scissor test, so switching it off afterwards leaves the player's state.
        const int width = screenWidth, height = screenHeight;
        screenWidth = screenHeight = 1;
        glScissor(0, 0, 1, 1);
        glEnable(GL_SCISSOR_TEST);
        for (int64_t k = from; k < to; ++k)
            drawFrame(static_cast<int>(grid.timeOf(k)));
        glDisable(GL_SCISSOR_TEST);
        glScissor(0, 0, width, height);
        screenWidth = width;
        screenHeight = height;
    }
}

void drawFrames(const FrameGrid& grid, int64_t from, int64_t to, void (*beforeFrame)(int time)) {
    for (int64_t k = from; k <= to; ++k) {
        const int t = static_cast<int>(grid.timeOf(k));
        if (beforeFrame) beforeFrame(t);
        drawFrame(t);
    }
}

void replayTimeline(const FrameGrid& grid, int64_t frame, int drawnFrames, void (*beforeFrame)(int time),
                    ReplayMode mode) {
    const int64_t firstDrawn = firstDrawnFrame(frame, drawnFrames);
    stepFrames(grid, 0, firstDrawn, mode);
    drawFrames(grid, firstDrawn, frame, beforeFrame);
}

std::vector<TimelineSection> timelineSections(const std::string& script,
                                              const std::map<std::string, int>& defines) {
    std::vector<TimelineSection> sections;
    std::istringstream lines(script);
    std::string line;
    bool inTimeline = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        if (first == "__TIMELINE__") inTimeline = true;
        if (!inTimeline || first.empty()) continue;
        auto it = defines.find(first);
        if (it == defines.end() || second.empty() || second[0] == '+' || second[0] == '-' || second[0] == '*')
            continue;
        const bool known = std::any_of(sections.begin(), sections.end(),
                                       [&](const TimelineSection& s) { return s.name == first; });
        if (!known) sections.push_back({it->second, first});
    }
    std::stable_sort(sections.begin(), sections.end(),
                     [](const TimelineSection& a, const TimelineSection& b) { return a.time < b.time; });
    return sections;
}

std::string sectionAt(const std::vector<TimelineSection>& sections, int t) {
    std::string name;
    for (const TimelineSection& s : sections) {
        if (s.time > t) break;
        name = s.name;
    }
    return name;
}
