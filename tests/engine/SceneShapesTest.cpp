// Ready-made meshes for content: valid records, unit normals, front faces pointing outwards, and
// file rotations that turn the way glRotatef does once the engine reads them.
#include "engine/SceneShapes.h"
#include "engine/Math3D.h"
#include "engine/SceneWriter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace scenefile;

namespace {

Float3 sub(const Float3& a, const Float3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

void expectSound(const Mesh& m, bool closed) {
    SceneFile s;
    s.chunks.push_back(m);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(writeScene(s, bytes, &error)) << m.header.name << ": " << error;
    ASSERT_EQ(m.coordinateSets[0].size(), m.vertices.size());
    for (const Float3& n : m.normals)
        EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-5) << m.header.name;
    Float3 centre{0, 0, 0};
    for (const auto& f : m.faces) {
        const Float3 &p0 = m.vertices[f[0]], &p1 = m.vertices[f[1]], &p2 = m.vertices[f[2]];
        Float3 e1 = sub(p1, p0), e2 = sub(p2, p0);
        Float3 cross{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                     e1[0] * e2[1] - e1[1] * e2[0]};
        const Float3& n = m.normals[f[0]];
        // Counter-clockwise seen from the side the normals point to: not culled.
        EXPECT_GT(cross[0] * n[0] + cross[1] * n[1] + cross[2] * n[2], 0) << m.header.name;
        if (closed) {
            Float3 out = sub(p0, centre);
            EXPECT_GT(cross[0] * out[0] + cross[1] * out[1] + cross[2] * out[2], 0) << m.header.name;
        }
    }
}

} // namespace

TEST(SceneShapes, MeshesAreValidAndFaceOutwards) {
    Mesh plane = makePlane("Plane", 1, 1, 4, 3);
    EXPECT_EQ(plane.vertices.size(), 16u);
    EXPECT_EQ(plane.faces.size(), 18u);
    expectSound(plane, false);
    EXPECT_EQ(plane.vertices.front(), (Float3{-2, -2, 0}));
    EXPECT_EQ(plane.vertices.back(), (Float3{2, 2, 0}));

    Mesh box = makeBox("Box", 2, 1, 2, 4, 6);
    EXPECT_EQ(box.vertices.size(), 24u);
    EXPECT_EQ(box.faces.size(), 12u);
    expectSound(box, true);
    for (const Float3& v : box.vertices) {
        EXPECT_FLOAT_EQ(std::fabs(v[0]), 1);
        EXPECT_FLOAT_EQ(std::fabs(v[1]), 2);
        EXPECT_FLOAT_EQ(std::fabs(v[2]), 3);
    }

    Mesh sphere = makeSphere("Ball", 3, 1, 2, 8, 12);
    EXPECT_EQ(sphere.vertices.size(), 9u * 13u);
    EXPECT_EQ(sphere.faces.size(), 2u * 12u * 7u); // one triangle per cell at each pole
    expectSound(sphere, true);
    for (const Float3& v : sphere.vertices)
        EXPECT_NEAR(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 2, 1e-5);
}

TEST(SceneShapes, FileRotationsTurnLikeGlRotate) {
    // 90 degrees about z takes x to y; about y takes z to x; about x takes y to z.
    struct Case {
        Float3 axis;
        Vector3 from, to;
    };
    const Case cases[] = {{{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
                          {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
                          {{2, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (const Case& c : cases) {
        Float4 q = fileRotation(static_cast<float>(M_PI / 2), c.axis[0], c.axis[1], c.axis[2]);
        Vector3 p = Matrix4::fromQuaternion(Quaternion(q[0], q[1], q[2], q[3])).transformPoint(c.from);
        EXPECT_NEAR(p.x, c.to.x, 1e-6);
        EXPECT_NEAR(p.y, c.to.y, 1e-6);
        EXPECT_NEAR(p.z, c.to.z, 1e-6);
    }
    EXPECT_EQ(fileRotation(1, 0, 0, 0), (Float4{0, 0, 0, 1}));
}
