// Plays a loaded 3D scene inside the timeline: the effect's phase drives the scene's animation,
// its parameters choose the camera, field of view and shadows, and signals select objects and
// lights to switch. "Scene0".."Scene9" are all this effect; morphing and scratch scenes derive
// from it.
#pragma once

#include "demo/Effect.h"
#include "engine/Math3D.h"

#include <string>

class Scene;
class SceneObject;
class Light;
class MeshObject;

class Effect3D : public Effect {
  public:
    explicit Effect3D(const std::string& name);

    void start(int time) override;
    void prepare(int time) override;
    void update(int time) override;
    // All of the scene effect's update: it only sets scene state (Scratch draws in update too).
    void updateState(int time) override;
    void patternStep(float phase) override;
    void render(int time) override;
    void signal(const Signal& s) override;
    // List 0 holds scene file names: each one added is loaded at once.
    void listItemAdded(int listId, const std::string& item, int count) override;
    // The scene's passes, with shadows when a key of "Shadows" turns them on.
    void warmUp() override;
    // The same under the GL state an effect that draws this one sets around it (see Scene::warmUp).
    void warmUpScene(int setting);
    // Loads a scene file through the scene cache; false when the name is empty, the same as the
    // last one, or the file cannot be loaded (the previous scene then stays).
    bool load(const std::string& fileName);
    // Makes a loaded scene this effect's scene (camera list, field of view, shadow light); the
    // derived scenes attach what they add here. Fatal for a scene without a camera.
    virtual bool adopt(Scene* loaded, const std::string& fileName);

    // The scene's first mesh of that exact name that has a material (only those have drawing
    // arrays to morph or to show a picture on), or nullptr.
    static MeshObject* findMeshWithMaterial(const Scene& scene, const std::string& name);

    static constexpr const char* textureDirectory = "data/textures/";
    // The light whose shadow the scene casts when shadows are on.
    static constexpr const char* shadowLightName = "Spot01";

    BoolVariable loop{false};    // "Loop"
    BoolVariable shadows{false}; // "Shadows"
    IntVariable camera{0};       // "Camera", an index into list 1000 (camera names)
    FloatVariable fov{0.25f};    // "FOV", vertical field of view / 180
    BoolVariable fog{false};     // "Fog" .. "FogEnd": accepted, unused
    IntVariable fogMode{0};      // "FogMode"
    FloatVariable fogR{0.0f}, fogG{0.0f}, fogB{0.0f};
    FloatVariable fogDensity{0.5f};
    FloatVariable fogScale{0.016666668f};
    FloatVariable fogStart{0.2f};
    FloatVariable fogEnd{2.0f};
    IntVariable datafile{0};        // "Datafile", an index into list 0 (scene files)
    BoolVariable lightingOn{false}; // "LightingOn" .. "VShader": accepted, unused
    BoolVariable lightingOff{false};
    BoolVariable moreLight{false};
    BoolVariable vShader{false};

    Scene* scene = nullptr; // owned by the scene cache
    std::string dataFileName;
    int loadedIndex = -1;
    SceneObject* selectedObject = nullptr;
    Light* selectedLight = nullptr;
    Light* shadowLight = nullptr;
    Vector3 rotationSpeed; // degrees per unit of phase, for the selected object
    bool cameraByName = false;
    bool frozen = false;
    float frozenPhase = 0.0f;

  protected:
    // Scene time, animation and drawing at the given scene time.
    void drawScene(float sceneTime);

  private:
    bool shadowsApplied = false; // whether appliedShadows holds a value set from "Shadows"
    bool appliedShadows = false;
};
