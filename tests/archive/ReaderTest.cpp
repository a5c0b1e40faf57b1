// The RAR reader and writer together, and the reader alone on damaged and hostile archives.
#include "ArchiveHelpers.h"

#include "archive/Rar20Pack.h"
#include "archive/Rar20Unpack.h"
#include "archive/RarArchive.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace archivetest;

namespace {

struct Mode {
    const char* label;
    bool compress;
    bool solid;
    const char* password;
};

const Mode kModes[] = {
    {"stored", false, false, ""},    {"stored+encrypted", false, false, "tolvrask"},
    {"compressed", true, false, ""}, {"compressed+encrypted", true, false, "tolvrask"},
    {"solid", true, true, ""},       {"solid+encrypted", true, true, "odd"},
};

std::vector<std::pair<std::string, Bytes>> sampleMembers() {
    return {
        {"data/scripts/demo.scr", textBytes(5000)},
        {"data/empty.bin", {}},
        {"data/one.bin", {0x42}},
        {"data/pad16.bin", noiseBytes(16)},
        {"data/noise.bin", noiseBytes(70000)},
        {"data/audio/pcm.raw", pcmBytes(60000)},
        {"data/runs.bin", Bytes(300000, 0)},
        {"data/noise-again.bin", noiseBytes(70000)}, // matches across members in a solid stream
        {"data/a/b/c/d/deep.txt", textBytes(100, 3)},
    };
}

// Extracts `name` with the given password; empty optional-like result on failure.
bool extractNamed(rar::Reader& reader, const char* name, const char* password, Bytes& out) {
    int index = reader.find(name);
    if (index < 0) return false;
    uint8_t* data = nullptr;
    size_t size = 0;
    if (!reader.extract(static_cast<size_t>(index), password, &data, &size)) {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
        return false;
    }
    out.assign(data, data + size);
    free(data);
    return true;
}

} // namespace

TEST(RarReader, EveryModeRoundTripsEveryMember) {
    ScratchDir dir;
    auto members = sampleMembers();
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.label);
        rar::WriterOptions options;
        options.compress = mode.compress;
        options.solid = mode.solid;
        options.password = mode.password;
        std::string path = dir.file(std::string(mode.label) + ".qzd");
        ASSERT_TRUE(buildArchive(path, members, options));

        rar::Reader reader;
        ASSERT_TRUE(reader.openFile(path.c_str())) << reader.error();
        EXPECT_FALSE(reader.damaged());
        ASSERT_EQ(reader.entries().size(), members.size());
        EXPECT_EQ(reader.solidArchive(), mode.solid);
        const char* password = *mode.password ? mode.password : nullptr;
        // Backwards order: every solid member must rebuild its stream from the start.
        for (size_t i = members.size(); i-- > 0;) {
            SCOPED_TRACE(members[i].first);
            Bytes got;
            ASSERT_TRUE(extractNamed(reader, members[i].first.c_str(), password, got)) << reader.error();
            EXPECT_TRUE(got == members[i].second);
            EXPECT_NE(reader.entries()[i].name.find('\\'), std::string::npos); // DOS separators
            EXPECT_EQ(reader.entries()[i].encrypted(), *mode.password != 0);
        }
        // Forwards: each solid member goes on from the decoder state the one before left.
        for (size_t i = 0; i < members.size(); ++i) {
            Bytes got;
            ASSERT_TRUE(extractNamed(reader, members[i].first.c_str(), password, got)) << reader.error();
            EXPECT_TRUE(got == members[i].second) << members[i].first;
        }
        size_t visited = 0;
        reader.extractAll(password,
                          [&](size_t i, const uint8_t* data, size_t size, bool ok, const std::string& e) {
                              ++visited;
                              EXPECT_TRUE(ok) << e;
                              EXPECT_TRUE(Bytes(data, data + size) == members[i].second);
                          });
        EXPECT_EQ(visited, members.size());
    }
}

TEST(RarReader, CompressionPaysAndAudioBlocksAreChosenForSamples) {
    rar::Rar20Encoder encoder;
    Bytes pcm = pcmBytes(100000);
    std::vector<uint8_t> packed = encoder.encode(pcm.data(), pcm.size(), false);
    EXPECT_GT(encoder.audioBlocks(), 0u);
    EXPECT_LT(packed.size(), pcm.size() / 2);

    rar::Rar20Encoder::Options lzOnly;
    lzOnly.audioBlocks = false;
    rar::Rar20Encoder plain(lzOnly);
    std::vector<uint8_t> lz = plain.encode(pcm.data(), pcm.size(), false);
    EXPECT_EQ(plain.audioBlocks(), 0u);
    EXPECT_LT(packed.size(), lz.size());

    Bytes text = textBytes(200000);
    rar::Rar20Encoder textEncoder;
    std::vector<uint8_t> t = textEncoder.encode(text.data(), text.size(), false);
    EXPECT_EQ(textEncoder.audioBlocks(), 0u);
    EXPECT_LT(t.size(), text.size() / 3);

    // And the decoder gets it all back, audio blocks, table switches and all.
    for (auto* p : {&packed, &lz}) {
        std::vector<uint8_t> in(*p);
        in.resize(in.size() + rar::kInputPadding, 0);
        Bytes out(pcm.size());
        rar::Rar20Decoder decoder;
        std::string error;
        ASSERT_TRUE(decoder.decode(in.data(), p->size(), out.data(), out.size(), false, &error)) << error;
        EXPECT_TRUE(out == pcm);
    }
}

TEST(RarReader, LookUpTreatsSeparatorsAlikeAndPrefersExactCase) {
    ScratchDir dir;
    std::string path = dir.file("case.qzd");
    rar::WriterOptions options;
    ASSERT_TRUE(buildArchive(
        path, {{"data/Images/Logo.png", {1}}, {"data/images/logo.png", {2}}, {"data/x.txt", {3}}}, options));
    rar::Reader reader;
    ASSERT_TRUE(reader.openFile(path.c_str()));
    EXPECT_EQ(reader.find("data/images/logo.png"), 1);
    EXPECT_EQ(reader.find("data\\Images\\Logo.png"), 0);
    EXPECT_EQ(reader.find("DATA/X.TXT"), 2);
    EXPECT_EQ(reader.find("data/x.txt2"), -1);
    EXPECT_EQ(reader.find("data/x.tx"), -1);
    EXPECT_EQ(reader.find("data/../data/x.txt"), -1);
    EXPECT_EQ(reader.find(""), -1);
}

TEST(RarReader, WrongOrMissingPasswordFailsWithoutData) {
    ScratchDir dir;
    for (bool compress : {false, true}) {
        std::string path = dir.file(compress ? "c.qzd" : "s.qzd");
        rar::WriterOptions options;
        options.compress = compress;
        options.password = "tolvrask";
        ASSERT_TRUE(buildArchive(path, {{"data/a.txt", textBytes(4000)}}, options));
        rar::Reader reader;
        ASSERT_TRUE(reader.openFile(path.c_str()));
        Bytes got;
        EXPECT_FALSE(extractNamed(reader, "data/a.txt", "tolvrasK", got));
        EXPECT_FALSE(reader.error().empty());
        EXPECT_FALSE(extractNamed(reader, "data/a.txt", nullptr, got));
        EXPECT_FALSE(extractNamed(reader, "data/a.txt", "", got));
        EXPECT_TRUE(extractNamed(reader, "data/a.txt", "tolvrask", got));
    }
}

// A checker opens a picture several times and a script names members in any order: a solid stream
// must not be unpacked from its start for each. Members passed on the way are kept (their bytes,
// or for a large one the decoder state it starts from), within the member limit.
TEST(RarReader, SolidMembersInAnyOrderAreEachUnpackedOnce) {
    ScratchDir dir;
    std::vector<std::pair<std::string, Bytes>> members;
    for (uint32_t i = 0; i < 40; ++i)
        members.push_back({"data/m" + std::to_string(i), textBytes(2000 + 1500 * i, i + 1)});
    members[20].second = textBytes(1100 * 1024, 77); // larger than a decoder state: replayed from one
    members[25].second = pcmBytes(20000);            // audio blocks in the middle of the stream
    members[30].second = noiseBytes(30000);          // stored: outside the stream
    rar::WriterOptions options;
    options.compress = options.solid = true;
    options.password = "tolvrask";
    const std::string path = dir.file("solid.qzd");
    ASSERT_TRUE(buildArchive(path, members, options));

    uint64_t streamBytes = 0;
    for (uint64_t limit : {rar::kMaxMemberSize, uint64_t(1200) << 10}) {
        SCOPED_TRACE(limit);
        rar::Reader reader;
        reader.setMemberLimit(limit);
        ASSERT_TRUE(reader.openFile(path.c_str()));
        if (!streamBytes)
            for (const rar::Entry& e : reader.entries())
                if (!e.stored()) streamBytes += e.unpackedSize;
        Bytes got;
        EXPECT_FALSE(extractNamed(reader, "data/m12", "wrong", got)); // nothing kept serves it later
        int bigAsked = 0;
        for (int i = 0; i < 120; ++i) {
            const size_t k = i == 0 ? 39 : (static_cast<size_t>(i) * 17 + 5) % 40;
            bigAsked += k == 20;
            ASSERT_TRUE(extractNamed(reader, members[k].first.c_str(), "tolvrask", got))
                << k << reader.error();
            ASSERT_TRUE(got == members[k].second) << k;
        }
        EXPECT_LE(reader.solidKeptBytes(), limit);
        if (limit == rar::kMaxMemberSize) {
            // The wrong password's try decoded up to m12; then the stream once, and the large member
            // again each time it was asked for (from its own start).
            EXPECT_LE(reader.decodedBytes(), 2 * streamBytes + bigAsked * members[20].second.size());
            EXPECT_GE(reader.decodedBytes(), streamBytes);
        }
    }
}

TEST(RarReader, OldStyleBlocksCommentsAndLargeHeadersAreRead) {
    Bytes data = textBytes(300);
    // Archive header with an embedded comment (left out of its CRC, as RAR 2.x writes it).
    Bytes mainWithComment = {0, 0, 0x73};
    put16(mainWithComment, 0x0002);
    put16(mainWithComment, 13 + 13);
    put16(mainWithComment, 0);
    put32(mainWithComment, 0);
    Bytes comment = {0, 0, 0x75, 0, 0, 13, 0, 6, 0, 15, 0x30, 0, 0};
    mainWithComment.insert(mainWithComment.end(), comment.begin(), comment.end());
    seal(mainWithComment, 11);
    // A separate old-style comment block and an unknown block with data, both skipped by size.
    Bytes commentBlock = {0, 0, 0x75, 0, 0, 14, 0, 2, 0, 15, 0x30, 0, 0, 'h'};
    seal(commentBlock);
    Bytes unknown = {0, 0, 0x7a, 0x00, 0x80, 11, 0};
    put32(unknown, 5);
    seal(unknown);
    unknown.insert(unknown.end(), {9, 9, 9, 9, 9});
    Bytes end = {0, 0, 0x7b, 0, 0, 7, 0};
    seal(end);
    // A file header with an embedded comment after its name, also outside the header CRC.
    Bytes withComment = storedMember("data\\commented.txt", data, 0x0008);
    const size_t nameEnd = 32 + strlen("data\\commented.txt");
    withComment.insert(withComment.begin() + static_cast<std::ptrdiff_t>(nameEnd), comment.begin(),
                       comment.end());
    withComment[5] = static_cast<uint8_t>(nameEnd + comment.size());
    seal(withComment, nameEnd - 2);
    Bytes archive = concat({marker(), mainWithComment, commentBlock, unknown,
                            storedMember("data\\big.txt", data, 0, 0xffffffffu, true), withComment, end,
                            storedMember("data\\after-end.txt", data)});
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(archive.data(), archive.size())) << reader.error();
    EXPECT_FALSE(reader.damaged());
    ASSERT_EQ(reader.entries().size(), 2u); // nothing after the end block
    for (const char* name : {"data/big.txt", "data/commented.txt"}) {
        Bytes got;
        ASSERT_TRUE(extractNamed(reader, name, nullptr, got)) << name << ": " << reader.error();
        EXPECT_TRUE(got == data);
    }
}

TEST(RarReader, NotAnArchiveOrEmptyArchive) {
    rar::Reader reader;
    Bytes nothing;
    EXPECT_FALSE(reader.openMemory(nothing.data(), 0));
    Bytes text = textBytes(100);
    EXPECT_FALSE(reader.openMemory(text.data(), text.size()));
    Bytes onlyMarker = marker();
    EXPECT_FALSE(reader.openMemory(onlyMarker.data(), onlyMarker.size()));
    Bytes empty = concat({marker(), mainHeader()});
    ASSERT_TRUE(reader.openMemory(empty.data(), empty.size()));
    EXPECT_TRUE(reader.entries().empty());
    EXPECT_EQ(reader.find("data/scripts/demo.scr"), -1);
    EXPECT_FALSE(reader.openFile("/nonexistent/data.qzd"));
    EXPECT_FALSE(reader.openFile("/tmp")); // a directory
}

TEST(RarReader, AbsurdSizesUnsafeNamesAndUnsupportedMembersAreRefused) {
    Bytes small = textBytes(64);
    struct Case {
        const char* what;
        Bytes member;
    } cases[] = {
        {"declared size beyond the limit", storedMember("data\\a", small, 0, 0xfffffff0u)},
        {"stored size larger than its data", storedMember("data\\a", small, 0, 65)},
        {"parent directory name", storedMember("data\\..\\..\\etc\\a", small)},
        {"absolute name", storedMember("/etc/a", small)},
        {"split member", storedMember("data\\a", small, 0x0002)},
        {"RAR 1.5 encryption",
         [&] {
             Bytes m = storedMember("data\\a", small, 0x0004);
             m[24] = 15;
             seal(m, 32 + 6 - 2);
             return m;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = concat({marker(), mainHeader(), c.member});
        rar::Reader reader;
        ASSERT_TRUE(reader.openMemory(archive.data(), archive.size()));
        ASSERT_EQ(reader.entries().size(), 1u);
        uint8_t* out = reinterpret_cast<uint8_t*>(1);
        size_t size = 1;
        EXPECT_FALSE(reader.extract(0, "tolvrask", &out, &size));
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(size, 0u);
    }
    // A packed size beyond the end of the archive: the member is not listed at all.
    Bytes member = storedMember("data\\a", small);
    member[7 + 3] = 0x7f; // packed size ~2 GiB
    Bytes header(member.begin(), member.begin() + 38);
    seal(header);
    Bytes archive = concat({marker(), mainHeader(), header, small});
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(archive.data(), archive.size()));
    EXPECT_TRUE(reader.damaged());
    EXPECT_TRUE(reader.entries().empty());
}

// Damage anywhere: the reader either refuses or hands out exactly the original bytes.
TEST(RarReader, TruncatedAndFlippedArchivesNeverYieldWrongData) {
    ScratchDir dir;
    auto members = std::vector<std::pair<std::string, Bytes>>{
        {"data/a.txt", textBytes(3000)}, {"data/pcm.raw", pcmBytes(3000)}, {"data/n.bin", noiseBytes(500)}};
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.label);
        rar::WriterOptions options;
        options.compress = mode.compress;
        options.solid = mode.solid;
        options.password = mode.password;
        std::string path = dir.file("d.qzd");
        ASSERT_TRUE(buildArchive(path, members, options));
        Bytes good = readFile(path);
        const char* password = *mode.password ? mode.password : nullptr;
        auto check = [&](const Bytes& archive) {
            rar::Reader reader;
            if (!reader.openMemory(archive.data(), archive.size())) return;
            for (const auto& m : members) {
                Bytes got;
                if (extractNamed(reader, m.first.c_str(), password, got)) {
                    EXPECT_TRUE(got == m.second) << m.first;
                }
            }
        };
        for (size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 97) {
            Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
            check(truncated);
        }
        for (size_t at = 0; at < good.size(); at += 1 + good.size() / 211) {
            for (uint8_t mask : {0x01, 0x80, 0xff}) {
                Bytes flipped = good;
                flipped[at] ^= mask;
                check(flipped);
            }
        }
    }
}

TEST(RarReader, DecoderRejectsGarbageAndEmptyInput) {
    rar::Rar20Decoder decoder;
    std::string error;
    Bytes out(1000);
    Bytes zeros(64 + rar::kInputPadding, 0);
    EXPECT_FALSE(decoder.decode(zeros.data(), 0, out.data(), out.size(), false, &error));
    EXPECT_FALSE(error.empty());
    // An empty member needs no data at all.
    EXPECT_TRUE(decoder.decode(zeros.data(), 0, out.data(), 0, false, &error));
    Bytes noise = noiseBytes(5000);
    noise.resize(noise.size() + rar::kInputPadding, 0);
    for (uint32_t seed = 1; seed < 200; ++seed) {
        Bytes n = noiseBytes(300, seed);
        n.resize(n.size() + rar::kInputPadding, 0);
        decoder.decode(n.data(), 300, out.data(), out.size(), seed & 1, &error); // must not crash or hang
    }
}
