// holdfast-script --check: loads a demo as the player does (the same script loader, effects, image,
// scene and morph loaders, with every signal delivered) and lists what would stop it or make it
// show something other than its author meant, one finding a line against the script's lines.
#pragma once

#include <filesystem>
#include <set>
#include <string>
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

    const std::vector<Finding>& findings() const { return findings_; }

  private:
    friend struct Hooks;

    void add(int line, bool error, const std::string& text, const std::string& file);
    void add(int line, bool error, const std::string& text);
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
    void checkTimeline(int musicMs);
    void checkUnusedFiles(const std::filesystem::path& demo);
    void printFindings() const;
    // Loads the script and delivers every signal; false when the player would stop.
    bool load();

    std::vector<Finding> findings_;
    bool fromArchive_ = false;
    bool quiet_ = false;                   // the checker's own probes: their reports are not findings
    int signalLine_ = 0;                   // line of the signal being delivered
    std::set<std::string> opened_;         // data files the demo opened
    std::vector<std::string> badPictures_; // already reported, so the loaders' echoes are dropped
};

} // namespace check
