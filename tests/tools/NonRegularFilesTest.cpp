// Every tool and the player against a FIFO, device node or symbolic link where they read or write
// a file: a clear refusal at once (a hung run is ended by the timeout and fails), and nothing in
// the way replaced.
#include "GLTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kPrompt = 30; // seconds; every run here ends in well under one

// The things a careless user leaves under an output's name, each made in `dir`.
struct Obstacles {
    std::string fifo, link, device;
};

Obstacles makeObstacles(const std::string& dir, const std::string& stem, const std::string& keep) {
    Obstacles o{dir + "/fifo-" + stem, dir + "/link-" + stem, dir + "/device-" + stem};
    EXPECT_EQ(mkfifo(o.fifo.c_str(), 0600), 0);
    EXPECT_EQ(symlink(keep.c_str(), o.link.c_str()), 0);
    EXPECT_EQ(symlink("/dev/null", o.device.c_str()), 0); // names the device through a link
    return o;
}

void expectUntouched(const Obstacles& o, const std::string& keep, const std::string& keepText) {
    EXPECT_TRUE(fs::is_fifo(o.fifo));
    EXPECT_TRUE(fs::is_symlink(o.link));
    EXPECT_TRUE(fs::is_symlink(o.device));
    EXPECT_EQ(readFile(keep), keepText);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

void expectNoTemporaries(const std::string& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

} // namespace

// Outputs of the makers: refused before any work, the thing in the way left as it was.
TEST(NonRegularFiles, MakersReplaceOnlyRegularFiles) {
    const std::string dir = makeTempDir();
    writeFile(dir + "/keep.txt", "keep me");
    const Obstacles o = makeObstacles(dir, "music.ogg", dir + "/keep.txt");
    for (const std::string& out : {o.fifo, o.link, o.device}) {
        CommandResult r = runCommand(binPath("holdfast-makemusic") + " " + out + " --seconds 1", kPrompt);
        EXPECT_EQ(r.exitCode, 1) << out << r.err;
        EXPECT_NE(r.err.find("will not write " + out + ": it exists and is not a regular file"),
                  std::string::npos)
            << r.err;
    }
    expectUntouched(o, dir + "/keep.txt", "keep me");

    // holdfast-makedemo writes a whole tree by name: anything but files and folders in it stops it.
    ASSERT_TRUE(fs::create_directories(dir + "/made/data/scripts"));
    ASSERT_EQ(mkfifo((dir + "/made/data/scripts/demo.scr").c_str(), 0600), 0);
    CommandResult r = runCommand(binPath("holdfast-makedemo") + " --content " + HOLDFAST_SOURCE_DIR +
                                     "/content --out " + dir + "/made",
                                 kPrompt);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("data/scripts/demo.scr is not a regular file or folder"), std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::is_fifo(dir + "/made/data/scripts/demo.scr"));

    // make-demo.sh renames its finished files over music.ogg and data.qzd.
    ASSERT_TRUE(fs::create_directories(dir + "/demo"));
    ASSERT_EQ(mkfifo((dir + "/demo/music.ogg").c_str(), 0600), 0);
    ASSERT_EQ(symlink((dir + "/keep.txt").c_str(), (dir + "/demo/data.qzd").c_str()), 0);
    r = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " +
                       fs::path(HOLDFAST_BIN_DIR).parent_path().string() + " " + dir + "/demo",
                   kPrompt);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("will not replace " + dir + "/demo/music.ogg: it exists and is not a regular file"),
              std::string::npos)
        << r.err;
    fs::remove(dir + "/demo/music.ogg");
    r = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " +
                       fs::path(HOLDFAST_BIN_DIR).parent_path().string() + " " + dir + "/demo",
                   kPrompt);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("will not replace " + dir + "/demo/data.qzd"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir + "/demo/data.qzd"));
    EXPECT_FALSE(fs::exists(dir + "/demo/music.ogg"));
    EXPECT_EQ(readFile(dir + "/keep.txt"), "keep me");
    expectNoTemporaries(dir);
}

// The readers: a FIFO named as a script, demo or scene is refused with the reason, not waited on.
TEST(NonRegularFiles, ReadersRefuseAFifoAtOnce) {
    const std::string dir = makeTempDir();
    const std::string fifo = dir + "/input";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string command;
        int exitCode;
        const char* says;
    } cases[] = {
        {binPath("holdfast-script") + " " + fifo, 1, "not a regular file"},
        {binPath("holdfast-script") + " --archive " + fifo + " --password pw demo.scr", 1,
         "not a regular file"},
        {binPath("holdfast-script") + " --check " + fifo, 2, "neither a demo folder nor a data archive"},
        {binPath("holdfast-scene") + " info " + fifo, 1, "not a regular file"},
    };
    for (const Case& c : cases) {
        CommandResult r = runCommand(c.command, kPrompt);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.command << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.command << "\n" << r.err;
    }
}

// The preview on a demo folder whose picture, script and music are FIFOs: each data file is
// reported by name, the music is left out, and the run ends at once on the missing script.
TEST(NonRegularFiles, PreviewReportsFifoDataFilesInsteadOfWaiting) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string dir = makeTempDir();
    ASSERT_TRUE(fs::create_directories(dir + "/data/scripts") &&
                fs::create_directories(dir + "/data/images"));
    for (const char* name : {"/data/scripts/demo.scr", "/data/images/loading.png", "/music.ogg"})
        ASSERT_EQ(mkfifo((dir + name).c_str(), 0600), 0) << name;
    CommandResult r = runCommand("HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " +
                                     binPath("holdfast-preview") + " --data " + dir,
                                 kPrompt);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("no music at " + dir + "/music.ogg, playing silently"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Data file is not a regular file: data/images/loading.png"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Data file is not a regular file: data/scripts/demo.scr"), std::string::npos)
        << r.err;
}
