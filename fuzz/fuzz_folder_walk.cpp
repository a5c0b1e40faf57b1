// The preview's watch of a demo folder: the input builds a tree of folders, files and links (back
// up, across, out of the demo, dangling, to files) in a temporary folder, and the watcher's walk
// and the watcher itself take it. The walk must end, visit each real folder once, never leave the
// demo through a link, and miss no folder that lies under data/ itself.
#include "platform/FileWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string& base() {
    static const std::string folder = [] {
        char name[] = "/tmp/holdfast-fuzz-walk-XXXXXX";
        if (!mkdtemp(name)) abort();
        return std::string(name);
    }();
    return folder;
}

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool liesWithin(const std::string& path, const std::string& folder) {
    return path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '/');
}

platform::FolderId idOf(const fs::path& path) {
    struct stat st;
    check(stat(path.c_str(), &st) == 0);
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path demo = base() + "/demo", outside = base() + "/outside";
    std::error_code ec;
    fs::remove_all(demo, ec); // links are removed, never followed
    fs::create_directories(demo / "data", ec);
    fs::create_directories(outside / "deep", ec);
    std::vector<fs::path> folders = {demo, demo / "data"};

    // Three bytes an operation: what, where, and a name or target.
    for (size_t at = 0; at + 3 <= size && at < 3 * 64; at += 3) {
        const fs::path& where = folders[data[at + 1] % folders.size()];
        const uint8_t b = data[at + 2];
        const std::string name = std::string(1, "dlfx"[data[at] % 4]) + std::to_string(b % 4);
        switch (data[at] % 4) {
        case 0: // a folder, not too deep
            if (std::distance(where.begin(), where.end()) < 24 && fs::create_directory(where / name, ec))
                folders.push_back(where / name);
            break;
        case 1: { // a link to a folder: up, across, out of the demo, or nowhere
            fs::path target;
            switch ((b / 4) % 5) {
            case 0:
                target = "..";
                break;
            case 1:
                target = "../..";
                break;
            case 2:
                target = folders[b % folders.size()].lexically_relative(where);
                break;
            case 3:
                target = (b & 0x80) ? outside : fs::path("/");
                break;
            default:
                target = "nowhere";
                break;
            }
            fs::create_symlink(target, where / name, ec);
            break;
        }
        case 2: { // a file
            const int fd = open((where / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) close(fd);
            break;
        }
        default: // a link to a file
            fs::create_symlink(fs::path("..") / "data" / ("f" + std::to_string(b % 4)), where / name, ec);
            break;
        }
    }

    const std::string inside = fs::canonical(demo).string();
    std::set<platform::FolderId> visited;
    platform::FolderWalkFindings findings;
    size_t visits = 0;
    platform::walkFolders((demo / "data").string(), inside,
                          [&](const std::string& path, platform::FolderId id) {
                              check(visited.insert(id).second);
                              check(id == idOf(path));
                              check(liesWithin(fs::canonical(path).string(), inside));
                              ++visits;
                              return true;
                          },
                          [&](const std::string& path) { check(liesWithin(path, (demo / "data").string())); },
                          findings);
    check(visits <= folders.size());
    // Every folder under data/ itself, found without following a link, is visited.
    for (fs::recursive_directory_iterator it(demo / "data", ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_symlink(ec) && it->is_directory(ec)) check(visited.count(idOf(it->path())) == 1);

    platform::FileWatcher watcher;
    if (watcher.ok()) {
        check(watcher.watchDirectory((demo / "data").string(), true, demo.string()));
        (void)watcher.takeNotices();
        const int fd = open((demo / "data" / "saved").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
        (void)watcher.settledChanges(std::chrono::milliseconds(0));
    }
    return 0;
}
