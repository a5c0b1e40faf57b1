// holdfast-scene as a whole program: the JSON description of a written scene, and refusals.
#include "GLTest.h"
#include "SampleScene.h"
#include "engine/SceneWriter.h"

#include <gtest/gtest.h>

using namespace scenefile;

namespace {

const std::string tool = std::string(HOLDFAST_BIN_DIR) + "/holdfast-scene";

class HoldfastScene : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = makeTempDir();
        std::string error;
        ASSERT_TRUE(writeSceneFile(sample::richScene(), dir + "/root/data/scenes/rich.qzg", &error)) << error;
    }
    std::string dir;
};

void expectIn(const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing " << part << " in\n" << text;
}

} // namespace

TEST_F(HoldfastScene, DescribesEveryPartOfAWrittenScene) {
    CommandResult r = runCommand(tool + " info " + dir + "/root/data/scenes/rich.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string& out = r.out;
    expectIn(out, "\"version\":1,\"firstFrame\":0,\"lastFrame\":20,\"frameStep\":10,\"frameCount\":3");
    // Materials: colours, the shade model of base + environment, the slot rules and lookup names.
    expectIn(out, "{\"id\":1,\"name\":\"stone\",\"diffuse\":[0.9,0.8,0.7],\"ambient\":[0.1,0.2,0.3]");
    expectIn(out, "\"shadeModel\":4,\"transparent\":false");
    expectIn(out, "{\"type\":1,\"slot\":\"diffuse\",\"name\":\"C:\\\\maps\\\\stone.png\","
                  "\"lookup\":\"stone.png\",\"applied\":true}");
    expectIn(out, "{\"type\":1,\"slot\":\"diffuse\",\"name\":\"other.png\",\"lookup\":\"other.png\","
                  "\"applied\":false}");
    expectIn(out, "{\"type\":12,\"slot\":\"ignored\",\"name\":\"ignored.png\",\"lookup\":\"ignored.png\","
                  "\"applied\":false}");
    expectIn(out, "{\"id\":2,\"name\":\"glass\"");
    expectIn(out, "\"shadeModel\":0,\"transparent\":true");
    // Objects in file order with hierarchy and transforms.
    expectIn(out, "{\"kind\":\"dummy\",\"name\":\"Root\",\"id\":10,\"parent\":-1,\"children\":[\"Box01\"],"
                  "\"position\":[1,2,3],\"rotation\":[0,0.7071068,0,0.7071068],\"scale\":[2,2,2],"
                  "\"secondaryScale\":[1,0.5,1],\"keys\":{\"position\":3,\"rotation\":3,\"scale\":3,"
                  "\"matchesFrames\":true}}");
    expectIn(out, "{\"kind\":\"mesh\",\"name\":\"Box01\",\"id\":11,\"parent\":10,\"parentFound\":true,"
                  "\"children\":[]");
    expectIn(out, "\"material\":1,\"vertices\":4,\"faces\":2,\"colours\":4,\"coordinateSets\":[4,4,4]}");
    expectIn(out, "\"lightKind\":1,\"colour\":[1,0.5,0],\"multiplier\":2,\"range\":100,\"coneAngle\":120,"
                  "\"coneExponent\":200,\"target\":11,\"texture\":\"gobo.png\"}");
    expectIn(out, "\"name\":\"Omni01\"");
    expectIn(out, "\"texture\":null}");
    expectIn(out, "\"fieldOfView\":1.5707964,\"verticalFieldOfViewDegrees\":73.7");
    expectIn(out, "\"near\":2,\"far\":900,\"target\":10}");
    expectIn(out, "{\"kind\":\"bare\",\"name\":\"Bare\",\"id\":40,\"parent\":-1,\"children\":[]}");
    expectIn(out, "\"missingMaterials\":[]}");
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(HoldfastScene, RefusesBrokenFilesWithTheReason) {
    const std::string path = dir + "/root/data/scenes/rich.qzg";
    std::string bytes = readFile(path);
    writeFile(dir + "/cut.qzg", bytes.substr(0, bytes.size() / 2));
    CommandResult r = runCommand(tool + " info " + dir + "/cut.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: " + dir + "/cut.qzg: ");
    expectIn(r.err, " at byte ");
    EXPECT_TRUE(r.out.empty()) << r.out;

    std::string v2 = bytes;
    v2[3] = 2;
    writeFile(dir + "/v2.qzg", v2);
    r = runCommand(tool + " info " + dir + "/v2.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "version 2 is not 1");

    // A mesh whose material is missing is reported, not refused: the file itself is sound.
    SceneFile lone;
    lone.chunks.push_back(sample::quadMesh("Lonely", 1, 99));
    ASSERT_TRUE(writeSceneFile(lone, dir + "/lone.qzg"));
    r = runCommand(tool + " info " + dir + "/lone.qzg");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "\"missingMaterials\":[\"Lonely\"]}");

    r = runCommand(tool + " info " + dir + "/missing.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "cannot open");
}

// Past a limit no real scene reaches, info refuses the file naming it and the limit; a texture
// name the player would refuse to look up is flagged.
TEST_F(HoldfastScene, RefusesScenesPastTheLimitsAndFlagsNamesOutsideTheDemo) {
    std::vector<uint8_t> one;
    SceneFile lit;
    lit.chunks.push_back(Light{});
    ASSERT_TRUE(writeScene(lit, one));
    const std::vector<uint8_t> lightBody(one.begin() + 23, one.end() - 4);
    SceneFile nine;
    for (int i = 0; i < 9; ++i)
        nine.chunks.push_back(RawChunk{LightChunk, lightBody});
    ASSERT_TRUE(writeSceneFile(nine, dir + "/nine.qzg"));
    CommandResult r = runCommand(tool + " info " + dir + "/nine.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: " + dir + "/nine.qzg: more than 8 lights at byte ");
    EXPECT_TRUE(r.out.empty());

    SceneFile deep;
    for (int32_t id = 1; id <= 257; ++id) {
        Dummy d;
        d.header.id = id;
        d.header.parentId = id - 1 ? id - 1 : -1;
        d.header.name = "D" + std::to_string(id);
        deep.chunks.push_back(RawChunk{DummyChunk, {}});
        std::vector<uint8_t> b;
        SceneFile single;
        single.chunks.push_back(d);
        ASSERT_TRUE(writeScene(single, b));
        std::get<RawChunk>(deep.chunks.back()).body.assign(b.begin() + 23, b.end() - 4);
    }
    ASSERT_TRUE(writeSceneFile(deep, dir + "/deep.qzg"));
    r = runCommand(tool + " info " + dir + "/deep.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: " + dir + "/deep.qzg: object D257 is nested 257 deep, more than 256");

    Material m;
    m.textures = {{"C:\\maps\\../../secret.png", DiffuseMap}};
    SceneFile outside;
    outside.chunks.push_back(MaterialList{{m}});
    ASSERT_TRUE(writeSceneFile(outside, dir + "/outside.qzg"));
    r = runCommand(tool + " info " + dir + "/outside.qzg");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "\"lookup\":\"../../secret.png\",\"applied\":true,\"outsideDemo\":true}");
}

TEST_F(HoldfastScene, ReadsFromTheDataArchive) {
    const std::string packer = std::string(HOLDFAST_BIN_DIR) + "/holdfast-pack";
    CommandResult made =
        runCommand(packer + " create " + dir + "/data.qzd " + dir + "/root --password tolvrask --compress");
    if (made.exitCode != 0) GTEST_SKIP() << "no archive packer: " << made.err;
    CommandResult r =
        runCommand(tool + " info --archive " + dir + "/data.qzd --password tolvrask data/scenes/rich.qzg");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "\"file\":\"data/scenes/rich.qzg\"");
    expectIn(r.out, "\"name\":\"Camera01\"");
}

TEST_F(HoldfastScene, HelpVersionAndUsage) {
    CommandResult r = runCommand(tool + " --help");
    EXPECT_EQ(r.exitCode, 0);
    expectIn(r.out, "usage: holdfast-scene info");
    r = runCommand(tool + " --version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("holdfast-scene ") + HOLDFAST_VERSION + "\n");
    for (const char* args :
         {"", " info", " show x.qzg", " info --bogus x.qzg", " info a b", " info --password pw x.qzg"}) {
        r = runCommand(tool + args);
        EXPECT_EQ(r.exitCode, 2) << args;
        expectIn(r.err, "usage: holdfast-scene");
    }
}
