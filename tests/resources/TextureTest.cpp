#include "GLTest.h"
#include "ImageWriters.h"
#include "ReportCapture.h"

#include "base/Report.h"
#include "demo/Random.h"
#include "resources/Texture.h"
#include "resources/TextureTools.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace {

// Level 0 of a 2D texture as RGBA bytes.
std::vector<unsigned char> readTexture(const Texture* texture) {
    std::vector<unsigned char> texels(static_cast<size_t>(texture->width) * texture->height * 4);
    glBindTexture(GL_TEXTURE_2D, texture->id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

GLint levelParameter(GLenum target, GLenum name) {
    GLint value = 0;
    glGetTexLevelParameteriv(target, 0, name, &value);
    return value;
}

class Textures : public GLTest {
  protected:
    void TearDown() override { registry.releaseAll(); }
    std::string dir = makeTempDir() + "/";
    // A registry of the test's own, so tests don't see each other's names.
    TextureManager registry;

    void writeRgb(const std::string& name, int width, int height) {
        auto pixels = rgbPixels(width, height, [](int x, int y) {
            return std::array<unsigned char, 3>{static_cast<unsigned char>(x), static_cast<unsigned char>(y),
                                                50};
        });
        ASSERT_TRUE(writePNG(dir + name, width, height, PNG_COLOR_TYPE_RGB, 8, pixels));
    }
};

TEST_F(Textures, PicturesGetPowerOfTwoTexturesWideOnesSquare) {
    writeRgb("wide.png", 300, 200);
    Texture* texture = registry.loadTexture("wide.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->width, 512);
    EXPECT_EQ(texture->height, 512);
    EXPECT_EQ(texture->imageWidth, 300);
    EXPECT_EQ(texture->imageHeight, 200);
    ASSERT_TRUE(texture->getImage());
    EXPECT_EQ(texture->getImage()->width, 512u);
    EXPECT_EQ(texture->getImage()->bitsPerPixel, 32u);

    texture->bind();
    EXPECT_EQ(levelParameter(GL_TEXTURE_2D, GL_TEXTURE_WIDTH), 512);
    GLint minFilter = 0, wrap = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(wrap, GL_REPEAT);
    GLint lastLevel = 0; // a full mipmap chain down to 1 x 1
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 9, GL_TEXTURE_WIDTH, &lastLevel);
    EXPECT_EQ(lastLevel, 1);

    // Nearest-neighbour stretch: texel (511, 511) comes from image pixel (299, 199) scaled by 300/512,
    // 200/512.
    auto texels = readTexture(texture);
    const size_t last = (511 * 512 + 511) * 4;
    EXPECT_EQ(texels[last + 0], static_cast<unsigned char>(static_cast<int>(511 * (300.0f / 512.0f))));
    EXPECT_EQ(texels[last + 1], static_cast<unsigned char>(static_cast<int>(511 * (200.0f / 512.0f))));
    EXPECT_EQ(texels[last + 3], 255);

    // Power-of-two pictures keep their size.
    writeRgb("tall.png", 256, 512);
    Texture* tall = registry.loadTexture("tall.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->width, 256);
    EXPECT_EQ(tall->height, 512);
    EXPECT_EQ(tall->getImage()->width, 256u);
    EXPECT_EQ(tall->getImage()->height, 512u);
    texels = readTexture(tall);
    EXPECT_EQ(texels[(300 * 256 + 200) * 4 + 0], 200);
    EXPECT_EQ(texels[(300 * 256 + 200) * 4 + 1], static_cast<unsigned char>(300));

    std::vector<unsigned char> rgba(256 * 256 * 4, 9);
    ASSERT_TRUE(writePNG(dir + "square.png", 256, 256, PNG_COLOR_TYPE_RGBA, 8, rgba));
    Texture* square = registry.loadTexture("square.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(square);
    EXPECT_EQ(square->width, 256);
    EXPECT_EQ(square->getImage()->bitsPerPixel, 32u);
    EXPECT_EQ(readTexture(square), rgba);
}

// A one-row picture becomes a square texture with mipmaps: past the image size limit that is
// refused with a report, and the registry hands out nothing.
TEST_F(Textures, OverlongImageGivesNoTexture) {
    std::vector<unsigned char> row(16384 * 3, 90);
    ASSERT_TRUE(writePNG(dir + "row.png", 16384, 1, PNG_COLOR_TYPE_RGB, 8, row));
    ReportCapture reports;
    EXPECT_EQ(registry.loadTexture("row.png", dir, GL_TEXTURE_2D), nullptr);
    ASSERT_EQ(reports.all().size(), 1u);
    EXPECT_FALSE(reports.all()[0].fatal);
    EXPECT_NE(reports.all()[0].text.find("row.png"), std::string::npos);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Textures, UnsupportedImageDepthEndsTheProgram) {
    std::vector<unsigned char> grey(16, 3);
    ASSERT_TRUE(writePNG(dir + "grey.png", 4, 4, PNG_COLOR_TYPE_GRAY, 8, grey));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureGLContext();
            TextureManager::instance().loadTexture(dir + "grey.png", "", GL_TEXTURE_2D);
        },
        ::testing::ExitedWithCode(1), "Image has unsupported bit depth: .*grey.png \\(8 bits per pixel");
}

TEST_F(Textures, EmptyTexturesMarkTheRequestedRegionUpTo1024) {
    // Past 1024 a side the request ends the program (checked first: the child runs up to here).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureGLContext();
            TextureManager::instance().createTexture("huge", 1025, 16, GL_TEXTURE_2D, GL_RGBA);
        },
        ::testing::ExitedWithCode(1), "Texture: dimensions too large");

    Texture* small = registry.createTexture("five", 5, 5, GL_TEXTURE_2D, GL_RGBA);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 8);
    EXPECT_EQ(small->height, 8);
    EXPECT_EQ(small->getImage(), nullptr);
    auto texels = readTexture(small);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(texels[(y * 8 + x) * 4 + c], (x < 5 && y < 5) ? 127 : 0) << x << "," << y;

    Texture* exact = registry.createTexture("eight", 8, 8, GL_TEXTURE_2D, GL_RGBA);
    for (unsigned char v : readTexture(exact))
        ASSERT_EQ(v, 0);

    Texture* rounded = registry.createTexture("rounded", 300, 9, GL_TEXTURE_2D, GL_RGBA);
    EXPECT_EQ(rounded->width, 512);
    EXPECT_EQ(rounded->height, 16);
    Texture* largest = registry.createTexture("largest", 1024, 1024, GL_TEXTURE_2D, GL_RGBA);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->width, 1024);
    GLint filter = 0;
    largest->bind();
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_LINEAR);
}

TEST_F(Textures, DepthAndCubeMapTextures) {
    Texture* depth = registry.createTexture("shadow", 256, 99, GL_DEPTH_COMPONENT, GL_RGBA);
    ASSERT_TRUE(depth);
    EXPECT_EQ(depth->width, 256);
    EXPECT_EQ(depth->height, 256);
    depth->bind(); // binds as GL_TEXTURE_2D
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), depth->id);
    EXPECT_EQ(levelParameter(GL_TEXTURE_2D, GL_TEXTURE_WIDTH), 256);
    EXPECT_GT(levelParameter(GL_TEXTURE_2D, GL_TEXTURE_DEPTH_SIZE), 0);

    Texture* cube = registry.createTexture("cube", 64, 0, GL_TEXTURE_CUBE_MAP, GL_RGBA);
    ASSERT_TRUE(cube);
    cube->bind();
    EXPECT_EQ(levelParameter(GL_TEXTURE_CUBE_MAP_NEGATIVE_Z, GL_TEXTURE_WIDTH), 64);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_CUBE_MAP));

    EXPECT_EQ(registry.createTexture("other", 8, 8, GL_TEXTURE_3D, GL_RGBA), nullptr);
    EXPECT_EQ(registry.find("other"), nullptr);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Textures, RegistrySharesByNameAndCountsUses) {
    writeRgb("shared.png", 4, 4);
    Texture* first = registry.loadTexture("shared.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(first);
    // The key is the name alone: another directory finds the same texture.
    EXPECT_EQ(registry.loadTexture("shared.png", "/elsewhere/", GL_TEXTURE_2D), first);
    EXPECT_EQ(registry.find("shared.png")->useCount, 2u);

    Texture* empty = registry.createTexture("target", 64, 64, GL_TEXTURE_2D, GL_RGBA);
    EXPECT_EQ(registry.createTexture("target", 512, 512, GL_TEXTURE_2D, GL_RGBA), empty);
    EXPECT_EQ(empty->width, 64);
    EXPECT_EQ(registry.find("target")->useCount, 2u);

    EXPECT_EQ(registry.loadTexture("", dir, GL_TEXTURE_2D), nullptr);
    // A failed load is not remembered.
    EXPECT_EQ(registry.loadTexture("absent.png", dir, GL_TEXTURE_2D), nullptr);
    EXPECT_EQ(registry.find("absent.png"), nullptr);
    writeRgb("absent.png", 2, 2);
    EXPECT_NE(registry.loadTexture("absent.png", dir, GL_TEXTURE_2D), nullptr);

    EXPECT_EQ(registry.registerTexture("null", nullptr), 1);
    EXPECT_EQ(registry.find("null"), nullptr);
    EXPECT_EQ(registry.registerTexture("shared.png", first), 0);
    EXPECT_EQ(registry.find("shared.png")->useCount, 3u);
    Texture stranger;
    EXPECT_EQ(registry.registerTexture("shared.png", &stranger), 1);
    EXPECT_EQ(registry.find("shared.png")->object, first);
    EXPECT_EQ(registry.find("shared.png")->useCount, 3u);

    EXPECT_EQ(registry.size(), 3u);
    registry.releaseAll();
    EXPECT_EQ(registry.size(), 0u);
    EXPECT_EQ(registry.find("shared.png"), nullptr);
    // The process-wide registry is one.
    EXPECT_EQ(&TextureManager::instance(), &TextureManager::instance());
}

// A texture only its first caller holds can go, GL object and all, and comes back whole from its
// file; one that others obtained too stays.
TEST_F(Textures, AnUnsharedTextureIsReleasedAndLoadsAgainASharedOneStays) {
    writeRgb("single.png", 8, 4);
    writeRgb("shared.png", 4, 4);
    Texture* single = registry.loadTexture("single.png", dir, GL_TEXTURE_2D);
    Texture* shared = registry.loadTexture("shared.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(single && shared);
    EXPECT_EQ(registry.loadTexture("shared.png", dir, GL_TEXTURE_2D), shared);
    const std::vector<unsigned char> texels = readTexture(single);
    const GLuint id = single->id;

    EXPECT_FALSE(registry.releaseIfUnshared("shared.png"));
    EXPECT_EQ(registry.find("shared.png")->object, shared);
    EXPECT_TRUE(glIsTexture(shared->id));
    EXPECT_FALSE(registry.releaseIfUnshared("never-loaded.png"));

    EXPECT_TRUE(registry.releaseIfUnshared("single.png"));
    EXPECT_EQ(registry.find("single.png"), nullptr);
    EXPECT_FALSE(glIsTexture(id));
    EXPECT_FALSE(registry.releaseIfUnshared("single.png"));
    Texture* again = registry.loadTexture("single.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->width, 8);
    EXPECT_EQ(again->height, 8);
    EXPECT_EQ(readTexture(again), texels);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Textures, FileTextureForAnotherTargetIsReportedNotUploaded) {
    writeRgb("cube.png", 4, 4);
    ReportCapture reports;
    Texture* texture = registry.loadTexture("cube.png", dir, GL_TEXTURE_CUBE_MAP);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->id, 0u);
    EXPECT_TRUE(reports.has("generateTexture1D is not implemented", false));
}

TEST_F(Textures, ClearAndRandomizeReplaceLevelZeroAndNeedATexture) {
    Texture* texture = registry.createTexture("noise", 16, 8, GL_TEXTURE_2D, GL_RGBA);
    Random::seed(1234);
    TextureTools::randomizeTexture(texture);
    auto texels = readTexture(texture);
    Random::seed(1234);
    for (int i = 0; i < 16 * 8; ++i) {
        const unsigned char expected = static_cast<unsigned char>(Random::next15() & 0xff);
        for (int c = 0; c < 4; ++c)
            ASSERT_EQ(texels[i * 4 + c], expected) << i;
    }
    TextureTools::clearTexture(texture);
    for (unsigned char v : readTexture(texture))
        ASSERT_EQ(v, 0);

    // Without a texture both are fatal.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(TextureTools::clearTexture(nullptr), ::testing::ExitedWithCode(1), "Illegal texture");
    EXPECT_EXIT(TextureTools::randomizeTexture(nullptr), ::testing::ExitedWithCode(1), "Illegal texture");
}

} // namespace

// A picture read again goes into the same GL texture (whatever holds it shows the new picture),
// at the new picture's size, with the alpha mask it had; a file that can't be read now, or a
// texture that came from no file, keeps what it has.
TEST_F(Textures, ReloadingAPictureKeepsItsTextureAndItsMask) {
    const auto solid = [&](const std::string& name, int side, unsigned char r, unsigned char g,
                           unsigned char b) {
        auto pixels = rgbPixels(side, side, [&](int, int) { return std::array<unsigned char, 3>{r, g, b}; });
        ASSERT_TRUE(writePNG(dir + name, side, side, PNG_COLOR_TYPE_RGB, 8, pixels));
    };
    solid("base.png", 8, 200, 0, 0);
    solid("mask.png", 8, 30, 30, 30);
    Texture* base = registry.loadTexture("base.png", dir, GL_TEXTURE_2D);
    Texture* mask = registry.loadTexture("mask.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(base && mask);
    base->applyAlphaMask(mask);
    const GLuint id = base->id;
    EXPECT_EQ(readTexture(base)[3], 30);

    solid("base.png", 16, 0, 0, 200); // a bigger picture: the mask no longer fits
    ASSERT_TRUE(base->reloadFromFile());
    EXPECT_EQ(base->id, id);
    EXPECT_EQ(base->width, 16);
    std::vector<unsigned char> texels = readTexture(base);
    EXPECT_EQ(texels[0], 0);
    EXPECT_EQ(texels[2], 200);
    EXPECT_EQ(texels[3], 255);
    solid("base.png", 8, 0, 200, 0); // the mask's size again: masked again
    solid("mask.png", 8, 90, 90, 90);
    ASSERT_TRUE(mask->reloadFromFile());
    ASSERT_TRUE(base->reloadFromFile());
    texels = readTexture(base);
    EXPECT_EQ(texels[1], 200);
    EXPECT_EQ(texels[3], 90);

    writeFile(dir + "base.png", "not a picture");
    EXPECT_FALSE(base->reloadFromFile());
    EXPECT_EQ(base->id, id);
    EXPECT_EQ(readTexture(base), texels);
    ASSERT_TRUE(base->getImage());
    EXPECT_EQ(base->getImage()->width, 8u);

    Texture* empty = registry.createTexture("empty", 8, 8, GL_TEXTURE_2D, GL_RGBA);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->reloadFromFile());
    const std::vector<Texture*> fromFiles = registry.fileTextures();
    EXPECT_EQ(fromFiles.size(), 2u);
    EXPECT_EQ(std::count(fromFiles.begin(), fromFiles.end(), empty), 0);
}

TEST_F(Textures, DroppedPicturesAreDecodedAgainForAMaskAndGiveTheSameTexels) {
    // Odd sizes, so the decoded-again pictures are scaled and widened as the upload had them.
    const auto picture = [&](const std::string& name, unsigned char salt) {
        auto pixels = rgbPixels(6, 3, [&](int x, int y) {
            return std::array<unsigned char, 3>{static_cast<unsigned char>(x * 40 + salt),
                                                static_cast<unsigned char>(y * 70), salt};
        });
        ASSERT_TRUE(writePNG(dir + name, 6, 3, PNG_COLOR_TYPE_RGB, 8, pixels));
    };
    for (const char* name : {"base.png", "base2.png"})
        picture(name, 10);
    for (const char* name : {"mask.png", "mask2.png"})
        picture(name, 90);
    Texture* kept = registry.loadTexture("base.png", dir, GL_TEXTURE_2D);
    Texture* keptMask = registry.loadTexture("mask.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(kept && keptMask);
    kept->applyAlphaMask(keptMask);
    const std::vector<unsigned char> expected = readTexture(kept);

    // Loaded as the player's load does: each decoded copy goes at its upload.
    const bool keepImages = TextureManager::keepDecodedImages(false);
    Texture* base = registry.loadTexture("base2.png", dir, GL_TEXTURE_2D);
    Texture* mask = registry.loadTexture("mask2.png", dir, GL_TEXTURE_2D);
    TextureManager::keepDecodedImages(keepImages);
    ASSERT_TRUE(base && mask);
    EXPECT_EQ(base->getImage(), nullptr);
    registry.dropImages();
    EXPECT_EQ(kept->getImage(), nullptr);
    EXPECT_EQ(readTexture(kept), expected); // the uploads stay
    base->applyAlphaMask(mask);
    EXPECT_EQ(readTexture(base), expected);
    EXPECT_NE(expected[3], 255);
    EXPECT_EQ(base->getImage(), nullptr); // dropped again
    EXPECT_EQ(mask->getImage(), nullptr);

    // A reload takes its mask from a dropped picture too.
    ASSERT_TRUE(base->reloadFromFile());
    EXPECT_EQ(readTexture(base), expected);

    // A mask whose file is gone, or no longer the size it was, leaves the texture as it is.
    registry.dropImages();
    std::remove((dir + "mask2.png").c_str());
    base->applyAlphaMask(mask);
    EXPECT_EQ(readTexture(base), expected);
    auto other = rgbPixels(6, 6, [](int, int) { return std::array<unsigned char, 3>{0, 0, 0}; });
    ASSERT_TRUE(writePNG(dir + "mask2.png", 6, 6, PNG_COLOR_TYPE_RGB, 8, other));
    base->applyAlphaMask(mask);
    EXPECT_EQ(readTexture(base), expected);
}

// A preview's reload: the pictures only the old version named go with their GL objects (a mask
// pointing at one is let go), those the new load asked for stay, render targets are never taken;
// after a failed load what it loaded goes, a picture the upload refused included, and the old
// version's pictures stay.
TEST_F(Textures, AReloadReleasesThePicturesNoLongerNamedAndAFailedOneWhatItLoaded) {
    for (const char* name : {"old.png", "both.png", "new.png"})
        writeRgb(name, 4, 4);
    Texture* old = registry.loadTexture("old.png", dir, GL_TEXTURE_2D);
    Texture* both = registry.loadTexture("both.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(old && both && registry.createTexture("target", 8, 8, GL_TEXTURE_2D, GL_RGBA));
    both->applyAlphaMask(old);
    const GLuint oldId = old->id;

    registry.markFileTextures();
    registry.loadTexture("both.png", dir, GL_TEXTURE_2D);
    registry.loadTexture("new.png", dir, GL_TEXTURE_2D);
    EXPECT_EQ(registry.releaseMarkedNotAskedFor(), 1u);
    EXPECT_EQ(registry.find("old.png"), nullptr);
    EXPECT_FALSE(glIsTexture(oldId));
    EXPECT_EQ(both->alphaMask, nullptr);
    EXPECT_TRUE(registry.find("both.png") && registry.find("new.png") && registry.find("target"));

    std::vector<unsigned char> grey(16, 3);
    ASSERT_TRUE(writePNG(dir + "grey.png", 4, 4, PNG_COLOR_TYPE_GRAY, 8, grey));
    registry.markFileTextures();
    Texture* loaded = registry.loadTexture("old.png", dir, GL_TEXTURE_2D);
    ASSERT_TRUE(loaded);
    const GLuint loadedId = loaded->id;
    {
        report::FatalGuard guard;
        EXPECT_THROW(registry.loadTexture("grey.png", dir, GL_TEXTURE_2D), report::FatalError);
    }
    EXPECT_EQ(registry.find("grey.png"), nullptr);
    EXPECT_EQ(registry.releaseUnmarked(), 1u);
    EXPECT_EQ(registry.find("old.png"), nullptr);
    EXPECT_FALSE(glIsTexture(loadedId));
    EXPECT_EQ(registry.size(), 3u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
