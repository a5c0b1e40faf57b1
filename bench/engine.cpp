// One frame of a 3D scene: about 100 000 triangles in 25 animated meshes (plain and textured
// materials), 4 lights, without and with the shadow map (rendered into the depth target or
// copied into a depth texture). Needs a display (run under xvfb-run).
// Under Mesa's llvmpipe the time per frame is the whole frame; with GALLIUM_NOOP=1 (in a process
// of its own) Mesa draws nothing and what is left is the engine's CPU cost plus GL call overhead.
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/Texture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

bool haveContext() {
    static const bool ok = platform::createHiddenGLContext(800, 600);
    return ok;
}

// A UV sphere of stacks × slices × 2 triangles.
MeshObject* sphere(int32_t id, int32_t materialId, int stacks, int slices, float radius) {
    auto* mesh = new MeshObject(id, "Sphere" + std::to_string(id));
    std::vector<MeshVertex> vertices;
    std::vector<Vector3> normals;
    std::vector<TexCoord> uv;
    for (int i = 0; i <= stacks; ++i) {
        const float phi = 3.14159265f * static_cast<float>(i) / static_cast<float>(stacks);
        for (int j = 0; j <= slices; ++j) {
            const float theta = 6.2831853f * static_cast<float>(j) / static_cast<float>(slices);
            const Vector3 n(std::sin(phi) * std::cos(theta), std::cos(phi), std::sin(phi) * std::sin(theta));
            MeshVertex v;
            v.position = n * radius;
            v.normal = static_cast<int32_t>(vertices.size());
            vertices.push_back(v);
            normals.push_back(n);
            uv.push_back({static_cast<float>(j) / static_cast<float>(slices),
                          static_cast<float>(i) / static_cast<float>(stacks)});
        }
    }
    std::vector<MeshFace> faces;
    for (int i = 0; i < stacks; ++i)
        for (int j = 0; j < slices; ++j) {
            const int a = i * (slices + 1) + j, b = a + slices + 1;
            MeshFace f1, f2;
            f1.vertex[0] = a, f1.vertex[1] = a + 1, f1.vertex[2] = b;
            f2.vertex[0] = a + 1, f2.vertex[1] = b + 1, f2.vertex[2] = b;
            faces.push_back(f1);
            faces.push_back(f2);
        }
    mesh->setVertices(vertices);
    mesh->setNormals(normals);
    mesh->setCoordinateSet0(uv);
    mesh->setFaces(faces);
    mesh->setMaterialId(materialId);
    return mesh;
}

std::unique_ptr<Texture> checker() {
    auto texture = std::make_unique<Texture>(GL_TEXTURE_2D, GL_RGBA);
    auto* image = new ImageData;
    image->width = image->height = 64;
    image->bitsPerPixel = 32;
    image->data = static_cast<unsigned char*>(std::malloc(64 * 64 * 4));
    for (int i = 0; i < 64 * 64; ++i) {
        const bool on = ((i % 64) / 8 + (i / 64) / 8) % 2 == 0;
        image->data[i * 4] = on ? 230 : 40;
        image->data[i * 4 + 1] = 160;
        image->data[i * 4 + 2] = on ? 40 : 230;
        image->data[i * 4 + 3] = 255;
    }
    texture->image = image;
    texture->generateTexture2D();
    return texture;
}

struct BenchScene {
    Scene scene;
    std::unique_ptr<Texture> texture = checker();
    int triangles = 0;

    BenchScene() {
        scene.setFrames(100, 1);
        scene.setLoop(true);
        auto* plain = new Material(1, "plain");
        plain->setDiffuse(ColorRGBA(0.7f, 0.7f, 0.7f));
        plain->setSpecular(ColorRGBA(1, 1, 1));
        plain->setShininess(0.3f, 1.0f);
        plain->finishTextures();
        auto* textured = new Material(2, "textured");
        textured->setBaseTexture(texture.get());
        textured->finishTextures();
        scene.addMaterial(plain);
        scene.addMaterial(textured);

        // Ground: a flattened sphere under everything.
        MeshObject* ground = sphere(1, 1, 20, 50, 1);
        ground->setScale(Vector3(40, 0.05f, 40));
        ground->setPosition(Vector3(0, -2, 0));
        scene.addObject(ground, -1);
        triangles += 2000;
        // 24 spheres of 4000 triangles in a grid, each bobbing on its own keys.
        for (int i = 0; i < 24; ++i) {
            MeshObject* ball = sphere(10 + i, 1 + i % 2, 40, 50, 1.2f);
            std::vector<Vector3> keys;
            const float x = static_cast<float>(i % 6) * 4.0f - 10.0f,
                        z = static_cast<float>(i / 6) * 4.0f - 6.0f;
            for (int k = 0; k < 100; ++k)
                keys.emplace_back(x, std::sin(static_cast<float>(k + i * 7) * 0.2f), z);
            ball->setPositionKeys(100, keys.data());
            scene.addObject(ball, -1);
            triangles += 4000;
        }
        auto* target = new DummyObject(100, "Target");
        scene.addObject(target, -1);
        auto* camera = new Camera(101, "Camera01");
        camera->setPosition(Vector3(0, 14, 22));
        camera->setTargetId(100);
        scene.addCamera(camera, -1);
        const Vector3 lightAt[4] = {{0, 20, 2}, {-15, 6, 10}, {15, 6, 10}, {0, 8, -15}};
        const char* names[4] = {"Spot01", "Omni01", "Omni02", "Omni03"};
        for (int i = 0; i < 4; ++i) {
            auto* light = new Light(200 + i, names[i]);
            light->setColour(ColorRGBA(0.6f, 0.6f, 0.6f));
            light->setPosition(lightAt[i]);
            light->setTargetId(i == 0 ? 100 : 0);
            light->setShadowCaster(i == 0);
            scene.addLight(light, -1);
        }
        scene.finishLoading();
        scene.applyLightColours();
    }
};

void SceneFrame(benchmark::State& state) {
    if (!haveContext()) {
        state.SkipWithError("no GL context");
        return;
    }
    static BenchScene* bench = new BenchScene; // scenes live until exit, as in the player
    // 0: no shadows; 1: shadow map in the depth render target; 2: copied depth texture.
    static const bool depthTargets = bench->scene.depthTargetAvailable();
    bench->scene.setDepthTargetAvailable(depthTargets && state.range(0) == 1);
    bench->scene.setShadows(state.range(0) != 0);
    float t = 0;
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        bench->scene.setTime(t);
        bench->scene.animate();
        bench->scene.render();
        glFinish();
        t += 0.5f;
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles"] = bench->triangles;
    static const char* const labels[3] = {"no shadows", "shadows, depth target", "shadows, copied depth"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(SceneFrame)
    ->ArgName("shadows")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
