// The reader on archives made by the real RAR and WinRAR rather than by our own writer: the
// fixtures in real/ come from other projects' test suites (see real/README.md), kept as the
// uuencoded text they were published in.
#include "ArchiveHelpers.h"

#include "archive/ExtractMember.h"
#include "archive/RarArchive.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using namespace archivetest;

namespace {

std::string fixturePath(const std::string& name) {
    return std::string(HOLDFAST_SOURCE_DIR) + "/tests/archive/real/" + name;
}

// uudecode of a "begin ... end" text: each line starts with its byte count + 32, then groups of
// four characters carry three bytes, six bits each ('`' stands for zero).
Bytes uudecode(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    Bytes out;
    bool body = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!body) {
            body = line.rfind("begin ", 0) == 0;
            continue;
        }
        if (line == "end") break;
        if (line.empty()) continue;
        auto six = [](char c) { return static_cast<uint8_t>((c - 32) & 63); };
        size_t count = six(line[0]);
        Bytes bytes;
        for (size_t i = 1; i < line.size() && bytes.size() < count; i += 4) {
            uint8_t c[4];
            for (size_t k = 0; k < 4; ++k)
                c[k] = i + k < line.size() ? six(line[i + k]) : 0;
            bytes.push_back(static_cast<uint8_t>(c[0] << 2 | c[1] >> 4));
            bytes.push_back(static_cast<uint8_t>(c[1] << 4 | c[2] >> 2));
            bytes.push_back(static_cast<uint8_t>(c[2] << 6 | c[3]));
        }
        EXPECT_GE(bytes.size(), count) << "short uuencoded line: " << line;
        bytes.resize(count);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(body) << "no begin line";
    return out;
}

Bytes loadFixture(const std::string& name) {
    std::ifstream f(fixturePath(name + ".uu"), std::ios::binary);
    EXPECT_TRUE(f.good()) << name;
    std::stringstream text;
    text << f.rdbuf();
    return uudecode(text.str());
}

Bytes loadSample(const std::string& name) {
    Bytes b = readFile(fixturePath("bitjs-samples/" + name));
    EXPECT_FALSE(b.empty()) << name;
    return b;
}

std::string asText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::string extractText(rar::Reader& reader, size_t index) {
    uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_TRUE(reader.extract(index, nullptr, &data, &size)) << reader.error();
    std::string out = data ? asText(data, size) : std::string();
    free(data);
    return out;
}

struct Expected {
    const char* name;
    uint64_t size;
    bool directory;
    const char* content; // null for directories
};

void expectEntries(const rar::Reader& reader, const std::vector<Expected>& expected) {
    ASSERT_EQ(reader.entries().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const rar::Entry& e = reader.entries()[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(e.name, expected[i].name);
        EXPECT_EQ(e.unpackedSize, expected[i].size);
        EXPECT_EQ(e.directory(), expected[i].directory);
        EXPECT_EQ(e.unpackVersion, 20);
        EXPECT_TRUE(e.stored());
        EXPECT_FALSE(e.encrypted());
        EXPECT_FALSE(e.unsafeName);
    }
}

// Every file member through the one-pass path, checked against the expected contents.
void expectExtractAll(rar::Reader& reader, const std::vector<Expected>& expected) {
    size_t visited = 0;
    reader.extractAll(
        nullptr, [&](size_t index, const uint8_t* data, size_t size, bool ok, const std::string& error) {
            ++visited;
            ASSERT_LT(index, expected.size());
            EXPECT_TRUE(ok) << expected[index].name << ": " << error;
            ASSERT_NE(expected[index].content, nullptr) << "directory visited: " << expected[index].name;
            if (ok) {
                EXPECT_EQ(asText(data, size), expected[index].content) << expected[index].name;
            }
        });
    size_t files = 0;
    for (const Expected& x : expected)
        files += x.directory ? 0 : 1;
    EXPECT_EQ(visited, files);
}

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun runTool(const std::string& args) {
    ToolRun r;
    std::string cmd = std::string(HOLDFAST_BIN_DIR) + "/holdfast-pack " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// libarchive's test_read_format_rar.rar: RAR for Unix, stored members with extended times, a
// symbolic link, a nested file and two directories.
const std::vector<Expected> kBasic = {
    {"test.txt", 20, false, "test text document\r\n"},
    // A Unix symlink: the member's data is the link target.
    {"testlink", 8, false, "test.txt"},
    {"testdir\\test.txt", 20, false, "test text document\r\n"},
    {"testdir", 0, true, nullptr},
    {"testemptydir", 0, true, nullptr},
};

// libarchive's test_read_format_rar_unicode.rar: WinRAR, names with a Unicode form. The reader
// keeps the plain (code page 932) form that precedes it; note that the lead byte pair of "表"
// is 95 5C, whose second byte is a backslash.
#define KANJI_DIR "\x95\x5c\x82\xbe\x82\xe6"
const std::vector<Expected> kUnicode = {
    {KANJI_DIR "\\\x90\x56\x82\xb5\x82\xa2\x83\x74\x83\x48\x83\x8b\x83\x5f\\\x90\x56\x8b\x4b\x83\x65"
               "\x83\x4c\x83\x58\x83\x67 \x83\x68\x83\x4c\x83\x85\x83\x81\x83\x93\x83\x67.txt",
     0, false, ""},
    {KANJI_DIR "\\\x8a\xbf\x8e\x9a\x92\xb7\x82\xa2\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc"
               "long-filename-in-\x8a\xbf\x8e\x9a.txt",
     5, false, "kanji"},
    {KANJI_DIR "\\\x90\x56\x82\xb5\x82\xa2\x83\x74\x83\x48\x83\x8b\x83\x5f", 0, true, nullptr},
    {KANJI_DIR, 0, true, nullptr},
};

} // namespace

TEST(RealArchive, UnixArchiveListsAndExtractsEveryMember) {
    Bytes image = loadFixture("test_read_format_rar.rar");
    ASSERT_EQ(image.size(), 336u);
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(image.data(), image.size())) << reader.error();
    EXPECT_FALSE(reader.damaged()) << reader.damageReport();
    EXPECT_FALSE(reader.solidArchive());
    expectEntries(reader, kBasic);
    for (const rar::Entry& e : reader.entries())
        EXPECT_EQ(e.hostOs, 3) << e.name; // Unix
    expectExtractAll(reader, kBasic);

    // Look-up with either separator; directories are not members to extract.
    EXPECT_EQ(reader.find("testdir/test.txt"), 2);
    EXPECT_EQ(reader.find("testdir\\test.txt"), 2);
    EXPECT_EQ(reader.find("TEST.TXT"), 0);
    EXPECT_EQ(reader.find("testdir"), -1);
    EXPECT_EQ(reader.find("testemptydir"), -1);
    EXPECT_EQ(extractText(reader, 2), "test text document\r\n");
}

TEST(RealArchive, WindowsArchiveWithUnicodeNames) {
    Bytes image = loadFixture("test_read_format_rar_unicode.rar");
    ASSERT_EQ(image.size(), 461u);
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(image.data(), image.size())) << reader.error();
    EXPECT_FALSE(reader.damaged()) << reader.damageReport();
    expectEntries(reader, kUnicode);
    for (const rar::Entry& e : reader.entries()) {
        EXPECT_EQ(e.hostOs, 2) << e.name; // Win32
        EXPECT_TRUE(e.flags & rar::flags::kFileUnicode) << e.name;
    }
    expectExtractAll(reader, kUnicode);

    // The trail byte 5C inside "表" is a separator to the look-up as well, so both spellings of
    // the path still find the member.
    EXPECT_EQ(reader.find(kUnicode[1].name), 1);
    std::string slashed = kUnicode[1].name;
    slashed[6] = '/';
    EXPECT_EQ(reader.find(slashed.c_str()), 1);
    EXPECT_EQ(extractText(reader, 1), "kanji");
}

// bitjs's archive-rar-store.rar, made with "rar a -m0 -ma4": RAR for Unix stores members with
// unpack version 20; the members are bitjs's sample files, kept beside it.
TEST(RealArchive, StoredMembersMatchTheirSourceFiles) {
    Bytes image = loadFixture("archive-rar-store.rar");
    ASSERT_EQ(image.size(), 1368u);
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(image.data(), image.size())) << reader.error();
    EXPECT_FALSE(reader.damaged()) << reader.damageReport();
    const char* names[] = {"sample-1.txt", "sample-2.csv", "sample-3.json"};
    ASSERT_EQ(reader.entries().size(), 3u);
    std::vector<Bytes> expected;
    for (size_t i = 0; i < 3; ++i) {
        const rar::Entry& e = reader.entries()[i];
        expected.push_back(loadSample(names[i]));
        EXPECT_EQ(e.name, names[i]);
        EXPECT_EQ(e.unpackVersion, 20);
        EXPECT_TRUE(e.stored());
        EXPECT_EQ(e.unpackedSize, expected[i].size());
        EXPECT_EQ(e.crc, rar::crc32Update(0, expected[i].data(), expected[i].size())) << names[i];
    }
    size_t visited = 0;
    reader.extractAll(nullptr,
                      [&](size_t index, const uint8_t* data, size_t size, bool ok, const std::string& error) {
                          ++visited;
                          ASSERT_TRUE(ok) << names[index] << ": " << error;
                          EXPECT_EQ(Bytes(data, data + size), expected[index]) << names[index];
                      });
    EXPECT_EQ(visited, 3u);
    // Out of order, one member at a time.
    EXPECT_EQ(extractText(reader, 2), asText(expected[2].data(), expected[2].size()));
    EXPECT_EQ(extractText(reader, 0), asText(expected[0].data(), expected[0].size()));
}

// bitjs's archive-rar-default.rar ("rar a -m3 -ma4"): the same files compressed with the RAR 2.9
// method, which this reader does not implement. It must list them and refuse each one cleanly.
TEST(RealArchive, Rar29CompressedMembersAreRefusedNotMisread) {
    Bytes image = loadFixture("archive-rar-default.rar");
    ASSERT_EQ(image.size(), 509u);
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(image.data(), image.size())) << reader.error();
    EXPECT_FALSE(reader.damaged()) << reader.damageReport();
    ASSERT_EQ(reader.entries().size(), 3u);
    EXPECT_EQ(reader.entries()[0].name, "sample-1.txt");
    EXPECT_EQ(reader.entries()[0].unpackedSize, 1000u);
    size_t refused = 0;
    reader.extractAll(nullptr,
                      [&](size_t index, const uint8_t* data, size_t, bool ok, const std::string& error) {
                          EXPECT_EQ(reader.entries()[index].unpackVersion, 29);
                          EXPECT_FALSE(ok);
                          EXPECT_EQ(data, nullptr);
                          EXPECT_NE(error.find("29"), std::string::npos) << error;
                          refused += ok ? 0 : 1;
                      });
    EXPECT_EQ(refused, 3u);
    uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(reader.extract(1, nullptr, &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);

    ScratchDir dir;
    const std::string path = dir.file("rar29.rar");
    writeFile(path, image);
    ToolRun t = runTool("test " + path);
    EXPECT_EQ(t.status, 1) << t.out;
    EXPECT_NE(t.out.find("3 members, 3 failed"), std::string::npos) << t.out;
}

TEST(RealArchive, DamagedRealArchiveFailsOnlyTheDamagedMember) {
    Bytes image = loadFixture("test_read_format_rar.rar");
    ASSERT_EQ(image.size(), 336u);
    // test.txt's 50-byte header starts at offset 20; its 20 data bytes follow.
    ASSERT_EQ(asText(image.data() + 70, 20), "test text document\r\n");
    image[75] ^= 0x20;
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(image.data(), image.size()));
    uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(reader.extract(0, nullptr, &data, &size));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(reader.error().empty());
    EXPECT_EQ(extractText(reader, 2), "test text document\r\n");
}

TEST(RealArchive, ExtractionEntryPointAndPackToolReadTheFiles) {
    ScratchDir dir;
    const std::string basic = dir.file("basic.rar");
    const std::string unicode = dir.file("unicode.rar");
    writeFile(basic, loadFixture("test_read_format_rar.rar"));
    writeFile(unicode, loadFixture("test_read_format_rar_unicode.rar"));

    unsigned char* data = nullptr;
    unsigned int size = 0;
    char member[] = "testdir/test.txt";
    ASSERT_EQ(extractArchiveMember(&data, &size, member, basic.c_str(), nullptr), 1);
    EXPECT_EQ(asText(data, size), "test text document\r\n");
    free(data);
    char dirMember[] = "testemptydir";
    EXPECT_NE(extractArchiveMember(&data, &size, dirMember, basic.c_str(), nullptr), 1);
    EXPECT_EQ(data, nullptr);

    ToolRun t = runTool("test " + basic);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("3 members, 0 failed"), std::string::npos) << t.out;
    t = runTool("test " + unicode);
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find("2 members, 0 failed"), std::string::npos) << t.out;

    ToolRun l = runTool("list " + basic);
    EXPECT_EQ(l.status, 0) << l.out;
    EXPECT_NE(l.out.find("testlink\t8\t8\tstore\tB6C9447B\t-"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("testemptydir\t0\t0\tstore\t00000000\tdir"), std::string::npos) << l.out;

    ToolRun x = runTool("extract " + basic + " testdir/test.txt");
    EXPECT_EQ(x.status, 0) << x.out;
    EXPECT_EQ(x.out, "test text document\r\n");
}
