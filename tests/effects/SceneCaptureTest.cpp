// The scene effects as the player runs them: generated scene and morph files in a demo folder,
// frames drawn by holdfast-capture and read back.
#include "GLTest.h"
#include "TestScenes.h"

#include "../tools/PngPixels.h"
#include "resources/PngWriter.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

const char* kHeader = "__HEADER__\nDEMO_START 0\nDEMO_END 10000\n__DEFS__\n";

struct Demo {
    std::string dir = makeTempDir();
    void scene(const std::string& name, const scenefile::SceneFile& file) {
        std::string error;
        ASSERT_TRUE(scenefile::writeSceneFile(file, dir + "/data/scenes/" + name, &error)) << error;
    }
    void morph(const std::string& mesh, const scenefile::MorphData& data) {
        std::string error;
        ASSERT_TRUE(scenefile::writeMorphDataFile(data, dir + "/" + scenefile::morphDataPath(mesh), &error))
            << error;
    }
    void script(const std::string& body) { writeFile(dir + "/data/scripts/demo.scr", kHeader + body); }
    // The demo packed into an archive of its own, as a demo is shipped.
    std::string pack() {
        const std::string archive = makeTempDir() + "/data.qzd";
        CommandResult packed =
            runCommand(binPath("holdfast-pack") + " create " + archive + " " + dir + " --password tolvrask");
        EXPECT_EQ(packed.exitCode, 0) << packed.err;
        return archive;
    }
    CommandResult capture(const std::string& times, const std::string& out) {
        // Only the asked times: the scenes need no frames in between.
        return runCommand(binPath("holdfast-capture") + " --sparse --data " + dir + " --times " + times +
                              " --out " + out,
                          180);
    }
};

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

Frame frameAt(const std::string& out, int t) {
    char name[32];
    snprintf(name, sizeof name, "/frame_%08d.png", t);
    return readPng(out + name);
}

int grey(const Frame& f, int x, int y) {
    std::vector<int> p = f.at(x, y);
    return (p[0] + p[1] + p[2]) / 3;
}

TEST(SceneCapture, CamerasShadowsAndTheirSwitches) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("shadow.qzg", testscenes::shadowScene());
    demo.script(R"(DEFINE SHADOWS 21
DEFINE CAMERA_NAMED 18
INSERT_EFFECT Scene0
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/shadow.qzg"
__TIMELINE__
0 BEGIN Scene0
0 INIT Scene0
0 SIGNAL Scene0 Camera 0
0 SIGNAL Scene0 Shadows 1
1000 SIGNAL Scene0 Shadows 0
2000 SIGNAL Scene0 Shadows 1
3000 SIGNAL Scene0 Camera "CamB"
4000 TRIGGER Scene0 SHADOWS 0
5000 TRIGGER Scene0 CAMERA_NAMED "CamA"
)");
    const std::string out = makeTempDir();
    CommandResult r = demo.capture("500,1500,2500,3500,4500,5500", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;

    // CamA: the red square's shadow lies right of it; (510, 300) is in it, (250, 450) lit ground.
    const Frame shadowed = frameAt(out, 500), plain = frameAt(out, 1500), again = frameAt(out, 2500);
    ASSERT_TRUE(shadowed.ok && plain.ok && again.ok);
    EXPECT_LT(grey(shadowed, 510, 300), grey(shadowed, 250, 450) / 3);
    // Shadows keyed off: the same ground pixel is lit like its neighbours.
    EXPECT_GT(grey(plain, 510, 300), grey(plain, 250, 450) * 3 / 4);
    EXPECT_GT(grey(plain, 510, 300), 40);
    // ... and keyed on again.
    EXPECT_LT(grey(again, 510, 300), grey(again, 250, 450) / 3);

    // A camera picked by name in the timeline (the second of two: fraction 1) sees it mirrored.
    const Frame camB = frameAt(out, 3500);
    EXPECT_LT(grey(camB, 290, 300), grey(camB, 550, 450) / 3);
    EXPECT_GT(grey(camB, 510, 300), grey(camB, 550, 450) * 3 / 4);
    // Signal 21 switches shadows off; signal 18 picks CamA by name.
    const Frame signalled = frameAt(out, 4500), named = frameAt(out, 5500);
    EXPECT_GT(grey(signalled, 290, 300), grey(signalled, 550, 450) * 3 / 4);
    EXPECT_GT(named.at(400, 230)[0], 150); // the red square, lit without shadows
    EXPECT_GT(grey(named, 510, 300), 40);
}

// Scenes the loader refuses say which file and why, and the demo goes on without them; a stored
// texture name that climbs out of data/textures is not read though the file exists (the square
// stays red instead of taking the green picture).
TEST(SceneCapture, RefusedScenesAreNamedAndTexturesStayInsideTheDemo) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    scenefile::SceneFile shadow = testscenes::shadowScene();
    std::get<scenefile::MaterialList>(shadow.chunks[0]).materials[1].textures = {
        {"C:\\maps\\../secret.png", scenefile::DiffuseMap}};
    demo.scene("outside.qzg", shadow);
    const std::vector<unsigned char> green(3 * 4 * 4, 0);
    std::vector<unsigned char> pixels = green;
    for (size_t i = 1; i < pixels.size(); i += 3)
        pixels[i] = 255;
    ASSERT_TRUE(writeRgbPng(demo.dir + "/data/secret.png", 4, 4, pixels.data(), false, true));

    std::vector<uint8_t> one;
    scenefile::SceneFile lit;
    lit.chunks.push_back(scenefile::Light{});
    ASSERT_TRUE(scenefile::writeScene(lit, one));
    scenefile::SceneFile nine = testscenes::shadowScene();
    for (int i = 0; i < 8; ++i)
        nine.chunks.push_back(scenefile::RawChunk{scenefile::LightChunk, {one.begin() + 23, one.end() - 4}});
    demo.scene("nine.qzg", nine);
    scenefile::SceneFile v3 = testscenes::shadowScene();
    v3.version = 3;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(scenefile::writeScene(v3, bytes));
    ASSERT_TRUE(scenefile::writeBytesToFile(bytes, demo.dir + "/data/scenes/v3.qzg"));
    demo.script(R"(INSERT_EFFECT Scene0
INSERT_EFFECT Scene1
INSERT_EFFECT Scene2
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/outside.qzg"
0 SIGNAL Scene1 Datafile "data/scenes/nine.qzg"
0 SIGNAL Scene2 Datafile "data/scenes/v3.qzg"
__TIMELINE__
0 BEGIN Scene0
0 INIT Scene0
0 SIGNAL Scene0 Camera 0
)");
    const std::string out = makeTempDir();
    CommandResult r = demo.capture("500", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Texture name leaves the demo, not loaded: C:\\maps\\../secret.png: a \"..\" part"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Scene file is broken: data/scenes/nine.qzg: more than 8 lights at byte "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Scene file has an unsupported version: data/scenes/v3.qzg: version 3 is not 1"),
              std::string::npos)
        << r.err;
    const Frame frame = frameAt(out, 500);
    ASSERT_TRUE(frame.ok);
    EXPECT_GT(frame.at(400, 230)[0], 150);
    EXPECT_LT(frame.at(400, 230)[1], 60);

    // An unknown chunk ends the demo, naming the file, the chunk and where it sits.
    scenefile::SceneFile odd = testscenes::shadowScene();
    odd.chunks.insert(odd.chunks.begin(), scenefile::RawChunk{2, {}});
    demo.scene("odd.qzg", odd);
    demo.script(R"(INSERT_EFFECT Scene0
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/odd.qzg"
__TIMELINE__
0 BEGIN Scene0
)");
    r = demo.capture("500", makeTempDir());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(
        r.err.find("Scene file has an unknown chunk: data/scenes/odd.qzg: unknown chunk id 2 at byte 19"),
        std::string::npos)
        << r.err;
}

// A preview's jump replays what scene effects keep from frame to frame without drawing it: here
// the shadows switched off by a signal after the effect's first update, which an update that only
// sees the drawn frames would switch on again; and each jump starts from the scene files.
TEST(SceneCapture, APreviewJumpShowsTheSceneStateTheFramesBeforeLeft) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("shadow.qzg", testscenes::shadowScene());
    demo.script(R"(DEFINE SHADOWS 21
DEFINE SELECT 6
DEFINE VISIBLE 20
INSERT_EFFECT Scene0
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/shadow.qzg"
__TIMELINE__
0 BEGIN Scene0
0 INIT Scene0
0 SIGNAL Scene0 Camera 0
0 SIGNAL Scene0 Shadows 1
1000 TRIGGER Scene0 SHADOWS 0
1200 TRIGGER Scene0 SELECT "Blocker"
1200 TRIGGER Scene0 VISIBLE 0
)");
    // The jump back to 500 ms starts from the scene file again, not from the scene as the jump to
    // 1500 ms left it (its blocker hidden).
    const std::string jumped = makeTempDir(), stepped = makeTempDir();
    CommandResult r = runCommand(
        binPath("holdfast-preview") + " --data " + demo.dir + " --seek-frames 1500,500 --out " + jumped, 180);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCommand(binPath("holdfast-capture") + " --data " + demo.dir + " --times 500,1500 --out " + stepped,
                   180);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int t : {500, 1500}) {
        const Frame shown = frameAt(jumped, t), expected = frameAt(stepped, t);
        ASSERT_TRUE(shown.ok && expected.ok) << t;
        EXPECT_TRUE(shown.rgb == expected.rgb) << t;
    }
    // The shadow is there before the signal and gone after it.
    EXPECT_LT(grey(frameAt(stepped, 500), 510, 300), grey(frameAt(stepped, 500), 250, 450) / 3);
    EXPECT_GT(grey(frameAt(jumped, 1500), 510, 300), grey(frameAt(jumped, 1500), 250, 450) / 2);
}

TEST(SceneCapture, FlickerWithoutLightsAndMissingScenes) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("dark.qzg", testscenes::frontScene("Panel", false));
    demo.script(R"(DEFINE FLICKER 1
INSERT_EFFECT Scene0
INSERT_EFFECT Scene1
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/dark.qzg"
0 SIGNAL Scene1 Datafile "data/scenes/none.qzg"
__TIMELINE__
0 BEGIN Scene0
0 BEGIN Scene1
0 INIT Scene0
100 TRIGGER Scene0 FLICKER 1
)");
    const std::string out = makeTempDir();
    CommandResult r = demo.capture("50,500", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The missing file is reported once, without ending the demo; the flicker says nothing.
    EXPECT_NE(r.err.find("could not load scene: data/scenes/none.qzg"), std::string::npos) << r.err;
    const Frame before = frameAt(out, 50), after = frameAt(out, 500);
    ASSERT_TRUE(before.ok && after.ok);
    EXPECT_EQ(before.at(400, 300), after.at(400, 300));
}

TEST(SceneCapture, MorphFramesMoveThePetals) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    scenefile::SceneFile scene = testscenes::frontScene("blomsterblad01", true);
    scenefile::Mesh second = testscenes::upright("blomsterblad02", 5, 1, 0, 2.2f, 0.5f);
    scene.chunks.push_back(second);
    demo.scene("flower.qzg", scene);
    const scenefile::Mesh& petal = std::get<scenefile::Mesh>(scene.chunks[2]);
    // Two morph frames: the petal slides 2 units right. The second petal's file is cut short.
    demo.morph("blomsterblad01", testscenes::slidingMorph(petal, 2, 2.0f));
    scenefile::MorphData cut = testscenes::slidingMorph(second, 2, 2.0f);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(scenefile::writeMorphData(cut, bytes));
    bytes.resize(bytes.size() - 12);
    ASSERT_TRUE(
        scenefile::writeBytesToFile(bytes, demo.dir + "/" + scenefile::morphDataPath("blomsterblad02")));
    // Phase 0.1 per ms is one scene frame per 10 ms; rate 0.01 morph frames per scene frame.
    demo.script(R"(DEFINE MORPH 15
INSERT_EFFECT Flower
__SETUP__
0 SIGNAL Flower Datafile "data/scenes/flower.qzg"
__TIMELINE__
0 BEGIN Flower
0 INIT Flower
0 TRIGGER Flower MORPH 0 0.01 0
)");
    const std::string out = makeTempDir();
    CommandResult r = demo.capture("20,500,1500", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Frame start = frameAt(out, 20), half = frameAt(out, 500), end = frameAt(out, 1500);
    ASSERT_TRUE(start.ok && half.ok && end.ok);
    EXPECT_GT(grey(start, 400, 300), 100); // the petal where it was made
    EXPECT_LT(grey(start, 600, 300), 20);
    EXPECT_GT(grey(half, 500, 300), 100); // halfway
    EXPECT_LT(grey(end, 400, 300), 20);   // moved away ...
    EXPECT_GT(grey(end, 600, 300), 100);  // ... to its last morph frame
    // The petal with the short file stays as it is.
    EXPECT_GT(grey(start, 400, 85), 100);
    EXPECT_GT(grey(end, 400, 85), 100);
    EXPECT_LT(grey(end, 600, 85), 20);
}

TEST(SceneCapture, HodeNeedsItsMorphData) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("hode.qzg", testscenes::frontScene("Box01", true));
    demo.script(R"(INSERT_EFFECT Hode
__SETUP__
0 SIGNAL Hode Datafile "data/scenes/hode.qzg"
__TIMELINE__
0 BEGIN Hode
)");
    CommandResult r = demo.capture("100", makeTempDir());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("morphdata not found"), std::string::npos) << r.err;

    const scenefile::SceneFile scene = testscenes::frontScene("Box01", true);
    demo.morph("Box01", testscenes::slidingMorph(std::get<scenefile::Mesh>(scene.chunks[2]), 3, 1.0f));
    r = demo.capture("100", makeTempDir());
    EXPECT_EQ(r.exitCode, 0) << r.err;

    // Missing from an archive: the archive's box names the file before the fatal report.
    std::remove((demo.dir + "/" + scenefile::morphDataPath("Box01")).c_str());
    r = runCommand(binPath("holdfast-capture") + " --sparse --data " + demo.pack() +
                       " --password tolvrask --times 100 --out " + makeTempDir(),
                   180);
    EXPECT_EQ(r.exitCode, 1);
    const size_t box = r.err.find("filename: data/scenes/morphdata_Box01.pmd\n");
    EXPECT_NE(box, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("morphdata not found", box), std::string::npos) << r.err;
}

// From an archive, a petal's missing morph file and a missing picture that timed signals name
// each show the archive's box once over the whole run (a picture at the load, not again when its
// signals come), and the demo plays on.
TEST(SceneCapture, FilesMissingFromTheArchiveAreReportedOnceEach) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("flower.qzg", testscenes::frontScene("blomsterblad01", true));
    demo.script(R"(DEFINE PICTURE 26
DEFINE GRID_PICTURE 4
INSERT_EFFECT Flower
INSERT_EFFECT Image1
INSERT_EFFECT GridExp
__SETUP__
0 SIGNAL Flower Datafile "data/scenes/flower.qzg"
__TIMELINE__
0 BEGIN Flower
0 BEGIN Image1
0 BEGIN GridExp
300 TRIGGER Image1 PICTURE "data/images/gone.png"
600 TRIGGER GridExp GRID_PICTURE "data/images/lost.png"
900 TRIGGER Image1 PICTURE "data/images/gone.png"
)");
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo.pack() +
                       " --password tolvrask --from 0 --to 1500 --step 100 --out " + makeTempDir(),
                   180);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const char* file :
         {"data/scenes/morphdata_blomsterblad01.pmd", "data/images/gone.png", "data/images/lost.png"})
        EXPECT_EQ(occurrences(r.err, std::string("filename: ") + file + "\n"), 1u) << file << "\n" << r.err;
}

// The load warms up what effects will draw: a DOF that its timed links give a scene loads its
// program then, so a program the driver rejects is reported as the demo loads, though the DOF
// never runs; the demo goes on.
TEST(SceneCapture, AProgramTheDriverRejectsIsReportedAtLoadThoughItsEffectNeverRuns) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("front.qzg", testscenes::frontScene("Panel", true));
    writeFile(demo.dir + "/data/shaders/dof_light.qzs", "!!ARBfp1.0\nMOV result.color, nonsense;\nEND\n");
    demo.script(R"(DEFINE LINK 2
INSERT_EFFECT Clear
INSERT_EFFECT Scene0
INSERT_EFFECT DOF
__SETUP__
0 SIGNAL Scene0 Datafile "data/scenes/front.qzg"
__TIMELINE__
0 BEGIN Clear
9000 TRIGGER DOF LINK "Scene0"
)");
    CommandResult r = demo.capture("100", makeTempDir());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Error loading shader"), std::string::npos) << r.err;
}

TEST(SceneCapture, ScratchScreenShowsItsLinkedEffectBrightened) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    Demo demo;
    demo.scene("scratch.qzg", testscenes::frontScene("screen1", true, "screen.png"));
    const std::vector<unsigned char> texel(8 * 8 * 3, 255);
    writeFile(demo.dir + "/data/textures/readme", "");
    ASSERT_TRUE(writeRgbPng(demo.dir + "/data/textures/screen.png", 8, 8, texel.data(), false, false));
    CommandResult music =
        runCommand(binPath("holdfast-makemusic") + " " + demo.dir + "/music.ogg --seconds 2", 120);
    ASSERT_EQ(music.exitCode, 0) << music.err;
    // The linked Clear never runs by itself: only the screen shows it, brightened 32 times
    // (4/255 becomes 128).
    demo.script(R"(DEFINE LINK 2
DEFINE SCRATCH 37
INSERT_EFFECT Clear
INSERT_EFFECT Scratch
__SETUP__
0 SIGNAL Scratch Datafile "data/scenes/scratch.qzg"
__TIMELINE__
0 SIGNAL Clear Red 0.0156863
0 SIGNAL Clear Green 0.0156863
0 SIGNAL Clear Blue 0.0156863
0 TRIGGER Scratch LINK "Clear"
0 BEGIN Scratch
0 INIT Scratch
1000 TRIGGER Scratch SCRATCH 1
)");
    const std::string out = makeTempDir();
    CommandResult r = demo.capture("500,1500", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (int t : {500, 1500}) {
        const Frame f = frameAt(out, t);
        ASSERT_TRUE(f.ok);
        EXPECT_NEAR(f.at(400, 300)[0], 128, 2) << t;
        EXPECT_NEAR(f.at(400, 300)[2], 128, 2) << t;
        EXPECT_EQ(grey(f, 100, 300), 0) << t; // beside the screen: nothing
    }
}

} // namespace
