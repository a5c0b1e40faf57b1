#include "effects/GridMesh.h"

#include "platform/GL.h"

#include <algorithm>

GridMesh::GridMesh(int count, float width, float height, float x0, float y0, float texWidth, float texHeight)
    // 16-bit indices reach 256 x 256 vertices; a grid needs two rows and columns to have a cell.
    : n(std::clamp(count, 2, 256)) {
    vertices.assign(static_cast<size_t>(n) * n * kFloats, 0.0f);
    const float steps = static_cast<float>(n - 1);
    for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) {
            float* v = vertex(j, k);
            v[kBasePosition] = x0 - width / 2 + k * width / steps;
            v[kBasePosition + 1] = y0 - height / 2 + j * height / steps;
            v[kBasePosition + 2] = 0.0f;
            v[kBaseTexCoord] = -texWidth / 2 + k * texWidth / steps;
            v[kBaseTexCoord + 1] = -texHeight / 2 + j * texHeight / steps;
            // Animations that leave the colour alone show the picture unchanged.
            std::fill(v + kColour, v + kColour + 4, 1.0f);
        }
    }
    reset();

    triangles.reserve(static_cast<size_t>(n - 1) * (n - 1) * 6);
    strips.reserve(static_cast<size_t>(n - 1) * n * 2);
    for (int j = 0; j < n - 1; ++j) {
        for (int k = 0; k < n - 1; ++k) {
            const auto at = [this](int row, int column) { return static_cast<uint16_t>(row * n + column); };
            triangles.insert(triangles.end(), {at(j, k), at(j, k + 1), at(j + 1, k), at(j, k + 1),
                                               at(j + 1, k + 1), at(j + 1, k)});
        }
        for (int k = 0; k < n; ++k) {
            strips.push_back(static_cast<uint16_t>(n * j + k));
            strips.push_back(static_cast<uint16_t>(n * (j + 1) + k));
        }
    }
}

void GridMesh::reset() {
    for (size_t v = 0; v < vertices.size(); v += kFloats) {
        float* p = &vertices[v];
        std::copy(p + kBasePosition, p + kBasePosition + 3, p + kPosition);
        std::copy(p + kBaseTexCoord, p + kBaseTexCoord + 2, p + kTexCoord);
    }
}

void GridMesh::draw(bool useStrips) const {
    constexpr GLsizei stride = kFloats * sizeof(float);
    // The arrays live in client memory: a buffer object left bound would turn them into offsets.
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, &vertices[kPosition]);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, stride, &vertices[kTexCoord]);
    if (useColours) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_FLOAT, stride, &vertices[kColour]);
    }
    if (useStrips) {
        for (int j = 0; j < n - 1; ++j)
            glDrawElements(GL_TRIANGLE_STRIP, stripLength(), GL_UNSIGNED_SHORT,
                           &strips[static_cast<size_t>(j) * 2 * n]);
    } else {
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(triangles.size()), GL_UNSIGNED_SHORT,
                       triangles.data());
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    if (useColours) glDisableClientState(GL_COLOR_ARRAY);
}
