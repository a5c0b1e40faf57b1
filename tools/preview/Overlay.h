// What the preview shows over the demo's frame, where the author is looking, and never in a frame
// it writes to a file: a panel with the demo's findings (errors and warnings with file and line,
// as holdfast-script --check words them) and short status lines that the preview's parts post
// (the Rocket editor, the file watch, shader programs, reloads). Drawn with plain GL after the
// frame, leaving the GL state as it was; H hides and shows it, every reload shows it again.
#pragma once

#include "host/Findings.h"

#include <chrono>
#include <string>
#include <vector>

namespace preview {

class Overlay {
  public:
    // Who posts a status line: the latest line of each kind replaces the one before.
    enum class Kind { Reload, Rocket, Watcher, Shader };
    enum class Tone { Info, Warning, Error };
    using Clock = std::chrono::steady_clock;

    Overlay() = default;
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    // The findings of the demo's files as they are now, replacing the ones before.
    void setFindings(const std::vector<findings::Finding>& list);
    // A status line of `kind`, shown for `seconds` (0: until replaced or withdrawn).
    void post(Kind kind, const std::string& text, Tone tone = Tone::Info, double seconds = 5);
    void withdraw(Kind kind);

    // Shows the panel (every reload does so) / hides and shows it (the H key).
    void show();
    void toggle();
    bool hidden() const { return hiddenByKey; }

    struct Line {
        std::string text;
        Tone tone = Tone::Info;
        bool header = false; // the count of findings
        int finding = -1;    // the finding it belongs to
    };
    // The lines the panel shows now, top to bottom, wrapped to `columns` as drawn.
    std::vector<Line> lines(int columns) const;

    // Draws the panel over the frame in the back buffer (width x height pixels), after the frame
    // is complete and read for anything written to a file.
    void drawOverFrame(int width, int height);
    // Whether the panel would look different from when it was last drawn (a status line came or
    // went, the findings changed, H was pressed): a paused preview presents its frame again.
    bool changed() const;

  private:
    struct Status {
        std::string text;
        Tone tone = Tone::Info;
        Clock::time_point until{}; // epoch: no end
        bool posted = false;
    };
    static constexpr int kKinds = 4;

    std::string signature(int columns) const;

    std::vector<findings::Finding> found;
    Status status[kKinds];
    bool hiddenByKey = false;
    std::string drawn; // signature of the panel last drawn
    unsigned fontTexture = 0;
};

} // namespace preview
