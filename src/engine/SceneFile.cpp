#include "engine/SceneFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

namespace scenefile {

int32_t ObjectHeader::keyCount() const {
    // The shortest present track: no track is ever sampled past its end.
    size_t count = 0;
    bool any = false;
    for (size_t n : {positionKeys.size(), rotationKeys.size(), scaleKeys.size()}) {
        if (n == 0) continue;
        count = any ? std::min(count, n) : n;
        any = true;
    }
    return static_cast<int32_t>(count);
}

bool ObjectHeader::operator==(const ObjectHeader& o) const {
    return name == o.name && id == o.id && parentId == o.parentId && materialId == o.materialId &&
           position == o.position && rotation == o.rotation && scale == o.scale &&
           secondaryScale == o.secondaryScale && positionKeys == o.positionKeys &&
           rotationKeys == o.rotationKeys && scaleKeys == o.scaleKeys;
}

bool Material::operator==(const Material& o) const {
    return reserved0 == o.reserved0 && id == o.id && name == o.name && reserved1 == o.reserved1 &&
           diffuse == o.diffuse && ambient == o.ambient && specular == o.specular && opacity == o.opacity &&
           shininess == o.shininess && specularLevel == o.specularLevel && textures == o.textures;
}

bool Light::operator==(const Light& o) const {
    return header == o.header && kind == o.kind && colour == o.colour && multiplier == o.multiplier &&
           reserved == o.reserved && range == o.range && coneAngle == o.coneAngle &&
           coneExponent == o.coneExponent && targetId == o.targetId && hasTexture == o.hasTexture &&
           texture == o.texture;
}

bool Camera::operator==(const Camera& o) const {
    return header == o.header && fieldOfView == o.fieldOfView && nearClip == o.nearClip &&
           farClip == o.farClip && reserved == o.reserved && targetId == o.targetId;
}

bool Mesh::operator==(const Mesh& o) const {
    return header == o.header && vertices == o.vertices && normals == o.normals &&
           coordinateSets == o.coordinateSets && colours == o.colours && faces == o.faces;
}

bool SceneFile::operator==(const SceneFile& o) const {
    return tag == o.tag && version == o.version && firstFrame == o.firstFrame && lastFrame == o.lastFrame &&
           frameStep == o.frameStep && chunks == o.chunks;
}

bool MorphData::operator==(const MorphData& o) const {
    return frameCount == o.frameCount && vertexCount == o.vertexCount && positions == o.positions &&
           normals == o.normals;
}

int32_t chunkId(const Chunk& chunk) {
    struct Visitor {
        int32_t operator()(const MaterialList&) const { return MaterialListChunk; }
        int32_t operator()(const Light&) const { return LightChunk; }
        int32_t operator()(const Camera&) const { return CameraChunk; }
        int32_t operator()(const Mesh&) const { return MeshChunk; }
        int32_t operator()(const BareObject&) const { return BareObjectChunk; }
        int32_t operator()(const Dummy&) const { return DummyChunk; }
        int32_t operator()(const RawChunk& raw) const { return raw.id; }
    };
    return std::visit(Visitor{}, chunk);
}

int32_t SceneFile::frameCount() const {
    if (frameStep <= 0) return 0;
    int64_t count = (static_cast<int64_t>(lastFrame) - firstFrame) / frameStep + 1;
    return count > INT32_MAX || count < 0 ? 0 : static_cast<int32_t>(count);
}

std::string morphDataPath(const std::string& meshName) {
    return "data/scenes/morphdata_" + meshName + ".pmd";
}

std::vector<TextureSlot> appliedTextureSlots(const Material& material) {
    std::map<int32_t, const TextureSlot*> byType;
    for (const TextureSlot& slot : material.textures)
        if (slot.type <= DisplacementMap) byType.emplace(slot.type, &slot);
    std::vector<TextureSlot> applied;
    for (const auto& entry : byType)
        applied.push_back(*entry.second);
    return applied;
}

std::string storedPathProblem(const std::string& name) {
    if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return "an absolute path";
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return "an absolute path";
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("/\\", start);
        const size_t length = (end == std::string::npos ? name.size() : end) - start;
        if (length == 2 && name.compare(start, 2, "..") == 0) return "a \"..\" part that leaves its folder";
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

std::string textureLookupName(const std::string& stored, bool keepStoredPaths) {
    if (keepStoredPaths) return stored;
    size_t slash = stored.rfind('\\');
    return slash == std::string::npos ? stored : stored.substr(slash + 1);
}

float verticalFieldOfViewDegrees(float horizontalRadians) {
    return static_cast<float>(2.0 * std::atan(std::tan(horizontalRadians * 0.5) * 0.7500188) * 180.0 *
                              0.318309886183791);
}

namespace {

std::string checkName(const std::string& name, const char* what) {
    if (name.size() > MaxNameLength) return std::string(what) + " longer than 1999 bytes";
    return {};
}

const ObjectHeader* objectHeader(const Chunk& chunk) {
    if (auto* light = std::get_if<Light>(&chunk)) return &light->header;
    if (auto* camera = std::get_if<Camera>(&chunk)) return &camera->header;
    if (auto* mesh = std::get_if<Mesh>(&chunk)) return &mesh->header;
    if (auto* dummy = std::get_if<Dummy>(&chunk)) return &dummy->header;
    return nullptr;
}

std::string checkHeader(const ObjectHeader& h) {
    return checkName(h.name, "object name");
}

std::string checkMesh(const Mesh& mesh) {
    const size_t v = mesh.vertices.size();
    const std::string& name = mesh.header.name;
    if (std::string problem = checkHeader(mesh.header); !problem.empty()) return problem;
    if (mesh.normals.size() != v) return "mesh " + name + ": normal count differs from the vertex count";
    for (size_t set = 0; set < mesh.coordinateSets.size(); ++set)
        if (!mesh.coordinateSets[set].empty() && mesh.coordinateSets[set].size() != v)
            return "mesh " + name + ": texture coordinate set " + std::to_string(set) +
                   " count differs from the vertex count";
    if (!mesh.colours.empty() && mesh.colours.size() != v)
        return "mesh " + name + ": colour count is neither 0 nor the vertex count";
    for (const auto& face : mesh.faces)
        for (int32_t index : face)
            if (index < 0 || static_cast<size_t>(index) >= v)
                return "mesh " + name + ": face index " + std::to_string(index) + " outside the vertices";
    return {};
}

} // namespace

std::string checkScene(const SceneFile& scene) {
    if (scene.frameStep <= 0) return "frame step is not positive";
    if (scene.lastFrame < scene.firstFrame) return "last frame lies before the first frame";
    if ((static_cast<int64_t>(scene.lastFrame) - scene.firstFrame) / scene.frameStep + 1 > INT32_MAX)
        return "too many frames";
    size_t lights = 0, objects = 0;
    // Depth of each object id's first holder, as the loader finds parents: by the first earlier
    // object (or the object itself) of that id.
    std::unordered_map<int32_t, size_t> depthOfId;
    for (const Chunk& chunk : scene.chunks) {
        std::string problem;
        if (std::holds_alternative<Light>(chunk) && ++lights > MaxLights)
            return "more than " + std::to_string(MaxLights) + " lights";
        if (!std::holds_alternative<MaterialList>(chunk) && !std::holds_alternative<RawChunk>(chunk) &&
            ++objects > MaxObjects)
            return "more than " + std::to_string(MaxObjects) + " objects";
        if (auto* header = objectHeader(chunk)) {
            auto own = depthOfId.emplace(header->id, 1);
            size_t depth = 1;
            if (header->parentId != -1) {
                auto parent = depthOfId.find(header->parentId);
                // Only the object itself is not its own parent; an earlier one of the same id is.
                if (parent != depthOfId.end() && !(own.second && parent == own.first))
                    depth = parent->second + 1;
            }
            if (own.second) own.first->second = depth;
            if (depth > MaxNestingDepth)
                return "object " + header->name + " is nested " + std::to_string(depth) +
                       " deep, more than " + std::to_string(MaxNestingDepth);
        } else if (auto* bare = std::get_if<BareObject>(&chunk)) {
            depthOfId.emplace(bare->id, 1);
        }
        if (auto* list = std::get_if<MaterialList>(&chunk)) {
            for (const Material& m : list->materials) {
                if (m.textures.size() > MaxTextureSlots)
                    return "material " + m.name + " has " + std::to_string(m.textures.size()) +
                           " texture slots, more than " + std::to_string(MaxTextureSlots);
                problem = checkName(m.name, "material name");
                for (size_t i = 0; problem.empty() && i < m.textures.size(); ++i)
                    problem = checkName(m.textures[i].name, "texture name");
                if (!problem.empty()) break;
            }
        } else if (auto* light = std::get_if<Light>(&chunk)) {
            problem = checkHeader(light->header);
            if (problem.empty() && light->hasTexture) problem = checkName(light->texture, "texture name");
        } else if (auto* camera = std::get_if<Camera>(&chunk)) {
            problem = checkHeader(camera->header);
        } else if (auto* mesh = std::get_if<Mesh>(&chunk)) {
            problem = checkMesh(*mesh);
        } else if (auto* bare = std::get_if<BareObject>(&chunk)) {
            problem = checkName(bare->name, "object name");
        } else if (auto* dummy = std::get_if<Dummy>(&chunk)) {
            problem = checkHeader(dummy->header);
        }
        if (!problem.empty()) return problem;
    }
    return {};
}

} // namespace scenefile
