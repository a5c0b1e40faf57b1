#include "engine/Math3D.h"

#include <cmath>

float Vector3::length() const {
    return std::sqrt(lengthSquared());
}

void Vector3::normalize() {
    const float squared = lengthSquared();
    // Tiny vectors keep their direction undefined rather than blowing up to huge values.
    const float len = squared < 0.00001f ? 1.0f : std::sqrt(squared);
    x /= len;
    y /= len;
    z /= len;
}

Vector3 Vector3::lerp(const Vector3& a, const Vector3& b, float t) {
    return {(1.0f - t) * a.x + t * b.x, (1.0f - t) * a.y + t * b.y, (1.0f - t) * a.z + t * b.z};
}

Quaternion Quaternion::slerp(const Quaternion& q0, const Quaternion& q1, float t) {
    const float d = q0.dot(q1);
    const float absD = std::fabs(d);
    float k0, k1;
    if (1.0f - absD < 1e-6f) {
        k0 = 1.0f - t;
        k1 = t;
    } else {
        const float theta = std::acos(absD);
        const float sinTheta = std::sin(theta);
        k0 = std::sin(theta - t * theta) / sinTheta;
        k1 = std::sin(t * theta) / sinTheta;
    }
    if (d < 0.0f) k1 = -k1;
    return {k0 * q0.x + k1 * q1.x, k0 * q0.y + k1 * q1.y, k0 * q0.z + k1 * q1.z, k0 * q0.w + k1 * q1.w};
}

Matrix4 Matrix4::fromQuaternion(const Quaternion& q) {
    const float sum = q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w;
    const float s = sum == 0.0f ? 1.0f : 2.0f / sum;
    Matrix4 r;
    r.m[0] = 1.0f - s * (q.y * q.y + q.z * q.z);
    r.m[1] = s * (q.x * q.y - q.w * q.z);
    r.m[2] = s * (q.x * q.z + q.w * q.y);
    r.m[3] = 0.0f;
    r.m[4] = s * (q.x * q.y + q.w * q.z);
    r.m[5] = 1.0f - s * (q.x * q.x + q.z * q.z);
    r.m[6] = s * (q.y * q.z - q.w * q.x);
    r.m[7] = 0.0f;
    r.m[8] = s * (q.x * q.z - q.w * q.y);
    r.m[9] = s * (q.y * q.z + q.w * q.x);
    r.m[10] = 1.0f - s * (q.x * q.x + q.y * q.y);
    r.m[11] = 0.0f;
    r.m[12] = r.m[13] = r.m[14] = 0.0f;
    r.m[15] = 1.0f;
    return r;
}

Matrix4 Matrix4::fromEulerDegrees(float xDegrees, float yDegrees, float zDegrees) {
    const float toRadians = 0.0055555557f * 3.14159265358979f;
    const float a = xDegrees * toRadians, b = yDegrees * toRadians, c = zDegrees * toRadians;
    const float ca = std::cos(a), sa = std::sin(a);
    const float cb = std::cos(b), sb = std::sin(b);
    const float cc = std::cos(c), sc = std::sin(c);
    Matrix4 r;
    r.m[0] = cc * cb;
    r.m[4] = -cb * sc;
    r.m[8] = sb;
    r.m[1] = sa * (cc * sb) + sc * ca;
    r.m[5] = cc * ca - sa * (sc * sb);
    r.m[9] = -cb * sa;
    r.m[2] = sc * sa - (cc * sb) * ca;
    r.m[6] = ca * (sc * sb) + cc * sa;
    r.m[10] = cb * ca;
    r.m[3] = r.m[7] = r.m[11] = r.m[12] = r.m[13] = r.m[14] = 0.0f;
    r.m[15] = 1.0f;
    return r;
}

Matrix4 Matrix4::translation(const Vector3& t) {
    Matrix4 r;
    r.m[12] = t.x;
    r.m[13] = t.y;
    r.m[14] = t.z;
    return r;
}

Matrix4 Matrix4::scaling(const Vector3& s) {
    Matrix4 r;
    r.m[0] = s.x;
    r.m[5] = s.y;
    r.m[10] = s.z;
    return r;
}

Matrix4 Matrix4::operator*(const Matrix4& o) const {
    Matrix4 r;
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += m[k * 4 + row] * o.m[col * 4 + k];
            r.m[col * 4 + row] = sum;
        }
    return r;
}

bool Matrix4::operator==(const Matrix4& o) const {
    for (int i = 0; i < 16; ++i)
        if (m[i] != o.m[i]) return false;
    return true;
}

Vector3 Matrix4::transformPoint(const Vector3& p) const {
    const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const float z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
    const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    if (w != 0.0f && w != 1.0f) return {x / w, y / w, z / w};
    return {x, y, z};
}

Vector3 Matrix4::transformDirection(const Vector3& d) const {
    return {m[0] * d.x + m[4] * d.y + m[8] * d.z, m[1] * d.x + m[5] * d.y + m[9] * d.z,
            m[2] * d.x + m[6] * d.y + m[10] * d.z};
}

Matrix4 Matrix4::transposed() const {
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            r.m[col * 4 + row] = m[row * 4 + col];
    return r;
}

bool Matrix4::inverse(Matrix4& out) const {
    // Cofactor expansion (the layout-independent form: the inverse of the transpose is the
    // transpose of the inverse).
    const float* a = m;
    float inv[16];
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    const float det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (det == 0.0f || !std::isfinite(det)) {
        out = Matrix4();
        return false;
    }
    const float invDet = 1.0f / det;
    for (int i = 0; i < 16; ++i)
        out.m[i] = inv[i] * invDet;
    return true;
}
