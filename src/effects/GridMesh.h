// A flat n x n grid of vertices for the grid effects: each vertex keeps its base position and
// texture coordinate beside the current ones that the animations write, and a colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GridMesh {
  public:
    // Floats per vertex and where each part starts.
    static constexpr int kFloats = 14;
    static constexpr int kBasePosition = 0;
    static constexpr int kPosition = 3;
    static constexpr int kBaseTexCoord = 6;
    static constexpr int kTexCoord = 8;
    static constexpr int kColour = 10;

    // n x n vertices over a width x height sheet centred on (x0, y0) at z 0, texture coordinates
    // spanning texWidth x texHeight centred on 0. Row j, column k is vertex n j + k; rows go up.
    GridMesh(int n, float width, float height, float x0, float y0, float texWidth, float texHeight);

    // Current positions and texture coordinates back to the base ones; colours stay.
    void reset();
    // Draws the current positions and texture coordinates (and the colours when `useColours`):
    // with strips one strip per band of rows, each leaving out the band's last column of cells
    // (which lies off screen in both effects); otherwise the triangle list.
    void draw(bool strips) const;

    int size() const { return n; }
    float* vertex(int row, int column) {
        return &vertices[(static_cast<size_t>(row) * n + column) * kFloats];
    }
    const float* vertex(int row, int column) const {
        return &vertices[(static_cast<size_t>(row) * n + column) * kFloats];
    }
    const std::vector<float>& vertexData() const { return vertices; }
    const std::vector<uint16_t>& triangleIndices() const { return triangles; }
    const std::vector<uint16_t>& stripIndices() const { return strips; }
    // Indices one strip draws: 2n - 2 of the band's 2n.
    int stripLength() const { return 2 * n - 2; }

    bool useColours = false;

  private:
    int n;
    std::vector<float> vertices;
    std::vector<uint16_t> triangles;
    std::vector<uint16_t> strips;
};
