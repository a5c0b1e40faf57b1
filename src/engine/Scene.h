// A loaded 3D scene: the object tree, cameras, lights and materials, the mapping of time onto
// animation frames, and per-frame rendering with an optional shadow map from one light.
#pragma once

#include "engine/Math3D.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class Camera;
class Light;
class Material;
class SceneObject;
class MeshObject;

class Scene {
  public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    void setFrames(int frameCount, int unitsPerFrame);

    // The scene owns what it is given. Inserted unless a material of that id is present
    // (then the new one is deleted).
    void addMaterial(Material* material);
    // Meshes and dummies; parent -1 appends to the top-level chain.
    void addObject(SceneObject* object, int32_t parentId);
    // Parent -1: kept in the list only, in no chain.
    void addCamera(Camera* camera, int32_t parentId);
    // The light's GL number becomes its index in the light list.
    void addLight(Light* light, int32_t parentId);
    // Binds meshes to materials (building their arrays), moves transparent top-level objects
    // to the end of the chain, resolves camera and light targets.
    void finishLoading();

    SceneObject* findObjectByName(const std::string& name) const;
    SceneObject* findObjectById(int32_t id) const;
    Light* findLightByName(const std::string& name) const;
    // Makes the first camera of that name current; -1 when there is none (the current camera
    // stays), else its index.
    int findCameraIndexByName(const std::string& name);
    Material* findMaterial(int32_t id) const;

    void setCamera(int index);
    Camera* currentCamera() const;
    int currentCameraIndex() const { return currentCamera_; }
    Light* currentLight() const;
    int cameraCount() const { return static_cast<int>(cameras_.size()); }
    int lightCount() const { return static_cast<int>(lights_.size()); }
    Camera* camera(int index) const { return cameras_[static_cast<size_t>(index)]; }
    Light* light(int index) const { return lights_[static_cast<size_t>(index)]; }

    void setLoop(bool loop) { loop_ = loop; }
    void setMorph(float startFrame, float rate, bool loop);
    // Maps t (in the scene's units) onto a frame index and a fraction.
    void setTime(float t);
    // Every object of the objects list samples its tracks at the current frame.
    void animate();
    void render();
    // Ignored with fewer than 3 texture units.
    void setShadows(bool on);
    // Every light's colours to GL, then lighting on (when an effect starts).
    void applyLightColours();
    // Draws the scene once into a small render target of its own, and once more with the shadow
    // pass of `caster` when one is given (null: the scene never casts shadows), so that the driver
    // makes the programs of these states at load time rather than in the frame where the scene
    // first shows. `setting` names the GL state the caller wraps around it (0: none; 1: an effect's
    // fragment program; up to 15). What later frames read (shadow switches, light colours, the
    // meshes' bump vectors) is put back as it was; each pass is drawn once per scene and setting.
    void warmUp(Light* caster, int setting = 0);

    // Test seam: take the copy-to-texture shadow path even where depth render targets exist.
    void setDepthTargetAvailable(bool available) { depthTargetAvailable_ = available; }
    bool depthTargetAvailable() const { return depthTargetAvailable_; }
    // True while this frame's objects are drawn against a fresh shadow map.
    bool shadowMapActive() const { return shadowMapActive_; }

    SceneObject* root() const { return root_; }
    const std::vector<SceneObject*>& objects() const { return objects_; }
    const std::map<int32_t, Material*>& materials() const { return materials_; }
    int frameCount() const { return frameCount_; }
    int unitsPerFrame() const { return unitsPerFrame_; }
    int frameIndex() const { return frameIndex_; }
    float fraction() const { return fraction_; }
    bool loop() const { return loop_; }
    bool shadows() const { return shadows_; }
    int shadowMapSize() const { return shadowMapSize_; }
    void setShadowMapSize(int size) { shadowMapSize_ = size; }
    int morphStartFrame() const { return morphStart_; }
    float morphRate() const { return morphRate_; }
    bool morphLoop() const { return morphLoop_; }
    bool culling() const { return culling_; }
    const float* shadowTextureMatrix() const { return shadowMatrix_; }

    // Size of the process-wide depth render target of the shadow pass.
    static constexpr int shadowTargetSize = 1024;

  private:
    void attachParent(SceneObject* object, int32_t parentId);
    // Links `object` after the last of the top-level chain or of `parent`'s children.
    void appendTopLevel(SceneObject* object);
    void appendChildOf(SceneObject* parent, SceneObject* object);
    void reorderTransparent();
    Light* shadowCaster() const;
    void shadowMapPass(Light* caster);
    void bindShadowMap();

    int shadowMapSize_ = 512;
    int morphStart_ = 0;
    float morphRate_ = 0.0f;
    bool morphLoop_ = false;
    SceneObject* root_ = nullptr;
    std::vector<Camera*> cameras_;
    int currentCamera_ = 0;
    std::vector<Light*> lights_;
    std::vector<Light*> freeLights_; // added with parent -1: in no chain
    int currentLight_ = 0;
    std::map<int32_t, Material*> materials_;
    std::vector<SceneObject*> objects_;
    // Loading stays linear in the number of objects: the first object of each id and name, the
    // end of the top-level chain and of each parent's children (only the loader links chains).
    std::unordered_map<int32_t, SceneObject*> byId_;
    std::unordered_map<std::string, SceneObject*> byName_;
    SceneObject* rootTail_ = nullptr;
    std::unordered_map<SceneObject*, SceneObject*> lastChild_;
    int frameCount_ = 1;
    int unitsPerFrame_ = 1;
    int frameIndex_ = 0;
    float fraction_ = 0.0f;
    bool loop_ = false;
    bool culling_ = true;
    bool shadows_ = false;
    bool depthTargetAvailable_ = false;
    bool shadowMapActive_ = false;
    bool usedDepthTarget_ = false;
    unsigned warmed_ = 0; // passes warmUp drew: bit 2 × setting without shadows, the next with
    float shadowMatrix_[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};
