// The player as a whole program: how it ends, and what it says when it cannot start.
#include "GLTest.h"
#include "X11Control.h"
#include "engine/SceneWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>

namespace {
struct Child {
    pid_t pid = -1;
    std::string errPath;
};

// Starts the player in `dir` with stderr to a file; unattended, dummy audio, stats on.
Child startPlayer(const std::string& dir) {
    Child child;
    child.errPath = dir + "/stderr.txt";
    child.pid = fork();
    if (child.pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(99);
        freopen(child.errPath.c_str(), "w", stderr);
        setenv("HOLDFAST_UNATTENDED", "1", 1);
        setenv("HOLDFAST_STATS", "1", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::string bin = binPath("holdfast");
        execl(bin.c_str(), "holdfast", static_cast<char*>(nullptr));
        _exit(98);
    }
    return child;
}

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

// A working directory with a small packed demo: one Clear effect for the whole run.
// `header` goes into the script's header.
std::string makeDemoDir(int demoStart = 0, const std::string& header = "", const std::string& timeline = "") {
    std::string dir = makeTempDir();
    writeFile(dir + "/src/data/scripts/demo.scr", "__HEADER__\nDEMO_START " + std::to_string(demoStart) +
                                                      "\nDEMO_END 286000\n" + header +
                                                      "__DEFS__\nINSERT_EFFECT Clear\n"
                                                      "__TIMELINE__\n0 BEGIN Clear\n" +
                                                      timeline);
    CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + dir + "/data.qzd " + dir +
                                      "/src --password tolvrask");
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
    return dir;
}
} // namespace

TEST(PlayerProgram, EscapeEndsTheDemoWithExitCodeZero) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string dir = makeDemoDir();
    Child child = startPlayer(dir);
    unsigned long window = waitForWindow("hold fast", 20000, child.pid);
    ASSERT_NE(window, 0u) << readFile(child.errPath);
    // Keys pressed while the demo is still loading are dropped, so press until it ends.
    int code = -1;
    for (int tries = 0; tries < 80 && code < 0; ++tries) {
        sendEscape(window);
        code = waitChildExit(child.pid, 250, false);
    }
    if (code < 0) code = waitChildExit(child.pid, 1000);
    EXPECT_EQ(code, 0);
    std::string err = readFile(child.errPath);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(err, m, std::regex("frames=(\\d+) seconds=[0-9.]+ fps=[0-9.]+ load_ms=\\d+")))
        << err;
    EXPECT_GT(std::stoul(m[1]), 0u);
    // In sanitizer builds the effects that live until exit are no leak, nor is what the system
    // libraries keep: a clean run reports nothing.
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
}

// bench/run.sh times a span of the demo by interrupting the player: that must end it like a quit,
// with the statistics line written.
TEST(PlayerProgram, AnInterruptEndsTheDemoWithExitCodeZeroAndItsStatistics) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string dir = makeDemoDir();
    Child child = startPlayer(dir);
    ASSERT_NE(waitForWindow("hold fast", 20000, child.pid), 0u) << readFile(child.errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    kill(child.pid, SIGINT);
    EXPECT_EQ(waitChildExit(child.pid, 10000), 0);
    std::string err = readFile(child.errPath);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        err, m,
        std::regex("frames=(\\d+) seconds=([0-9.]+) fps=([0-9.]+) .* worst_fps=([0-9.]+) "
                   "cpu_us_per_frame=([0-9.]+) worst_cpu_us_per_frame=([0-9.]+) vsync=[a-z0-9]+ "
                   "swap_interval=-?[0-9]+\n")))
        << err;
    EXPECT_GT(std::stoul(m[1]), 0u);
    // The worst second is no better than the whole run, give or take the last part second, which
    // no window covers.
    EXPECT_GT(std::stod(m[4]), 0.0);
    EXPECT_LE(std::stod(m[4]), std::stod(m[3]) * 1.25);
    EXPECT_GT(std::stod(m[5]), 0.0);
    EXPECT_GE(std::stod(m[6]), std::stod(m[5]) * 0.8);
}

TEST(PlayerProgram, ClosingTheWindowEndsTheDemoWithExitCodeZero) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string dir = makeDemoDir();
    Child child = startPlayer(dir);
    unsigned long window = waitForWindow("hold fast", 20000, child.pid);
    ASSERT_NE(window, 0u) << readFile(child.errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sendCloseRequest(window);
    EXPECT_EQ(waitChildExit(child.pid, 20000), 0) << readFile(child.errPath);
}

TEST(PlayerProgram, DemoTimePastTheEndFromTheStartPresentsNothing) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    // Above 286000, and negative (huge when read unsigned): one frame is drawn, none presented.
    for (int demoStart : {300000, -5000}) {
        std::string dir = makeDemoDir(demoStart);
        Child child = startPlayer(dir);
        EXPECT_EQ(waitChildExit(child.pid, 60000), 0) << demoStart;
        std::string err = readFile(child.errPath);
        EXPECT_NE(err.find("frames=0 "), std::string::npos) << demoStart << "\n" << err;
    }
}

// DEMO_LENGTH (an extension of the script) ends the run there, like the fixed end without it; a
// DEMO_START past it presents nothing.
TEST(PlayerProgram, DemoLengthEndsTheRunWithExitCodeZero) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string dir = makeDemoDir(0, "DEMO_LENGTH 1500\n");
    Child child = startPlayer(dir);
    EXPECT_EQ(waitChildExit(child.pid, 60000), 0);
    std::string err = readFile(child.errPath);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(err, m, std::regex("frames=(\\d+) seconds=([0-9.]+) "))) << err;
    EXPECT_GT(std::stoul(m[1]), 0u);
    EXPECT_GE(std::stod(m[2]), 1.4) << err;

    dir = makeDemoDir(2000, "DEMO_LENGTH 1500\n");
    child = startPlayer(dir);
    EXPECT_EQ(waitChildExit(child.pid, 60000), 0);
    err = readFile(child.errPath);
    EXPECT_NE(err.find("frames=0 "), std::string::npos) << err;
}

// A misspelt effect name in a signal or in a link (type 2) is named once as the demo loads, with
// its script line, and the demo plays on (the signal dropped, the link none).
TEST(PlayerProgram, SignalsAndLinksToEffectsThatDoNotExistAreNamedOnce) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string dir = makeDemoDir(0, "DEMO_LENGTH 300\nDEFINE LINK 2\n",
                                        "0 TRIGGER Clear LINK \"Claer\"\n100 TRIGGER Clear LINK \"Claer\"\n"
                                        "200 INIT Clera\n");
    Child child = startPlayer(dir);
    EXPECT_EQ(waitChildExit(child.pid, 60000), 0);
    const std::string err = readFile(child.errPath);
    const std::string link = "Link to an effect that does not exist: Claer (script line 10";
    EXPECT_NE(err.find(link), std::string::npos) << err;
    EXPECT_EQ(err.find(link), err.rfind("Link to an effect that does not exist")) << err;
    EXPECT_NE(err.find("Signal for an effect that does not exist: Clera (script line 12"), std::string::npos)
        << err;
}

// What is wrong with the demo is said once on stderr with its script line, in the checker's words
// and grade, and the demo plays on: a picture and a scene missing from the archive (the scene's
// report keeps the player's words), a TRIGGER type never defined. A fatal mistake keeps the
// player's message, once, and exit code 1.
TEST(PlayerProgram, FindingsAreSaidOnceWithTheirScriptLines) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    std::string dir =
        makeDemoDir(0,
                    "DEMO_LENGTH 300\nDEFINE LINK 2\nINSERT_EFFECT Image1\nINSERT_EFFECT Scene0\n"
                    "__SETUP__\n0 SIGNAL Image1 Datafile \"data/images/missing.png\"\n"
                    "0 SIGNAL Scene0 Datafile \"data/scenes/gone.qzg\"\n",
                    "0 BEGIN Image1\n100 TRIGGER Clear LNK \"Image1\"\n");
    Child child = startPlayer(dir);
    EXPECT_EQ(waitChildExit(child.pid, 60000), 0);
    std::string err = readFile(child.errPath);
    for (const std::string& line :
         {std::string(
              "holdfast: data/scripts/demo.scr:9: error: picture data/images/missing.png is not in the "
              "archive (or the password is wrong)\n"),
          std::string("could not load scene: data/scenes/gone.qzg (script line 10)\n"),
          std::string(
              "holdfast: data/scripts/demo.scr:16: warning: TRIGGER type `LNK` is not a DEFINE name")}) {
        const size_t at = err.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << err;
        EXPECT_EQ(at, err.rfind(line)) << line << "\n" << err;
    }

    dir = makeDemoDir(0, "INSERT_EFFECT Bluur\n");
    child = startPlayer(dir);
    EXPECT_EQ(waitChildExit(child.pid, 60000), 1);
    err = readFile(child.errPath);
    const size_t at = err.find("Effect Id not found: Bluur (script line 4");
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find("Bluur", at + 30), std::string::npos) << err;
}

// Full screen takes the desktop as it is, so no screen size refuses it; only a display that can
// show no window full screen at all gets the question (SDL's dummy driver, which has no GL either:
// the windowed fallback fails too).
TEST(PlayerProgram, FullScreenAtAnyDesktopSizeTheQuestionOnlyWhereRefused) {
    if (system("command -v xvfb-run > /dev/null 2>&1") != 0) GTEST_SKIP() << "needs xvfb-run";
    std::string dir = makeDemoDir(300000); // ends after its first frame
    const char* question = "Error: requested fullscreen mode not supported, run windowed? -> Yes\n";
    for (const char* screen : {"800x600x24", "1280x1024x24"}) {
        CommandResult r;
        // xvfb-run -a can pick a display number that a server started at the same moment takes.
        for (int attempt = 0; attempt < 3; ++attempt) {
            r = runCommand("cd " + dir +
                               " && HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy xvfb-run -a -s '-screen 0 " +
                               screen + "' " + binPath("holdfast"),
                           120);
            if (r.err.find("Xvfb failed to start") == std::string::npos) break;
        }
        EXPECT_EQ(r.exitCode, 0) << screen << "\n" << r.err;
        EXPECT_EQ(r.err.find(question), std::string::npos) << screen << "\n" << r.err;
    }
    CommandResult r =
        runCommand("cd " + dir + " && HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=dummy " +
                       binPath("holdfast"),
                   60);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const size_t asked = r.err.find(question);
    EXPECT_NE(asked, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("error: window creation error\n", asked), std::string::npos) << r.err;
}

// FIFOs under the names of the data archive and the music have no writer: the player must not
// wait on them. Music is optional (reported, the demo plays); the archive is not.
TEST(PlayerProgram, FifoInsteadOfDataOrMusicIsReportedNotWaitedOn) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    const std::string run = "HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast");
    std::string dir = makeDemoDir(300000); // ends after its first frame
    ASSERT_EQ(mkfifo((dir + "/music.ogg").c_str(), 0600), 0);
    CommandResult music = runCommand("cd " + dir + " && " + run, 60);
    EXPECT_EQ(music.exitCode, 0) << music.err;
    EXPECT_NE(music.err.find("Music file is not a regular file: music.ogg\n"), std::string::npos)
        << music.err;

    std::string empty = makeTempDir();
    ASSERT_EQ(mkfifo((empty + "/data.qzd").c_str(), 0600), 0);
    CommandResult data = runCommand("cd " + empty + " && " + run, 60);
    EXPECT_EQ(data.exitCode, 1) << data.err;
    EXPECT_NE(data.err.find("data.qzd: cannot open archive: not a regular file"), std::string::npos)
        << data.err;
}

// Scene files from the packed demo that the loader refuses: the player names the file and the
// reason (a limit, a texture name leading out of the textures) and plays on; an unknown chunk
// ends it, named as holdfast-scene info names it.
TEST(PlayerProgram, RefusedScenePartsAreNamedFromTheArchive) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    namespace sf = scenefile;
    const std::string dir = makeTempDir();
    auto pack = [&](const std::string& scenes) {
        writeFile(dir + "/src/data/scripts/demo.scr",
                  "__HEADER__\nDEMO_START 300000\nDEMO_END 286000\n__DEFS__\n" + scenes + "__TIMELINE__\n");
        std::remove((dir + "/data.qzd").c_str());
        CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + dir + "/data.qzd " + dir +
                                          "/src --password tolvrask");
        EXPECT_EQ(packed.exitCode, 0) << packed.err;
    };
    sf::SceneFile base;
    sf::Material m;
    m.id = 1;
    m.textures = {{"C:\\maps\\../secret.png", sf::DiffuseMap}};
    base.chunks.push_back(sf::MaterialList{{m}});
    sf::Camera cam;
    cam.header.name = "Cam";
    base.chunks.push_back(cam);
    sf::Mesh quad;
    quad.header.name = "Q";
    quad.header.materialId = 1;
    quad.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    quad.normals = quad.vertices;
    quad.faces = {{0, 1, 2}};
    base.chunks.push_back(quad);
    ASSERT_TRUE(sf::writeSceneFile(base, dir + "/src/data/scenes/outside.qzg"));
    writeFile(dir + "/src/data/secret.png", "not read");
    std::vector<uint8_t> one;
    sf::SceneFile lit;
    lit.chunks.push_back(sf::Light{});
    ASSERT_TRUE(sf::writeScene(lit, one));
    sf::SceneFile nine = base;
    for (int i = 0; i < 9; ++i)
        nine.chunks.push_back(sf::RawChunk{sf::LightChunk, {one.begin() + 23, one.end() - 4}});
    ASSERT_TRUE(sf::writeSceneFile(nine, dir + "/src/data/scenes/nine.qzg"));
    sf::SceneFile odd = base;
    odd.chunks.push_back(sf::RawChunk{8, {}});
    ASSERT_TRUE(sf::writeSceneFile(odd, dir + "/src/data/scenes/odd.qzg"));

    const std::string run =
        "cd " + dir + " && HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast");
    pack("INSERT_EFFECT Scene0\nINSERT_EFFECT Scene1\n__SETUP__\n"
         "0 SIGNAL Scene0 Datafile \"data/scenes/outside.qzg\"\n0 SIGNAL Scene1 Datafile "
         "\"data/scenes/nine.qzg\"\n");
    CommandResult r = runCommand(run, 60);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Texture name leaves the demo, not loaded: C:\\maps\\../secret.png: "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Scene file is broken: data/scenes/nine.qzg: more than 8 lights at byte "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("GL error"), std::string::npos) << r.err;

    pack("INSERT_EFFECT Scene0\n__SETUP__\n0 SIGNAL Scene0 Datafile \"data/scenes/odd.qzg\"\n");
    r = runCommand(run, 60);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Scene file has an unknown chunk: data/scenes/odd.qzg: unknown chunk id 8 at byte "),
              std::string::npos)
        << r.err;
}

// No display set, or one set that nobody answers: one plain line says so and names it, then the
// program's own reports follow.
TEST(PlayerProgram, NoDisplayIsFatal) {
    const struct {
        const char* environment;
        const char* line;
    } cases[] = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER",
         "no display could be opened (DISPLAY is not set): "},
        {"env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:31999",
         "no display could be opened (DISPLAY=:31999): "},
    };
    for (const auto& c : cases) {
        CommandResult r =
            runCommand("cd " + makeTempDir() + " && " + c.environment + " HOLDFAST_UNATTENDED=1 " +
                           binPath("holdfast") + " --ignored argument",
                       60);
        EXPECT_EQ(r.exitCode, 1) << c.environment;
        const size_t line = r.err.find(c.line);
        ASSERT_NE(line, std::string::npos) << r.err;
        // The window cannot be made (not fatal by itself); the GL start-up that follows is.
        const size_t box = r.err.find("error: could not register window class\n");
        ASSERT_NE(box, std::string::npos) << r.err;
        EXPECT_LT(line, box) << r.err;
        EXPECT_TRUE(
            std::regex_search(r.err, std::regex("error: src/host/Player\\.cpp:\\d+ Could not init GLEW\n")))
            << r.err;
    }
}
