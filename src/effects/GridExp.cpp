#include "effects/GridExp.h"

#include "platform/GL.h"

#include <cmath>

namespace {
// Variables taken "at x" are read at the animation time cut to whole milliseconds.
int timeAt(float x) {
    return static_cast<int>(x);
}
} // namespace

GridExp::GridExp() : GridEffect("GridExp", kSize, 20.0f, 20.0f, 0.5f, 0.7f, 0.4f, 20.0f) {
    // What the crater and the ripple take from a vertex's place alone, worked out once.
    const int n = grid.size();
    const float nf = static_cast<float>(n);
    const int h = n / 2;
    const float rim = std::sqrt(nf * nf / 2);
    craterShape.resize(static_cast<size_t>(n) * n);
    rippleSin.resize(craterShape.size());
    rippleCos.resize(craterShape.size());
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const size_t at = static_cast<size_t>(i) * n + j;
            const float d = std::sqrt(static_cast<float>((i - h) * (i - h) + (j - h) * (j - h)));
            craterShape[at] = d * std::sin(d * static_cast<float>(M_PI) / rim);
            const float* v = grid.vertex(i, j);
            const float r = std::sqrt(v[GridMesh::kBasePosition] * v[GridMesh::kBasePosition] +
                                      v[GridMesh::kBasePosition + 1] * v[GridMesh::kBasePosition + 1]);
            const float falloff = 0.8f / (0.8f * r + 1);
            rippleSin[at] = std::sin(2 * r) * falloff;
            rippleCos[at] = std::cos(2 * r) * falloff;
        }
    }
}

void GridExp::spinTexture(int time) {
    if (rotate.valueAt(time) > 0) glRotatef(phase * 0.05f, 0, 0, 1);
}

void GridExp::animate(int m, int) {
    const int n = grid.size();
    const float nf = static_cast<float>(n);
    // The border rows and columns keep their values; the wave formulas stay one further inside.
    const int last = m == 4 ? n - 2 : n - 3;
    constexpr int P = GridMesh::kPosition, T = GridMesh::kTexCoord, C = GridMesh::kColour;
    constexpr int BP = GridMesh::kBasePosition, BT = GridMesh::kBaseTexCoord;

    switch (m) {
    case 0: {
        const float x = phase * 0.05f;
        // The column terms are the same in every row: once per column.
        for (int j = 1; j <= last; ++j) {
            const float l = 10 * j / nf;
            columnA[j] = std::sin(0.2f * x + 3 * l);
            columnB[j] = std::cos(x / 9 + l);
            columnC[j] = std::sin(27 * l + x / 7);
        }
        for (int i = 1; i <= last; ++i) {
            const float e = i / nf;
            const float f = std::cos(std::sin(x / 9) + 27 * e);
            const float g = std::sin(7 * e + 0.2f * x);
            for (int j = 1; j <= last; ++j) {
                float* v = grid.vertex(i, j);
                const float X = (g + columnA[j]) * 0.5f + v[BP];
                const float Y = columnB[j] * 0.3f + v[BP + 1];
                const float Z = (X * columnC[j] + f * Y) * 0.2f;
                v[P] = X;
                v[P + 1] = Y;
                v[P + 2] = Z;
                v[C] = v[C + 1] = v[C + 2] = Z * 0.5f + 1;
                v[C + 3] = 1;
            }
        }
        break;
    }
    case 1: {
        const float x = phase * 0.05f;
        float k = std::sin(0.1f * x) * 0.5f;
        if (k < 0) k = 0.01f;
        for (int i = 1; i <= last; ++i) {
            for (int j = 1; j <= last; ++j) {
                float* v = grid.vertex(i, j);
                v[P] = v[BP];
                v[P + 1] = v[BP + 1];
                const float d = craterShape[static_cast<size_t>(i) * n + j];
                const float Z = -(d * d * k);
                v[P + 2] = Z;
                v[C] = v[C + 1] = v[C + 2] = -0.1f * Z;
                v[C + 3] = 1;
            }
        }
        break;
    }
    case 2: {
        const float x = phase * 0.05f;
        const int at = timeAt(x);
        const float S = magicStrength.valueAt(at) * 20;
        const float m1 = magic1.valueAt(at), m2 = magic2.valueAt(at), m3 = magic3.valueAt(at),
                    m4 = magic4.valueAt(at), m5 = magic5.valueAt(at);
        const float ax = ampX.valueAt(at), ay = ampY.valueAt(at), az = ampZ.valueAt(at);
        for (int j = 1; j <= last; ++j) {
            const float L = j * m1 * S / nf;
            columnA[j] = std::cos(0.2f * x + L * m3 * S);
            columnB[j] = std::cos(x / 9 + m2 * S * L);
            columnC[j] = std::sin(L * m4 * S + x / 7);
        }
        for (int i = 1; i <= last; ++i) {
            const float e = i / nf;
            const float H = std::cos(std::cos(x / 9) + e * m5 * S);
            const float I = std::sin(e * m2 * S + 0.2f * x);
            for (int j = 1; j <= last; ++j) {
                float* v = grid.vertex(i, j);
                const float X = (I + columnA[j]) * ax + v[BP];
                const float Y = columnB[j] * ay + v[BP + 1];
                const float Z = (v[BP] * columnC[j] + H * X) * az;
                v[P] = X;
                v[P + 1] = Y;
                v[P + 2] = Z;
                v[C] = v[C + 1] = v[C + 2] = Z * 0.5f + 1;
                v[C + 3] = 1;
            }
        }
        break;
    }
    case 3: {
        const float x = phase * 0.05f;
        const int at = timeAt(x);
        const float S = magicStrength.valueAt(at) * 20;
        const float q = 2 * signalLevel + 1;
        const float m1 = magic1.valueAt(at), m2 = magic2.valueAt(at), m3 = magic3.valueAt(at),
                    m4 = magic4.valueAt(at), m5 = magic5.valueAt(at);
        const float ax = ampX.valueAt(at), ay = ampY.valueAt(at);
        for (int j = 1; j <= last; ++j) {
            const float I = j * m1 * S / nf;
            columnA[j] = std::cos(0.2f * x + I * m4 * S);
            columnB[j] = std::cos(I * m3 * S + x / 9);
        }
        for (int i = 1; i <= last; ++i) {
            const float G = std::sin(i / nf * m2 * S + 0.2f * x);
            for (int j = 1; j <= last; ++j) {
                float* v = grid.vertex(i, j);
                const float s = (G + columnA[j]) * ax * q + v[BT];
                const float t = (std::cos(s * m5 * S) + columnB[j]) * ay * q + v[BT + 1] + 0.1f;
                v[T] = s;
                v[T + 1] = t;
            }
        }
        break;
    }
    case 4: {
        // sin(x + 2r) = sin x cos 2r + cos x sin 2r: the r terms are fixed per vertex.
        const float x = phase * 0.5f;
        const float sx = std::sin(x), cx = std::cos(x);
        for (int i = 1; i <= last; ++i) {
            for (int j = 1; j <= last; ++j) {
                float* v = grid.vertex(i, j);
                const size_t at = static_cast<size_t>(i) * n + j;
                v[P] = v[BP];
                v[P + 1] = v[BP + 1];
                v[T] = v[BT];
                v[T + 1] = v[BT + 1];
                v[C] = v[C + 1] = v[C + 2] = v[C + 3] = 1;
                v[P + 2] = sx * rippleCos[at] + cx * rippleSin[at] + v[BP + 2];
            }
        }
        break;
    }
    default:
        break;
    }
}
