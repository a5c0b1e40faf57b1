// The bundled demo's scenes as the demo maker writes them: the head read back from its files
// (its profile and its breath), the stage drawn by the engine (its shade models and the bumps of
// its wall under the light).
#include "GLTest.h"

#include "engine/Material.h"
#include "engine/Scene.h"
#include "engine/SceneFile.h"
#include "engine/SceneLoaderQZG.h"
#include "engine/SceneReader.h"
#include "engine/SceneWriter.h"
#include "platform/GL.h"
#include "resources/PngWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace sf = scenefile;

namespace {

// The demo maker's output, made once for the tests here.
const std::string& stagedData() {
    static const std::string dir = [] {
        const std::string out = makeTempDir() + "/stage";
        CommandResult r = runCommand(binPath("holdfast-makedemo") + " --content " + HOLDFAST_SOURCE_DIR +
                                         "/content --out " + out,
                                     300);
        if (r.exitCode != 0) ADD_FAILURE() << "holdfast-makedemo failed:\n" << r.err;
        return out;
    }();
    return dir;
}

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const sf::Mesh* findMesh(const sf::SceneFile& scene, const std::string& name) {
    for (const sf::Chunk& chunk : scene.chunks)
        if (const auto* mesh = std::get_if<sf::Mesh>(&chunk))
            if (mesh->header.name == name) return mesh;
    return nullptr;
}

using Point = std::array<double, 2>;

double area(const std::vector<Point>& polygon) {
    double twice = 0;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Point& a = polygon[i];
        const Point& b = polygon[(i + 1) % polygon.size()];
        twice += a[0] * b[1] - b[0] * a[1];
    }
    return std::fabs(twice) / 2;
}

double cross(const Point& o, const Point& a, const Point& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// The convex hull (monotone chain).
std::vector<Point> hull(std::vector<Point> points) {
    std::sort(points.begin(), points.end());
    std::vector<Point> h(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], points[i]) <= 0)
            --k;
        h[k++] = points[i];
    }
    for (size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(h[k - 2], h[k - 1], points[i - 1]) <= 0)
            --k;
        h[k++] = points[i - 1];
    }
    h.resize(k - 1);
    return h;
}

// The outline of points seen along x: per band of height, the furthest front and back.
std::vector<Point> sideOutline(const std::vector<Point>& points, int bands) {
    double low = 1e30, high = -1e30;
    for (const Point& p : points) {
        low = std::min(low, p[1]);
        high = std::max(high, p[1]);
    }
    std::vector<double> front(bands, -1e30), back(bands, 1e30), height(bands, 0);
    std::vector<int> count(bands, 0);
    for (const Point& p : points) {
        const int b = std::min(bands - 1, static_cast<int>((p[1] - low) / (high - low) * bands));
        front[b] = std::max(front[b], p[0]);
        back[b] = std::min(back[b], p[0]);
        height[b] += p[1];
        ++count[b];
    }
    std::vector<Point> outline;
    for (int b = 0; b < bands; ++b)
        if (count[b]) outline.push_back({front[b], height[b] / count[b]});
    for (int b = bands - 1; b >= 0; --b)
        if (count[b]) outline.push_back({back[b], height[b] / count[b]});
    return outline;
}

} // namespace

// The head is modelled, not an egg: thousands of triangles, and from the side its outline is
// far from convex (the nose stands out over the mouth, the chin over the neck), as a ball's
// would be. Its morph frames breathe: the first and the middle one differ by a visible amount,
// neighbours by less, and no point flies off.
TEST(DemoScenes, TheHeadHasAProfileAndBreathes) {
    const std::string scenes = stagedData() + "/data/scenes/";
    const std::vector<uint8_t> bytes = bytesOf(scenes + "hode.qzg");
    sf::SceneFile scene;
    ASSERT_TRUE(sf::readScene(bytes.data(), bytes.size(), scene));
    const sf::Mesh* head = findMesh(scene, "Box01");
    ASSERT_NE(head, nullptr);
    EXPECT_GE(head->faces.size(), 2000u);

    std::vector<Point> side;
    for (const sf::Float3& v : head->vertices)
        side.push_back({v[2], v[1]});
    const double outlineArea = area(sideOutline(side, 60)), hullArea = area(hull(side));
    ASSERT_GT(outlineArea, 0);
    EXPECT_GT(hullArea / outlineArea, 1.04) << "the side outline is (nearly) convex";
    // A ball of the same vertices' count passes as convex: the measure itself is sound.
    std::vector<Point> ball;
    for (int i = 0; i < 2000; ++i) {
        const double a = i * 0.0031415926 * 2, r = 3 + 0.001 * (i % 7);
        ball.push_back({r * std::cos(a), r * std::sin(a)});
    }
    EXPECT_LT(area(hull(ball)) / area(sideOutline(ball, 60)), 1.02);

    const std::vector<uint8_t> morphBytes = bytesOf(scenes + "morphdata_Box01.pmd");
    sf::MorphData morph;
    ASSERT_TRUE(sf::readMorphData(morphBytes.data(), morphBytes.size(),
                                  static_cast<int32_t>(head->vertices.size()), morph));
    ASSERT_GE(morph.frameCount, 4);
    auto largestMove = [&](int a, int b) {
        double largest = 0;
        for (size_t i = 0; i < head->vertices.size(); ++i) {
            double d = 0;
            for (int k = 0; k < 3; ++k) {
                const double delta = morph.positions[(a * head->vertices.size() + i) * 3 + k] -
                                     morph.positions[(b * head->vertices.size() + i) * 3 + k];
                d += delta * delta;
            }
            largest = std::max(largest, std::sqrt(d));
        }
        return largest;
    };
    const double breath = largestMove(0, morph.frameCount / 2);
    EXPECT_GT(breath, 0.05);
    EXPECT_LT(breath, 0.6); // the head is about 7 units tall
    for (int f = 0; f < morph.frameCount; ++f)
        EXPECT_LT(largestMove(f, (f + 1) % morph.frameCount), breath * 0.6) << "a jump after frame " << f;
}

namespace {

class DemoStage : public GLTest {
  protected:
    int cutMaterials = 0;
    // The stage drawn from its first camera at frame 0; the frame's RGB, bottom row first.
    std::vector<unsigned char> draw(const std::string& scenePath, const std::string& textures,
                                    std::set<int>* shadeModels = nullptr) {
        SceneLoaderQZG::setKeepStoredTexturePaths(false);
        SceneLoaderQZG loader;
        Scene* scene = loader.load(scenePath, textures);
        EXPECT_NE(scene, nullptr);
        std::vector<unsigned char> rgb(800 * 600 * 3);
        if (!scene) return rgb;
        if (shadeModels)
            for (const auto& entry : scene->materials()) {
                shadeModels->insert(entry.second->shadeModel());
                // An opacity map cuts the material: its texture gained alpha, the alpha test is on.
                if (entry.second->alphaTest() && entry.second->baseTexture()) ++cutMaterials;
            }
        glViewport(0, 0, 800, 600);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene->applyLightColours();
        scene->setTime(0);
        scene->animate();
        scene->render();
        glFinish();
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, 800, 600, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        delete scene;
        return rgb;
    }
};

} // namespace

// The stage uses at least three shade models, bump mapping among them, and an opacity map; the
// bumps show: drawn
// again with its wall's normal map made flat, the wall changes, and where it changed the bumped
// wall's brightness jumps from pixel to pixel (the bricks' edges catching the light) many times
// more than the flat one's smooth fall-off.
TEST_F(DemoStage, ThreeShadeModelsAndAWallWhoseBumpsCatchTheLight) {
    if (IsSkipped()) return;
    const std::string data = stagedData() + "/data/";
    std::set<int> models;
    const std::vector<unsigned char> bumped = draw(data + "scenes/showcase.qzg", data + "textures/", &models);
    EXPECT_GE(models.size(), 3u);
    EXPECT_EQ(models.count(8), 1u) << "no bump-mapped material";
    EXPECT_GE(cutMaterials, 1) << "no material with an opacity map";

    // The same stage, its bump map swapped for a flat one (every normal straight out).
    const std::string flat = makeTempDir();
    fs::copy(data + "textures", flat + "/textures", fs::copy_options::recursive);
    std::vector<unsigned char> straight(64 * 64 * 3);
    for (size_t i = 0; i < straight.size(); i += 3) {
        straight[i] = straight[i + 1] = 128;
        straight[i + 2] = 255;
    }
    ASSERT_TRUE(writeRgbPng(flat + "/textures/flat_nm.png", 64, 64, straight.data(), false, false));
    const std::vector<uint8_t> bytes = bytesOf(data + "scenes/showcase.qzg");
    sf::SceneFile scene;
    ASSERT_TRUE(sf::readScene(bytes.data(), bytes.size(), scene));
    int swapped = 0;
    for (sf::Chunk& chunk : scene.chunks)
        if (auto* list = std::get_if<sf::MaterialList>(&chunk))
            for (sf::Material& m : list->materials)
                for (sf::TextureSlot& slot : m.textures)
                    if (slot.type == sf::BumpMap) {
                        slot.name = "flat_nm.png";
                        ++swapped;
                    }
    ASSERT_GT(swapped, 0);
    ASSERT_TRUE(sf::writeSceneFile(scene, flat + "/flat.qzg"));
    const std::vector<unsigned char> smooth = draw(flat + "/flat.qzg", flat + "/textures/");

    auto luminance = [](const std::vector<unsigned char>& rgb, size_t pixel) {
        return 0.299 * rgb[pixel * 3] + 0.587 * rgb[pixel * 3 + 1] + 0.114 * rgb[pixel * 3 + 2];
    };
    long wall = 0;
    double bumpedSteps = 0, smoothSteps = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x + 1 < 800; ++x) {
            const size_t p = static_cast<size_t>(y) * 800 + x;
            bool changed = false, nextChanged = false;
            for (int c = 0; c < 3; ++c) {
                changed = changed || std::abs(bumped[p * 3 + c] - smooth[p * 3 + c]) > 6;
                nextChanged = nextChanged || std::abs(bumped[(p + 1) * 3 + c] - smooth[(p + 1) * 3 + c]) > 6;
            }
            if (!changed || !nextChanged) continue;
            ++wall;
            bumpedSteps += std::fabs(luminance(bumped, p) - luminance(bumped, p + 1));
            smoothSteps += std::fabs(luminance(smooth, p) - luminance(smooth, p + 1));
        }
    EXPECT_GT(wall, 800 * 600 / 50) << "the bumps change too little of the picture";
    EXPECT_GT(bumpedSteps, 4 * smoothSteps + wall) << "the bumped wall is as even as a flat one";
}
