// The binary scene file and the morph-data file as plain records, one field per field of the
// file, with the rules every reader and writer of them shares.
//
// A scene file is: 3-byte tag, int32 version (1), int32 first frame, int32 last frame, int32 frame
// step, then chunks (int32 id + body) up to the end marker 0x9999. All numbers little-endian.
// The reader (SceneReader.h) fills these records from bytes and the writer (SceneWriter.h) turns
// them back into bytes; the scene loader builds engine objects from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace scenefile {

enum ChunkId : int32_t {
    MaterialListChunk = 1,
    LightChunk = 3,
    CameraChunk = 4,
    MeshChunk = 5,
    BareObjectChunk = 6,
    DummyChunk = 7,
    EndMarker = 0x9999,
};

// Texture slot types of a material; above DisplacementMap they are ignored.
enum TextureType : int32_t {
    AmbientMap = 0,
    DiffuseMap = 1,
    SpecularMap = 2,
    ShininessMap = 3,
    ShininessStrengthMap = 4,
    SelfIlluminationMap = 5,
    OpacityMap = 6,
    FilterMap = 7,
    BumpMap = 8,
    ReflectionMap = 9,
    RefractionMap = 10,
    DisplacementMap = 11,
};

// Light kinds: which of target id and cone fields the light takes.
enum LightKind : int32_t {
    OmniLight = 0,
    TargetSpotLight = 1,  // target and cone
    FreeSpotLight = 2,    // cone only
    TargetDirectLight = 3 // target only
};

// Longest name the format carries (the loader's buffer holds this plus a terminator).
constexpr size_t MaxNameLength = 1999;
// A scene's lights become GL lights 0..n-1; the GL guarantees eight.
constexpr size_t MaxLights = 8;
// Limits far above any real scene, so that a hostile file is refused before it costs minutes
// or gigabytes: objects of every kind together, the depth of the parent chain (the top level
// is depth 1), and texture slots of one material.
constexpr size_t MaxObjects = 100000;
constexpr size_t MaxNestingDepth = 256;
constexpr size_t MaxTextureSlots = 256;
// Bytes of morph frames (positions and normals) one mesh may carry: 256 MiB.
constexpr uint64_t MaxMorphBytes = uint64_t(256) << 20;

using Float3 = std::array<float, 3>;
using Float4 = std::array<float, 4>;

struct TexCoord {
    float u = 0, v = 0;
    bool operator==(const TexCoord& o) const { return u == o.u && v == o.v; }
};

// The first part of every light, camera, mesh and dummy record.
struct ObjectHeader {
    std::string name;
    int32_t id = 0;
    int32_t parentId = -1;  // -1: top level
    int32_t materialId = 0; // meshes only
    Float3 position{0, 0, 0};
    Float4 rotation{0, 0, 0, 1}; // quaternion x, y, z, w
    Float3 scale{1, 1, 1};
    Float3 secondaryScale{1, 1, 1};
    // One sample per frame from the first frame on; empty = the track is absent.
    std::vector<Float3> positionKeys;
    std::vector<Float4> rotationKeys;
    std::vector<Float3> scaleKeys;

    // Samples per present track (0 when none is present).
    int32_t keyCount() const;
    bool operator==(const ObjectHeader& o) const;
};

struct TextureSlot {
    std::string name; // as stored, often a full authoring-machine path with backslashes
    int32_t type = DiffuseMap;
    bool operator==(const TextureSlot& o) const { return name == o.name && type == o.type; }
};

struct Material {
    int32_t reserved0 = 0;
    int32_t id = 0;
    std::string name;
    float reserved1 = 0;
    Float3 diffuse{0.8f, 0.8f, 0.8f};
    Float3 ambient{0.2f, 0.2f, 0.2f};
    Float3 specular{0, 0, 0};
    float opacity = 1;                 // 1 = opaque
    float shininess = 0;               // 0..1; the engine uses 128 times this
    float specularLevel = 1;           // multiplies the specular colour
    std::vector<TextureSlot> textures; // in file order, duplicates included

    bool operator==(const Material& o) const;
};

struct MaterialList {
    std::vector<Material> materials;
    bool operator==(const MaterialList& o) const { return materials == o.materials; }
};

struct Light {
    ObjectHeader header;
    int32_t kind = OmniLight;
    Float3 colour{1, 1, 1};
    float multiplier = 1;
    std::array<float, 2> reserved{0, 0};
    float range = 0;        // > 0: linear attenuation 1 / (0.5 * range)
    float coneAngle = 180;  // degrees, spot kinds only
    float coneExponent = 0; // spot kinds only
    int32_t targetId = -1;  // target kinds only
    bool hasTexture = false;
    std::string texture; // only written when hasTexture

    bool operator==(const Light& o) const;
};

struct Camera {
    ObjectHeader header;
    float fieldOfView = 0.785398f; // horizontal, radians
    float nearClip = 1;
    float farClip = 2000;
    float reserved = 0;
    int32_t targetId = -1;

    bool operator==(const Camera& o) const;
};

struct Mesh {
    ObjectHeader header; // header.materialId names the material
    std::vector<Float3> vertices;
    std::vector<Float3> normals;                         // exactly one per vertex
    std::array<std::vector<TexCoord>, 3> coordinateSets; // each empty or one per vertex, v as stored
    std::vector<Float3> colours;                         // empty or one per vertex
    std::vector<std::array<int32_t, 3>> faces;           // vertex indices, drawing order

    bool operator==(const Mesh& o) const;
};

// An object with id and name only, always at the top level.
struct BareObject {
    int32_t id = 0;
    std::string name;
    int32_t reserved = 0;
    bool operator==(const BareObject& o) const {
        return id == o.id && name == o.name && reserved == o.reserved;
    }
};

struct Dummy {
    ObjectHeader header;
    bool operator==(const Dummy& o) const { return header == o.header; }
};

// A chunk written as given: any id with any body. Only writers make these (to produce files
// the reader must refuse); the reader never returns one.
struct RawChunk {
    int32_t id = 0;
    std::vector<uint8_t> body;
    bool operator==(const RawChunk& o) const { return id == o.id && body == o.body; }
};

using Chunk = std::variant<MaterialList, Light, Camera, Mesh, BareObject, Dummy, RawChunk>;

int32_t chunkId(const Chunk& chunk);

struct SceneFile {
    std::array<char, 3> tag{'Q', 'Z', 'G'}; // not interpreted
    int32_t version = 1;
    int32_t firstFrame = 0;
    int32_t lastFrame = 0;
    int32_t frameStep = 1;
    std::vector<Chunk> chunks; // in file order, without the end marker

    // (last - first) / step + 1; the reader guarantees it fits an int32.
    int32_t frameCount() const;
    bool operator==(const SceneFile& o) const;
};

// Per-vertex animation of one mesh: frames of positions then normals, vertexCount * 3 floats each.
struct MorphData {
    int32_t frameCount = 0;
    int32_t vertexCount = 0;      // not in the file: the mesh's vertex count
    std::vector<float> positions; // frameCount * vertexCount * 3
    std::vector<float> normals;   // frameCount * vertexCount * 3

    bool operator==(const MorphData& o) const;
};

// Data path of a mesh's morph data.
std::string morphDataPath(const std::string& meshName);

// The texture slots a material applies: the first slot of each type up to 11, in ascending type
// order (higher types are dropped; negative ones are kept, to be reported as unsupported).
std::vector<TextureSlot> appliedTextureSlots(const Material& material);

// Whether a name taken from a file stays inside the folder it is looked up in: neither absolute
// (a leading slash or backslash, or a drive letter) nor holding a ".." part between separators
// (slash or backslash). Returns the reason it does not, else an empty string.
std::string storedPathProblem(const std::string& name);

// The name a stored texture name is looked up under: with stored paths off, the part after the
// last backslash (a forward slash is not a separator); with them on, the name as stored.
std::string textureLookupName(const std::string& stored, bool keepStoredPaths);

// Camera: horizontal field of view in radians -> vertical field of view in degrees for an
// 800 x 600 window.
float verticalFieldOfViewDegrees(float horizontalRadians);

// Checks what the reader and the writer both insist on: frame range, name lengths, per-vertex
// counts, face indices, and the limits above (lights, objects, nesting depth, texture slots).
// Returns an empty string when the scene is sound, else the first problem.
std::string checkScene(const SceneFile& scene);

} // namespace scenefile
