// holdfast-script --check: loads a demo as the player does (the same script loader, effects, image,
// scene and morph loaders, with every signal delivered) and lists what would stop it or make it
// show something other than its author meant, one finding a line against the script's lines.
// Every pass over the demo is linear, and each kind of finding is listed at most 100 times (the
// rest counted), so that a script of a million lines is checked in seconds.
#pragma once

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace report {
struct Record;
}
struct ScriptFinding;

namespace check {

struct Finding {
    std::string file; // as the demo names it
    int line = 0;     // 0: the file as a whole
    bool error = false;
    std::string text;
};

class DemoCheck {
  public:
    // The whole check, findings printed to stdout; returns the exit code (1 with an error, else
    // 0; 2 for a path that is no demo). One check runs at a time: the loaders report to it.
    int run(const char* toolName, const std::string& path, const char* password);
    // Prints the value table for every variable of every effect; 1 when a variable has no row.
    static int printRanges(const char* toolName);

    // The findings listed (at most kListed of each kind).
    const std::vector<Finding>& findings() const { return findings_; }
    static constexpr long kListed = 100;

  private:
    friend struct Hooks;

    // Findings of one kind: how many were listed, and what of the rest is told.
    struct Kind {
        long listed = 0;
        long more = 0;
        Finding first; // the first one not listed
        int lastLine = 0;
    };

    // `kind` groups findings for the cap; empty: the text's words without names or numbers.
    void record(const std::string& file, int line, bool error, const std::string& text,
                const std::string& kind);
    // A finding at a line of the script (0: the script as a whole).
    void add(int line, bool error, const std::string& text, const std::string& kind = std::string());
    // A finding about another file of the demo.
    void addFile(const std::string& file, bool error, const std::string& text,
                 const std::string& kind = std::string());
    int contextLine() const;
    std::string normalName(const std::string& name) const;
    bool dataFileOpens(const std::string& name);
    std::string missingFile(const std::string& name) const;
    std::string pictureProblem(const std::string& path) const;

    // What the loaders tell the check while the demo loads.
    void onReport(const report::Record& r);
    void onFinding(const ScriptFinding& f);
    void onDataFile(const char* name, bool opened);
    bool onPicture(const std::string& name, const std::string& directory);

    // The checks made once the demo has loaded.
    int checkMusic(const std::filesystem::path& music);
    void checkShows();
    void checkValues();
    void checkTimeline(int musicMs);
    void checkUnusedFiles(const std::filesystem::path& demo);
    int printFindings() const;
    // Loads the script and delivers every signal; false when the player would stop.
    bool load();

    std::vector<Finding> findings_;
    std::unordered_map<std::string, Kind> kinds_;
    std::unordered_set<size_t> seen_; // every finding made, listed or not, to drop repeats
    long errors_ = 0, warnings_ = 0;
    bool fromArchive_ = false;
    bool quiet_ = false;        // the checker's own probes: their reports are not findings
    bool stopReported_ = false; // the loader said why the player stops: its report repeats it
    int signalLine_ = 0;        // line of the signal being delivered
    int textsLine_ = 0;         // the line whose last findings lineTexts_ holds
    std::vector<std::string> lineTexts_;
    std::set<std::string> opened_;                // data files the demo opened
    std::unordered_set<std::string> badPictures_; // already reported, so the loaders' echoes are dropped
};

} // namespace check
