// DOF with the demo's own focus program: flat pictures at known depths, and the effect without
// a usable program.
#include "../engine/SceneBuilder.h"
#include "GLTest.h"

#include "base/Report.h"
#include "effects/DepthOfField.h"
#include "effects/Effect3D.h"
#include "effects/EffectFactory.h"
#include "platform/GL.h"

#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

// Draws one grey rectangle over the whole target at a fixed normalised depth, with a white
// texture (what the fixed-function stage would draw: plain grey) unless given one of its own.
class FlatPicture : public Effect {
  public:
    FlatPicture(float grey, float ndcDepth) : Effect("Flat"), grey(grey), depth(ndcDepth) {}
    ~FlatPicture() override {
        if (white) glDeleteTextures(1, &white);
    }
    void render(int) override {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        if (!texture) {
            if (!white) {
                const unsigned char texel[4] = {255, 255, 255, 255};
                white = makeTexture(1, 1, texel);
            }
            texture = white;
        }
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glDisable(GL_BLEND);
        glDisable(GL_LIGHTING);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_TRUE);
        glColor4f(colour[0] >= 0 ? colour[0] : grey, colour[0] >= 0 ? colour[1] : grey,
                  colour[0] >= 0 ? colour[2] : grey, 1);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex3f(-1, -1, depth);
        glTexCoord2f(1, 0);
        glVertex3f(1, -1, depth);
        glTexCoord2f(1, 1);
        glVertex3f(1, 1, depth);
        glTexCoord2f(0, 1);
        glVertex3f(-1, 1, depth);
        glEnd();
        glColor4f(1, 1, 1, 1);
        glBindTexture(GL_TEXTURE_2D, 0);
        glDisable(GL_TEXTURE_2D);
    }
    // An RGBA texture of w x h texels, nearest filtering.
    static GLuint makeTexture(int w, int h, const unsigned char* rgba) {
        GLuint id = 0;
        glGenTextures(1, &id);
        glBindTexture(GL_TEXTURE_2D, id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        glBindTexture(GL_TEXTURE_2D, 0);
        return id;
    }
    float grey, depth;
    float colour[3] = {-1, -1, -1}; // the lit colour; grey when not set
    GLuint texture = 0;
    GLuint white = 0;
};

std::vector<report::Record> reports;
void keepReport(const report::Record& r) {
    reports.push_back(r);
}

// The demo's data folder as the demo maker writes it (made once for all tests here).
std::string demoData() {
    static std::string dir;
    if (dir.empty()) {
        const std::string content = makeTempDir(), out = makeTempDir();
        writeFile(content + "/data/scripts/demo.scr", "__HEADER__\n");
        CommandResult r =
            runCommand(binPath("holdfast-makedemo") + " --content " + content + " --out " + out, 300);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        dir = out;
    }
    return dir;
}

class DepthOfFieldTest : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        if (!DepthOfField::supported()) GTEST_SKIP() << "driver has no fragment programs";
        char buffer[4096];
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        savedDir = buffer;
        reports.clear();
        report::setSink(keepReport);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    void TearDown() override {
        report::setSink(nullptr);
        if (!savedDir.empty()) {
            EXPECT_EQ(chdir(savedDir.c_str()), 0);
        }
        GLTest::TearDown();
    }
    void enter(const std::string& dir) { ASSERT_EQ(chdir(dir.c_str()), 0); }

    // One frame of a DOF (focus depth 0.5, band 0.005, fall-off 192 per depth unit) over a flat
    // grey picture at window depth `windowDepth`; returns the centre pixel's red.
    int frame(DepthOfField& dof, FlatPicture& flat, float windowDepth) {
        flat.depth = windowDepth * 2 - 1;
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        dof.update(1000);
        dof.render(1000);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return pixel(400, 300)[0];
    }
    static void link(DepthOfField& dof, Effect& flat) { dof.linked = &flat; }

    std::string savedDir;
};

TEST_F(DepthOfFieldTest, FocusWeightFollowsTheProgram) {
    enter(demoData());
    std::unique_ptr<Effect> made(createBuiltInEffect("DOF"));
    auto* dof = dynamic_cast<DepthOfField*>(made.get());
    ASSERT_NE(dof, nullptr);
    std::vector<std::string> names;
    for (const Variable* v : dof->variables)
        names.push_back(v->name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Speed", "SpectrumStr", "Pattern", "DoBlur", "DoGlow", "BlurAmount",
                                        "BlurFactor", "GlowStrength", "Constant", "Weight1", "Weight2"}));
    EXPECT_EQ(dof->blurAmount.count, 4);

    FlatPicture flat(200.0f / 255.0f, 0.0f);
    link(*dof, flat);
    dof->weight2.value = 0.5f; // focus at window depth 0.5
    dof->blurAmount.value = 0; // one pass: half the picture's brightness in the blur
    dof->start(0);
    ASSERT_TRUE(dof->programReady());
    EXPECT_TRUE(reports.empty());

    const int sharp = frame(*dof, flat, 0.5f);
    const int blurred = frame(*dof, flat, 0.75f);
    // Depth 0.5075: 0.0075 from the focus, 0.0025 past the band: alpha 1 - 0.0025 * 3 * 64 = 0.52.
    const int between = frame(*dof, flat, 0.5075f);
    EXPECT_NEAR(sharp, 200, 2);
    EXPECT_NEAR(blurred, 100, 6); // 12 copies at 1/24 each, rounded per copy
    EXPECT_NEAR(between, 0.52 * 200 + 0.48 * blurred, 3);

    // Inside the band the picture stays sharp; a wider band (Constant) keeps more in focus.
    EXPECT_NEAR(frame(*dof, flat, 0.504f), 200, 2);
    dof->constant.value = 1.0f;
    EXPECT_NEAR(frame(*dof, flat, 0.5075f), 200, 2);
    dof->constant.value = 0.5f;

    // Without the sharp layer only the blur shows; three more passes darken it further.
    dof->doGlowVar.value = false;
    EXPECT_NEAR(frame(*dof, flat, 0.5f), blurred, 2);
    dof->doGlowVar.value = true;
    dof->blurAmount.value = 3;
    EXPECT_LT(frame(*dof, flat, 0.75f), blurred / 4);
    EXPECT_EQ(dof->result, &dof->p1);
    EXPECT_TRUE(reports.empty());
}

// The program stands in for the fixed-function stage: the texture of unit 0 modulated by the
// colour stays in the focus band, and texels without opacity are cut (the alpha test only sees
// the focus weight). Bottom half of the texture: white and green, opaque; top half: clear.
TEST_F(DepthOfFieldTest, TheProgramKeepsTexturesColoursAndOpacityHoles) {
    enter(demoData());
    DepthOfField dof;
    FlatPicture flat(1.0f, 0.0f);
    const unsigned char texels[16] = {255, 255, 255, 255, 0, 255, 0, 255, 255, 255, 255, 0, 255, 255, 255, 0};
    const GLuint checks = FlatPicture::makeTexture(2, 2, texels);
    flat.texture = checks;
    flat.colour[0] = 200.0f / 255.0f;
    flat.colour[1] = 100.0f / 255.0f;
    flat.colour[2] = 50.0f / 255.0f;
    link(dof, flat);
    dof.weight2.value = 0.5f;
    dof.blurAmount.value = 0;
    dof.start(0);
    ASSERT_TRUE(dof.programReady());
    frame(dof, flat, 0.5f);
    const std::vector<unsigned char> white = pixel(200, 150), green = pixel(600, 150);
    const std::vector<unsigned char> holeLeft = pixel(200, 480), holeRight = pixel(600, 480);
    glDeleteTextures(1, &checks);
    EXPECT_NEAR(white[0], 200, 3);
    EXPECT_NEAR(white[1], 100, 3);
    EXPECT_NEAR(white[2], 50, 3);
    EXPECT_NEAR(green[0], 0, 3);
    EXPECT_NEAR(green[1], 100, 3);
    EXPECT_NEAR(green[2], 0, 3);
    // Only a little of the blurred bottom half reaches this far into the cut one.
    EXPECT_LT(holeLeft[0], 40);
    EXPECT_LT(holeRight[1], 40);
    EXPECT_TRUE(reports.empty());
}

TEST_F(DepthOfFieldTest, NothingBeforeTheFirstBlurAndLinkAfterStart) {
    enter(demoData());
    DepthOfField dof;
    FlatPicture flat(200.0f / 255.0f, 0.0f);
    dof.weight2.value = 0.5f;
    dof.doBlurVar.value = false;
    dof.blurAmount.value = 0;
    // Started before its link (the script's INIT ahead of the link signal): the program still loads.
    dof.start(0);
    link(dof, flat);
    EXPECT_EQ(frame(dof, flat, 0.75f), 0); // no blur has run: nothing is drawn
    EXPECT_TRUE(dof.programReady());
    dof.doBlurVar.value = true;
    EXPECT_NEAR(frame(dof, flat, 0.75f), 100, 6);
    // DoBlur off later: the sharp picture is the base, covered by itself.
    dof.doBlurVar.value = false;
    EXPECT_NEAR(frame(dof, flat, 0.75f), 200, 2);
    EXPECT_TRUE(reports.empty());
}

TEST_F(DepthOfFieldTest, MissingOrRejectedProgramShowsTheSharpPictureWithOneReport) {
    const std::string empty = makeTempDir();
    enter(empty);
    {
        DepthOfField dof;
        FlatPicture flat(200.0f / 255.0f, 0.0f);
        link(dof, flat);
        dof.weight2.value = 0.5f;
        dof.start(0);
        EXPECT_FALSE(dof.programReady());
        EXPECT_NEAR(frame(dof, flat, 0.75f), 200, 2);
        dof.start(100);
        EXPECT_NEAR(frame(dof, flat, 0.75f), 200, 2);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_FALSE(reports[0].fatal);
        EXPECT_NE(reports[0].text.find("dof_light.qzs"), std::string::npos) << reports[0].text;
    }
    reports.clear();
    writeFile(empty + "/data/shaders/dof_light.qzs", "!!ARBfp1.0\nMOV result.color, nonsense;\nEND\n");
    {
        DepthOfField dof;
        FlatPicture flat(120.0f / 255.0f, 0.0f);
        link(dof, flat);
        dof.start(0);
        EXPECT_FALSE(dof.programReady());
        EXPECT_NEAR(frame(dof, flat, 0.75f), 120, 2);
        EXPECT_NEAR(frame(dof, flat, 0.5f), 120, 2);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_FALSE(reports[0].fatal);
        EXPECT_NE(reports[0].text.find("Error loading shader"), std::string::npos) << reports[0].text;
    }
    // A program text past the size limit never reaches the driver (which can take minutes and
    // gigabytes over megabytes of it): refused by its size, with the limit named.
    reports.clear();
    std::string longProgram = "!!ARBfp1.0\nTEMP r;\nMOV r, fragment.color;\n";
    while (longProgram.size() <= DepthOfField::maxProgramBytes)
        longProgram += "ADD r, r, r;\n";
    writeFile(empty + "/data/shaders/dof_light.qzs", longProgram + "MOV result.color, r;\nEND\n");
    {
        DepthOfField dof;
        FlatPicture flat(90.0f / 255.0f, 0.0f);
        link(dof, flat);
        dof.start(0);
        EXPECT_FALSE(dof.programReady());
        EXPECT_NEAR(frame(dof, flat, 0.75f), 90, 2);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_FALSE(reports[0].fatal);
        EXPECT_NE(reports[0].text.find("DOF: fragment program too long, showing the picture unblurred: "
                                       "data/shaders/dof_light.qzs: "),
                  std::string::npos)
            << reports[0].text;
        EXPECT_NE(reports[0].text.find("bytes, more than 65536"), std::string::npos) << reports[0].text;
    }
}

// At load time a DOF that draws a scene loads its program and draws that scene through it once,
// where nothing shows, so that neither falls into the frame where it starts; GL is left as it
// was. A program that is missing is still reported when the effect starts, once.
TEST_F(DepthOfFieldTest, AWarmUpLoadsTheProgramAndDrawsTheLinkedSceneWhereNothingShows) {
    Scene scene;
    scene.addMaterial(scenes::colour(1, 0.8f, 0.2f, 0.4f));
    scene.findMaterial(1)->finishTextures();
    scene.addObject(scenes::quad(1, "Quad", 1, 4, 4), -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    Effect3D sceneEffect("Scene0");
    ASSERT_TRUE(sceneEffect.adopt(&scene, "quad"));

    auto readWindow = [] {
        std::vector<unsigned char> pixels(800 * 600 * 4);
        glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    };
    enter(demoData());
    {
        DepthOfField dof;
        dof.warmUp(); // nothing to draw: nothing loaded
        EXPECT_FALSE(dof.programReady());
        link(dof, sceneEffect);
        glClearColor(0.25f, 0.5f, 0.75f, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const auto window = readWindow();
        GLint boundBefore = -1;
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &boundBefore);
        dof.warmUp();
        EXPECT_TRUE(dof.programReady());
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_FALSE(glIsEnabled(GL_FRAGMENT_PROGRAM_ARB));
        GLint bound = -1;
        glGetProgramivARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_BINDING_ARB, &bound);
        EXPECT_EQ(bound, boundBefore);
        EXPECT_TRUE(readWindow() == window) << "the warm-up drew into the window";
        EXPECT_TRUE(reports.empty());
    }
    const std::string empty = makeTempDir();
    enter(empty);
    {
        DepthOfField dof;
        link(dof, sceneEffect);
        dof.warmUp();
        EXPECT_FALSE(dof.programReady());
        EXPECT_TRUE(reports.empty()) << "reported before the effect starts";
        dof.start(0);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].text.find("dof_light.qzs"), std::string::npos) << reports[0].text;
    }
    sceneEffect.scene = nullptr; // the scene is this test's, not the scene cache's
}

} // namespace
