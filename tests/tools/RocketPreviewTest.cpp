// holdfast-preview --rocket against a small editor stand-in (a TCP server in this test speaking
// the Rocket protocol): keys drive the picture, the cursor and pause drive the preview, saving
// writes the tracks into the script, and a missing, vanishing or hostile editor is survived.
#include "GLTest.h"
#include "PngPixels.h"
#include "PreviewPanel.h"
#include "PreviewProcess.h"
#include "X11Control.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string u32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

uint32_t readU32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

enum Kind : uint8_t { Step = 0, Linear = 1, Smooth = 2, Ramp = 3 };

// The editor's side of the protocol, as much as the tests need.
class EditorStandIn {
  public:
    explicit EditorStandIn(uint16_t port = 0) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 4) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~EditorStandIn() {
        dropClient();
        if (listener_ >= 0) ::close(listener_);
    }
    bool ok() const { return listener_ >= 0; }
    uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Takes the next demo and answers its greeting.
    bool accept(int timeoutMs, const std::string& answer = "hello, demo!") {
        dropClient();
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        client_ = ::accept(listener_, nullptr, nullptr);
        if (client_ < 0) return false;
        const std::string greeting = "hello, synctracker!";
        if (!readFor(timeoutMs, [&] { return in_.size() >= greeting.size(); })) return false;
        if (in_.compare(0, greeting.size(), greeting) != 0) return false;
        in_.erase(0, greeting.size());
        send(answer);
        return true;
    }
    // Waits until the demo has asked for the track; its index, or -1.
    int track(const std::string& name, int timeoutMs = 10000) {
        int index = -1;
        readFor(timeoutMs, [&] {
            parse();
            for (size_t i = 0; i < tracks.size(); ++i)
                if (tracks[i] == name) index = static_cast<int>(i);
            return index >= 0;
        });
        return index;
    }
    void send(const std::string& bytes) {
        if (client_ >= 0) (void)!::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void setKey(const std::string& name, uint32_t row, float value, Kind kind) {
        uint32_t bits;
        memcpy(&bits, &value, sizeof bits);
        send(std::string(1, '\0') + u32(static_cast<uint32_t>(track(name))) + u32(row) + u32(bits) +
             std::string(1, static_cast<char>(kind)));
    }
    void deleteKey(const std::string& name, uint32_t row) {
        send(std::string(1, '\x01') + u32(static_cast<uint32_t>(track(name))) + u32(row));
    }
    void setRow(uint32_t row) { send(std::string(1, '\x03') + u32(row)); }
    void pause(bool paused) { send(std::string(1, '\x04') + std::string(1, paused ? '\x01' : '\0')); }
    void save() { send(std::string(1, '\x05')); }
    // Rows the demo reported, collected for `ms`.
    std::vector<uint32_t> rowsHeard(int ms) {
        readFor(ms, [] { return false; });
        parse();
        return rows;
    }
    // True when the demo closes the connection within the time.
    bool closedByDemo(int timeoutMs) {
        const bool closed = readFor(
            timeoutMs, [] { return false; }, true);
        dropClient();
        return closed;
    }
    void dropClient() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
        in_.clear();
        tracks.clear();
        rows.clear();
    }

    std::vector<std::string> tracks; // asked for, in order: the index is the position
    std::vector<uint32_t> rows;

  private:
    // Reads until `done` or the time is up; with `untilClosed`, true when the demo closed.
    template <typename F> bool readFor(int timeoutMs, F done, bool untilClosed = false) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0 || client_ < 0) return false;
            pollfd p{client_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 50))) <= 0) continue;
            char buffer[4096];
            const ssize_t n = recv(client_, buffer, sizeof buffer, 0);
            if (n <= 0) return untilClosed;
            in_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }
    void parse() {
        while (!in_.empty()) {
            if (in_[0] == '\x02') {
                if (in_.size() < 5) return;
                const uint32_t len = readU32(in_, 1);
                if (in_.size() < 5 + len) return;
                tracks.push_back(in_.substr(5, len));
                in_.erase(0, 5 + len);
            } else if (in_[0] == '\x03') {
                if (in_.size() < 5) return;
                rows.push_back(readU32(in_, 1));
                in_.erase(0, 5);
            } else {
                ADD_FAILURE() << "the demo sent command " << int(in_[0]);
                in_.clear();
            }
        }
    }
    int listener_ = -1, client_ = -1;
    uint16_t port_ = 0;
    std::string in_;
};

struct Preview : PreviewProcess {
    using PreviewProcess::PreviewProcess;
    // Waits up to `ms` for `part` on stderr.
    bool said(const std::string& part, int ms = 5000) const {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (err().find(part) == std::string::npos) {
            if (Clock::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::vector<int> centre() const {
        const std::vector<unsigned char> rgb = grabWindow(window, 800, 600);
        if (rgb.empty()) return {-1, -1, -1};
        const size_t i = (300 * 800 + 400) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
    // Waits until the centre's red is within 1 of `red`; returns the last red seen.
    int waitRed(int red, int timeoutMs = 10000) const {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int seen = centre()[0];
        while (std::abs(seen - red) > 1 && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            seen = centre()[0];
        }
        return seen;
    }
};

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A background of Clear's colour: the centre pixel reads the variables back.
const char* kClearScript = R"(__HEADER__
DEMO_START 0
DEMO_END 20000
DEMO_BEAT 100
__DEFS__
INSERT_EFFECT Clear
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear Red 0.25
0 SIGNAL Clear Green 0.5
)";

bool haveDisplay() {
    return getenv("DISPLAY") && *getenv("DISPLAY");
}

std::string clearDemo() {
    const std::string demo = makeTempDir();
    writeFile(demo + "/data/scripts/demo.scr", kClearScript);
    return demo;
}

int level(double v) {
    return static_cast<int>(std::lround(v * 255.0));
}

std::string timeLabel(uint32_t ms) {
    char text[32];
    snprintf(text, sizeof text, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return text;
}

} // namespace

// Every float, int and bool variable is a track; a key changes the picture, each interpolation
// gives its curve at times between rows, and removing the last key gives the script back.
TEST(RocketPreview, EditorKeysDriveTheVariablesWithEveryInterpolation) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = clearDemo();
    // Rows of 300 ms: 1000 and 2000 ms lie a third and two thirds between rows 0 and 10.
    Preview preview(demo, "--rocket " + editor.address() + " --row-ms 300 --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    ASSERT_EQ(editor.track("Clear:Red"), 2) << "after Speed and SpectrumStr";
    for (const char* name : {"Clear:Green", "Clear:Alpha", "Clear:ClearColor", "Clear:ClearStencil"})
        EXPECT_GE(editor.track(name), 0) << name;
    for (const std::string& name : editor.tracks)
        EXPECT_NE(name, "Clear:Pattern") << "a text variable is no track";
    std::string title = waitForTitle(preview.window, {"rocket " + editor.address()}, 10000);
    EXPECT_NE(title.find("rocket " + editor.address()), std::string::npos) << title;
    EXPECT_EQ(preview.waitRed(level(0.25)), level(0.25));

    editor.setKey("Clear:Red", 0, 1.0f, Step);
    EXPECT_EQ(preview.waitRed(255), 255) << preview.err();

    struct Expect {
        Kind kind;
        double third, twoThirds;
    } curves[] = {
        {Step, 0, 0}, {Linear, 1 / 3.0, 2 / 3.0}, {Smooth, 7 / 27.0, 20 / 27.0}, {Ramp, 1 / 9.0, 4 / 9.0}};
    editor.setKey("Clear:Red", 10, 1.0f, Linear);
    for (const Expect& e : curves) {
        editor.setKey("Clear:Red", 0, 0.0f, e.kind);
        EXPECT_EQ(preview.waitRed(level(e.third)), level(e.third)) << "kind " << int(e.kind) << " at 1000 ms";
        sendKey(preview.window, "Right");
        waitForTitle(preview.window, {"0:02.000"}, 20000);
        EXPECT_EQ(preview.waitRed(level(e.twoThirds)), level(e.twoThirds))
            << "kind " << int(e.kind) << " at 2000 ms";
        sendKey(preview.window, "Left");
        waitForTitle(preview.window, {"0:01.000"}, 20000);
    }
    // The last key gone: the script's red again.
    editor.deleteKey("Clear:Red", 0);
    editor.deleteKey("Clear:Red", 10);
    EXPECT_EQ(preview.waitRed(level(0.25)), level(0.25));
    // A reload that adds an effect: its tracks are asked for, after the ones asked for before.
    const size_t before = editor.tracks.size();
    writeFile(demo + "/data/scripts/demo.scr", std::string(kClearScript) + "INSERT_EFFECT Tiles\n");
    sendKey(preview.window, "r");
    EXPECT_EQ(editor.track("Tiles:Red"), static_cast<int>(before) + 2) << "after Tiles:Speed and SpectrumStr";
    // The effect gone from the script: the keys the editor holds for it are said to go unused.
    editor.setKey("Clear:Green", 0, 1.0f, Step);
    writeFile(demo + "/data/scripts/demo.scr", "__HEADER__\nDEMO_END 20000\n__DEFS__\nINSERT_EFFECT Tiles\n");
    sendKey(preview.window, "r");
    EXPECT_TRUE(preview.said("the editor holds keys for Clear:Green, which the demo does not have"))
        << preview.err();
    EXPECT_TRUE(preview.running()) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// The editor's cursor jumps the preview to the capture tool's frame; its pause and play drive
// the preview, which reports its row while playing.
TEST(RocketPreview, TheEditorsCursorAndPauseDriveThePreview) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = makeTempDir();
    // A flash on every pattern step: the frame after a jump depends on the frames before it.
    writeFile(demo + "/data/scripts/demo.scr", R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Flash
__SETUP__
0 SIGNAL Flash Pattern "11"
__TIMELINE__
0 BEGIN Clear
0 SIGNAL Clear Red 0.25
0 SIGNAL Flash Speed 0.2
0 BEGIN Flash
)");
    Preview preview(demo, "--rocket " + editor.address() + " --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    ASSERT_GE(editor.track("Flash:Add"), 0);

    editor.setRow(57); // rows of DEMO_BEAT / 4 = 25 ms: 1425 ms
    std::string title = waitForTitle(preview.window, {"0:01.425", "paused"}, 20000);
    ASSERT_NE(title.find("0:01.425"), std::string::npos) << title << "\n" << preview.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<unsigned char> shown = grabWindow(preview.window, 800, 600);
    const std::string out = makeTempDir();
    CommandResult r =
        runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 1425 --out " + out, 120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Frame captured = readPng(out + "/frame_00001425.png");
    ASSERT_TRUE(captured.ok);
    EXPECT_TRUE(shown == captured.rgb) << "the jump's frame is the capture tool's";
    // Rows past the demo's end (286 s here, rows 0 to 11440) are refused with one message.
    EXPECT_TRUE(preview.said("the demo is 11441 rows of 25 ms long")) << preview.err();
    editor.setRow(0xFFFFFFFF);
    editor.setRow(11441);
    EXPECT_TRUE(preview.said("lies past the demo's end (row 11440): not jumping there")) << preview.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(occurrences(preview.err(), "past the demo's end"), 1u) << preview.err();
    EXPECT_NE(windowTitle(preview.window).find("0:01.425"), std::string::npos);

    editor.pause(false);
    for (int i = 0; i < 400 && title.find("paused") != std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        title = windowTitle(preview.window);
    }
    EXPECT_EQ(title.find("paused"), std::string::npos) << title;
    const std::vector<uint32_t> rows = editor.rowsHeard(1000);
    ASSERT_GE(rows.size(), 3u) << "a row every 25 ms while playing";
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_GT(rows[i], rows[i - 1]) << "each row once, in order";
    EXPECT_GE(rows.front(), 57u);
    editor.pause(true);
    title = waitForTitle(preview.window, {"paused"}, 5000);
    EXPECT_NE(title.find("paused"), std::string::npos) << title;
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// One position for both: the preview's own jumps move the editor's cursor while paused; at the
// demo's end the preview pauses the editor (by connecting again, which is what pauses a Rocket
// editor) and does not take the editor's greeting row for a jump; a paused preview paints its
// frame again when a window that covered it goes away.
TEST(RocketPreview, ThePreviewAndTheEditorKeepOnePosition) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = makeTempDir();
    std::string script = kClearScript;
    writeFile(demo + "/data/scripts/demo.scr", script.insert(script.find("DEMO_BEAT"), "DEMO_LENGTH 3000\n"));
    Preview preview(demo, "--rocket " + editor.address() + " --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    ASSERT_GE(editor.track("Clear:Red"), 0);
    sendKey(preview.window, "Right");
    waitForTitle(preview.window, {"0:02.000"}, 20000);
    sendKeys(preview.window, {"g", "2", "period", "5", "Return"});
    waitForTitle(preview.window, {"0:02.500"}, 20000);
    std::vector<uint32_t> rows = editor.rowsHeard(500);
    EXPECT_EQ(rows, (std::vector<uint32_t>{80, 100})) << "rows of 25 ms, paused";

    ASSERT_TRUE(coverWindow(preview.window, 300));
    const std::vector<int> frame = {level(0.25), level(0.5), 0};
    for (int i = 0; i < 100 && preview.centre() != frame; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(preview.centre(), frame) << "painted again";

    editor.pause(false); // plays to the end at 3000 ms
    rows = editor.rowsHeard(5000);
    ASSERT_GE(rows.back(), 118u);
    ASSERT_TRUE(editor.closedByDemo(20000)) << preview.err();
    EXPECT_TRUE(preview.said("the demo's end: connecting again")) << preview.err();
    const size_t jumps = occurrences(preview.err(), "jump to");
    // The editor greets a demo by pausing it and sending its cursor's row: where the preview is.
    ASSERT_TRUE(editor.accept(10000)) << preview.err();
    editor.pause(true);
    editor.setRow(rows.back());
    ASSERT_GE(editor.track("Clear:Red"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(occurrences(preview.err(), "jump to"), jumps) << preview.err();
    EXPECT_NE(windowTitle(preview.window).find("paused"), std::string::npos);
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// A far row replays for long (DEMO_LENGTH 2147483647, a row at 2 000 000 s): the preview shows how
// far it has come, and Escape still ends it at once.
TEST(RocketPreview, AFarJumpShowsProgressAndHearsTheKeys) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = makeTempDir();
    std::string script = kClearScript;
    writeFile(demo + "/data/scripts/demo.scr",
              script.insert(script.find("DEMO_BEAT"), "DEMO_LENGTH 2147483647\n"));
    Preview preview(demo, "--rocket " + editor.address() + " --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    ASSERT_GE(editor.track("Clear:Red"), 0);
    editor.setRow(80000000);
    const std::string title = waitForTitle(preview.window, {"jumping: "}, 10000);
    EXPECT_NE(title.find("jumping: "), std::string::npos) << title;
    const auto asked = Clock::now();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(3));
}

// The editor's save writes its tracks into the script; the player draws exactly the same without
// it, also on rows that do not start on a whole millisecond and between rows.
TEST(RocketPreview, SavedTracksPlayTheSameWithoutTheEditor) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    // Rows of a quarter beat: 312.5 ms.
    std::string beats = kClearScript;
    writeFile(script, beats.replace(beats.find("DEMO_BEAT 100"), 13, "DEMO_BEAT 1250"));
    Preview preview(demo, "--rocket " + editor.address() + " --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    editor.setKey("Clear:Red", 0, 0.0f, Linear);
    editor.setKey("Clear:Red", 10, 1.0f, Linear);
    editor.setKey("Clear:Green", 0, 1.0f, Smooth);
    editor.setKey("Clear:Green", 10, 0.0f, Step);
    editor.setKey("Clear:Blue", 0, 0.2f, Step);
    editor.setKey("Clear:Blue", 5, 0.8f, Ramp);
    // Rows 4 and 7 (1250 and 2187.5 ms: the frames see row 7 from 2188 ms), then a second back.
    const uint32_t times[] = {1250, 2188, 1188};
    std::vector<std::vector<int>> live;
    for (uint32_t t : times) {
        if (t == 1188)
            sendKey(preview.window, "Left");
        else
            editor.setRow(t == 1250 ? 4 : 7);
        ASSERT_NE(waitForTitle(preview.window, {timeLabel(t)}, 20000).find(timeLabel(t)), std::string::npos)
            << preview.err();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        live.push_back(preview.centre());
    }
    EXPECT_NEAR(live[0][0], level(0.4), 1);
    EXPECT_NEAR(live[0][1], level(1 - 0.16 * (3 - 0.8)), 1);
    EXPECT_NEAR(live[1][2], level(0.8), 1);

    editor.save();
    EXPECT_TRUE(preview.said("script reloaded", 10000)) << preview.err();
    EXPECT_NE(preview.err().find("saved 3 tracks"), std::string::npos) << preview.err();
    const std::string saved = readFile(script);
    EXPECT_NE(saved.find("// holdfast-preview: Rocket tracks"), std::string::npos) << saved;
    EXPECT_NE(saved.find("//rocket-held 0 SIGNAL Clear Red 0.25"), std::string::npos) << saved;
    EXPECT_NE(saved.find("SIGNAL Clear Blue 0.2\n"), std::string::npos) << saved;
    CommandResult r = runCommand(binPath("holdfast-script") + " " + script);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(preview.quit(), 0) << preview.err();

    const std::string out = makeTempDir();
    r = runCommand(binPath("holdfast-capture") + " --data " + demo + " --times 1188,1250,2188 --out " + out,
                   120);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (size_t i = 0; i < 3; ++i) {
        const Frame f = readPng(out + "/frame_0000" + std::to_string(times[i]) + ".png");
        ASSERT_TRUE(f.ok);
        const std::vector<int> played = f.at(400, 300);
        EXPECT_EQ(played, live[i]) << "at " << times[i] << " ms";
    }

    // The next save (the S key) holds Red alone: Red written anew, the lines of Green and Blue
    // kept as they were, and said so.
    Preview again(demo, "--rocket " + editor.address() + " --paused");
    ASSERT_NE(again.window, 0u) << again.err();
    ASSERT_TRUE(editor.accept(40000)) << again.err();
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    ASSERT_EQ(again.waitRed(255), 255);
    sendKey(again.window, "s");
    EXPECT_TRUE(again.said("script reloaded", 10000)) << again.err();
    EXPECT_NE(again.err().find("kept the last save's keys of Clear:Green, Clear:Blue"), std::string::npos)
        << again.err();
    const std::string resaved = readFile(script);
    EXPECT_EQ(occurrences(resaved, "// holdfast-preview: Rocket tracks"), 1u) << resaved;
    EXPECT_NE(resaved.find("//rocket-held 0 SIGNAL Clear Green 0.5\n"), std::string::npos) << resaved;
    EXPECT_NE(resaved.find("SIGNAL Clear Blue 0.2\n"), std::string::npos) << resaved;
    EXPECT_NE(resaved.find("0 SIGNAL Clear Red 1\n"), std::string::npos) << resaved;
    EXPECT_EQ(again.quit(), 0) << again.err();
}

// A save never loses keys: without an editor it is refused, an editor holding nothing leaves the
// script as it was; the saved script keeps its permissions, and a read-only one is not replaced.
TEST(RocketPreview, SavesLoseNoKeysAndKeepTheScriptsPermissions) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    uint16_t port = 0;
    {
        EditorStandIn probe;
        ASSERT_TRUE(probe.ok());
        port = probe.port();
    }
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    const std::string withBlock =
        std::string(kClearScript)
            .insert(std::string(kClearScript).find("0 SIGNAL Clear Green"), "//rocket-held ") +
        "// holdfast-preview: Rocket tracks (the next save from the editor replaces this block)\n"
        "__TIMELINE__\nTIMEOFFSET 0\n0 SIGNAL Clear Green 0.75\n20000 SIGNAL Clear Green 0.75\n"
        "// holdfast-preview: end of the Rocket tracks\n";
    writeFile(script, withBlock);
    Preview preview(demo, "--rocket :" + std::to_string(port) + " --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(preview.said("no editor at")) << preview.err();
    sendKey(preview.window, "s");
    EXPECT_TRUE(preview.said("no editor connected; nothing saved, the script stays as it was"))
        << preview.err();
    // Where the author looks, too.
    EXPECT_NE(
        waitForPanel(preview.window, "nothing saved").find("rocket: no editor connected; nothing saved"),
        std::string::npos);

    EditorStandIn editor(port); // an empty document
    ASSERT_TRUE(editor.ok());
    ASSERT_TRUE(editor.accept(10000)) << preview.err();
    ASSERT_GE(editor.track("Clear:Red"), 0);
    sendKey(preview.window, "s");
    EXPECT_TRUE(preview.said("nothing to write; kept the last save's keys of Clear:Green")) << preview.err();
    EXPECT_EQ(readFile(script), withBlock);

    ASSERT_EQ(chmod(script.c_str(), 0640), 0);
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    ASSERT_EQ(preview.waitRed(255), 255);
    sendKey(preview.window, "s");
    EXPECT_TRUE(preview.said("script reloaded", 10000)) << preview.err();
    EXPECT_NE(waitForPanel(preview.window, "rocket: saved").find("rocket: saved"), std::string::npos);
    const std::string saved = readFile(script);
    EXPECT_NE(saved.find("0 SIGNAL Clear Red 1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("0 SIGNAL Clear Green 0.75\n"), std::string::npos) << saved;
    struct stat st;
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_EQ(chmod(script.c_str(), 0444), 0);
    editor.setKey("Clear:Red", 0, 0.0f, Step);
    ASSERT_EQ(preview.waitRed(0), 0);
    sendKey(preview.window, "s");
    EXPECT_TRUE(preview.said("demo.scr is read-only; nothing saved")) << preview.err();
    EXPECT_EQ(readFile(script), saved);
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Saving renames a new script over the old one: a script that is a symbolic link is not replaced
// by a copy (nor its target written through); the save is refused with the reason.
TEST(RocketPreview, SaveReplacesOnlyARegularScript) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    // The link stays inside the demo folder: one that leads out is refused when read.
    const std::string demo = makeTempDir(), script = demo + "/data/scripts/demo.scr";
    const std::string elsewhere = demo + "/kept.scr";
    writeFile(elsewhere, kClearScript);
    std::filesystem::create_directories(demo + "/data/scripts");
    ASSERT_EQ(symlink(elsewhere.c_str(), script.c_str()), 0);
    Preview preview(demo, "--rocket " + editor.address() + " --row-ms 300 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    editor.save();
    EXPECT_TRUE(preview.said("data/scripts/demo.scr is not a regular file; nothing saved", 10000))
        << preview.err();
    EXPECT_TRUE(std::filesystem::is_symlink(script));
    EXPECT_EQ(readFile(elsewhere), kClearScript);
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Hostile or broken messages close the connection with one message each; the preview goes on
// and connects again.
TEST(RocketPreview, HostileMessagesEndTheConnectionCleanly) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = clearDemo();
    Preview preview(demo, "--rocket " + editor.address() + " --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    uint32_t nanBits;
    memcpy(&nanBits, &nan, sizeof nanBits);
    const std::string key = std::string(1, '\0');
    struct Case {
        std::string bytes, message;
        int closeWithinMs = 5000;
    } cases[] = {
        {std::string(1, '\x09'), "unknown command byte 9"},
        {std::string(1, '\x02') + u32(0x80000000u), "a name of 2147483648 bytes"},
        {key + u32(100000) + u32(0) + u32(0) + std::string(1, '\0'),
         "track 100000, which the demo never asked for"},
        {key + u32(0) + u32(0) + u32(nanBits) + std::string(1, '\x01'), "not a number"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(editor.accept(40000)) << c.message << "\n" << preview.err();
        ASSERT_GE(editor.track("Clear:Red"), 0);
        editor.send(c.bytes);
        EXPECT_TRUE(editor.closedByDemo(c.closeWithinMs)) << c.message;
        EXPECT_TRUE(preview.said(c.message)) << preview.err();
        EXPECT_EQ(occurrences(preview.err(), c.message), 1u) << preview.err();
    }
    // Not an editor at all.
    ASSERT_TRUE(editor.accept(20000, "HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(editor.closedByDemo(5000));
    EXPECT_TRUE(preview.said("does not greet as a Rocket editor")) << preview.err();
    // Still drawing: a good editor's key shows.
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    EXPECT_EQ(preview.waitRed(255), 255) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// An editor that floods, a million keys and one more each on a lower row than the last, is
// disconnected with one message, and the preview goes on with a good editor. Slow (the preview takes
// in 14 MB of keys): only in the full run.
TEST(RocketFlood, AMillionKeysAndOneEndTheConnection) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    EditorStandIn editor;
    ASSERT_TRUE(editor.ok());
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    Preview preview(clearDemo(), "--rocket " + editor.address() + " --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    const std::string key = std::string(1, '\0');
    std::string flood;
    flood.reserve(14 * 1000001);
    for (uint32_t row = 1000001; row > 0; --row)
        flood += key + u32(0) + u32(row) + u32(0) + std::string(1, '\x01');
    const std::string message = "the editor sent more than 1000000 keys";
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    ASSERT_GE(editor.track("Clear:Red"), 0);
    editor.send(flood);
    EXPECT_TRUE(editor.closedByDemo(120000));
    EXPECT_TRUE(preview.said(message)) << preview.err();
    EXPECT_EQ(occurrences(preview.err(), message), 1u) << preview.err();
    ASSERT_TRUE(editor.accept(40000)) << preview.err();
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    EXPECT_EQ(preview.waitRed(255), 255) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

// Without an editor the preview runs on the script and says so once; when one comes it connects,
// and when it goes the last keys stay until a reload.
TEST(RocketPreview, RunsWithoutAnEditorAndKeepsTheLastKeysWhenItGoes) {
    if (!haveDisplay()) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    uint16_t port = 0;
    {
        EditorStandIn probe; // a port nothing listens on once it is closed
        ASSERT_TRUE(probe.ok());
        port = probe.port();
    }
    PrivateDisplay display;
    ASSERT_TRUE(display.ok());
    const std::string demo = clearDemo();
    Preview preview(demo, "--rocket :" + std::to_string(port) + " --at 1000 --paused");
    ASSERT_NE(preview.window, 0u) << preview.err();
    const std::string noEditor = "no editor at 127.0.0.1:" + std::to_string(port);
    std::string title = waitForTitle(preview.window, {noEditor + ", script only"}, 10000);
    EXPECT_NE(title.find(noEditor + ", script only"), std::string::npos) << title;
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // a few more tries
    EXPECT_EQ(occurrences(preview.err(), noEditor), 1u) << preview.err();
    EXPECT_EQ(preview.waitRed(level(0.25)), level(0.25));

    EditorStandIn editor(port);
    ASSERT_TRUE(editor.ok());
    ASSERT_TRUE(editor.accept(10000)) << preview.err();
    editor.setKey("Clear:Red", 0, 1.0f, Step);
    EXPECT_EQ(preview.waitRed(255), 255) << preview.err();
    editor.dropClient();
    title = waitForTitle(preview.window, {"editor gone, last keys kept"}, 10000);
    EXPECT_NE(title.find("editor gone, last keys kept"), std::string::npos) << title;
    sendKey(preview.window, "Right"); // a jump loads the script again: the keys stay
    waitForTitle(preview.window, {"0:02.000"}, 20000);
    EXPECT_EQ(preview.waitRed(255), 255);
    // A reload drops them. The stand-in still listens, so the preview connects again afterwards.
    sendKey(preview.window, "r");
    EXPECT_EQ(preview.waitRed(level(0.25)), level(0.25)) << preview.err();
    ASSERT_TRUE(editor.accept(10000)) << preview.err();
    EXPECT_GE(editor.track("Clear:Red"), 0);
    for (int i = 0; i < 250 && occurrences(preview.err(), "connected to the editor") < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(occurrences(preview.err(), "connected to the editor"), 2u) << preview.err();
    EXPECT_EQ(preview.quit(), 0) << preview.err();
}

TEST(RocketPreview, RejectsBadAddressesAndRowLengths) {
    const std::string demo = clearDemo();
    for (const char* args :
         {"--rocket host:0", "--rocket host:99999", "--rocket :x", "--row-ms 0", "--row-ms -5"}) {
        CommandResult r = runCommand(binPath("holdfast-preview") + " --data " + demo + " " + args);
        EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args << "\n" << r.err;
    }
}
