// Small scene files for the whole-program tests of the scene effects, written with the scene writer.
#pragma once

#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"

#include <string>

namespace testscenes {

inline scenefile::Material material(int32_t id, const std::string& name, scenefile::Float3 colour) {
    scenefile::Material m;
    m.id = id;
    m.name = name;
    m.diffuse = colour;
    m.ambient = {colour[0] * 0.25f, colour[1] * 0.25f, colour[2] * 0.25f};
    return m;
}

// A horizontal square at height y, facing up (and down too when twoSided).
inline scenefile::Mesh square(const std::string& name, int32_t id, int32_t materialId, float half, float y,
                              bool twoSided) {
    scenefile::Mesh m;
    m.header.name = name;
    m.header.id = id;
    m.header.materialId = materialId;
    m.vertices = {{-half, y, -half}, {-half, y, half}, {half, y, half}, {half, y, -half}};
    m.normals = {{0, 1, 0}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}};
    m.coordinateSets[0] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    m.faces = {{0, 1, 2}, {0, 2, 3}};
    if (twoSided) {
        m.faces.push_back({2, 1, 0});
        m.faces.push_back({3, 2, 0});
    }
    return m;
}

inline scenefile::Dummy dummy(const std::string& name, int32_t id, scenefile::Float3 position) {
    scenefile::Dummy d;
    d.header.name = name;
    d.header.id = id;
    d.header.position = position;
    return d;
}

inline scenefile::Camera camera(const std::string& name, int32_t id, scenefile::Float3 position,
                                int32_t target) {
    scenefile::Camera c;
    c.header.name = name;
    c.header.id = id;
    c.header.position = position;
    c.targetId = target;
    c.nearClip = 1;
    c.farClip = 200;
    return c;
}

// A grey ground 20 x 20 at y = 0, a red two-sided square 2 x 2 at y = 3 over the origin, the spot
// light "Spot01" up and to the left (-6, 10, 0) aimed at the origin, and two cameras: "CamA" at
// (0, 20, 12) and "CamB" at (0, 20, -12), both aimed at the origin. With Spot01 the red square
// throws its shadow onto the ground right of the origin (x from about 1.1 to 4).
inline scenefile::SceneFile shadowScene() {
    using namespace scenefile;
    SceneFile s;
    s.chunks.push_back(
        MaterialList{{material(1, "ground", {0.8f, 0.8f, 0.8f}), material(2, "red", {1, 0, 0})}});
    s.chunks.push_back(dummy("Centre", 1, {0, 0, 0}));
    s.chunks.push_back(square("Ground", 2, 1, 10, 0, false));
    s.chunks.push_back(square("Blocker", 3, 2, 1, 3, true));
    Light spot;
    spot.header.name = "Spot01";
    spot.header.id = 4;
    spot.header.position = {-6, 10, 0};
    spot.kind = TargetSpotLight;
    spot.coneAngle = 150;
    spot.targetId = 1;
    s.chunks.push_back(spot);
    s.chunks.push_back(camera("CamA", 5, {0, 20, 12}, 1));
    s.chunks.push_back(camera("CamB", 6, {0, 20, -12}, 1));
    return s;
}

} // namespace testscenes

namespace testscenes {

// A square in the plane z = 0 facing +z, centred at (cx, cy).
inline scenefile::Mesh upright(const std::string& name, int32_t id, int32_t materialId, float cx, float cy,
                               float half) {
    scenefile::Mesh m;
    m.header.name = name;
    m.header.id = id;
    m.header.materialId = materialId;
    m.vertices = {{cx - half, cy - half, 0},
                  {cx + half, cy - half, 0},
                  {cx + half, cy + half, 0},
                  {cx - half, cy + half, 0}};
    m.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    m.coordinateSets[0] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    m.faces = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

// Morph frames for a mesh: frame k moves every vertex by k * step along x.
inline scenefile::MorphData slidingMorph(const scenefile::Mesh& mesh, int frames, float step) {
    scenefile::MorphData morph;
    morph.frameCount = frames;
    morph.vertexCount = static_cast<int32_t>(mesh.vertices.size());
    for (int k = 0; k < frames; ++k) {
        for (const scenefile::Float3& v : mesh.vertices) {
            morph.positions.push_back(v[0] + static_cast<float>(k) * step);
            morph.positions.push_back(v[1]);
            morph.positions.push_back(v[2]);
        }
        for (const scenefile::Float3& n : mesh.normals)
            morph.normals.insert(morph.normals.end(), n.begin(), n.end());
    }
    return morph;
}

// One upright white square "name" of half-size 1 at the origin, 101 animation frames, a camera
// "Cam" at (0, 0, 10) aimed at the origin, and (optionally) an omni light in front.
inline scenefile::SceneFile frontScene(const std::string& name, bool withLight,
                                       const std::string& texture = "") {
    using namespace scenefile;
    SceneFile s;
    s.lastFrame = 100;
    Material white = material(1, "white", {1, 1, 1});
    white.ambient = {1, 1, 1};
    if (!texture.empty()) white.textures.push_back({texture, DiffuseMap});
    s.chunks.push_back(MaterialList{{white}});
    s.chunks.push_back(dummy("Centre", 1, {0, 0, 0}));
    s.chunks.push_back(upright(name, 2, 1, 0, 0, 1));
    if (withLight) {
        Light omni;
        omni.header.name = "Omni01";
        omni.header.id = 3;
        omni.header.position = {0, 0, 8};
        s.chunks.push_back(omni);
    }
    s.chunks.push_back(camera("Cam", 4, {0, 0, 10}, 1));
    return s;
}

} // namespace testscenes
