// Telling a program that files it read have changed on disk (inotify on Linux), so that an
// author's edit shows without a key. Editors save in bursts (write a temporary file, rename it
// over the old one, touch the backup): changes are handed out only once the burst has settled.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class FileWatcher {
  public:
    using Clock = std::chrono::steady_clock;

    FileWatcher();
    ~FileWatcher();
    FileWatcher(const FileWatcher&) = delete;
    FileWatcher& operator=(const FileWatcher&) = delete;

    // False when the system gave no watch (the caller goes on without one).
    bool ok() const;
    // Watches the files of a directory and, with `recursive`, of every directory below it, also of
    // ones made later. False when the directory can't be watched.
    bool watchDirectory(const std::string& path, bool recursive);

    // The paths (directory as given + "/" + name) written, replaced, moved away or deleted since
    // the last batch, each once, in the order first seen; empty until nothing has changed for
    // `quiet`. `firstSeen` gets when the batch's first change was noticed. Never waits.
    std::vector<std::string> settledChanges(std::chrono::milliseconds quiet,
                                            Clock::time_point* firstSeen = nullptr);

  private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace platform
