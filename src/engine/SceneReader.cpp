#include "engine/SceneReader.h"

#include <cstring>

namespace scenefile {

namespace {

// A failed read stops the whole parse: the first problem is kept and every later read fails.
class Cursor {
  public:
    Cursor(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool ok() const { return problem.empty(); }
    size_t offset() const { return pos; }
    size_t left() const { return size - pos; }
    const std::string& error() const { return problem; }

    void fail(const std::string& what) {
        if (problem.empty()) problem = what + " at byte " + std::to_string(pos);
    }

    bool bytes(void* out, size_t n, const char* what) {
        if (!ok()) return false;
        if (n > left()) {
            fail(std::string("file ends inside ") + what);
            return false;
        }
        std::memcpy(out, data + pos, n);
        pos += n;
        return true;
    }

    int32_t i32(const char* what) {
        uint8_t b[4] = {0, 0, 0, 0};
        if (!bytes(b, 4, what)) return 0;
        uint32_t u = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                     static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        int32_t v;
        std::memcpy(&v, &u, 4);
        return v;
    }

    float f32(const char* what) {
        int32_t bits = i32(what);
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }

    template <size_t N> std::array<float, N> floats(const char* what) {
        std::array<float, N> v{};
        for (size_t i = 0; i < N; ++i)
            v[i] = f32(what);
        return v;
    }

    // A count of items of at least `itemBytes` bytes each, which must all fit in the bytes left.
    // Negative counts are refused unless `negativeMeansNone`, which reads them as 0.
    size_t count(const char* what, size_t itemBytes, bool negativeMeansNone = false) {
        int32_t n = i32(what);
        if (!ok()) return 0;
        if (n < 0) {
            if (negativeMeansNone) return 0;
            fail(std::string("negative ") + what);
            return 0;
        }
        if (itemBytes && static_cast<size_t>(n) > left() / itemBytes) {
            fail(std::string(what) + " " + std::to_string(n) + " is more than the file holds");
            return 0;
        }
        return static_cast<size_t>(n);
    }

    std::string string(const char* what) {
        int32_t n = i32(what);
        if (!ok()) return {};
        if (n < 0) {
            fail(std::string("negative length of ") + what);
            return {};
        }
        if (static_cast<size_t>(n) > MaxNameLength) {
            fail(std::string(what) + " longer than 1999 bytes");
            return {};
        }
        std::string text(static_cast<size_t>(n), '\0');
        if (!bytes(text.data(), text.size(), what)) return {};
        // Names are C strings in the engine: a stored zero byte ends the name.
        text.resize(std::strlen(text.c_str()));
        return text;
    }

    template <size_t N> std::vector<std::array<float, N>> floatArray(size_t n, const char* what) {
        std::vector<std::array<float, N>> out;
        if (!ok()) return out;
        out.resize(n);
        for (size_t i = 0; i < n && ok(); ++i)
            out[i] = floats<N>(what);
        if (!ok()) out.clear();
        return out;
    }

  private:
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    std::string problem;
};

void readHeader(Cursor& in, ObjectHeader& h) {
    h.name = in.string("object name");
    h.id = in.i32("object id");
    h.parentId = in.i32("parent id");
    h.materialId = in.i32("material id");
    h.position = in.floats<3>("position");
    h.rotation = in.floats<4>("rotation");
    h.scale = in.floats<3>("scale");
    h.secondaryScale = in.floats<3>("secondary scale");
    h.positionKeys = in.floatArray<3>(in.count("position key count", 12, true), "position keys");
    h.rotationKeys = in.floatArray<4>(in.count("rotation key count", 16, true), "rotation keys");
    h.scaleKeys = in.floatArray<3>(in.count("scale key count", 12, true), "scale keys");
    // Tracks of unequal length would be sampled past the end of the shorter ones.
    size_t keys = static_cast<size_t>(h.keyCount());
    if (h.positionKeys.size() > keys) h.positionKeys.resize(keys);
    if (h.rotationKeys.size() > keys) h.rotationKeys.resize(keys);
    if (h.scaleKeys.size() > keys) h.scaleKeys.resize(keys);
}

void readMaterials(Cursor& in, MaterialList& list) {
    // The smallest material record: fixed fields, an empty name, no textures.
    const size_t minRecord = 4 + 4 + 4 + 4 + 3 * 12 + 3 * 4 + 4;
    size_t n = in.count("material count", minRecord);
    for (size_t i = 0; i < n && in.ok(); ++i) {
        Material m;
        m.reserved0 = in.i32("material");
        m.id = in.i32("material id");
        m.name = in.string("material name");
        m.reserved1 = in.f32("material");
        m.diffuse = in.floats<3>("diffuse colour");
        m.ambient = in.floats<3>("ambient colour");
        m.specular = in.floats<3>("specular colour");
        m.opacity = in.f32("opacity");
        m.shininess = in.f32("shininess");
        m.specularLevel = in.f32("specular level");
        size_t slots = in.count("texture count", 8);
        if (slots > MaxTextureSlots) {
            in.fail("material " + m.name + " has " + std::to_string(slots) + " texture slots, more than " +
                    std::to_string(MaxTextureSlots));
            return;
        }
        for (size_t s = 0; s < slots && in.ok(); ++s) {
            TextureSlot slot;
            slot.name = in.string("texture name");
            slot.type = in.i32("texture type");
            m.textures.push_back(std::move(slot));
        }
        list.materials.push_back(std::move(m));
    }
}

void readLight(Cursor& in, Light& light) {
    readHeader(in, light.header);
    light.kind = in.i32("light kind");
    light.colour = in.floats<3>("light colour");
    light.multiplier = in.f32("light multiplier");
    light.reserved = in.floats<2>("light");
    light.range = in.f32("light range");
    light.coneAngle = in.f32("cone angle");
    light.coneExponent = in.f32("cone exponent");
    light.targetId = in.i32("light target id");
    light.hasTexture = in.i32("light texture flag") != 0;
    if (light.hasTexture) light.texture = in.string("light texture name");
}

void readCamera(Cursor& in, Camera& camera) {
    readHeader(in, camera.header);
    camera.fieldOfView = in.f32("field of view");
    camera.nearClip = in.f32("near distance");
    camera.farClip = in.f32("far distance");
    camera.reserved = in.f32("camera");
    camera.targetId = in.i32("camera target id");
}

void readMesh(Cursor& in, Mesh& mesh) {
    readHeader(in, mesh.header);
    mesh.vertices = in.floatArray<3>(in.count("vertex count", 12), "vertices");
    mesh.normals = in.floatArray<3>(in.count("normal count", 12), "normals");
    for (auto& set : mesh.coordinateSets) {
        size_t n = in.count("texture coordinate count", 8);
        auto pairs = in.floatArray<2>(n, "texture coordinates");
        set.reserve(pairs.size());
        for (const auto& p : pairs)
            set.push_back({p[0], p[1]});
    }
    mesh.colours = in.floatArray<3>(in.count("colour count", 12), "vertex colours");
    size_t faces = in.count("face count", 12);
    if (!in.ok()) return;
    mesh.faces.resize(faces);
    for (size_t i = 0; i < faces && in.ok(); ++i)
        for (int32_t& index : mesh.faces[i])
            index = in.i32("faces");
}

ReadResult failure(ReadStatus status, std::string message, int32_t value = 0) {
    ReadResult r;
    r.status = status;
    r.message = std::move(message);
    r.value = value;
    return r;
}

} // namespace

ReadResult readScene(const uint8_t* data, size_t size, SceneFile& scene) {
    scene = SceneFile{};
    scene.chunks.clear();
    Cursor in(data, size);
    SceneFile s;
    in.bytes(s.tag.data(), 3, "format tag");
    s.version = in.i32("version");
    s.firstFrame = in.i32("first frame");
    s.lastFrame = in.i32("last frame");
    s.frameStep = in.i32("frame step");
    if (!in.ok()) return failure(ReadStatus::Broken, in.error());
    if (s.version != 1)
        return failure(ReadStatus::BadVersion, "version " + std::to_string(s.version) + " is not 1",
                       s.version);
    if (s.frameStep <= 0) return failure(ReadStatus::Broken, "frame step is not positive");

    size_t objects = 0, lights = 0;
    for (;;) {
        size_t at = in.offset();
        int32_t id = in.i32("chunk id");
        if (!in.ok()) return failure(ReadStatus::Broken, "no end marker: " + in.error());
        if (id == EndMarker) break;
        // The limits are checked as the chunks come, so that a hostile file is refused before
        // it is read whole into records.
        if (id >= LightChunk && id <= DummyChunk && ++objects > MaxObjects)
            return failure(ReadStatus::Broken, "more than " + std::to_string(MaxObjects) +
                                                   " objects at byte " + std::to_string(at));
        if (id == LightChunk && ++lights > MaxLights)
            return failure(ReadStatus::Broken, "more than " + std::to_string(MaxLights) + " lights at byte " +
                                                   std::to_string(at));
        switch (id) {
        case MaterialListChunk: {
            MaterialList list;
            readMaterials(in, list);
            s.chunks.emplace_back(std::move(list));
            break;
        }
        case LightChunk: {
            Light light;
            readLight(in, light);
            s.chunks.emplace_back(std::move(light));
            break;
        }
        case CameraChunk: {
            Camera camera;
            readCamera(in, camera);
            s.chunks.emplace_back(std::move(camera));
            break;
        }
        case MeshChunk: {
            Mesh mesh;
            readMesh(in, mesh);
            s.chunks.emplace_back(std::move(mesh));
            break;
        }
        case BareObjectChunk: {
            BareObject bare;
            bare.id = in.i32("object id");
            bare.name = in.string("object name");
            bare.reserved = in.i32("bare object");
            s.chunks.emplace_back(std::move(bare));
            break;
        }
        case DummyChunk: {
            Dummy dummy;
            readHeader(in, dummy.header);
            s.chunks.emplace_back(std::move(dummy));
            break;
        }
        default:
            return failure(ReadStatus::UnknownChunk,
                           "unknown chunk id " + std::to_string(id) + " at byte " + std::to_string(at), id);
        }
        if (!in.ok()) return failure(ReadStatus::Broken, in.error());
    }

    std::string problem = checkScene(s);
    if (!problem.empty()) return failure(ReadStatus::Broken, problem);
    scene = std::move(s);
    return {};
}

ReadResult readMorphData(const uint8_t* data, size_t size, int32_t vertexCount, MorphData& morph) {
    morph = MorphData{};
    if (vertexCount < 0) return failure(ReadStatus::Broken, "negative vertex count");
    Cursor in(data, size);
    int32_t frames = in.i32("morph frame count");
    if (!in.ok()) return failure(ReadStatus::Broken, in.error());
    if (frames < 0) return failure(ReadStatus::Broken, "negative morph frame count");
    // Positions and normals: 6 floats per vertex per frame, computed without overflow.
    const uint64_t perFrame = static_cast<uint64_t>(vertexCount) * 6 * 4;
    const uint64_t expected = static_cast<uint64_t>(frames) * perFrame;
    if (expected > MaxMorphBytes)
        return failure(ReadStatus::Broken, std::to_string(frames) + " frames of " +
                                               std::to_string(vertexCount) + " vertices are " +
                                               std::to_string(expected) + " bytes, more than the " +
                                               std::to_string(MaxMorphBytes) + " a mesh may have");
    if (expected != in.left())
        return failure(ReadStatus::Broken, "morph data holds " + std::to_string(in.left()) +
                                               " bytes of frames, " + std::to_string(frames) + " frames of " +
                                               std::to_string(vertexCount) + " vertices need " +
                                               std::to_string(expected));
    MorphData m;
    m.frameCount = frames;
    m.vertexCount = vertexCount;
    const size_t frameFloats = static_cast<size_t>(vertexCount) * 3;
    m.positions.resize(static_cast<size_t>(frames) * frameFloats);
    m.normals.resize(m.positions.size());
    // With no vertices the frames are empty: nothing to read however many there are.
    for (size_t f = 0; frameFloats && f < static_cast<size_t>(frames); ++f) {
        for (size_t i = 0; i < frameFloats; ++i)
            m.positions[f * frameFloats + i] = in.f32("morph positions");
        for (size_t i = 0; i < frameFloats; ++i)
            m.normals[f * frameFloats + i] = in.f32("morph normals");
    }
    if (!in.ok()) return failure(ReadStatus::Broken, in.error());
    morph = std::move(m);
    return {};
}

} // namespace scenefile
