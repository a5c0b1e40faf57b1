// The preview's player: the window loop (WindowLoop.cpp), its keys (Keys.cpp), what it shows of
// itself over the demo (Overlay.cpp: the title) and the reloads that follow edits (Reload.cpp).
#pragma once

#include "host/TimelineControl.h"
#include "platform/Platform.h"
#include "preview/EditFollower.h"
#include "preview/JumpQueue.h"
#include "rocket/RocketLink.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class DemoEngine;
class Texture;

namespace preview {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr const char* kScriptName = "data/scripts/demo.scr";

// A report's text without the reporting source position ("src/x.cpp:12 "): an author wants the
// file of the demo and what is wrong with it.
std::string withoutSourcePosition(const std::string& text);

class Preview : public rocket::Transport {
  public:
    Preview(DemoEngine& e, int fps, ReplayMode mode, EditFollower& edits);

    // The script the loading sequence just loaded becomes the one jumps replay.
    bool adoptLoadedScript();
    // Shows the frame a player has on screen at time t, with the state it has there.
    // `shown`, when given, receives the frame as it is presented (rows bottom-up). With
    // `interactive`, jump keys pressed while the timeline replays take the jump further (or
    // start it again for an earlier time) instead of queueing jumps of their own.
    void jump(int64_t t, std::vector<unsigned char>* shown = nullptr, bool interactive = false);
    int64_t now() const;
    void setPlaying(bool play);
    // Reads the demo's files again: the pictures in `pictures` (all that came from files when
    // `allPictures`), then the script with everything it loads. What fails keeps the demo as it
    // was, with the error in the title; false then.
    bool reload(const std::vector<std::string>& pictures, bool allPictures);
    // Reloads what an edit on disk touched, without a key. Pictures alone are read again into
    // their textures: a playing preview shows them in its next frame, a paused one jumps to
    // where it is (so the frame is the one a player would show).
    void followEdit();
    void handleKey(platform::Key key);
    // One turn of the loop: events, edits on disk, a due jump, a frame when playing, the title.
    void step();

    // What the editor does to the preview.
    void jumpTo(int64_t t) override;
    void play(bool on) override;
    void reloadScript() override;
    void redraw() override;

    rocket::Link* rocket = nullptr;

    bool quitRequested() const;
    double lastJumpDuration() const;

  private:
    bool reloadPictures(const std::vector<std::string>& pictures, bool allPictures);
    bool readScriptAgain();
    void reportEditShown(const EditFollower::Edit& edit);
    int64_t clampTime(int64_t t) const;
    bool jumpTarget(platform::Key key, int64_t base, int64_t& target) const;
    int64_t takeKeysDuringJump(int64_t target);
    void typeKey(platform::Key key);
    void showProblem(const ScriptProblem& problem, const std::string& file = kScriptName);
    // A paused frame is kept as it is presented, so that the window can be painted again when
    // something that covered it goes away (drawing it again would step the effects once more).
    void keepShownFrame();
    void repaint();
    void showJumpProgress(int64_t frame, int64_t frames);
    static bool reloadPicture(Texture& texture, const std::string& file, std::string& failed);
    void updateTitle();

    DemoEngine& engine;
    int fps;
    ReplayMode jumpMode;
    EditFollower& edits;
    JumpQueue jumps;
    std::vector<platform::Key> keysDuringJump; // other keys pressed while a jump ran
    std::vector<unsigned char> keptFrame;      // RGBA, bottom row first; empty: none kept
    bool jumpFromEditor = false;
    std::string jumpProgress; // in the title while a long jump replays
    std::string script;
    std::vector<TimelineSection> sections;
    std::string error;        // the last script load's
    std::string pictureError; // the last picture reload's
    std::optional<EditFollower::Edit> editToShow;
    bool typing = false;
    bool typedProblem = false;
    std::string typed;
    bool playing = true;
    bool quit = false;
    bool looping = false;
    int64_t loopStart = 0, loopEnd = 0;
    int64_t anchorTime = 0;
    int64_t anchorCount = 0;
    double lastJumpMs = 0;
    bool titleDirty = true;
    double shownFps = 0;
    int framesSinceCount = 0;
    std::chrono::steady_clock::time_point fpsCountStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastTitle{};
    std::chrono::steady_clock::time_point lastFrame{};
};

} // namespace preview
