#include "engine/SceneShapes.h"

#include <algorithm>
#include <cmath>

namespace scenefile {

namespace {

Mesh emptyMesh(const std::string& name, int32_t id, int32_t materialId) {
    Mesh m;
    m.header.name = name;
    m.header.id = id;
    m.header.materialId = materialId;
    return m;
}

int32_t addVertex(Mesh& m, Float3 p, Float3 n, TexCoord uv) {
    m.vertices.push_back(p);
    m.normals.push_back(n);
    m.coordinateSets[0].push_back(uv);
    return static_cast<int32_t>(m.vertices.size() - 1);
}

// A grid of (divisions + 1)^2 vertices spanning origin + s * u + t * v for s, t in 0..1, facing
// u x v; two counter-clockwise triangles per cell.
void addGrid(Mesh& m, Float3 origin, Float3 u, Float3 v, Float3 normal, int divisions) {
    const int32_t first = static_cast<int32_t>(m.vertices.size());
    const int n = divisions + 1;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            float s = static_cast<float>(i) / static_cast<float>(divisions);
            float t = static_cast<float>(j) / static_cast<float>(divisions);
            Float3 p{origin[0] + s * u[0] + t * v[0], origin[1] + s * u[1] + t * v[1],
                     origin[2] + s * u[2] + t * v[2]};
            addVertex(m, p, normal, {s, t});
        }
    }
    for (int j = 0; j < divisions; ++j) {
        for (int i = 0; i < divisions; ++i) {
            int32_t a = first + j * n + i;
            int32_t b = a + 1;
            int32_t c = a + n + 1;
            int32_t d = a + n;
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    }
}

} // namespace

Mesh makePlane(const std::string& name, int32_t id, int32_t materialId, float size, int divisions) {
    Mesh m = emptyMesh(name, id, materialId);
    const float h = size * 0.5f;
    addGrid(m, {-h, -h, 0}, {size, 0, 0}, {0, size, 0}, {0, 0, 1}, std::max(divisions, 1));
    return m;
}

Mesh makeBox(const std::string& name, int32_t id, int32_t materialId, float sx, float sy, float sz) {
    Mesh m = emptyMesh(name, id, materialId);
    const float x = sx * 0.5f, y = sy * 0.5f, z = sz * 0.5f;
    // Each face: origin corner, then two edges whose cross product points outwards.
    addGrid(m, {-x, -y, z}, {sx, 0, 0}, {0, sy, 0}, {0, 0, 1}, 1);   // front (+z)
    addGrid(m, {x, -y, -z}, {-sx, 0, 0}, {0, sy, 0}, {0, 0, -1}, 1); // back (-z)
    addGrid(m, {x, -y, z}, {0, 0, -sz}, {0, sy, 0}, {1, 0, 0}, 1);   // right (+x)
    addGrid(m, {-x, -y, -z}, {0, 0, sz}, {0, sy, 0}, {-1, 0, 0}, 1); // left (-x)
    addGrid(m, {-x, y, z}, {sx, 0, 0}, {0, 0, -sz}, {0, 1, 0}, 1);   // top (+y)
    addGrid(m, {-x, -y, -z}, {sx, 0, 0}, {0, 0, sz}, {0, -1, 0}, 1); // bottom (-y)
    return m;
}

Mesh makeSphere(const std::string& name, int32_t id, int32_t materialId, float radius, int rings,
                int segments) {
    Mesh m = emptyMesh(name, id, materialId);
    rings = std::max(rings, 2);
    segments = std::max(segments, 3);
    const double pi = 3.14159265358979323846;
    // Seam vertices are doubled so texture coordinates run 0..1 without wrapping back.
    for (int r = 0; r <= rings; ++r) {
        double theta = pi * r / rings; // 0 at the top pole
        for (int s = 0; s <= segments; ++s) {
            double phi = 2 * pi * s / segments;
            Float3 n{static_cast<float>(std::sin(theta) * std::sin(phi)), static_cast<float>(std::cos(theta)),
                     static_cast<float>(std::sin(theta) * std::cos(phi))};
            addVertex(m, {n[0] * radius, n[1] * radius, n[2] * radius}, n,
                      {static_cast<float>(s) / static_cast<float>(segments),
                       1.0f - static_cast<float>(r) / static_cast<float>(rings)});
        }
    }
    const int32_t row = segments + 1;
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            int32_t a = r * row + s; // upper ring
            int32_t b = a + row;     // lower ring
            if (r != 0) m.faces.push_back({a, b, a + 1});
            if (r != rings - 1) m.faces.push_back({a + 1, b, b + 1});
        }
    }
    return m;
}

Float4 fileRotation(float radians, float x, float y, float z) {
    // The engine turns a stored quaternion into the transpose of its textbook matrix: store the
    // conjugate so the drawn rotation is the one asked for.
    float len = std::sqrt(x * x + y * y + z * z);
    if (len < 1e-6f) return {0, 0, 0, 1};
    float s = std::sin(radians * 0.5f) / len;
    return {-x * s, -y * s, -z * s, std::cos(radians * 0.5f)};
}

} // namespace scenefile
