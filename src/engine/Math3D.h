// Vector, quaternion, 4x4 matrix and colour types of the 3D engine. Matrices are 16 floats in
// OpenGL's column-major order and go to glLoadMatrixf / glMultMatrixf as stored.
#pragma once

struct Vector3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    float w = 1.0f; // always 1: positions are handed to GL as homogeneous points

    Vector3() = default;
    Vector3(float vx, float vy, float vz) : x(vx), y(vy), z(vz) {}

    Vector3 operator+(const Vector3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vector3 operator-(const Vector3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
    Vector3& operator+=(const Vector3& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    bool operator==(const Vector3& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Vector3& o) const { return !(*this == o); }

    float dot(const Vector3& o) const { return x * o.x + y * o.y + z * o.z; }
    Vector3 cross(const Vector3& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    float lengthSquared() const { return dot(*this); }
    float length() const;
    // Scales to unit length; vectors with a squared length below 0.00001 are left as they are.
    void normalize();
    Vector3 normalized() const {
        Vector3 v = *this;
        v.normalize();
        return v;
    }

    // (1 - t) a + t b per component.
    static Vector3 lerp(const Vector3& a, const Vector3& b, float t);
};

struct Quaternion {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;

    Quaternion() = default;
    Quaternion(float qx, float qy, float qz, float qw) : x(qx), y(qy), z(qz), w(qw) {}

    float dot(const Quaternion& o) const { return x * o.x + y * o.y + z * o.z + w * o.w; }
    // Shortest-path spherical interpolation, not renormalised.
    static Quaternion slerp(const Quaternion& q0, const Quaternion& q1, float t);
};

struct Matrix4 {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    Matrix4() = default;
    static Matrix4 identity() { return Matrix4(); }
    // The column-major array holds the transpose of the textbook rotation of (x, y, z, w):
    // the scene files' rotations are stored for exactly this reading.
    static Matrix4 fromQuaternion(const Quaternion& q);
    // Rotation from angles about x, y and z in degrees.
    static Matrix4 fromEulerDegrees(float xDegrees, float yDegrees, float zDegrees);
    static Matrix4 translation(const Vector3& t);
    static Matrix4 scaling(const Vector3& s);

    float& operator[](int i) { return m[i]; }
    float operator[](int i) const { return m[i]; }
    const float* data() const { return m; }
    float* data() { return m; }

    // this × o (the product GL forms for glMultMatrixf(o) on this).
    Matrix4 operator*(const Matrix4& o) const;
    bool operator==(const Matrix4& o) const;
    // Point (w = 1) and direction (w = 0) transforms.
    Vector3 transformPoint(const Vector3& p) const;
    Vector3 transformDirection(const Vector3& d) const;
    // General inverse; false (and the identity) for a singular matrix.
    bool inverse(Matrix4& out) const;
    Matrix4 transposed() const;
};

struct ColorRGBA {
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 1.0f;

    ColorRGBA() = default;
    ColorRGBA(float cr, float cg, float cb, float ca = 1.0f) : r(cr), g(cg), b(cb), a(ca) {}
    bool operator==(const ColorRGBA& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    const float* data() const { return &r; }
};

// A (u, v) pair of a texture coordinate set.
struct TexCoord {
    float u = 0.0f, v = 0.0f;
};
