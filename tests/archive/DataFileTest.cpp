// DataFile: whole-file buffers with stream-like reads, from disk and from the data archive.
// The archive setting is process-wide and permanent, so archive cases run in a child process.
#include "ArchiveHelpers.h"

#include "archive/DataFile.h"
#include "archive/RarArchive.h"
#include "base/Report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace archivetest;

namespace {

std::vector<report::Record> boxes;
void collect(const report::Record& r) {
    boxes.push_back(r);
}

// Runs `body` in a forked child; its gtest failures are printed there and turn into exit code 1.
template <class F> void inChild(F body) {
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        fflush(nullptr);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failures in the child process (see above)";
}

Bytes bytesOf(const char* text) {
    return Bytes(text, text + strlen(text));
}

} // namespace

TEST(DataFile, ReadsWholeItemsOnlyAndStopsAtTheEnd) {
    ScratchDir dir;
    Bytes ten = bytesOf("0123456789");
    writeFile(dir.file("ten.bin"), ten);
    inChild([&] {
        DataFile file(dir.file("ten.bin").c_str());
        ASSERT_TRUE(file.isOpen());
        EXPECT_EQ(file.getSize(), 10u);
        uint8_t buf[16] = {};
        // 3 items of 4 bytes with 10 bytes left: 2 items, 8 bytes on.
        EXPECT_EQ(file.read(buf, 4, 3), 2u);
        EXPECT_EQ(memcmp(buf, "01234567", 8), 0);
        EXPECT_EQ(buf[8], 0); // nothing of the item that did not fit
        EXPECT_EQ(file.tell(), 8u);
        EXPECT_EQ(file.read(buf, 4, 1), 0u);
        EXPECT_EQ(file.tell(), 8u);
        EXPECT_EQ(file.read(buf, 1, 5), 2u);
        EXPECT_EQ(file.read(buf, 1, 100), 0u); // at the end: nothing
        EXPECT_EQ(file.read(buf, 1, 0), 0u);
        EXPECT_EQ(file.tell(), 10u);
    });
}

TEST(DataFile, SeekOriginsAreUncheckedAndUnknownOriginsIgnored) {
    ScratchDir dir;
    writeFile(dir.file("ten.bin"), bytesOf("0123456789"));
    inChild([&] {
        DataFile* file = DataFile::open(dir.file("ten.bin").c_str());
        ASSERT_NE(file, nullptr);
        uint8_t buf[8] = {};
        EXPECT_EQ(file->seek(0, 2), 0);
        EXPECT_EQ(file->tell(), 10u); // the length, as the shader loader takes it
        EXPECT_EQ(file->seek(-4, 2), 0);
        EXPECT_EQ(file->read(buf, 1, 8), 4u);
        EXPECT_EQ(memcmp(buf, "6789", 4), 0);
        EXPECT_EQ(file->seek(3, 0), 0);
        EXPECT_EQ(file->seek(2, 1), 0);
        EXPECT_EQ(file->tell(), 5u);
        EXPECT_EQ(file->seek(1, 7), 0); // unknown origin: position unchanged
        EXPECT_EQ(file->tell(), 5u);
        // Past the end and before the start are kept; reads give nothing until a seek back.
        file->seek(100, 0);
        EXPECT_EQ(file->tell(), 100u);
        EXPECT_EQ(file->read(buf, 1, 1), 0u);
        file->seek(-1, 0);
        EXPECT_EQ(file->read(buf, 1, 1), 0u);
        file->seek(-3, 1); // wraps back into range from "before the start"
        file->seek(9, 0);
        EXPECT_EQ(file->read(buf, 1, 1), 1u);
        EXPECT_EQ(buf[0], '9');
        delete file;
    });
}

TEST(DataFile, ZeroLengthMissingAndClosedFiles) {
    ScratchDir dir;
    writeFile(dir.file("empty.bin"), {});
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        DataFile empty(dir.file("empty.bin").c_str());
        ASSERT_TRUE(empty.isOpen());
        EXPECT_EQ(empty.getSize(), 0u);
        EXPECT_NE(empty.getData(), nullptr); // a block of its own, never null
        uint8_t buf[4];
        EXPECT_EQ(empty.read(buf, 1, 4), 0u);
        EXPECT_EQ(empty.read(buf, 4, 1), 0u);

        DataFile missing(dir.file("missing.bin").c_str());
        EXPECT_FALSE(missing.isOpen());
        EXPECT_EQ(DataFile::open(dir.file("missing.bin").c_str()), nullptr);
        EXPECT_EQ(DataFile::open(dir.path.c_str()), nullptr); // a directory is no data file
        // Over 2 GiB (sparse): a failed open, nothing allocated for it.
        writeFile(dir.file("huge.bin"), {1});
        ASSERT_EQ(truncate(dir.file("huge.bin").c_str(), static_cast<off_t>(3) << 30), 0);
        EXPECT_FALSE(DataFile(dir.file("huge.bin").c_str()).isOpen());
        EXPECT_TRUE(boxes.empty()); // disk misses are silent

        // A short read: sysfs files claim 4096 bytes and give a few; the rest reads as zeros.
        const char* shortFile = "/sys/devices/system/cpu/online";
        DataFile partial(shortFile);
        if (partial.isOpen() && partial.getSize() == 4096) {
            const unsigned char* bytes = partial.getData();
            const size_t text = strnlen(reinterpret_cast<const char*>(bytes), 4096);
            EXPECT_GT(text, 0u);
            EXPECT_EQ(std::count(bytes + text, bytes + 4096, 0), static_cast<long>(4096 - text));
        }

        DataFile file(dir.file("empty.bin").c_str());
        file.close();
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(file.read(buf, 1, 1), 0u);
        file.close(); // twice is harmless
    });
}

// A FIFO under a data file's name has no writer: a plain open would wait for one forever.
TEST(DataFile, FifosAreRefusedAtOnceAndReported) {
    ScratchDir dir;
    const std::string archive = dir.file("data.qzd"), script = dir.file("demo.scr");
    ASSERT_EQ(mkfifo(archive.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(script.c_str(), 0600), 0);
    inChild([&] {
        alarm(20); // a blocking open ends the child by the signal, which fails the test
        rar::Reader reader;
        EXPECT_FALSE(reader.openFile(archive.c_str()));
        EXPECT_NE(reader.error().find("not a regular file"), std::string::npos) << reader.error();

        boxes.clear();
        report::setSink(collect);
        EXPECT_EQ(DataFile::open(script.c_str()), nullptr);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_FALSE(boxes[0].fatal);
        EXPECT_NE(boxes[0].text.find("Data file is not a regular file: " + script), std::string::npos)
            << boxes[0].text;

        // Asking a FIFO's size neither waits on it nor calls it a file.
        EXPECT_EQ(DataFile::sizeOf(script.c_str()), -1);
        EXPECT_EQ(DataFile::sizeOf(dir.path.c_str()), -1);
        EXPECT_EQ(DataFile::sizeOf(dir.file("absent").c_str()), -1);

        setDataArchive(archive.c_str(), "pw");
        EXPECT_EQ(DataFile::open("data/scripts/demo.scr"), nullptr);
    });
}

TEST(DataFile, ArchiveServesMembersAndNeverFallsBackToDisk) {
    ScratchDir dir;
    Bytes script = textBytes(3000);
    rar::WriterOptions options;
    options.password = "tolvrask";
    options.compress = true;
    std::string archive = dir.file("data.qzd");
    ASSERT_TRUE(buildArchive(archive, {{"data/scripts/demo.scr", script}, {"data/empty.bin", {}}}, options));
    // The same relative names also exist on disk; with the archive set they must not be used.
    writeFile(dir.file("data/scripts/demo.scr"), bytesOf("disk copy"));
    writeFile(dir.file("data/only-on-disk.txt"), bytesOf("disk only"));
    inChild([&] {
        ASSERT_EQ(chdir(dir.path.c_str()), 0);
        boxes.clear();
        report::setSink(collect);
        setDataArchive("data.qzd", "tolvrask");
        EXPECT_TRUE(dataArchiveIsSet());

        DataFile file("data/scripts/demo.scr");
        ASSERT_TRUE(file.isOpen());
        ASSERT_EQ(file.getSize(), script.size());
        Bytes got(script.size());
        EXPECT_EQ(file.read(got.data(), 1, static_cast<unsigned>(got.size())), script.size());
        EXPECT_TRUE(got == script);

        DataFile* empty = DataFile::open("data/empty.bin");
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->getSize(), 0u);
        EXPECT_NE(empty->getData(), nullptr);
        delete empty;
        EXPECT_TRUE(boxes.empty());

        // Sizes come from the member headers without extracting, quietly; a disk file is no member.
        EXPECT_EQ(DataFile::sizeOf("data/scripts/demo.scr"), static_cast<long long>(script.size()));
        EXPECT_EQ(DataFile::sizeOf("data\\scripts\\demo.scr"), static_cast<long long>(script.size()));
        EXPECT_EQ(DataFile::sizeOf("data/empty.bin"), 0);
        EXPECT_EQ(DataFile::sizeOf("data/only-on-disk.txt"), -1);
        EXPECT_TRUE(boxes.empty());

        // Missing member: exactly one "message" box, no disk fallback.
        DataFile missing("data/only-on-disk.txt");
        EXPECT_FALSE(missing.isOpen());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "message");
        EXPECT_FALSE(boxes[0].fatal);
        EXPECT_EQ(boxes[0].text.rfind("filename: data/only-on-disk.txt\ndata size: 0, ptr: 0, retVal: ", 0),
                  0u)
            << boxes[0].text;
        EXPECT_EQ(DataFile::open("data/only-on-disk.txt"), nullptr);
        EXPECT_EQ(boxes.size(), 2u);
    });
}

// A wrong password, or none for an encrypted archive (a null pointer hands none to the
// extraction), and a missing archive are a failed open with one box; a plain archive needs none.
TEST(DataFile, AWrongOrAbsentPasswordOrAMissingArchiveFailsWithOneBox) {
    ScratchDir dir;
    std::string plain = dir.file("plain.qzd"), locked = dir.file("locked.qzd");
    ASSERT_TRUE(buildArchive(plain, {{"data/a.txt", textBytes(100)}}, rar::WriterOptions{}));
    rar::WriterOptions options;
    options.password = "tolvrask";
    ASSERT_TRUE(buildArchive(locked, {{"data/a.txt", textBytes(100)}}, options));
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        setDataArchive(locked.c_str(), "wrong");
        DataFile file("data/a.txt");
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(boxes.size(), 1u);
    });
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        setDataArchive(dir.file("absent.qzd").c_str(), "tolvrask");
        EXPECT_EQ(DataFile::open("data/a.txt"), nullptr);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "message");
    });
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        setDataArchive(plain.c_str(), nullptr);
        DataFile file("data/a.txt");
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(Bytes(file.getData(), file.getData() + file.getSize()) == textBytes(100));
        EXPECT_TRUE(boxes.empty());
    });
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        setDataArchive(locked.c_str(), nullptr);
        EXPECT_FALSE(DataFile("data/a.txt").isOpen());
        EXPECT_EQ(boxes.size(), 1u);
    });
}

TEST(DataFile, SolidArchiveInAnyOrderAndAReplacedArchiveIsReadAfresh) {
    ScratchDir dir;
    std::vector<std::pair<std::string, Bytes>> members;
    for (int i = 0; i < 6; ++i)
        members.push_back({"data/m" + std::to_string(i) + ".txt", textBytes(20000 + 1000 * i, 10 + i)});
    rar::WriterOptions options;
    options.password = "tolvrask";
    options.compress = true;
    options.solid = true;
    std::string archive = dir.file("data.qzd");
    ASSERT_TRUE(buildArchive(archive, members, options));
    inChild([&] {
        boxes.clear();
        report::setSink(collect);
        setDataArchive(archive.c_str(), "tolvrask");
        for (int i : {0, 1, 2, 5, 3, 4, 4, 1}) {
            DataFile file(members[i].first.c_str());
            ASSERT_TRUE(file.isOpen()) << members[i].first;
            EXPECT_TRUE(Bytes(file.getData(), file.getData() + file.getSize()) == members[i].second);
        }
        // The archive replaced under the running program: the new contents are served.
        ASSERT_TRUE(buildArchive(archive, {{"data/m0.txt", textBytes(10, 99)}}, options));
        DataFile file("data/m0.txt");
        ASSERT_TRUE(file.isOpen());
        EXPECT_TRUE(Bytes(file.getData(), file.getData() + file.getSize()) == textBytes(10, 99));
        EXPECT_FALSE(DataFile("data/m1.txt").isOpen());
        EXPECT_EQ(boxes.size(), 1u);
    });
}

// A reader that reads its way through a file (a picture decoder) gets the same bytes, items and
// positions as from a whole file, while only what it asks for is read: a sparse file past the
// 2 GiB a whole read may take opens as a stream. Failed opens say why.
TEST(DataFile, StreamsReadOnlyWhatIsAskedAndFailuresSayWhy) {
    ScratchDir dir;
    const Bytes bytes = noiseBytes(200000);
    writeFile(dir.file("noise.bin"), bytes);
    const std::string path = dir.file("noise.bin");
    DataFile whole(path.c_str());
    std::unique_ptr<DataFile> stream(DataFile::openStream(path.c_str()));
    ASSERT_TRUE(whole.isOpen());
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->getSize(), bytes.size());
    // Small and large reads, every origin of seek, a read over the end.
    const std::pair<int, int> seeks[] = {{0, 0}, {5, 1}, {-70000, 2}, {100, 0}, {-10, 2}, {0, 1}};
    for (const auto& [offset, origin] : seeks) {
        whole.seek(offset, origin);
        stream->seek(offset, origin);
        for (unsigned itemSize : {1u, 4u, 3u, 70000u}) {
            Bytes a(3 * itemSize), b(3 * itemSize);
            EXPECT_EQ(stream->read(b.data(), itemSize, 3), whole.read(a.data(), itemSize, 3)) << offset;
            EXPECT_TRUE(a == b) << offset << " " << itemSize;
            EXPECT_EQ(stream->tell(), whole.tell());
        }
    }
    ASSERT_NE(stream->getData(), nullptr);
    EXPECT_TRUE(Bytes(stream->getData(), stream->getData() + stream->getSize()) == bytes);

    const std::string huge = dir.file("huge.bin");
    writeFile(huge, bytesOf("head"));
    ASSERT_EQ(truncate(huge.c_str(), 3LL << 30), 0);
    std::unique_ptr<DataFile> far(DataFile::openStream(huge.c_str()));
    ASSERT_TRUE(far);
    EXPECT_EQ(far->getSize(), 3u << 30);
    char head[4];
    EXPECT_EQ(far->read(head, 4, 1), 1u);
    EXPECT_EQ(std::string(head, 4), "head");
    EXPECT_FALSE(DataFile(huge.c_str()).isOpen());
    EXPECT_EQ(DataFile::lastFailure(), "is too large to read (3221225472 bytes)");

    EXPECT_FALSE(DataFile(dir.file("absent").c_str()).isOpen());
    EXPECT_EQ(DataFile::lastFailure(), "is missing");
    EXPECT_EQ(DataFile::openStream(dir.path.c_str()), nullptr);
    EXPECT_EQ(DataFile::lastFailure(), "is a directory, not a file");
    EXPECT_TRUE(DataFile(path.c_str()).isOpen());
    EXPECT_EQ(DataFile::lastFailure(), "");
}

// Once the data folder is set, a name leads to a file inside it or to nothing: no "..", absolute
// path or link takes a folder demo's script out of it, as none takes a packed one out of its
// archive. The refusal is reported once, also for a size query and the open after it.
TEST(DataFile, FolderDemoNamesStayInsideTheFolder) {
    ScratchDir dir;
    writeFile(dir.file("demo/data/a.png"), bytesOf("inside"));
    writeFile(dir.file("outside.png"), bytesOf("outside"));
    ASSERT_EQ(symlink("../../outside.png", dir.file("demo/data/out.png").c_str()), 0);
    ASSERT_EQ(symlink("a.png", dir.file("demo/data/in.png").c_str()), 0);
    ASSERT_EQ(symlink(dir.path.c_str(), dir.file("demo/data/up").c_str()), 0);
    inChild([&] {
        ASSERT_EQ(chdir(dir.file("demo").c_str()), 0);
        boxes.clear();
        report::setSink(collect);
        setDataFolder(".");
        for (const char* name : {"data/a.png", "./data/../data/a.png", "data/in.png"})
            EXPECT_TRUE(DataFile(name).isOpen()) << name;
        EXPECT_TRUE(boxes.empty());

        const std::string absolute = dir.file("outside.png");
        const std::pair<std::string, std::string> refused[] = {
            {"../outside.png", "a \"..\" climbs out of it"},
            {"data/../../outside.png", "a \"..\" climbs out of it"},
            {absolute, "an absolute path"},
            {"data/out.png", "a link that leads out of it (to " + absolute + ")"},
            {"data/up/outside.png", "a link that leads out of it (to " + absolute + ")"}};
        for (const auto& [name, why] : refused) {
            boxes.clear();
            EXPECT_EQ(DataFile::sizeOf(name.c_str()), -1) << name;
            EXPECT_EQ(DataFile::openStream(name.c_str()), nullptr) << name;
            EXPECT_FALSE(DataFile(name.c_str()).isOpen()) << name;
            EXPECT_EQ(DataFile::lastFailure(), "leaves the demo folder: " + why);
            ASSERT_EQ(boxes.size(), 1u) << name;
            EXPECT_NE(
                boxes[0].text.find("Data file lies outside the demo folder, not read: " + name + ": " + why),
                std::string::npos)
                << boxes[0].text;
            EXPECT_TRUE(DataFile("data/a.png").isOpen());
        }
        setDataFolder(nullptr);
        EXPECT_TRUE(DataFile("../outside.png").isOpen());
    });
}
