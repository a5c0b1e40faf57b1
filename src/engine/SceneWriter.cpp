#include "engine/SceneWriter.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace scenefile {

void appendInt32(std::vector<uint8_t>& out, int32_t value) {
    uint32_t u;
    std::memcpy(&u, &value, 4);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(u >> shift));
}

void appendFloat(std::vector<uint8_t>& out, float value) {
    int32_t bits;
    std::memcpy(&bits, &value, 4);
    appendInt32(out, bits);
}

void appendString(std::vector<uint8_t>& out, const std::string& text) {
    appendInt32(out, static_cast<int32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

namespace {

template <size_t N> void appendFloats(std::vector<uint8_t>& out, const std::array<float, N>& v) {
    for (float f : v)
        appendFloat(out, f);
}

template <size_t N>
void appendTrack(std::vector<uint8_t>& out, const std::vector<std::array<float, N>>& keys) {
    appendInt32(out, static_cast<int32_t>(keys.size()));
    for (const auto& k : keys)
        appendFloats(out, k);
}

void appendHeader(std::vector<uint8_t>& out, const ObjectHeader& h) {
    appendString(out, h.name);
    appendInt32(out, h.id);
    appendInt32(out, h.parentId);
    appendInt32(out, h.materialId);
    appendFloats(out, h.position);
    appendFloats(out, h.rotation);
    appendFloats(out, h.scale);
    appendFloats(out, h.secondaryScale);
    appendTrack(out, h.positionKeys);
    appendTrack(out, h.rotationKeys);
    appendTrack(out, h.scaleKeys);
}

struct ChunkWriter {
    std::vector<uint8_t>& out;

    void operator()(const MaterialList& list) const {
        appendInt32(out, static_cast<int32_t>(list.materials.size()));
        for (const Material& m : list.materials) {
            appendInt32(out, m.reserved0);
            appendInt32(out, m.id);
            appendString(out, m.name);
            appendFloat(out, m.reserved1);
            appendFloats(out, m.diffuse);
            appendFloats(out, m.ambient);
            appendFloats(out, m.specular);
            appendFloat(out, m.opacity);
            appendFloat(out, m.shininess);
            appendFloat(out, m.specularLevel);
            appendInt32(out, static_cast<int32_t>(m.textures.size()));
            for (const TextureSlot& slot : m.textures) {
                appendString(out, slot.name);
                appendInt32(out, slot.type);
            }
        }
    }
    void operator()(const Light& light) const {
        appendHeader(out, light.header);
        appendInt32(out, light.kind);
        appendFloats(out, light.colour);
        appendFloat(out, light.multiplier);
        appendFloats(out, light.reserved);
        appendFloat(out, light.range);
        appendFloat(out, light.coneAngle);
        appendFloat(out, light.coneExponent);
        appendInt32(out, light.targetId);
        appendInt32(out, light.hasTexture ? 1 : 0);
        if (light.hasTexture) appendString(out, light.texture);
    }
    void operator()(const Camera& camera) const {
        appendHeader(out, camera.header);
        appendFloat(out, camera.fieldOfView);
        appendFloat(out, camera.nearClip);
        appendFloat(out, camera.farClip);
        appendFloat(out, camera.reserved);
        appendInt32(out, camera.targetId);
    }
    void operator()(const Mesh& mesh) const {
        appendHeader(out, mesh.header);
        appendTrack(out, mesh.vertices);
        appendTrack(out, mesh.normals);
        for (const auto& set : mesh.coordinateSets) {
            appendInt32(out, static_cast<int32_t>(set.size()));
            for (const TexCoord& uv : set) {
                appendFloat(out, uv.u);
                appendFloat(out, uv.v);
            }
        }
        appendTrack(out, mesh.colours);
        appendInt32(out, static_cast<int32_t>(mesh.faces.size()));
        for (const auto& face : mesh.faces)
            for (int32_t index : face)
                appendInt32(out, index);
    }
    void operator()(const BareObject& bare) const {
        appendInt32(out, bare.id);
        appendString(out, bare.name);
        appendInt32(out, bare.reserved);
    }
    void operator()(const Dummy& dummy) const { appendHeader(out, dummy.header); }
    void operator()(const RawChunk& raw) const { out.insert(out.end(), raw.body.begin(), raw.body.end()); }
};

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what;
    return false;
}

bool hasZero(const std::string& s) {
    return s.find('\0') != std::string::npos;
}

// What the reader would read back differently, or what the engine cannot draw.
std::string writerOnlyProblem(const SceneFile& scene) {
    auto headerProblem = [](const ObjectHeader& h) -> std::string {
        if (hasZero(h.name)) return "object name holds a zero byte";
        size_t present[3] = {h.positionKeys.size(), h.rotationKeys.size(), h.scaleKeys.size()};
        size_t count = 0;
        for (size_t n : present) {
            if (!n) continue;
            if (count && n != count) return "object " + h.name + ": key tracks differ in length";
            count = n;
        }
        return {};
    };
    for (const Chunk& chunk : scene.chunks) {
        std::string problem;
        if (auto* list = std::get_if<MaterialList>(&chunk)) {
            for (const Material& m : list->materials) {
                if (hasZero(m.name)) return "material name holds a zero byte";
                for (const TextureSlot& slot : m.textures)
                    if (hasZero(slot.name)) return "texture name holds a zero byte";
            }
        } else if (auto* light = std::get_if<Light>(&chunk)) {
            problem = headerProblem(light->header);
            if (problem.empty() && hasZero(light->texture)) problem = "texture name holds a zero byte";
            if (problem.empty() && !light->hasTexture && !light->texture.empty())
                problem = "light " + light->header.name + ": texture name without the texture flag";
        } else if (auto* camera = std::get_if<Camera>(&chunk)) {
            problem = headerProblem(camera->header);
        } else if (auto* mesh = std::get_if<Mesh>(&chunk)) {
            problem = headerProblem(mesh->header);
        } else if (auto* bare = std::get_if<BareObject>(&chunk)) {
            if (hasZero(bare->name)) problem = "object name holds a zero byte";
        } else if (auto* dummy = std::get_if<Dummy>(&chunk)) {
            problem = headerProblem(dummy->header);
        }
        if (!problem.empty()) return problem;
    }
    return {};
}

} // namespace

bool writeScene(const SceneFile& scene, std::vector<uint8_t>& out, std::string* error) {
    std::string problem = checkScene(scene);
    if (problem.empty()) problem = writerOnlyProblem(scene);
    if (!problem.empty()) return fail(error, problem);

    std::vector<uint8_t> bytes;
    bytes.insert(bytes.end(), scene.tag.begin(), scene.tag.end());
    appendInt32(bytes, scene.version);
    appendInt32(bytes, scene.firstFrame);
    appendInt32(bytes, scene.lastFrame);
    appendInt32(bytes, scene.frameStep);
    for (const Chunk& chunk : scene.chunks) {
        appendInt32(bytes, chunkId(chunk));
        std::visit(ChunkWriter{bytes}, chunk);
    }
    appendInt32(bytes, EndMarker);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

bool writeBytesToFile(const std::vector<uint8_t>& bytes, const std::string& path, std::string* error) {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return fail(error, "cannot create " + path);
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok ? true : fail(error, "cannot write " + path);
}

bool writeSceneFile(const SceneFile& scene, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    return writeScene(scene, bytes, error) && writeBytesToFile(bytes, path, error);
}

bool writeMorphData(const MorphData& morph, std::vector<uint8_t>& out, std::string* error) {
    if (morph.frameCount < 0 || morph.vertexCount < 0)
        return fail(error, "negative morph frame or vertex count");
    const size_t floats = static_cast<size_t>(morph.frameCount) * static_cast<size_t>(morph.vertexCount) * 3;
    if (morph.positions.size() != floats || morph.normals.size() != floats)
        return fail(error, "morph positions and normals must hold frames x vertices x 3 floats each");
    const size_t frameFloats = static_cast<size_t>(morph.vertexCount) * 3;
    std::vector<uint8_t> bytes;
    bytes.reserve(4 + floats * 8);
    appendInt32(bytes, morph.frameCount);
    for (size_t f = 0; frameFloats && f < static_cast<size_t>(morph.frameCount); ++f) {
        for (size_t i = 0; i < frameFloats; ++i)
            appendFloat(bytes, morph.positions[f * frameFloats + i]);
        for (size_t i = 0; i < frameFloats; ++i)
            appendFloat(bytes, morph.normals[f * frameFloats + i]);
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

bool writeMorphDataFile(const MorphData& morph, const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    return writeMorphData(morph, bytes, error) && writeBytesToFile(bytes, path, error);
}

} // namespace scenefile
