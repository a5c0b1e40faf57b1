// Tools that play a demo under an author's hands: reloading the script after an edit without
// losing the running demo to a mistake, and jumping to any time with the state a player would
// have there.
#pragma once

#include "host/FrameGrid.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ScriptProblem {
    std::string message; // the player's error text, with the reporting source position
    int scriptLine = 0;  // line of the script being read when it failed (0: not known)
};

// Reads the script file (from the data archive when one is set) as the loader would.
bool readScript(const char* fileName, std::string& text, ScriptProblem& problem);

// Loads a script into a fresh effect list and signal queue. On success the old effects are gone
// and the new timeline starts from scratch (signals undelivered, pattern memory reset). On an
// error the old timeline stays exactly as it was and `problem` says what went wrong.
bool loadScript(const std::string& text, ScriptProblem& problem);

// The GL state a player has before its first frame (after the loading sequence), kept so that
// every replay starts from it: effects leave state behind (a texture target left enabled, say)
// that a player at an earlier time would not have yet. Keep it once, after loading; each
// restore brings it back and keeps it again.
void keepStartGLState();
void restoreStartGLState();

// How the frames before the last few of a replay are stepped.
enum class ReplayMode {
    // Drawn into a one-pixel viewport: the GL state effects leave behind (enabled texturing,
    // bound textures, blending) is the state a player has, at a small part of a frame's cost.
    TinyFrames,
    // Signals and updates only: GL state left by earlier frames is missing, and effects that
    // draw their linked effect into a render target in their update still draw.
    UpdatesOnly,
    // Signals and the state updates keep (see stepState): the quickest. What drawing leaves in
    // render targets or GL state comes only from the frames drawn in full.
    StateOnly,
};

// Brings the timeline (freshly loaded, nothing delivered yet) to the state a player stepping
// `grid` has after drawing frame `frame`. The last `drawnFrames` frames are drawn in full (so
// render targets hold what recent frames left there), the last one being frame `frame`
// itself, left in the back buffer; `beforeFrame` runs before each of them (the caller's clear
// and audio). The frames before are stepped as `mode` says.
void replayTimeline(const FrameGrid& grid, int64_t frame, int drawnFrames, void (*beforeFrame)(int time),
                    ReplayMode mode = ReplayMode::TinyFrames);
// replayTimeline in pieces, for a caller that looks at its input between them (and may take the
// replay further): the first frame drawn in full, stepping frames [from, to), drawing frames
// [from, to] in full.
int64_t firstDrawnFrame(int64_t frame, int drawnFrames);
void stepFrames(const FrameGrid& grid, int64_t from, int64_t to, ReplayMode mode);
void drawFrames(const FrameGrid& grid, int64_t from, int64_t to, void (*beforeFrame)(int time));

// A named part of the timeline: a DEFINE name that begins a timeline line on its own (as in
// "GROOVE SIGNAL Clear Red 0.1"), at its value. Names used only inside longer time
// expressions ("BAR * 4 + BUILD"), signal types and the like are not parts.
struct TimelineSection {
    int time;
    std::string name;
};
// The parts of a script in time order (equal times in script order).
std::vector<TimelineSection> timelineSections(const std::string& script,
                                              const std::map<std::string, int>& defines);
// The part playing at time t: the last one that starts at or before t; empty before the first.
std::string sectionAt(const std::vector<TimelineSection>& sections, int t);
