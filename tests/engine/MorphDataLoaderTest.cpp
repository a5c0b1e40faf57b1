// Morph data files attached to a loaded scene's mesh: found, missing, and not fitting the mesh.
#include "engine/MorphDataLoader.h"
#include "../resources/ReportCapture.h"
#include "GLTest.h"
#include "SampleScene.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneLoaderQZG.h"
#include "engine/SceneWriter.h"

#include <unistd.h>

namespace sf = scenefile;

namespace {

// Morph data paths are relative to the working directory (no archive in these tests).
class MorphDataFiles : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        previous = cwd;
        dir = makeTempDir();
        ASSERT_EQ(chdir(dir.c_str()), 0);
        sf::SceneFile s;
        sf::Material m;
        m.id = 1;
        s.chunks.push_back(sf::MaterialList{{m}});
        s.chunks.push_back(sample::quadMesh("Box01", 1, 1));
        scene.reset(SceneLoaderQZG::buildScene(s));
        box = dynamic_cast<MeshObject*>(scene->findObjectByName("Box01"));
        ASSERT_NE(box, nullptr);
    }
    void TearDown() override {
        if (!previous.empty()) {
            EXPECT_EQ(chdir(previous.c_str()), 0);
        }
    }

    static sf::MorphData frames(int count, int vertices) {
        sf::MorphData m;
        m.frameCount = count;
        m.vertexCount = vertices;
        for (int i = 0; i < count * vertices * 3; ++i) {
            m.positions.push_back(static_cast<float>(i));
            m.normals.push_back(0.5f);
        }
        return m;
    }

    std::string previous;
    std::string dir;
    std::unique_ptr<Scene> scene;
    MeshObject* box = nullptr;
};

} // namespace

TEST_F(MorphDataFiles, AttachesFramesThatFitTheMesh) {
    ASSERT_TRUE(sf::writeMorphDataFile(frames(3, 4), sf::morphDataPath("Box01")));
    ReportCapture reports;
    EXPECT_EQ(loadMorphData(*box), MorphLoad::Attached);
    EXPECT_EQ(box->morphFrameCount(), 3);
    EXPECT_FALSE(box->usesBufferObjects());
    EXPECT_TRUE(reports.all().empty());

    // Frame 1 shown exactly: its positions replace the drawing array.
    scene->setMorph(0, 1, false);
    box->morph(1.0f);
    ASSERT_EQ(box->positionArray().size(), 12u);
    EXPECT_FLOAT_EQ(box->positionArray()[0], 12);
    EXPECT_FLOAT_EQ(box->positionArray()[11], 23);
}

TEST_F(MorphDataFiles, MissingAndMisfittingFilesAttachNothing) {
    ReportCapture reports;
    EXPECT_EQ(loadMorphData(*box), MorphLoad::Missing);
    EXPECT_TRUE(reports.all().empty());

    // Written for a mesh of 5 vertices: the frames would be read past their end.
    ASSERT_TRUE(sf::writeMorphDataFile(frames(2, 5), sf::morphDataPath("Box01")));
    EXPECT_EQ(loadMorphData(*box), MorphLoad::Broken);
    EXPECT_EQ(box->morphFrameCount(), 0);
    ASSERT_EQ(reports.all().size(), 1u);
    EXPECT_FALSE(reports.all()[0].fatal);
    EXPECT_NE(reports.all()[0].text.find("Morph data is broken: data/scenes/morphdata_Box01.pmd: "),
              std::string::npos)
        << reports.all()[0].text;
}

// The file's size is judged before it is read whole: a sparse file far past the limit, or one
// that cannot hold whole frames of the mesh, is refused without loading it.
TEST_F(MorphDataFiles, SizesAreCheckedBeforeTheFileIsRead) {
    const std::string path = sf::morphDataPath("Box01");
    ASSERT_TRUE(sf::writeMorphDataFile(frames(1, 4), path));
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(3) << 30), 0); // 3 GiB, sparse
    ReportCapture reports;
    EXPECT_EQ(loadMorphData(*box), MorphLoad::Broken);
    ASSERT_EQ(reports.all().size(), 1u);
    EXPECT_NE(reports.all()[0].text.find(path + ": 3221225472 bytes, more than the 268435456 bytes"),
              std::string::npos)
        << reports.all()[0].text;
    ASSERT_EQ(truncate(path.c_str(), 4 + 96 + 1), 0);
    EXPECT_EQ(loadMorphData(*box), MorphLoad::Broken);
    ASSERT_EQ(reports.all().size(), 2u);
    EXPECT_NE(reports.all()[1].text.find(path + ": 101 bytes are not whole frames of the mesh's 4 vertices"),
              std::string::npos)
        << reports.all()[1].text;
    EXPECT_EQ(box->morphFrameCount(), 0);
}
