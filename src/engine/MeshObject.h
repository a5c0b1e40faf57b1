// A triangle mesh: the loaded vertex, face and coordinate data, the flat drawing arrays built
// once its material is known (kept in buffer objects where the driver has them), per-vertex
// morphing and the tangent-space light vectors of bump-mapped materials.
#pragma once

#include "engine/SceneObject.h"
#include "platform/GL.h"

#include <cstdint>
#include <vector>

struct MeshVertex {
    Vector3 position;
    ColorRGBA colour;   // kept from the file, not drawn
    int32_t normal = 0; // index of its normal (normals are one per vertex, in vertex order)
};

struct MeshFace {
    int32_t vertex[3] = {0, 0, 0}; // vertex indices in drawing order
};

class MeshObject : public SceneObject {
  public:
    MeshObject(int32_t id, const std::string& name);
    ~MeshObject() override;

    SceneObject* clone() const override;
    void animate(int frame, float fraction) override;
    Material* material() const override { return material_; }
    void draw() override;
    void drawDepth() override;
    // Makes the drawing arrays (and buffer objects); runs once, from bindScene.
    virtual void build();

    void setMaterialId(int32_t id) { materialId_ = id; }
    void setVertices(std::vector<MeshVertex> vertices) { vertices_ = std::move(vertices); }
    void setNormals(std::vector<Vector3> normals) { normals_ = std::move(normals); }
    void setCoordinateSet0(std::vector<TexCoord> set) { set0_ = std::move(set); }
    void setCoordinateSet1(std::vector<TexCoord> set) { set1_ = std::move(set); }
    void setFaces(std::vector<MeshFace> faces) { faces_ = std::move(faces); }
    // frameCount × vertex count × 3 floats each; switches buffer objects off for this mesh.
    void setMorphData(int frameCount, std::vector<float> positions, std::vector<float> normals);
    // Blends the morph frames for x = frame index + fraction with the scene's morph settings.
    void morph(float frameTime);

    // What a draw leaves for the next one to reuse: the bump vectors, their tangent frame and the
    // light they were made for. Taken before and put back after a draw that must leave no trace.
    struct DrawCache {
        std::vector<float> bump;
        std::vector<Vector3> tangents, bitangents;
        Vector3 light;
        bool valid = false;
    };
    DrawCache drawCache() const { return {bumpArray_, tangents_, bitangents_, bumpLight_, bumpValid_}; }
    void restoreDrawCache(DrawCache cache);

    int32_t materialId() const { return materialId_; }
    Scene* scene() const { return scene_; }
    bool shadowReceiver() const { return shadowReceiver_; }
    bool usesBufferObjects() const { return useBufferObjects_; }
    bool built() const { return built_; }
    int morphFrameCount() const { return morphFrames_; }
    const std::vector<MeshVertex>& vertices() const { return vertices_; }
    const std::vector<Vector3>& normals() const { return normals_; }
    const std::vector<TexCoord>& coordinateSet0() const { return set0_; }
    const std::vector<TexCoord>& coordinateSet1() const { return set1_; }
    const std::vector<MeshFace>& faces() const { return faces_; }
    // The drawing arrays (empty until build).
    const std::vector<float>& positionArray() const { return positionArray_; }
    const std::vector<float>& normalArray() const { return normalArray_; }
    const std::vector<float>& environmentArray() const { return environmentArray_; }
    const std::vector<float>& bumpVectorArray() const { return bumpArray_; }

  protected:
    void bindSelf(Scene* scene) override;
    void setShadowReceiverSelf(bool receiver) override { shadowReceiver_ = receiver; }
    void setMaterialSelf(Material* material) override { material_ = material; }
    void setShadeModelSelf(int model) override;

  private:
    void drawArrays();
    void generateEnvironmentCoordinates();
    void computeTangents();
    void updateBumpVectors();
    void releaseBuffers();
    void drawElements(bool vbo);

    std::vector<MeshVertex> vertices_;
    std::vector<Vector3> normals_;
    std::vector<MeshFace> faces_;
    std::vector<TexCoord> set0_;
    std::vector<TexCoord> set1_;
    int32_t materialId_ = -1;
    Material* material_ = nullptr;
    Scene* scene_ = nullptr;
    bool shadowReceiver_ = false;
    bool built_ = false;

    std::vector<GLuint> indexArray_;
    std::vector<float> positionArray_;
    std::vector<float> normalArray_;
    std::vector<float> set0Array_;
    std::vector<float> set1Array_;
    std::vector<float> environmentArray_;
    std::vector<float> bumpArray_;
    // Per-vertex tangent frame from coordinate set 0, for the bump vectors.
    std::vector<Vector3> tangents_;
    std::vector<Vector3> bitangents_;
    Vector3 bumpLight_; // object-space light position the bump vectors were made for
    bool bumpValid_ = false;

    GLuint buffers_[4] = {0, 0, 0, 0}; // positions, normals, set 0, set 1
    GLuint indexBuffer_ = 0;           // the triangle list, so a static mesh sends nothing per draw
    bool useBufferObjects_ = false;

    int morphFrames_ = 0;
    std::vector<float> morphPositions_;
    std::vector<float> morphNormals_;
    bool atMorphEnd_ = false;
};
