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
// Every name the demo opened, by the real path of the file (the working directory is the demo's
// folder).
std::map<fs::path, std::string>& openedNames() {
    static std::map<fs::path, std::string> names;
    return names;
}

fs::path absoluteNormal(const fs::path& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return (ec ? path : p).lexically_normal();
}

// The real path of the file's folder with the file's own name: the watcher names a file by the
// folder it watches, which may be reached through a link. Missing folders keep their names.
fs::path realName(const fs::path& path) {
    const fs::path absolute = absoluteNormal(path);
    std::error_code ec;
    const fs::path folder = fs::canonical(absolute.parent_path(), ec);
    return ec ? absolute : folder / absolute.filename();
}

void noteOpen(const char* name, bool) { // found or not: a missing file may be saved later
    openedNames().emplace(realName(name), name);
    // A file that is itself a link changes where it leads to.
    std::error_code ec;
    const fs::path target = fs::canonical(name, ec);
    if (!ec) openedNames().emplace(target, name);
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

// A path as the author knows it: from the demo's folder when it lies there.
std::string shown(const std::string& path) {
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    const fs::path p = absoluteNormal(path);
    if (!ec && (p == here || isUnder(p, here))) return p == here ? "." : p.lexically_relative(here).string();
    return path;
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
        why = watcher.failure();
        return false;
    }
    const fs::path folder = directory ? absoluteNormal(demo) / "data" : absoluteNormal(demo).parent_path();
    if (!directory) archive = absoluteNormal(demo);
    // Links under data/ are followed into the demo's folder, no further.
    if (!watcher.watchDirectory(folder.string(), directory, directory ? absoluteNormal(demo).string() : "")) {
        why = "cannot watch " + folder.string();
        return false;
    }
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    watched.push_back(ec ? folder : real);
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
    bool lost = false;
    const std::vector<std::string> changed = watcher.settledChanges(kQuiet, &first, &lost);
    if (changed.empty() && !lost) return false;
    edit = Edit{};
    edit.firstSeen = first;
    edit.everything = lost;
    for (const std::string& path : changed) {
        if (!fromDirectory) {
            if (absoluteNormal(path) == archive) edit.archive = true;
        } else {
            auto found = openedNames().find(realName(path));
            if (found == openedNames().end()) continue;
            if (std::find(edit.files.begin(), edit.files.end(), found->second) == edit.files.end())
                edit.files.push_back(found->second);
        }
        edit.savedAt = std::max(edit.savedAt, writtenAt(path));
    }
    return edit.archive || edit.everything || !edit.files.empty();
}

std::vector<EditFollower::Notice> EditFollower::notices() {
    using Kind = platform::FileWatcher::Notice::Kind;
    std::vector<Notice> said;
    for (const platform::FileWatcher::Notice& notice : watcher.takeNotices()) {
        const std::string path = shown(notice.path);
        switch (notice.kind) {
        case Kind::Unwatched:
            said.push_back(
                {"cannot watch " + path + " (" + notice.detail + "): edits there show after R", true});
            break;
        case Kind::Full:
            said.push_back({"no more file watches (" + notice.detail + ") from " + path +
                                " on: edits in folders not watched show after R",
                            true});
            break;
        case Kind::Loop:
            said.push_back({path + " leads back to " + shown(notice.detail) +
                                " (links make a loop): each folder is watched once",
                            false});
            break;
        case Kind::Gone:
            said.push_back({path + " is gone: edits show once it is back", true});
            break;
        case Kind::Back:
            said.push_back({path + " is back and watched again", false});
            break;
        }
    }
    return said;
}

double EditFollower::wallNow() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

} // namespace preview
