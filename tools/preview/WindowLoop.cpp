// The preview's window loop: jumps that replay the timeline to a time, playing at the frame
// rate, and what the editor asks of it.
#include "preview/Preview.h"

#include "demo/DemoState.h"
#include "demo/ScriptLoader.h"
#include "host/DemoEngine.h"
#include "host/FrameGrid.h"
#include "host/FrameLoop.h"
#include "platform/GL.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace preview {

namespace {

// A jump draws the frames of the last 150 ms before its time in full: longer than the 100 ms a
// spectrum's beat lasts, and render targets and GL state come from these frames. The frames
// before only step their signals, clocks and pattern steps.
constexpr int kDrawnMsAfterJump = 150;
// A replay that takes longer than this shows the frame it has reached, and again after each
// kProgressEvery, so that the window never goes a second without a frame.
constexpr auto kProgressAfter = std::chrono::milliseconds(750);
constexpr auto kProgressEvery = std::chrono::milliseconds(500);

void clearBuffers(int) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// A frame of a jump's replay starts as the capture tool's do: cleared, with the taps holding
// the music just before its time.
void replayedFrameStart(int t) {
    clearBuffers(t);
    sound::renderReplayAt(t);
}

} // namespace

Preview::Preview(DemoEngine& e, int fps, ReplayMode mode, EditFollower& edits, findings::Collector& found)
    : engine(e), fps(fps), jumpMode(mode), edits(edits), collector(found) {
    // What the load found was said as it was heard.
    for (const findings::Finding& f : collector.findings())
        said.insert(findings::format(f));
    publishFindings();
}

// The script the loading sequence just loaded becomes the one jumps replay.
bool Preview::adoptLoadedScript() {
    ScriptProblem failure;
    if (!readScript(kScriptName, script, failure)) return false;
    sections = timelineSections(script, scriptLoader.defined());
    return true;
}

// Shows the frame a player has on screen at time t, with the state it has there.
// `shown`, when given, receives the frame as it is presented (rows bottom-up). With
// `interactive`, jump keys pressed while the timeline replays take the jump further (or
// start it again for an earlier time) instead of queueing jumps of their own.
void Preview::jump(int64_t t, std::vector<unsigned char>* shown, bool interactive) {
    const auto begin = std::chrono::steady_clock::now();
    const bool fromEditor = jumpFromEditor;
    jumpFromEditor = false;
    int64_t target = clampTime(t);
    const int64_t asked = target;
    ScriptProblem failure;
    // The last good script, whose findings are known: only fails if the data changed under it.
    collector.pause(true);
    const bool loaded = loadScript(script, failure);
    collector.pause(false);
    if (!loaded) {
        showProblem(failure);
        return;
    }
    if (rocket) rocket->effectsLoaded(); // the new effects follow the editor's tracks
    const FrameGrid grid(demoStartTime, fps);
    restoreStartGLState();
    const int drawn = jumpMode == ReplayMode::TinyFrames ? 3 : std::max(3, kDrawnMsAfterJump * fps / 1000);
    // The replayed frames hear the music at their own times, playing (as a player's would),
    // while the output is held silent.
    sound::beginReplay();
    const bool musicWasPlaying = tesselMusic.isPlaying();
    if (tesselMusic.hasStream() && !musicWasPlaying) tesselMusic.play();
    int64_t stepped = 0; // frames stepped so far
    bool abandoned = false;
    auto lastLook = std::chrono::steady_clock::now();
    auto nextProgress = begin + kProgressAfter;
    for (;;) {
        const int64_t firstDrawn = firstDrawnFrame(grid.frameAt(target), drawn);
        if (stepped > firstDrawn) { // taken back before what is stepped: from the start again
            collector.pause(true);
            const bool again = loadScript(script, failure);
            collector.pause(false);
            if (!again) {
                showProblem(failure);
                abandoned = true;
                break;
            }
            restoreStartGLState();
            stepped = 0;
        }
        if (stepped == firstDrawn) break;
        const int64_t to = std::min(firstDrawn, stepped + 8);
        stepFrames(grid, stepped, to, jumpMode);
        stepped = to;
        if (interactive && std::chrono::steady_clock::now() - lastLook > std::chrono::milliseconds(15)) {
            lastLook = std::chrono::steady_clock::now();
            target = clampTime(takeKeysDuringJump(target));
            if (quit) break;
            if (lastLook >= nextProgress && stepped < firstDrawnFrame(grid.frameAt(target), drawn)) {
                // This frame drawn in full instead of stepped: the same state afterwards.
                drawFrames(grid, stepped, stepped, replayedFrameStart);
                engine.swapBuffers();
                if (rocket) rocket->frameShown(grid.timeOf(stepped), false);
                ++stepped;
                showJumpProgress(stepped, grid.frameAt(target));
                nextProgress = std::chrono::steady_clock::now() + kProgressEvery;
            }
        }
    }
    abandoned = abandoned || quit;
    jumpProgress.clear();
    if (!abandoned) {
        const int64_t last = grid.frameAt(target);
        drawFrames(grid, firstDrawnFrame(last, drawn), last, replayedFrameStart);
    }
    if (tesselMusic.hasStream()) {
        if (!musicWasPlaying) tesselMusic.pause();
        tesselMusic.setTime(static_cast<int>(target));
    }
    sound::endReplay();
    if (abandoned) return;
    if (shown) {
        shown->resize(static_cast<size_t>(kWidth) * kHeight * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, shown->data());
    }
    keepShownFrame(); // a preview that starts paused pauses after its first jump
    present();        // the panel goes over the frame after it was read: never in what is written
    if (rocket) {
        rocket->frameShown(target, false);
        // The editor's cursor follows the preview's own jumps; not the editor's own.
        if (!fromEditor || target != asked) rocket->moved(target);
    }
    anchorTime = target;
    anchorCount = platform::counterNow();
    lastJumpMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    if (!quietJump)
        fprintf(stderr, "holdfast-preview: jump to %lld ms took %.0f ms\n", static_cast<long long>(target),
                lastJumpMs);
    titleDirty = true;
}

int64_t Preview::now() const {
    if (!playing) return anchorTime;
    return anchorTime + (platform::counterNow() - anchorCount) * 1000 / platform::counterFrequency();
}

void Preview::setPlaying(bool play) {
    if (play == playing) return;
    if (play) {
        anchorCount = platform::counterNow();
        if (tesselMusic.hasStream()) {
            tesselMusic.setTime(static_cast<int>(anchorTime));
            tesselMusic.play();
        }
    } else {
        anchorTime = now();
        tesselMusic.pause();
    }
    playing = play;
    titleDirty = true;
}

// One turn of the loop: events, edits on disk, a due jump, a frame when playing, the title.
void Preview::step() {
    std::vector<platform::Key> keys;
    keys.swap(keysDuringJump);
    for (platform::Key key : keys)
        handleKey(key);
    platform::Event event;
    bool exposed = false;
    while (!quit && platform::pollEvent(event)) {
        if (event.type == platform::EventType::Quit || event.type == platform::EventType::CloseRequest)
            quit = true;
        else if (event.type == platform::EventType::KeyDown)
            handleKey(event.key);
        else if (event.type == platform::EventType::Exposed)
            exposed = true;
    }
    if (quit) return;
    // Playing, the next frame paints the window anyway.
    if (exposed && !playing) repaint();
    followEdit();
    int64_t target = 0;
    if (jumps.take(target)) jump(target, nullptr, true);
    if (quit) return;
    if (playing) {
        // No faster than the frame rate jumps replay at: the preview is a player at that rate.
        const auto due = lastFrame + std::chrono::microseconds(1000000 / fps);
        if (std::chrono::steady_clock::now() < due) std::this_thread::sleep_until(due);
        lastFrame = std::chrono::steady_clock::now();
    }
    // The editor is heard just before the frame is drawn, so its edits are on that frame.
    if (rocket && rocket->poll(*this, playing)) titleDirty = true;
    if (playing) {
        int64_t t = now();
        if (looping && t >= loopEnd) {
            quietJump = loopJumpSaid; // every pass is the same jump
            jump(loopStart);
            quietJump = false;
            loopJumpSaid = true;
            t = now();
        }
        if (t > demoRunEnd()) {
            setPlaying(false);
            if (rocket) rocket->demoEnded();
        } else {
            clearBuffers(0);
            drawFrame(static_cast<int>(t));
            keptFrame.clear();
            present();
            if (rocket) rocket->frameShown(t, true);
            ++framesSinceCount;
            if (editToShow) {
                reportEditShown(*editToShow);
                editToShow.reset();
            }
        }
    } else {
        // Nothing moves: the last frame stays on screen, under the panel as it is now.
        if (overlay.changed()) repaint();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    publishFindings();
    updateTitle();
}

// What the editor does to the preview.
void Preview::jumpTo(int64_t t) {
    // Read input meanwhile: a far row can take long to replay.
    jumpFromEditor = true;
    jump(t, nullptr, true);
}

void Preview::play(bool on) {
    setPlaying(on);
}

void Preview::reloadScript() {
    reload({}, false);
}

void Preview::redraw() {
    const int64_t t = now();
    clearBuffers(0);
    drawFrame(static_cast<int>(t));
    if (!playing) keepShownFrame();
    present();
    if (rocket) rocket->frameShown(t, playing);
}

// The frame is complete (and kept, if paused): the panel goes over it, and it is shown.
void Preview::present() {
    overlay.drawOverFrame(kWidth, kHeight);
    engine.swapBuffers();
}

void Preview::keepShownFrame() {
    keptFrame.resize(static_cast<size_t>(kWidth) * kHeight * 4);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, keptFrame.data());
    glPopClientAttrib();
}

// The kept frame presented again, with everything that would change its pixels on the way
// switched off for the moment; without one (paused by Space: the frame came while playing), the
// frame at the paused time is drawn and kept.
void Preview::repaint() {
    if (keptFrame.empty() || !GLEW_VERSION_1_4) {
        redraw();
        return;
    }
    GLint program = 0;
    if (GLEW_VERSION_2_0) {
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        glUseProgram(0);
    }
    // The state cache follows the push and the pop (it also keeps the jumps' start state pushed
    // beneath them: it must not be told to forget).
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    for (int unit = 0; unit < glstate::kUnits; ++unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        for (GLenum target : {GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_CUBE_MAP})
            glDisable(target);
    }
    for (GLenum cap : {GL_BLEND, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_ALPHA_TEST, GL_FOG, GL_SCISSOR_TEST,
                       GL_COLOR_LOGIC_OP, GL_FRAGMENT_PROGRAM_ARB})
        glDisable(cap);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glViewport(0, 0, kWidth, kHeight);
    glPixelZoom(1, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glWindowPos2i(0, 0);
    glDrawPixels(kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, keptFrame.data());
    glPopClientAttrib();
    glPopAttrib();
    if (GLEW_VERSION_2_0) glUseProgram(static_cast<GLuint>(program));
    present();
}

void Preview::showJumpProgress(int64_t frame, int64_t frames) {
    char text[64];
    snprintf(text, sizeof text, "jumping: %.0f %%", frames > 0 ? 100.0 * frame / frames : 100.0);
    jumpProgress = text;
    titleDirty = true;
    updateTitle();
}

bool Preview::quitRequested() const {
    return quit;
}

double Preview::lastJumpDuration() const {
    return lastJumpMs;
}

int64_t Preview::clampTime(int64_t t) const {
    return std::clamp<int64_t>(t, demoStartTime, std::max<int64_t>(demoStartTime, demoRunEnd()));
}

} // namespace preview
