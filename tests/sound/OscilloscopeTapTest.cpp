// The oscilloscope tap: frame conversions, the ring of blocks and its index, the reading position.
#include "sound/OscilloscopeTap.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

TEST(OscilloscopeConversion, FramesOfEachMixerFormatAverageToSixteenBits) {
    const int16_t frames[] = {1000, 3000, -3, 0, 32767, 32767, -32768, -32768, -1, 0};
    int16_t out[5] = {};
    for (int mixer :
         {sound::kMixerMmxP5, sound::kMixerMmxP6, sound::kMixerQualityMmxP5, sound::kMixerQualityMmxP6}) {
        OscilloscopeTap::convertFrames(mixer, frames, 5, out);
        EXPECT_EQ(out[0], 2000) << mixer;
        EXPECT_EQ(out[1], -2) << mixer; // -3 >> 1 rounds toward minus infinity
        EXPECT_EQ(out[2], 32767) << mixer;
        EXPECT_EQ(out[3], -32768) << mixer;
        EXPECT_EQ(out[4], -1) << mixer;
    }

    // Float frames are clamped, then truncated toward zero.
    const float floats[] = {1000.0f,  3000.0f, -3.0f, 0.0f,        2.9f, 0.0f,   40000.0f,
                            40000.0f, 1e30f,   1e30f, 16777216.0f, 3.0f, -1e30f, -1e30f};
    int16_t seven[7] = {};
    OscilloscopeTap::convertFrames(sound::kMixerQualityFpu, floats, 7, seven);
    EXPECT_EQ(seven[0], 2000);
    EXPECT_EQ(seven[1], -1); // -1.5 truncated toward zero
    EXPECT_EQ(seven[2], 1);
    // Out of 16-bit range only the low 16 bits are kept; nothing overflows on the way.
    EXPECT_EQ(seven[3], static_cast<int16_t>(40000 & 0xffff));
    EXPECT_EQ(seven[4], static_cast<int16_t>(0x7fffffff & 0xffff));
    // The sum is a float: 16777219 rounds to 16777220 before halving (8388610, not 8388609).
    EXPECT_EQ(seven[5], 2);
    EXPECT_EQ(seven[6], 0); // clamped to -2^31, whose low 16 bits are 0

    // Thirty-two-bit frames keep the low 16 bits (every other mixer number).
    const int32_t wide[] = {1000, 3000, -3, 0, 0x12345, 0x12345, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int16_t low[5] = {};
    for (int mixer : {0, 1, 4, 99}) {
        OscilloscopeTap::convertFrames(mixer, wide, 5, low);
        EXPECT_EQ(low[0], 2000) << mixer;
        EXPECT_EQ(low[1], -2) << mixer;
        EXPECT_EQ(low[2], 0x2345) << mixer;
        EXPECT_EQ(low[3], -1) << mixer; // 0x7fffffff: sum taken without overflow
        EXPECT_EQ(low[4], 0) << mixer;  // 0x80000000
    }
}

class OscilloscopeRing : public ::testing::Test {
  protected:
    void SetUp() override {
        sound::setOfflineMode(true, 256, 4);
        ASSERT_TRUE(tesselMusic.initSound());
    }
    void TearDown() override {
        OscilloscopeTap::stop();
        tesselMusic.closeSound();
        sound::setOfflineMode(false);
    }
};

TEST_F(OscilloscopeRing, StartMakesAZeroedRingThatCapturesFillInTurn) {
    OscilloscopeTap::start();
    EXPECT_TRUE(OscilloscopeTap::running());
    EXPECT_EQ(OscilloscopeTap::blockLength(), 256);
    EXPECT_EQ(OscilloscopeTap::totalLength(), 1024);
    EXPECT_EQ(OscilloscopeTap::ringSize(), 1024 + 16);
    EXPECT_EQ(OscilloscopeTap::blockIndex(), 0);
    for (int i = 0; i < OscilloscopeTap::ringSize(); ++i)
        ASSERT_EQ(OscilloscopeTap::sample(i), 0);

    // Captures fill the blocks in turn and the index wraps.
    std::vector<int16_t> block(256 * 2);
    for (int capture = 0; capture < 4; ++capture) {
        EXPECT_EQ(OscilloscopeTap::blockIndex(), capture);
        // Reading starts at the block after the one about to be written.
        EXPECT_EQ(OscilloscopeTap::readingPosition(), ((capture + 1) % 4) * 256);
        for (int i = 0; i < 256; ++i) {
            block[2 * i] = static_cast<int16_t>(100 * (capture + 1));
            block[2 * i + 1] = static_cast<int16_t>(100 * (capture + 1) + 2);
        }
        void* returned = OscilloscopeTap::capture(nullptr, block.data(), 256, nullptr);
        EXPECT_EQ(returned, block.data()); // the audio passes through untouched
        EXPECT_EQ(block[0], 100 * (capture + 1));
    }
    EXPECT_EQ(OscilloscopeTap::blockIndex(), 0);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(OscilloscopeTap::sample(b * 256), 100 * (b + 1) + 1);
        EXPECT_EQ(OscilloscopeTap::sample(b * 256 + 255), 100 * (b + 1) + 1);
    }
    EXPECT_EQ(OscilloscopeTap::sample(1024), 0); // spare samples stay untouched
}

TEST_F(OscilloscopeRing, AnOverlongBlockDoesNotSpillIntoTheNext) {
    OscilloscopeTap::start();
    std::vector<int16_t> block(1024 * 2, 500);
    OscilloscopeTap::capture(nullptr, block.data(), 1024, nullptr);
    EXPECT_EQ(OscilloscopeTap::sample(255), 500);
    EXPECT_EQ(OscilloscopeTap::sample(256), 0);
    EXPECT_EQ(OscilloscopeTap::blockIndex(), 1);
}

TEST_F(OscilloscopeRing, TheMixerRunsTheUnitOnlyWhileItIsOn) {
    OscilloscopeTap::start();
    std::vector<int16_t> block(256 * 2, 7);
    OscilloscopeTap::capture(nullptr, block.data(), 256, nullptr);
    ASSERT_EQ(OscilloscopeTap::sample(0), 7);
    // Nothing plays: four silent blocks go once round the ring.
    sound::renderOfflineAt(1000);
    EXPECT_EQ(OscilloscopeTap::sample(0), 0);
    EXPECT_EQ(OscilloscopeTap::blockIndex(), 1);

    OscilloscopeTap::capture(nullptr, block.data(), 256, nullptr);
    OscilloscopeTap::setActive(false);
    EXPECT_FALSE(OscilloscopeTap::running());
    sound::renderOfflineAt(2000);
    EXPECT_EQ(OscilloscopeTap::sample(256), 7);
    EXPECT_EQ(OscilloscopeTap::blockIndex(), 2);
}

TEST_F(OscilloscopeRing, ASecondStartSharesTheRunningUnit) {
    OscilloscopeTap::start();
    std::vector<int16_t> block(256 * 2, 300);
    OscilloscopeTap::capture(nullptr, block.data(), 256, nullptr);
    OscilloscopeTap::start();
    EXPECT_EQ(OscilloscopeTap::sample(0), 300); // the ring is kept
    OscilloscopeTap::stop();
    EXPECT_TRUE(OscilloscopeTap::running()); // the other user still has it
}

TEST(OscilloscopeStart, WithoutASoundSystemIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OscilloscopeTap::start(), ::testing::ExitedWithCode(1), "Oscillo: sound not inited");
}
