#include "GLTest.h"
#include "SceneBuilder.h"
#include "demo/Random.h"

#include <cmath>
#include <cstdlib>

namespace {

class SceneRendering : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        resetState();
    }
    void TearDown() override {
        if (ensureGLContext()) resetState();
    }

    static void resetState() {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_LIGHTING);
        for (int i = 0; i < 8; ++i)
            glDisable(GL_LIGHT0 + i);
        glDisable(GL_BLEND);
        glDisable(GL_CULL_FACE);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glColor4f(1, 1, 1, 1);
        glViewport(0, 0, 800, 600);
    }

    void clear(float r, float g, float b) {
        glClearColor(r, g, b, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }

    void renderFrame(Scene& scene, float r = 0, float g = 0, float b = 0) {
        clear(r, g, b);
        scene.render();
        glFinish();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    // Window position of a world point under the matrices the last render left.
    static std::pair<int, int> project(const Vector3& p) {
        GLdouble model[16], projection[16];
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model);
        glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        GLdouble x = 0, y = 0, z = 0;
        gluProject(p.x, p.y, p.z, model, projection, viewport, &x, &y, &z);
        return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
    }

    std::vector<int> rgb(int x, int y) {
        auto p = pixel(x, y);
        return {p[0], p[1], p[2]};
    }
};

void expectColour(const std::vector<int>& actual, int r, int g, int b, int tolerance = 3) {
    ASSERT_EQ(actual.size(), 3u);
    EXPECT_NEAR(actual[0], r, tolerance);
    EXPECT_NEAR(actual[1], g, tolerance);
    EXPECT_NEAR(actual[2], b, tolerance);
}

TEST_F(SceneRendering, AQuadFacingADistantWhiteLightShowsItsDiffuseColour) {
    Scene scene;
    scene.addMaterial(scenes::colour(1, 0.2f, 0.6f, 0.4f));
    scene.findMaterial(1)->finishTextures();
    scene.addObject(scenes::quad(1, "Quad", 1, 4, 4), -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();
    renderFrame(scene, 0, 0, 1);
    EXPECT_EQ(scene.findMaterial(1)->shadeModel(), 0);
    expectColour(rgb(400, 300), 51, 153, 102);
    // Outside the quad: the clear colour.
    expectColour(rgb(5, 5), 0, 0, 255);
}

TEST_F(SceneRendering, ACameraWithoutTargetLooksDownMinusZFromTheOrigin) {
    Scene scene;
    scene.addMaterial(scenes::colour(1, 1, 1, 1));
    scene.findMaterial(1)->finishTextures();
    MeshObject* q = scenes::quad(1, "Quad", 1, 1, 1);
    q->setPosition(Vector3(0, 0, -5));
    scene.addObject(q, -1);
    auto* camera = new Camera(5, "Free");
    camera->setPosition(Vector3(30, 0, 40)); // not used without a target
    scene.addCamera(camera, -1);
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 1000));
    scene.finishLoading();
    scene.applyLightColours();
    renderFrame(scene);
    expectColour(rgb(400, 300), 255, 255, 255);
}

TEST_F(SceneRendering, TransparentAndAdditiveMeshesBlendOverWhatIsBehind) {
    Scene scene;
    Material* back = scenes::colour(1, 0, 0, 1);
    Material* glass = scenes::colour(2, 1, 0, 0);
    glass->setOpacity(0.5f);
    Material* glow = scenes::colour(3, 0, 1, 0);
    glow->setAdditive(true);
    for (Material* m : {back, glass, glow}) {
        m->finishTextures();
        scene.addMaterial(m);
    }
    // The blended quads come first in the file: the scene moves them behind the opaque one.
    MeshObject* left = scenes::quad(1, "Glass", 2, 1.5f, 3);
    left->setPosition(Vector3(-0.9f, 0, 1));
    MeshObject* right = scenes::quad(2, "Glow", 3, 1.5f, 3);
    right->setPosition(Vector3(0.9f, 0, 1));
    scene.addObject(left, -1);
    scene.addObject(right, -1);
    scene.addObject(scenes::quad(3, "Back", 1, 6, 6), -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 6), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 4, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();
    renderFrame(scene);
    const auto [lx, ly] = project(Vector3(-0.9f, 0, 1));
    const auto [rx, ry] = project(Vector3(0.9f, 0, 1));
    expectColour(rgb(lx, ly), 128, 0, 128);
    expectColour(rgb(rx, ry), 0, 255, 255);
    // Depth writes stay on after the frame, blending off.
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLboolean mask = GL_FALSE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    EXPECT_TRUE(mask);
}

TEST_F(SceneRendering, ABaseTextureAppearsAndAnOpacityMapCutsOut) {
    // Left half red, right half green; the opacity map is white on top, black below.
    auto base = scenes::texture(8, 8, [](int x, int) {
        return x < 4 ? std::array<unsigned char, 4>{255, 0, 0, 255}
                     : std::array<unsigned char, 4>{0, 255, 0, 255};
    });
    auto mask = scenes::texture(8, 8, [](int, int y) {
        return y >= 4 ? std::array<unsigned char, 4>{255, 255, 255, 255}
                      : std::array<unsigned char, 4>{0, 0, 0, 255};
    });
    Scene scene;
    Material* plain = scenes::colour(1, 1, 1, 1);
    plain->setBaseTexture(base.get());
    plain->finishTextures();
    scene.addMaterial(plain);
    MeshObject* q = scenes::quad(1, "Textured", 1, 4, 4);
    scene.addObject(q, -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();
    EXPECT_EQ(plain->shadeModel(), 1);
    EXPECT_TRUE(plain->usesSet0());
    EXPECT_TRUE(plain->lit());
    renderFrame(scene, 0, 0, 1);
    const auto [x0, y0] = project(Vector3(-1, -1, 0));
    const auto [x1, y1] = project(Vector3(1, 1, 0));
    expectColour(rgb(x0, y0), 255, 0, 0);
    expectColour(rgb(x1, y0), 0, 255, 0);
    expectColour(rgb(x0, y1), 255, 0, 0);

    plain->setOpacityTexture(mask.get());
    EXPECT_TRUE(plain->alphaTest());
    EXPECT_EQ(base->getImage()->data[3], 0); // row 0 lies under the black half
    EXPECT_EQ(base->getImage()->data[(7 * 8) * 4 + 3], 255);
    renderFrame(scene, 0, 0, 1);
    expectColour(rgb(x0, y1), 255, 0, 0); // kept
    expectColour(rgb(x1, y1), 0, 255, 0);
    expectColour(rgb(x0, y0), 0, 0, 255); // cut out: the background shows
    expectColour(rgb(x1, y0), 0, 0, 255);
}

TEST_F(SceneRendering, AnOpacityMapOfAnotherSizeOnlySwitchesAlphaTestOn) {
    auto base = scenes::texture(8, 8, [](int, int) { return std::array<unsigned char, 4>{9, 9, 9, 200}; });
    auto mask = scenes::texture(4, 4, [](int, int) { return std::array<unsigned char, 4>{0, 0, 0, 255}; });
    Material material(1, "m");
    material.setBaseTexture(base.get());
    material.setOpacityTexture(mask.get());
    EXPECT_TRUE(material.alphaTest());
    EXPECT_EQ(base->getImage()->data[3], 200);
    Material bare(2, "bare");
    bare.setOpacityTexture(mask.get());
    EXPECT_TRUE(bare.alphaTest());
}

TEST_F(SceneRendering, AKeyedPositionMovesTheObjectOverAPixelAtItsTime) {
    Scene scene;
    scene.setFrames(3, 10);
    scene.addMaterial(scenes::colour(1, 1, 1, 0));
    scene.findMaterial(1)->finishTextures();
    MeshObject* q = scenes::quad(1, "Mover", 1, 0.5f, 0.5f);
    const Vector3 keys[3] = {Vector3(-2, 0, 0), Vector3(2, 0, 0), Vector3(2, 2, 0)};
    q->setPositionKeys(3, keys);
    scene.addObject(q, -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 8), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 2, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();

    scene.setTime(0);
    scene.animate();
    renderFrame(scene);
    const auto [cx, cy] = project(Vector3(0, 0, 0));
    expectColour(rgb(cx, cy), 0, 0, 0);
    scene.setTime(5); // frame 0, halfway to key 1: the origin
    scene.animate();
    renderFrame(scene);
    expectColour(rgb(cx, cy), 255, 255, 0);
    scene.setTime(25); // the last key, reached and held
    scene.animate();
    renderFrame(scene);
    expectColour(rgb(cx, cy), 0, 0, 0);
    const auto [kx, ky] = project(Vector3(2, 2, 0));
    expectColour(rgb(kx, ky), 255, 255, 0);
}

TEST_F(SceneRendering, ABumpMappedQuadIsBrighterWhereItsNormalsFaceTheLight) {
    // Normal map: left half tilted towards +x, right half towards -x.
    auto bump = scenes::texture(8, 8, [](int x, int) {
        return x < 4 ? std::array<unsigned char, 4>{217, 128, 217, 255}
                     : std::array<unsigned char, 4>{38, 128, 217, 255};
    });
    auto white = scenes::texture(8, 8, [](int, int) {
        return std::array<unsigned char, 4>{255, 255, 255, 255};
    });
    Scene scene;
    Material* material = scenes::colour(1, 1, 1, 1);
    material->setBumpTexture(bump.get());
    material->setEnvironmentTexture(white.get());
    material->finishTextures();
    scene.addMaterial(material);
    EXPECT_EQ(material->shadeModel(), 8);
    ASSERT_NE(material->normalisationCubeMap(), nullptr);
    scene.addObject(scenes::quad(1, "Bumpy", 1, 4, 4), -1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    Light* light = scenes::whiteLight(scene, 2, "Lamp", Vector3(10, 0, 3));
    scene.finishLoading();
    scene.applyLightColours();
    renderFrame(scene);
    const auto [lx, ly] = project(Vector3(-1, 0, 0));
    const auto [rx, ry] = project(Vector3(1, 0, 0));
    const auto leftLit = rgb(lx, ly), rightLit = rgb(rx, ry);
    EXPECT_GT(leftLit[0], 150);
    EXPECT_LT(rightLit[0], 60);
    EXPECT_GT(leftLit[0], rightLit[0] + 100);

    // The light moves to the other side: the halves swap.
    light->setPosition(Vector3(-10, 0, 3));
    renderFrame(scene);
    EXPECT_LT(rgb(lx, ly)[0], 60);
    EXPECT_GT(rgb(rx, ry)[0], 150);

    // The light goes back and the object turns half round in its plane instead: its left half,
    // tilted towards its own +x, now lies on the right and tilts away from the light.
    light->setPosition(Vector3(10, 0, 3));
    scene.findObjectByName("Bumpy")->setRotationDegrees(0, 0, 180);
    renderFrame(scene);
    EXPECT_GT(rgb(lx, ly)[0], 150); // the quad's right half, now on the left
    EXPECT_LT(rgb(rx, ry)[0], 60);
}

TEST_F(SceneRendering, ChildrenFollowTheirParentOnlyWhenItIsHierarchical) {
    Scene scene;
    scene.addMaterial(scenes::colour(1, 1, 1, 1));
    scene.findMaterial(1)->finishTextures();
    MeshObject* parent = scenes::quad(1, "Parent", 1, 0.5f, 0.5f);
    parent->setPosition(Vector3(2, 0, 0));
    parent->setVisible(false, false); // hides its own quad only
    scene.addObject(parent, -1);
    scene.addObject(scenes::quad(2, "Child", 1, 0.5f, 0.5f), 1);
    scenes::cameraLookingAt(scene, Vector3(0, 0, 8), Vector3(0, 0, 0));
    scenes::whiteLight(scene, 3, "Sun", Vector3(0, 0, 100000));
    scene.finishLoading();
    scene.applyLightColours();

    renderFrame(scene);
    const auto [ox, oy] = project(Vector3(0, 0, 0));
    const auto [px, py] = project(Vector3(2, 0, 0));
    expectColour(rgb(ox, oy), 255, 255, 255); // the child, where its own transform puts it
    expectColour(rgb(px, py), 0, 0, 0);       // the invisible parent

    parent->setHierarchical(true, true);
    renderFrame(scene);
    expectColour(rgb(ox, oy), 0, 0, 0);
    expectColour(rgb(px, py), 255, 255, 255); // inside the parent's transform now

    // An offset moves the drawing (and the world position) but keeps the stored position.
    parent->setHierarchical(false, true);
    parent->setOffset(-2, 0, 0);
    scene.findObjectByName("Child")->setOffset(0, 1, 0);
    EXPECT_EQ(scene.findObjectByName("Child")->worldPosition(), Vector3(0, 1, 0));
    renderFrame(scene);
    const auto [cx, cy] = project(Vector3(0, 1, 0));
    expectColour(rgb(cx, cy), 255, 255, 255);
    expectColour(rgb(ox, oy), 0, 0, 0);
}

TEST_F(SceneRendering, AMeshFollowingALightInAChildChainIsDrawnOnce) {
    Scene scene;
    // Half transparent: no depth writes, so a second drawing would blend again.
    Material* glow = scenes::colour(1, 0, 1, 0);
    glow->setOpacity(0.5f);
    glow->finishTextures();
    scene.addMaterial(glow);
    scene.addObject(new DummyObject(1, "Group"), -1);
    auto* lamp = new Light(2, "Lamp");
    lamp->setColour(ColorRGBA(1, 1, 1, 1));
    lamp->setAmbient(ColorRGBA(0, 0, 0, 1));
    lamp->setPosition(Vector3(0, 0, 100000));
    lamp->setTargetId(0);
    scene.addLight(lamp, 1);
    scene.addObject(scenes::quad(3, "Glow", 1, 2, 2), 1); // the lamp's following sibling
    scenes::cameraLookingAt(scene, Vector3(0, 0, 5), Vector3(0, 0, 0));
    scene.finishLoading();
    scene.applyLightColours();
    renderFrame(scene);
    expectColour(rgb(400, 300), 0, 128, 0); // blended once, not twice
}

// Floor, a box above it and two lights: "Spot01" straight above casts the shadow, "Fill"
// lights from the side without one.
struct ShadowScene {
    Scene scene;
    Light* spot = nullptr;
    Light* fill = nullptr;

    explicit ShadowScene(bool depthTarget) {
        scene.setDepthTargetAvailable(scene.depthTargetAvailable() && depthTarget);
        scene.addMaterial(scenes::colour(1, 0.8f, 0.8f, 0.8f));
        scene.findMaterial(1)->finishTextures();
        scene.addObject(scenes::floor(1, "Floor", 1, 12), -1);
        MeshObject* box = scenes::box(2, "Box", 1, 1);
        box->setPosition(Vector3(0, 2, 0));
        scene.addObject(box, -1);
        auto* target = new DummyObject(3, "SpotTarget");
        scene.addObject(target, -1);
        scenes::cameraLookingAt(scene, Vector3(0, 8, 8), Vector3(0, 0, 0));
        spot = scenes::whiteLight(scene, 4, "Spot01", Vector3(0, 10, 0));
        spot->setTargetId(3);
        spot->setShadowCaster(true);
        fill = scenes::whiteLight(scene, 5, "Fill", Vector3(20, 5, 0));
        fill->setColour(ColorRGBA(0.5f, 0.5f, 0.5f, 1));
        fill->setAmbient(ColorRGBA(0, 0, 0, 1));
        scene.finishLoading();
        scene.applyLightColours();
    }
};

class Shadows : public SceneRendering, public ::testing::WithParamInterface<bool> {};

TEST_P(Shadows, APointInShadowGetsHalfTheLightingWithoutTheShadowLight) {
    const bool depthTarget = GetParam();
    ShadowScene s(depthTarget);
    if (depthTarget && !s.scene.depthTargetAvailable()) GTEST_SKIP() << "no depth render targets";

    // References without shadows: all lights, then the fill light alone.
    renderFrame(s.scene);
    const auto [sx, sy] = project(Vector3(0, 0, 0));  // under the box
    const auto [lx, ly] = project(Vector3(-3, 0, 2)); // in the open
    const auto allShadowed = rgb(sx, sy), allLit = rgb(lx, ly);
    s.spot->setEnabled(false);
    renderFrame(s.scene);
    const auto fillShadowed = rgb(sx, sy), fillLit = rgb(lx, ly);
    s.spot->setEnabled(true);
    ASSERT_GT(allShadowed[0], fillShadowed[0] + 30); // the spot does light that point

    s.scene.setShadows(true);
    ASSERT_TRUE(s.scene.shadows());
    renderFrame(s.scene);
    const auto shadowed = rgb(sx, sy), open = rgb(lx, ly);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(shadowed[static_cast<size_t>(c)], fillShadowed[static_cast<size_t>(c)] / 2.0, 3) << c;
        EXPECT_NEAR(open[static_cast<size_t>(c)],
                    (allLit[static_cast<size_t>(c)] + fillLit[static_cast<size_t>(c)]) / 2.0, 3)
            << c;
    }
    // The shadow unit is left clean, and the spot is on again.
    glActiveTextureARB(GL_TEXTURE2_ARB);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_GEN_S));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    glActiveTextureARB(GL_TEXTURE0_ARB);
    EXPECT_TRUE(s.spot->enabled());
    EXPECT_FLOAT_EQ(s.scene.findMaterial(1)->opacity(), 1.0f);

    // Shadows off again: the plain picture returns.
    s.scene.setShadows(false);
    renderFrame(s.scene);
    expectColour(rgb(sx, sy), allShadowed[0], allShadowed[1], allShadowed[2], 2);
}

INSTANTIATE_TEST_SUITE_P(DepthTargetAndCopy, Shadows, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "DepthRenderTarget" : "CopiedDepthTexture";
                         });

// Shadows on without a map this frame (a caster without target, or no caster at all): nothing is
// in shadow, but the receivers still draw their second pass, so every place looks like the open
// places of a shadowed frame, with "Spot01" at half strength.
TEST_F(SceneRendering, ShadowsWithoutAMapPutNothingInShadowAndHalveTheSpot) {
    ShadowScene s(false);
    const auto [sx, sy] = project(Vector3(0, 0, 0)); // under the box
    renderFrame(s.scene);
    const auto all = rgb(sx, sy);
    s.spot->setEnabled(false);
    renderFrame(s.scene);
    const auto fill = rgb(sx, sy);
    s.spot->setEnabled(true);
    ASSERT_GT(all[0], fill[0] + 30);

    auto expectHalfSpot = [&](const char* what) {
        renderFrame(s.scene);
        const auto seen = rgb(sx, sy);
        for (size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(seen[c], (all[c] + fill[c]) / 2.0, 3) << what << " " << c;
        EXPECT_TRUE(s.spot->enabled()) << what;
        EXPECT_FLOAT_EQ(s.scene.findMaterial(1)->opacity(), 1.0f) << what;
    };
    s.spot->setTarget(nullptr);
    s.scene.setShadows(true);
    expectHalfSpot("caster without target");
    s.spot->setShadowCaster(false);
    expectHalfSpot("no caster");

    // Shadows off: the plain picture again.
    s.scene.setShadows(false);
    renderFrame(s.scene);
    expectColour(rgb(sx, sy), all[0], all[1], all[2], 2);
}

// The load-time warm-up draws a scene with and without its shadow pass where nothing shows, so
// that the driver's first-use work does not fall into a frame. It must leave no trace: the window
// and the GL state as they were, the scene's switches and light colours as they were, and every
// later frame the same as that of a scene never warmed up.
TEST_P(Shadows, WarmingUpDrawsNothingAndLeavesEveryLaterFrameAsItWas) {
    const bool depthTarget = GetParam();
    ShadowScene warmed(depthTarget), cold(depthTarget);
    if (depthTarget && !warmed.scene.depthTargetAvailable()) GTEST_SKIP() << "no depth render targets";
    for (ShadowScene* s : {&warmed, &cold}) {
        s->spot->setShadowCaster(false); // as loaded: an effect makes it the caster when shadows go on
        s->fill->setFlicker(true);       // a flickering light draws its colour at random
    }
    const ColorRGBA fillColour = warmed.fill->diffuse();
    auto* box = dynamic_cast<MeshObject*>(warmed.scene.findObjectByName("Box"));
    ASSERT_NE(box, nullptr);

    auto readWindow = [] {
        std::vector<unsigned char> pixels(800 * 600 * 4);
        glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    };
    clear(0.25f, 0.5f, 0.75f);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1, 2, 3);
    glEnable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glActiveTextureARB(GL_TEXTURE1_ARB);
    const auto window = readWindow();
    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    GLint framebuffer = -1, viewport[4] = {0, 0, 0, 0}, activeUnit = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);

    warmed.scene.warmUp(warmed.spot);
    glFinish();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(readWindow() == window) << "the warm-up drew into the window";
    GLfloat modelviewAfter[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelviewAfter);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(modelviewAfter[i], modelview[i]) << i;
    GLint framebufferAfter = -1, viewportAfter[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebufferAfter);
    glGetIntegerv(GL_VIEWPORT, viewportAfter);
    glGetIntegerv(GL_ACTIVE_TEXTURE_ARB, &activeUnit);
    EXPECT_EQ(framebufferAfter, framebuffer);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(viewportAfter[i], viewport[i]) << i;
    EXPECT_EQ(activeUnit, static_cast<GLint>(GL_TEXTURE1_ARB));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(warmed.scene.shadows());
    EXPECT_FALSE(warmed.spot->shadowCaster());
    EXPECT_TRUE(warmed.spot->enabled());
    EXPECT_FALSE(box->shadowReceiver());
    EXPECT_EQ(warmed.fill->diffuse().r, fillColour.r);
    EXPECT_EQ(warmed.fill->diffuse().g, fillColour.g);
    // A second warm-up has nothing left to make.
    warmed.scene.warmUp(warmed.spot);
    EXPECT_FALSE(warmed.scene.shadows());
    resetState();

    // Frames without and with shadows, each from the same random numbers.
    auto frame = [&](ShadowScene& s, bool shadows) {
        s.scene.setShadows(shadows);
        s.spot->setShadowCaster(shadows);
        Random::startFrame(1000);
        renderFrame(s.scene);
        return readWindow();
    };
    for (bool shadows : {false, true, false}) {
        const auto seenCold = frame(cold, shadows);
        const auto seenWarmed = frame(warmed, shadows);
        EXPECT_TRUE(seenWarmed == seenCold) << "shadows " << shadows;
    }
}

TEST_F(SceneRendering, TurningShadowsOnTwiceKeepsOneShadowTexture) {
    ShadowScene a(false), b(false);
    a.scene.setShadows(true);
    const auto* entry = TextureManager::instance().find("ShadowMapTexture");
    ASSERT_NE(entry, nullptr);
    Texture* first = entry->object;
    b.scene.setShadows(true);
    a.scene.setShadows(true);
    EXPECT_EQ(TextureManager::instance().find("ShadowMapTexture")->object, first);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
