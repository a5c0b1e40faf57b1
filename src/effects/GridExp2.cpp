#include "effects/GridExp2.h"

#include "platform/GL.h"

#include <algorithm>
#include <cmath>

namespace {
int timeAt(float x) {
    return static_cast<int>(x);
}

// The tunnels divide by a distance that passes through 0 on a ring of the grid; a vertex lying
// on it would get an infinite texture coordinate, so the divisor keeps at least this size.
constexpr float kMinDivisor = 1e-3f;

float divisor(float d) {
    if (std::fabs(d) >= kMinDivisor) return d;
    return d < 0 ? -kMinDivisor : kMinDivisor;
}

float pow6(float v) {
    const float v2 = v * v;
    return v2 * v2 * v2;
}
} // namespace

GridExp2::GridExp2() : GridEffect("GridExp2", kSize, 2.0f, 2.0f, 1.0f, 1.0f, 0.5f, 2.0f) {}

void GridExp2::signal(const Signal& s) {
    GridEffect::signal(s);
    switch (s.type) {
    case 29:
        alpha.value = s.value;
        break;
    case 38:
        reverse = s.value > 0;
        break;
    default:
        break;
    }
}

void GridExp2::spinTexture(int time) {
    glTranslatef(0.5f, 0.5f, 0);
    if (rotate.valueAt(time) > 0) glRotatef(phase * 0.5f, 0, 0, 1);
}

void GridExp2::animate(int m, int time) {
    if (m < 1 || m > 4) return;
    const int n = grid.size();
    constexpr int P = GridMesh::kPosition, T = GridMesh::kTexCoord, C = GridMesh::kColour;
    constexpr int BP = GridMesh::kBasePosition, BT = GridMesh::kBaseTexCoord;
    const float x = phase * 0.05f;
    const int at = timeAt(x);

    // Per formula: the texture coordinate and colour of one vertex (position already at base).
    const auto each = [&](auto&& perVertex) {
        for (int i = 1; i <= n - 2; ++i) {
            for (int j = 1; j <= n - 2; ++j) {
                float* v = grid.vertex(i, j);
                v[P] = v[BP];
                v[P + 1] = v[BP + 1];
                v[P + 2] = v[BP + 2];
                perVertex(v, i);
            }
        }
    };

    switch (m) {
    case 1: {
        const float w = x * 0.025f;
        const float a = alpha.valueAt(at);
        each([&](float* v, int) {
            const float d = divisor(0.1f - std::sqrt(v[BP] * v[BP] + v[BP + 1] * v[BP + 1]));
            v[T] = w + v[BT] / d;
            v[T + 1] = w + v[BT + 1] / d;
            v[C] = v[C + 1] = v[C + 2] = pow6(std::fabs(d) + 0.7f);
            v[C + 3] = a;
        });
        break;
    }
    case 2: {
        const float m1 = magic1.valueAt(at), m2 = magic2.valueAt(at), m3 = magic3.valueAt(at);
        each([&](float* v, int) {
            const float r = std::sqrt(v[BP] * v[BP] + v[BP + 1] * v[BP + 1]);
            const float u = std::max(0.0f, 1 - m1 * r * 3);
            const float A = std::cos(m3 * r * 32 - x);
            const float D = m2 * A * u * 2 + 1;
            v[T] = D * v[BT];
            v[T + 1] = D * v[BT + 1];
            v[C] = v[C + 1] = v[C + 2] = v[C + 3] = 1;
        });
        break;
    }
    case 3: {
        const float b = 0.2f * x;
        const float e = std::sin(2 * b) * 0.4f;
        const float f = std::cos(2 * b) * 0.4f;
        const float g = std::cos(b + 0.4f) * 0.8f;
        const float h = std::sin(1.4f * b) * 0.8f;
        const float l = std::cos(0.5f * b) * 0.5f + 0.8f;
        const float a = alpha.valueAt(time);
        each([&](float* v, int) {
            const float bx = v[BP], by = v[BP + 1];
            const float r = divisor((l - std::sqrt((f + by) * (f + by) + (e + bx) * (e + bx))) +
                                    (l - std::sqrt((h + by) * (h + by) + (g + bx) * (g + bx))));
            v[T] = b + v[BT] / r;
            v[T + 1] = b + v[BT + 1] / r;
            v[C] = v[C + 1] = v[C + 2] = pow6(std::fabs(r) + 0.7f);
            v[C + 3] = a;
        });
        break;
    }
    case 4: {
        const float radius = magic1.valueAt(time);
        const float f = reverse ? -0.05f * x : 0.05f * x;
        const float a = alpha.valueAt(time);
        each([&](float* v, int) {
            const float e = divisor(radius - std::sqrt(v[BP] * v[BP] + v[BP + 1] * v[BP + 1]));
            v[T] = f + v[BT] / e;
            v[T + 1] = f + v[BT + 1] / e;
            const float k = std::fabs(e) + 0.7f;
            const float k2 = k * k;
            v[C] = v[C + 1] = v[C + 2] = k2 * k2 * k2 * k2;
            v[C + 3] = a;
        });
        break;
    }
    default:
        break;
    }
}
