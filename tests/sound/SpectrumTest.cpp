// The spectrum tap: scaling of the FFT unit, and what it sees of the music offline and live.
#include "OggWriter.h"
#include "sound/OscilloscopeTap.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include "GLTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int kBin = 40;
const double kBinHz = kBin * 44100.0 / sound::kFFTSize;

int loudestBin(const float* spectrum) {
    return static_cast<int>(std::max_element(spectrum, spectrum + sound::kSpectrumSize) - spectrum);
}

std::vector<float> sine(double amplitude, double hz) {
    std::vector<float> samples(sound::kFFTSize);
    for (int i = 0; i < sound::kFFTSize; ++i)
        samples[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * i / 44100.0));
    return samples;
}

const std::string& sineMusic() {
    static const std::string path = [] {
        std::string p = makeTempDir() + "/sine.ogg";
        writeSineOgg(p, 12.0, kBinHz, 0.9);
        return p;
    }();
    return path;
}

const std::string& silentMusic() {
    static const std::string path = [] {
        std::string p = makeTempDir() + "/silence.ogg";
        writeSineOgg(p, 4.0, 0.0, 0.0);
        return p;
    }();
    return path;
}

} // namespace

TEST(SpectrumScale, AFullScaleSinePeaksNearOneInItsBin) {
    std::vector<float> magnitudes(sound::kSpectrumSize);
    sound::computeSpectrum(sine(1.0, kBinHz).data(), magnitudes.data());
    EXPECT_EQ(loudestBin(magnitudes.data()), kBin);
    EXPECT_NEAR(magnitudes[kBin], 1.0f, 0.02f);
    for (int k = 0; k < sound::kSpectrumSize; ++k)
        if (std::abs(k - kBin) > 1) {
            EXPECT_LT(magnitudes[k], 0.01f) << "bin " << k;
        }

    sound::computeSpectrum(sine(0.25, 100 * 44100.0 / sound::kFFTSize).data(), magnitudes.data());
    EXPECT_EQ(loudestBin(magnitudes.data()), 100);
    EXPECT_NEAR(magnitudes[100], 0.25f, 0.01f);
}

TEST(SpectrumScale, SilenceIsZeroAndOverdriveIsClamped) {
    std::vector<float> magnitudes(sound::kSpectrumSize, 5.0f);
    std::vector<float> silence(sound::kFFTSize, 0.0f);
    sound::computeSpectrum(silence.data(), magnitudes.data());
    for (float m : magnitudes)
        ASSERT_EQ(m, 0.0f);

    sound::computeSpectrum(sine(3.0, kBinHz).data(), magnitudes.data());
    EXPECT_EQ(magnitudes[kBin], 1.0f);
    for (float m : magnitudes)
        ASSERT_TRUE(m >= 0.0f && m <= 1.0f);
}

class OfflineSound : public ::testing::Test {
  protected:
    void SetUp() override { sound::setOfflineMode(true); }
    void TearDown() override {
        OscilloscopeTap::stop();
        tesselMusic.closeSound();
        sound::setOfflineMode(false);
    }
    void startMusic(const std::string& path, int ms) {
        ASSERT_TRUE(tesselMusic.initSound());
        ASSERT_TRUE(tesselMusic.openStream(path.c_str()));
        tesselMusic.setTime(ms);
        tesselMusic.play();
    }
};

TEST_F(OfflineSound, TheTapsSeeTheMusicPlayingAtTheFrameTime) {
    EXPECT_EQ(spectrumTap::read(), nullptr); // no sound system yet
    startMusic(sineMusic(), 0);
    EXPECT_EQ(spectrumTap::read(), nullptr); // the FFT unit is not on yet
    ASSERT_TRUE(spectrumTap::activate());
    OscilloscopeTap::start();

    sound::renderOfflineAt(5000);
    const float* spectrum = spectrumTap::read();
    ASSERT_NE(spectrum, nullptr);
    EXPECT_EQ(loudestBin(spectrum), kBin);
    EXPECT_NEAR(spectrum[kBin], 0.9f, 0.08f);
    const std::vector<float> first(spectrum, spectrum + sound::kSpectrumSize);

    int peak = 0;
    std::vector<int16_t> ring;
    for (int i = 0; i < OscilloscopeTap::ringSize(); ++i) {
        ring.push_back(OscilloscopeTap::sample(i));
        peak = std::max(peak, std::abs(static_cast<int>(ring.back())));
    }
    EXPECT_NEAR(peak, 0.9 * 32768, 0.06 * 32768);

    // The same time gives the same taps, whatever was rendered in between.
    sound::renderOfflineAt(9000);
    sound::renderOfflineAt(5000);
    spectrum = spectrumTap::read();
    EXPECT_EQ(std::vector<float>(spectrum, spectrum + sound::kSpectrumSize), first);
    for (int i = 0; i < OscilloscopeTap::ringSize(); ++i)
        ASSERT_EQ(OscilloscopeTap::sample(i), ring[i]) << i;

    // Before the music starts, and after it ends, there is only silence.
    for (int t : {0, 20000}) {
        sound::renderOfflineAt(t);
        spectrum = spectrumTap::read();
        EXPECT_LT(*std::max_element(spectrum, spectrum + sound::kSpectrumSize), 0.001f) << t;
    }
}

TEST_F(OfflineSound, SilenceGivesZeroAndPausedMusicGivesNoSpectrum) {
    startMusic(silentMusic(), 1000);
    spectrumTap::activate();
    sound::renderOfflineAt(2000);
    const float* spectrum = spectrumTap::read();
    ASSERT_NE(spectrum, nullptr);
    EXPECT_LT(*std::max_element(spectrum, spectrum + sound::kSpectrumSize), 0.001f);
    tesselMusic.pause();
    EXPECT_EQ(spectrumTap::read(), nullptr);
    tesselMusic.play();
    EXPECT_NE(spectrumTap::read(), nullptr);
}

TEST_F(OfflineSound, MonoMusicAtAnotherRateIsResampledToTheMixRate) {
    const std::string path = makeTempDir() + "/mono22k.ogg";
    ASSERT_TRUE(writeSineOgg(path, 6.0, kBinHz, 0.9, 22050, 1));
    startMusic(path, 2000);
    EXPECT_EQ(tesselMusic.streamTime(), 2000);
    spectrumTap::activate();
    OscilloscopeTap::start();
    sound::renderOfflineAt(3000);
    const float* spectrum = spectrumTap::read();
    ASSERT_NE(spectrum, nullptr);
    EXPECT_EQ(loudestBin(spectrum), kBin); // same pitch: played at its own speed
    EXPECT_NEAR(spectrum[kBin], 0.9f, 0.1f);
    EXPECT_NEAR(tesselMusic.streamTime(), 3000, 2);
}

TEST(LiveSpectrum, TheDeviceThreadKeepsTheSpectrumOfWhatPlays) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_FALSE(sound::isOffline());
    ASSERT_TRUE(tesselMusic.openStream(sineMusic().c_str()));
    tesselMusic.setTime(3000);
    tesselMusic.play();
    spectrumTap::activate();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const float* spectrum = spectrumTap::read();
    ASSERT_NE(spectrum, nullptr);
    EXPECT_EQ(loudestBin(spectrum), kBin);
    EXPECT_GT(spectrum[kBin], 0.8f);
    tesselMusic.closeSound();
    EXPECT_EQ(spectrumTap::read(), nullptr);
}
