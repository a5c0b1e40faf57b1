// Shader1..4 in whole demos: their inputs read back from frames of holdfast-capture, and a
// program the driver refuses stopping the player at the program's own line.
#include "GLTest.h"
#include "OggWriter.h"
#include "PngPixels.h"

#include "resources/PngWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

std::string mainImage(const std::string& body) {
    return "void mainImage(out vec4 fragColor, in vec2 fragCoord)\n{\n" + body + "\n}\n";
}

// One effect a span: the time and place (Shader1, twice), a parameter (Shader2), a linked
// Clear's picture (Shader3), a picture from the data beside an unset channel (Shader4).
const char* kScript = R"(__HEADER__
DEMO_START 0
DEMO_END 60000
DEMO_LENGTH 7000
__DEFS__
DEFINE LINK 2
INSERT_EFFECT Clear
INSERT_EFFECT Shader1
INSERT_EFFECT Shader2
INSERT_EFFECT Shader3
INSERT_EFFECT Shader4
__SETUP__
0 SIGNAL Shader1 Datafile "data/shaders/uv.frag"
0 SIGNAL Shader2 Datafile "data/shaders/param.frag"
0 SIGNAL Shader3 Datafile "data/shaders/linked.frag"
0 SIGNAL Shader4 Datafile "data/shaders/picture.frag"
0 SIGNAL Shader4 Texture2 "data/images/solid.png"
__TIMELINE__
0 SIGNAL Clear Red 0.2
0 SIGNAL Clear Green 0.4
0 SIGNAL Clear Blue 0.6
0 BEGIN Shader1
2000 END Shader1
3000 BEGIN Shader1
4000 END Shader1
4000 SIGNAL Shader2 Param1 0.6
4000 BEGIN Shader2
5000 END Shader2
5000 TRIGGER Shader3 LINK "Clear"
5000 BEGIN Shader3
6000 END Shader3
6000 BEGIN Shader4
)";

} // namespace

TEST(ShaderCapture, TimeResolutionParametersAndPicturesReachThePixels) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir() + "/frames";
    writeFile(demo + "/data/scripts/demo.scr", kScript);
    writeFile(demo + "/data/shaders/uv.frag",
              mainImage("    fragColor = vec4(fragCoord / iResolution.xy, 0.5 + 0.5 * sin(iTime), 1.0);"));
    writeFile(demo + "/data/shaders/param.frag", mainImage("    fragColor = vec4(Param1, 0.0, 0.0, 1.0);"));
    writeFile(demo + "/data/shaders/linked.frag",
              mainImage("    fragColor = texture(iChannel0, fragCoord / iResolution.xy);"));
    writeFile(
        demo + "/data/shaders/picture.frag",
        mainImage("    fragColor = texture(iChannel2, vec2(0.3, 0.6)) + texture(iChannel3, vec2(0.5));"));
    std::vector<unsigned char> texels;
    for (int i = 0; i < 64; ++i)
        texels.insert(texels.end(), {200, 100, 50});
    std::filesystem::create_directories(demo + "/data/images");
    ASSERT_TRUE(writeRgbPng(demo + "/data/images/solid.png", 8, 8, texels.data(), false, false));
    CommandResult r = runCommand(binPath("holdfast-capture") + " --data " + demo +
                                     " --times 1000,3500,4500,5500,6500 --out " + out,
                                 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    // 1 s into the first span, then 0.5 s into the second: iTime counts from each span's start.
    for (const auto& [frame, seconds] : {std::pair<int, double>{1000, 1.0}, {3500, 0.5}}) {
        const Frame f = readPng(out + (frame == 1000 ? "/frame_00001000.png" : "/frame_00003500.png"));
        ASSERT_TRUE(f.ok) << frame;
        const double blue = (0.5 + 0.5 * std::sin(seconds)) * 255;
        for (const auto& [x, y] : {std::pair<int, int>{0, 0}, {400, 300}, {799, 599}, {200, 450}}) {
            const std::vector<int> p = f.at(x, y);
            // Rows are counted from the top, fragCoord from the bottom; both at pixel centres.
            EXPECT_NEAR(p[0], (x + 0.5) / 800 * 255, 2) << frame << " " << x << "," << y;
            EXPECT_NEAR(p[1], (599.5 - y) / 600 * 255, 2) << frame << " " << x << "," << y;
            EXPECT_NEAR(p[2], blue, 2) << frame << " " << x << "," << y;
        }
    }
    const Frame param = readPng(out + "/frame_00004500.png");
    ASSERT_TRUE(param.ok);
    EXPECT_NEAR(param.at(400, 300)[0], 153, 2);
    EXPECT_EQ(param.at(400, 300)[2], 0);
    const Frame linked = readPng(out + "/frame_00005500.png");
    ASSERT_TRUE(linked.ok);
    EXPECT_EQ(linked.at(100, 500), (std::vector<int>{51, 102, 153}));
    const Frame picture = readPng(out + "/frame_00006500.png");
    ASSERT_TRUE(picture.ok);
    EXPECT_EQ(picture.at(400, 300), (std::vector<int>{200, 100, 50}));
}

// A sine of 861 Hz (the spectrum's band 20) as the music: iChannel1's first row is bright there
// and dark far above it, its second row swings around the middle, and iBeat carries the level a
// Spectrum sends once it listens.
TEST(ShaderCapture, TheMusicReachesIChannel1AndTheSpectrumsLevelIBeat) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string demo = makeTempDir(), out = makeTempDir() + "/frames";
    ASSERT_TRUE(writeSineOgg(demo + "/music.ogg", 3.0, 20.5 * 44100.0 / 1024.0, 0.8));
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_END 60000
DEMO_LENGTH 2000
__DEFS__
DEFINE SPECTRUM_ONLY 2
INSERT_EFFECT Shader1
INSERT_EFFECT Spectrum
__SETUP__
0 SIGNAL Shader1 Datafile "data/shaders/music.frag"
__TIMELINE__
0 BEGIN Shader1
0 TRIGGER Spectrum SPECTRUM_ONLY "Shader1"
1000 BEGIN Spectrum
)");
    writeFile(demo + "/data/shaders/music.frag",
              mainImage("    float u = fragCoord.x / iResolution.x;\n"
                        "    fragColor = vec4(texture(iChannel1, vec2(u, 0.25)).r,\n"
                        "                     texture(iChannel1, vec2(u, 0.75)).r, min(iBeat, 1.0), 1.0);"));
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 900,1500 --out " + out, 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"/frame_00000900.png", "/frame_00001500.png"}) {
        SCOPED_TRACE(name);
        const Frame f = readPng(out + name);
        ASSERT_TRUE(f.ok);
        int band = 0, above = 0, low = 255, high = 0;
        for (int x = 0; x < 800; ++x) {
            const std::vector<int> p = f.at(x, 300);
            if (x >= 25 && x <= 40) band = std::max(band, p[0]);
            if (x >= 400) above = std::max(above, p[0]);
            low = std::min(low, p[1]);
            high = std::max(high, p[1]);
        }
        EXPECT_GT(band, 150);
        EXPECT_LT(above, 20);
        EXPECT_LT(low, 80);
        EXPECT_GT(high, 175);
    }
    EXPECT_EQ(readPng(out + "/frame_00000900.png").at(400, 300)[2], 0);
    EXPECT_GT(readPng(out + "/frame_00001500.png").at(400, 300)[2], 100);
}

// The player stops before the demo starts, naming the program's file and its line.
TEST(ShaderCapture, ThePlayerStopsAtAShadersOwnLine) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string dir = makeTempDir();
    writeFile(dir + "/src/data/scripts/demo.scr",
              "__HEADER__\nDEMO_END 60000\n__DEFS__\nINSERT_EFFECT Shader2\n"
              "__SETUP__\n0 SIGNAL Shader2 Datafile \"data/shaders/bad.frag\"\n"
              "__TIMELINE__\n0 BEGIN Shader2\n");
    writeFile(dir + "/src/data/shaders/bad.frag", mainImage("    fragColor = vec4(1.0, 0.0, 0.0 1.0);"));
    CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + dir + "/data.qzd " + dir +
                                      "/src --password tolvrask");
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    CommandResult r = runCommand("cd " + dir + " && " + binPath("holdfast"), 60);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Shader2: the shader does not compile: data/shaders/bad.frag:3: error: "),
              std::string::npos)
        << r.err;
}
