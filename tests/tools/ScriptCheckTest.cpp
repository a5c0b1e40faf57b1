// holdfast-script --check as a whole program: broken demos, one mistake each, give their lines and
// exit codes; a clean demo checks clean from anywhere, as a folder and as an archive.
#include "../effects/TestScenes.h"
#include "../resources/ImageWriters.h"
#include "GLTest.h"

#include "resources/PngWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kTool = binPath("holdfast-script");

bool noGL(const CommandResult& r) {
    return r.exitCode == 1 && r.err.find("could not create a GL context") != std::string::npos;
}
#define SKIP_WITHOUT_GL(r)                                                                                   \
    if (noGL(r)) GTEST_SKIP() << "no GL context: " << (r).err

// Line 1 to 3; the body starts on line 4.
const char* kHeader = "__HEADER__\nDEMO_END 3000\nDEMO_LENGTH 3000\n";

struct Demo {
    std::string dir = makeTempDir();
    void script(const std::string& body, const char* header = kHeader) {
        writeFile(dir + "/data/scripts/demo.scr", header + body);
    }
    void picture(const std::string& name) {
        const std::vector<unsigned char> texels(8 * 8 * 3, 200);
        fs::create_directories(fs::path(dir + "/" + name).parent_path());
        ASSERT_TRUE(writeRgbPng(dir + "/" + name, 8, 8, texels.data(), false, false));
    }
    void scene(const std::string& name, const scenefile::SceneFile& file) {
        std::string error;
        fs::create_directories(dir + "/data/scenes");
        ASSERT_TRUE(scenefile::writeSceneFile(file, dir + "/data/scenes/" + name, &error)) << error;
    }
    // Run from the root directory: the demo's own folder must be what counts.
    CommandResult check(const std::string& extra = "") const {
        return runCommand("cd / && " + kTool + " --check " + dir + extra, 120);
    }
};

const char* kCleanBody = R"(INSERT_EFFECT Image1
INSERT_EFFECT Scene0
INSERT_EFFECT Blur
__SETUP__
0 SIGNAL Image1 Datafile "data/images/face.png"
0 SIGNAL Scene0 Datafile "data/scenes/front.qzg"
__TIMELINE__
0 BEGIN Image1
0 TRIGGER Blur LINK "Scene0"
0 BEGIN Blur
2000 END Blur
3000 END Image1
)";

} // namespace

TEST(ScriptCheck, ACleanDemoChecksCleanAsAFolderAndAsAnArchive) {
    Demo demo;
    demo.script(std::string("DEFINE LINK 2\n") + kCleanBody);
    demo.picture("data/images/face.png");
    demo.picture("data/images/loading.png"); // shown before the script loads
    demo.scene("front.qzg", testscenes::frontScene("Box", true));
    CommandResult r = demo.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "0 errors, 0 warnings\n") << r.err;

    const std::string packed = makeTempDir() + "/data.qzd";
    CommandResult pack = runCommand(binPath("holdfast-pack") + " create " + packed + " " + demo.dir +
                                    " --password pw --compress");
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
    r = runCommand("cd / && " + kTool + " --check " + packed + " --password pw", 120);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "0 errors, 0 warnings\n") << r.err;

    r = runCommand("cd / && " + kTool + " --check " + packed + " --password wrong", 120);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "data/scripts/demo.scr: error: the script is not in the archive (or the password is wrong)\n"
              "1 error, 0 warnings\n");

    r = runCommand(kTool + " --check " + demo.dir + "/nothing-here");
    EXPECT_EQ(r.exitCode, 2);
    r = runCommand(kTool + " --check " + makeTempDir());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("error: there is no data/ folder"), std::string::npos) << r.out;
}

// What the loader stops on, and what it skips silently, each at its own line; no source places.
TEST(ScriptCheck, ScriptMistakesNameTheirLine) {
    struct Case {
        std::string body;
        std::string line; // expected output line
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"DEFINE 1X 5\n", "data/scripts/demo.scr:4: error: DEFINE id cannot start with digit: 1X", 1},
        {"INSERT_EFFECT Image1\n0 BEGIN Image1\n3000 SIGNL Image1 Red 1\n",
         "data/scripts/demo.scr:6: error: unknown statement `SIGNL`: the player stops here with "
         "\"DEFINE not found: Red\"; did you mean `SIGNAL`?\n",
         1},
        {"INSERT_EFFECT Image1\n0 BEGIN Image1\n3000 signal Image1 Red 1\n",
         "data/scripts/demo.scr:6: error: unknown statement `signal`", 1},
        {"INSERT_EFFECT Image1\n0 BEGIN Image1\n3000 BEGN Image1\n",
         "data/scripts/demo.scr:6: error: unknown statement `BEGN`: the player skips it; did you mean "
         "`BEGIN`?\n",
         1},
        {"INSERT_EFFECT Image1\n0 BEGIN Imag1\n", "data/scripts/demo.scr:5: error: Effect not found: Imag1",
         1},
        {"INSERT_EFFECT Image1\nDEMO_END 60000\n0 BEGIN Image1\n",
         "data/scripts/demo.scr:5: error: DEMO_END comes after the INSERT_EFFECT on line 4", 1},
        {"INSERT_EFFECT Bluur\n", "data/scripts/demo.scr:4: error: Effect Id not found: Bluur", 1},
        {"DEMO_LENGTH 0\n", "data/scripts/demo.scr:4: error: DEMO_LENGTH must be a positive number of ms: 0",
         1},
        {"DEMO_LENGTH 12157521919\n",
         "data/scripts/demo.scr:4: error: DEMO_LENGTH must be a positive number of ms: 12157521919 "
         "(digits only, 1 to 2147483647)\n",
         1},
        {"INSERT_EFFECT Image1\n0 BEGIN Image1\n100 TRIGGER Image1 LNK \"Image1\"\n",
         "data/scripts/demo.scr:6: warning: TRIGGER type `LNK` is not a DEFINE name, so the line is ignored",
         0},
    };
    for (const Case& c : cases) {
        Demo demo;
        demo.script(c.body);
        CommandResult r = demo.check();
        SKIP_WITHOUT_GL(r);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.body << r.out << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << c.body << "\n" << r.out;
        EXPECT_EQ(r.out.find("ScriptLoader.cpp"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("error: DEFINE not found"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.exitCode ? "1 error, " : "0 errors, "), std::string::npos) << r.out;
    }

    Demo missing;
    missing.script("DEMO_END 100\n", "");
    fs::remove(missing.dir + "/data/scripts/demo.scr");
    CommandResult r = missing.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("data/scripts/demo.scr: error: the script is missing"), std::string::npos) << r.out;

    Demo noEnd;
    noEnd.script("INSERT_EFFECT Image1\n0 BEGIN Image1\n", "");
    r = noEnd.check();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("data/scripts/demo.scr:1: error: the script has no DEMO_END"), std::string::npos)
        << r.out;
}

// Every picture the player would not show, by setup line and by signal, with why and the fix.
TEST(ScriptCheck, PicturesThePlayerWouldNotShow) {
    Demo demo;
    const std::string images = demo.dir + "/data/images/";
    fs::create_directories(images);
    writeFile(images + "empty.png", "");
    writeFile(images + "garbage.png", "\x89PNG\r\n\x1a\n this is not a picture at all, only words");
    writeFile(images + "photo.gif", "GIF89a");
    const std::vector<unsigned char> wide(4 * 4 * 6, 100), grey(4 * 4, 100), index(4 * 4, 0),
        palette = {255, 0, 0};
    ASSERT_TRUE(writePNG(images + "deep.png", 4, 4, PNG_COLOR_TYPE_RGB, 16, wide));
    ASSERT_TRUE(writePNG(images + "grey.png", 4, 4, PNG_COLOR_TYPE_GRAY, 8, grey));
    ASSERT_TRUE(writePNG(images + "palette.png", 4, 4, PNG_COLOR_TYPE_PALETTE, 8, index, palette));
    demo.picture("data/images/late.png");
    demo.script(R"(DEFINE PICTURE 26
INSERT_EFFECT Image1
INSERT_EFFECT Image2
__SETUP__
0 SIGNAL Image1 Datafile "data/images/missing.png"
0 SIGNAL Image1 Datafile "data/images/empty.png"
0 SIGNAL Image1 Datafile "data/images/garbage.png"
0 SIGNAL Image1 Datafile "data/images/photo.gif"
0 SIGNAL Image1 Datafile "data/images/deep.png"
0 SIGNAL Image1 Datafile "data/images/grey.png"
0 SIGNAL Image1 Datafile "data/images/palette.png"
__TIMELINE__
0 BEGIN Image1
0 BEGIN Image2
1000 TRIGGER Image2 PICTURE "data/images/lat.png"
1500 TRIGGER Image2 PICTURE "data/images/late.png"
3000 END Image1
3000 END Image2
)");
    CommandResult r = demo.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    const std::string fix = ": write it as 8-bit RGB or RGBA, e.g. ImageMagick `PNG24:`/`PNG32:`";
    EXPECT_EQ(r.out,
              "data/scripts/demo.scr:8: error: picture data/images/missing.png is missing\n"
              "data/scripts/demo.scr:9: error: picture data/images/empty.png is empty\n"
              "data/scripts/demo.scr:10: error: picture data/images/garbage.png is broken (libpng: "
              "s[20]is: invalid chunk type)\n"
              "data/scripts/demo.scr:11: error: picture data/images/photo.gif is neither a .png nor a "
              ".jpg file, the only pictures loaded\n"
              "data/scripts/demo.scr:12: error: picture data/images/deep.png is a 16-bit PNG, which the "
              "player refuses" +
                  fix +
                  "\n"
                  "data/scripts/demo.scr:13: error: picture data/images/grey.png is a grey PNG, which the "
                  "player refuses" +
                  fix +
                  "\n"
                  "data/scripts/demo.scr:14: error: picture data/images/palette.png is a palette PNG, "
                  "which the player refuses" +
                  fix +
                  "\n"
                  "data/scripts/demo.scr:18: error: picture data/images/lat.png is missing\n"
                  "8 errors, 0 warnings\n")
        << r.err;
}

// Scene files, morph data and the depth-of-field program, as the player would load them.
TEST(ScriptCheck, ScenesMorphDataAndTheDepthOfFieldProgram) {
    struct Case {
        std::string body;
        std::string expected; // a line (start) of the output
    };
    scenefile::SceneFile noCamera = testscenes::frontScene("Box", true);
    noCamera.chunks.pop_back();
    const std::string setup = "__SETUP__\n0 SIGNAL Scene0 Datafile \"data/scenes/";
    const std::string kDof = "DEFINE LINK 2\nINSERT_EFFECT Image1\nINSERT_EFFECT DOF\n0 BEGIN Image1\n"
                             "0 TRIGGER DOF LINK \"Image1\"\n0 BEGIN DOF\n";
    const std::vector<Case> cases = {
        {"INSERT_EFFECT Scene0\n" + setup + "gone.qzg\"\n0 BEGIN Scene0\n",
         "data/scripts/demo.scr:6: error: scene file data/scenes/gone.qzg is missing"},
        {"INSERT_EFFECT Scene0\n" + setup + "broken.qzg\"\n0 BEGIN Scene0\n",
         "data/scripts/demo.scr:6: error: Scene file is broken: data/scenes/broken.qzg"},
        {"INSERT_EFFECT Scene0\n" + setup + "nocamera.qzg\"\n0 BEGIN Scene0\n",
         "data/scripts/demo.scr:6: error: no camera in scene: data/scenes/nocamera.qzg"},
        {"INSERT_EFFECT Scene0\n" + setup + "textured.qzg\"\n0 BEGIN Scene0\n",
         "data/scripts/demo.scr:6: error: picture data/textures/skin.png is missing\n"},
        // A model import that left the texture beside the scene.
        {"INSERT_EFFECT Scene0\n" + setup + "textured.qzg\"\n0 BEGIN Scene0\n",
         "data/scripts/demo.scr:6: error: picture data/textures/skin.png is missing: found in data/scenes/: "
         "import again with --textures data/textures\n"},
        {"INSERT_EFFECT Hode\n__SETUP__\n0 SIGNAL Hode Datafile \"data/scenes/front.qzg\"\n0 BEGIN Hode\n",
         "data/scripts/demo.scr:6: error: morphdata not found: Hode needs data/scenes/morphdata_Box01.pmd"},
        {kDof, "data/scripts/demo.scr:6: error: DOF: no fragment program, showing the picture unblurred: "
               "data/shaders/dof_light.qzs"},
        {kDof, "data/scripts/demo.scr:6: error: Error loading shader:"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Demo demo;
        demo.script(c.body);
        demo.scene("front.qzg", testscenes::frontScene("Box01", true));
        demo.scene("nocamera.qzg", noCamera);
        demo.scene("textured.qzg", testscenes::frontScene("Box", true, "skin.png"));
        writeFile(demo.dir + "/data/scenes/broken.qzg", "not a scene");
        if (c.expected.find("found in data/scenes/") != std::string::npos)
            demo.picture("data/scenes/skin.png");
        if (i + 1 == cases.size())
            writeFile(demo.dir + "/data/shaders/dof_light.qzs", "!!ARBfp1.0\nNONSENSE;\nEND\n");
        CommandResult r = demo.check();
        SKIP_WITHOUT_GL(r);
        EXPECT_EQ(r.exitCode, 1) << c.body << r.out << r.err;
        if (c.expected.find("DOF:") != std::string::npos && r.out.find("0 errors") != std::string::npos)
            continue; // a driver without fragment programs: the effect never loads one
        EXPECT_NE(r.out.find(c.expected), std::string::npos) << c.body << "\n" << r.out << r.err;
        EXPECT_EQ(r.out.find(".cpp:"), std::string::npos) << r.out;
    }
}

// Shader programs: one the driver refuses is found at its own line (the script's line before it),
// a missing or oversized one and a missing channel picture at the line that names them.
TEST(ScriptCheck, ShaderProgramsAndTheirPictures) {
    const std::string uv = "void mainImage(out vec4 fragColor, in vec2 fragCoord)\n{\n"
                           "    fragColor = vec4(fragCoord / iResolution.xy, 0.0, 1.0);\n}\n";
    std::string broken = uv;
    broken.replace(broken.find(", 0.0"), 1, "");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"bad.frag", "data/scripts/demo.scr:6: error: Shader1: the shader does not compile: "
                     "data/shaders/bad.frag:3: error: "},
        {"gone.frag", "data/scripts/demo.scr:6: error: could not load shader: data/shaders/gone.frag"},
        {"long.frag", "data/scripts/demo.scr:6: error: Shader1: shader program too long, not drawn: "
                      "data/shaders/long.frag: 70000 bytes, more than 65536"},
        {"uv.frag\"\n0 SIGNAL Shader1 Texture3 \"data/images/gone.png",
         "data/scripts/demo.scr:7: error: picture data/images/gone.png is missing"},
    };
    for (const auto& [named, expected] : cases) {
        Demo demo;
        demo.script("INSERT_EFFECT Shader1\n__SETUP__\n0 SIGNAL Shader1 Datafile \"data/shaders/" + named +
                    "\"\n__TIMELINE__\n0 BEGIN Shader1\n");
        writeFile(demo.dir + "/data/shaders/bad.frag", broken);
        writeFile(demo.dir + "/data/shaders/uv.frag", uv);
        writeFile(demo.dir + "/data/shaders/long.frag", uv + std::string(70000 - uv.size(), ' '));
        CommandResult r = demo.check();
        SKIP_WITHOUT_GL(r);
        EXPECT_EQ(r.exitCode, 1) << named << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(expected), std::string::npos) << named << "\n" << r.out << r.err;
    }
}

// What loads but never shows, or shows nothing: warnings, exit code 0.
TEST(ScriptCheck, TimelineWarnings) {
    Demo demo;
    CommandResult music =
        runCommand(binPath("holdfast-makemusic") + " " + demo.dir + "/music.ogg --seconds 2", 120);
    ASSERT_EQ(music.exitCode, 0) << music.err;
    demo.picture("data/images/face.png");
    demo.picture("data/images/old.png");
    demo.script(R"(DEMO_END 60000
DEMO_LENGTH 20000
DEFINE LINK 2
INSERT_EFFECT Image1
INSERT_EFFECT Flash
INSERT_EFFECT Blur
INSERT_EFFECT RotoZoom
__SETUP__
0 SIGNAL Image1 Datafile "data/images/face.png"
__TIMELINE__
0 BEGIN Image1
0 TRIGGER Blur LINK "RotoZoom"
0 BEGIN Blur
100 TRIGGER RotoZoom LINK "Blur"
200 TRIGGER Blur LINK "Image9"
300 TRIGGER Blurr LINK "Image1"
2500 SIGNAL Image1 Red 0.5
25000 SIGNAL Image1 Red 1
3000 END Image1
3000 END Blur
)",
                "");
    CommandResult r = demo.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(
        r.out,
        "data/scripts/demo.scr:2: warning: DEMO_LENGTH 20000 runs past the end of the music (2000 ms): its "
        "last 18.0 s play in silence\n"
        "data/scripts/demo.scr:2: warning: the last effect ends at 3000 ms, but the demo runs on to 20000 "
        "ms, 17 s of black; DEMO_LENGTH 3000 in the header ends it there\n"
        "data/scripts/demo.scr:5: warning: effect Flash is inserted but never begun (no BEGIN line) and no "
        "effect links to it, so it never shows\n"
        "data/scripts/demo.scr:14: warning: Linked effect loops back to this effect: Blur\n"
        "data/scripts/demo.scr:15: warning: Link to an effect that does not exist: Image9 (the script "
        "inserts no effect of that name; did you mean `Image1`?)\n"
        "data/scripts/demo.scr:16: warning: Signal for an effect that does not exist: Blurr (the script "
        "inserts no effect of that name; did you mean `Blur`?)\n"
        "data/scripts/demo.scr:17: warning: `SIGNAL Image1` at 2500 ms comes after the music ends (2000 "
        "ms)\n"
        "data/scripts/demo.scr:18: warning: `SIGNAL Image1` at 25000 ms comes after the demo ends (20000 "
        "ms), so it never happens\n"
        "data/scripts/demo.scr:19: warning: `END Image1` at 3000 ms comes after the music ends (2000 ms)\n"
        "data/scripts/demo.scr:20: warning: `END Blur` at 3000 ms comes after the music ends (2000 ms)\n"
        "data/images/old.png: warning: nothing in the demo uses this file\n"
        "0 errors, 11 warnings\n")
        << r.err;
}

// Without --check, a script inside a demo folder is read as the player reads it there: the files
// it names are the folder's, wherever the tool is run from.
TEST(ScriptCheck, APlainScriptPathReadsTheDemosOwnFiles) {
    Demo demo;
    demo.script(std::string("DEFINE LINK 2\n") + kCleanBody);
    demo.picture("data/images/face.png");
    demo.scene("front.qzg", testscenes::frontScene("Box", true));
    const fs::path root(demo.dir);
    CommandResult r = runCommand("cd " + root.parent_path().string() + " && " + kTool + " " +
                                 root.filename().string() + "/data/scripts/demo.scr");
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("could not load scene"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\"list1000\":[\"Cam\"]"), std::string::npos) << r.out; // the scene's camera

    // The player itself reports a signal for an effect the script never inserted, and goes on.
    demo.script("DEFINE LINK 2\nINSERT_EFFECT Image1\n0 BEGIN Image1\n100 TRIGGER Imag1 LINK \"Image1\"\n");
    r = runCommand(kTool + " " + demo.dir + "/data/scripts/demo.scr");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(
        r.err.find("Signal for an effect that does not exist: Imag1 (script line 7; did you mean 'Image1'?)"),
        std::string::npos)
        << r.err;
}

// Demos the player would run to the end showing nothing are errors, each saying why.
TEST(ScriptCheck, DemosThatShowNothingFail) {
    struct Case {
        std::string script; // the whole file
        std::string line;   // expected output line (start)
    };
    const std::string head = "__HEADER__\nDEMO_END 3000\n";
    const std::vector<Case> cases = {
        {"", "data/scripts/demo.scr: error: the script holds no statement (it is empty, or all comment)"},
        {"// notes only\n", "data/scripts/demo.scr: error: the script holds no statement"},
        {head + "INSERT_EFFECT Clear\n/* the timeline, left open\n0 BEGIN Clear\n3000 END Clear\n",
         "data/scripts/demo.scr:4: error: the /* comment opened here is never closed: the player ignores the "
         "rest of the script\n"},
        {head + "INSERT_EFFECT Clear\n3500 BEGIN Clear\n",
         "data/scripts/demo.scr: error: no effect runs between DEMO_START (0 ms) and the demo's end (286000 "
         "ms)"},
        {head + "DEMO_START 5000\nDEMO_LENGTH 4000\nINSERT_EFFECT Clear\n0 BEGIN Clear\n",
         "data/scripts/demo.scr:4: error: the demo ends (DEMO_LENGTH 4000 ms) where or before it starts "
         "(DEMO_START 5000 ms): the player shows nothing and ends\n"},
        {head, "data/scripts/demo.scr: error: the script inserts no effect (no INSERT_EFFECT)"},
    };
    for (const Case& c : cases) {
        Demo demo;
        demo.script(c.script, "");
        CommandResult r = demo.check();
        SKIP_WITHOUT_GL(r);
        EXPECT_EQ(r.exitCode, 1) << c.script << r.out << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << c.script << "\n" << r.out;
    }

    // A script that is a link to itself is not "missing".
    Demo loop;
    loop.script("");
    fs::remove(loop.dir + "/data/scripts/demo.scr");
    fs::create_symlink("demo.scr", loop.dir + "/data/scripts/demo.scr");
    CommandResult r = loop.check();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(
        r.out,
        "data/scripts/demo.scr: error: the script is a link that leads back to itself (a loop of links)\n"
        "1 error, 0 warnings\n");
}

// SIGNAL keys outside what their variable means, and numbers that key nothing; --ranges lists the
// table and finds a row for every variable of every effect.
TEST(ScriptCheck, KeysOutsideTheirVariablesValues) {
    Demo demo;
    demo.script(R"(INSERT_EFFECT Clear
INSERT_EFFECT Blur
INSERT_EFFECT GridExp
INSERT_EFFECT Noise
0 SIGNAL Clear Red 0.5
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear Red 2
0 SIGNAL Clear Green 1
0 SIGNAL Blur BlurAmount 1.5
0 SIGNAL GridExp Anim 7
0 SIGNAL GridExp Anim 2.5
0 SIGNAL GridExp Anim 4
0 SIGNAL Noise Alpha 8
0 SIGNAL Noise Speed -3
)");
    CommandResult r = demo.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const char* line :
         {"demo.scr:8: warning: `SIGNAL Clear Red` with a number keys nothing before __TIMELINE__",
          "demo.scr:11: warning: `SIGNAL Clear Red 2`: Red takes 0 to 1 (a colour channel",
          "demo.scr:13: warning: `SIGNAL Blur BlurAmount 1.5`: BlurAmount takes 0 to 1 (passes",
          "demo.scr:14: warning: `SIGNAL GridExp Anim 7`: Anim takes the whole numbers 0 to 4",
          "demo.scr:15: warning: `SIGNAL GridExp Anim 2.5`: Anim takes the whole numbers 0 to 4 (the "
          "formula; any "
          "other number leaves the grid flat); 2.5 is read as 2\n",
          "demo.scr:17: warning: `SIGNAL Noise Alpha 8`: Alpha takes 0 to 1 (an opacity"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("demo.scr:12:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("demo.scr:16:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("demo.scr:18:"), std::string::npos) << r.out;

    r = runCommand(kTool + " --ranges");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("| GridExp GridExp2 | Anim | the whole numbers 0 to 4 |"), std::string::npos)
        << r.out;
}

// Input that once blocked the check, crawled or forged its output: a FIFO for music ends it at
// once, each kind of finding is listed 100 times and then counted, names print escaped on their
// own line, and SIGINT or SIGTERM end a running check as they end any tool.
TEST(ScriptCheck, HostileDemosEndPromptlyAndPrintSafely) {
    Demo demo;
    std::string body = "INSERT_EFFECT Clear\n__TIMELINE__\n0 BEGIN Clear\n";
    for (int i = 0; i < 150; ++i)
        body += std::to_string(4000 + i) + " SIGNAL Clear Red 0.5\n";
    demo.script(body);
    ASSERT_EQ(mkfifo((demo.dir + "/music.ogg").c_str(), 0600), 0);
    writeFile(demo.dir + "/data/images/a\x1b[2Jb\nc.png", "");
    CommandResult r = demo.check();
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(
        r.out.find("data/scripts/demo.scr:106: warning: `SIGNAL Clear` at 4099 ms comes after the demo "
                   "ends (3000 ms), so it never happens\n"
                   "data/scripts/demo.scr:107: warning: 50 more like this, to line 156, not listed: "
                   "`SIGNAL Clear` at 4100 ms comes after the demo ends (3000 ms), so it never happens\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("music.ogg: error: not a regular file (a FIFO or device): the player refuses it"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\ndata/images/a\\x1b[2Jb\\nc.png: warning: nothing in the demo uses this file\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find("1 error, 151 warnings\n"), std::string::npos) << r.out;
    // The same name as an archive member, listed by holdfast-pack.
    const std::string packed = makeTempDir() + "/data.qzd";
    fs::remove(demo.dir + "/music.ogg");
    ASSERT_EQ(runCommand(binPath("holdfast-pack") + " create " + packed + " " + demo.dir + " --password pw")
                  .exitCode,
              0);
    r = runCommand(binPath("holdfast-pack") + " list " + packed + " | grep -c 'a.x1b.2Jb.nc.png'");
    EXPECT_EQ(r.out, "1\n") << r.err;

    // A check that runs a while, signalled once its GL context is up and SDL's handlers (which
    // swallow both signals) are gone again: no bit for SIGINT (2) or SIGTERM (15) in SigCgt.
    std::string keys;
    for (int i = 0; i < 400000; ++i)
        keys += "1 s Clear Red 0.5\n";
    demo.script("INSERT_EFFECT Clear\n__TIMELINE__\n" + keys);
    for (const std::string sig : {"INT", "TERM"}) {
        r = runCommand("env --default-signal=INT " + kTool + " --check " + demo.dir +
                           " >/dev/null & pid=$!\n"
                           "for i in $(seq 1500); do\n"
                           "  if grep -q -e _dri.so -e libgallium /proc/$pid/maps; then\n"
                           "    c=$(awk '/SigCgt/ {print $2}' /proc/$pid/status); [ $((0x$c & 0x4002)) -eq 0 "
                           "] && break\n"
                           "  fi; sleep 0.02\n"
                           "done\n"
                           "kill -" +
                           sig + " $pid; wait $pid; echo $?",
                       120);
        EXPECT_EQ(r.out, sig == "INT" ? "130\n" : "143\n") << sig << r.err;
    }
}
