// What is wrong with a demo, as its author reads it: the findings of the loaders (the script
// loader's own, the reports the player shows, the pictures it could not load), each against the
// script line behind it. The checker, the preview, the capture tool and the player show the same
// findings, with the same severity.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace report {
struct Record;
}

namespace findings {

constexpr const char* kScript = "data/scripts/demo.scr";

struct Finding {
    std::string file; // as the demo names it
    int line = 0;     // 0: the file as a whole
    bool error = false;
    std::string text;
    std::string subject;   // the data file it is about, where one is (a picture that cannot be read)
    bool reported = false; // the player shows a message of its own for it
};

// One line, as the checker prints it: "data/scripts/demo.scr:12: error: text", or
// "file: warning: text" for a file as a whole.
std::string format(const Finding& finding);

// A report's text without the reporting code's place ("src/x.cpp:12 "), on one line.
std::string authorText(const std::string& reportText);
// Why a data file cannot be opened: "is missing", "cannot be read", or "is not in the archive (or
// the password is wrong)" once an archive is set.
std::string missingFile(const std::string& name);
// Why the player draws no picture from the file ("is missing", "is a 16-bit PNG, ..."), or ""
// when it loads. Without `decode`, a file that passes the checks of its header is taken as one
// that cannot be decoded (for a load that has just failed).
std::string pictureProblem(const std::string& path, bool decode = true);
// The finding a report of the player makes: its text (a scene that could not be loaded because its
// file is missing says so, missing morph data names the file it needs) and whether it is only a
// warning (a link that loops back). False for a report that is no finding of its own: an archive
// member that could not be extracted (the finding that follows names the file).
bool fromReport(const report::Record& record, std::string& text, bool& warning);

// Hears the loaders while a demo loads and plays, and keeps each finding once. One lives at a
// time: the loaders' hooks are plain functions.
class Collector {
  public:
    enum class Mode {
        // The player and the capture tool: the player's reports stay as they are, their stderr
        // copy naming the script line; the listener hears what the player shows nothing for.
        Player,
        // The preview: the listener hears every finding, reports included, and nothing is echoed
        // on stderr (the tool shows them its own way).
        Author,
    };
    using Listener = std::function<void(const Finding&)>;

    explicit Collector(Mode mode, Listener listener = nullptr);
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    // Starts over, for a new load of the script.
    void clear();
    // While paused nothing is kept or heard (a tool loading again what it has the findings of).
    void pause(bool paused);
    const std::vector<Finding>& findings() const { return found; }
    // Changes whenever a finding is added or the findings are cleared.
    unsigned version() const { return changes; }

  private:
    friend struct CollectorHooks;
    void add(const Finding& finding);
    void onReport(const report::Record& record);

    Mode mode;
    Listener listener;
    std::vector<Finding> found;
    std::vector<std::string> badPictures; // names as the demo gives them: the loaders' echoes are dropped
    unsigned changes = 0;
    bool paused = false;
    bool busy = false; // looking into a file: what the loaders say meanwhile is no finding
    bool previousEcho = true;
};

// The script line behind what the demo is doing now: the line being read, the signal being handed
// over, the signal of the effect at work whose text `text` (a report's) names, or that effect's
// INSERT_EFFECT; 0 when none.
int lineInProgress(const std::string& text = std::string());

} // namespace findings
