// The loading sequence in-process: the loading picture, the music set to DEMO_START before it
// plays, the clock starting there too, and a silent start without music.
#include "host/LoadingSequence.h"
#include "OggWriter.h"
#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "engine/SceneLoaderQZG.h"
#include "host/DemoClock.h"
#include "platform/AudioDevice.h"
#include "resources/Texture.h"
#include "sound/TesselMusic.h"

#include "GLTest.h"

#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* kScript = R"(__HEADER__
DEMO_START 30000
DEMO_END 286000
__DEFS__
INSERT_EFFECT Clear
__TIMELINE__
0 BEGIN Clear
)";

// A demo folder with a plain green loading picture; music.ogg only when asked for.
std::string makeDemo(bool withMusic) {
    const std::string dir = makeTempDir();
    writeFile(dir + "/data/scripts/demo.scr", kScript);
    writeFile(dir + "/data/images/readme.txt", "the loading picture"); // makes the folder
    std::vector<unsigned char> pixels(64 * 48 * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = 20;
        pixels[i + 1] = 200;
        pixels[i + 2] = 60;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 64;
    image.height = 48;
    image.format = PNG_FORMAT_RGB;
    png_image_write_to_file(&image, (dir + "/data/images/loading.png").c_str(), 0, pixels.data(), 0, nullptr);
    if (withMusic) writeSineOgg(dir + "/music.ogg", 40.0, 330.0, 0.3);
    return dir;
}

std::vector<unsigned char> presented;

class LoadingSequence : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        char buffer[4096];
        previousDir = getcwd(buffer, sizeof buffer) ? buffer : "/";
    }
    void TearDown() override {
        tesselMusic.closeSound();
        musicFileName = "music.ogg";
        if (!previousDir.empty() && chdir(previousDir.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << previousDir;
    }
    static void readBack(void* self) { presented = static_cast<LoadingSequence*>(self)->pixel(400, 300); }

    void load(const std::string& dir) {
        ASSERT_EQ(chdir(dir.c_str()), 0);
        presented.clear();
        LoadingSetup setup;
        setup.archiveName = nullptr; // data files from the folder
        setup.present = readBack;
        setup.presentContext = this;
        loadingSequence(setup);
    }

    std::string previousDir;
};

} // namespace

TEST_F(LoadingSequence, ShowsThePictureThenStartsMusicAndClockAtDemoStart) {
    SceneLoaderQZG::setKeepStoredTexturePaths(true);
    load(makeDemo(true));

    ASSERT_EQ(presented.size(), 4u);
    EXPECT_NEAR(presented[0], 20, 2);
    EXPECT_NEAR(presented[1], 200, 2);
    EXPECT_NEAR(presented[2], 60, 2);

    EXPECT_FALSE(SceneLoaderQZG::keepStoredTexturePaths());
    // The loading picture goes once loaded: this demo does not show it.
    EXPECT_EQ(TextureManager::instance().find("data/images/loading.png"), nullptr);
    ASSERT_NE(effectList, nullptr);
    EXPECT_EQ(effectList->effects().size(), 1u);
    EXPECT_EQ(demoStartTime, 30000);

    EXPECT_TRUE(tesselMusic.isPlaying());
    EXPECT_GE(tesselMusic.streamTime(), 30000);
    EXPECT_LT(tesselMusic.streamTime(), 30500);
    const int now = demoClock.now();
    EXPECT_GE(now, 30000);
    EXPECT_LT(now, 30500);
}

TEST_F(LoadingSequence, WithoutMusicTheDemoStartsSilently) {
    load(makeDemo(false));
    EXPECT_TRUE(tesselMusic.isSoundInitialized());
    EXPECT_FALSE(tesselMusic.isPlaying());
    EXPECT_FALSE(tesselMusic.hasStream());
    const int now = demoClock.now();
    EXPECT_GE(now, 30000);
    EXPECT_LT(now, 30500);
}

TEST_F(LoadingSequence, WithoutAnyAudioOutputTheDemoRunsSilentlyFromDemoStart) {
    // In a process of its own: the audio driver is chosen once per process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = makeDemo(true);
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            platform::allowSilentOutput(false);
            static int reported = 0;
            report::setSink([](const report::Record&) { ++reported; });
            load(dir);
            const int now = demoClock.now();
            // No stream is even tried without a sound system, so nothing is reported.
            std::exit(!tesselMusic.isSoundInitialized() && !tesselMusic.hasStream() &&
                              !tesselMusic.isPlaying() && reported == 0 && now >= 30000 && now < 30500
                          ? 0
                          : 3);
        },
        ::testing::ExitedWithCode(0), "");
}
