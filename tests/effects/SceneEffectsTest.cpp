// The 3D scene effects on scenes built in memory: parameters, every signal, keyed shadows,
// morph files of every shape, the morphing effects' attachment rules and the scratch swing.
#include "GLTest.h"

#include "base/Report.h"
#include "demo/DemoState.h"
#include "effects/Effect3D.h"
#include "effects/EffectFactory.h"
#include "effects/Flower.h"
#include "effects/HodeScene.h"
#include "effects/MorphScene.h"
#include "effects/Scratch.h"
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"
#include "platform/GL.h"
#include "resources/PBuffer.h"

#include <unistd.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<report::Record> reports;
void keepReport(const report::Record& r) {
    reports.push_back(r);
}

MeshObject* triangle(int32_t id, const std::string& name, int32_t materialId) {
    auto* mesh = new MeshObject(id, name);
    mesh->setMaterialId(materialId);
    std::vector<MeshVertex> vertices(3);
    vertices[0].position = Vector3(0, 0, 0);
    vertices[1].position = Vector3(1, 0, 0);
    vertices[2].position = Vector3(0, 1, 0);
    for (int i = 0; i < 3; ++i)
        vertices[static_cast<size_t>(i)].normal = i;
    mesh->setVertices(vertices);
    mesh->setNormals({Vector3(0, 0, 1), Vector3(0, 0, 1), Vector3(0, 0, 1)});
    MeshFace face;
    face.vertex[0] = 0;
    face.vertex[1] = 1;
    face.vertex[2] = 2;
    mesh->setFaces({face});
    return mesh;
}

// Two cameras (60 and 30 degrees), optionally two lights (the second "Spot01"), the petal
// meshes 01 and 03 (02 is a dummy), "Box01" and a dummy with a child.
Scene* makeScene(bool withLights) {
    auto* scene = new Scene;
    scene->addMaterial(new Material(1, "plain"));
    scene->addObject(triangle(10, "blomsterblad01", 1), -1);
    scene->addObject(new DummyObject(11, "blomsterblad02"), -1);
    scene->addObject(triangle(12, "blomsterblad03", 1), -1);
    scene->addObject(triangle(13, "Box01", 1), -1);
    scene->addObject(new DummyObject(14, "Arm"), -1);
    scene->addObject(triangle(15, "Hand", 1), 14);
    auto* a = new Camera(20, "CamA");
    a->setFieldOfView(60);
    scene->addCamera(a, -1);
    auto* b = new Camera(21, "CamB");
    b->setFieldOfView(30);
    scene->addCamera(b, -1);
    if (withLights) {
        scene->addLight(new Light(30, "Omni01"), -1);
        scene->addLight(new Light(31, "Spot01"), -1);
    }
    scene->finishLoading();
    return scene;
}

Signal signalOf(int type, float value, const std::string& text = "", float v1 = 0, float v2 = 0) {
    Signal s;
    s.type = type;
    s.value = value;
    s.text = text;
    s.values[0] = value;
    s.values[1] = v1;
    s.values[2] = v2;
    return s;
}

class SceneEffects : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        char buffer[4096];
        ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
        savedDir = buffer;
        reports.clear();
        report::setSink(keepReport);
        trackEndTime = 10000;
    }
    void TearDown() override {
        report::setSink(nullptr);
        trackEndTime = 0;
        if (!savedDir.empty()) {
            EXPECT_EQ(chdir(savedDir.c_str()), 0);
        }
    }
    // A folder holding data/scenes/morphdata_<name>.pmd with the given bytes.
    void morphFiles(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
        const std::string dir = makeTempDir();
        for (const auto& [name, bytes] : files) {
            std::string error;
            ASSERT_TRUE(
                scenefile::writeBytesToFile(bytes, dir + "/" + scenefile::morphDataPath(name), &error))
                << error;
        }
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    std::string savedDir;
};

// Morph data for a three-vertex mesh: frame k moves vertex 0 to (k, 0, 0).
std::vector<uint8_t> morphBytes(int frames, int vertices = 3) {
    scenefile::MorphData morph;
    morph.frameCount = frames;
    morph.vertexCount = vertices;
    for (int k = 0; k < frames; ++k)
        for (int v = 0; v < vertices; ++v) {
            const float p[3] = {v == 0 ? static_cast<float>(k) : static_cast<float>(v == 1),
                                v == 2 ? 1.0f : 0.0f, 0};
            morph.positions.insert(morph.positions.end(), p, p + 3);
            const float n[3] = {0, 0, 1};
            morph.normals.insert(morph.normals.end(), n, n + 3);
        }
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(scenefile::writeMorphData(morph, bytes, &error)) << error;
    return bytes;
}

MeshObject* mesh(Scene& scene, const std::string& name) {
    return dynamic_cast<MeshObject*>(scene.findObjectByName(name));
}

TEST_F(SceneEffects, ParametersInOrderWithTheirLists) {
    for (const char* name : {"Scene0", "Scene9", "Flower", "Hode", "Scratch"}) {
        std::unique_ptr<Effect> effect(createBuiltInEffect(name));
        ASSERT_TRUE(effect) << name;
        EXPECT_EQ(effect->name, name);
        std::vector<std::string> names;
        for (const Variable* v : effect->variables)
            names.push_back(v->name);
        std::vector<std::string> expected = {
            "Speed",    "SpectrumStr", "Pattern",  "Loop",       "Shadows",     "Camera",     "FOV",
            "Fog",      "FogMode",     "FogR",     "FogG",       "FogB",        "FogDensity", "FogScale",
            "FogStart", "FogEnd",      "Datafile", "LightingOn", "LightingOff", "MoreLight",  "VShader"};
        if (std::string(name) == "Scratch")
            expected.insert(expected.end(), {"ThisOrigin", "ThisAmp", "ThatOrigin", "ThatAmp"});
        EXPECT_EQ(names, expected) << name;
        // Setup-section texts must become list items, so the list-backed ones are not string-valued.
        Variable* camera = effect->findVariable("Camera");
        Variable* datafile = effect->findVariable("Datafile");
        EXPECT_EQ(camera->listId, 1000);
        EXPECT_EQ(datafile->listId, 0);
        EXPECT_FALSE(camera->stringValued);
        EXPECT_FALSE(datafile->stringValued);
        EXPECT_EQ(camera->count, 0);
        EXPECT_EQ(datafile->count, 1);
        EXPECT_EQ(effect->findVariable("FogMode")->count, 3);
        EXPECT_FLOAT_EQ(effect->findVariable("FOV")->get(), 0.25f);
        EXPECT_FLOAT_EQ(effect->findVariable("FogScale")->get(), 0.016666668f);
        EXPECT_FLOAT_EQ(effect->findVariable("FogEnd")->get(), 2.0f);
    }
}

TEST_F(SceneEffects, AdoptedSceneFillsTheCameraListAndFieldOfView) {
    std::unique_ptr<Scene> scene(makeScene(true));
    Effect3D effect("Scene3");
    ASSERT_TRUE(effect.adopt(scene.get(), "data/scenes/a.qzg"));
    EXPECT_EQ(effect.list1000, (std::vector<std::string>{"CamA", "CamB"}));
    EXPECT_EQ(effect.camera.count, 2);
    EXPECT_FLOAT_EQ(effect.fov.value, 60.0f * 0.0055555557f);
    EXPECT_EQ(effect.shadowLight, scene->findLightByName("Spot01"));
    // The same name again loads nothing; an empty name neither.
    EXPECT_FALSE(effect.load("data/scenes/a.qzg"));
    EXPECT_FALSE(effect.load(""));
    EXPECT_TRUE(reports.empty());

    // Camera and FOV follow the parameters until a camera is chosen by name.
    effect.camera.value = 1;
    effect.fov.value = 0.25f;
    effect.update(100);
    EXPECT_EQ(scene->currentCameraIndex(), 1);
    EXPECT_FLOAT_EQ(scene->currentCamera()->storedFieldOfView(), 45.0f);
    effect.signal(signalOf(18, 0, "CamA"));
    effect.update(200);
    EXPECT_EQ(scene->currentCameraIndex(), 0);
    EXPECT_TRUE(effect.cameraByName);
    effect.signal(signalOf(25, 70));
    effect.update(300);
    EXPECT_FLOAT_EQ(scene->currentCamera()->storedFieldOfView(), 70.0f);
}

// A start (INIT) comes between frames: the Image or Tiles drawn next must not be lit, which would
// throw away their colour and alpha.
TEST_F(SceneEffects, StartingLeavesLightingAsItWas) {
    std::unique_ptr<Scene> scene(makeScene(true));
    Effect3D effect("Scene0");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));
    glDisable(GL_LIGHTING);
    effect.start(0);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    glEnable(GL_LIGHTING);
    effect.start(100);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    glDisable(GL_LIGHTING);
}

// The scene switches lighting, culling, depth testing, texture units and both matrices for its
// drawing; the 2D effects drawn after it expect what they had (the outro came out dark otherwise).
TEST_F(SceneEffects, DrawingASceneLeavesTheGLStateAndMatricesAsTheyWere) {
    std::unique_ptr<Scene> scene(makeScene(true));
    Effect3D effect("Scene4");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));
    effect.shadows.value = true;
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.25f, 0, 0);
    effect.start(0);
    effect.update(100);
    effect.render(100);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    float m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_FLOAT_EQ(m[12], 0.25f);
    glLoadIdentity();
    glDisable(GL_TEXTURE_2D);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(reports.empty());
}

// A render target's light colours are its own: a scene started in the window and drawn into a
// target lights it with the target's colours (GL's defaults until the scene starts there too), and
// drawing it there leaves the window's as they were.
TEST_F(SceneEffects, ASceneDrawnIntoATargetUsesTheTargetsLightColours) {
    std::unique_ptr<Scene> scene(makeScene(true));
    scene->light(0)->setColour(ColorRGBA(1.0f, 0.0f, 0.0f, 1.0f));
    Effect3D effect("Scene0");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));
    auto diffuse = [] {
        std::array<GLfloat, 4> c{};
        glGetLightfv(GL_LIGHT0, GL_DIFFUSE, c.data());
        return c;
    };
    const std::array<GLfloat, 4> red = {1, 0, 0, 1}, white = {1, 1, 1, 1};
    effect.start(0);
    ASSERT_EQ(diffuse(), red);

    PBuffer target;
    target.initialize(16, 16, false);
    for (int frame = 0; frame < 2; ++frame) {
        target.enable();
        if (frame > 0) {
            EXPECT_EQ(diffuse(), white);
        }
        effect.render(frame * 40);
        target.disable();
        EXPECT_EQ(diffuse(), red) << frame;
    }
    target.enable();
    effect.start(100);
    target.disable();
    target.enable();
    EXPECT_EQ(diffuse(), red);
    target.disable();
    glDisable(GL_LIGHTING);
}

TEST_F(SceneEffects, SignalsSelectAndSwitch) {
    std::unique_ptr<Scene> scene(makeScene(true));
    Effect3D effect("Scene0");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));

    effect.signal(signalOf(1, 1));
    EXPECT_TRUE(scene->light(0)->flicker());
    effect.signal(signalOf(1, 0));
    EXPECT_FALSE(scene->light(0)->flicker());

    SceneObject* arm = scene->findObjectByName("Arm");
    SceneObject* hand = scene->findObjectByName("Hand");
    effect.signal(signalOf(6, 0, "Arm"));
    EXPECT_EQ(effect.selectedObject, arm);
    effect.signal(signalOf(20, 0));
    EXPECT_FALSE(arm->visible());
    EXPECT_FALSE(hand->visible());
    EXPECT_TRUE(scene->findObjectByName("Box01")->visible());
    effect.signal(signalOf(20, 1));
    EXPECT_TRUE(hand->visible());
    effect.signal(signalOf(16, 1));
    EXPECT_TRUE(arm->hierarchical());
    EXPECT_TRUE(hand->hierarchical());

    // Rotation by phase and the offset from the signal level.
    effect.speed.value = 0.5f; // phase = 0.1 per ms
    effect.start(0);           // a start stops the rotation
    effect.signal(signalOf(11, 10, "", 20, 30));
    effect.signalLevel = 0.7f;
    effect.update(10);
    EXPECT_EQ(arm->rotation(), Matrix4::fromEulerDegrees(10, 20, 30));
    EXPECT_NEAR(arm->offset().x, 2.0f, 1e-5f);
    effect.signalLevel = 0.0f;
    effect.update(10);
    EXPECT_EQ(arm->offset(), Vector3(0, 0, 0));

    effect.signal(signalOf(6, 0, "Nobody"));
    EXPECT_EQ(effect.selectedObject, nullptr);
    effect.signal(signalOf(20, 0)); // nothing selected: nothing happens

    Light* spot = scene->findLightByName("Spot01");
    effect.signal(signalOf(33, 0, "Spot01"));
    effect.signal(signalOf(34, 0));
    EXPECT_FALSE(spot->enabled());
    EXPECT_FALSE(glIsEnabled(spot->glLight()));
    effect.signal(signalOf(34, 1));
    EXPECT_TRUE(spot->enabled());
    EXPECT_TRUE(glIsEnabled(spot->glLight()));
    effect.signal(signalOf(33, 0, "Nothing"));
    effect.signal(signalOf(34, 0));
    EXPECT_TRUE(spot->enabled());

    // Freeze holds the phase of that moment.
    effect.update(50);
    effect.signal(signalOf(35, 1));
    EXPECT_TRUE(effect.frozen);
    EXPECT_FLOAT_EQ(effect.frozenPhase, effect.phase);
    effect.signal(signalOf(35, 0));
    EXPECT_FALSE(effect.frozen);

    effect.signal(signalOf(21, 1));
    EXPECT_TRUE(scene->shadows());
    effect.update(60);
    EXPECT_TRUE(spot->shadowCaster());
    effect.signal(signalOf(21, 0));
    EXPECT_FALSE(scene->shadows());
    EXPECT_TRUE(reports.empty());
}

TEST_F(SceneEffects, FlickerOnASceneWithoutLightsDoesNothing) {
    std::unique_ptr<Scene> scene(makeScene(false));
    Effect3D effect("Scene1");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));
    EXPECT_EQ(effect.shadowLight, nullptr);
    effect.signal(signalOf(1, 1));
    effect.signal(signalOf(33, 0, "Spot01"));
    effect.signal(signalOf(34, 0));
    effect.shadows.value = true;
    effect.update(0); // shadows without a caster: no shadow light to make one
    effect.render(0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_TRUE(reports.empty());
}

TEST_F(SceneEffects, KeyedShadowsSwitchWithoutTheChangedFlag) {
    std::unique_ptr<Scene> scene(makeScene(true));
    Effect3D effect("Scene2");
    ASSERT_TRUE(effect.adopt(scene.get(), "a"));
    effect.shadows.addKey(0.0f, 0);
    effect.shadows.addKey(1.0f, 1000);
    effect.shadows.addKey(0.0f, 2000);
    effect.update(500);
    EXPECT_FALSE(scene->shadows());
    // Lookups from keys never raise the flag; the switch must still happen.
    effect.shadows.changed = false;
    effect.update(1500);
    EXPECT_TRUE(scene->shadows());
    EXPECT_TRUE(scene->findLightByName("Spot01")->shadowCaster());
    effect.update(1600);
    EXPECT_TRUE(scene->shadows());
    effect.update(2500);
    EXPECT_FALSE(scene->shadows());
    // A signal's switch stands until the parameter itself changes.
    effect.signal(signalOf(21, 1));
    effect.update(2600);
    EXPECT_TRUE(scene->shadows());
}

TEST_F(SceneEffects, MorphFilesMustMatchTheMeshExactly) {
    std::vector<uint8_t> good = morphBytes(3);
    std::vector<uint8_t> shortFile(good.begin(), good.end() - 4);
    std::vector<uint8_t> longFile = good;
    longFile.push_back(0);
    std::vector<uint8_t> noFrames = {0, 0, 0, 0};
    std::vector<uint8_t> negative = {0xff, 0xff, 0xff, 0xff};
    std::vector<uint8_t> huge = {0xff, 0xff, 0xff, 0x7f};
    morphFiles({{"a", good},
                {"b", shortFile},
                {"c", longFile},
                {"d", noFrames},
                {"e", negative},
                {"f", huge},
                {"g", morphBytes(2, 4)},
                {"i", {1, 0}}});
    std::unique_ptr<Scene> scene(new Scene);
    scene->addMaterial(new Material(1, "plain"));
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h", "i"})
        scene->addObject(triangle(0, name, 1), -1);
    scene->finishLoading();
    auto loads = [&](const char* name) { return attachMorphFile(*mesh(*scene, name)); };
    EXPECT_EQ(loads("a"), MorphLoad::Attached);
    EXPECT_EQ(mesh(*scene, "a")->morphFrameCount(), 3);
    EXPECT_EQ(loads("d"), MorphLoad::NoFrames);
    EXPECT_EQ(loads("h"), MorphLoad::Missing);
    for (const char* name : {"b", "c", "e", "f", "g", "i"})
        EXPECT_EQ(loads(name), MorphLoad::Broken) << name;
    for (const char* name : {"b", "c", "d", "e", "f", "g", "h", "i"}) {
        EXPECT_EQ(mesh(*scene, name)->morphFrameCount(), 0) << name;
        EXPECT_TRUE(mesh(*scene, name)->usesBufferObjects() || !GLEW_ARB_vertex_buffer_object) << name;
    }
    EXPECT_FALSE(mesh(*scene, "a")->usesBufferObjects());
    // Files that cannot be right are reported with their reason (without ending the demo);
    // missing or frameless ones are not.
    ASSERT_EQ(reports.size(), 6u);
    for (const report::Record& r : reports) {
        EXPECT_FALSE(r.fatal) << r.text;
        EXPECT_NE(r.text.find("Morph data is broken: data/scenes/morphdata_"), std::string::npos) << r.text;
    }
    EXPECT_NE(reports[2].text.find("morphdata_e.pmd: negative morph frame count"), std::string::npos)
        << reports[2].text;
    EXPECT_NE(reports[5].text.find("morphdata_i.pmd: file ends inside morph frame count at byte 0"),
              std::string::npos)
        << reports[5].text;
}

TEST_F(SceneEffects, FlowerMorphsThePetalsItFindsWithMaterials) {
    morphFiles({{"blomsterblad01", morphBytes(3)},
                {"blomsterblad02", morphBytes(3)},
                {"blomsterblad03", morphBytes(3, 5)}});
    std::unique_ptr<Scene> scene(makeScene(true));
    std::unique_ptr<Effect> made(createBuiltInEffect("Flower"));
    auto* flower = dynamic_cast<Flower*>(made.get());
    ASSERT_NE(flower, nullptr);
    ASSERT_TRUE(flower->adopt(scene.get(), "flower"));
    MeshObject* petal = mesh(*scene, "blomsterblad01");
    EXPECT_EQ(petal->morphFrameCount(), 3);
    EXPECT_EQ(mesh(*scene, "blomsterblad02"), nullptr);              // not a mesh: skipped
    EXPECT_EQ(mesh(*scene, "blomsterblad03")->morphFrameCount(), 0); // file for another vertex count
    ASSERT_EQ(reports.size(), 1u);                                   // that file is reported, not fatal
    EXPECT_FALSE(reports[0].fatal);

    // Signal 15: start frame truncated, rate, loop.
    flower->signal(signalOf(15, 12.9f, "", 0.25f, 0));
    EXPECT_EQ(scene->morphStartFrame(), 12);
    EXPECT_FLOAT_EQ(scene->morphRate(), 0.25f);
    EXPECT_FALSE(scene->morphLoop());

    // Start 10, rate 0.5: frame 13 is halfway between morph frames 1 and 2.
    flower->signal(signalOf(15, 10, "", 0.5f, 0));
    petal->morph(13.0f);
    EXPECT_FLOAT_EQ(petal->positionArray()[0], 1.5f);
    petal->morph(5.0f);
    EXPECT_FLOAT_EQ(petal->positionArray()[0], 0.0f);
    // A rate below zero holds the first morph frame instead of reading before it.
    flower->signal(signalOf(15, 0, "", -3.0f, 0));
    EXPECT_GE(scene->morphRate(), 0.0f);
    scene->setMorph(0, -3.0f, false);
    petal->morph(7.0f);
    EXPECT_FLOAT_EQ(petal->positionArray()[0], 0.0f);

    // The freeze does not hold a morphing scene: it draws at the running phase.
    flower->speed.value = 0.5f;
    flower->start(0);
    flower->update(100);
    flower->signal(signalOf(35, 1));
    flower->update(200);
    flower->render(200);
    EXPECT_EQ(scene->frameIndex(), 0); // one frame only, but the call must not use the frozen phase
}

// Hode needs its morph data: a missing file ends the demo as "morphdata not found", a broken one
// with its own reason; a file of zero frames is sound and the box simply does not morph.
TEST_F(SceneEffects, HodeWithoutItsMorphDataEndsTheDemo) {
    morphFiles({{"Box01", morphBytes(2)}});
    {
        std::unique_ptr<Scene> scene(makeScene(true));
        HodeScene hode;
        ASSERT_TRUE(hode.adopt(scene.get(), "hode"));
        EXPECT_EQ(mesh(*scene, "Box01")->morphFrameCount(), 2);
    }
    morphFiles({{"Box01", {0, 0, 0, 0}}});
    {
        std::unique_ptr<Scene> scene(makeScene(true));
        HodeScene hode;
        ASSERT_TRUE(hode.adopt(scene.get(), "hode"));
        EXPECT_EQ(mesh(*scene, "Box01")->morphFrameCount(), 0);
        EXPECT_TRUE(reports.empty());
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Counting fewer frames than it holds: the original played the first ones, here it is broken.
    std::vector<uint8_t> undercounted = morphBytes(3);
    undercounted[0] = 2;
    const std::pair<std::vector<uint8_t>, const char*> broken[] = {
        {morphBytes(2, 4), "Morph data is broken: data/scenes/morphdata_Box01.pmd: 196 bytes are not whole"},
        {undercounted, "Morph data is broken: data/scenes/morphdata_Box01.pmd: morph data holds 216 bytes"},
        {{0xff, 0xff, 0xff, 0xff}, "Morph data is broken: data/scenes/morphdata_Box01.pmd: negative morph"},
        {{7, 0, 0},
         "Morph data is broken: data/scenes/morphdata_Box01.pmd: file ends inside morph frame count"},
    };
    for (const auto& [bytes, message] : broken) {
        morphFiles({{"Box01", bytes}});
        EXPECT_EXIT(
            {
                report::setSink(nullptr);
                std::unique_ptr<Scene> scene(makeScene(true));
                HodeScene hode;
                hode.adopt(scene.get(), "hode");
            },
            testing::ExitedWithCode(1), message);
    }
    morphFiles({});
    EXPECT_EXIT(
        {
            report::setSink(nullptr);
            std::unique_ptr<Scene> scene(makeScene(true));
            HodeScene hode;
            hode.adopt(scene.get(), "hode");
        },
        testing::ExitedWithCode(1), "morphdata not found");
}

TEST_F(SceneEffects, ScratchTimeSwingsAroundItsOriginAndStopsAtZero) {
    Scratch scratch;
    scratch.thatOrigin.value = 0.2f;
    scratch.thatAmp.value = 0.2f;
    int lowest = 1000, highest = -1;
    for (float p = 0; p < 40; p += 0.1f) {
        scratch.phase = p;
        const int t = scratch.scratchTime(0);
        lowest = std::min(lowest, t);
        highest = std::max(highest, t);
    }
    EXPECT_LE(lowest, 1);
    EXPECT_GE(highest, 199);
    EXPECT_LE(highest, 200);
    // A swing wider than its centre would go below zero: it stops at zero.
    scratch.thatOrigin.value = 0.0f;
    scratch.thatAmp.value = 1.0f;
    scratch.phase = static_cast<float>(3 * M_PI / 2 / 0.2);
    EXPECT_EQ(scratch.scratchTime(0), 0);
    scratch.signal(signalOf(37, 1));
    EXPECT_TRUE(scratch.scratchMode);
    scratch.signal(signalOf(37, 0));
    EXPECT_FALSE(scratch.scratchMode);
}

TEST_F(SceneEffects, ScratchTakesItsPicturesOffTheScreensWhenItGoes) {
    std::unique_ptr<Scene> scene(new Scene);
    scene->addMaterial(new Material(1, "screen"));
    scene->addMaterial(new Material(2, "other"));
    scene->addObject(triangle(10, "screen1", 1), -1);
    scene->addObject(triangle(11, "screen3", 2), -1);
    scene->addCamera(new Camera(20, "Cam"), -1);
    scene->finishLoading();
    PBuffer elsewhere;
    {
        Scratch scratch;
        ASSERT_TRUE(scratch.adopt(scene.get(), "scratch"));
        mesh(*scene, "screen1")->material()->setPBuffer(&scratch.screen);
        mesh(*scene, "screen3")->material()->setPBuffer(&elsewhere); // not this effect's
    }
    EXPECT_EQ(mesh(*scene, "screen1")->material()->pbuffer(), nullptr);
    EXPECT_EQ(mesh(*scene, "screen3")->material()->pbuffer(), &elsewhere);
    mesh(*scene, "screen3")->material()->setPBuffer(nullptr);
    scene->setTime(0);
    scene->animate();
    scene->render();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
