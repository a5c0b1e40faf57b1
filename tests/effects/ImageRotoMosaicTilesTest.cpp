// Image, RotoZoom, Mosaic and Tiles drawn for real and read back, with the expected colours
// worked out from their formulas.
#include "../resources/ImageWriters.h"
#include "../resources/ReportCapture.h"
#include "GLTest.h"

#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "effects/Clear.h"
#include "effects/EffectFactory.h"
#include "effects/Image.h"
#include "effects/Mosaic.h"
#include "effects/RotoZoom.h"
#include "effects/Tiles.h"
#include "platform/GL.h"
#include "resources/Texture.h"

#include <array>
#include <cmath>
#include <memory>

namespace {

using Rgba = std::vector<unsigned char>;
using Rgb = std::array<unsigned char, 3>;

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

class ImageRotoMosaicTiles : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glDrawBuffer(GL_BACK);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glBlendEquation(GL_FUNC_ADD);
        glColor4f(1, 1, 1, 1);
        glViewport(0, 0, 800, 600);
        background(0, 0, 0);
    }
    void TearDown() override {
        effectList = nullptr;
        if (!IsSkipped()) glDisable(GL_TEXTURE_2D);
    }
    void background(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    // 64 x 64: red top left, green top right, blue bottom left, white bottom right.
    std::string quadrantPicture() {
        const std::string path = dir + "/quadrants.png";
        auto pixels = rgbPixels(64, 64, [](int x, int y) {
            if (y < 32) return x < 32 ? kRed : kGreen;
            return x < 32 ? kBlue : kWhite;
        });
        EXPECT_TRUE(writePNG(path, 64, 64, PNG_COLOR_TYPE_RGB, 8, pixels));
        return path;
    }
    // 64 x 64 in 4 x 4 cells of 16 x 16, each its own colour (column x 85, row x 85, 128), rows
    // counted from the top: shows any flip or shift within a quarter of the picture.
    std::string gridPicture() {
        const std::string path = dir + "/grid.png";
        auto pixels = rgbPixels(64, 64, [](int x, int y) {
            return Rgb{static_cast<unsigned char>(x / 16 * 85), static_cast<unsigned char>(y / 16 * 85), 128};
        });
        EXPECT_TRUE(writePNG(path, 64, 64, PNG_COLOR_TYPE_RGB, 8, pixels));
        return path;
    }
    void expectGrid(const char* what) {
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 4; ++column) {
                const Rgba seen = pixel(100 + column * 200, 600 - (75 + row * 150));
                EXPECT_NEAR(seen[0], column * 85, 2) << what << ", cell " << column << "," << row;
                EXPECT_NEAR(seen[1], row * 85, 2) << what << ", cell " << column << "," << row;
            }
    }
    std::string uniformPicture(const std::string& name, Rgb colour) {
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(writePNG(path, 16, 16, PNG_COLOR_TYPE_RGB, 8,
                             rgbPixels(16, 16, [&](int, int) { return colour; })));
        return path;
    }
    // The screen's quadrant centres, as seen: top left, top right, bottom left, bottom right.
    std::array<Rgba, 4> quadrants() {
        return {pixel(200, 450), pixel(600, 450), pixel(200, 150), pixel(600, 150)};
    }
    void expectQuadrants(const std::array<Rgb, 4>& expected, const char* what) {
        const auto seen = quadrants();
        for (int q = 0; q < 4; ++q)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(seen[q][c], expected[q][c], 2) << what << ", quadrant " << q;
    }
    void expectRgb(const Rgba& seen, int r, int g, int b, const char* what, int tolerance = 2) {
        EXPECT_NEAR(seen[0], r, tolerance) << what;
        EXPECT_NEAR(seen[1], g, tolerance) << what;
        EXPECT_NEAR(seen[2], b, tolerance) << what;
    }
    static Signal signalOf(int type, float v = 0, float y = 0, float z = 0, const std::string& text = "") {
        Signal s;
        s.type = type;
        s.value = v;
        s.values[0] = v;
        s.values[1] = y;
        s.values[2] = z;
        s.text = text;
        return s;
    }
    // Speed 0.005 makes the phase elapsed / 1000.
    static void runAtPhase(Effect& effect, float p) {
        effect.setSpeed(0.005f);
        effect.start(0);
        effect.update(static_cast<int>(p * 1000.0f + 0.5f));
    }

    std::string dir = makeTempDir();
};

std::vector<std::string> ownVariables(const Effect& effect) {
    std::vector<std::string> names;
    for (size_t i = 3; i < effect.variables.size(); ++i)
        names.push_back(effect.variables[i]->name);
    return names;
}

TEST_F(ImageRotoMosaicTiles, FactoryBuildsEachWithItsVariablesAndTargets) {
    for (const char* name : {"Image1", "Image2", "Image3"}) {
        std::unique_ptr<Effect> effect(createBuiltInEffect(name));
        ASSERT_TRUE(effect) << name;
        EXPECT_EQ(effect->name, name);
        EXPECT_EQ(ownVariables(*effect), (std::vector<std::string>{"Red", "Green", "Blue", "Alpha",
                                                                   "BlendMultipy", "BlendAdd", "Datafile"}));
        Variable* datafile = effect->findVariable("Datafile");
        EXPECT_EQ(datafile->listId, 0);
        EXPECT_EQ(datafile->kind, KindInt);
        EXPECT_FALSE(datafile->stringValued); // texts go through list 0, not the track
        EXPECT_EQ(effect->findVariable("Alpha")->get(), 1.0f);
        EXPECT_EQ(effect->findVariable("BlendAdd")->get(), 0.0f);
        EXPECT_EQ(static_cast<Image*>(effect.get())->loadedIndex, -1);
    }
    std::unique_ptr<Effect> roto(createBuiltInEffect("RotoZoom"));
    EXPECT_EQ(roto->name, "RotoZoom");
    EXPECT_EQ(ownVariables(*roto), (std::vector<std::string>{"Red", "Green", "Blue", "Alpha", "RotSpeed"}));
    EXPECT_EQ(roto->findVariable("RotSpeed")->get(), 0.5f);
    EXPECT_EQ(static_cast<RotoZoom*>(roto.get())->target.getWidth(), 512);

    std::unique_ptr<Effect> mosaic(createBuiltInEffect("Mosaic"));
    EXPECT_EQ(ownVariables(*mosaic), (std::vector<std::string>{"Red", "Green", "Blue", "Alpha", "Saturation",
                                                               "PreSaturation", "ZoomCenter"}));
    EXPECT_FLOAT_EQ(mosaic->findVariable("Saturation")->get(), 0.4f);
    EXPECT_EQ(mosaic->findVariable("PreSaturation")->get(), 0.0f);
    EXPECT_EQ(mosaic->findVariable("ZoomCenter")->get(), 1.0f);
    auto* m = static_cast<Mosaic*>(mosaic.get());
    EXPECT_EQ(m->detail.getWidth(), 256);
    EXPECT_EQ(m->cells.getWidth(), 64);
    EXPECT_EQ(m->cellCount, 64);

    std::unique_ptr<Effect> tiles(createBuiltInEffect("Tiles"));
    EXPECT_EQ(ownVariables(*tiles),
              (std::vector<std::string>{"Red", "Green", "Blue", "Alpha", "RotSpeed", "FadeSpeed"}));
    EXPECT_EQ(tiles->findVariable("FadeSpeed")->get(), 0.5f);
    EXPECT_EQ(static_cast<Tiles*>(tiles.get())->target.getHeight(), 512);

    // The targets repeat their picture and magnify texel by texel.
    GLint wrap = 0, mag = 0, min = 0;
    m->cells.bind(WGL_FRONT_LEFT_ARB);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    m->cells.release(WGL_FRONT_LEFT_ARB);
    EXPECT_EQ(wrap, GL_REPEAT);
    EXPECT_EQ(mag, GL_NEAREST);
    EXPECT_EQ(min, GL_LINEAR);
}

TEST_F(ImageRotoMosaicTiles, ImageFillsTheScreenUpright) {
    Image image("Image1");
    image.addListItem(0, quadrantPicture());
    ASSERT_TRUE(image.texture);
    EXPECT_EQ(image.datafile.count, 1);
    image.start(0);
    image.update(0);
    image.render(0);
    expectQuadrants({kRed, kGreen, kBlue, kWhite}, "plain");
    Image grid("Image2");
    grid.addListItem(0, gridPicture());
    grid.render(0);
    expectGrid("plain");
    // What it leaves: blending off with the add equation, depth test and writes on, no culling.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    GLint equation = 0;
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &equation);
    EXPECT_EQ(equation, GL_FUNC_ADD);

    // Quad colour tints the picture.
    image.green.value = 0.5f;
    background(0, 0, 0);
    image.render(0);
    expectQuadrants({kRed, Rgb{0, 128, 0}, kBlue, Rgb{255, 128, 255}}, "tinted");
}

TEST_F(ImageRotoMosaicTiles, ImageBlendModes) {
    // Picture (0.5, 0.25, 0.125) over the background (0.25, 0.5, 0.25), quad alpha 0.5.
    Image image("Image2");
    image.addListItem(0, uniformPicture("brown.png", Rgb{128, 64, 32}));
    image.alpha.value = 0.5f;
    image.start(0);
    auto frame = [&]() {
        background(0.25f, 0.5f, 0.25f);
        image.render(0);
        return pixel(400, 300);
    };
    expectRgb(frame(), 128, 64, 32, "no blending: the picture replaces the screen");

    image.blendMultiply.value = true;
    expectRgb(frame(), 96, 96, 48, "alpha blending");

    image.blendMultiply.value = false;
    image.blendAdd.value = true;
    expectRgb(frame(), 192, 192, 96, "adding");
    image.signal(signalOf(32, 1));
    expectRgb(frame(), 128, 160, 80, "adding with alpha");

    // Subtracting wins over both: screen minus picture, clamped at 0.
    image.blendMultiply.value = true;
    image.signal(signalOf(30, 1));
    expectRgb(frame(), 0, 64, 32, "subtracting");
    GLint equation = 0;
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &equation);
    EXPECT_EQ(equation, GL_FUNC_ADD);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    // A start keeps the subtract flag but drops add-with-alpha.
    image.start(0);
    EXPECT_TRUE(image.subtract);
    EXPECT_FALSE(image.addWithAlpha);
    image.signal(signalOf(30, 0));
    image.blendAdd.value = false;

    // Alpha boost: beat factor x value; before any beat factor it is 0.
    image.signal(signalOf(29, 0)); // Alpha 0: only the boost shows
    image.signal(signalOf(5, 1));
    EXPECT_EQ(image.alphaBoost, 0.0f);
    expectRgb(frame(), 64, 128, 64, "no boost yet: invisible");
    image.signal(signalOf(28, 0.25f));
    image.signal(signalOf(5, 2));
    expectRgb(frame(), 96, 96, 48, "boost 0.5");
    image.signal(signalOf(29, 1.5f));
    EXPECT_FLOAT_EQ(image.alpha.value, 1.5f); // stored as given
    image.signal(signalOf(13, 1));
    image.signal(signalOf(14, 1));
    expectRgb(frame(), 128, 64, 32, "alpha over 1 is opaque");
}

TEST_F(ImageRotoMosaicTiles, ImageMovesTurnsAndScales) {
    Image image("Image3");
    image.addListItem(0, quadrantPicture());
    image.setSpeed(0.005f);
    image.start(0);

    // Half a screen to the right: the left half shows the background.
    image.signal(signalOf(7, 0.5f, 0, 0));
    image.update(0);
    image.render(0);
    expectQuadrants({Rgb{0, 0, 0}, kRed, Rgb{0, 0, 0}, kBlue}, "moved");

    // Half a turn about the screen centre.
    image.start(0);
    image.signal(signalOf(8, 0, 0, 180));
    background(0, 0, 0);
    image.render(0);
    expectQuadrants({kWhite, kBlue, kGreen, kRed}, "turned");

    // Scale speed 0.5 at phase 1, shrinking: half size about the centre.
    image.start(0);
    image.signal(signalOf(12, 0.5f, 0.5f, 0));
    image.signal(signalOf(24));
    image.update(1000);
    background(0, 0, 0);
    image.render(1000);
    expectRgb(pixel(100, 75), 0, 0, 0, "outside the shrunk picture");
    expectRgb(pixel(300, 375), 255, 0, 0, "its top left");
    expectRgb(pixel(500, 225), 255, 255, 255, "its bottom right");
    image.signal(signalOf(23)); // growing: 1.5 times, the quadrants pushed out
    background(0, 0, 0);
    image.render(1000);
    expectRgb(pixel(100, 75), 0, 0, 255, "grown");

    // Scrolling by V x phase: a quarter screen to the right and down at phase 1.
    image.start(0);
    image.signal(signalOf(10, 0.25f, 0.25f, 0));
    image.update(1000);
    background(0, 0, 0);
    image.render(1000);
    expectRgb(pixel(100, 500), 0, 0, 0, "uncovered top left");
    expectRgb(pixel(300, 400), 255, 0, 0, "picture's top left");
    expectRgb(pixel(700, 400), 0, 255, 0, "picture's top right");
    expectRgb(pixel(700, 50), 255, 255, 255, "picture's bottom right");
}

TEST_F(ImageRotoMosaicTiles, ImageWithoutPictureIsPlainColourWhateverTexturingIsOn) {
    // An earlier effect left texturing on with a black texture bound.
    GLuint black = 0;
    const unsigned char texel[4] = {0, 0, 0, 255};
    glGenTextures(1, &black);
    glBindTexture(GL_TEXTURE_2D, black);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glEnable(GL_TEXTURE_2D);

    Image image("Image1");
    image.red.value = 0;
    image.blue.value = 0;
    image.start(0);
    image.render(0);
    expectRgb(pixel(400, 300), 0, 255, 0, "quad colour");
    glDeleteTextures(1, &black);
}

TEST_F(ImageRotoMosaicTiles, ImagePicksItsPictureFromTheListAndSignals) {
    Image image("Image1");
    const std::string red = uniformPicture("red.png", kRed), blue = uniformPicture("blue.png", kBlue);
    const std::string greenJpeg = dir + "/green.jpg";
    ASSERT_TRUE(writeJPEG(greenJpeg, 16, 16, 3, rgbPixels(16, 16, [](int, int) { return kGreen; })));

    // Datafile 0 with an empty list names nothing: nothing to load, nothing lost.
    image.prepare(0);
    EXPECT_EQ(image.texture, nullptr);
    EXPECT_EQ(image.loadedIndex, -1);

    image.addListItem(0, red);
    image.addListItem(0, blue);
    EXPECT_EQ(image.datafile.count, 2);
    auto centre = [&]() {
        background(0, 0, 0);
        image.render(0);
        return pixel(400, 300);
    };
    expectRgb(centre(), 0, 0, 255, "the picture named last");

    trackEndTime = 10000;
    image.datafile.addKey(0.0f, 0);
    image.datafile.addKey(1.0f, 5000);
    image.datafile.addKey(7.0f, 8000); // past the list's end
    trackEndTime = 0;
    image.prepare(0);
    EXPECT_EQ(image.loadedIndex, 0);
    expectRgb(centre(), 255, 0, 0, "index 0");
    image.prepare(5000);
    expectRgb(centre(), 0, 0, 255, "index 1");
    image.prepare(8000);
    EXPECT_EQ(image.loadedIndex, 1);
    expectRgb(centre(), 0, 0, 255, "an index outside the list keeps the picture");

    image.signal(signalOf(26, 0, 0, 0, greenJpeg));
    expectRgb(centre(), 0, 255, 0, "loaded by signal, a JPEG", 3);
    image.listItemAdded(1000, red, 5); // other lists are not pictures
    expectRgb(centre(), 0, 255, 0, "unchanged", 3);
}

TEST_F(ImageRotoMosaicTiles, RotoZoomRepeatsTheLinkedPicture) {
    Clear clear(0.2f, 0.4f, 0.6f, 1.0f);
    RotoZoom roto;
    roto.linked = &clear;
    roto.red.value = 0.5f;

    // Phase 0: the zoom clamps to 1e-7, one texel fills the screen.
    runAtPhase(roto, 0);
    background(1, 1, 1);
    roto.render(0);
    expectRgb(pixel(10, 10), 26, 102, 153, "uniform picture, tinted");
    expectRgb(pixel(790, 590), 26, 102, 153, "uniform picture, tinted");
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    glGetIntegerv(GL_TEXTURE_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);

    // 5 sin(0.1 p - pi/2) + 5 = 1 at p = 6.435: the picture once across, upright.
    Image image("Image1");
    image.addListItem(0, quadrantPicture());
    roto.linked = &image;
    roto.red.value = 1.0f;
    roto.rotSpeed.value = 0.0f;
    runAtPhase(roto, 6.435f);
    background(0, 0, 0);
    roto.render(roto.currentTime);
    expectQuadrants({kRed, kGreen, kBlue, kWhite}, "zoom 1");
    Image grid("Image2");
    grid.addListItem(0, gridPicture());
    roto.linked = &grid;
    background(0, 0, 0);
    roto.update(roto.currentTime);
    roto.render(roto.currentTime);
    expectGrid("zoom 1");
    roto.linked = &image;
    roto.update(roto.currentTime);
    // Turned by RotSpeed x p x 20 = 180 degrees.
    roto.rotSpeed.value = 180.0f / (6.435f * 20.0f);
    background(0, 0, 0);
    roto.render(roto.currentTime);
    expectQuadrants({kWhite, kBlue, kGreen, kRed}, "zoom 1, half a turn");
    // p = 9.273: zoom 2, the picture twice across about the centre (texture u' = 2u - 0.5):
    // one whole copy in the middle half of the screen, halves of the next ones beside it.
    roto.rotSpeed.value = 0.0f;
    runAtPhase(roto, 9.273f);
    background(0, 0, 0);
    roto.render(roto.currentTime);
    expectRgb(pixel(300, 375), 255, 0, 0, "zoom 2");
    expectRgb(pixel(500, 375), 0, 255, 0, "zoom 2");
    expectRgb(pixel(300, 225), 0, 0, 255, "zoom 2");
    expectRgb(pixel(100, 375), 0, 255, 0, "zoom 2, the copy to the left");
}

TEST_F(ImageRotoMosaicTiles, PostProcessingWithoutLinkShowsItsLastPicture) {
    RotoZoom roto;
    runAtPhase(roto, 0);
    background(1, 1, 1);
    roto.render(0);
    expectRgb(pixel(400, 300), 0, 0, 0, "black after construction");

    Clear clear(0, 1, 0, 1);
    roto.linked = &clear;
    roto.update(10);
    roto.linked = nullptr;
    roto.update(20);
    background(1, 1, 1);
    roto.render(20);
    expectRgb(pixel(400, 300), 0, 255, 0, "the last picture it drew");
}

TEST_F(ImageRotoMosaicTiles, MosaicOfAUniformColour) {
    // Colour c = (0.25, 0.125, 0.0625). The detail target holds 4c (brightened twice), the cells c;
    // the cell pass brightens the screen by 2^(passes) and the detail pass multiplies.
    Clear clear(0.25f, 0.125f, 0.0625f, 1.0f);
    Mosaic mosaic;
    mosaic.linked = &clear;
    runAtPhase(mosaic, 0);
    background(1, 1, 1);
    mosaic.render(0);
    // Saturation 0.4: brightenScreen(4), three doublings: cells (1, 1, 0.5) x detail (1, 0.5, 0.25).
    expectRgb(pixel(400, 300), 255, 128, 32, "Saturation 0.4", 3);
    expectRgb(pixel(5, 5), 255, 128, 32, "Saturation 0.4", 3);

    mosaic.saturation.value = 0.0f; // brightenScreen(0) still doubles once
    mosaic.zoomCenter.value = false;
    runAtPhase(mosaic, 50);
    background(1, 1, 1);
    mosaic.render(mosaic.currentTime);
    expectRgb(pixel(400, 300), 128, 32, 8, "Saturation 0", 3);
    // Keys are not clamped: a NaN brightens like 0, a huge value saturates the cells to white.
    mosaic.saturation.value = std::nanf("");
    background(1, 1, 1);
    mosaic.render(mosaic.currentTime);
    expectRgb(pixel(400, 300), 128, 32, 8, "Saturation NaN", 3);
    mosaic.saturation.value = 1e30f;
    background(1, 1, 1);
    mosaic.render(mosaic.currentTime);
    expectRgb(pixel(400, 300), 255, 128, 64, "Saturation 1e30: the detail picture alone", 3);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint depth = 0;
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
}

TEST_F(ImageRotoMosaicTiles, MosaicCellsTakeTheColourOfTheirPart) {
    // Red top half, blue bottom half. Saturation 0: cells brightened to 2x, so pure colours.
    Image image("Image1");
    const std::string path = dir + "/halves.png";
    ASSERT_TRUE(writePNG(path, 64, 64, PNG_COLOR_TYPE_RGB, 8,
                         rgbPixels(64, 64, [](int, int y) { return y < 32 ? kRed : kBlue; })));
    image.addListItem(0, path);
    Mosaic mosaic;
    mosaic.linked = &image;
    mosaic.saturation.value = 0.0f;

    // p = 0, about the centre: one cell, the colour of the centre texel (row 32 from the bottom:
    // red), times one copy of the whole picture.
    runAtPhase(mosaic, 0);
    background(1, 1, 1);
    mosaic.render(0);
    expectRgb(pixel(400, 450), 255, 0, 0, "red cell x red half");
    expectRgb(pixel(400, 150), 0, 0, 0, "red cell x blue half");
    // From the corner: the cell is the bottom-left texel, blue.
    mosaic.zoomCenter.value = false;
    background(1, 1, 1);
    mosaic.render(0);
    expectRgb(pixel(400, 450), 0, 0, 0, "blue cell x red half");
    expectRgb(pixel(400, 150), 0, 0, 255, "blue cell x blue half");

    // p = 96: s = 0.97, 62 cells across, each with a small copy of the picture. Cells in the top
    // half are red, so there only red and black show, striped by the copies; below, blue and black.
    mosaic.zoomCenter.value = true;
    runAtPhase(mosaic, 96);
    background(1, 1, 1);
    mosaic.render(mosaic.currentTime);
    int bright = 0, dark = 0;
    for (int y = 330; y < 600; ++y) {
        const Rgba p = pixel(400, y);
        EXPECT_EQ(p[1], 0) << y;
        EXPECT_EQ(p[2], 0) << y;
        bright += p[0] > 200;
        dark += p[0] < 50;
    }
    for (int y = 0; y < 270; ++y) {
        const Rgba p = pixel(400, y);
        EXPECT_EQ(p[0], 0) << y;
        bright += p[2] > 200;
        dark += p[2] < 50;
    }
    EXPECT_GT(bright, 100);
    EXPECT_GT(dark, 100);
}

TEST_F(ImageRotoMosaicTiles, TilesPutThePictureTogetherThenBreakAway) {
    Image image("Image1");
    image.addListItem(0, quadrantPicture());
    Tiles tiles;
    tiles.linked = &image;
    tiles.alpha.value = 0.0f; // not applied to the tiles

    runAtPhase(tiles, 0);
    background(0, 0, 0);
    tiles.render(0);
    expectQuadrants({kRed, kGreen, kBlue, kWhite}, "phase 0: whole");
    Image grid("Image2");
    grid.addListItem(0, gridPicture());
    tiles.linked = &grid;
    runAtPhase(tiles, 0);
    background(0, 0, 0);
    tiles.render(0);
    expectGrid("phase 0: every quarter in place and upright");
    tiles.linked = &image;
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));

    // p = 20: P = 1.4; tile 0 (bottom left) is at g = 1.4, faded out (1 - 0.5 x 0.4 x 10 < 0);
    // the others are still whole.
    runAtPhase(tiles, 20);
    background(0, 0, 0);
    tiles.render(tiles.currentTime);
    expectQuadrants({kRed, kGreen, Rgb{0, 0, 0}, kWhite}, "tile 0 gone");

    // p = 5 with FadeSpeed 0.5: tile 0 at g = 1.1: alpha 0.5, turned 5 degrees, 1/1.1 of its
    // size. Its centre shows half the blue over the black background.
    runAtPhase(tiles, 5);
    background(0, 0, 0);
    tiles.render(tiles.currentTime);
    expectRgb(pixel(200, 150), 0, 0, 128, "tile 0 half faded", 3);
    expectRgb(pixel(3, 3), 0, 0, 0, "tile 0 shrunk away from the corner");
    expectRgb(pixel(600, 150), 255, 255, 255, "tile 1 whole");
}

TEST_F(ImageRotoMosaicTiles, LinkLoopsAreRefusedAndDrawnWithout) {
    EffectList list;
    effectList = &list;
    ASSERT_TRUE(list.createEffect("RotoZoom"));
    ASSERT_TRUE(list.createEffect("Tiles"));
    ASSERT_TRUE(list.createEffect("Clear"));
    Effect* roto = list.findEffect("RotoZoom");
    Effect* tiles = list.findEffect("Tiles");
    ReportCapture reports;

    roto->signal(signalOf(2, 0, 0, 0, "RotoZoom"));
    EXPECT_EQ(roto->linked, nullptr);
    EXPECT_TRUE(reports.has("Linked effect loops back to this effect: RotoZoom"));

    roto->signal(signalOf(2, 0, 0, 0, "Clear"));
    tiles->signal(signalOf(2, 0, 0, 0, "RotoZoom"));
    EXPECT_EQ(tiles->linked, roto);
    roto->signal(signalOf(2, 0, 0, 0, "Tiles")); // Tiles -> RotoZoom -> Tiles
    EXPECT_EQ(roto->linked, nullptr);            // and the earlier link is gone too
    EXPECT_TRUE(reports.has("Linked effect loops back to this effect: Tiles"));
    for (const auto& r : reports.all())
        EXPECT_FALSE(r.fatal);

    // Both still draw: Tiles shows RotoZoom's (black) picture.
    background(1, 1, 1);
    roto->start(0);
    tiles->start(0);
    roto->update(0);
    tiles->update(0);
    roto->render(0);
    tiles->render(0);
    expectRgb(pixel(400, 300), 0, 0, 0, "drawn without the loop");

    // A link to an effect that is not there is no loop and no report.
    const size_t before = reports.all().size();
    roto->signal(signalOf(2, 0, 0, 0, "Nothing"));
    EXPECT_EQ(reports.all().size(), before);
    list.clearEffects();
}

// A picture that a timed signal names (Image's 26, a grid's 4) is loaded with the script, not in
// the frame where the signal arrives, and the signal then shows that same texture.
TEST_F(ImageRotoMosaicTiles, PicturesThatTimedSignalsNameAreLoadedWithTheScript) {
    const std::string later = uniformPicture("later.png", kGreen);
    const std::string grid = uniformPicture("grid-later.png", kBlue);
    EffectList list; // the fixture's TearDown forgets the list, so it is not the loader's own
    effectList = &list;
    GLint boundBefore = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundBefore);
    scriptLoader.loadText(
        "DEMO_END 60000\nDEFINE PICTURE 26\nDEFINE GRID_PICTURE 4\nINSERT_EFFECT Image1\n"
        "INSERT_EFFECT GridExp\n__TIMELINE__\n0 BEGIN Image1\n5000 TRIGGER Image1 PICTURE \"" +
        later + "\"\n7000 TRIGGER GridExp GRID_PICTURE \"" + grid + "\"\n");
    const auto* entry = TextureManager::instance().find(later);
    ASSERT_NE(entry, nullptr) << "not loaded with the script";
    ASSERT_NE(entry->object, nullptr);
    const auto* gridEntry = TextureManager::instance().find(grid);
    ASSERT_NE(gridEntry, nullptr) << "not loaded with the script";
    EXPECT_NE(gridEntry->object, nullptr);
    GLint boundAfter = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundAfter);
    EXPECT_EQ(boundAfter, boundBefore) << "the load left its pictures bound";

    auto* image = dynamic_cast<Image*>(effectList->findEffect("Image1"));
    ASSERT_NE(image, nullptr);
    while (signalQueue->isDue(5000)) {
        const Signal s = signalQueue->next();
        effectList->findEffect(s.effectName)->signal(s);
    }
    EXPECT_EQ(image->texture, entry->object);
    image->render(5000);
    expectRgb(pixel(400, 300), 0, 255, 0, "the picture the signal named");
    effectList->clearEffects();
    signalQueue->clear();
}

// So a picture that cannot be used stops the demo as it loads, with the same report that its
// signal would have given in mid-play.
TEST_F(ImageRotoMosaicTiles, APictureATimedSignalNamesThatCannotBeUsedStopsTheLoad) {
    const std::string grey = dir + "/grey.png";
    ASSERT_TRUE(writePNG(grey, 4, 4, PNG_COLOR_TYPE_GRAY, 8, std::vector<unsigned char>(16, 3)));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureGLContext();
            scriptLoader.loadText("DEMO_END 60000\nDEFINE PICTURE 26\nINSERT_EFFECT Image1\n__TIMELINE__\n"
                                  "50000 TRIGGER Image1 PICTURE \"" +
                                  grey + "\"\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "Image has unsupported bit depth: .*grey.png");
}

} // namespace
