// holdfast-pack as demo authors run it: exit codes, what goes to stdout and stderr.
#include "ArchiveHelpers.h"

#include "archive/RarArchive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

using namespace archivetest;

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun pack(const std::string& args, const ScratchDir& dir, const std::string& prefix = "") {
    std::string outFile = dir.file("stdout"), errFile = dir.file("stderr");
    std::string command = prefix + std::string(HOLDFAST_BIN_DIR) + "/holdfast-pack " + args + " > " +
                          outFile + " 2> " + errFile;
    int raw = system(command.c_str());
    ToolRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    Bytes o = readFile(outFile), e = readFile(errFile);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

} // namespace

TEST(PackTool, CreateListExtractTest) {
    ScratchDir dir;
    Bytes script = textBytes(2000);
    writeFile(dir.file("tree/data/scripts/demo.scr"), script);
    writeFile(dir.file("tree/data/empty.bin"), {});
    writeFile(dir.file("tree/data/images/a b.png"), noiseBytes(100));
    std::string archive = dir.file("data.qzd");

    ToolRun c = pack("create " + archive + " " + dir.file("tree") + " --password tolvrask --compress", dir);
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_TRUE(std::filesystem::exists(archive));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << "temporary file left";

    ToolRun l = pack("list " + archive, dir);
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_NE(l.out.find("data\\scripts\\demo.scr\t2000\t"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("data\\empty.bin\t0\t0\tstore\t00000000\tencrypted"), std::string::npos) << l.out;
    char crc[16];
    snprintf(crc, sizeof(crc), "%08X", rar::crc32Update(0, script.data(), script.size()));
    EXPECT_NE(l.out.find(crc), std::string::npos);

    ToolRun x = pack("extract " + archive + " data/scripts/demo.scr --password tolvrask", dir);
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_TRUE(Bytes(x.out.begin(), x.out.end()) == script);

    ToolRun t = pack("test " + archive + " --password tolvrask", dir);
    EXPECT_EQ(t.status, 0) << t.err;
    EXPECT_NE(t.out.find("3 members, 0 failed"), std::string::npos);
}

TEST(PackTool, FailuresExitOneWithAMessageAndNoOutput) {
    ScratchDir dir;
    writeFile(dir.file("tree/data/a.txt"), textBytes(500));
    std::string archive = dir.file("data.qzd");
    ASSERT_EQ(pack("create " + archive + " " + dir.file("tree") + " --password pw", dir).status, 0);

    const std::string failing[] = {
        "extract " + archive + " data/a.txt --password wrong", // wrong password
        "extract " + archive + " data/a.txt",                  // no password
        "extract " + archive + " data/missing.txt --password pw",
        "extract " + dir.file("nothing.qzd") + " data/a.txt --password pw",
        "test " + archive + " --password wrong",
    };
    for (const std::string& args : failing) {
        SCOPED_TRACE(args);
        ToolRun r = pack(args, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.out.empty() || args.rfind("test", 0) == 0);
        EXPECT_FALSE(r.err.empty());
    }

    // Usage errors: exit code 2 and the usage text on stderr.
    for (const std::string& args : {"frobnicate " + archive, "extract " + archive, std::string("list")}) {
        ToolRun r = pack(args, dir);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(r.out.empty()) << args;
        EXPECT_NE(r.err.find("usage: holdfast-pack"), std::string::npos) << args << r.err;
    }

    // A damaged archive fails the test; an archive cut short fails too.
    Bytes good = readFile(archive);
    Bytes bad = good;
    bad[bad.size() - 7 - 3] ^= 0x40; // in the member's data, before the 7-byte end block
    writeFile(dir.file("bad.qzd"), bad);
    EXPECT_EQ(pack("test " + dir.file("bad.qzd") + " --password pw", dir).status, 1);
    writeFile(dir.file("cut.qzd"), Bytes(good.begin(), good.begin() + 40));
    EXPECT_EQ(pack("test " + dir.file("cut.qzd") + " --password pw", dir).status, 1);

    // A failed create leaves neither the target nor a temporary file behind.
    ToolRun c =
        pack("create " + dir.file("out/x.qzd") + " " + dir.file("no-such-tree") + " --password pw", dir);
    EXPECT_EQ(c.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/x.qzd")));
    ToolRun n =
        pack("create " + dir.file("missing-dir/x.qzd") + " " + dir.file("tree") + " --password pw", dir);
    EXPECT_EQ(n.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing-dir")));
}

// The archive ends with an end-of-archive block; without it, test still passes the members but
// warns that the archive may have been cut short (cut between two members, nothing else shows it).
TEST(PackTool, ArchiveEndsWithAnEndBlockAndTestWarnsWithoutOne) {
    ScratchDir dir;
    writeFile(dir.file("tree/data/a.txt"), textBytes(500));
    writeFile(dir.file("tree/data/b.txt"), textBytes(700, 2));
    const std::string archive = dir.file("data.qzd");
    for (const char* mode : {"", " --compress", " --compress --solid"}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(pack("create " + archive + " " + dir.file("tree") + " --password pw" + mode, dir).status,
                  0);
        Bytes whole = readFile(archive);
        const Bytes endBlock = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
        ASSERT_GT(whole.size(), endBlock.size());
        EXPECT_EQ(Bytes(whole.end() - 7, whole.end()), endBlock);
        ToolRun complete = pack("test " + archive + " --password pw", dir);
        EXPECT_EQ(complete.status, 0);
        EXPECT_EQ(complete.out, "2 members, 0 failed\n");
        EXPECT_EQ(complete.err.find("warning"), std::string::npos) << complete.err;

        // Cut right after the last member, and after the first one.
        rar::Reader reader;
        ASSERT_TRUE(reader.openMemory(whole.data(), whole.size()));
        ASSERT_TRUE(reader.endMarked());
        const rar::Entry& second = reader.entries().at(1);
        const size_t secondStart = static_cast<size_t>(second.dataOffset) - (32 + second.name.size());
        for (size_t cut : {whole.size() - 7, secondStart}) {
            writeFile(dir.file("cut.qzd"), Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
            ToolRun r = pack("test " + dir.file("cut.qzd") + " --password pw", dir);
            EXPECT_EQ(r.status, 0) << cut;
            EXPECT_NE(r.err.find("has no end-of-archive block; it may be cut short"), std::string::npos)
                << r.err;
        }
    }
}

// A FIFO named as the archive: refused at once, not waited on (timeout ends a hung tool).
TEST(PackTool, FifoArchiveIsRefusedWithoutWaiting) {
    ScratchDir dir;
    const std::string fifo = dir.file("data.qzd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string command : {"list ", "test "}) {
        ToolRun r = pack(command + fifo + " --password pw", dir, "timeout 30 ");
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << command << r.err;
    }
}

// create renames its finished archive over OUT: only an earlier archive may be replaced that way.
TEST(PackTool, CreateReplacesOnlyARegularFile) {
    ScratchDir dir;
    writeFile(dir.file("tree/data/a.txt"), textBytes(300));
    writeFile(dir.file("keep.txt"), textBytes(50));
    ASSERT_EQ(mkfifo(dir.file("fifo.qzd").c_str(), 0600), 0);
    ASSERT_EQ(symlink(dir.file("keep.txt").c_str(), dir.file("link.qzd").c_str()), 0);
    std::filesystem::create_directories(dir.file("folder.qzd"));
    for (const char* name : {"fifo.qzd", "link.qzd", "folder.qzd"}) {
        ToolRun r =
            pack("create " + dir.file(name) + " " + dir.file("tree") + " --password pw", dir, "timeout 30 ");
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find("is not a regular file; not replacing it"), std::string::npos) << name << r.err;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo.qzd")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.qzd")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.qzd")));
    EXPECT_EQ(readFile(dir.file("keep.txt")), textBytes(50));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();

    // An earlier archive is replaced.
    writeFile(dir.file("old.qzd"), textBytes(10));
    EXPECT_EQ(pack("create " + dir.file("old.qzd") + " " + dir.file("tree") + " --password pw", dir).status,
              0);
    EXPECT_EQ(pack("test " + dir.file("old.qzd") + " --password pw", dir).status, 0);
}

// A FIFO or device inside the tree has no contents to pack: it is left out with a warning instead
// of blocking the run, and the rest is packed.
TEST(PackTool, CreateLeavesOutFifosAndDevicesWithAWarning) {
    ScratchDir dir;
    writeFile(dir.file("tree/data/a.txt"), textBytes(300));
    ASSERT_EQ(mkfifo(dir.file("tree/data/pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", dir.file("tree/data/zero").c_str()), 0);
    ToolRun r =
        pack("create " + dir.file("out.qzd") + " " + dir.file("tree") + " --password pw", dir, "timeout 30 ");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("leaving out " + dir.file("tree/data/pipe") + ": not a regular file"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("leaving out " + dir.file("tree/data/zero")), std::string::npos) << r.err;
    r = pack("list " + dir.file("out.qzd"), dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("a.txt\t300"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pipe"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("zero"), std::string::npos) << r.out;
}

TEST(PackTool, EmptyPasswordMeansNotEncrypted) {
    ScratchDir dir;
    writeFile(dir.file("tree/data/a.txt"), textBytes(100));
    std::string archive = dir.file("plain.qzd");
    ASSERT_EQ(pack("create " + archive + " " + dir.file("tree") + " --password ''", dir).status, 0);
    ToolRun l = pack("list " + archive, dir);
    EXPECT_EQ(l.out.find("encrypted"), std::string::npos) << l.out;
    EXPECT_EQ(pack("extract " + archive + " data/a.txt", dir).status, 0);
}
