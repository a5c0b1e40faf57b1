// The file watcher: which edits it reports, and that a burst of writes comes as one batch.
#include "platform/FileWatcher.h"
#include "GLTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using platform::FileWatcher;
using namespace std::chrono_literals;

namespace {

bool contains(const std::vector<std::string>& paths, const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// The next batch, waiting up to two seconds for one.
std::vector<std::string> nextBatch(FileWatcher& watcher, std::chrono::milliseconds quiet = 50ms) {
    for (int i = 0; i < 200; ++i) {
        std::vector<std::string> batch = watcher.settledChanges(quiet);
        if (!batch.empty()) return batch;
        std::this_thread::sleep_for(10ms);
    }
    return {};
}

} // namespace

// An editor's save (a temporary file renamed over the old one, a backup deleted), an in-place
// write and a deletion are each reported; the burst is one batch, handed out once.
TEST(FileWatcher, ReportsWritesRenamesAndDeletionsOnceTheBurstSettles) {
    const std::string dir = makeTempDir();
    writeFile(dir + "/picture.png", "old");
    writeFile(dir + "/picture.png~", "backup");
    FileWatcher watcher;
    ASSERT_TRUE(watcher.ok());
    ASSERT_TRUE(watcher.watchDirectory(dir, false));
    EXPECT_TRUE(watcher.settledChanges(0ms).empty());

    writeFile(dir + "/.picture.png.swp", "new");
    std::filesystem::rename(dir + "/.picture.png.swp", dir + "/picture.png");
    std::filesystem::remove(dir + "/picture.png~");
    // Not yet: the burst has to be quiet for a while first.
    EXPECT_TRUE(watcher.settledChanges(10s).empty());
    FileWatcher::Clock::time_point first{};
    std::vector<std::string> batch;
    for (int i = 0; i < 200 && batch.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        batch = watcher.settledChanges(50ms, &first);
    }
    EXPECT_TRUE(contains(batch, dir + "/picture.png"));
    EXPECT_TRUE(contains(batch, dir + "/picture.png~"));
    EXPECT_EQ(std::count(batch.begin(), batch.end(), dir + "/picture.png"), 1);
    EXPECT_LE(first, FileWatcher::Clock::now());
    EXPECT_TRUE(watcher.settledChanges(0ms).empty()) << "a batch is handed out once";

    writeFile(dir + "/picture.png", "in place");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{dir + "/picture.png"});
    std::filesystem::remove(dir + "/picture.png");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{dir + "/picture.png"});
}

// Recursive watches reach folders that exist at the start and folders made later; a plain one
// and other folders stay out.
TEST(FileWatcher, RecursiveWatchesFollowNewFolders) {
    const std::string dir = makeTempDir(), other = makeTempDir();
    writeFile(dir + "/data/scripts/demo.scr", "a");
    FileWatcher watcher;
    ASSERT_TRUE(watcher.watchDirectory(dir + "/data", true));
    writeFile(dir + "/data/scripts/demo.scr", "b");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{dir + "/data/scripts/demo.scr"});

    std::filesystem::create_directories(dir + "/data/images/new");
    std::this_thread::sleep_for(100ms); // the watch on the new folder is added as its event is read
    (void)watcher.settledChanges(0ms);
    writeFile(dir + "/data/images/new/p.png", "c");
    writeFile(other + "/elsewhere.png", "d");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{dir + "/data/images/new/p.png"});

    FileWatcher flat;
    ASSERT_TRUE(flat.watchDirectory(dir + "/data", false));
    writeFile(dir + "/data/scripts/demo.scr", "e");
    writeFile(dir + "/data/top.txt", "f");
    EXPECT_EQ(nextBatch(flat), std::vector<std::string>{dir + "/data/top.txt"});
    EXPECT_FALSE(flat.watchDirectory(dir + "/missing", false));
}
