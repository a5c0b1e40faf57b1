// The bundled demo as the project builds it: its data, its music, and the player running it.
#include "GLTest.h"
#include "X11Control.h"
#include "effects/Spectrum.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// build/demo, made (or found up to date) by the same script play.sh runs.
const std::string& demoDir() {
    static const std::string dir = [] {
        const std::string build = fs::path(HOLDFAST_BIN_DIR).parent_path().string();
        CommandResult r = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " + build, 900);
        if (r.exitCode != 0) ADD_FAILURE() << "make-demo.sh failed:\n" << r.err;
        return build + "/demo";
    }();
    return dir;
}

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

struct Child {
    pid_t pid = -1;
    std::string errPath;
};

// The player in `dir`: unattended, dummy audio, stats on, stderr to a file.
Child startPlayer(const std::string& dir) {
    Child child;
    child.errPath = makeTempDir() + "/stderr.txt";
    child.pid = fork();
    if (child.pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(99);
        if (!freopen(child.errPath.c_str(), "w", stderr)) _exit(97);
        setenv("HOLDFAST_UNATTENDED", "1", 1);
        setenv("HOLDFAST_STATS", "1", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        const std::string bin = binPath("holdfast");
        execl(bin.c_str(), "holdfast", static_cast<char*>(nullptr));
        _exit(98);
    }
    return child;
}

} // namespace

TEST(BundledDemo, ThePlayerRunsItAndEndsOnEscape) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    ASSERT_TRUE(fs::exists(demoDir() + "/data.qzd"));
    Child child = startPlayer(demoDir());
    const unsigned long window = waitForWindow("hold fast", 30000, child.pid);
    ASSERT_NE(window, 0u) << readFile(child.errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // Keys pressed while the demo is still loading are dropped (a busy machine loads slowly), so
    // press until it ends.
    int code = -1;
    for (int tries = 0; tries < 60 && code < 0; ++tries) {
        sendEscape(window);
        code = waitChildExit(child.pid, 1000, false);
    }
    if (code < 0) code = waitChildExit(child.pid, 1000);
    EXPECT_EQ(code, 0) << readFile(child.errPath);
    const std::string err = readFile(child.errPath);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(err, m, std::regex("frames=(\\d+) seconds=[0-9.]+ fps=[0-9.]+ load_ms=(\\d+)")))
        << err;
    EXPECT_GT(std::stoul(m[1]), 0u);
    RecordProperty("load_ms", m[2].str());
    // Nothing was reported on the way: no missing picture, no script error, no sound error.
    EXPECT_EQ(err.find("error"), std::string::npos) << err;
    EXPECT_EQ(err.find("message:"), std::string::npos) << err;
}

TEST(BundledDemo, WithoutTheDataArchiveThePlayerEndsWithTheScriptsFatalMessage) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string dir = makeTempDir();
    fs::copy_file(demoDir() + "/music.ogg", dir + "/music.ogg");
    CommandResult r = runCommand(
        "cd " + dir + " && HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast"), 60);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script: could not open file for parsing"), std::string::npos) << r.err;
}

TEST(BundledDemo, TheScriptUsesEveryEffectAndRunsToTheEnd) {
    CommandResult r = runCommand(binPath("holdfast-script") + " --archive " + demoDir() +
                                 "/data.qzd --password tolvrask data/scripts/demo.scr");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"demoEnd\":286000"), std::string::npos);
    for (const char* effect : {"Clear", "Fade", "Flash", "Invert"})
        EXPECT_NE(r.out.find(std::string("{\"name\":\"") + effect + "\""), std::string::npos) << effect;
    EXPECT_NE(r.out.find("\"values\":[800,0,0]"), std::string::npos); // a TRIGGER with extra values
    EXPECT_NE(r.out.find("[286000,false]"), std::string::npos);       // the timeline reaches the end
}

// The checker finds nothing to say about the bundled demo (it loads every picture, scene and morph
// file and hands over every signal); and making the demo leaves nothing but the demo behind.
TEST(BundledDemo, ChecksClean) {
    const std::string dir = demoDir();
    CommandResult r =
        runCommand(binPath("holdfast-script") + " --check " + dir + "/data.qzd --password tolvrask");
    if (r.exitCode == 1 && r.err.find("could not create a GL context") != std::string::npos)
        GTEST_SKIP() << "no GL context";
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "0 errors, 0 warnings\n") << r.err;

    fs::remove(dir + "/.lock"); // left by makers before the lock moved to the folder itself
    r = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " +
                       fs::path(HOLDFAST_BIN_DIR).parent_path().string(),
                   900);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir + "/.lock"));
    EXPECT_TRUE(fs::exists(dir + "/data.qzd") && fs::exists(dir + "/music.ogg"));
}

TEST(BundledDemo, TheMusicIsAbout286SecondsWithTheKickOnEveryBeat) {
    OggVorbis_File file;
    ASSERT_EQ(ov_fopen((demoDir() + "/music.ogg").c_str(), &file), 0);
    vorbis_info* info = ov_info(&file, -1);
    EXPECT_EQ(info->rate, 44100);
    EXPECT_EQ(info->channels, 2);
    EXPECT_NEAR(ov_time_total(&file, -1), 286.0, 1.0);

    // In the groove (from 32 s) the first 30 ms of every beat are far louder than the 30 ms
    // half a beat later: the script's 500 ms grid is the music's.
    auto energy = [&](double seconds) {
        ov_pcm_seek(&file, static_cast<ogg_int64_t>(seconds * 44100));
        double sum = 0;
        long left = static_cast<long>(0.03 * 44100);
        while (left > 0) {
            float** pcm;
            int link;
            long n = ov_read_float(&file, &pcm, static_cast<int>(left), &link);
            if (n <= 0) break;
            for (long i = 0; i < n; ++i)
                sum += pcm[0][i] * pcm[0][i];
            left -= n;
        }
        return sum;
    };
    int louder = 0;
    for (int beat = 0; beat < 16; ++beat) {
        const double t = 40.0 + beat * 0.5;
        if (energy(t) > 2.0 * energy(t + 0.25)) ++louder;
    }
    EXPECT_GE(louder, 15);
    ov_clear(&file);
}

// The Spectrum effect's beat test run over the bundled music as the player hears it: offline, a
// frame every 20 ms. The kick must pass it (its loudest band over 0.92) within a few frames of
// each beat wherever the drums play a kick on it, and nothing else may: the pads and the arpeggio
// alone never do.
TEST(BundledDemo, TheSpectrumHearsTheKicksAsBeatsAndNothingElse) {
    const std::string music = demoDir() + "/music.ogg";
    ASSERT_TRUE(fs::exists(music));
    sound::setOfflineMode(true);
    ASSERT_TRUE(tesselMusic.initSound());
    ASSERT_TRUE(tesselMusic.openStream(music.c_str()));
    tesselMusic.setTime(0);
    tesselMusic.play();
    Spectrum spectrum;
    spectrum.start(0);

    // The beats heard from `from` to `to` (ms), sampled every 20 ms.
    auto beatsHeard = [&](int from, int to) {
        std::vector<int> beats;
        for (int t = from; t < to; t += 20) {
            sound::renderOfflineAt(t);
            spectrum.update(t);
            if (spectrum.beatSum != Spectrum::kNoBeat) beats.push_back(t);
        }
        return beats;
    };
    // Kicks a bar apart (hats), on every beat (groove, drop, third drop): each is heard within
    // 100 ms, and nothing is heard away from them.
    struct Kicks {
        int from, to, every;
    };
    for (const Kicks& k : {Kicks{20000, 28000, 2000}, Kicks{40000, 48000, 500}, Kicks{136000, 144000, 500},
                           Kicks{230000, 238000, 500}}) {
        SCOPED_TRACE(k.from);
        const std::vector<int> beats = beatsHeard(k.from, k.to);
        int heard = 0;
        for (int kick = k.from; kick < k.to; kick += k.every) {
            bool found = false;
            for (int t : beats)
                found = found || (t >= kick && t <= kick + 100);
            heard += found;
        }
        EXPECT_EQ(heard, (k.to - k.from) / k.every);
        for (int t : beats)
            EXPECT_LE((t - k.from) % k.every, 200) << "a beat off the kicks at " << t << " ms";
    }
    // The half-time kicks: on 1 and 2-and of every bar.
    {
        const std::vector<int> beats = beatsHeard(200000, 204000);
        for (int kick : {200000, 200750, 202000, 202750}) {
            bool found = false;
            for (int t : beats)
                found = found || (t >= kick && t <= kick + 100);
            EXPECT_TRUE(found) << "no beat heard for the kick at " << kick << " ms";
        }
    }
    // Pads alone (intro), pads and arpeggio without drums (breakdown).
    EXPECT_EQ(beatsHeard(2000, 14000), std::vector<int>{});
    EXPECT_EQ(beatsHeard(97000, 111000), std::vector<int>{});
    tesselMusic.closeSound();
    sound::setOfflineMode(false);
}

namespace {

// The kicks of the bundled music (tools/makemusic/Arrangement.cpp), in ms: a kick on each bar of
// bars 8-15 and 56-63, on every beat of bars 16-47, 64-95 and 112-135, and on 1 and 2-and of the
// half-time bars 96-111. Nothing in bars 48-55 (the breakdown) or from bar 136 (the pads).
std::vector<int> musicKicks() {
    std::vector<int> kicks;
    for (int bar = 0; bar < 143; ++bar) {
        const int t = bar * 2000;
        if ((bar >= 8 && bar < 16) || (bar >= 56 && bar < 64)) {
            kicks.push_back(t);
        } else if ((bar >= 16 && bar < 48) || (bar >= 64 && bar < 96) || (bar >= 112 && bar < 136)) {
            for (int beat = 0; beat < 4; ++beat)
                kicks.push_back(t + beat * 500);
        } else if (bar >= 96 && bar < 112) {
            kicks.push_back(t);
            kicks.push_back(t + 750);
        }
    }
    return kicks;
}

} // namespace

// The demo stepped as a 60 fps player would (the GL work sent to a driver that draws nothing)
// from its start to the end of the Spectrum's last span, counting the Spectrum's beats as the
// capture tool reports them. While the script lets
// the Spectrum listen (its active spans, from the script's timeline) every kick is one beat, heard
// within 100 ms, and no beat falls anywhere else.
TEST(BundledDemo, TheSpectrumCountsEveryKickWhileItListensAndNothingElse) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    CommandResult script = runCommand(binPath("holdfast-script") + " --archive " + demoDir() +
                                      "/data.qzd --password tolvrask data/scripts/demo.scr");
    ASSERT_EQ(script.exitCode, 0) << script.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        script.out, m,
        std::regex(
            "\\{\"name\":\"Spectrum\",\"active\":\\{[^{}]*\"keys\":\\[((\\[\\d+,(true|false)\\],?)*)\\]")))
        << script.out.substr(0, 400);
    std::vector<std::pair<int, int>> listening; // [from, to)
    {
        const std::string keys = m[1];
        const std::regex key("\\[(\\d+),(true|false)\\]");
        int from = -1;
        for (auto it = std::sregex_iterator(keys.begin(), keys.end(), key); it != std::sregex_iterator();
             ++it) {
            const int t = std::stoi((*it)[1]);
            const bool on = (*it)[2] == "true";
            if (on && from < 0) from = t;
            if (!on && from >= 0) {
                listening.emplace_back(from, t);
                from = -1;
            }
        }
    }
    ASSERT_FALSE(listening.empty());
    auto listens = [&](int t) {
        for (const auto& span : listening)
            if (t >= span.first && t < span.second) return true;
        return false;
    };

    // Only the Spectrum while it listens notes beats: the frames after its last span add none,
    // so the stepping stops there.
    int lastHeard = 0;
    for (const auto& span : listening)
        lastHeard = std::max(lastHeard, span.second);
    const std::string out = makeTempDir();
    CommandResult r = runCommand("GALLIUM_NOOP=1 " + binPath("holdfast-capture") + " --data " + demoDir() +
                                     "/data.qzd --times " + std::to_string(lastHeard) + " --out " + out,
                                 600);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(std::regex_search(r.err, m, std::regex("beats=(\\d+)( at ([0-9,]+))?"))) << r.err;
    const size_t count = std::stoul(m[1]);
    std::vector<int> beats;
    {
        const std::string list = m[3];
        std::stringstream in(list);
        std::string item;
        while (std::getline(in, item, ','))
            beats.push_back(std::stoi(item));
    }
    ASSERT_EQ(beats.size(), count);

    std::vector<int> kicks;
    for (int kick : musicKicks())
        if (listens(kick)) kicks.push_back(kick);
    ASSERT_GT(kicks.size(), 100u) << "the Spectrum hardly listens";
    // Within a few percent: a kick at the very edge of a span may go either way.
    EXPECT_NEAR(static_cast<double>(count), static_cast<double>(kicks.size()), 0.03 * kicks.size());
    size_t heard = 0;
    for (int kick : kicks) {
        bool found = false;
        for (int t : beats)
            found = found || (t >= kick && t <= kick + 100);
        heard += found;
    }
    EXPECT_GE(heard, kicks.size() * 97 / 100);
    const std::vector<int> all = musicKicks();
    for (int t : beats) {
        EXPECT_TRUE(listens(t)) << "a beat at " << t << " ms, where the Spectrum is not listening";
        bool onAKick = false;
        for (int kick : all)
            onAKick = onAKick || (t >= kick && t <= kick + 100);
        EXPECT_TRUE(onAKick) << "a beat at " << t << " ms, off the kicks";
    }
}
