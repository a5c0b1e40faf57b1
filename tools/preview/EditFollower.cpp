#include "preview/EditFollower.h"

#include "archive/DataFile.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace preview {

namespace {
// Every name the demo opened, by its absolute path (the working directory is the demo's folder).
std::map<fs::path, std::string>& openedNames() {
    static std::map<fs::path, std::string> names;
    return names;
}

fs::path absoluteNormal(const fs::path& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return (ec ? path : p).lexically_normal();
}

void noteOpen(const char* name, bool) { // found or not: a missing file may be saved later
    openedNames().emplace(absoluteNormal(name), name);
}

// When the file was last written, s since the epoch; 0 when it is gone.
double writtenAt(const fs::path& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

bool isUnder(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}
} // namespace

EditFollower::EditFollower() {
    setDataFileObserver(noteOpen);
}

EditFollower::~EditFollower() {
    setDataFileObserver(nullptr);
}

bool EditFollower::start(const fs::path& demo, bool directory, std::string& why) {
    fromDirectory = directory;
    if (!watcher.ok()) {
        why = "the system gives no file watch";
        return false;
    }
    const fs::path folder = directory ? absoluteNormal(demo) / "data" : absoluteNormal(demo).parent_path();
    if (!directory) archive = absoluteNormal(demo);
    if (!watcher.watchDirectory(folder.string(), directory)) {
        why = "cannot watch " + folder.string();
        return false;
    }
    watched.push_back(folder);
    watching = true;
    watchOpenedFiles();
    return true;
}

void EditFollower::watchOpenedFiles() {
    if (!watching || !fromDirectory) return;
    for (const auto& opened : openedNames()) {
        const fs::path dir = opened.first.parent_path();
        const bool covered = std::any_of(watched.begin(), watched.end(), [&](const fs::path& w) {
            return dir == w || (w == watched.front() && isUnder(dir, w));
        });
        if (covered) continue;
        std::error_code ec;
        if (fs::is_directory(dir, ec) && watcher.watchDirectory(dir.string(), false)) watched.push_back(dir);
    }
}

bool EditFollower::poll(Edit& edit) {
    if (!watching) return false;
    Clock::time_point first;
    const std::vector<std::string> changed = watcher.settledChanges(kQuiet, &first);
    if (changed.empty()) return false;
    edit = Edit{};
    edit.firstSeen = first;
    for (const std::string& path : changed) {
        const fs::path p = absoluteNormal(path);
        if (!fromDirectory) {
            if (p == archive) edit.archive = true;
        } else {
            auto found = openedNames().find(p);
            if (found == openedNames().end()) continue;
            edit.files.push_back(found->second);
        }
        edit.savedAt = std::max(edit.savedAt, writtenAt(p));
    }
    return edit.archive || !edit.files.empty();
}

double EditFollower::wallNow() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

} // namespace preview
