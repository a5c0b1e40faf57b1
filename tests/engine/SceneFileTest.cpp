// Scene files and morph data at the byte level: what the writer writes reads back field for
// field, and every malformed file is refused as a whole.
#include "SampleScene.h"
#include "engine/SceneReader.h"
#include "engine/SceneWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace scenefile;

namespace {

std::vector<uint8_t> bytesOf(const SceneFile& s) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_TRUE(writeScene(s, out, &error)) << error;
    return out;
}

ReadResult readBytes(const std::vector<uint8_t>& bytes, SceneFile& out) {
    return readScene(bytes.data(), bytes.size(), out);
}

SceneFile emptyScene() {
    SceneFile s;
    s.lastFrame = 9;
    return s;
}

void putInt32(std::vector<uint8_t>& bytes, size_t at, int32_t v) {
    std::vector<uint8_t> le;
    appendInt32(le, v);
    std::memcpy(bytes.data() + at, le.data(), 4);
}

// An object header body with the given key counts (each track filled with that many samples).
std::vector<uint8_t> headerBytes(const std::string& name, int32_t id, int32_t p, int32_t r, int32_t s) {
    std::vector<uint8_t> b;
    appendString(b, name);
    appendInt32(b, id);
    appendInt32(b, -1);
    appendInt32(b, 0);
    for (int i = 0; i < 3 + 4 + 3 + 3; ++i)
        appendFloat(b, 1);
    for (auto [count, width] : {std::pair{p, 3}, std::pair{r, 4}, std::pair{s, 3}}) {
        appendInt32(b, count);
        // Counts beyond what a test file holds get no samples: the reader must notice.
        if (count > 0 && count <= 1000)
            for (int k = 0; k < count * width; ++k)
                appendFloat(b, static_cast<float>(k));
    }
    return b;
}

// A scene file with one mesh chunk, serialised without the writer's checks.
std::vector<uint8_t> uncheckedMeshFile(const Mesh& mesh) {
    std::vector<uint8_t> b;
    b.insert(b.end(), {'Q', 'Z', 'G'});
    for (int32_t v : {1, 0, 9, 1, static_cast<int32_t>(MeshChunk)})
        appendInt32(b, v);
    std::vector<uint8_t> h = headerBytes(mesh.header.name, mesh.header.id, 0, 0, 0);
    b.insert(b.end(), h.begin(), h.end());
    auto triples = [&](const std::vector<Float3>& list) {
        appendInt32(b, static_cast<int32_t>(list.size()));
        for (const Float3& v : list)
            for (float f : v)
                appendFloat(b, f);
    };
    triples(mesh.vertices);
    triples(mesh.normals);
    for (const auto& set : mesh.coordinateSets) {
        appendInt32(b, static_cast<int32_t>(set.size()));
        for (const TexCoord& uv : set)
            appendFloat(b, uv.u), appendFloat(b, uv.v);
    }
    triples(mesh.colours);
    appendInt32(b, static_cast<int32_t>(mesh.faces.size()));
    for (const auto& face : mesh.faces)
        for (int32_t i : face)
            appendInt32(b, i);
    appendInt32(b, EndMarker);
    return b;
}

SceneFile withChunk(Chunk chunk) {
    SceneFile s = emptyScene();
    s.chunks.push_back(std::move(chunk));
    return s;
}

// Reads bytes that must be refused, and checks that nothing of them is handed out.
void expectBroken(const std::vector<uint8_t>& bytes, const std::string& messagePart) {
    SceneFile out = sample::richScene();
    ReadResult r = readBytes(bytes, out);
    EXPECT_EQ(r.status, ReadStatus::Broken) << r.message;
    EXPECT_NE(r.message.find(messagePart), std::string::npos) << r.message;
    EXPECT_TRUE(out.chunks.empty());
}

// A chunk as the writer writes it but unchecked, for files the writer itself would refuse.
RawChunk rawOf(const Chunk& chunk) {
    const std::vector<uint8_t> b = bytesOf(withChunk(chunk));
    const size_t header = 3 + 4 * 4 + 4; // tag, version, frame range and step, chunk id
    return RawChunk{chunkId(chunk), std::vector<uint8_t>(b.begin() + header, b.end() - 4)};
}

Dummy dummy(int32_t id, int32_t parent) {
    Dummy d;
    d.header.name = "D" + std::to_string(id);
    d.header.id = id;
    d.header.parentId = parent;
    return d;
}

// The writer refuses `refused` with `problem`; written unchecked, the reader refuses it too.
void expectRefusedBoth(const SceneFile& refused, const std::string& problem) {
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(writeScene(refused, out, &error));
    EXPECT_NE(error.find(problem), std::string::npos) << error;
    SceneFile raw = refused;
    for (Chunk& chunk : raw.chunks)
        chunk = rawOf(chunk);
    expectBroken(bytesOf(raw), problem);
}

} // namespace

TEST(SceneFile, LimitsFarAboveAnyRealSceneAreRefusedByWriterAndReader) {
    SceneFile lights = emptyScene();
    for (int i = 0; i < 9; ++i)
        lights.chunks.push_back(Light{});
    expectRefusedBoth(lights, "more than 8 lights");
    // Eight lights are written; the writer's error for a ninth is the whole text.
    SceneFile eight = emptyScene();
    for (int i = 0; i < 8; ++i) {
        Light l;
        l.header.name = "L" + std::to_string(i);
        l.header.id = i;
        eight.chunks.push_back(l);
    }
    std::vector<uint8_t> out;
    EXPECT_TRUE(writeScene(eight, out));
    eight.chunks.push_back(Light{});
    out.clear();
    std::string error;
    EXPECT_FALSE(writeScene(eight, out, &error));
    EXPECT_EQ(error, "more than 8 lights");
    EXPECT_TRUE(out.empty());

    // Object count: at the limit a file reads, one more is refused (bare objects are smallest).
    SceneFile many = emptyScene();
    for (size_t i = 0; i < MaxObjects; ++i)
        many.chunks.push_back(BareObject{static_cast<int32_t>(i), "", 0});
    SceneFile read;
    ASSERT_TRUE(readBytes(bytesOf(many), read));
    EXPECT_EQ(read.chunks.size(), MaxObjects);
    many.chunks.push_back(Dummy{});
    expectRefusedBoth(many, "more than 100000 objects");

    // Nesting depth follows the parent ids as the loader does: the first earlier holder of an id.
    SceneFile chain = emptyScene();
    chain.chunks.push_back(dummy(1, -1));
    for (int32_t id = 2; id <= static_cast<int32_t>(MaxNestingDepth); ++id)
        chain.chunks.push_back(dummy(id, id - 1));
    chain.chunks.push_back(dummy(1, 1)); // a second id 1 under the first: depth 2, not a loop
    ASSERT_TRUE(readBytes(bytesOf(chain), read));
    SceneFile underTwin = chain;
    underTwin.chunks.push_back(dummy(1000, 1)); // under the first id 1 (depth 1), not the second
    for (int32_t id = 1001; id < 1000 + static_cast<int32_t>(MaxNestingDepth) - 1; ++id)
        underTwin.chunks.push_back(dummy(id, id - 1)); // the last at depth 256
    ASSERT_TRUE(readBytes(bytesOf(underTwin), read));
    SceneFile selfTwin = emptyScene();
    selfTwin.chunks.push_back(dummy(5, -1));
    selfTwin.chunks.push_back(dummy(5, 5)); // the second 5 hangs under the first
    selfTwin.chunks.push_back(dummy(6, 5)); // under the first 5: depth 2
    for (int32_t id = 7; id < 7 + static_cast<int32_t>(MaxNestingDepth) - 1; ++id)
        selfTwin.chunks.push_back(dummy(id, id - 1));
    expectRefusedBoth(selfTwin, "is nested 257 deep");
    chain.chunks.push_back(dummy(999, static_cast<int32_t>(MaxNestingDepth)));
    expectRefusedBoth(chain, "object D999 is nested 257 deep, more than 256");
    // A parent id only found later in the file does not nest (the loader leaves such objects out).
    SceneFile later = emptyScene();
    for (int32_t id = 1; id <= 300; ++id)
        later.chunks.push_back(dummy(id, id + 1));
    EXPECT_TRUE(readBytes(bytesOf(later), read));

    Material slots;
    slots.name = "many";
    slots.textures.assign(MaxTextureSlots, TextureSlot{"t.png", DiffuseMap});
    std::vector<uint8_t> b = bytesOf(withChunk(MaterialList{{slots}}));
    ASSERT_TRUE(readBytes(b, read));
    slots.textures.push_back(TextureSlot{"t.png", DiffuseMap});
    out.clear();
    error.clear();
    EXPECT_FALSE(writeScene(withChunk(MaterialList{{slots}}), out, &error));
    EXPECT_EQ(error, "material many has 257 texture slots, more than 256");
    // The same one slot more, added by hand: the count sits after the fixed fields and the name.
    std::vector<uint8_t> slot;
    appendString(slot, "t.png");
    appendInt32(slot, DiffuseMap);
    b.insert(b.end() - 4, slot.begin(), slot.end());
    putInt32(b, 23 + 4 + 4 + 4 + (4 + 4) + 4 + 9 * 4 + 3 * 4, 257);
    expectBroken(b, "material many has 257 texture slots, more than 256");
}

TEST(SceneFile, StoredNamesThatLeaveTheirFolder) {
    for (const char* inside :
         {"stone.png", "maps/stone.png", "a..b.png", "..png", "maps\\x.png", "./x.png", ""})
        EXPECT_EQ(storedPathProblem(inside), "") << inside;
    for (const char* outside : {"../x.png", "maps/../../x.png", "..\\x.png", "a/..", "..", "/etc/passwd",
                                "\\\\server\\x.png", "C:\\maps\\x.png", "c:x.png"})
        EXPECT_NE(storedPathProblem(outside), "") << outside;
    // The stored authoring path is cut at its last backslash before it is judged.
    EXPECT_EQ(storedPathProblem(textureLookupName("C:\\maps\\stone.png", false)), "");
    EXPECT_NE(storedPathProblem(textureLookupName("C:\\maps\\../../x.png", false)), "");
}

TEST(SceneFile, EveryConstructReadsBackAsWritten) {
    SceneFile written = sample::richScene();
    std::vector<uint8_t> bytes = bytesOf(written);
    SceneFile read;
    ReadResult r = readBytes(bytes, read);
    ASSERT_TRUE(r) << r.message;
    EXPECT_TRUE(read == written);
    ASSERT_EQ(read.chunks.size(), written.chunks.size());
    for (size_t i = 0; i < read.chunks.size(); ++i)
        EXPECT_TRUE(read.chunks[i] == written.chunks[i]) << "chunk " << i;
    EXPECT_EQ(read.frameCount(), 3);
    // Header layout: tag, version, frames; the end marker closes the file.
    EXPECT_EQ(std::memcmp(bytes.data(), "QZG\x01\0\0\0", 7), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 4, "\x99\x99\0\0", 4), 0);
}

TEST(SceneFile, FrameCountTruncatesAndBytesAfterTheEndMarkerAreIgnored) {
    SceneFile s;
    s.firstFrame = 0, s.lastFrame = 100, s.frameStep = 10;
    EXPECT_EQ(s.frameCount(), 11);
    s.lastFrame = 9;
    EXPECT_EQ(s.frameCount(), 1);
    s.firstFrame = -2147483647 - 1, s.lastFrame = 2147483647, s.frameStep = 2;
    // 2^32 - 1 units at step 2 is 2^31 frames: one more than an int32 holds.
    EXPECT_EQ(checkScene(s), "too many frames");
    s.frameStep = 3;
    EXPECT_EQ(checkScene(s), "");
    EXPECT_EQ(s.frameCount(), 1431655766);

    std::vector<uint8_t> bytes = bytesOf(emptyScene());
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5});
    SceneFile read;
    ASSERT_TRUE(readBytes(bytes, read));
    EXPECT_TRUE(read.chunks.empty());
}

TEST(SceneFile, LongestNamesAndEmptyListsAreValidAndANameEndsAtItsFirstZeroByte) {
    Material m;
    m.name = std::string(MaxNameLength, 'm');
    m.textures.push_back({std::string(MaxNameLength, 't'), BumpMap});
    SceneFile s = withChunk(MaterialList{{m}});
    s.chunks.push_back(MaterialList{});
    Mesh empty;
    empty.header.name = std::string(MaxNameLength, 'n');
    s.chunks.push_back(empty);
    SceneFile read;
    ASSERT_TRUE(readBytes(bytesOf(s), read));
    EXPECT_TRUE(read == s);

    // A name ends at its first zero byte when read; the writer makes no such name.
    std::vector<uint8_t> body;
    appendInt32(body, 40);
    appendString(body, std::string("ab\0cd", 5));
    appendInt32(body, 0);
    ASSERT_TRUE(readBytes(bytesOf(withChunk(RawChunk{BareObjectChunk, body})), read));
    EXPECT_EQ(std::get<BareObject>(read.chunks[0]).name, "ab");
    BareObject bare;
    bare.name = std::string("ab\0cd", 5);
    std::vector<uint8_t> out;
    EXPECT_FALSE(writeScene(withChunk(bare), out));
}

TEST(SceneFile, VersionAndChunkIdsOutsideTheFormat) {
    SceneFile s = emptyScene();
    s.version = 2;
    SceneFile read = sample::richScene();
    ReadResult r = readBytes(bytesOf(s), read);
    EXPECT_EQ(r.status, ReadStatus::BadVersion);
    EXPECT_EQ(r.value, 2);
    EXPECT_TRUE(read.chunks.empty());

    for (int32_t id : {2, 0, 8, -1, 0x9998}) {
        r = readBytes(bytesOf(withChunk(RawChunk{id, {}})), read);
        EXPECT_EQ(r.status, ReadStatus::UnknownChunk) << id;
        EXPECT_EQ(r.value, id);
    }
}

TEST(SceneFile, EveryTruncationIsRefused) {
    std::vector<uint8_t> bytes = bytesOf(sample::richScene());
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        SceneFile read;
        ReadResult r = readScene(bytes.data(), cut, read);
        ASSERT_EQ(r.status, ReadStatus::Broken) << "cut at " << cut;
        ASSERT_TRUE(read.chunks.empty());
    }
}

TEST(SceneFile, CountsLengthsAndFrameRangesThatCannotBeRightAreRefused) {
    // String lengths: one past the limit, negative, more than the file holds.
    std::vector<uint8_t> body;
    appendInt32(body, 40);
    appendInt32(body, 2000);
    body.insert(body.end(), 2000, 'x');
    appendInt32(body, 0);
    expectBroken(bytesOf(withChunk(RawChunk{BareObjectChunk, body})), "longer than 1999");
    for (int32_t length : {-1, 0x7fffffff}) {
        body.clear();
        appendInt32(body, 40);
        appendInt32(body, length);
        expectBroken(bytesOf(withChunk(RawChunk{BareObjectChunk, body})), length < 0 ? "negative" : "longer");
    }

    // Huge and negative element counts fail before anything of that size is allocated.
    for (int32_t count : {0x7fffffff, 0x15555556, -5}) {
        body = headerBytes("Box", 1, 0, 0, 0);
        appendInt32(body, count); // vertex count
        expectBroken(bytesOf(withChunk(RawChunk{MeshChunk, body})), "vertex count");
        body.clear();
        appendInt32(body, count); // material count
        expectBroken(bytesOf(withChunk(RawChunk{MaterialListChunk, body})), "material count");
    }
    body = headerBytes("Dummy", 1, 0x40000000, 0, 0);
    expectBroken(bytesOf(withChunk(RawChunk{DummyChunk, body})), "position key count");

    // A frame step or range outside the format.
    const std::vector<uint8_t> good = bytesOf(emptyScene());
    // Header: tag (3), version (3..6), first (7..10), last (11..14), step (15..18).
    for (int32_t step : {0, -10}) {
        std::vector<uint8_t> b = good;
        putInt32(b, 15, step);
        expectBroken(b, "frame step");
    }
    std::vector<uint8_t> b = good;
    putInt32(b, 7, 50);
    expectBroken(b, "last frame");
}

TEST(SceneFile, InconsistentGeometryIsRefused) {
    Mesh good = sample::quadMesh("Q", 1, 0);
    struct Case {
        const char* what;
        void (*spoil)(Mesh&);
    };
    const Case cases[] = {
        {"face index 4", [](Mesh& m) { m.faces[1][2] = 4; }},
        {"face index -1", [](Mesh& m) { m.faces[0][0] = -1; }},
        {"normal count", [](Mesh& m) { m.normals.pop_back(); }},
        {"normal count", [](Mesh& m) { m.normals.clear(); }},
        {"colour count",
         [](Mesh& m) {
             m.colours = {{1, 1, 1}, {1, 1, 1}};
         }},
        {"coordinate set 2",
         [](Mesh& m) {
             m.coordinateSets[2] = {{0, 0}};
         }},
        {"coordinate set 0", [](Mesh& m) { m.coordinateSets[0].assign(5, TexCoord{}); }},
    };
    SceneFile read;
    ASSERT_TRUE(readBytes(uncheckedMeshFile(good), read)); // the hand-made layout itself is sound
    for (const Case& c : cases) {
        Mesh bad = good;
        c.spoil(bad);
        SceneFile s = withChunk(bad);
        // The writer refuses to make such a file; the reader refuses one made by other means.
        std::vector<uint8_t> ignored;
        std::string error;
        EXPECT_FALSE(writeScene(s, ignored, &error)) << c.what;
        EXPECT_NE(error.find(c.what), std::string::npos) << error;
        expectBroken(uncheckedMeshFile(bad), c.what);
    }
}

TEST(SceneFile, KeyTracksOfUnequalLengthAreCutToTheShortest) {
    SceneFile read;
    ASSERT_TRUE(readBytes(bytesOf(withChunk(RawChunk{DummyChunk, headerBytes("D", 1, 5, 3, 4)})), read));
    const ObjectHeader& h = std::get<Dummy>(read.chunks[0]).header;
    EXPECT_EQ(h.positionKeys.size(), 3u);
    EXPECT_EQ(h.rotationKeys.size(), 3u);
    EXPECT_EQ(h.scaleKeys.size(), 3u);
    EXPECT_EQ(h.keyCount(), 3);
    EXPECT_EQ(h.positionKeys[2], (Float3{6, 7, 8}));

    // Absent tracks (0 or negative counts) take no part; the present ones keep their length.
    ASSERT_TRUE(readBytes(bytesOf(withChunk(RawChunk{DummyChunk, headerBytes("D", 1, -3, 0, 4)})), read));
    const ObjectHeader& h2 = std::get<Dummy>(read.chunks[0]).header;
    EXPECT_TRUE(h2.positionKeys.empty());
    EXPECT_EQ(h2.scaleKeys.size(), 4u);
    EXPECT_EQ(h2.keyCount(), 4);

    // The writer makes only files with equal tracks.
    Dummy d;
    d.header.positionKeys.resize(3);
    d.header.scaleKeys.resize(2);
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(writeScene(withChunk(d), out, &error));
    EXPECT_TRUE(out.empty());
}

TEST(SceneFile, MutatedFilesAreReadOrRefusedWhole) {
    // Random byte damage anywhere: the reader must never read out of bounds, and whatever it
    // accepts must pass the same checks as a written file.
    const std::vector<uint8_t> good = bytesOf(sample::richScene());
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> b = good;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = rng() % b.size();
            b[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xff : rng());
        }
        SceneFile read;
        ReadResult r = readBytes(b, read);
        if (r)
            EXPECT_EQ(checkScene(read), "");
        else
            EXPECT_TRUE(read.chunks.empty());
    }
}

TEST(MorphData, ReadsBackAndMustMatchTheMeshExactly) {
    MorphData m;
    m.frameCount = 3;
    m.vertexCount = 2;
    for (int i = 0; i < 18; ++i) {
        m.positions.push_back(static_cast<float>(i));
        m.normals.push_back(static_cast<float>(-i));
    }
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(writeMorphData(m, bytes));
    ASSERT_EQ(bytes.size(), 4u + 3 * 2 * 6 * 4);
    // Per frame: every position, then every normal.
    float second;
    std::memcpy(&second, bytes.data() + 4 + 6 * 4, 4);
    EXPECT_EQ(second, -0.0f);
    std::memcpy(&second, bytes.data() + 4 + 12 * 4, 4);
    EXPECT_EQ(second, 6.0f);

    MorphData read;
    ASSERT_TRUE(readMorphData(bytes.data(), bytes.size(), 2, read));
    EXPECT_TRUE(read == m);

    // Wrong vertex count, one byte short or long, negative and overflowing frame counts.
    EXPECT_FALSE(readMorphData(bytes.data(), bytes.size(), 3, read));
    EXPECT_TRUE(read.positions.empty());
    EXPECT_FALSE(readMorphData(bytes.data(), bytes.size() - 1, 2, read));
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(readMorphData(longer.data(), longer.size(), 2, read));
    for (int32_t frames : {-1, 0x7fffffff}) {
        std::vector<uint8_t> b = bytes;
        putInt32(b, 0, frames);
        EXPECT_FALSE(readMorphData(b.data(), b.size(), 0x7fffffff, read));
    }
    EXPECT_FALSE(readMorphData(bytes.data(), 3, 2, read));
    // Frames beyond the size limit are refused by their count, before any allocation.
    std::vector<uint8_t> big;
    appendInt32(big, 2);
    ReadResult r = readMorphData(big.data(), big.size(), 6000000, read);
    EXPECT_NE(r.message.find("2 frames of 6000000 vertices are 288000000 bytes, more than the 268435456"),
              std::string::npos)
        << r.message;

    // A mesh without vertices: any frame count is empty frames, read and written at once.
    std::vector<uint8_t> none;
    appendInt32(none, 0x7fffffff);
    ASSERT_TRUE(readMorphData(none.data(), none.size(), 0, read));
    EXPECT_EQ(read.frameCount, 0x7fffffff);
    std::vector<uint8_t> again;
    ASSERT_TRUE(writeMorphData(read, again));
    EXPECT_EQ(again, none);

    m.normals.pop_back();
    bytes.clear();
    EXPECT_FALSE(writeMorphData(m, bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(morphDataPath("Box01"), "data/scenes/morphdata_Box01.pmd");
}

TEST(SceneFile, TextureSlotRulesAndNames) {
    const SceneFile scene = sample::richScene();
    const Material& stone = std::get<MaterialList>(scene.chunks[0]).materials[0];
    std::vector<TextureSlot> applied = appliedTextureSlots(stone);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].name, "C:\\maps\\stone.png"); // the first of two diffuse maps
    EXPECT_EQ(applied[1].type, ReflectionMap);         // type 12 is dropped
    Material odd;
    odd.textures = {{"r.png", ReflectionMap}, {"n.png", -2}, {"x.png", 12}};
    applied = appliedTextureSlots(odd); // a negative type is kept (and later reported), first
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0].name, "n.png");
    EXPECT_EQ(applied[1].name, "r.png");

    EXPECT_EQ(textureLookupName("D:\\work\\maps\\rock.jpg", false), "rock.jpg");
    EXPECT_EQ(textureLookupName("maps/rock.jpg", false), "maps/rock.jpg");
    EXPECT_EQ(textureLookupName("trailing\\", false), "");
    EXPECT_EQ(textureLookupName("D:\\work\\rock.jpg", true), "D:\\work\\rock.jpg");

    EXPECT_NEAR(verticalFieldOfViewDegrees(static_cast<float>(M_PI / 2)), 73.74, 0.01);
    EXPECT_NEAR(verticalFieldOfViewDegrees(static_cast<float>(2 * std::atan(1.0 / 0.7500188))), 90.0, 1e-3);
}
