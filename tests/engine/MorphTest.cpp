#include "GLTest.h"
#include "SceneBuilder.h"

namespace {

// A one-vertex-per-corner quad whose morph frames put every coordinate at the frame number.
struct MorphScene {
    Scene scene;
    MeshObject* mesh = nullptr;

    explicit MorphScene(int frames) {
        scene.addMaterial(scenes::colour(1, 1, 1, 1));
        scene.findMaterial(1)->finishTextures();
        mesh = scenes::quad(1, "Box01", 1, 1, 1);
        scene.addObject(mesh, -1);
        scene.finishLoading();
        std::vector<float> positions, normals;
        for (int f = 0; f < frames; ++f)
            for (int i = 0; i < 12; ++i) {
                positions.push_back(static_cast<float>(f));
                normals.push_back(static_cast<float>(-f));
            }
        mesh->setMorphData(frames, positions, normals);
    }
    float position() const { return mesh->positionArray()[5]; }
    float normal() const { return mesh->normalArray()[7]; }
};

using Morphing = GLTest;

TEST_F(Morphing, FramesBlendFromTheStartAtTheRate) {
    MorphScene m(3);
    EXPECT_FALSE(m.mesh->usesBufferObjects());
    m.scene.setMorph(10.9f, 0.5f, false);
    EXPECT_EQ(m.scene.morphStartFrame(), 10);
    m.mesh->morph(12);
    EXPECT_FLOAT_EQ(m.position(), 1.0f);
    m.mesh->morph(13);
    EXPECT_FLOAT_EQ(m.position(), 1.5f);
    EXPECT_FLOAT_EQ(m.normal(), -1.5f); // blended like the positions, not renormalised
    m.mesh->morph(5);                   // before the start: frame 0, also after the morph has run
    EXPECT_FLOAT_EQ(m.position(), 0.0f);
}

TEST_F(Morphing, PastTheEndTheLastFrameHoldsOrTheFirstTwoCycle) {
    MorphScene m(3);
    m.scene.setMorph(10, 0.5f, false);
    m.mesh->morph(14); // a = 2: past the end
    EXPECT_FLOAT_EQ(m.position(), 2.0f);
    m.mesh->morph(5);
    m.mesh->morph(40);
    EXPECT_FLOAT_EQ(m.position(), 2.0f);

    m.scene.setMorph(0, 1.0f, true);
    m.mesh->morph(7.25f); // a = 7.25 of 3 frames: frame 0 with a quarter of frame 1
    EXPECT_FLOAT_EQ(m.position(), 0.25f);
}

TEST_F(Morphing, ANegativeRateHoldsTheFirstFrame) {
    MorphScene m(3);
    m.scene.setMorph(0, -2.0f, false);
    m.mesh->morph(10);
    EXPECT_FLOAT_EQ(m.position(), 0.0f);
}

TEST_F(Morphing, TheSceneAnimationDrivesTheMorph) {
    MorphScene m(4);
    m.scene.setFrames(20, 1);
    m.scene.setMorph(0, 1.0f, false);
    m.scene.setTime(2.5f);
    m.scene.animate();
    EXPECT_FLOAT_EQ(m.position(), 2.5f);
}

} // namespace
