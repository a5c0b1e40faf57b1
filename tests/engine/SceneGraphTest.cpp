#include "GLTest.h"
#include "SceneBuilder.h"

#include "../resources/ReportCapture.h"

#include <cmath>

namespace {

using SceneGraph = GLTest;

std::vector<std::string> topLevelNames(const Scene& scene) {
    std::vector<std::string> names;
    for (SceneObject* o = scene.root(); o; o = o->nextSibling())
        names.push_back(o->name());
    return names;
}

TEST_F(SceneGraph, TimeMapsOntoFramesWithAndWithoutLoop) {
    Scene scene;
    scene.setFrames(10, 1);
    scene.setTime(23.5f);
    EXPECT_EQ(scene.frameIndex(), 9);
    EXPECT_FLOAT_EQ(scene.fraction(), 0.5f);
    scene.setLoop(true);
    scene.setTime(23.5f);
    EXPECT_EQ(scene.frameIndex(), 3);
    EXPECT_FLOAT_EQ(scene.fraction(), 0.5f);
    scene.setFrames(10, 4);
    scene.setTime(90.0f);
    EXPECT_EQ(scene.frameIndex(), 2);
    EXPECT_FLOAT_EQ(scene.fraction(), 0.5f);
    scene.setLoop(false);
    scene.setTime(-3.0f);
    EXPECT_EQ(scene.frameIndex(), 0);
    // Far outside the int range, or no number at all: still a frame of the scene.
    scene.setTime(1e30f);
    EXPECT_EQ(scene.frameIndex(), 9);
    scene.setTime(std::nanf(""));
    EXPECT_EQ(scene.frameIndex(), 0);
    scene.setLoop(true);
    scene.setTime(-1e30f);
    EXPECT_GE(scene.frameIndex(), 0);
    EXPECT_LT(scene.frameIndex(), 10);

    // Before zero a looping scene runs backwards through its frames, the fraction in [0, 1);
    // without loop it stays at the first frame.
    scene.setFrames(10, 1);
    const std::pair<float, std::pair<int, float>> looped[] = {
        {-2.5f, {7, 0.5f}}, {-0.25f, {9, 0.75f}}, {-10.0f, {0, 0.0f}}, {-12.5f, {7, 0.5f}}};
    for (const auto& [t, expected] : looped) {
        scene.setTime(t);
        EXPECT_EQ(scene.frameIndex(), expected.first) << t;
        EXPECT_FLOAT_EQ(scene.fraction(), expected.second) << t;
    }
    DummyObject object(1, "o");
    std::vector<Vector3> keys;
    for (int i = 0; i < 10; ++i)
        keys.emplace_back(static_cast<float>(i), 0.0f, 0.0f);
    object.setPositionKeys(10, keys.data());
    scene.setTime(-2.5f);
    object.animate(scene.frameIndex(), scene.fraction());
    EXPECT_FLOAT_EQ(object.position().x, 7.5f); // between keys 7 and 8, not past either
    scene.setLoop(false);
    scene.setTime(-2.5f);
    EXPECT_EQ(scene.frameIndex(), 0);
}

TEST_F(SceneGraph, KeysAreSampledAtFramesClampedAtTheEndAndCutToTheShortestTrack) {
    DummyObject object(1, "o");
    std::vector<Vector3> positions;
    for (int i = 0; i < 5; ++i)
        positions.emplace_back(static_cast<float>(i * 10), 0, 0);
    object.setPositionKeys(5, positions.data());
    EXPECT_EQ(object.animationMode(), 2);
    object.animate(7, 0.5f);
    EXPECT_FLOAT_EQ(object.position().x, 40.0f);
    object.animate(3, 0.25f);
    EXPECT_FLOAT_EQ(object.position().x, 32.5f);

    // Rotation keys q and -q: no flip halfway.
    const float r = std::sqrt(0.5f);
    const Quaternion turns[2] = {Quaternion(0, 0, r, r), Quaternion(0, 0, -r, -r)};
    object.setRotationKeys(2, turns);
    object.animate(0, 0.5f);
    const Matrix4 expected = Matrix4::fromQuaternion(turns[0]);
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(object.rotation()[i], expected[i], 1e-5f);

    // Tracks of unequal length use the shortest.
    DummyObject uneven(2, "u");
    std::vector<Vector3> steps, scales;
    for (int i = 0; i < 6; ++i)
        steps.emplace_back(static_cast<float>(i), 0, 0);
    for (int i = 0; i < 3; ++i)
        scales.emplace_back(static_cast<float>(i + 1), 1, 1);
    uneven.setPositionKeys(6, steps.data());
    uneven.setScaleKeys(3, scales.data());
    EXPECT_EQ(uneven.keyCount(), 3);
    uneven.animate(4, 0.5f); // past the scale track: its last key, and the position's key 2
    EXPECT_FLOAT_EQ(uneven.scale().x, 3.0f);
    EXPECT_FLOAT_EQ(uneven.position().x, 2.0f);
}

TEST_F(SceneGraph, ObjectsAttachToParentsAndTransparentOnesDrawLast) {
    ReportCapture reports;
    Scene scene;
    scene.addMaterial(scenes::colour(1, 1, 0, 0));
    Material* glass = scenes::colour(2, 0, 1, 0);
    glass->setOpacity(0.5f);
    scene.addMaterial(glass);
    Material* glow = scenes::colour(3, 0, 0, 1);
    glow->setAdditive(true);
    scene.addMaterial(glow);
    Material* duplicate = scenes::colour(1, 1, 1, 1);
    scene.addMaterial(duplicate); // id taken: dropped
    EXPECT_EQ(scene.findMaterial(1)->diffuse().g, 0.0f);
    for (auto& entry : scene.materials())
        entry.second->finishTextures();

    scene.addObject(scenes::quad(10, "Glass", 2, 1, 1), -1);
    scene.addObject(scenes::quad(11, "Solid", 1, 1, 1), -1);
    scene.addObject(scenes::quad(12, "Glow", 3, 1, 1), -1);
    scene.addObject(scenes::quad(13, "Child", 2, 1, 1), 11);
    scene.addObject(scenes::quad(14, "Solid2", 1, 1, 1), -1);
    scene.addObject(scenes::quad(15, "Orphan", 1, 1, 1), 77);
    scene.addObject(scenes::quad(16, "Selfish", 1, 1, 1), 16); // would be drawn inside itself
    auto* camera = new Camera(20, "Cam");
    camera->setTargetId(14);
    scene.addCamera(camera, -1);
    scene.finishLoading();

    EXPECT_TRUE(reports.has("object Orphan could not find parent obj 77"));
    EXPECT_TRUE(reports.has("object Selfish is its own parent (obj 16)"));
    EXPECT_FALSE(reports.has("could not find parent obj 16"));
    EXPECT_EQ(topLevelNames(scene), (std::vector<std::string>{"Solid", "Solid2", "Glass", "Glow"}));
    // Children keep their place, even transparent ones.
    EXPECT_EQ(scene.findObjectByName("Solid")->firstChild()->name(), "Child");
    EXPECT_EQ(camera->target(), scene.findObjectById(14));
    EXPECT_EQ(scene.objects().size(), 8u);
    // The orphan and the object that is its own parent are in no chain and never bound.
    EXPECT_FALSE(static_cast<MeshObject*>(scene.findObjectByName("Orphan"))->built());
    EXPECT_FALSE(static_cast<MeshObject*>(scene.findObjectByName("Selfish"))->built());
    EXPECT_EQ(scene.findObjectByName("Selfish")->firstChild(), nullptr);
    EXPECT_TRUE(static_cast<MeshObject*>(scene.findObjectByName("Child"))->built());
}

TEST_F(SceneGraph, LookupsTakeTheFirstExactMatch) {
    Scene scene;
    auto* a = new Camera(1, "Cam");
    auto* b = new Camera(2, "Cam");
    auto* c = new Camera(3, "Other");
    scene.addCamera(a, -1);
    scene.addCamera(b, -1);
    scene.addCamera(c, -1);
    EXPECT_EQ(scene.findCameraIndexByName("Other"), 2);
    EXPECT_EQ(scene.currentCamera(), c);
    EXPECT_EQ(scene.findCameraIndexByName("cam"), -1);
    EXPECT_EQ(scene.currentCamera(), c);
    EXPECT_EQ(scene.findCameraIndexByName("Cam"), 0);
    scene.setCamera(3); // out of range: ignored
    EXPECT_EQ(scene.currentCamera(), a);
    EXPECT_EQ(scene.findObjectByName("Cam"), a);
    EXPECT_EQ(scene.findObjectById(2), b);
    EXPECT_EQ(scene.currentLight(), nullptr);
    auto* l0 = new Light(4, "Omni");
    auto* l1 = new Light(5, "Omni");
    scene.addLight(l0, -1);
    scene.addLight(l1, -1);
    EXPECT_EQ(l1->lightNumber(), 1);
    EXPECT_EQ(scene.findLightByName("Omni"), l0);
    EXPECT_EQ(scene.currentLight(), l0);
}

TEST_F(SceneGraph, VisibleReachesDescendantsHierarchicalAlsoSiblings) {
    DummyObject parent(1, "p");
    auto* child = new DummyObject(2, "c");
    auto* grandchild = new DummyObject(3, "g");
    auto* sibling = new DummyObject(4, "s");
    parent.appendChild(child);
    child->appendChild(grandchild);
    parent.appendSibling(sibling);
    parent.setVisible(false, true);
    EXPECT_FALSE(child->visible());
    EXPECT_FALSE(grandchild->visible());
    EXPECT_TRUE(sibling->visible());
    parent.setHierarchical(true, true);
    EXPECT_TRUE(grandchild->hierarchical());
    EXPECT_TRUE(sibling->hierarchical());

    // Clones bring their children but not their siblings.
    std::unique_ptr<SceneObject> copy(parent.clone());
    EXPECT_EQ(copy->nextSibling(), nullptr);
    ASSERT_NE(copy->firstChild(), nullptr);
    EXPECT_EQ(copy->firstChild()->firstChild()->name(), "g");
    EXPECT_FALSE(copy->visible());

    SceneObject* root = &parent;
    sibling->unlink(root);
    EXPECT_EQ(parent.nextSibling(), nullptr);
    delete sibling;
}

TEST_F(SceneGraph, LongSiblingChainsAreDestroyedWithoutDeepRecursion) {
    auto* head = new DummyObject(0, "head");
    SceneObject* last = head;
    for (int i = 1; i < 200000; ++i) {
        auto* next = new DummyObject(i, "n");
        last->appendSibling(next); // walks the chain: keep it short by appending to the tail
        last = next;
    }
    delete head; // would overflow the stack if each node deleted its successor recursively
    SUCCEED();
}

TEST_F(SceneGraph, LightAndCameraSettingsAreBroughtIntoRange) {
    Light light(1, "l");
    light.setCutOff(120);
    EXPECT_EQ(light.cutOff(), 90.0f);
    light.setCutOff(180);
    EXPECT_EQ(light.cutOff(), 180.0f);
    light.setCutOff(-5);
    EXPECT_EQ(light.cutOff(), 0.0f);
    light.setExponent(200);
    EXPECT_EQ(light.exponent(), 128.0f);
    light.setExponent(-1);
    EXPECT_EQ(light.exponent(), 0.0f);
    light.setRange(0);
    EXPECT_EQ(light.linearAttenuation(), 0.0f);
    light.setRange(100);
    EXPECT_FLOAT_EQ(light.linearAttenuation(), 0.02f);
    light.setColour(ColorRGBA(2, 1, 0, 1));
    EXPECT_EQ(light.diffuse(), ColorRGBA(2, 1, 0, 1));
    EXPECT_EQ(light.specular(), ColorRGBA(2, 1, 0, 1));
    EXPECT_NEAR(light.ambient().r, 0.6f, 1e-6f);
    EXPECT_NEAR(light.ambient().g, 0.3f, 1e-6f);

    Camera camera(2, "c");
    EXPECT_EQ(camera.position(), Vector3(0, 0, 5));
    camera.setNear(0);
    camera.setFar(-10);
    camera.setFieldOfView(180);
    EXPECT_GT(camera.nearPlane(), 0.0f);
    EXPECT_GT(camera.farPlane(), camera.nearPlane());
    EXPECT_LT(camera.fieldOfView(), 180.0f);
    camera.setFieldOfView(-3);
    EXPECT_GT(camera.fieldOfView(), 0.0f);
    camera.setNear(5);
    camera.setFar(5);
    EXPECT_GT(camera.farPlane(), 5.0f);
    // A projection from these values is finite.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    camera.apply();
    float m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    for (float v : m)
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SceneGraph, LightSettingsBeforeNumberingWaitForTheScene) {
    while (glGetError() != GL_NO_ERROR) {
    }
    auto* light = new Light(1, "l");
    light->setRange(50); // no GL light yet: kept, nothing sent
    light->setEnabled(false);
    light->setFlicker(false);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    Scene scene;
    scene.addLight(light, -1);
    light->setEnabled(true);
    light->applyColours();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    light->apply();
    float attenuation = 0;
    glGetLightfv(GL_LIGHT0, GL_LINEAR_ATTENUATION, &attenuation);
    EXPECT_FLOAT_EQ(attenuation, 0.04f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    light->setEnabled(false);
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
}

TEST_F(SceneGraph, LookingAlongTheUpVectorStillGivesAView) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    lookAt(Vector3(0, 10, 0), Vector3(0, 0, 0));
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    for (float v : m)
        EXPECT_TRUE(std::isfinite(v));
    // The origin lies straight ahead (on the -z axis of the view) at distance 10.
    Matrix4 view;
    std::copy(m, m + 16, view.m);
    const Vector3 p = view.transformPoint(Vector3(0, 0, 0));
    EXPECT_NEAR(p.x, 0, 1e-5f);
    EXPECT_NEAR(p.y, 0, 1e-5f);
    EXPECT_NEAR(p.z, -10, 1e-4f);
    glLoadIdentity();
}

using SceneGraphDeath = GLTest;

TEST_F(SceneGraphDeath, FatalGeometryMaterialAndLightErrors) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Scene scene;
            scene.addObject(scenes::quad(1, "Lonely", 5, 1, 1), -1);
            scene.finishLoading();
        },
        ::testing::ExitedWithCode(1), "No Material for mesh: Lonely");
    EXPECT_EXIT(
        {
            Scene scene;
            scene.addMaterial(scenes::colour(1, 1, 1, 1));
            MeshObject* mesh = scenes::quad(1, "Broken", 1, 1, 1);
            mesh->setNormals(std::vector<Vector3>(3));
            scene.addObject(mesh, -1);
            scene.finishLoading();
        },
        ::testing::ExitedWithCode(1), "Geometry input is broken");
    EXPECT_EXIT(
        {
            Scene scene;
            scene.render();
        },
        ::testing::ExitedWithCode(1), "no objects in scene");
    EXPECT_EXIT(
        {
            Material material(1, "m");
            material.setShadeModel(14);
            material.apply();
        },
        ::testing::ExitedWithCode(1), "Material cannot handle this shademodel: 14");
    // More lights than the driver has end with the GL error.
    EXPECT_EXIT(
        {
            Scene scene;
            scene.addMaterial(scenes::colour(1, 1, 1, 1));
            scene.addObject(scenes::quad(1, "q", 1, 1, 1), -1);
            for (int i = 0; i <= Light::maxLights(); ++i)
                scenes::whiteLight(scene, 100 + i, "l", Vector3(0, 0, 10));
            scene.finishLoading();
            scene.applyLightColours();
            scene.render();
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "GL error: GL_INVALID_ENUM");
}

} // namespace
