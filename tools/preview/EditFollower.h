// The preview's eye on the demo's files: which files the demo read (or looked for in vain), and
// when an edit has touched one of them. A folder demo's data/ tree is watched, with the folder of
// every other file it reads; an archive demo, the archive itself. What the watch cannot follow is
// said, so that the author knows to press R there.
#pragma once

#include "platform/FileWatcher.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace preview {

class EditFollower {
  public:
    using Clock = platform::FileWatcher::Clock;
    // How long an editor's burst of writes and renames must have been quiet before it counts.
    static constexpr std::chrono::milliseconds kQuiet{80};

    // Starts noting the names the demo opens; call before the demo loads.
    EditFollower();
    ~EditFollower();
    EditFollower(const EditFollower&) = delete;
    EditFollower& operator=(const EditFollower&) = delete;

    // Watches the demo (a folder that is the working directory, or an archive). False, with
    // `why`, when the system gives no watch: the preview then reloads on R only.
    bool start(const std::filesystem::path& demo, bool fromDirectory, std::string& why);
    // Watches the folders of files the demo opened since (a new scene or picture outside data/).
    void watchOpenedFiles();

    struct Edit {
        bool archive = false;           // the archive changed: everything in it may have
        bool everything = false;        // the system dropped file events: any file may have changed
        std::vector<std::string> files; // the demo's files that changed, as the demo names them
        Clock::time_point firstSeen;    // when the first change of the burst was noticed
        double savedAt = 0;             // the latest write of those files, s since the epoch (0: gone)
    };
    // Now on the clock of savedAt.
    static double wallNow();
    // True, filling `edit`, when a settled burst touched the demo's files. Never waits.
    bool poll(Edit& edit);

    // What the watch met since the last call, in words for the author: a folder it cannot watch
    // (`missesEdits`: edits there show after R only), a loop of links, data/ gone and back.
    struct Notice {
        std::string text;
        bool missesEdits = false;
    };
    std::vector<Notice> notices();

  private:
    platform::FileWatcher watcher;
    std::filesystem::path archive;
    bool watching = false;
    bool fromDirectory = false;
    std::vector<std::filesystem::path> watched; // folders watched, real paths
};

} // namespace preview
