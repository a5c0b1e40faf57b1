// The preview's player: the window loop (WindowLoop.cpp), its keys (Keys.cpp), what it shows of
// itself over the demo (Overlay.cpp: the title and the panel) and the reloads that follow edits
// (Reload.cpp).
#pragma once

#include "host/Findings.h"
#include "host/TimelineControl.h"
#include "platform/Platform.h"
#include "preview/EditFollower.h"
#include "preview/JumpQueue.h"
#include "preview/Overlay.h"
#include "rocket/RocketLink.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

class DemoEngine;
class Texture;

namespace preview {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr const char* kScriptName = "data/scripts/demo.scr";

class Preview : public rocket::Transport {
  public:
    // `found` hears the loaders (installed before the demo loaded); its listener calls heard().
    Preview(DemoEngine& e, int fps, ReplayMode mode, EditFollower& edits, findings::Collector& found);

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
    // was, with the error on the panel and in the title; false then.
    bool reload(const std::vector<std::string>& pictures, bool allPictures);
    // A finding as the collector hears it: said on stderr when it is new.
    void heard(const findings::Finding& finding);
    // Says each finding on stderr, once while it lasts ("holdfast-preview: file:line: ...").
    static void say(const findings::Finding& finding, std::set<std::string>& said);
    // Reloads what an edit on disk touched, without a key. Pictures alone are read again into
    // their textures: a playing preview shows them in its next frame, a paused one jumps to
    // where it is (so the frame is the one a player would show).
    void followEdit();
    void handleKey(platform::Key key);
    // What the preview tells its author besides the demo's own errors, on stderr and on screen;
    // an empty text takes the kind's message off the screen.
    enum class Notice {
        Watch,  // the file watch: what it cannot follow, and that it goes on
        Shader, // a saved shader the driver refused (the last good program draws on)
    };
    void notifyAuthor(Notice kind, const std::string& text);
    // One turn of the loop: events, edits on disk, a due jump, a frame when playing, the title.
    void step();

    // What the editor does to the preview.
    void jumpTo(int64_t t) override;
    void play(bool on) override;
    void reloadScript() override;
    void redraw() override;

    rocket::Link* rocket = nullptr;
    // The panel over the frame: the preview's parts post their status lines to it.
    Overlay overlay;

    bool quitRequested() const;
    double lastJumpDuration() const;

  private:
    // `unreadable`, when given, collects the pictures that cannot be read instead of reporting
    // them (an edit's first try: the file may be half written).
    bool reloadPictures(const std::vector<std::string>& pictures, bool allPictures,
                        std::vector<std::string>* unreadable = nullptr);
    // When every file is the program of a shader effect running now: each read again into its
    // effect, no jump; true then (also when the driver refused one).
    bool reloadShaders(const EditFollower::Edit& edit);
    bool readScriptAgain();
    // Reloads what an edit touched; `firstTry`: a picture that cannot be read waits for the file to
    // settle before it is reported.
    void applyEdit(const EditFollower::Edit& edit, bool firstTry);
    bool settled() const;
    void publishFindings();
    void present();
    void reportEditShown(const EditFollower::Edit& edit);
    int64_t clampTime(int64_t t) const;
    bool jumpTarget(platform::Key key, int64_t base, int64_t& target) const;
    int64_t takeKeysDuringJump(int64_t target);
    void typeKey(platform::Key key);
    void showProblem(const ScriptProblem& problem);
    // A paused frame is kept as it is presented, so that the window can be painted again when
    // something that covered it goes away, or the panel over it changes (drawing it again would
    // step the effects once more).
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
    findings::Collector& collector;
    std::vector<findings::Finding> published;          // on the panel and in the title
    std::set<std::string> said;                        // findings said on stderr, while they last
    std::vector<findings::Finding> pictureFindings;    // pictures an edit could not read again
    std::optional<findings::Finding> problem;          // a failed load's error the collector missed
    std::vector<std::string> holding;                  // pictures whose failures wait for the file to settle
    std::optional<EditFollower::Edit> unsettled;       // the edit to try again once they have
    std::chrono::steady_clock::time_point unsettledAt; // when its first try failed
    std::string shaderRefusal; // a saved program the driver refused: its first line, for the title
    std::optional<EditFollower::Edit> editToShow;
    bool typing = false;
    bool typedProblem = false;
    std::string typed;
    bool playing = true;
    bool quit = false;
    bool looping = false;
    bool loopJumpSaid = false; // a loop span's jump is logged on its first pass only
    bool quietJump = false;
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
