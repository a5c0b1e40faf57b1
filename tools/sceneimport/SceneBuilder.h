// Scene building: the model's node tree sampled frame by frame into world transforms, and its
// meshes, cameras, lights and materials written as the scene file's objects.
#pragma once

#include "engine/SceneFile.h"
#include "sceneimport/Formats.h"
#include "sceneimport/SceneImport.h"

#include <assimp/matrix4x4.h>
#include <assimp/vector3.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct aiCamera;
struct aiLight;
struct aiMesh;
struct aiNode;
struct aiScene;

namespace sceneimport {

class TextureCopier;

// Renamed objects named one by one in warnings; the rest are counted in one.
constexpr size_t kRenameWarnings = 10;
// World matrices kept while sampling, nodes times frames (64 bytes each).
constexpr uint64_t kMaxNodeFrames = 8000000;

struct NodeEntry {
    const aiNode* node;
    int parent;                     // index into the node list, -1 for the root
    std::vector<aiMatrix4x4> world; // per frame
    int32_t objectId = -1;          // -1: not written (the dropped root)
};

class SceneBuilder {
  public:
    SceneBuilder(const aiScene* scene, ModelFormat format, TextureCopier& textures)
        : scene_(scene), format_(format), textures_(textures) {}

    // Fills `out`; "" or the reason the model cannot become a scene.
    std::string build(const ImportOptions& options, scenefile::SceneFile& out);

    // What the build made, for the summary.
    size_t meshes() const { return meshCount_; }
    size_t triangles() const { return triangleCount_; }
    size_t materials() const { return materialIds_.size(); }
    size_t cameras() const { return cameraCount_; }
    size_t lights() const { return lightCount_; }

  private:
    bool isStatic(size_t node) const;
    std::string sample(int step, scenefile::SceneFile& out);
    std::string uniqueName(std::string name);
    void header(scenefile::ObjectHeader& h, const std::string& name, int32_t parent);
    int32_t addMesh(const aiMesh* mesh, const std::string& name, int32_t parent,
                    const std::vector<aiMatrix4x4>& world);
    // A dummy that follows `points`, for cameras and lights that aim at it.
    int32_t addTarget(const std::string& name, int32_t parent, const std::vector<aiVector3D>& points);
    bool addCamera(const aiCamera* from, const std::string& name, int32_t parent,
                   const std::vector<aiMatrix4x4>& world, int32_t& id);
    bool addLight(const aiLight* from, const std::string& name, int32_t parent,
                  const std::vector<aiMatrix4x4>& world, int32_t& id);
    void addNode(size_t index);

    const aiScene* scene_;
    ModelFormat format_;
    TextureCopier& textures_;
    std::vector<NodeEntry> nodes_;
    std::map<std::string, const aiCamera*> cameras_;
    std::map<std::string, const aiLight*> lights_;
    std::vector<scenefile::Chunk> objects_;
    std::map<unsigned, int32_t> materialIds_; // assimp material index -> scene material id
    std::unordered_set<std::string> names_;
    std::unordered_map<std::string, size_t> nextNumber_; // per taken name: numbers given so far
    size_t renamed_ = 0;
    int32_t nextId_ = 1;
    size_t lightCount_ = 0, meshCount_ = 0, cameraCount_ = 0, triangleCount_ = 0;
    bool dropRoot_ = false;
};

} // namespace sceneimport
