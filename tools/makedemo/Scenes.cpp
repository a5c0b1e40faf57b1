// The demo's 3D scenes, written with the scene writer, with their morph data and textures:
//   data/scenes/showcase.qzg  a lit stage: a colonnade with arches before a bump-mapped wall, an urn
//                             circled by a mirror ball, a torus knot; "Spot01" casting shadows,
//                             three cameras (CamWide, CamLow, CamTop)
//   data/scenes/flower.qzg    six petals "blomsterblad01".."06" that open (morph data per petal)
//   data/scenes/hode.qzg      a head "Box01" that breathes (morph data)
//   data/scenes/scratch.qzg   three screens "screen1".."screen3" for the Scratch effect, housed, on stands
//   data/textures/ground.png, mirror.png, stone.png, bricks_nm.png, plaster.png, bronze.png,
//                 glow.png, fret.png, fret_mask.png, skin.png, screen.png, petal.png
#include "engine/SceneFile.h"
#include "engine/SceneWriter.h"
#include "makedemo/ContentSteps.h"
#include "resources/PngWriter.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;
using namespace scenefile;

namespace {

constexpr float kPi = 3.14159265f;

unsigned char channel(float v) {
    return static_cast<unsigned char>(std::lround(std::fmin(1.0f, std::fmax(0.0f, v)) * 255));
}

// `withAlpha`: an opaque alpha byte after each colour, for a base texture that an opacity map
// will write its alpha into (the engine only writes into four-byte pixels).
bool writeTexture(const fs::path& dir, const char* name, int size,
                  const std::function<void(float u, float v, float rgb[3])>& colour, bool withAlpha = false) {
    const int channels = withAlpha ? 4 : 3;
    std::vector<unsigned char> bytes(static_cast<size_t>(size) * size * channels, 255);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float rgb[3];
            colour((static_cast<float>(x) + 0.5f) / static_cast<float>(size),
                   (static_cast<float>(y) + 0.5f) / static_cast<float>(size), rgb);
            for (int c = 0; c < 3; ++c)
                bytes[(static_cast<size_t>(y) * size + x) * channels + c] = channel(rgb[c]);
        }
    const fs::path path = dir / name;
    const bool written = withAlpha ? writeRgbaPng(path.string(), size, size, bytes.data(), false)
                                   : writeRgbPng(path.string(), size, size, bytes.data(), false, false);
    if (!written) {
        fprintf(stderr, "holdfast-makedemo: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

Material material(int32_t id, const char* name, Float3 diffuse, const char* texture = nullptr,
                  int32_t type = DiffuseMap) {
    Material m;
    m.id = id;
    m.name = name;
    m.diffuse = diffuse;
    m.ambient = {diffuse[0] * 0.3f, diffuse[1] * 0.3f, diffuse[2] * 0.3f};
    m.specular = {1, 1, 1};
    m.shininess = 0.3f;
    m.specularLevel = 0.4f;
    if (texture) m.textures.push_back({texture, type});
    return m;
}

ObjectHeader header(const char* name, int32_t id, Float3 position, int32_t parent = -1) {
    ObjectHeader h;
    h.name = name;
    h.id = id;
    h.parentId = parent;
    h.position = position;
    return h;
}

// A flat grid in the xz plane (facing up), cells x cells, with texture coordinates repeated `tile` times.
Mesh ground(const char* name, int32_t id, int32_t materialId, float half, int cells, float tile) {
    Mesh m;
    m.header = header(name, id, {0, 0, 0});
    m.header.materialId = materialId;
    for (int j = 0; j <= cells; ++j)
        for (int i = 0; i <= cells; ++i) {
            const float u = static_cast<float>(i) / static_cast<float>(cells);
            const float v = static_cast<float>(j) / static_cast<float>(cells);
            m.vertices.push_back({-half + 2 * half * u, 0, -half + 2 * half * v});
            m.normals.push_back({0, 1, 0});
            m.coordinateSets[0].push_back({u * tile, v * tile});
        }
    for (int j = 0; j < cells; ++j)
        for (int i = 0; i < cells; ++i) {
            const int32_t a = j * (cells + 1) + i, b = a + 1, c = a + cells + 1, d = c + 1;
            m.faces.push_back({a, c, d});
            m.faces.push_back({a, d, b});
        }
    return m;
}

// A UV sphere. `crowd` > 0 gathers the rings towards the equator and the segments towards +z
// (up to 1 / (1 - crowd) times as dense there), for detail where a face will be.
Mesh sphere(const char* name, int32_t id, int32_t materialId, Float3 position, float radius, int rings,
            int segments, int32_t parent = -1, float crowd = 0) {
    Mesh m;
    m.header = header(name, id, position, parent);
    m.header.materialId = materialId;
    for (int r = 0; r <= rings; ++r) {
        const float b = static_cast<float>(r) / static_cast<float>(rings);
        const float theta = kPi * b + crowd * std::sin(2 * kPi * b) / 2;
        for (int s = 0; s <= segments; ++s) {
            const float a = 2 * kPi * static_cast<float>(s) / static_cast<float>(segments);
            // Crowded about a = pi, turned so that lies at +z; the seam stays at -z.
            const float phi = a - crowd * std::sin(a - kPi) - (crowd > 0 ? kPi / 2 : 0);
            const Float3 n{std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)};
            m.vertices.push_back({n[0] * radius, n[1] * radius, n[2] * radius});
            m.normals.push_back(n);
            m.coordinateSets[0].push_back({static_cast<float>(s) / static_cast<float>(segments),
                                           static_cast<float>(r) / static_cast<float>(rings)});
        }
    }
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const int32_t a = r * (segments + 1) + s, b = a + 1, c = a + segments + 1, d = c + 1;
            m.faces.push_back({a, b, d});
            m.faces.push_back({a, d, c});
        }
    return m;
}

// An upright box (column) with its own normals per side.
Mesh box(const char* name, int32_t id, int32_t materialId, Float3 position, Float3 half,
         int32_t parent = -1) {
    Mesh m;
    m.header = header(name, id, position, parent);
    m.header.materialId = materialId;
    const Float3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int axis = 0; axis < 3; ++axis)
        for (int sign = -1; sign <= 1; sign += 2) {
            const Float3& n0 = axes[axis];
            const Float3 n{n0[0] * static_cast<float>(sign), n0[1] * static_cast<float>(sign),
                           n0[2] * static_cast<float>(sign)};
            const Float3& a = axes[(axis + 1) % 3];
            const Float3& b = axes[(axis + 2) % 3];
            const int32_t base = static_cast<int32_t>(m.vertices.size());
            const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (const auto& c : corners) {
                Float3 p;
                for (int k = 0; k < 3; ++k)
                    p[k] = (n[k] + a[k] * c[0] + b[k] * c[1]) * half[k];
                m.vertices.push_back(p);
                m.normals.push_back(n);
                m.coordinateSets[0].push_back({(c[0] + 1) * 0.5f, (c[1] + 1) * 0.5f});
            }
            // (a x b) = n for the positive side: counter-clockwise seen from outside.
            if (sign > 0) {
                m.faces.push_back({base, base + 1, base + 2});
                m.faces.push_back({base, base + 2, base + 3});
            } else {
                m.faces.push_back({base, base + 2, base + 1});
                m.faces.push_back({base, base + 3, base + 2});
            }
        }
    return m;
}

Float3 sub(const Float3& a, const Float3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Float3 cross(const Float3& a, const Float3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Float3 normalised(const Float3& v) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length <= 0) return {0, 1, 0};
    return {v[0] / length, v[1] / length, v[2] / length};
}

// Vertex normals from the faces (area-weighted), shared by vertices at the same place, so the
// seams of lathes and tubes do not show.
std::vector<Float3> smoothNormals(const std::vector<Float3>& vertices,
                                  const std::vector<std::array<int32_t, 3>>& faces) {
    std::vector<Float3> sums(vertices.size(), Float3{0, 0, 0});
    for (const auto& f : faces) {
        const Float3 n = cross(sub(vertices[f[1]], vertices[f[0]]), sub(vertices[f[2]], vertices[f[0]]));
        for (int32_t i : f)
            for (int k = 0; k < 3; ++k)
                sums[i][k] += n[k];
    }
    std::map<std::array<long, 3>, Float3> byPlace;
    auto key = [](const Float3& p) {
        return std::array<long, 3>{std::lround(p[0] * 1000), std::lround(p[1] * 1000),
                                   std::lround(p[2] * 1000)};
    };
    for (size_t i = 0; i < vertices.size(); ++i) {
        Float3& sum = byPlace[key(vertices[i])];
        for (int k = 0; k < 3; ++k)
            sum[k] += sums[i][k];
    }
    std::vector<Float3> normals(vertices.size());
    for (size_t i = 0; i < vertices.size(); ++i)
        normals[i] = normalised(byPlace[key(vertices[i])]);
    return normals;
}

// Faces of a grid of (rows + 1) x (columns + 1) vertices, row after row, facing the side where
// the rows run along +u and the columns along +v turn counter-clockwise.
void gridFaces(Mesh& m, int rows, int columns, bool flip) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int32_t a = r * (columns + 1) + c, b = a + 1, d = a + columns + 1, e = d + 1;
            if (flip) {
                m.faces.push_back({a, e, b});
                m.faces.push_back({a, d, e});
            } else {
                m.faces.push_back({a, b, e});
                m.faces.push_back({a, e, d});
            }
        }
}

// A lathe-turned solid: the profile (radius, height) from bottom to top turned about the y
// axis; `flutes` grooves run up the middle of the profile where `fluteDepth` > 0.
Mesh lathe(const char* name, int32_t id, int32_t materialId, Float3 position,
           const std::vector<std::array<float, 2>>& profile, int segments, int flutes = 0,
           float fluteDepth = 0, int32_t parent = -1) {
    Mesh m;
    m.header = header(name, id, position, parent);
    m.header.materialId = materialId;
    const int rows = static_cast<int>(profile.size()) - 1;
    for (int i = 0; i <= rows; ++i) {
        const float along = static_cast<float>(i) / static_cast<float>(rows);
        // Flutes fade in and out over the lowest and highest fifth of the profile.
        const float fade = std::fmin(1.0f, std::fmin(along, 1 - along) * 5.0f);
        for (int s = 0; s <= segments; ++s) {
            const float phi = 2 * kPi * static_cast<float>(s) / static_cast<float>(segments);
            const float groove =
                flutes > 0 ? fluteDepth * fade * std::pow(std::fabs(std::cos(phi * flutes * 0.5f)), 0.5f) : 0;
            const float r = profile[i][0] - groove;
            m.vertices.push_back({r * std::cos(phi), profile[i][1], r * std::sin(phi)});
            m.coordinateSets[0].push_back({static_cast<float>(s) / static_cast<float>(segments) * 2, along});
        }
    }
    gridFaces(m, rows, segments, true);
    m.normals = smoothNormals(m.vertices, m.faces);
    return m;
}

// A tube of `sides` around a path; `radial` gives for each path point the direction the
// cross-section's first axis leans towards (kept square to the path).
Mesh tube(const char* name, int32_t id, int32_t materialId, Float3 position, const std::vector<Float3>& path,
          const std::vector<Float3>& radial, float radius, int sides, float tileAlong, int32_t parent = -1) {
    Mesh m;
    m.header = header(name, id, position, parent);
    m.header.materialId = materialId;
    const int rows = static_cast<int>(path.size()) - 1;
    for (int i = 0; i <= rows; ++i) {
        const Float3 tangent = normalised(sub(path[std::min(i + 1, rows)], path[std::max(i - 1, 0)]));
        const Float3 b = normalised(cross(tangent, radial[i]));
        const Float3 n = cross(b, tangent);
        for (int s = 0; s <= sides; ++s) {
            const float a =
                2 * kPi * static_cast<float>(s) / static_cast<float>(sides) + kPi / static_cast<float>(sides);
            const float c = std::cos(a), d = std::sin(a);
            m.vertices.push_back({path[i][0] + radius * (n[0] * c + b[0] * d),
                                  path[i][1] + radius * (n[1] * c + b[1] * d),
                                  path[i][2] + radius * (n[2] * c + b[2] * d)});
            m.coordinateSets[0].push_back({static_cast<float>(i) / static_cast<float>(rows) * tileAlong,
                                           static_cast<float>(s) / static_cast<float>(sides)});
        }
    }
    gridFaces(m, rows, sides, false);
    m.normals = smoothNormals(m.vertices, m.faces);
    // The outward side is the one the normals point to: turn the faces if they disagree.
    const auto& f = m.faces.front();
    const Float3 facing =
        cross(sub(m.vertices[f[1]], m.vertices[f[0]]), sub(m.vertices[f[2]], m.vertices[f[0]]));
    const Float3 out = sub(m.vertices[f[0]], path[0]);
    if (facing[0] * out[0] + facing[1] * out[1] + facing[2] * out[2] < 0) {
        for (auto& face : m.faces)
            std::swap(face[1], face[2]);
    }
    return m;
}

// A (p, q) torus knot around the y axis: ring radius R, the path winding r around it.
Mesh torusKnot(const char* name, int32_t id, int32_t materialId, Float3 position, int p, int q, float R,
               float r, float thickness) {
    std::vector<Float3> path, radial;
    const int steps = 240;
    for (int i = 0; i <= steps; ++i) {
        const float t = 2 * kPi * static_cast<float>(i) / static_cast<float>(steps);
        const float ring = R + r * std::cos(static_cast<float>(q) * t);
        const float pt = static_cast<float>(p) * t;
        path.push_back({ring * std::cos(pt), r * std::sin(static_cast<float>(q) * t), ring * std::sin(pt)});
        // Away from the ring's centre line: never along the path.
        const Float3 centre{R * std::cos(pt), 0, R * std::sin(pt)};
        radial.push_back(sub(path.back(), centre));
    }
    return tube(name, id, materialId, position, path, radial, thickness, 12, 12);
}

// A flat upright wall facing +z, cells x rows quads, texture coordinates repeated.
Mesh wall(const char* name, int32_t id, int32_t materialId, Float3 position, float halfWidth, float height,
          int cells, int rows, float tileU, float tileV) {
    Mesh m;
    m.header = header(name, id, position);
    m.header.materialId = materialId;
    for (int j = 0; j <= rows; ++j)
        for (int i = 0; i <= cells; ++i) {
            const float u = static_cast<float>(i) / static_cast<float>(cells);
            const float v = static_cast<float>(j) / static_cast<float>(rows);
            m.vertices.push_back({-halfWidth + 2 * halfWidth * u, height * v, 0});
            m.normals.push_back({0, 0, 1});
            m.coordinateSets[0].push_back({u * tileU, v * tileV});
        }
    gridFaces(m, rows, cells, false);
    return m;
}

Camera camera(const char* name, int32_t id, Float3 position, int32_t target, float fovRadians = 0.9f) {
    Camera c;
    c.header = header(name, id, position);
    c.targetId = target;
    c.fieldOfView = fovRadians;
    c.nearClip = 1;
    c.farClip = 300;
    return c;
}

Light omni(const char* name, int32_t id, Float3 position, Float3 colour) {
    Light l;
    l.header = header(name, id, position);
    l.kind = OmniLight;
    l.colour = colour;
    return l;
}

Dummy dummy(const char* name, int32_t id, Float3 position) {
    Dummy d;
    d.header = header(name, id, position);
    return d;
}

Float4 yRotation(float angle) {
    return {0, std::sin(angle * 0.5f), 0, std::cos(angle * 0.5f)};
}

bool write(const SceneFile& scene, const fs::path& path) {
    std::string error;
    if (!writeSceneFile(scene, path.string(), &error)) {
        fprintf(stderr, "holdfast-makedemo: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

bool writeMorph(const MorphData& morph, const fs::path& dataDir, const std::string& mesh) {
    std::string error;
    const fs::path path = dataDir.parent_path() / morphDataPath(mesh);
    if (!writeMorphDataFile(morph, path.string(), &error)) {
        fprintf(stderr, "holdfast-makedemo: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// The stage, 200 frames: a colonnade of fluted, lathe-turned columns joined by arches before a
// bump-mapped brick wall; a bronze urn on a plinth in the middle, circled by the mirror ball; a
// glowing torus knot turning over the floor. Shade models: textured (floor, stone), reflective
// (ball), bump map with environment (wall), additive (knot).
bool showcase(const fs::path& dataDir) {
    SceneFile s;
    s.lastFrame = 199;
    Material wallMaterial = material(5, "bricks", {1, 1, 1}, "bricks_nm.png", BumpMap);
    wallMaterial.textures.push_back({"plaster.png", ReflectionMap});
    // Lit, with a tight warm highlight: it keeps its shine through the depth of field, which
    // draws one texture and the lighting (an environment map would be lost there).
    Material bronze = material(6, "bronze", {1, 0.95f, 0.85f}, "bronze.png");
    bronze.specular = {1, 0.85f, 0.6f};
    bronze.shininess = 0.5f;
    bronze.specularLevel = 1.0f;
    Material glow = material(7, "glow", {1, 1, 1}, "glow.png", RefractionMap);
    // Fretwork: a brass-coloured panel cut through by its opacity map.
    Material fret = material(8, "fretwork", {1, 0.95f, 0.85f}, "fret.png");
    fret.textures.push_back({"fret_mask.png", OpacityMap});
    s.chunks.push_back(MaterialList{{material(1, "ground", {0.9f, 0.9f, 0.9f}, "ground.png"),
                                     material(2, "mirror", {0.8f, 0.8f, 0.9f}, "mirror.png", ReflectionMap),
                                     material(3, "stone", {0.95f, 0.9f, 0.85f}, "stone.png"), wallMaterial,
                                     bronze, glow, fret}});
    s.chunks.push_back(dummy("Stage", 1, {0, 0, 0}));
    s.chunks.push_back(ground("Ground", 2, 1, 30, 12, 6));
    Mesh ball = sphere("Ball", 3, 2, {6, 4, 0}, 1.6f, 16, 24);

    // A column: a square-ish base, a fluted shaft narrowing upwards, a flared capital.
    const std::vector<std::array<float, 2>> columnProfile = {
        {1.3f, 0.0f},  {1.3f, 0.4f}, {1.05f, 0.55f}, {0.95f, 0.8f}, {0.92f, 2.5f}, {0.88f, 4.5f},
        {0.84f, 6.5f}, {0.9f, 6.8f}, {1.2f, 7.2f},   {1.35f, 7.5f}, {1.35f, 7.9f}, {0.0f, 7.9f}};
    const float columnX[4] = {-12, -4, 4, 12};
    const char* columnNames[4] = {"Column", "Column02", "Column03", "Column04"};
    for (int c = 0; c < 4; ++c)
        s.chunks.push_back(
            lathe(columnNames[c], 4 + (c ? c + 2 : 0), 3, {columnX[c], 0, -9}, columnProfile, 40, 16, 0.07f));
    // Arches from capital to capital: half circles swept with a square section.
    const char* archNames[3] = {"Arch01", "Arch02", "Arch03"};
    for (int a = 0; a < 3; ++a) {
        std::vector<Float3> path, radial;
        for (int i = 0; i <= 32; ++i) {
            const float t = kPi * static_cast<float>(i) / 32.0f;
            path.push_back({-4 * std::cos(t), 4 * std::sin(t), 0});
            radial.push_back({0, 0, 1});
        }
        s.chunks.push_back(
            tube(archNames[a], 20 + a, 3, {columnX[a] + 4, 7.9f, -9}, path, radial, 0.75f, 4, 4));
    }
    s.chunks.push_back(wall("Wall", 24, 5, {0, 0, -13}, 30, 18, 6, 4, 10, 6));
    // The fretwork screen stands to the left, seen from both sides.
    Mesh screenPanel = wall("Fretwork", 28, 8, {-9, 0, -3.5f}, 3, 6, 1, 1, 1, 1);
    const size_t frontFaces = screenPanel.faces.size();
    for (size_t f = 0; f < frontFaces; ++f)
        screenPanel.faces.push_back(
            {screenPanel.faces[f][0], screenPanel.faces[f][2], screenPanel.faces[f][1]});
    s.chunks.push_back(screenPanel);

    // The urn on its plinth, turned from one profile.
    s.chunks.push_back(box("Plinth", 25, 3, {0, 0.6f, 0}, {1.6f, 0.6f, 1.6f}));
    const std::vector<std::array<float, 2>> urnProfile = {
        {0.0f, 0.0f}, {0.8f, 0.0f}, {0.85f, 0.2f}, {0.45f, 0.5f}, {0.5f, 0.9f},  {1.1f, 1.5f},  {1.45f, 2.2f},
        {1.4f, 2.9f}, {1.0f, 3.5f}, {0.6f, 3.9f},  {0.55f, 4.3f}, {0.85f, 4.6f}, {0.8f, 4.75f}, {0.5f, 4.6f}};
    s.chunks.push_back(lathe("Urn", 26, 6, {0, 1.2f, 0}, urnProfile, 36));

    Mesh knot = torusKnot("Knot", 27, 7, {9, 6, -4}, 2, 3, 2.0f, 0.8f, 0.42f);
    for (int f = 0; f < 200; ++f) {
        const float a = 2 * kPi * static_cast<float>(f) / 200.0f;
        ball.header.positionKeys.push_back(
            {5.5f * std::cos(a), 3.5f + 1.2f * std::sin(3 * a), 5.5f * std::sin(a)});
        ball.header.rotationKeys.push_back(yRotation(4 * a));
        knot.header.positionKeys.push_back({9, 6 + 0.6f * std::sin(2 * a), -4});
        // Turning about y while it tips back and forth a little.
        const Float4 turn = yRotation(2 * a);
        const float tip = 0.25f * std::sin(a);
        const Float4 tipQ{std::sin(tip * 0.5f), 0, 0, std::cos(tip * 0.5f)};
        knot.header.rotationKeys.push_back(
            {turn[3] * tipQ[0] + turn[0] * tipQ[3] + turn[1] * tipQ[2] - turn[2] * tipQ[1],
             turn[3] * tipQ[1] - turn[0] * tipQ[2] + turn[1] * tipQ[3] + turn[2] * tipQ[0],
             turn[3] * tipQ[2] + turn[0] * tipQ[1] - turn[1] * tipQ[0] + turn[2] * tipQ[3],
             turn[3] * tipQ[3] - turn[0] * tipQ[0] - turn[1] * tipQ[1] - turn[2] * tipQ[2]});
    }
    s.chunks.push_back(ball);
    s.chunks.push_back(knot);
    Light spot;
    spot.header = header("Spot01", 10, {-14, 22, 10});
    spot.kind = TargetSpotLight;
    spot.colour = {1, 0.95f, 0.85f};
    spot.coneAngle = 120;
    spot.targetId = 1;
    s.chunks.push_back(spot);
    s.chunks.push_back(omni("Fill", 11, {15, 12, -15}, {0.25f, 0.3f, 0.45f}));
    s.chunks.push_back(camera("CamWide", 30, {0, 9, 30}, 1));
    s.chunks.push_back(camera("CamLow", 31, {22, 3, 8}, 3));
    s.chunks.push_back(camera("CamTop", 32, {1, 40, 4}, 1, 1.1f));
    return write(s, dataDir / "scenes" / "showcase.qzg");
}

// A petal: from its base at the origin outwards along +x, lying flat, 12 x 6 cells; wide in the
// middle and drawn to a point at the tip.
constexpr int kPetalCells = 12, kPetalAcross = 6;
constexpr float kPetalLength = 5.0f, kPetalWidth = 1.7f;

Mesh petalMesh(const char* name, int32_t id, float angle) {
    Mesh m;
    m.header = header(name, id, {0, 1, 0});
    m.header.rotation = yRotation(angle);
    m.header.materialId = 2;
    for (int i = 0; i <= kPetalCells; ++i)
        for (int j = 0; j <= kPetalAcross; ++j) {
            const float t = static_cast<float>(i) / static_cast<float>(kPetalCells);
            const float width = kPetalWidth * std::pow(std::sin(kPi * (0.12f + 0.88f * t)), 0.8f);
            const float z = (2 * static_cast<float>(j) / static_cast<float>(kPetalAcross) - 1) * width;
            m.vertices.push_back({kPetalLength * t, 0, z});
            m.normals.push_back({0, 1, 0});
            m.coordinateSets[0].push_back({t, static_cast<float>(j) / static_cast<float>(kPetalAcross)});
        }
    for (int i = 0; i < kPetalCells; ++i)
        for (int j = 0; j < kPetalAcross; ++j) {
            const int32_t a = i * (kPetalAcross + 1) + j, b = a + 1, c = a + kPetalAcross + 1, d = c + 1;
            m.faces.push_back({a, b, d});
            m.faces.push_back({a, d, c});
        }
    // Seen from below as well while the petal is closed: the same cells turned the other way.
    const size_t front = m.faces.size();
    for (size_t f = 0; f < front; ++f)
        m.faces.push_back({m.faces[f][0], m.faces[f][2], m.faces[f][1]});
    return m;
}

// Morph frames of a petal: closed (bent up, nearly vertical, cupped) to wide open (curled slightly
// down, nearly flat across).
MorphData petalMorph(const Mesh& petal, int frames) {
    MorphData morph;
    morph.frameCount = frames;
    morph.vertexCount = static_cast<int32_t>(petal.vertices.size());
    // Normals from the upper side's faces only (the lower side repeats them turned over).
    const std::vector<std::array<int32_t, 3>> upper(
        petal.faces.begin(), petal.faces.begin() + static_cast<long>(petal.faces.size() / 2));
    for (int k = 0; k < frames; ++k) {
        const float open = static_cast<float>(k) / static_cast<float>(frames - 1);
        const float lift = (1.0f - open) * 1.4f - 0.15f; // radians of bend per unit length (scaled)
        const float cup = 0.9f * (1.0f - open) + 0.15f;
        std::vector<Float3> shape;
        for (const Float3& v : petal.vertices) {
            const float along = v[0] / kPetalLength;
            const float bend = lift * along * 1.2f;
            const float across = v[2] / kPetalWidth;
            const float rise = cup * across * across * std::sin(kPi * std::fmin(1.0f, along * 1.3f + 0.1f));
            shape.push_back({v[0] * std::cos(bend) - rise * std::sin(bend),
                             v[0] * std::sin(bend) + rise * std::cos(bend), v[2] * (0.6f + 0.4f * open)});
        }
        for (const Float3& p : shape)
            morph.positions.insert(morph.positions.end(), p.begin(), p.end());
        for (const Float3& n : smoothNormals(shape, upper))
            morph.normals.insert(morph.normals.end(), n.begin(), n.end());
    }
    return morph;
}

bool flower(const fs::path& dataDir) {
    SceneFile s;
    s.lastFrame = 199;
    s.chunks.push_back(
        MaterialList{{material(1, "heart", {1, 0.8f, 0.1f}), material(2, "petal", {1, 1, 1}, "petal.png"),
                      material(3, "leaf", {0.2f, 0.6f, 0.25f})}});
    s.chunks.push_back(dummy("Centre", 1, {0, 1, 0}));
    s.chunks.push_back(sphere("Heart", 2, 1, {0, 1.2f, 0}, 1.1f, 16, 24));
    s.chunks.push_back(ground("Leaves", 3, 3, 12, 4, 1));
    for (int p = 0; p < 6; ++p) {
        char name[32];
        snprintf(name, sizeof name, "blomsterblad%02d", p + 1);
        const Mesh petal = petalMesh(name, 10 + p, 2 * kPi * static_cast<float>(p) / 6.0f);
        s.chunks.push_back(petal);
        if (!writeMorph(petalMorph(petal, 12), dataDir, name)) return false;
    }
    s.chunks.push_back(omni("Sun", 30, {6, 20, 12}, {1, 1, 0.95f}));
    s.chunks.push_back(omni("Sky", 31, {-10, 8, -10}, {0.3f, 0.35f, 0.6f}));
    Camera cam = camera("Camera01", 40, {0, 14, 13}, 1);
    cam.header.positionKeys.clear();
    for (int f = 0; f < 200; ++f) {
        const float a = 2 * kPi * static_cast<float>(f) / 200.0f;
        cam.header.positionKeys.push_back({13 * std::sin(a), 12 - 3 * std::cos(a), 13 * std::cos(a)});
    }
    s.chunks.push_back(cam);
    return write(s, dataDir / "scenes" / "flower.qzg");
}

// A point of the head in the direction n (unit, +z the face, +y up), head radius about 1;
// `breath` 0..1 fills the head a little, lifts it and lets the jaw drop.
Float3 headPoint(const Float3& n, float breath) {
    const float x = n[0], y = n[1], z = n[2];
    auto bell = [](float d, float width) { return std::exp(-(d * d) / (width * width)); };
    // The skull: narrower than deep, a little taller.
    Float3 p{x * 0.8f, y * 1.05f, z * 0.96f};
    if (y < 0) {
        // The jaw narrows to the chin; behind it the head tucks in towards the neck, and below
        // the jaw the neck goes on down.
        const float low = -y;
        p[0] *= 1 - 0.25f * low * low;
        if (z < 0) p[2] *= 1 - 0.3f * low;
        const float neck = std::fmax(0.0f, (low - 0.7f) / 0.3f);
        p[0] = p[0] * (1 - neck) + x * 0.62f * neck;
        p[2] = p[2] * (1 - neck) + (z * 0.6f - 0.1f) * neck;
        p[1] -= 0.2f * neck * neck;
        p[1] -= 0.05f * breath * low * std::fmax(0.0f, z);
    }
    const float face = std::pow(std::fmax(0.0f, z), 3.0f);
    float out = 0; // along n
    // Brow ridge and cheekbones.
    out += 0.12f * bell(y - 0.33f, 0.07f) * bell(x, 0.45f) * face;
    out += 0.07f * bell(std::fabs(x) - 0.42f, 0.13f) * bell(y + 0.08f, 0.12f) * face;
    // Eye sockets.
    out -= 0.28f * bell(std::fabs(x) - 0.3f, 0.12f) * bell(y - 0.17f, 0.09f) * face;
    // Mouth: a groove between the lips.
    out -= 0.1f * bell(x, 0.22f) * bell(y + 0.48f, 0.035f) * face;
    for (int k = 0; k < 3; ++k)
        p[k] += n[k] * out;
    // The nose: a ridge from between the eyes to a tip below them, straight out of the face.
    p[2] += (0.4f * bell(x, 0.08f) * bell(y + 0.06f, 0.19f) +
             0.18f * bell(x, 0.11f) * bell(y + 0.22f, 0.07f) * (1 + 0.15f * breath)) *
            face;
    // The chin.
    p[2] += 0.2f * bell(x, 0.25f) * bell(y + 0.72f, 0.12f) * std::fmax(0.0f, z);
    // Ears: flaps out to the sides, a little behind the middle.
    const float ear = bell(y - 0.02f, 0.17f) * bell(z + 0.08f, 0.13f) * std::pow(std::fabs(x), 6.0f);
    p[0] += (x > 0 ? 1 : -1) * 0.3f * ear;
    const float fill = 1 + 0.02f * breath;
    return {p[0] * fill, p[1] * fill + 0.04f * breath, p[2] * fill};
}

// The head "Box01": skull, brow, eye sockets, nose, mouth, chin and ears on a fine sphere, with
// morph frames of one breath (in, out) that the effect loops.
bool hode(const fs::path& dataDir) {
    SceneFile s;
    s.lastFrame = 99;
    Material skin = material(1, "skin", {1, 0.85f, 0.75f}, "skin.png");
    skin.shininess = 0.15f;
    skin.specularLevel = 0.25f;
    s.chunks.push_back(MaterialList{{skin, material(2, "floor", {0.3f, 0.3f, 0.35f})}});
    s.chunks.push_back(dummy("Centre", 1, {0, 4, 0}));
    const float size = 3.3f;
    const Mesh unit = sphere("Box01", 2, 1, {0, 4.5f, 0}, 1, 48, 56, -1, 0.6f);
    auto shaped = [&](float breath) {
        Mesh m = unit;
        for (size_t i = 0; i < m.vertices.size(); ++i) {
            const Float3 p = headPoint(unit.normals[i], breath);
            m.vertices[i] = {p[0] * size, p[1] * size, p[2] * size};
        }
        m.normals = smoothNormals(m.vertices, m.faces);
        return m;
    };
    const Mesh head = shaped(0);
    s.chunks.push_back(head);
    s.chunks.push_back(ground("Floor", 3, 2, 20, 4, 1));
    s.chunks.push_back(omni("Key", 10, {8, 12, 10}, {1, 0.95f, 0.9f}));
    s.chunks.push_back(omni("Rim", 11, {-10, 6, -8}, {0.4f, 0.5f, 1}));
    s.chunks.push_back(camera("Camera01", 20, {0, 6, 14}, 1));

    MorphData morph;
    const int frames = 12;
    morph.frameCount = frames;
    morph.vertexCount = static_cast<int32_t>(head.vertices.size());
    for (int k = 0; k < frames; ++k) {
        // In and out again: 0 at the first frame, full at the middle one.
        const float breath =
            0.5f - 0.5f * std::cos(2 * kPi * static_cast<float>(k) / static_cast<float>(frames));
        const Mesh frame = shaped(breath);
        for (const Float3& v : frame.vertices)
            morph.positions.insert(morph.positions.end(), v.begin(), v.end());
        for (const Float3& n : frame.normals)
            morph.normals.insert(morph.normals.end(), n.begin(), n.end());
    }
    if (!writeMorph(morph, dataDir, "Box01")) return false;
    return write(s, dataDir / "scenes" / "hode.qzg");
}

// An upright screen facing +z, with texture coordinates over its face.
Mesh screen(const char* name, int32_t id, Float3 position, float halfWidth, float halfHeight, float turn) {
    Mesh m;
    m.header = header(name, id, position);
    m.header.rotation = yRotation(turn);
    m.header.materialId = id - 9; // a material of its own: each shows its own render target
    m.vertices = {{-halfWidth, -halfHeight, 0},
                  {halfWidth, -halfHeight, 0},
                  {halfWidth, halfHeight, 0},
                  {-halfWidth, halfHeight, 0}};
    m.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
    // Stored the other way up, as the exporter writes them: v grows downwards.
    m.coordinateSets[0] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    m.faces = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

// The housing of a screen of half size w x h (in the screen's own space, facing +z): a border
// `border` wide around it and `depth` deep behind it, open where the picture is.
Mesh bezel(const char* name, int32_t id, int32_t materialId, Float3 position, float w, float h, float turn,
           float border, float depth) {
    Mesh m;
    m.header = header(name, id, position);
    m.header.rotation = yRotation(turn);
    m.header.materialId = materialId;
    const float W = w + border, H = h + border, f = 0.01f, d = -depth;
    auto quad = [&](Float3 a, Float3 b, Float3 c, Float3 e) {
        const Float3 n = normalised(cross(sub(b, a), sub(c, a)));
        const int32_t base = static_cast<int32_t>(m.vertices.size());
        const TexCoord uv[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
        int k = 0;
        for (const Float3& p : {a, b, c, e}) {
            m.vertices.push_back(p);
            m.normals.push_back(n);
            m.coordinateSets[0].push_back(uv[k++]);
        }
        m.faces.push_back({base, base + 1, base + 2});
        m.faces.push_back({base, base + 2, base + 3});
    };
    quad({-W, h, f}, {W, h, f}, {W, H, f}, {-W, H, f});     // front border, top
    quad({-W, -H, f}, {W, -H, f}, {W, -h, f}, {-W, -h, f}); // bottom
    quad({-W, -h, f}, {-w, -h, f}, {-w, h, f}, {-W, h, f}); // left
    quad({w, -h, f}, {W, -h, f}, {W, h, f}, {w, h, f});     // right
    quad({W, -H, d}, {-W, -H, d}, {-W, H, d}, {W, H, d});   // back
    quad({-W, H, f}, {W, H, f}, {W, H, d}, {-W, H, d});     // top side
    quad({-W, -H, d}, {W, -H, d}, {W, -H, f}, {-W, -H, f}); // bottom side
    quad({-W, -H, d}, {-W, -H, f}, {-W, H, f}, {-W, H, d}); // left side
    quad({W, -H, f}, {W, -H, d}, {W, H, d}, {W, H, f});     // right side
    return m;
}

bool scratch(const fs::path& dataDir) {
    SceneFile s;
    s.lastFrame = 199;
    s.chunks.push_back(MaterialList{{material(1, "screen1", {1, 1, 1}, "screen.png"),
                                     material(2, "screen2", {1, 1, 1}, "screen.png"),
                                     material(3, "screen3", {1, 1, 1}, "screen.png"),
                                     material(4, "floor", {0.25f, 0.25f, 0.3f}, "ground.png"),
                                     material(5, "frame", {0.15f, 0.15f, 0.18f}),
                                     material(6, "steel", {0.55f, 0.55f, 0.6f}, "stone.png")}});
    s.chunks.push_back(dummy("Centre", 1, {0, 4, 0}));
    s.chunks.push_back(screen("screen1", 10, {0, 5, 0}, 4, 3, 0));
    s.chunks.push_back(screen("screen2", 11, {-7.2f, 4, 2}, 2.2f, 2.2f, 0.5f));
    s.chunks.push_back(screen("screen3", 12, {7.2f, 4, 2}, 2.2f, 2.2f, -0.5f));
    // Each screen in a housing on a turned stand.
    s.chunks.push_back(bezel("Frame", 13, 5, {0, 5, 0}, 4, 3, 0, 0.4f, 0.6f));
    s.chunks.push_back(bezel("Frame2", 15, 5, {-7.2f, 4, 2}, 2.2f, 2.2f, 0.5f, 0.3f, 0.5f));
    s.chunks.push_back(bezel("Frame3", 16, 5, {7.2f, 4, 2}, 2.2f, 2.2f, -0.5f, 0.3f, 0.5f));
    auto stand = [](float top) {
        return std::vector<std::array<float, 2>>{{1.1f, 0.0f},  {1.1f, 0.12f}, {0.7f, 0.25f}, {0.2f, 0.4f},
                                                 {0.15f, 0.6f}, {0.15f, top},  {0.0f, top}};
    };
    s.chunks.push_back(lathe("Stand1", 17, 6, {0, 0, -0.3f}, stand(1.6f), 24));
    s.chunks.push_back(lathe("Stand2", 18, 6, {-7.2f, 0, 2}, stand(1.5f), 24));
    s.chunks.push_back(lathe("Stand3", 19, 6, {7.2f, 0, 2}, stand(1.5f), 24));
    s.chunks.push_back(ground("Floor", 14, 4, 30, 6, 8));
    s.chunks.push_back(omni("Light", 20, {0, 10, 14}, {0.8f, 0.8f, 0.9f}));
    Camera cam = camera("Camera01", 30, {0, 6, 18}, 1);
    for (int f = 0; f < 200; ++f) {
        const float a = 2 * kPi * static_cast<float>(f) / 200.0f;
        cam.header.positionKeys.push_back({4 * std::sin(a), 6 + std::sin(2 * a), 20 - 2 * std::cos(a)});
    }
    s.chunks.push_back(cam);
    return write(s, dataDir / "scenes" / "scratch.qzg");
}

bool textures(const fs::path& dataDir) {
    const fs::path dir = dataDir / "textures";
    std::error_code ec;
    fs::create_directories(dir, ec);
    return writeTexture(dir, "ground.png", 128,
                        [](float u, float v, float rgb[3]) {
                            const bool light = ((static_cast<int>(u * 4) + static_cast<int>(v * 4)) % 2) == 0;
                            const float grain = 0.05f * std::sin(u * 90) * std::sin(v * 70);
                            rgb[0] = (light ? 0.75f : 0.35f) + grain;
                            rgb[1] = (light ? 0.72f : 0.33f) + grain;
                            rgb[2] = (light ? 0.68f : 0.36f) + grain;
                        }) &&
           writeTexture(dir, "mirror.png", 128,
                        [](float u, float v, float rgb[3]) {
                            // A sky above a dark horizon, as a sphere map.
                            const float dx = u - 0.5f, dy = v - 0.5f;
                            const float r = std::sqrt(dx * dx + dy * dy) * 2;
                            const float sky = dy < 0 ? 1.0f : 0.25f;
                            rgb[0] = 0.3f * sky + 0.5f * (1 - r);
                            rgb[1] = 0.5f * sky + 0.4f * (1 - r);
                            rgb[2] = 0.9f * sky + 0.2f * (1 - r);
                        }) &&
           writeTexture(dir, "petal.png", 64,
                        [](float u, float v, float rgb[3]) {
                            // u from the base to the tip, v across: a pale yellow heart, pink
                            // body, deep rose tip; fine veins along the petal, darker at the edges.
                            const float vein = std::pow(std::fabs(std::cos((v - 0.5f) * kPi * 7)), 12.0f);
                            const float edge = std::pow(std::fabs(v - 0.5f) * 2, 3.0f);
                            const float base = std::exp(-u * 6);
                            rgb[0] = 0.97f - 0.12f * u * u - 0.1f * edge;
                            rgb[1] = 0.42f + 0.5f * base - 0.25f * u - 0.1f * vein - 0.1f * edge;
                            rgb[2] = 0.62f - 0.35f * base + 0.05f * u - 0.08f * vein;
                        }) &&
           writeTexture(dir, "stone.png", 64,
                        [](float u, float v, float rgb[3]) {
                            // Veined stone: a wavy band pattern, lighter along the veins.
                            const float vein =
                                std::pow(std::fabs(std::sin(u * 19 + 3 * std::sin(v * 11))), 6.0f);
                            const float grain = 0.04f * std::sin(u * 150) * std::sin(v * 130);
                            rgb[0] = 0.78f + 0.2f * vein + grain;
                            rgb[1] = 0.74f + 0.2f * vein + grain;
                            rgb[2] = 0.7f + 0.22f * vein + grain;
                        }) &&
           writeTexture(dir, "bricks_nm.png", 128,
                        [](float u, float v, float rgb[3]) {
                            // Bricks two across and four up per tile, every other row shifted by
                            // half a brick; the mortar lies lower. The normal from the height's slope.
                            auto height = [](float x, float y) {
                                const float row = std::floor(y * 4);
                                const float bx = x * 2 + (static_cast<int>(row) % 2 ? 0.5f : 0.0f);
                                const float fx = bx - std::floor(bx), fy = y * 4 - row;
                                const float edge =
                                    std::fmin(std::fmin(fx, 1 - fx) * 2, std::fmin(fy, 1 - fy));
                                const float brick = std::fmin(1.0f, edge / 0.08f);
                                return brick + 0.08f * std::sin(x * 97 + 13 * std::sin(y * 41)) * brick;
                            };
                            const float e = 1.0f / 128;
                            const float dx = (height(u + e, v) - height(u - e, v)) / (2 * e);
                            const float dy = (height(u, v + e) - height(u, v - e)) / (2 * e);
                            const Float3 n = normalised({-dx * 0.02f, -dy * 0.02f, 1});
                            for (int k = 0; k < 3; ++k)
                                rgb[k] = 0.5f + 0.5f * n[k];
                        }) &&
           writeTexture(dir, "plaster.png", 64,
                        [](float u, float v, float rgb[3]) {
                            const float w = 0.9f - 0.3f * std::fabs(v - 0.5f) - 0.1f * std::fabs(u - 0.5f);
                            rgb[0] = 0.95f * w + 0.05f;
                            rgb[1] = 0.62f * w + 0.04f;
                            rgb[2] = 0.45f * w + 0.05f;
                        }) &&
           writeTexture(dir, "bronze.png", 64,
                        [](float u, float v, float rgb[3]) {
                            const float streak = 0.12f * std::sin(v * 40 + 3 * std::sin(u * 12));
                            rgb[0] = 0.55f + streak;
                            rgb[1] = 0.36f + streak * 0.8f;
                            rgb[2] = 0.16f + streak * 0.4f;
                        }) &&
           writeTexture(
               dir, "fret.png", 128,
               [](float u, float v, float rgb[3]) {
                   const float grain = 0.06f * std::sin(v * 60 + 4 * std::sin(u * 9));
                   rgb[0] = 0.78f + grain;
                   rgb[1] = 0.58f + grain;
                   rgb[2] = 0.3f + grain * 0.5f;
               },
               true) &&
           writeTexture(dir, "fret_mask.png", 128,
                        [](float u, float v, float rgb[3]) {
                            // Four by five diamonds cut out, a ring left standing in each, and a
                            // solid border.
                            const float fx = u * 4 - std::floor(u * 4), fy = v * 5 - std::floor(v * 5);
                            const float diamond = std::fabs(fx - 0.5f) + std::fabs(fy - 0.5f);
                            const float ring = std::hypot(fx - 0.5f, fy - 0.5f);
                            const bool border = u < 0.04f || u > 0.96f || v < 0.03f || v > 0.97f;
                            const bool solid = border || diamond > 0.4f || (ring > 0.12f && ring < 0.18f);
                            rgb[0] = rgb[1] = rgb[2] = solid ? 1.0f : 0.0f;
                        }) &&
           writeTexture(dir, "glow.png", 64,
                        [](float u, float v, float rgb[3]) {
                            // Bands along the tube, brightest on its middle line.
                            const float band = 0.5f + 0.5f * std::sin(u * 2 * kPi * 6);
                            const float core = std::pow(std::sin(v * kPi), 2.0f);
                            rgb[0] = (0.15f + 0.75f * band) * core;
                            rgb[1] = (0.5f - 0.3f * band) * core + 0.1f;
                            rgb[2] = (0.9f - 0.2f * band) * core + 0.1f;
                        }) &&
           writeTexture(dir, "skin.png", 64,
                        [](float u, float v, float rgb[3]) {
                            // Warm skin, faintly mottled, the lips (about v = 0.67 at the front) redder.
                            const float mottle = 0.025f * std::sin(u * 31) * std::sin(v * 23);
                            const float lips = std::exp(-std::pow((v - 0.665f) / 0.02f, 2.0f)) *
                                               std::exp(-std::pow((u - 0.75f) / 0.05f, 2.0f));
                            rgb[0] = 0.92f + mottle;
                            rgb[1] = 0.68f + mottle - 0.25f * lips;
                            rgb[2] = 0.55f + mottle - 0.15f * lips;
                        }) &&
           writeTexture(dir, "screen.png", 16,
                        [](float, float, float rgb[3]) { rgb[0] = rgb[1] = rgb[2] = 0.5f; });
}

bool makeScenes(const fs::path& dataDir) {
    return textures(dataDir) && showcase(dataDir) && flower(dataDir) && hode(dataDir) && scratch(dataDir);
}

RegisterContentStep reg("scenes", makeScenes);

} // namespace
