// A scene that uses every construct of the scene file, for round trips, tool runs and fuzz seeds.
#pragma once

#include "engine/SceneFile.h"

namespace sample {

inline scenefile::Mesh quadMesh(const std::string& name, int32_t id, int32_t materialId,
                                int32_t parentId = -1) {
    scenefile::Mesh m;
    m.header.name = name;
    m.header.id = id;
    m.header.parentId = parentId;
    m.header.materialId = materialId;
    m.vertices = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    m.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    m.faces = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

// Three frames (0, 10, 20 with step 10), two materials (one with duplicate and out-of-range slots),
// a textured spot with a target, a camera, a dummy parent with an animated child mesh that has all
// coordinate sets and colours, a bare object.
inline scenefile::SceneFile richScene() {
    using namespace scenefile;
    SceneFile s;
    s.firstFrame = 0;
    s.lastFrame = 20;
    s.frameStep = 10;

    Material stone;
    stone.reserved0 = 7;
    stone.id = 1;
    stone.name = "stone";
    stone.reserved1 = 0.5f;
    stone.diffuse = {0.9f, 0.8f, 0.7f};
    stone.ambient = {0.1f, 0.2f, 0.3f};
    stone.specular = {1, 1, 1};
    stone.opacity = 1;
    stone.shininess = 0.25f;
    stone.specularLevel = 0.5f;
    stone.textures = {{"C:\\maps\\stone.png", DiffuseMap},
                      {"other.png", DiffuseMap},
                      {"env.png", ReflectionMap},
                      {"ignored.png", 12}};
    Material glass;
    glass.id = 2;
    glass.name = "glass";
    glass.opacity = 0.5f;
    s.chunks.push_back(MaterialList{{stone, glass}});

    Dummy root;
    root.header.name = "Root";
    root.header.id = 10;
    root.header.position = {1, 2, 3};
    root.header.rotation = {0, 0.7071068f, 0, 0.7071068f};
    root.header.scale = {2, 2, 2};
    root.header.secondaryScale = {1, 0.5f, 1};
    root.header.positionKeys = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    root.header.rotationKeys = {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0.7071068f, 0.7071068f}};
    root.header.scaleKeys = {{1, 1, 1}, {1, 1, 1}, {3, 3, 3}};
    s.chunks.push_back(root);

    Mesh box = quadMesh("Box01", 11, 1, 10);
    box.coordinateSets[0] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    box.coordinateSets[1] = {{0, 0.5f}, {1, 0.5f}, {1, 1}, {0, 1}};
    box.coordinateSets[2] = {{0.25f, 0}, {0.75f, 0}, {0.75f, 1}, {0.25f, 1}};
    box.colours = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    box.header.positionKeys = {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}};
    s.chunks.push_back(box);

    s.chunks.push_back(quadMesh("Pane", 12, 2));

    Light spot;
    spot.header.name = "Spot01";
    spot.header.id = 20;
    spot.header.position = {0, 10, 10};
    spot.kind = TargetSpotLight;
    spot.colour = {1, 0.5f, 0};
    spot.multiplier = 2;
    spot.reserved = {3, 4};
    spot.range = 100;
    spot.coneAngle = 120;
    spot.coneExponent = 200;
    spot.targetId = 11;
    spot.hasTexture = true;
    spot.texture = "gobo.png";
    s.chunks.push_back(spot);

    Light omni;
    omni.header.name = "Omni01";
    omni.header.id = 21;
    s.chunks.push_back(omni);

    Camera cam;
    cam.header.name = "Camera01";
    cam.header.id = 30;
    cam.header.position = {0, 0, 50};
    cam.fieldOfView = 1.5707964f;
    cam.nearClip = 2;
    cam.farClip = 900;
    cam.reserved = 1;
    cam.targetId = 10;
    s.chunks.push_back(cam);

    BareObject bare;
    bare.id = 40;
    bare.name = "Bare";
    bare.reserved = 5;
    s.chunks.push_back(bare);
    return s;
}

} // namespace sample
