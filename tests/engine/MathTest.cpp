#include "engine/Math3D.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const float r = std::sqrt(0.5f);

void expectMatrix(const Matrix4& m, const float (&expected)[16], float tolerance = 1e-6f) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m[i], expected[i], tolerance) << "element " << i;
}

void expectVector(const Vector3& v, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

TEST(QuaternionMatrix, IsStoredAsTheTransposeOfTheTextbookRotationAndZeroGivesTheIdentity) {
    // 90 degrees about z: the textbook matrix turns x into y; stored column-major as given,
    // GL reads its transpose and turns x into -y.
    const Matrix4 m = Matrix4::fromQuaternion(Quaternion(0, 0, r, r));
    const float expected[16] = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(m, expected);
    expectVector(m.transformPoint(Vector3(1, 0, 0)), 0, -1, 0);

    // Non-unit quaternions give the same rotation (s = 2 / |q|^2).
    expectMatrix(Matrix4::fromQuaternion(Quaternion(0, 0, 3 * r, 3 * r)), expected);

    // 120 degrees about (1, 1, 1): x -> z, y -> x, z -> y once transposed.
    const Matrix4 axis = Matrix4::fromQuaternion(Quaternion(0.5f, 0.5f, 0.5f, 0.5f));
    const float cyclic[16] = {0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    expectMatrix(axis, cyclic);

    // The zero quaternion gives the identity.
    expectMatrix(Matrix4::fromQuaternion(Quaternion()), Matrix4().m);
}

TEST(EulerMatrix, SingleAndCombinedAnglesTurnTheWayTheAnglesSay) {
    // x by 90: y -> z.
    const float aboutX[16] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1};
    expectMatrix(Matrix4::fromEulerDegrees(90, 0, 0), aboutX);
    // z by 90: x -> y.
    const float aboutZ[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(Matrix4::fromEulerDegrees(0, 0, 90), aboutZ);
    // y by 90: z -> x.
    expectVector(Matrix4::fromEulerDegrees(0, 90, 0).transformPoint(Vector3(0, 0, 1)), 1, 0, 0);

    // Combined angles match the worked values.
    // a = 90, b = 90: x -> y, y -> z, z -> x.
    const float both[16] = {0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
    expectMatrix(Matrix4::fromEulerDegrees(90, 90, 0), both, 1e-6f);
    // 30/45/60 against the formula evaluated by hand (cos/sin of each angle).
    const float ca = std::cos(0.5235988f), sa = std::sin(0.5235988f);
    const float cb = std::cos(0.7853982f), sb = std::sin(0.7853982f);
    const float cc = std::cos(1.0471976f), sc = std::sin(1.0471976f);
    const Matrix4 m = Matrix4::fromEulerDegrees(30, 45, 60);
    EXPECT_NEAR(m[0], cc * cb, 1e-6f);
    EXPECT_NEAR(m[4], -cb * sc, 1e-6f);
    EXPECT_NEAR(m[1], sa * cc * sb + sc * ca, 1e-6f);
    EXPECT_NEAR(m[6], ca * sc * sb + cc * sa, 1e-6f);
    EXPECT_NEAR(m[10], cb * ca, 1e-6f);
    EXPECT_EQ(m[15], 1.0f);
    EXPECT_EQ(m[12], 0.0f);
}

TEST(Slerp, TurnsAlongTheShortPathAndBlendsNearlyEqualKeysLinearly) {
    const Quaternion q0(0, 0, 0, 1), q1(0, 0, r, r);
    const Quaternion half = Quaternion::slerp(q0, q1, 0.5f);
    EXPECT_NEAR(half.z, 0.3826834f, 1e-5f);
    EXPECT_NEAR(half.w, 0.9238795f, 1e-5f);
    const Quaternion quarter = Quaternion::slerp(q0, q1, 0.25f);
    EXPECT_NEAR(quarter.z, std::sin(3.14159265f / 16), 1e-5f);
    EXPECT_NEAR(quarter.w, std::cos(3.14159265f / 16), 1e-5f);

    // Opposite signs take the short path: (0, 0, -r, -r) is the same rotation as q1.
    const Quaternion opposite = Quaternion::slerp(q0, Quaternion(0, 0, -r, -r), 0.5f);
    EXPECT_NEAR(opposite.z, 0.3826834f, 1e-5f);
    EXPECT_NEAR(opposite.w, 0.9238795f, 1e-5f);

    // Nearly equal keys blend linearly without renormalising.
    const Quaternion q(0, 0, 0, 2);
    const Quaternion blended = Quaternion::slerp(q, q, 0.3f);
    EXPECT_FLOAT_EQ(blended.w, 2.0f);
    const Quaternion a(0, 0, 0, 1), b(1e-4f, 0, 0, 1);
    const Quaternion mid = Quaternion::slerp(a, b, 0.5f);
    EXPECT_FLOAT_EQ(mid.x, 0.5e-4f);
    EXPECT_FLOAT_EQ(mid.w, 1.0f);
}

TEST(VectorMath, NormaliseLeavesTinyVectorsAndLerpIsPerComponent) {
    Vector3 tiny(0.001f, 0.002f, 0);
    tiny.normalize();
    expectVector(tiny, 0.001f, 0.002f, 0, 0);
    Vector3 v(3, 0, 4);
    v.normalize();
    expectVector(v, 0.6f, 0, 0.8f);
    EXPECT_EQ(v.w, 1.0f);
    expectVector(Vector3::lerp(Vector3(0, 10, -2), Vector3(4, 20, 2), 0.25f), 1, 12.5f, -1);
}

TEST(MatrixMath, InverseUndoesATransform) {
    const Matrix4 m = Matrix4::translation(Vector3(1, 2, 3)) * Matrix4::fromEulerDegrees(10, 20, 30) *
                      Matrix4::scaling(Vector3(2, 3, 4));
    Matrix4 inverse;
    ASSERT_TRUE(m.inverse(inverse));
    expectVector(inverse.transformPoint(m.transformPoint(Vector3(5, -6, 7))), 5, -6, 7, 1e-4f);
    Matrix4 singular = Matrix4::scaling(Vector3(1, 0, 1)), out;
    EXPECT_FALSE(singular.inverse(out));
}

} // namespace
