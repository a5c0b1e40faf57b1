#include "engine/SceneLoaderQZG.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneFile.h"
#include "engine/SceneReader.h"
#include "platform/GL.h"
#include "resources/Texture.h"

#include <memory>

namespace sf = scenefile;

namespace {

bool keepStoredPaths = false;
std::string sceneTextureDirectory;

Vector3 vec(const sf::Float3& v) {
    return Vector3(v[0], v[1], v[2]);
}

Quaternion quat(const sf::Float4& q) {
    return Quaternion(q[0], q[1], q[2], q[3]);
}

ColorRGBA opaque(const sf::Float3& c) {
    return ColorRGBA(c[0], c[1], c[2], 1.0f);
}

// The header's rest transform and key tracks, in the order the engine expects them.
void applyHeader(SceneObject& object, const sf::ObjectHeader& h, int frameCount) {
    object.setPosition(vec(h.position));
    object.setRotationMatrix(Matrix4::fromQuaternion(quat(h.rotation)));
    object.setSecondaryScale(vec(h.secondaryScale));
    object.setScale(vec(h.scale));
    if (!h.positionKeys.empty()) {
        std::vector<Vector3> keys;
        keys.reserve(h.positionKeys.size());
        for (const sf::Float3& k : h.positionKeys)
            keys.push_back(vec(k));
        object.setPositionKeys(static_cast<int>(keys.size()), keys.data());
    }
    if (!h.rotationKeys.empty()) {
        std::vector<Quaternion> keys;
        keys.reserve(h.rotationKeys.size());
        for (const sf::Float4& k : h.rotationKeys)
            keys.push_back(quat(k));
        object.setRotationKeys(static_cast<int>(keys.size()), keys.data());
    }
    if (!h.scaleKeys.empty()) {
        std::vector<Vector3> keys;
        keys.reserve(h.scaleKeys.size());
        for (const sf::Float3& k : h.scaleKeys)
            keys.push_back(vec(k));
        object.setScaleKeys(static_cast<int>(keys.size()), keys.data());
    }
    object.setFrameCount(frameCount);
}

std::vector<TexCoord> flippedSet(const std::vector<sf::TexCoord>& set) {
    std::vector<TexCoord> out;
    out.reserve(set.size());
    for (const sf::TexCoord& uv : set)
        out.push_back(TexCoord{uv.u, -uv.v});
    return out;
}

Material* makeMaterial(const sf::Material& record) {
    auto* material = new Material(record.id, record.name);
    material->setAmbient(opaque(record.ambient));
    material->setDiffuse(opaque(record.diffuse));
    material->setSpecular(opaque(record.specular));
    material->setShininess(record.shininess, record.specularLevel);
    material->setOpacity(record.opacity);
    material->setTwoSided(false);
    for (const sf::TextureSlot& slot : sf::appliedTextureSlots(record)) {
        bool refused = false;
        Texture* texture = SceneLoaderQZG::resolveTexture(slot.name, &refused);
        if (refused) continue;
        if (!texture) {
            reportErrorText(__FILE__, __LINE__, "Texture not found:", slot.name.c_str(), false);
            continue;
        }
        switch (slot.type) {
        case sf::DiffuseMap:
            material->setBaseTexture(texture);
            break;
        case sf::OpacityMap:
            material->setOpacityTexture(texture);
            break;
        case sf::FilterMap:
            material->setDetailTexture(texture);
            break;
        case sf::BumpMap:
            material->setBumpTexture(texture);
            break;
        case sf::ReflectionMap:
            material->setEnvironmentTexture(texture);
            break;
        case sf::RefractionMap:
            material->setBaseTexture(texture);
            material->setAdditive(true);
            break;
        default:
            reportError(__FILE__, __LINE__, "Unsupported texture type", false);
            break;
        }
    }
    material->finishTextures();
    return material;
}

MeshObject* makeMesh(const sf::Mesh& record, int frameCount) {
    auto* mesh = new MeshObject(record.header.id, record.header.name);
    applyHeader(*mesh, record.header, frameCount);
    mesh->setMaterialId(record.header.materialId);
    std::vector<MeshVertex> vertices(record.vertices.size());
    for (size_t i = 0; i < vertices.size(); ++i) {
        vertices[i].position = vec(record.vertices[i]);
        if (!record.colours.empty()) vertices[i].colour = opaque(record.colours[i]);
        vertices[i].normal = static_cast<int32_t>(i);
    }
    mesh->setVertices(std::move(vertices));
    std::vector<Vector3> normals;
    normals.reserve(record.normals.size());
    for (const sf::Float3& n : record.normals)
        normals.push_back(vec(n));
    mesh->setNormals(std::move(normals));
    if (!record.coordinateSets[0].empty()) mesh->setCoordinateSet0(flippedSet(record.coordinateSets[0]));
    // Sets 1 and 2 both feed the second set; set 2 wins when both are there.
    if (!record.coordinateSets[2].empty())
        mesh->setCoordinateSet1(flippedSet(record.coordinateSets[2]));
    else if (!record.coordinateSets[1].empty())
        mesh->setCoordinateSet1(flippedSet(record.coordinateSets[1]));
    std::vector<MeshFace> faces(record.faces.size());
    for (size_t i = 0; i < faces.size(); ++i)
        for (int k = 0; k < 3; ++k)
            faces[i].vertex[k] = record.faces[i][k];
    mesh->setFaces(std::move(faces));
    return mesh;
}

Light* makeLight(const sf::Light& record, int frameCount) {
    auto* light = new Light(record.header.id, record.header.name);
    applyHeader(*light, record.header, frameCount);
    const bool takesTarget = record.kind == sf::TargetSpotLight || record.kind == sf::TargetDirectLight;
    const bool takesCone = record.kind == sf::TargetSpotLight || record.kind == sf::FreeSpotLight;
    light->setTargetId(takesTarget ? record.targetId : -1);
    light->setCutOff(takesCone ? record.coneAngle : 180.0f);
    light->setExponent(takesCone ? record.coneExponent : 0.0f);
    const float m = record.multiplier;
    light->setColour(ColorRGBA(record.colour[0] * m, record.colour[1] * m, record.colour[2] * m, 1.0f));
    light->setRange(record.range);
    // A light texture that cannot be found is dropped without a word.
    if (record.hasTexture)
        if (Texture* texture = SceneLoaderQZG::resolveTexture(record.texture)) light->setTexture(texture);
    return light;
}

Camera* makeCamera(const sf::Camera& record, int frameCount) {
    auto* camera = new Camera(record.header.id, record.header.name);
    applyHeader(*camera, record.header, frameCount);
    camera->setFieldOfView(sf::verticalFieldOfViewDegrees(record.fieldOfView));
    camera->setNear(record.nearClip);
    camera->setFar(record.farClip);
    camera->setTargetId(record.targetId);
    return camera;
}

} // namespace

void SceneLoaderQZG::setKeepStoredTexturePaths(bool keep) {
    keepStoredPaths = keep;
}

bool SceneLoaderQZG::keepStoredTexturePaths() {
    return keepStoredPaths;
}

const std::string& SceneLoaderQZG::textureDirectory() {
    return sceneTextureDirectory;
}

Texture* SceneLoaderQZG::resolveTexture(const std::string& storedName, bool* refused) {
    if (refused) *refused = false;
    if (storedName.empty()) return nullptr;
    const std::string name = sf::textureLookupName(storedName, keepStoredPaths);
    // A scene only reaches its own textures: nothing outside the texture directory, whether the
    // demo is a folder or an archive. (Kept stored paths are a tool's choice, never the player's.)
    const std::string problem = keepStoredPaths ? std::string() : sf::storedPathProblem(name);
    if (!problem.empty()) {
        reportErrorText(__FILE__, __LINE__, "Texture name leaves the demo, not loaded",
                        (storedName + ": " + problem).c_str(), false);
        if (refused) *refused = true;
        return nullptr;
    }
    return TextureManager::instance().loadTexture(
        name, keepStoredPaths ? std::string() : sceneTextureDirectory, GL_TEXTURE_2D);
}

Scene* SceneLoaderQZG::buildScene(const sf::SceneFile& file) {
    auto* scene = new Scene();
    const int frameCount = file.frameCount();
    scene->setFrames(frameCount, file.frameStep);
    for (const sf::Chunk& chunk : file.chunks) {
        if (auto* list = std::get_if<sf::MaterialList>(&chunk)) {
            for (const sf::Material& record : list->materials)
                scene->addMaterial(makeMaterial(record));
        } else if (auto* light = std::get_if<sf::Light>(&chunk)) {
            scene->addLight(makeLight(*light, frameCount), light->header.parentId);
        } else if (auto* camera = std::get_if<sf::Camera>(&chunk)) {
            scene->addCamera(makeCamera(*camera, frameCount), camera->header.parentId);
        } else if (auto* mesh = std::get_if<sf::Mesh>(&chunk)) {
            scene->addObject(makeMesh(*mesh, frameCount), mesh->header.parentId);
        } else if (auto* bare = std::get_if<sf::BareObject>(&chunk)) {
            scene->addObject(new DummyObject(bare->id, bare->name), -1);
        } else if (auto* dummy = std::get_if<sf::Dummy>(&chunk)) {
            auto* object = new DummyObject(dummy->header.id, dummy->header.name);
            applyHeader(*object, dummy->header, frameCount);
            scene->addObject(object, dummy->header.parentId);
        } else {
            // Records read from a file are never raw; one made in memory has no meaning here.
            checkAssert(false, __FILE__, __LINE__);
        }
    }
    scene->finishLoading();
    return scene;
}

Scene* SceneLoaderQZG::load(const std::string& fileName, const std::string& textureDirectory) {
    fileName_ = fileName;
    textureDirectory_ = textureDirectory;
    sceneTextureDirectory = textureDirectory;

    if (Scene* cached = SceneCache::instance().find(fileName)) {
        scene_ = cached;
        return cached;
    }

    std::unique_ptr<DataFile> file(DataFile::open(fileName.c_str()));
    if (!file) return nullptr;
    sf::SceneFile parsed;
    sf::ReadResult result = sf::readScene(file->getData(), file->getSize(), parsed);
    file.reset();
    switch (result.status) {
    case sf::ReadStatus::Ok:
        break;
    case sf::ReadStatus::BadVersion:
        // Still no scene, but with the reason: the effect's own report alone names no cause.
        reportErrorText(__FILE__, __LINE__, "Scene file has an unsupported version",
                        (fileName + ": " + result.message).c_str(), false);
        return nullptr;
    case sf::ReadStatus::UnknownChunk:
        // Fatal as before, but naming file, chunk and byte as holdfast-scene info does.
        reportErrorText(__FILE__, __LINE__, "Scene file has an unknown chunk",
                        (fileName + ": " + result.message).c_str(), true);
        return nullptr;
    case sf::ReadStatus::Broken:
        reportErrorText(__FILE__, __LINE__, "Scene file is broken",
                        (fileName + ": " + result.message).c_str(), false);
        return nullptr;
    }

    scene_ = buildScene(parsed);
    SceneCache::instance().add(fileName, scene_);
    return scene_;
}

SceneCache& SceneCache::instance() {
    // Never destroyed: scenes stay valid for every effect until the process ends.
    static SceneCache* cache = new SceneCache;
    return *cache;
}

Scene* SceneCache::find(const std::string& fileName) const {
    auto found = scenes_.find(fileName);
    return found == scenes_.end() ? nullptr : found->second;
}

bool SceneCache::add(const std::string& fileName, Scene* scene) {
    if (!scene) return false;
    return scenes_.emplace(fileName, scene).second;
}

SceneCache::Scenes SceneCache::takeAll() {
    Scenes taken;
    taken.swap(scenes_);
    return taken;
}

void SceneCache::restore(Scenes scenes) {
    destroy(scenes_);
    scenes_ = std::move(scenes);
}

void SceneCache::destroy(Scenes& scenes) {
    for (auto& entry : scenes)
        delete entry.second;
    scenes.clear();
}
