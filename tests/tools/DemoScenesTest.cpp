// The bundled demo's scenes as the demo maker writes them: the stage drawn by the engine (its
// shade models and the bumps of its wall under the light).
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

} // namespace

namespace {

class DemoStage : public GLTest {
  protected:
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
            for (const auto& entry : scene->materials())
                shadeModels->insert(entry.second->shadeModel());
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

// The stage uses at least three shade models, bump mapping among them, and the bumps show: drawn
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
