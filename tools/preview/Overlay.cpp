// What the preview shows of itself over the demo: the window's title (time, frame rate, part,
// pause, loop, the editor's state, a time being typed, the last error).
#include "preview/Preview.h"

#include "demo/DemoState.h"
#include "host/DemoEngine.h"
#include "resources/ContactSheet.h"

#include <cstdio>

namespace preview {

// A report's text without the reporting source position ("src/x.cpp:12 "): an author wants the
// file of the demo and what is wrong with it.
std::string withoutSourcePosition(const std::string& text) {
    const size_t space = text.find(' ');
    const size_t colon = text.rfind(':', space);
    if (space == std::string::npos || colon == std::string::npos || colon + 1 >= space) return text;
    const std::string file = text.substr(0, colon), line = text.substr(colon + 1, space - colon - 1);
    const bool source = file.size() > 4 && (file.compare(file.size() - 4, 4, ".cpp") == 0 ||
                                            file.compare(file.size() - 2, 2, ".h") == 0);
    if (!source || line.find_first_not_of("0123456789") != std::string::npos) return text;
    return text.substr(space + 1);
}

void Preview::showProblem(const ScriptProblem& problem, const std::string& file) {
    const std::string message = withoutSourcePosition(problem.message);
    error = file.empty()             ? message
            : problem.scriptLine > 0 ? file + ":" + std::to_string(problem.scriptLine) + ": " + message
                                     : file + ": " + message;
    fprintf(stderr, "holdfast-preview: %s (the demo keeps running as it was)\n", error.c_str());
    titleDirty = true;
}

void Preview::reportEditShown(const preview::EditFollower::Edit& edit) {
    const double noticed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - edit.firstSeen).count();
    if (edit.savedAt > 0)
        fprintf(stderr,
                "holdfast-preview: the edit shows %.0f ms after it was saved (%.0f ms after it was "
                "noticed)\n",
                (preview::EditFollower::wallNow() - edit.savedAt) * 1000, noticed);
    else
        fprintf(stderr, "holdfast-preview: the edit shows %.0f ms after it was noticed\n", noticed);
}

void Preview::updateTitle() {
    const auto nowWall = std::chrono::steady_clock::now();
    const double sinceCount = std::chrono::duration<double>(nowWall - fpsCountStart).count();
    if (sinceCount >= 0.5) {
        shownFps = framesSinceCount / sinceCount;
        framesSinceCount = 0;
        fpsCountStart = nowWall;
        titleDirty = true;
    }
    if (playing && nowWall - lastTitle > std::chrono::milliseconds(100)) titleDirty = true;
    if (!titleDirty) return;
    titleDirty = false;
    lastTitle = nowWall;
    const int64_t t = now();
    char fpsText[32];
    snprintf(fpsText, sizeof fpsText, "%.0f fps", playing ? shownFps : 0.0);
    std::string title = "holdfast-preview | " + timeLabel(t) + " | " + fpsText;
    const std::string section = sectionAt(sections, static_cast<int>(t));
    if (!section.empty()) title += " | " + section;
    if (!playing) title += " | paused";
    if (loopEnd > loopStart)
        title += " | loop " + timeLabel(loopStart) + "-" + timeLabel(loopEnd) + (looping ? " on" : " off");
    if (rocket && !rocket->title().empty()) title += " | " + rocket->title();
    if (typing) title += " | go to " + typed + "_" + (typedProblem ? " (m:ss.mmm or seconds)" : "");
    if (!jumpProgress.empty()) title += " | " + jumpProgress;
    if (!error.empty()) title += " | ERROR " + error;
    if (!pictureError.empty()) title += " | ERROR " + pictureError;
    platform::setWindowTitle(engine.getWindow(), title.c_str());
}

} // namespace preview
