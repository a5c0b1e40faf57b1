// Our decoder and reader against generated RAR 2.0 streams that use every construct of the format
// (see streamgen/Rar20StreamGen.h); the reference decoder checks the same streams in
// archive_differential.
#include "ArchiveHelpers.h"
#include "Rar20StreamGen.h"

#include "archive/Rar20Unpack.h"
#include "archive/RarArchive.h"

#include <cstdlib>

using archivetest::Bytes;

namespace {

// Small streams keep the sanitizer build quick; a few large seeds reach the 1 MiB distance.
streamgen::Options smallOptions() {
    streamgen::Options o;
    o.maxMemberSize = 40 * 1024;
    o.allowLarge = false;
    return o;
}

std::string describe(uint32_t seed, const streamgen::Archive& a) {
    return "seed " + std::to_string(seed) + (a.solid ? " solid" : "") +
           (a.password.empty() ? "" : " password \"" + a.password + "\"") + ", " +
           std::to_string(a.members.size()) + " members";
}

// Every compressed member straight through the decoder, one decoder for the whole archive.
void checkDecoder(uint32_t seed, const streamgen::Archive& a) {
    rar::Rar20Decoder decoder;
    bool streamOk = false;
    for (size_t i = 0; i < a.members.size(); ++i) {
        const streamgen::Member& m = a.members[i];
        if (m.stored) continue;
        Bytes in = m.packed;
        in.resize(in.size() + rar::kInputPadding, 0);
        Bytes out(m.data.size());
        std::string error;
        bool ok =
            decoder.decode(in.data(), m.packed.size(), out.data(), out.size(), m.solid && streamOk, &error);
        ASSERT_TRUE(ok) << describe(seed, a) << ": member " << i << ": " << error;
        ASSERT_TRUE(out == m.data) << describe(seed, a) << ": member " << i << " differs";
        streamOk = true;
    }
}

// The archive through the reader: everything in order, then each member on its own from the
// last one back (the walk to the last member keeps what the others are then served from).
void checkReader(uint32_t seed, const streamgen::Archive& a) {
    rar::Reader reader;
    ASSERT_TRUE(reader.openMemory(a.image.data(), a.image.size()))
        << describe(seed, a) << ": " << reader.error();
    ASSERT_EQ(reader.entries().size(), a.members.size());
    const char* password = a.password.empty() ? nullptr : a.password.c_str();
    size_t visited = 0;
    reader.extractAll(password,
                      [&](size_t index, const uint8_t* data, size_t size, bool ok, const std::string& error) {
                          ++visited;
                          ASSERT_TRUE(ok) << describe(seed, a) << ": member " << index << ": " << error;
                          EXPECT_TRUE(Bytes(data, data + size) == a.members[index].data)
                              << describe(seed, a) << ": member " << index;
                      });
    EXPECT_EQ(visited, a.members.size());
    for (size_t i = a.members.size(); i-- > 0;) {
        uint8_t* data = nullptr;
        size_t size = 0;
        ASSERT_TRUE(reader.extract(i, password, &data, &size))
            << describe(seed, a) << ": member " << i << ": " << reader.error();
        EXPECT_TRUE(Bytes(data, data + size) == a.members[i].data) << describe(seed, a) << ": member " << i;
        free(data);
    }
}

} // namespace

TEST(GeneratedStreams, DecodeToWhatTheGeneratorMeant) {
    streamgen::Tally tally;
    for (uint32_t seed = 1; seed <= 160; ++seed) {
        streamgen::Archive a = streamgen::generate(seed, smallOptions(), &tally);
        checkDecoder(seed, a);
        if (HasFatalFailure()) return;
        checkReader(seed, a);
        if (HasFatalFailure()) return;
    }
    // The generator must keep producing every construct, or the test proves less than it says.
    for (const std::string& name : streamgen::constructNames()) {
        if (name == "distance slot 47" || name == "distance 1 MiB" || name == "match length 260")
            continue; // distances over 256 KiB: large seeds only
        EXPECT_GT(tally[name], 0u) << "no \"" << name << "\" in the small seeds";
    }
}

TEST(GeneratedStreams, LargestDistancesAcrossSolidMembers) {
    streamgen::Options o;
    o.maxMemberSize = 40 * 1024;
    int large = 0;
    streamgen::Tally seen;
    for (uint32_t seed = 1; large < 2 && seed < 400; ++seed) {
        streamgen::Tally tally;
        streamgen::Archive a = streamgen::generate(seed, o, &tally);
        if (!tally["distance 1 MiB"]) continue;
        ++large;
        for (const auto& t : tally)
            seen[t.first] += t.second;
        checkDecoder(seed, a);
        if (HasFatalFailure()) return;
        checkReader(seed, a);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(large, 2) << "the generator no longer reaches the 1 MiB distance";
    EXPECT_GT(seen["distance slot 47"], 0u);
    EXPECT_GT(seen["match length 260"], 0u);
}

TEST(GeneratedStreams, SameSeedSameArchive) {
    streamgen::Archive a = streamgen::generate(77, smallOptions());
    streamgen::Archive b = streamgen::generate(77, smallOptions());
    EXPECT_TRUE(a.image == b.image);
}
