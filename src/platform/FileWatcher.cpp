#include "platform/FileWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <system_error>

namespace platform {

namespace {
// Whole writes and renames, not every write(2) of a file still being written: a picture is read
// after its writer closed it. Deleted and moved-away files count too (the demo lost them).
constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE;
} // namespace

struct FileWatcher::State {
    using fs_iterator = std::filesystem::directory_iterator;
    int fd = -1;
    std::map<int, std::pair<std::string, bool>> directories; // watch -> (path, recursive)
    std::vector<std::string> pending;
    Clock::time_point first{}, last{};

    // `late`: a folder that appeared while watching, whose files may have been written before its
    // watch was there (a copied folder): they count as changed.
    bool add(const std::string& path, bool recursive, bool late = false) {
        const int wd = inotify_add_watch(fd, path.c_str(), kFileEvents | IN_ONLYDIR);
        if (wd < 0) return false;
        directories[wd] = {path, recursive};
        if (!recursive && !late) return true;
        std::error_code ec;
        for (fs_iterator it(path, ec); !ec && it != fs_iterator(); it.increment(ec)) {
            if (it->is_directory(ec)) {
                if (recursive) add(it->path().string(), true, late);
            } else if (late) {
                note(it->path().string(), Clock::now());
            }
        }
        return true;
    }
    void note(const std::string& path, Clock::time_point now) {
        if (pending.empty()) first = now;
        last = now;
        if (std::find(pending.begin(), pending.end(), path) == pending.end()) pending.push_back(path);
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
                auto dir = directories.find(event->wd);
                if (event->mask & IN_IGNORED) {
                    if (dir != directories.end()) directories.erase(dir);
                    continue;
                }
                if (dir == directories.end() || event->len == 0) continue;
                const std::string path = dir->second.first + "/" + event->name;
                if (event->mask & IN_ISDIR) {
                    // A folder made or moved in later: its files are watched from now on.
                    if (dir->second.second && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                        add(path, true, true);
                    continue;
                }
                // A file just created is still being written: its close says when it is done.
                if (event->mask == IN_CREATE) continue;
                note(path, now);
            }
        }
    }
};

FileWatcher::FileWatcher() : state(new State) {
    state->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

FileWatcher::~FileWatcher() {
    if (state->fd >= 0) close(state->fd);
}

bool FileWatcher::ok() const {
    return state->fd >= 0;
}

bool FileWatcher::watchDirectory(const std::string& path, bool recursive) {
    return ok() && state->add(path, recursive);
}

std::vector<std::string> FileWatcher::settledChanges(std::chrono::milliseconds quiet,
                                                     Clock::time_point* firstSeen) {
    if (!ok()) return {};
    state->drain();
    if (state->pending.empty() || Clock::now() - state->last < quiet) return {};
    if (firstSeen) *firstSeen = state->first;
    std::vector<std::string> changes;
    changes.swap(state->pending);
    return changes;
}

} // namespace platform
