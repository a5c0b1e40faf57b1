// Scene files loaded into engine objects: every field arrives where the engine reads it, the
// texture slot rules and their messages, the cache, and refusals that leave nothing behind.
#include "../resources/ReportCapture.h"
#include "GLTest.h"
#include "SampleScene.h"
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneLoaderQZG.h"
#include "engine/SceneWriter.h"
#include "platform/GL.h"
#include "resources/PngWriter.h"
#include "resources/Texture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace sf = scenefile;

namespace {

class SceneLoading : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        dir = makeTempDir();
        textures = dir + "/textures/";
        SceneLoaderQZG::setKeepStoredTexturePaths(false);
    }

    // A 4 x 4 picture of one colour in the texture directory.
    void picture(const std::string& name, unsigned char r, unsigned char g, unsigned char b) {
        std::vector<unsigned char> rgb;
        for (int i = 0; i < 16; ++i)
            rgb.insert(rgb.end(), {r, g, b});
        writeFile(textures + name, "");
        ASSERT_TRUE(writeRgbPng(textures + name, 4, 4, rgb.data(), false, true));
    }

    std::string write(const sf::SceneFile& s, const std::string& name) {
        std::string error;
        std::string path = dir + "/" + name;
        EXPECT_TRUE(sf::writeSceneFile(s, path, &error)) << error;
        return path;
    }

    Scene* load(const std::string& path) {
        SceneLoaderQZG loader;
        return loader.load(path, textures);
    }

    std::string dir;
    std::string textures;
};

// Texture names are shared process-wide by name: every test uses its own.
sf::SceneFile richSceneWithTextures(const std::string& prefix) {
    sf::SceneFile s = sample::richScene();
    auto& stone = std::get<sf::MaterialList>(s.chunks[0]).materials[0];
    stone.textures = {{"C:\\maps\\" + prefix + "stone.png", sf::DiffuseMap},
                      {prefix + "other.png", sf::DiffuseMap},
                      {prefix + "env.png", sf::ReflectionMap},
                      {prefix + "never.png", 12}};
    for (auto& chunk : s.chunks)
        if (auto* light = std::get_if<sf::Light>(&chunk))
            if (light->hasTexture) light->texture = prefix + "gobo.png";
    return s;
}

void expectColour(const ColorRGBA& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

std::vector<std::string> chainNames(SceneObject* first) {
    std::vector<std::string> names;
    for (SceneObject* o = first; o; o = o->nextSibling())
        names.push_back(o->name());
    return names;
}

} // namespace

TEST_F(SceneLoading, EveryRecordArrivesInTheEngineObjects) {
    picture("rt_stone.png", 200, 100, 50);
    picture("rt_other.png", 0, 0, 0);
    picture("rt_env.png", 10, 20, 30);
    picture("rt_gobo.png", 255, 255, 255);
    picture("rt_never.png", 255, 255, 255);
    ReportCapture reports;
    Scene* scene = load(write(richSceneWithTextures("rt_"), "rich.qzg"));
    ASSERT_NE(scene, nullptr);
    for (const auto& r : reports.all())
        ADD_FAILURE() << "unexpected report: " << r.text;
    EXPECT_EQ(SceneLoaderQZG::textureDirectory(), textures);

    EXPECT_EQ(scene->frameCount(), 3);
    EXPECT_EQ(scene->unitsPerFrame(), 10);

    // Materials: colours with alpha 1, shininess x 128, the first of two diffuse maps, shade model.
    ASSERT_EQ(scene->materials().size(), 2u);
    Material* stone = scene->findMaterial(1);
    ASSERT_NE(stone, nullptr);
    EXPECT_EQ(stone->name(), "stone");
    expectColour(stone->diffuse(), 0.9f, 0.8f, 0.7f, 1);
    expectColour(stone->ambient(), 0.1f, 0.2f, 0.3f, 1);
    expectColour(stone->specular(), 1, 1, 1, 1);
    EXPECT_FLOAT_EQ(stone->shininess(), 32);
    EXPECT_FLOAT_EQ(stone->specularLevel(), 0.5f);
    EXPECT_EQ(stone->baseTexture(), TextureManager::instance().find("rt_stone.png")->object);
    EXPECT_EQ(stone->environmentTexture(), TextureManager::instance().find("rt_env.png")->object);
    EXPECT_EQ(TextureManager::instance().find("rt_other.png"), nullptr);
    EXPECT_EQ(TextureManager::instance().find("rt_never.png"), nullptr);
    EXPECT_EQ(stone->shadeModel(), 4);
    Material* glass = scene->findMaterial(2);
    ASSERT_NE(glass, nullptr);
    EXPECT_FLOAT_EQ(glass->opacity(), 0.5f);
    EXPECT_TRUE(glass->transparent());

    // Objects in file order, of the right kinds.
    const std::vector<std::string> order = {"Root", "Box01", "Pane", "Spot01", "Omni01", "Camera01", "Bare"};
    ASSERT_EQ(scene->objects().size(), order.size());
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(scene->objects()[i]->name(), order[i]);
    auto* root = dynamic_cast<DummyObject*>(scene->findObjectByName("Root"));
    auto* box = dynamic_cast<MeshObject*>(scene->findObjectByName("Box01"));
    auto* pane = dynamic_cast<MeshObject*>(scene->findObjectByName("Pane"));
    auto* bare = dynamic_cast<DummyObject*>(scene->findObjectByName("Bare"));
    ASSERT_TRUE(root && box && pane && bare);

    // The hierarchy: the mesh under its dummy parent; the transparent pane moved behind the bare object.
    EXPECT_EQ(root->firstChild(), box);
    EXPECT_EQ(chainNames(scene->root()), (std::vector<std::string>{"Root", "Bare", "Pane"}));

    // Rest transform and key tracks of the header.
    EXPECT_EQ(root->id(), 10);
    EXPECT_EQ(root->position(), Vector3(1, 2, 3));
    EXPECT_TRUE(root->rotation() == Matrix4::fromQuaternion(Quaternion(0, 0.7071068f, 0, 0.7071068f)));
    EXPECT_EQ(root->scale(), Vector3(2, 2, 2));
    EXPECT_EQ(root->secondaryScale(), Vector3(1, 0.5f, 1));
    EXPECT_EQ(root->keyCount(), 3);
    EXPECT_EQ(root->animationMode(), 2);
    EXPECT_EQ(root->frameCount(), 3);
    EXPECT_EQ(bare->animationMode(), 0);
    EXPECT_EQ(bare->position(), Vector3(0, 0, 0));
    scene->setTime(15);
    scene->animate();
    EXPECT_FLOAT_EQ(root->position().x, 1.5f); // halfway between keys 1 and 2
    EXPECT_FLOAT_EQ(box->position().y, 2.5f);

    // Mesh data: colours with alpha 1, v negated, set 2 in place of set 1, faces, bound material.
    EXPECT_EQ(box->materialId(), 1);
    EXPECT_EQ(box->material(), stone);
    EXPECT_EQ(pane->material(), glass);
    ASSERT_EQ(box->vertices().size(), 4u);
    EXPECT_EQ(box->vertices()[2].position, Vector3(1, 1, 0));
    expectColour(box->vertices()[1].colour, 0, 1, 0, 1);
    ASSERT_EQ(box->normals().size(), 4u);
    EXPECT_EQ(box->normals()[3], Vector3(0, 0, 1));
    ASSERT_EQ(box->coordinateSet0().size(), 4u);
    EXPECT_FLOAT_EQ(box->coordinateSet0()[2].u, 1);
    EXPECT_FLOAT_EQ(box->coordinateSet0()[2].v, -1);
    ASSERT_EQ(box->coordinateSet1().size(), 4u);
    EXPECT_FLOAT_EQ(box->coordinateSet1()[0].u, 0.25f);
    EXPECT_FLOAT_EQ(box->coordinateSet1()[3].v, -1);
    ASSERT_EQ(box->faces().size(), 2u);
    EXPECT_EQ(box->faces()[1].vertex[2], 3);
    EXPECT_TRUE(pane->coordinateSet0().empty());
    EXPECT_TRUE(pane->coordinateSet1().empty());

    // Lights: colour x multiplier, range, clamped cone, target, texture switches the spot off.
    ASSERT_EQ(scene->lightCount(), 2);
    Light* spot = scene->light(0);
    EXPECT_EQ(spot->name(), "Spot01");
    EXPECT_EQ(spot->lightNumber(), 0);
    expectColour(spot->diffuse(), 2, 1, 0, 1);
    expectColour(spot->specular(), 2, 1, 0, 1);
    expectColour(spot->ambient(), 0.6f, 0.3f, 0, 1);
    EXPECT_FLOAT_EQ(spot->linearAttenuation(), 0.02f);
    EXPECT_FLOAT_EQ(spot->cutOff(), 90);
    EXPECT_FLOAT_EQ(spot->exponent(), 128);
    EXPECT_EQ(spot->targetId(), 11);
    EXPECT_EQ(spot->target(), box);
    EXPECT_EQ(spot->texture(), TextureManager::instance().find("rt_gobo.png")->object);
    EXPECT_FALSE(spot->enabled());
    EXPECT_EQ(spot->position(), Vector3(0, 10, 10));
    Light* omni = scene->light(1);
    EXPECT_EQ(omni->lightNumber(), 1);
    EXPECT_EQ(omni->targetId(), -1);
    EXPECT_EQ(omni->target(), nullptr);
    EXPECT_FLOAT_EQ(omni->cutOff(), 180);
    EXPECT_FLOAT_EQ(omni->linearAttenuation(), 0);
    EXPECT_TRUE(omni->enabled());
    EXPECT_FALSE(omni->hasTexture());

    // Camera: vertical field of view in degrees from the horizontal one in radians.
    ASSERT_EQ(scene->cameraCount(), 1);
    Camera* camera = scene->camera(0);
    EXPECT_NEAR(camera->storedFieldOfView(), 2 * std::atan(0.7500188) * 180 / M_PI, 1e-4);
    EXPECT_NEAR(camera->storedFieldOfView(), 73.74, 0.01);
    EXPECT_FLOAT_EQ(camera->storedNear(), 2);
    EXPECT_FLOAT_EQ(camera->storedFar(), 900);
    EXPECT_EQ(camera->target(), root);
}

TEST_F(SceneLoading, TextureSlotRulesAndTheirMessages) {
    picture("ts_first.png", 255, 0, 0);
    picture("ts_second.png", 0, 255, 0);
    picture("ts_glow.png", 0, 0, 255);
    picture("ts_spec.png", 9, 9, 9);
    sf::Material two;
    two.id = 1;
    two.name = "two";
    two.textures = {{"ts_second_missing.png", 12},
                    {"X:\\a\\b\\ts_first.png", sf::DiffuseMap},
                    {"ts_second.png", sf::DiffuseMap}};
    sf::Material refraction;
    refraction.id = 2;
    refraction.name = "refraction";
    refraction.textures = {{"ts_glow.png", sf::RefractionMap}};
    sf::Material problems;
    problems.id = 3;
    problems.name = "problems";
    problems.textures = {{"C:\\maps\\ts_missing.png", sf::DiffuseMap},
                         {"ts_spec.png", sf::SpecularMap},
                         {"ts_lost_spec.png", sf::ShininessMap},
                         {"", sf::FilterMap},
                         {"ts_spec.png", -1},
                         {"ts_neg_missing.png", -3}};
    sf::Material duplicate = two;
    duplicate.name = "duplicate id";
    sf::SceneFile s;
    s.chunks.push_back(sf::MaterialList{{two, refraction, problems, duplicate}});
    s.chunks.push_back(sample::quadMesh("M", 1, 1));

    ReportCapture reports;
    Scene* scene = load(write(s, "slots.qzg"));
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->materials().size(), 3u); // the second material of id 1 is not added
    EXPECT_EQ(scene->findMaterial(1)->name(), "two");
    EXPECT_EQ(scene->findMaterial(1)->baseTexture(), TextureManager::instance().find("ts_first.png")->object);
    EXPECT_EQ(TextureManager::instance().find("ts_second.png"), nullptr);
    EXPECT_EQ(scene->findMaterial(1)->shadeModel(), 1);

    Material* glow = scene->findMaterial(2);
    EXPECT_EQ(glow->baseTexture(), TextureManager::instance().find("ts_glow.png")->object);
    EXPECT_TRUE(glow->additive());
    EXPECT_TRUE(glow->transparent());
    EXPECT_EQ(glow->shadeModel(), 1);

    // A missing texture is reported with its stored name (an empty one too); an unsupported type
    // only once found, negative types too; types above 11 are passed over without a word.
    EXPECT_TRUE(reports.has("Texture not found:: C:\\maps\\ts_missing.png"));
    EXPECT_TRUE(reports.has("Texture not found:: ts_lost_spec.png"));
    EXPECT_TRUE(reports.has("Texture not found:: "));
    EXPECT_TRUE(reports.has("Texture not found:: ts_neg_missing.png"));
    EXPECT_TRUE(reports.has("Unsupported texture type"));
    int unsupported = 0;
    for (const auto& r : reports.all()) {
        EXPECT_FALSE(r.fatal) << r.text;
        EXPECT_EQ(r.text.find("ts_second_missing"), std::string::npos) << r.text;
        unsupported += r.text.find("Unsupported texture type") != std::string::npos;
    }
    EXPECT_EQ(unsupported, 2); // the specular map and type -1
    EXPECT_EQ(scene->findMaterial(3)->baseTexture(), nullptr);
    EXPECT_EQ(scene->findMaterial(3)->shadeModel(), 0);
}

TEST_F(SceneLoading, StoredTexturePathsOptionUsesTheNameAsStored) {
    picture("sp_pic.png", 1, 2, 3);
    sf::Material m;
    m.id = 1;
    m.textures = {{textures + "sp_pic.png", sf::DiffuseMap}};
    sf::SceneFile s;
    s.chunks.push_back(sf::MaterialList{{m}});
    SceneLoaderQZG::setKeepStoredTexturePaths(true);
    EXPECT_TRUE(SceneLoaderQZG::keepStoredTexturePaths());
    SceneLoaderQZG loader;
    Scene* scene = loader.load(write(s, "paths.qzg"), "nowhere/");
    SceneLoaderQZG::setKeepStoredTexturePaths(false);
    ASSERT_NE(scene, nullptr);
    EXPECT_NE(scene->findMaterial(1)->baseTexture(), nullptr);
    EXPECT_NE(TextureManager::instance().find(textures + "sp_pic.png"), nullptr);

    // Off: a forward-slash path is used whole inside the texture directory, so it is not found.
    sf::Material w = m;
    w.id = 2;
    w.textures = {{"sub/sp_pic.png", sf::DiffuseMap}};
    s.chunks[0] = sf::MaterialList{{w}};
    ReportCapture reports;
    scene = load(write(s, "paths_off.qzg"));
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(reports.has("Texture not found:: sub/sp_pic.png"));
}

// A reload takes the cached scenes aside so the files are read again; a failed reload puts them
// back and drops what it loaded.
TEST_F(SceneLoading, AReloadReadsTheFilesAgainAndAFailedOneKeepsTheOldScenes) {
    const std::string path = write(sample::richScene(), "reloaded.qzg");
    Scene* first = load(path);
    ASSERT_NE(first, nullptr);
    SceneCache::Scenes taken = SceneCache::instance().takeAll();
    EXPECT_EQ(SceneCache::instance().size(), 0u);
    Scene* again = load(path);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, first);

    // Failed: the scene read since goes (the leak checker would see it otherwise), the old ones return.
    SceneCache::instance().restore(std::move(taken));
    EXPECT_EQ(SceneCache::instance().find(path), first);

    // Succeeded: the old scenes are deleted once nothing shows them.
    taken = SceneCache::instance().takeAll();
    Scene* third = load(path);
    ASSERT_NE(third, nullptr);
    SceneCache::destroy(taken);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(SceneCache::instance().find(path), third);
}

TEST_F(SceneLoading, TheCacheSharesSuccessfulLoadsOnly) {
    const std::string path = write(sample::richScene(), "cached.qzg");
    Scene* first = load(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SceneCache::instance().find(path), first);
    std::remove(path.c_str()); // a second load must not read the file
    EXPECT_EQ(load(path), first);

    // Version 2: no scene, nothing cached, read again next time.
    sf::SceneFile v2;
    v2.version = 2;
    const std::string later = write(v2, "later.qzg");
    size_t before = SceneCache::instance().size();
    ReportCapture reports;
    EXPECT_EQ(load(later), nullptr);
    EXPECT_EQ(SceneCache::instance().find(later), nullptr);
    EXPECT_EQ(SceneCache::instance().size(), before);
    ASSERT_EQ(reports.all().size(), 1u); // the reason, not fatal
    EXPECT_FALSE(reports.all()[0].fatal);
    write(sf::SceneFile{}, "later.qzg");
    Scene* now = load(later);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(SceneCache::instance().find(later), now);
    EXPECT_NE(now, first);

    // A missing file: no scene, no report from the loader.
    EXPECT_EQ(load(dir + "/missing.qzg"), nullptr);
    EXPECT_EQ(reports.all().size(), 1u);

    // Names are exact: another spelling of a cached file is another file.
    EXPECT_EQ(SceneCache::instance().find(path + " "), nullptr);
    EXPECT_FALSE(SceneCache::instance().add(path, now));
    EXPECT_EQ(SceneCache::instance().find(path), first);
}

TEST_F(SceneLoading, BrokenFilesGiveNoSceneAndAReason) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(sf::writeScene(sample::richScene(), bytes));
    size_t before = SceneCache::instance().size();
    for (size_t cut : {size_t(10), bytes.size() / 3, bytes.size() - 1}) {
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        const std::string path = dir + "/cut" + std::to_string(cut) + ".qzg";
        ASSERT_TRUE(sf::writeBytesToFile(part, path));
        ReportCapture reports;
        EXPECT_EQ(load(path), nullptr);
        ASSERT_EQ(reports.all().size(), 1u);
        EXPECT_FALSE(reports.all()[0].fatal);
        EXPECT_NE(reports.all()[0].text.find("Scene file is broken: " + path + ": "), std::string::npos)
            << reports.all()[0].text;
    }
    EXPECT_EQ(SceneCache::instance().size(), before);
}

TEST_F(SceneLoading, ParentsFrameRangeAndBareObjects) {
    sf::SceneFile s;
    s.firstFrame = 0, s.lastFrame = 9, s.frameStep = 10;
    sf::BareObject bare;
    bare.id = 5;
    bare.name = "Anchor";
    s.chunks.push_back(bare);
    sf::Dummy child;
    child.header.name = "Child";
    child.header.id = 6;
    child.header.parentId = 5;
    s.chunks.push_back(child);
    sf::Dummy orphan;
    orphan.header.name = "Orphan";
    orphan.header.id = 7;
    orphan.header.parentId = 77;
    s.chunks.push_back(orphan);
    sf::Camera loose;
    loose.header.name = "Loose";
    s.chunks.push_back(loose);

    ReportCapture reports;
    Scene* scene = load(write(s, "parents.qzg"));
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->frameCount(), 1);
    EXPECT_EQ(scene->unitsPerFrame(), 10);
    EXPECT_EQ(chainNames(scene->root()), (std::vector<std::string>{"Anchor"}));
    EXPECT_EQ(scene->root()->firstChild()->name(), "Child");
    EXPECT_TRUE(reports.has("object Orphan could not find parent obj 77"));
    EXPECT_NE(scene->findObjectByName("Orphan"), nullptr);
    EXPECT_EQ(scene->cameraCount(), 1);
    EXPECT_EQ(scene->camera(0)->target(), nullptr);
}

// A lit red quad in front of a targeted camera, read back from the frame.
TEST_F(SceneLoading, ALoadedSceneDraws) {
    sf::Material red;
    red.id = 1;
    red.name = "red";
    red.diffuse = {1, 0, 0};
    red.ambient = {0, 0, 0};
    sf::SceneFile s;
    s.chunks.push_back(sf::MaterialList{{red}});
    sf::Mesh quad = sample::quadMesh("Quad", 1, 1);
    s.chunks.push_back(quad);
    sf::Light lamp;
    lamp.header.name = "Lamp";
    lamp.header.id = 2;
    lamp.header.position = {0, 0, 10};
    s.chunks.push_back(lamp);
    sf::Camera cam;
    cam.header.name = "Cam";
    cam.header.id = 3;
    cam.header.position = {0, 0, 5};
    cam.fieldOfView = 1.2f;
    cam.targetId = 1;
    s.chunks.push_back(cam);

    Scene* scene = load(write(s, "draw.qzg"));
    ASSERT_NE(scene, nullptr);
    glViewport(0, 0, 800, 600);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene->applyLightColours();
    scene->setTime(0);
    scene->animate();
    scene->render();
    glFinish();
    std::vector<unsigned char> centre = pixel(400, 300);
    EXPECT_GT(centre[0], 150);
    EXPECT_LT(centre[1], 40);
    EXPECT_LT(centre[2], 40);
    std::vector<unsigned char> corner = pixel(5, 5);
    EXPECT_LT(corner[0], 20);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
}

// Lit red quads before a camera on the z axis, for the drawing tests below.
sf::SceneFile redQuadStage() {
    sf::Material red;
    red.id = 1;
    red.name = "red";
    red.diffuse = {1, 0, 0};
    red.ambient = {0, 0, 0};
    sf::SceneFile s;
    s.chunks.push_back(sf::MaterialList{{red}});
    sf::Light lamp;
    lamp.header.name = "Lamp";
    lamp.header.id = 2;
    lamp.header.position = {0, 0, 10};
    s.chunks.push_back(lamp);
    sf::Camera cam;
    cam.header.name = "Cam";
    cam.header.id = 3;
    cam.header.position = {0, 0, 5};
    cam.fieldOfView = 1.2f;
    cam.targetId = 4;
    s.chunks.push_back(cam);
    sf::BareObject origin;
    origin.id = 4;
    origin.name = "Origin";
    s.chunks.push_back(origin);
    return s;
}

// A version other than 1 and a file past a limit: no scene, and a report naming file and reason.
TEST_F(SceneLoading, RefusalsNameTheFileAndTheReason) {
    sf::SceneFile s = sample::richScene();
    s.version = 2;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(sf::writeScene(s, bytes));
    const std::string v2 = dir + "/v2.qzg";
    ASSERT_TRUE(sf::writeBytesToFile(bytes, v2));

    sf::SceneFile lights;
    std::vector<uint8_t> lightBody;
    {
        sf::SceneFile one;
        one.chunks.push_back(sf::Light{});
        std::vector<uint8_t> b;
        ASSERT_TRUE(sf::writeScene(one, b));
        lightBody.assign(b.begin() + 23, b.end() - 4);
    }
    for (int i = 0; i < 9; ++i)
        lights.chunks.push_back(sf::RawChunk{sf::LightChunk, lightBody});
    const std::string nine = write(lights, "nine.qzg");

    for (const auto& [path, text] :
         {std::pair{v2, "Scene file has an unsupported version: " + v2 + ": version 2 is not 1"},
          std::pair{nine, "Scene file is broken: " + nine + ": more than 8 lights at byte "}}) {
        ReportCapture reports;
        EXPECT_EQ(load(path), nullptr);
        ASSERT_EQ(reports.all().size(), 1u) << path;
        EXPECT_FALSE(reports.all()[0].fatal);
        EXPECT_NE(reports.all()[0].text.find(text), std::string::npos) << reports.all()[0].text;
    }
}

// A stored texture name that climbs out of the texture folder, or is absolute, is not read,
// though the file it names exists; the rest of the material stays.
TEST_F(SceneLoading, TextureNamesThatLeaveTheDemoAreRefused) {
    picture("inside_ok.png", 0, 255, 0);
    writeFile(dir + "/outside_secret.png", "");
    ASSERT_TRUE(writeRgbPng(dir + "/outside_secret.png", 1, 1, std::vector<unsigned char>{1, 2, 3}.data(),
                            false, true));
    sf::Material m;
    m.id = 1;
    m.name = "m";
    m.textures = {{"C:\\maps\\../outside_secret.png", sf::DiffuseMap},
                  {"inside_ok.png", sf::OpacityMap},
                  {dir + "/outside_secret.png", sf::BumpMap}};
    sf::SceneFile s;
    s.chunks.push_back(sf::MaterialList{{m}});
    s.chunks.push_back(sample::quadMesh("Q", 1, 1));
    {
        ReportCapture reports;
        Scene* scene = load(write(s, "outside.qzg"));
        ASSERT_NE(scene, nullptr);
        Material* material = scene->findMaterial(1);
        EXPECT_EQ(material->baseTexture(), nullptr);
        EXPECT_EQ(material->bumpTexture(), nullptr);
        auto says = [&](const std::string& part) {
            for (const report::Record& r : reports.all())
                if (r.text.find(part) != std::string::npos) return !r.fatal;
            return false;
        };
        EXPECT_TRUE(says("Texture name leaves the demo, not loaded: C:\\maps\\../outside_secret.png: "));
        EXPECT_TRUE(says("Texture name leaves the demo, not loaded: " + dir + "/outside_secret.png: "));
        EXPECT_FALSE(says("Texture not found"));
        EXPECT_EQ(TextureManager::instance().find("../outside_secret.png"), nullptr);
    }
}

// Loading links each object in constant time: a parent with the largest number of children a
// file may hold, and as many top-level objects, load (quadratic linking took minutes here).
TEST_F(SceneLoading, ManyObjectsLoadLinked) {
    sf::SceneFile s;
    sf::Dummy parent;
    parent.header.name = "Parent";
    parent.header.id = 0;
    s.chunks.push_back(parent);
    const int32_t half = static_cast<int32_t>(sf::MaxObjects / 2);
    for (int32_t i = 1; i < half; ++i) {
        sf::Dummy child;
        child.header.name = "C" + std::to_string(i);
        child.header.id = i;
        child.header.parentId = 0;
        s.chunks.push_back(child);
    }
    for (int32_t i = half; i < static_cast<int32_t>(sf::MaxObjects); ++i)
        s.chunks.push_back(sf::BareObject{i, "B" + std::to_string(i), 0});
    Scene* scene = load(write(s, "many.qzg"));
    ASSERT_NE(scene, nullptr);
    size_t children = 0, top = 0;
    SceneObject* last = nullptr;
    for (SceneObject* o = scene->root()->firstChild(); o; o = o->nextSibling())
        ++children, last = o;
    for (SceneObject* o = scene->root(); o; o = o->nextSibling())
        ++top;
    EXPECT_EQ(children, static_cast<size_t>(half - 1));
    EXPECT_EQ(last->name(), "C" + std::to_string(half - 1));
    EXPECT_EQ(top, sf::MaxObjects - static_cast<size_t>(half) + 1);
    EXPECT_EQ(scene->findObjectById(half)->name(), "B" + std::to_string(half));
    EXPECT_EQ(scene->findObjectByName("C7")->id(), 7);
}

// A hierarchy deeper than the GL matrix stack (32 levels on Mesa) draws in hierarchical mode:
// 40 nested dummies each move 0.05 right, the quad at the bottom moves 2 back to the centre.
TEST_F(SceneLoading, AHierarchyDeeperThanTheMatrixStackDraws) {
    sf::SceneFile s = redQuadStage();
    for (int32_t level = 0; level < 40; ++level) {
        sf::Dummy d;
        d.header.name = "Level" + std::to_string(level);
        d.header.id = 100 + level;
        d.header.parentId = level ? 99 + level : -1;
        d.header.position = {0.05f, 0, 0};
        s.chunks.push_back(d);
    }
    sf::Mesh quad = sample::quadMesh("Quad", 200, 1, 139);
    quad.header.position = {-2, 0, 0};
    s.chunks.push_back(quad);
    Scene* scene = load(write(s, "deep.qzg"));
    ASSERT_NE(scene, nullptr);
    scene->findObjectByName("Level0")->setHierarchical(true, true);

    ReportCapture reports;
    while (glGetError() != GL_NO_ERROR) {
    }
    GLint before = 0, after = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &before);
    glViewport(0, 0, 800, 600);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene->applyLightColours();
    scene->setTime(0);
    scene->animate();
    scene->render();
    glFinish();
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &after);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(reports.all().empty());
    std::vector<unsigned char> centre = pixel(400, 300);
    EXPECT_GT(centre[0], 150);
    EXPECT_LT(centre[1], 40);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
}

// Outside the format: a chunk id the loader does not know stops the program, naming the file,
// the chunk and where it sits.
TEST(SceneLoadingDeath, AnUnknownChunkIsFatalAndNamed) {
    const std::string dir = makeTempDir();
    sf::SceneFile s;
    s.chunks.push_back(sf::RawChunk{2, {}});
    ASSERT_TRUE(sf::writeSceneFile(s, dir + "/chunk2.qzg"));
    EXPECT_EXIT(
        {
            SceneLoaderQZG loader;
            loader.load(dir + "/chunk2.qzg", "data/textures/");
        },
        ::testing::ExitedWithCode(1),
        "Scene file has an unknown chunk: .*/chunk2.qzg: unknown chunk id 2 at byte 19");
}
