#include "GLTest.h"
#include "SceneBuilder.h"

#include "demo/Random.h"
#include "resources/PBuffer.h"

#include <cmath>
#include <cstdlib>

namespace {

using Rgba = std::array<unsigned char, 4>;

std::unique_ptr<Texture> solid(unsigned char r, unsigned char g, unsigned char b) {
    return scenes::texture(8, 8, [=](int, int) { return Rgba{r, g, b, 255}; });
}

class Materials : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    void TearDown() override {
        if (!ensureGLContext()) return;
        glDisable(GL_LIGHTING);
        for (int i = 0; i < 8; ++i)
            glDisable(GL_LIGHT0 + i);
        glDisable(GL_CULL_FACE);
        glDisable(GL_DEPTH_TEST);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }

    // One quad with material 1 filling the middle of the window; returns the centre pixel.
    std::vector<int> drawQuadWith(Material* material, bool withSet1 = false, bool withSet0 = true) {
        Scene scene;
        scene.addMaterial(material);
        MeshObject* q = scenes::quad(1, "Quad", 1, 4, 4);
        if (withSet1) q->setCoordinateSet1({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
        if (!withSet0) q->setCoordinateSet0({});
        scene.addObject(q, -1);
        scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
        scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
        scene.finishLoading();
        scene.applyLightColours();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene.render();
        glFinish();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        auto p = pixel(400, 300);
        // The scene owns the material: give it back to the caller's scope intact.
        return {p[0], p[1], p[2]};
    }
};

void expectColour(const std::vector<int>& actual, int r, int g, int b, int tolerance = 3) {
    EXPECT_NEAR(actual[0], r, tolerance);
    EXPECT_NEAR(actual[1], g, tolerance);
    EXPECT_NEAR(actual[2], b, tolerance);
}

TEST_F(Materials, TheTexturesPresentChooseTheShadeModelAndItsArrays) {
    auto a = solid(1, 1, 1), b = solid(2, 2, 2), c = solid(3, 3, 3), d = solid(4, 4, 4);
    struct Case {
        bool base, environment, detail, bump;
        int model;
        bool set0, set1, environmentCoordinates, severalUnits, lit;
    };
    const Case cases[] = {
        {false, false, false, false, 0, false, false, false, false, true},
        {true, false, false, false, 1, true, false, false, false, true},
        {false, true, false, false, 2, false, false, true, false, true},
        {true, true, false, false, 4, true, false, true, true, false},
        {true, true, true, false, 4, true, false, true, true, false},
        {true, false, true, false, 5, true, true, false, true, false},
        {false, false, true, false, 6, false, true, false, false, false},
        {false, true, true, true, 6, false, true, false, false, false},
        {false, true, false, true, 8, false, false, true, true, false},
        {false, false, false, true, 0, false, false, false, false, true},
    };
    for (const Case& k : cases) {
        Material m(1, "m");
        if (k.base) m.setBaseTexture(a.get());
        if (k.environment) m.setEnvironmentTexture(b.get());
        if (k.detail) m.setDetailTexture(c.get());
        if (k.bump) m.setBumpTexture(d.get());
        m.finishTextures();
        SCOPED_TRACE(k.model);
        EXPECT_EQ(m.shadeModel(), k.model);
        EXPECT_EQ(m.usesSet0(), k.set0);
        EXPECT_EQ(m.usesSet1(), k.set1);
        EXPECT_EQ(m.needsEnvironmentCoordinates(), k.environmentCoordinates);
        EXPECT_EQ(m.usesSeveralUnits(), k.severalUnits);
        EXPECT_EQ(m.lit(), k.lit);
    }
    PBuffer target;
    Material p(2, "p");
    p.setPBuffer(&target);
    p.finishTextures();
    EXPECT_EQ(p.shadeModel(), 13);
    EXPECT_FALSE(p.lit());

    // A refraction map: base texture and additive blending, so transparent.
    Material refraction(3, "r");
    refraction.setBaseTexture(a.get());
    refraction.setAdditive(true);
    refraction.finishTextures();
    EXPECT_EQ(refraction.shadeModel(), 1);
    EXPECT_TRUE(refraction.transparent());
    refraction.setAdditive(false);
    EXPECT_FALSE(refraction.transparent());
    refraction.setOpacity(0.99f);
    EXPECT_TRUE(refraction.transparent());
    refraction.setShininess(0.5f, 2.0f);
    EXPECT_FLOAT_EQ(refraction.shininess(), 64.0f);
    EXPECT_FLOAT_EQ(refraction.specularLevel(), 2.0f);
}

TEST_F(Materials, ApplyAndRestoreLeaveTheStateAsFound) {
    auto base = solid(200, 100, 50), environment = solid(10, 20, 30);
    Material m(1, "m");
    m.setBaseTexture(base.get());
    m.setEnvironmentTexture(environment.get());
    m.setOpacity(0.5f);
    m.finishTextures();
    glDisable(GL_BLEND);
    glEnable(GL_LIGHTING);
    glDepthMask(GL_TRUE);
    m.apply();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    GLboolean mask = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_FALSE(mask);
    glActiveTextureARB(GL_TEXTURE1_ARB);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_ADD);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    m.restore();
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_TRUE(mask);
    glActiveTextureARB(GL_TEXTURE1_ARB);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    glActiveTextureARB(GL_TEXTURE0_ARB);
    glDisable(GL_LIGHTING);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A file's shininess is 0..1 (times 128); values outside would be refused by GL with an error,
// which ends the program: they are drawn with the nearest exponent GL takes.
TEST_F(Materials, ShininessOutsideWhatGLTakesIsClampedWhenApplied) {
    const std::pair<float, float> cases[] = {{1.5f, 128.0f}, {-0.5f, 0.0f}, {0.25f, 32.0f}};
    for (const auto& [fileValue, exponent] : cases) {
        Material m(1, "m");
        m.setShininess(fileValue, 1.0f);
        m.finishTextures();
        m.apply();
        float applied = -1.0f;
        glGetMaterialfv(GL_FRONT, GL_SHININESS, &applied);
        m.restore();
        EXPECT_FLOAT_EQ(applied, exponent) << fileValue;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << fileValue;
    }
}

// Each combination drawn on one quad, read at its centre. A mesh without the coordinate set its
// material reads draws without it: the texture is sampled at the current coordinate, nothing breaks.
TEST_F(Materials, TexturesCombineOnTheQuadAndAMissingCoordinateSetIsNeverRead) {
    auto red = solid(128, 0, 0), green = solid(0, 128, 0), orange = solid(255, 128, 0),
         grey = solid(128, 128, 128), peach = solid(255, 128, 64), bright = solid(0, 255, 0);
    const struct {
        const char* what;
        Texture *base, *environment, *detail;
        bool withSet1, withSet0;
        int r, g, b;
    } cases[] = {
        {"base and environment are added", red.get(), green.get(), nullptr, false, true, 128, 128, 0},
        {"base and detail are multiplied", orange.get(), nullptr, grey.get(), true, true, 128, 64, 0},
        {"an environment map modulates the lit colour", nullptr, peach.get(), nullptr, false, true, 255, 128,
         64},
        {"no coordinates at all", bright.get(), nullptr, nullptr, false, false, 0, 255, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Material* m = scenes::colour(1, 1, 1, 1);
        if (c.base) m->setBaseTexture(c.base);
        if (c.environment) m->setEnvironmentTexture(c.environment);
        if (c.detail) m->setDetailTexture(c.detail);
        m->finishTextures();
        expectColour(drawQuadWith(m, c.withSet1, c.withSet0), c.r, c.g, c.b);
    }
}

TEST_F(Materials, ADetailMapAloneDrawsWithTheSecondSetOnTheFirstUnit) {
    // Set 1 picks the right half of a two-colour detail map; set 0 would average both halves.
    auto detail = scenes::texture(8, 8, [](int x, int) {
        return x < 4 ? Rgba{255, 0, 0, 255} : Rgba{0, 200, 0, 255};
    });
    Material* m = scenes::colour(1, 1, 1, 1);
    m->setDetailTexture(detail.get());
    m->finishTextures();
    Scene scene;
    scene.addMaterial(m);
    MeshObject* q = scenes::quad(1, "Quad", 1, 4, 4);
    q->setCoordinateSet1({{0.75f, 0.5f}, {0.75f, 0.5f}, {0.75f, 0.5f}, {0.75f, 0.5f}});
    scene.addObject(q, -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scene.finishLoading();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene.render();
    auto p = pixel(400, 300);
    expectColour({p[0], p[1], p[2]}, 0, 200, 0);
}

TEST_F(Materials, ARenderTargetIsDrawnUnlitOnItsMesh) {
    PBuffer target;
    target.initialize(64, 64, false);
    target.enable();
    glClearColor(0.2f, 0.4f, 0.6f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    target.disable();
    Material* m = scenes::colour(1, 0, 0, 0); // black when lit: only the target's colour shows
    m->setPBuffer(&target);
    m->finishTextures();
    expectColour(drawQuadWith(m), 51, 102, 153);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING)); // restore switches lighting back on
}

TEST_F(Materials, ARenderTargetIsMappedAlongTheFirstCoordinateSet) {
    PBuffer target;
    target.initialize(64, 64, false);
    target.enable();
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 32, 64);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glScissor(32, 0, 32, 64);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    target.disable();
    auto base = solid(0, 255, 0);
    // A textured material that an effect later turns into a screen for the target.
    Material* m = scenes::colour(1, 1, 1, 1);
    m->setBaseTexture(base.get());
    m->finishTextures();
    Scene scene;
    scene.addMaterial(m);
    scene.addObject(scenes::quad(1, "Screen", 1, 4, 4), -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();
    m->setPBuffer(&target);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene.render();
    auto left = pixel(300, 300), right = pixel(500, 300);
    expectColour({left[0], left[1], left[2]}, 255, 0, 0);
    expectColour({right[0], right[1], right[2]}, 0, 0, 255);
}

TEST_F(Materials, AMaterialGivenAfterLoadingDrawsWithItsOwnArrays) {
    auto environment = solid(255, 255, 255);
    auto base = scenes::texture(8, 8, [](int x, int) {
        return x < 4 ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 255, 255};
    });
    Scene scene;
    Material* shiny = scenes::colour(1, 1, 1, 1);
    shiny->setEnvironmentTexture(environment.get());
    shiny->finishTextures();
    scene.addMaterial(shiny);
    Material* textured = scenes::colour(2, 1, 1, 1);
    textured->setBaseTexture(base.get());
    textured->finishTextures();
    scene.addMaterial(textured);
    MeshObject* q = scenes::quad(1, "Quad", 1, 4, 4);
    scene.addObject(q, -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();
    // Built for the environment map; now the base texture must run along set 0, left to right.
    scene.root()->setMaterial(textured);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene.render();
    auto left = pixel(300, 300), right = pixel(500, 300);
    expectColour({left[0], left[1], left[2]}, 255, 0, 0);
    expectColour({right[0], right[1], right[2]}, 0, 0, 255);
}

TEST_F(Materials, EnvironmentCoordinatesFollowTheNormalsInView) {
    auto environment = solid(255, 255, 255);
    Scene scene;
    Material* m = scenes::colour(1, 1, 1, 1);
    m->setEnvironmentTexture(environment.get());
    m->finishTextures();
    scene.addMaterial(m);
    MeshObject* q = scenes::quad(1, "Quad", 1, 1, 1);
    q->setNormals(std::vector<Vector3>(4, Vector3(0.6f, 0.8f, 0)));
    scene.addObject(q, -1);
    scene.finishLoading();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    q->draw();
    ASSERT_EQ(q->environmentArray().size(), 8u);
    EXPECT_FLOAT_EQ(q->environmentArray()[0], 0.8f);
    EXPECT_FLOAT_EQ(q->environmentArray()[1], 0.9f);
    // Turned 90 degrees about z, the view sees the normal as (-0.8, 0.6).
    glRotatef(90, 0, 0, 1);
    q->draw();
    EXPECT_NEAR(q->environmentArray()[0], 0.1f, 1e-6f);
    EXPECT_NEAR(q->environmentArray()[1], 0.8f, 1e-6f);
    glLoadIdentity();
}

TEST_F(Materials, FlickerScalesTheDiffuseByOneRandomValueAndStopsCleanly) {
    Scene scene;
    auto* light = new Light(1, "Candle");
    scene.addLight(light, -1);
    light->setFlicker(true);
    Random::seed(77);
    const float k = Random::unit();
    Random::seed(77);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    light->apply();
    float diffuse[4];
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    EXPECT_FLOAT_EQ(diffuse[0], k);
    EXPECT_FLOAT_EQ(diffuse[2], k);
    EXPECT_FLOAT_EQ(diffuse[3], 1.0f);
    light->setFlicker(false);
    glGetLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    EXPECT_FLOAT_EQ(diffuse[0], 1.0f);
}

TEST_F(Materials, ASpotPointsAtItsTarget) {
    Scene scene;
    auto* target = new DummyObject(2, "T");
    target->setPosition(Vector3(1, 2, 3));
    target->setOffset(0, 0, 1);
    scene.addObject(target, -1);
    auto* spot = new Light(1, "Spot");
    spot->setPosition(Vector3(1, 2, 9));
    spot->setTargetId(2);
    spot->setCutOff(30);
    spot->setExponent(5);
    scene.addLight(spot, -1);
    scene.finishLoading();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    spot->apply();
    float direction[3], cutOff = 0, exponent = 0;
    glGetLightfv(GL_LIGHT0, GL_SPOT_DIRECTION, direction);
    glGetLightfv(GL_LIGHT0, GL_SPOT_CUTOFF, &cutOff);
    glGetLightfv(GL_LIGHT0, GL_SPOT_EXPONENT, &exponent);
    EXPECT_FLOAT_EQ(direction[0], 0);
    EXPECT_FLOAT_EQ(direction[2], -5);
    EXPECT_FLOAT_EQ(cutOff, 30);
    EXPECT_FLOAT_EQ(exponent, 5);
    // A light with target id 0 keeps no target and shines down -z.
    auto* omni = new Light(3, "Omni");
    omni->setTargetId(0);
    scene.addLight(omni, -1);
    scene.finishLoading();
    EXPECT_EQ(omni->target(), nullptr);
    glDisable(GL_LIGHT0);
    glDisable(GL_LIGHT1);
}

} // namespace
