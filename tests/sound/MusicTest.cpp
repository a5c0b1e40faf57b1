// The music stream on a real (dummy) audio device: positioning, play, pause, streams, failures.
#include "OggWriter.h"
#include "platform/AudioDevice.h"
#include "sound/MusicFile.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include "GLTest.h"
#include "base/Report.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string& longMusic() {
    static const std::string path = [] {
        std::string p = makeTempDir() + "/long.ogg";
        writeSineOgg(p, 40.0, 440.0, 0.5);
        return p;
    }();
    return path;
}

const std::string& shortMusic() {
    static const std::string path = [] {
        std::string p = makeTempDir() + "/short.ogg";
        writeSineOgg(p, 2.0, 220.0, 0.5);
        return p;
    }();
    return path;
}

std::vector<report::Record> reports;
void collect(const report::Record& r) {
    reports.push_back(r);
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class Music : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        reports.clear();
        report::setSink(collect);
    }
    void TearDown() override {
        tesselMusic.closeSound();
        report::setSink(nullptr);
    }
};

} // namespace

TEST_F(Music, SetTimeBeforePlayStartsTheMusicThere) {
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(longMusic().c_str()));
    tesselMusic.setTime(30000);
    EXPECT_EQ(tesselMusic.streamTime(), 30000);
    tesselMusic.play();
    EXPECT_TRUE(tesselMusic.isPlaying());
    EXPECT_NE(tesselMusic.channel(), -1);
    const int first = tesselMusic.streamTime();
    EXPECT_GE(first, 30000);
    EXPECT_LT(first, 30500);
    sleepMs(400);
    const int later = tesselMusic.streamTime();
    EXPECT_GT(later, first + 100); // the device is pulling the music in real time
    EXPECT_LT(later, 32000);
    EXPECT_TRUE(reports.empty());
}

TEST_F(Music, PauseKeepsThePositionAndPlayGoesOnFromIt) {
    tesselMusic.pause(); // nothing plays yet: no effect
    EXPECT_FALSE(tesselMusic.isPlaying());
    EXPECT_EQ(tesselMusic.channel(), -1);

    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(longMusic().c_str()));
    tesselMusic.setTime(10000);
    tesselMusic.play();
    const int firstChannel = tesselMusic.channel();
    sleepMs(200);
    tesselMusic.pause();
    EXPECT_FALSE(tesselMusic.isPlaying());
    const int paused = tesselMusic.streamTime();
    EXPECT_GT(paused, 10000);
    sleepMs(300);
    EXPECT_EQ(tesselMusic.streamTime(), paused);

    tesselMusic.play();
    EXPECT_TRUE(tesselMusic.isPlaying());
    EXPECT_NE(tesselMusic.channel(), firstChannel); // a new channel
    EXPECT_GE(tesselMusic.streamTime(), paused);
    EXPECT_LT(tesselMusic.streamTime(), paused + 300);
    EXPECT_FALSE(sound::getPaused(tesselMusic.channel()));
    EXPECT_TRUE(sound::getPaused(firstChannel)); // the old channel is gone
}

TEST_F(Music, ASecondOpenStreamKeepsTheFirstStream) {
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(longMusic().c_str()));
    EXPECT_TRUE(tesselMusic.openStream(shortMusic().c_str()));
    EXPECT_TRUE(tesselMusic.openStream("no-such-file.ogg"));
    // Only the 40 s stream can be positioned at 30 s.
    tesselMusic.setTime(30000);
    EXPECT_EQ(tesselMusic.streamTime(), 30000);
}

TEST_F(Music, AMissingMusicFileLeavesTheDemoSilent) {
    ASSERT_TRUE(tesselMusic.initSound());
    EXPECT_FALSE(tesselMusic.openStream((makeTempDir() + "/music.ogg").c_str()));
    EXPECT_FALSE(tesselMusic.openStream(__FILE__)); // not Ogg Vorbis either
    tesselMusic.setTime(30000);
    tesselMusic.play();
    EXPECT_FALSE(tesselMusic.isPlaying());
    EXPECT_EQ(tesselMusic.channel(), -1);
    EXPECT_TRUE(reports.empty());
}

// The music's length comes from its last Ogg page: a file padded far past it (a sparse 4 GiB
// here) is not read back from its end, which took minutes; a FIFO is refused without waiting.
TEST_F(Music, PaddedMusicKeepsItsLengthAndAFifoIsRefused) {
    const std::string dir = makeTempDir();
    const std::string padded = dir + "/padded.ogg", junk = dir + "/junk.ogg", fifo = dir + "/fifo.ogg";
    writeFile(padded, readFile(shortMusic()));
    ASSERT_EQ(truncate(padded.c_str(), 4LL << 30), 0);
    writeFile(junk, readFile(shortMusic()) + std::string(300000, 'x'));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    alarm(60); // a wait on the FIFO or a read of the padding ends the test by the signal
    EXPECT_EQ(sound::musicLengthMs(shortMusic().c_str()), 2000);
    EXPECT_EQ(sound::musicLengthMs(padded.c_str()), 2000);
    EXPECT_EQ(sound::musicLengthMs(junk.c_str()), 2000);
    std::string why;
    EXPECT_EQ(sound::musicLengthMs(fifo.c_str(), &why), 0);
    EXPECT_EQ(why, "not a regular file (a FIFO or device)");
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(padded.c_str()));
    tesselMusic.setTime(1500);
    EXPECT_EQ(tesselMusic.streamTime(), 1500);
    alarm(0);
}

TEST(MusicWithoutOutput, TheSoundSystemStaysDownAndTheDemoSilent) {
    // In a process of its own: the audio driver is chosen once per process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            platform::allowSilentOutput(false);
            reports.clear();
            report::setSink(collect);
            const bool initialized = tesselMusic.initSound();
            const bool opened = tesselMusic.openStream(longMusic().c_str());
            tesselMusic.play();
            const bool reported = reports.size() == 1 && !reports[0].fatal &&
                                  reports[0].text.find("Soundsystem not inited") != std::string::npos;
            std::exit(!initialized && !tesselMusic.isSoundInitialized() && !opened && reported &&
                              !tesselMusic.isPlaying()
                          ? 0
                          : 3);
        },
        ::testing::ExitedWithCode(0), "Soundsystem not inited");
}

TEST_F(Music, TheMusicEndsQuietlyAtTheEndOfTheFile) {
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(shortMusic().c_str()));
    tesselMusic.setTime(1900);
    tesselMusic.play();
    sleepMs(400);
    EXPECT_EQ(tesselMusic.streamTime(), 2000);
    EXPECT_TRUE(tesselMusic.isPlaying()); // the flag follows play and pause only
    tesselMusic.setTime(500);             // positioning while playing
    sleepMs(100);
    EXPECT_GE(tesselMusic.streamTime(), 500);
    EXPECT_LT(tesselMusic.streamTime(), 1500);
}

TEST(MusicDeath, NoFreeChannelIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            sound::setOfflineMode(true);
            sound::init(44100, 0, 0); // a sound system without channels
            tesselMusic.initSound();
            tesselMusic.openStream(longMusic().c_str());
            tesselMusic.play();
        },
        ::testing::ExitedWithCode(1), "Could not play soundstream");
}
