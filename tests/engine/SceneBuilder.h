// Scenes built in code for the engine tests: quads, boxes, textures made from a pixel function,
// and a renderer that draws a scene into the test window's back buffer.
#pragma once

#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "platform/GL.h"
#include "resources/Texture.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace scenes {

// A quad in the plane z = 0 of its own space, facing +z, centred on the origin; set 0 runs
// 0..1 from the lower left corner.
inline MeshObject* quad(int32_t id, const std::string& name, int32_t materialId, float width, float height) {
    auto* mesh = new MeshObject(id, name);
    const float w = width * 0.5f, h = height * 0.5f;
    std::vector<MeshVertex> vertices(4);
    vertices[0].position = Vector3(-w, -h, 0);
    vertices[1].position = Vector3(w, -h, 0);
    vertices[2].position = Vector3(w, h, 0);
    vertices[3].position = Vector3(-w, h, 0);
    for (int i = 0; i < 4; ++i)
        vertices[static_cast<size_t>(i)].normal = i;
    mesh->setVertices(vertices);
    mesh->setNormals(std::vector<Vector3>(4, Vector3(0, 0, 1)));
    mesh->setCoordinateSet0({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    MeshFace a, b;
    a.vertex[0] = 0, a.vertex[1] = 1, a.vertex[2] = 2;
    b.vertex[0] = 0, b.vertex[1] = 2, b.vertex[2] = 3;
    mesh->setFaces({a, b});
    mesh->setMaterialId(materialId);
    return mesh;
}

// A quad lying in the plane y = 0, facing +y.
inline MeshObject* floor(int32_t id, const std::string& name, int32_t materialId, float size) {
    MeshObject* mesh = quad(id, name, materialId, size, size);
    mesh->setRotationMatrix(Matrix4::fromEulerDegrees(-90, 0, 0));
    return mesh;
}

// A closed box with outward faces (24 vertices with flat normals).
inline MeshObject* box(int32_t id, const std::string& name, int32_t materialId, float size) {
    auto* mesh = new MeshObject(id, name);
    const float s = size * 0.5f;
    std::vector<MeshVertex> vertices;
    std::vector<Vector3> normals;
    std::vector<MeshFace> faces;
    const Vector3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const Vector3& n : axes) {
        // Two directions across the face, ordered so that u × v = n (counter-clockwise from outside).
        Vector3 u = std::fabs(n.y) > 0.5f ? Vector3(1, 0, 0) : Vector3(0, 1, 0);
        Vector3 v = n.cross(u);
        const int base = static_cast<int>(vertices.size());
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            MeshVertex vertex;
            vertex.position = n * s + u * (c[0] * s) + v * (c[1] * s);
            vertex.normal = static_cast<int32_t>(vertices.size());
            vertices.push_back(vertex);
            normals.push_back(n);
        }
        // u × v = n keeps the corners counter-clockwise seen from outside.
        MeshFace a, b;
        a.vertex[0] = base, a.vertex[1] = base + 1, a.vertex[2] = base + 2;
        b.vertex[0] = base, b.vertex[1] = base + 2, b.vertex[2] = base + 3;
        faces.push_back(a);
        faces.push_back(b);
    }
    mesh->setVertices(vertices);
    mesh->setNormals(normals);
    mesh->setFaces(faces);
    mesh->setMaterialId(materialId);
    return mesh;
}

// A flat-coloured material: diffuse as given, no ambient, no specular.
inline Material* colour(int32_t id, float r, float g, float b) {
    auto* material = new Material(id, "colour");
    material->setAmbient(ColorRGBA(0, 0, 0, 1));
    material->setDiffuse(ColorRGBA(r, g, b, 1));
    material->setSpecular(ColorRGBA(0, 0, 0, 1));
    return material;
}

using PixelFunction = std::function<std::array<unsigned char, 4>(int x, int y)>;

// A mipmapped RGBA texture from a pixel function (row 0 is t = 0).
inline std::unique_ptr<Texture> texture(int width, int height, const PixelFunction& pixelAt) {
    auto result = std::make_unique<Texture>(GL_TEXTURE_2D, GL_RGBA);
    auto* image = new ImageData;
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(height);
    image->bitsPerPixel = 32;
    image->data = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(width) * height * 4));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto p = pixelAt(x, y);
            for (int k = 0; k < 4; ++k)
                image->data[(static_cast<size_t>(y) * width + x) * 4 + k] = p[static_cast<size_t>(k)];
        }
    result->image = image;
    result->generateTexture2D();
    return result;
}

// A camera at `eye` looking at a dummy target at `at` (ids 900 and 901).
inline Camera* cameraLookingAt(Scene& scene, const Vector3& eye, const Vector3& at) {
    auto* target = new DummyObject(901, "CameraTarget");
    target->setPosition(at);
    scene.addObject(target, -1);
    auto* camera = new Camera(900, "Camera01");
    camera->setPosition(eye);
    camera->setTargetId(901);
    scene.addCamera(camera, -1);
    return camera;
}

// A white point light (no ambient) at `at`.
inline Light* whiteLight(Scene& scene, int32_t id, const std::string& name, const Vector3& at) {
    auto* light = new Light(id, name);
    light->setColour(ColorRGBA(1, 1, 1, 1));
    light->setAmbient(ColorRGBA(0, 0, 0, 1));
    light->setPosition(at);
    light->setTargetId(0);
    scene.addLight(light, -1);
    return light;
}

} // namespace scenes
