#include "platform/FileWatcher.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <utility>

namespace platform {

namespace {
// Whole writes and renames, not every write(2) of a file still being written: a picture is read
// after its writer closed it. Deleted and moved-away files count too (the demo lost them), and a
// watched folder that is moved or deleted itself no longer shows what happens under its name.
constexpr uint32_t kEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE | IN_MOVE_SELF | IN_DELETE_SELF;
// How often a watched directory that went away is looked for.
constexpr std::chrono::milliseconds kLookForGone{100};

std::string joinPath(const std::string& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string realPath(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return std::string();
    std::string result(real);
    free(real);
    return result;
}

bool liesWithin(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return false;
    if (folder == "/") return true;
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

std::string systemLimit(const char* name) {
    std::ifstream in(std::string("/proc/sys/fs/inotify/") + name);
    std::string value;
    in >> value;
    return std::string("fs.inotify.") + name + (value.empty() ? std::string() : " = " + value);
}
} // namespace

void walkFolders(const std::string& root, const std::string& within,
                 const std::function<bool(const std::string& path, FolderId id)>& visit,
                 const std::function<void(const std::string& path)>& file, FolderWalkFindings& findings) {
    std::map<FolderId, std::string> seen; // folder -> the name it was visited by
    std::vector<std::string> stack{root};
    while (!stack.empty()) {
        const std::string path = std::move(stack.back());
        stack.pop_back();
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue; // gone meanwhile
        const FolderId id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        const auto visited = seen.emplace(id, path);
        if (!visited.second) {
            if (findings.repeated.empty()) {
                findings.repeated = path;
                findings.repeatOf = visited.first->second;
            }
            continue;
        }
        if (!visit(path, id)) continue;
        DIR* dir = opendir(path.c_str());
        if (!dir) {
            findings.unreadable.push_back({path, strerror(errno)});
            continue;
        }
        std::vector<std::string> below;
        while (const dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            const std::string child = joinPath(path, entry->d_name);
            struct stat own;
            if (lstat(child.c_str(), &own) != 0) continue;
            if (S_ISDIR(own.st_mode)) {
                below.push_back(child);
                continue;
            }
            struct stat target;
            if (S_ISLNK(own.st_mode) && stat(child.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
                // Into the demo only: a link to a system folder would watch the whole system.
                if (liesWithin(realPath(child), within)) below.push_back(child);
                continue;
            }
            if (file) file(child);
        }
        closedir(dir);
        // In name order, the first name on top: which name a folder is known by does not hang on
        // the order the system lists them in.
        std::sort(below.begin(), below.end(), std::greater<std::string>());
        stack.insert(stack.end(), std::make_move_iterator(below.begin()),
                     std::make_move_iterator(below.end()));
    }
}

struct FileWatcher::State {
    struct Watch {
        std::string path;
        FolderId id;
        bool recursive = false;
        std::string within;
    };
    // A directory the caller asked for: watched again when it comes back.
    struct Root {
        std::string path;
        bool recursive = false;
        std::string within;
        int wd = -1; // -1 while it is gone
        Clock::time_point lastLook{};
    };

    int fd = -1;
    size_t limit = 0;
    std::string failure;
    std::map<int, Watch> watches;
    std::map<FolderId, int> byFolder;
    std::vector<Root> roots;
    std::vector<std::string> pending;
    std::set<std::string> pendingSet;
    bool lostEvents = false;
    Clock::time_point first{}, last{};
    std::vector<Notice> notices;
    bool saidFull = false, saidLoop = false;
    std::set<std::string> saidUnwatched;

    void say(Notice::Kind kind, const std::string& path, const std::string& detail) {
        if (kind == Notice::Kind::Full && std::exchange(saidFull, true)) return;
        if (kind == Notice::Kind::Loop && std::exchange(saidLoop, true)) return;
        if (kind == Notice::Kind::Unwatched && !saidUnwatched.insert(path).second) return;
        notices.push_back({kind, path, detail});
    }

    // Watches `path` and, when recursive, the folders below it; returns the watch of `path`
    // itself (-1: none). `late`: a folder that appeared while watching, whose files may have been
    // written before its watch was there (a copied folder): they count as changed. `rescan`: goes
    // below folders watched already too, for ones whose creation went unseen.
    int add(const std::string& path, bool recursive, const std::string& within, bool late,
            bool rescan = false) {
        int rootWd = -1;
        bool atRoot = true;
        const auto visit = [&](const std::string& folder, FolderId id) {
            const bool isRoot = std::exchange(atRoot, false);
            if (!isRoot && !recursive) return false;
            const auto known = byFolder.find(id);
            if (known != byFolder.end()) {
                Watch& watch = watches.at(known->second);
                if (isRoot) rootWd = known->second;
                if (recursive && !watch.recursive) {
                    watch.recursive = true;
                    watch.within = within;
                    return true;
                }
                return rescan;
            }
            if (watches.size() >= limit) {
                say(Notice::Kind::Full, folder,
                    "this watcher's limit of " + std::to_string(limit) + " folders");
                return false;
            }
            const int wd = inotify_add_watch(fd, folder.c_str(), kEvents | IN_ONLYDIR);
            if (wd < 0) {
                if (errno == ENOSPC)
                    say(Notice::Kind::Full, folder, systemLimit("max_user_watches"));
                else
                    say(Notice::Kind::Unwatched, folder, strerror(errno));
                return false;
            }
            if (isRoot) rootWd = wd;
            if (watches.count(wd)) return false; // the folder changed under the walk: watched already
            watches[wd] = Watch{folder, id, recursive, within};
            byFolder[id] = wd;
            return recursive || late;
        };
        const auto file = [&](const std::string& name) {
            if (late) note(name, Clock::now());
        };
        FolderWalkFindings found;
        walkFolders(path, within, visit, file, found);
        if (!found.repeated.empty()) say(Notice::Kind::Loop, found.repeated, found.repeatOf);
        for (const auto& unreadable : found.unreadable)
            say(Notice::Kind::Unwatched, unreadable.path, unreadable.why);
        return rootWd;
    }

    void note(const std::string& path, Clock::time_point now) {
        if (pending.empty() && !lostEvents) first = now;
        last = now;
        if (pendingSet.insert(path).second) pending.push_back(path);
    }

    // The watch is gone (its folder deleted, moved, or the watch taken off).
    void forget(int wd) {
        const auto found = watches.find(wd);
        if (found == watches.end()) return;
        const auto folder = byFolder.find(found->second.id);
        if (folder != byFolder.end() && folder->second == wd) byFolder.erase(folder);
        watches.erase(found);
        for (Root& root : roots)
            if (root.wd == wd) {
                root.wd = -1;
                root.lastLook = Clock::now();
                say(Notice::Kind::Gone, root.path, std::string());
            }
    }

    bool watchesUnder(const std::string& path) const {
        return std::any_of(watches.begin(), watches.end(),
                           [&](const auto& watch) { return liesWithin(watch.second.path, path); });
    }

    // The folder watched as `path` no longer has that name: its watch and those of the folders
    // below it would report their events under names that are wrong now.
    void dropUnder(const std::string& path) {
        std::vector<int> dropped;
        for (const auto& watch : watches)
            if (liesWithin(watch.second.path, path)) dropped.push_back(watch.first);
        for (int wd : dropped) {
            inotify_rm_watch(fd, wd);
            forget(wd);
        }
    }

    void drain() {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t length = read(fd, buffer, sizeof buffer);
            if (length <= 0) return; // EAGAIN: nothing more for now
            const Clock::time_point now = Clock::now();
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    // The system's queue ran full: what happened meanwhile is unknown.
                    if (pending.empty() && !lostEvents) first = now;
                    lostEvents = true;
                    last = now;
                    continue;
                }
                if (event->mask & IN_IGNORED) {
                    forget(event->wd);
                    continue;
                }
                const auto dir = watches.find(event->wd);
                if (dir == watches.end()) continue;
                if (event->mask & (IN_MOVE_SELF | IN_DELETE_SELF)) {
                    dropUnder(dir->second.path);
                    continue;
                }
                if (event->len == 0) continue;
                const Watch watch = dir->second; // add() may change the map
                const std::string path = joinPath(watch.path, event->name);
                if (event->mask & IN_ISDIR) {
                    // A folder made or moved in later: its files are watched from now on.
                    if (watch.recursive && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                        add(path, true, watch.within, true);
                    continue;
                }
                if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) && watch.recursive && watchesUnder(path)) {
                    // A link that led to watched folders is gone: they are watched under another
                    // name that leads there, or not at all.
                    rescan();
                    continue;
                }
                if (event->mask & IN_CREATE) {
                    // A link to a folder made later is followed as the folders are.
                    struct stat st;
                    if (watch.recursive && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                        add(path, true, watch.within, true);
                    // A file just created is still being written: its close says when it is done.
                    if (event->mask == IN_CREATE) continue;
                }
                note(path, now);
            }
        }
    }

    // Directories that went away, looked for again; their files count as changed when back.
    void lookForGone() {
        const Clock::time_point now = Clock::now();
        for (size_t i = 0; i < roots.size(); ++i) {
            if (roots[i].wd >= 0 || now - roots[i].lastLook < kLookForGone) continue;
            roots[i].lastLook = now;
            struct stat st;
            if (stat(roots[i].path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
            const Root root = roots[i]; // add() may reach forget(), which changes roots
            const int wd = add(root.path, root.recursive, root.within, true);
            if (wd < 0) continue;
            roots[i].wd = wd;
            say(Notice::Kind::Back, root.path, std::string());
        }
    }

    // After events were lost: watches whose folder is no longer under their name go, and the
    // folders made meanwhile are watched.
    void rescan() {
        std::vector<int> stale;
        for (const auto& watch : watches) {
            struct stat st;
            if (stat(watch.second.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                !(FolderId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} ==
                  watch.second.id))
                stale.push_back(watch.first);
        }
        for (int wd : stale) {
            inotify_rm_watch(fd, wd);
            forget(wd);
        }
        const std::vector<Root> current = roots;
        for (const Root& root : current)
            if (root.wd >= 0 && root.recursive) add(root.path, true, root.within, false, true);
    }
};

FileWatcher::FileWatcher(size_t watchLimit) : state(new State) {
    state->limit = watchLimit;
    state->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state->fd < 0)
        state->failure = errno == EMFILE ? "the system gives no more file watches (" +
                                               systemLimit("max_user_instances") + " reached)"
                                         : std::string("the system gives no file watch: ") + strerror(errno);
}

FileWatcher::~FileWatcher() {
    if (state->fd >= 0) close(state->fd);
}

bool FileWatcher::ok() const {
    return state->fd >= 0;
}

const std::string& FileWatcher::failure() const {
    return state->failure;
}

bool FileWatcher::watchDirectory(const std::string& path, bool recursive, const std::string& within) {
    if (!ok()) return false;
    const std::string inside = realPath(within.empty() ? path : within);
    const int wd = state->add(path, recursive, inside, false);
    if (wd < 0) return false;
    for (State::Root& root : state->roots)
        if (root.path == path) {
            root.recursive = root.recursive || recursive;
            root.wd = wd;
            return true;
        }
    state->roots.push_back(State::Root{path, recursive, inside, wd, Clock::time_point{}});
    return true;
}

std::vector<std::string> FileWatcher::settledChanges(std::chrono::milliseconds quiet,
                                                     Clock::time_point* firstSeen, bool* lost) {
    if (!ok()) return {};
    state->drain();
    state->lookForGone();
    if ((state->pending.empty() && !state->lostEvents) || Clock::now() - state->last < quiet) return {};
    if (state->lostEvents) state->rescan();
    if (firstSeen) *firstSeen = state->first;
    if (lost) *lost = state->lostEvents;
    state->lostEvents = false;
    std::vector<std::string> changes;
    changes.swap(state->pending);
    state->pendingSet.clear();
    return changes;
}

std::vector<FileWatcher::Notice> FileWatcher::takeNotices() {
    std::vector<Notice> taken;
    taken.swap(state->notices);
    return taken;
}

} // namespace platform
