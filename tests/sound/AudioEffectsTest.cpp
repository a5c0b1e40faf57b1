// The effects that listen to the music: Spectrum's beats and levels from offline sound fed with
// known signals, Osc's waveform on screen, and both in the player on a machine without a sound
// device.
#include "OggWriter.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "effects/EffectFactory.h"
#include "effects/Oscillo.h"
#include "effects/Spectrum.h"
#include "platform/AudioDevice.h"
#include "platform/GL.h"
#include "sound/OscilloscopeTap.h"
#include "sound/SoundSystem.h"
#include "sound/SpectrumTap.h"
#include "sound/TesselMusic.h"

#include "GLTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <regex>
#include <thread>
#include <vector>

namespace {

constexpr int kBin = 40;
const double kBinHz = kBin * 44100.0 / sound::kFFTSize;

// Remembers every level that reaches it.
class Listener : public Effect {
  public:
    explicit Listener(const std::string& name) : Effect(name) {}
    void render(int) override {}
    void signal(const Signal& s) override {
        Effect::signal(s);
        if (s.type == 5) levels.push_back(s.value);
    }
    std::vector<float> levels;
};

Effect* listenerFactory(const char* name) {
    return std::string(name).rfind("Listener", 0) == 0 ? new Listener(name) : nullptr;
}

// An effect list holding a Spectrum and the listeners asked for; the process-wide list points to it.
struct SpectrumScene {
    explicit SpectrumScene(std::initializer_list<const char*> listeners) {
        EffectList::setTestFactory(listenerFactory);
        effectList = &list;
        list.createEffect("Spectrum");
        for (const char* name : listeners)
            list.createEffect(name);
        EffectList::setTestFactory(nullptr);
    }
    ~SpectrumScene() {
        list.clearEffects();
        effectList = nullptr;
    }
    Spectrum& spectrum() { return *static_cast<Spectrum*>(list.findEffect("Spectrum")); }
    Listener& listener(const char* name) { return *static_cast<Listener*>(list.findEffect(name)); }
    void send(int type, const std::string& text, float value = 0.0f) {
        Signal s;
        s.type = type;
        s.text = text;
        s.value = value;
        s.values[0] = value;
        spectrum().signal(s);
    }
    EffectList list;
};

const std::string& music(const char* name, double amplitude) {
    static std::map<std::string, std::string> made;
    auto found = made.find(name);
    if (found != made.end()) return found->second;
    std::string path = makeTempDir() + "/" + name + ".ogg";
    writeSineOgg(path, 6.0, amplitude > 0 ? kBinHz : 0.0, amplitude);
    return made[name] = path;
}

class OfflineMusic : public ::testing::Test {
  protected:
    void SetUp() override { sound::setOfflineMode(true); }
    void TearDown() override {
        tesselMusic.closeSound();
        sound::setOfflineMode(false);
    }
    void play(const std::string& path) {
        ASSERT_TRUE(tesselMusic.initSound());
        ASSERT_TRUE(tesselMusic.openStream(path.c_str()));
        tesselMusic.setTime(0);
        tesselMusic.play();
    }
};

float sumOf(const float* spectrum) {
    return std::accumulate(spectrum, spectrum + sound::kSpectrumSize, 0.0f);
}

} // namespace

TEST(SpectrumEffect, RegistersItsThresholdsOnceAndSignalsPickItsTargets) {
    SpectrumScene scene({"ListenerA", "ListenerB"});
    Spectrum& spectrum = scene.spectrum();
    ASSERT_NE(spectrum.findVariable("MaxThresh"), nullptr); // a script may set them before any start
    ASSERT_NE(spectrum.findVariable("SumThresh"), nullptr);
    const size_t registered = spectrum.variables.size();
    spectrum.maxThresh.value = 0.3f;
    spectrum.start(100);
    spectrum.start(200);
    EXPECT_EQ(spectrum.variables.size(), registered); // without a sound system start does nothing
    EXPECT_EQ(spectrum.maxThresh.value, 0.3f);

    scene.send(2, "NoSuchEffect");
    EXPECT_TRUE(spectrum.targets.empty());
    scene.send(3, "ListenerA");
    scene.send(3, "ListenerA");
    scene.send(3, "Nobody");
    EXPECT_EQ(spectrum.targets,
              (std::vector<Effect*>{&scene.listener("ListenerA"), &scene.listener("ListenerA")}));
    scene.send(2, "ListenerB");
    EXPECT_EQ(spectrum.targets, std::vector<Effect*>{&scene.listener("ListenerB")});
    scene.send(36, "", 1.0f);
    EXPECT_TRUE(spectrum.decayMode);
    scene.send(36, "", 0.0f);
    EXPECT_FALSE(spectrum.decayMode);

    // Without a sound system nothing is sent: the targets keep their level.
    scene.listener("ListenerB").signalLevel = 0.25f;
    spectrum.update(1000);
    EXPECT_TRUE(scene.listener("ListenerB").levels.empty());
    EXPECT_EQ(scene.listener("ListenerB").signalLevel, 0.25f);
}

TEST(SpectrumEffect, ABeatNeedsBothTheLoudBandAndTheSumAndDecaysIn100Ms) {
    Spectrum spectrum;
    std::vector<float> bands(sound::kSpectrumSize, 0.0f);
    bands[10] = 0.95f; // loud enough, but the sum is 0.95 - 0.55
    bands[11] = -0.55f;
    EXPECT_FLOAT_EQ(spectrum.analyse(bands.data(), 1000), 0.4f);
    EXPECT_EQ(spectrum.beatSum, Spectrum::kNoBeat);

    bands[11] = 0.0f;
    bands[12] = 0.2f;
    spectrum.decayMode = true;
    EXPECT_EQ(spectrum.analyse(bands.data(), 2000), 1.0f);
    EXPECT_FLOAT_EQ(spectrum.beatSum, 1.15f);
    EXPECT_EQ(spectrum.lastBeatTime, 2000);

    std::vector<float> quiet(sound::kSpectrumSize, 0.001f);
    EXPECT_FLOAT_EQ(spectrum.analyse(quiet.data(), 2050), 0.5f);
    EXPECT_EQ(spectrum.analyse(quiet.data(), 2100), 0.0f);
    EXPECT_EQ(spectrum.analyse(quiet.data(), 2500), 0.0f);
    EXPECT_EQ(spectrum.beatSum, Spectrum::kNoBeat);
    EXPECT_EQ(spectrum.lastBeatTime, 2000);
    // A frame before the last beat (a jump back) is no stronger pulse than the beat itself.
    EXPECT_EQ(spectrum.analyse(quiet.data(), 1900), 1.0f);

    // Out of decay mode the level is the sum again.
    spectrum.decayMode = false;
    EXPECT_NEAR(spectrum.analyse(quiet.data(), 2600), 0.512f, 1e-4f);
}

TEST_F(OfflineMusic, AFullScaleSineIsABeatAndEachTargetEntryHearsTheSum) {
    play(music("fullscale", 1.0));
    SpectrumScene scene({"ListenerA", "ListenerB"});
    Spectrum& spectrum = scene.spectrum();
    scene.listener("ListenerA").spectrumStr.value = 0.5f;
    scene.send(3, "ListenerA");
    scene.send(3, "ListenerB");
    scene.send(3, "ListenerA");
    spectrum.start(0);
    EXPECT_EQ(spectrum.history.size(), 10u);

    sound::renderOfflineAt(3000);
    spectrum.update(3000);
    const float* read = spectrumTap::read(); // the same spectrum until the next render
    ASSERT_NE(read, nullptr);
    const float sum = sumOf(read);
    EXPECT_EQ(spectrum.maximum, *std::max_element(read, read + sound::kSpectrumSize));
    EXPECT_GT(spectrum.maximum, 0.92f);
    EXPECT_GT(sum, 0.5f);
    EXPECT_EQ(spectrum.lastBeatTime, 3000);
    EXPECT_EQ(spectrum.beatSum, spectrum.level);
    // The level sent is the spectrum's sum (added in another order: equal to rounding).
    EXPECT_NEAR(spectrum.level, sum, 1e-5f * sum);
    EXPECT_EQ(scene.listener("ListenerA").levels, (std::vector<float>{spectrum.level, spectrum.level}));
    EXPECT_EQ(scene.listener("ListenerB").levels, std::vector<float>{spectrum.level});
    EXPECT_FLOAT_EQ(scene.listener("ListenerA").signalLevel, 0.5f * sum); // SpectrumStr x level
    EXPECT_EQ(spectrumTap::peakEnergy(), spectrum.level);                 // for the player's statistics
    EXPECT_EQ(scene.listener("ListenerB").signalLevel, 0.0f);             // SpectrumStr 0

    // In decay mode: 1 on the beat; paused music sends nothing.
    scene.send(36, "", 1.0f);
    sound::renderOfflineAt(3040);
    spectrum.update(3040);
    EXPECT_EQ(scene.listener("ListenerB").levels.back(), 1.0f);
    tesselMusic.pause();
    spectrum.update(3080);
    EXPECT_EQ(scene.listener("ListenerB").levels.size(), 2u);
}

TEST_F(OfflineMusic, SilenceIsNoBeatAndDecayFallsToHalfAfter50Ms) {
    play(music("silence", 0.0));
    SpectrumScene scene({"ListenerA"});
    Spectrum& spectrum = scene.spectrum();
    scene.send(2, "ListenerA");
    spectrum.start(0);
    sound::renderOfflineAt(2000);
    spectrum.update(2000);
    EXPECT_LT(spectrum.maximum, 0.001f);
    EXPECT_EQ(spectrum.beatSum, Spectrum::kNoBeat);
    EXPECT_EQ(spectrum.lastBeatTime, 0);
    ASSERT_EQ(scene.listener("ListenerA").levels.size(), 1u);
    EXPECT_LT(scene.listener("ListenerA").levels[0], 0.01f);

    // A beat at 2000 (as if a full-scale frame had come), then silence 50 ms later.
    scene.send(36, "", 1.0f);
    spectrum.lastBeatTime = 2000;
    sound::renderOfflineAt(2050);
    spectrum.update(2050);
    EXPECT_FLOAT_EQ(scene.listener("ListenerA").levels.back(), 0.5f);
}

namespace {
class OscOnScreen : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        sound::setOfflineMode(true, 512, 4);
        ASSERT_TRUE(tesselMusic.initSound());
        glDrawBuffer(GL_BACK);
        glDisable(GL_BLEND);
        glDisable(GL_TEXTURE_2D);
        glColor4f(1, 1, 1, 1);
        glClearColor(1, 1, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    void TearDown() override {
        tesselMusic.closeSound();
        sound::setOfflineMode(false);
    }
    // Feeds every block of the ring with the same stereo sample, as the mixer would.
    static void feed(int16_t value) {
        std::vector<int16_t> frames(static_cast<size_t>(OscilloscopeTap::blockLength()) * 2, value);
        const int blocks = OscilloscopeTap::totalLength() / OscilloscopeTap::blockLength();
        for (int b = 0; b < blocks; ++b)
            OscilloscopeTap::capture(frames.data(), frames.data(), OscilloscopeTap::blockLength(), nullptr);
    }
    // Rows (from the bottom) of column x that are darker than the white background.
    std::vector<int> darkRows(int x) {
        std::vector<unsigned char> column(600 * 4);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, 0, 1, 600, GL_RGBA, GL_UNSIGNED_BYTE, column.data());
        std::vector<int> rows;
        for (int y = 0; y < 600; ++y)
            if (column[y * 4] < 128) rows.push_back(y);
        return rows;
    }
};
} // namespace

TEST_F(OscOnScreen, ConstantSamplesDrawADarkLineThreeQuartersDownItsRectangle) {
    Oscillo osc;
    EXPECT_EQ(osc.name, "Osc");
    std::vector<std::string> names;
    for (const Variable* v : osc.variables)
        names.push_back(v->name);
    EXPECT_EQ(names, (std::vector<std::string>{"Speed", "SpectrumStr", "Pattern", "Red", "Green", "Blue",
                                               "Alpha", "xPos", "yPos", "Width", "Height"}));
    EXPECT_EQ(osc.alpha.value, 0.5f);

    osc.render(0); // before its first start it draws nothing
    EXPECT_TRUE(darkRows(400).empty());

    osc.signal(Signal{}); // type 0: start
    ASSERT_TRUE(OscilloscopeTap::running());
    feed(16384);
    osc.render(0);
    // Default rectangle: x 0.4 .. 0.8 and y 0.4 .. 0.8 from the top (240 .. 480 px); the sample
    // 16384 lies at three quarters of the line's height, drawn downwards: 0.4 + 0.75 * 0.4.
    const std::vector<int> rows = darkRows(480);
    ASSERT_FALSE(rows.empty());
    const double middle = (rows.front() + rows.back()) / 2.0;
    EXPECT_NEAR(middle, 600 - (0.4 + 0.75 * 0.4) * 600, 3.0);
    EXPECT_LE(rows.back() - rows.front(), 8); // one thick line, nothing else
    EXPECT_TRUE(darkRows(200).empty());       // left of the rectangle
    EXPECT_EQ(pixel(480, 300)[0], 255);       // inside it, away from the line
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D)); // untextured quads after it stay untextured
    EXPECT_FALSE(glIsEnabled(GL_BLEND));

    // Silence puts the line in the middle; a moved rectangle moves it.
    feed(0);
    glClear(GL_COLOR_BUFFER_BIT);
    osc.xPos.value = 0.0f;
    osc.yPos.value = 0.0f;
    osc.render(0);
    const std::vector<int> centred = darkRows(100);
    ASSERT_FALSE(centred.empty());
    EXPECT_NEAR((centred.front() + centred.back()) / 2.0, 600 - 0.5 * 0.4 * 600, 3.0);
}

TEST(OscWithoutSound, StartingIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!ensureGLContext()) std::exit(1); // the message is what counts
            Oscillo osc;
            osc.start(0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "Oscillo: sound not inited");
}

TEST(SilentOutput, WithoutASoundDeviceTheMusicPlaysInRealTimeToTheTaps) {
    // In a process of its own: the audio driver is chosen once per process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = music("fullscale", 1.0);
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            if (!tesselMusic.initSound() || !platform::audioIsSilent() || sound::isOffline()) std::exit(3);
            if (!tesselMusic.openStream(path.c_str())) std::exit(4);
            tesselMusic.setTime(1000);
            tesselMusic.play();
            spectrumTap::activate();
            OscilloscopeTap::start();
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            const float* spectrum = spectrumTap::read();
            if (!spectrum) std::exit(5);
            const int loudest =
                static_cast<int>(std::max_element(spectrum, spectrum + sound::kSpectrumSize) - spectrum);
            int peak = 0;
            for (int i = 0; i < OscilloscopeTap::ringSize(); ++i)
                peak = std::max(peak, std::abs(static_cast<int>(OscilloscopeTap::sample(i))));
            // Mixed in real time: the music has moved on, but not faster than the clock.
            const int played = tesselMusic.streamTime() - 1000;
            tesselMusic.closeSound();
            std::exit(loudest == kBin && spectrum[kBin] > 0.9f && peak > 30000 && played >= 300 &&
                              played <= 1000
                          ? 0
                          : 6);
        },
        ::testing::ExitedWithCode(0), "");
}

// An author's jump replays frames while the output plays on: the taps then hear exactly what an
// offline render of the same time hears, the output leaves the music where the replay put it,
// and paused music is not heard.
TEST(SilentOutput, AReplayHearsWhatAnOfflineRenderOfTheSameTimeHears) {
    const std::string path = music("fullscale", 1.0);
    sound::setOfflineMode(true);
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(path.c_str()));
    tesselMusic.play();
    ASSERT_TRUE(spectrumTap::activate());
    sound::renderOfflineAt(2500);
    const float* offline = spectrumTap::read();
    ASSERT_NE(offline, nullptr);
    const std::vector<float> expected(offline, offline + sound::kSpectrumSize);
    tesselMusic.closeSound();
    sound::setOfflineMode(false);
    ASSERT_GT(expected[kBin], 0.9f);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
            if (!tesselMusic.initSound() || sound::isOffline()) std::exit(3);
            if (!tesselMusic.openStream(path.c_str())) std::exit(4);
            tesselMusic.setTime(500);
            tesselMusic.play();
            spectrumTap::activate();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sound::beginReplay();
            sound::renderReplayAt(2500);
            const float* heard = spectrumTap::read();
            if (!heard || std::vector<float>(heard, heard + sound::kSpectrumSize) != expected) std::exit(5);
            const int held = tesselMusic.streamTime();
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            if (tesselMusic.streamTime() != held) std::exit(6);
            tesselMusic.pause();
            sound::renderReplayAt(2500);
            heard = sound::dspGetSpectrum(); // the tap itself reads nothing while the music is paused
            if (!heard || *std::max_element(heard, heard + sound::kSpectrumSize) > 0.001f) std::exit(7);
            sound::endReplay();
            tesselMusic.play();
            // Up to 3 s for the device thread to move on: a loaded machine schedules it late.
            bool playsOn = false;
            for (int i = 0; i < 150 && !playsOn; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                playsOn = tesselMusic.streamTime() > held + 50;
            }
            tesselMusic.closeSound();
            std::exit(playsOn ? 0 : 8);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SilentOutput, ThePlayerPlaysAnAudioReactiveDemoToItsEndWithoutASoundDevice) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string dir = makeTempDir();
    // Long enough to reach the end of the demo; a low rate keeps it quick to encode.
    ASSERT_TRUE(writeSineOgg(dir + "/music.ogg", 287.0, kBinHz, 1.0, 8000, 1));
    writeFile(dir + "/src/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 282000
DEMO_END 286000
__DEFS__
DEFINE TARGET 2
DEFINE DECAY 36
INSERT_EFFECT Clear
INSERT_EFFECT Spectrum
INSERT_EFFECT Osc
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear SpectrumStr 1
0 BEGIN Spectrum
0 INIT Spectrum
0 TRIGGER Spectrum TARGET "Clear"
0 TRIGGER Spectrum DECAY 1
0 BEGIN Osc
0 INIT Osc
)");
    CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + dir + "/data.qzd " + dir +
                                      "/src --password tolvrask");
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    // The environment of the tests chooses the dummy driver; the player must find its way alone.
    CommandResult r =
        runCommand("cd " + dir + " && env -u SDL_AUDIODRIVER HOLDFAST_UNATTENDED=1 HOLDFAST_STATS=1 " +
                       binPath("holdfast"),
                   120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(std::regex_search(r.err, std::regex("sound|audio|alsa|oscillo|pcm", std::regex::icase)))
        << r.err;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(r.err, m, std::regex("frames=(\\d+) .* spectra=(\\d+) spectrum_peak=([0-9.]+)")))
        << r.err;
    EXPECT_GT(std::stoul(m[1]), 0u);
    EXPECT_GT(std::stoul(m[2]), 0u); // the taps were fed ...
    EXPECT_GT(std::stod(m[3]), 0.5); // ... with the music
}
