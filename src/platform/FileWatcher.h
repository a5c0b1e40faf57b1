// Telling a program that files it read have changed on disk (inotify on Linux), so that an
// author's edit shows without a key. Editors save in bursts (write a temporary file, rename it
// over the old one, touch the backup): changes are handed out only once the burst has settled.
// The watcher never stops silently: events the system dropped, folders that went away and came
// back, and folders it could not watch are all handed out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A real folder, whatever name leads to it.
struct FolderId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator<(const FolderId& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
    bool operator==(const FolderId& o) const { return device == o.device && inode == o.inode; }
};

// What a walk met besides folders to visit.
struct FolderWalkFindings {
    std::string repeated; // the first name found for a folder visited already (links make a loop)
    std::string repeatOf; // the name it was visited by
    struct Unreadable {
        std::string path, why;
    };
    std::vector<Unreadable> unreadable; // folders that could not be listed
};

// Walks the folders under `root` (root included), each real folder once however many names lead
// to it, without recursing on the call stack. `visit` is called for each with the name it was
// first found by and returns whether to go below it; `file`, when given, gets every other entry
// of a folder gone below. A link to a folder is followed only when the folder's real path lies in
// `within` (a real path; empty: no link is followed).
void walkFolders(const std::string& root, const std::string& within,
                 const std::function<bool(const std::string& path, FolderId id)>& visit,
                 const std::function<void(const std::string& path)>& file, FolderWalkFindings& findings);

class FileWatcher {
  public:
    using Clock = std::chrono::steady_clock;

    // `watchLimit`: the most folders this watcher takes from the system's table (which every
    // program of the user shares); past it, as past the table's own end, folders go unwatched.
    explicit FileWatcher(size_t watchLimit = std::numeric_limits<size_t>::max());
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // False when the system gave no watch (the caller goes on without one); `why` says why.
    bool ok() const;
    const std::string& failure() const;
    // Watches the files of a directory and, with `recursive`, of every directory below it, also of
    // ones made later. Each real folder is watched once; a link to a folder is followed only into
    // `within` (default: the directory itself). A watched directory that goes away is watched
    // again when it comes back, its files counting as changed. False when the directory can't be
    // watched.
    bool watchDirectory(const std::string& path, bool recursive, const std::string& within = std::string());

    // The paths (directory as given + "/" + name) written, replaced, moved away or deleted since
    // the last batch, each once, in the order first seen; empty until nothing has changed for
    // `quiet`. `firstSeen` gets when the batch's first change was noticed. `lost`, when given, is
    // set when the system dropped events since the last batch (its queue ran full): any file may
    // have changed, and folders made meanwhile are watched by now; such a batch may hold no path.
    // Never waits.
    std::vector<std::string> settledChanges(std::chrono::milliseconds quiet,
                                            Clock::time_point* firstSeen = nullptr, bool* lost = nullptr);

    // Something the watcher met that an author should hear of, each said once.
    struct Notice {
        enum class Kind {
            Unwatched, // a folder that could not be watched (`detail` says why): its edits go unseen
            Full,      // no room for more watches from `path` on (`detail`: which limit)
            Loop,      // links lead back to a folder watched already (`detail`: its first name)
            Gone,      // a watched directory went away; watched again when it comes back
            Back,      // ... and came back: watched again
        };
        Kind kind;
        std::string path;
        std::string detail;
    };
    // What happened since the last call.
    std::vector<Notice> takeNotices();

  private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace platform
