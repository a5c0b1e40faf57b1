// The file watcher: which edits it reports, and that a burst of writes comes as one batch.
#include "platform/FileWatcher.h"
#include "GLTest.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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

namespace {
using Kind = FileWatcher::Notice::Kind;

size_t countNotices(const std::vector<FileWatcher::Notice>& notices, Kind kind) {
    return static_cast<size_t>(std::count_if(notices.begin(), notices.end(),
                                             [&](const FileWatcher::Notice& n) { return n.kind == kind; }));
}
} // namespace

// Links under data/ that lead back up make a loop: each folder is watched once, the loop is said
// once, and a link inside the demo is followed while one leading out of it is not.
TEST(FileWatcher, LinksAreFollowedOnceAndNeverOutOfTheDemo) {
    namespace fs = std::filesystem;
    const std::string demo = makeTempDir(), outside = makeTempDir();
    fs::create_directories(demo + "/data/images");
    fs::create_directories(demo + "/art");
    fs::create_symlink("..", demo + "/data/l1");
    fs::create_symlink("..", demo + "/data/l2");
    fs::create_symlink("../art", demo + "/data/art");
    fs::create_symlink(outside, demo + "/data/elsewhere");
    FileWatcher watcher;
    ASSERT_TRUE(watcher.watchDirectory(demo + "/data", true, demo));
    const std::vector<FileWatcher::Notice> notices = watcher.takeNotices();
    EXPECT_EQ(countNotices(notices, Kind::Loop), 1u);
    EXPECT_EQ(notices.size(), 1u);

    writeFile(outside + "/x.png", "out");
    writeFile(demo + "/art/a.png", "in");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{demo + "/data/art/a.png"});
    writeFile(demo + "/data/images/p.png", "p");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{demo + "/data/images/p.png"});
    EXPECT_TRUE(watcher.takeNotices().empty()) << "said once";

    // The walk alone: every real folder once, none outside.
    std::vector<std::string> visited;
    platform::FolderWalkFindings found;
    platform::walkFolders(
        demo + "/data", fs::canonical(demo).string(),
        [&](const std::string& path, platform::FolderId) {
            visited.push_back(fs::canonical(path).string());
            return true;
        },
        nullptr, found);
    std::sort(visited.begin(), visited.end());
    const std::string real = fs::canonical(demo).string();
    EXPECT_EQ(visited,
              (std::vector<std::string>{real, real + "/art", real + "/data", real + "/data/images"}));
    EXPECT_FALSE(found.repeated.empty());
}

// Nothing stops the watch silently: events the system dropped come as a lost batch (folders made
// meanwhile are watched by then), a watched folder deleted and made again is watched again (its
// files count as changed), and a full table is said once while what was watched stays watched.
TEST(FileWatcher, LostEventsRecreatedFoldersAndAFullTableAreHandedOut) {
    namespace fs = std::filesystem;
    const std::string dir = makeTempDir(), data = dir + "/data";
    fs::create_directories(data);
    FileWatcher watcher;
    ASSERT_TRUE(watcher.watchDirectory(data, true));
    long queue = std::stol(readFile("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_LT(queue, 1 << 20);
    const std::string names[2] = {data + "/a", data + "/b"};
    for (long i = 0; i <= queue; ++i) // each open for writing and close is one event
        close(open(names[i % 2].c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    fs::create_directories(data + "/new"); // its event is dropped
    bool lost = false;
    std::vector<std::string> batch;
    for (int i = 0; i < 200 && !lost; ++i) {
        std::this_thread::sleep_for(10ms);
        batch = watcher.settledChanges(50ms, nullptr, &lost);
    }
    EXPECT_TRUE(lost);
    writeFile(data + "/new/c.png", "c");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{data + "/new/c.png"});

    fs::remove_all(data);
    (void)nextBatch(watcher); // the deletions
    fs::create_directories(data);
    writeFile(data + "/script.scr", "again");
    EXPECT_TRUE(contains(nextBatch(watcher), data + "/script.scr"));
    std::vector<FileWatcher::Notice> notices = watcher.takeNotices();
    EXPECT_EQ(countNotices(notices, Kind::Gone), 1u);
    EXPECT_EQ(countNotices(notices, Kind::Back), 1u);
    writeFile(data + "/script.scr", "later");
    EXPECT_EQ(nextBatch(watcher), std::vector<std::string>{data + "/script.scr"});

    for (const char* folder : {"/a", "/b", "/c", "/d"})
        fs::create_directories(data + "/x" + folder);
    FileWatcher small(2);
    ASSERT_TRUE(small.watchDirectory(data, true));
    notices = small.takeNotices();
    EXPECT_EQ(countNotices(notices, Kind::Full), 1u);
    EXPECT_EQ(notices.size(), 1u);
    writeFile(data + "/top.txt", "t");
    EXPECT_EQ(nextBatch(small), std::vector<std::string>{data + "/top.txt"});
}
