// The Rocket client's pieces on their own: the protocol decoder against broken and hostile input,
// track evaluation between rows, the variables' override hook, and saving tracks into a script.
#include "GLTest.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "rocket/RocketCurve.h"
#include "rocket/RocketProtocol.h"
#include "rocket/RocketSave.h"
#include "rocket/RocketTrack.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>

using namespace rocket;

namespace {

std::string u32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string setKey(uint32_t track, uint32_t row, float value, uint8_t interpolation) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return std::string(1, '\0') + u32(track) + u32(row) + u32(bits) +
           std::string(1, static_cast<char>(interpolation));
}

// Feeds the bytes one at a time (the worst chunking) and collects the messages up to an error.
std::vector<Message> decodeByteByByte(Decoder& d, const std::string& bytes, Decoder::Result& last) {
    std::vector<Message> out;
    last = Decoder::Result::NeedMore;
    for (char c : bytes) {
        d.feed(&c, 1);
        Message m;
        while ((last = d.next(m)) == Decoder::Result::Message)
            out.push_back(m);
        if (last == Decoder::Result::Error) break;
    }
    return out;
}

} // namespace

TEST(RocketProtocol, DecodesEveryEditorCommandInAnyChunking) {
    const std::string stream = std::string(kServerGreeting) + setKey(3, 70000, -2.5f, 3) +
                               std::string(1, '\x01') + u32(3) + u32(70000) + std::string(1, '\x03') +
                               u32(0xfffffffe) + std::string("\x04\x01", 2) + std::string("\x04\x00", 2) +
                               std::string(1, '\x05');
    Decoder d;
    Decoder::Result last;
    const std::vector<Message> m = decodeByteByByte(d, stream, last);
    ASSERT_EQ(last, Decoder::Result::NeedMore) << d.error();
    EXPECT_TRUE(d.greeted());
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].command, SetKey);
    EXPECT_EQ(m[0].track, 3u);
    EXPECT_EQ(m[0].row, 70000u);
    EXPECT_EQ(m[0].value, -2.5f);
    EXPECT_EQ(m[0].interpolation, Interpolation::Ramp);
    EXPECT_EQ(m[1].command, DeleteKey);
    EXPECT_EQ(m[1].row, 70000u);
    EXPECT_EQ(m[2].command, SetRow);
    EXPECT_EQ(m[2].row, 0xfffffffeu);
    EXPECT_TRUE(m[3].paused);
    EXPECT_FALSE(m[4].paused);
    EXPECT_EQ(m[5].command, SaveTracks);
    // What the demo sends: big-endian lengths and rows.
    EXPECT_EQ(encodeGetTrack("Clear:Red"), std::string("\x02\0\0\0\x09", 5) + "Clear:Red");
    EXPECT_EQ(encodeSetRow(0x01020304), std::string("\x03\x01\x02\x03\x04", 5));
}

TEST(RocketProtocol, HostileOrBrokenInputIsAnErrorThatStays) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::string bytes, error;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n", "does not greet as a Rocket editor"},
        {std::string(kServerGreeting) + "\x09", "unknown command byte 9"},
        {std::string(kServerGreeting) + "\xff", "unknown command byte 255"},
        {std::string(kServerGreeting) + "\x02" + u32(0x80000000u) + "x", "name of 2147483648 bytes"},
        {std::string(kServerGreeting) + "\x02" + u32(5) + "Clear", "only a demo sends"},
        {std::string(kServerGreeting) + setKey(0, 1, nan, 1), "not a number"},
        {std::string(kServerGreeting) + setKey(0, 1, -inf, 0), "not a number"},
        {std::string(kServerGreeting) + setKey(0, 1, 1.0f, 4), "unknown interpolation 4"},
    };
    for (const Case& c : cases) {
        Decoder d;
        Decoder::Result last;
        decodeByteByByte(d, c.bytes, last);
        ASSERT_EQ(last, Decoder::Result::Error) << c.error;
        EXPECT_NE(d.error().find(c.error), std::string::npos) << d.error();
        // Nothing after an error is read: the connection is to be closed.
        d.feed(kServerGreeting, strlen(kServerGreeting));
        Message m;
        EXPECT_EQ(d.next(m), Decoder::Result::Error);
        d.reset();
        EXPECT_TRUE(d.error().empty());
    }
}

TEST(RocketTrack, InterpolatesBetweenRowsAsTheEditorDoes) {
    Track t;
    EXPECT_EQ(t.valueAtRow(5), 0.0); // no keys
    t.setKey({10, 2.0f, Interpolation::Step});
    t.setKey({20, 4.0f, Interpolation::Linear});
    t.setKey({30, 0.0f, Interpolation::Smooth});
    t.setKey({40, 1.0f, Interpolation::Ramp});
    t.setKey({50, 3.0f, Interpolation::Step});
    EXPECT_EQ(t.valueAtRow(-3), 2.0);   // before the first key: its value
    EXPECT_EQ(t.valueAtRow(19.9), 2.0); // step holds to the next key
    EXPECT_EQ(t.valueAtRow(20), 4.0);
    EXPECT_DOUBLE_EQ(t.valueAtRow(22.5), 3.0);                     // linear: 4 -> 0 a quarter on
    EXPECT_DOUBLE_EQ(t.valueAtRow(32.5), 0.25 * 0.25 * (3 - 0.5)); // smooth
    EXPECT_DOUBLE_EQ(t.valueAtRow(37.5), 0.75 * 0.75 * (3 - 1.5));
    EXPECT_DOUBLE_EQ(t.valueAtRow(42.5), 1.0 + 2.0 * 0.0625); // ramp: t squared
    EXPECT_EQ(t.valueAtRow(1e12), 3.0);                       // after the last key: its value
    EXPECT_EQ(t.valueAtRow(std::nan("")), 2.0);
    // A key on a taken row replaces it; deleting a row without a key does nothing.
    t.setKey({20, 8.0f, Interpolation::Step});
    t.deleteKey(21);
    EXPECT_EQ(t.keys().size(), 5u);
    EXPECT_EQ(t.valueAtRow(25), 8.0);
    for (uint32_t row : {10u, 20u, 30u, 40u, 50u})
        t.deleteKey(row);
    EXPECT_TRUE(t.empty());
}

// Keys set and deleted in any order (an editor sends a pasted block bottom up) end as the
// editor's own: the last edit of a row counts, whether it waited for a merge or not.
TEST(RocketTrack, EditsInAnyOrderLeaveTheEditorsKeys) {
    Track t;
    std::map<uint32_t, float> editor;
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 300; ++i) {
            const uint32_t row = next() % 2000;
            if (next() % 4 == 0) {
                t.deleteKey(row);
                editor.erase(row);
            } else {
                const float value = static_cast<float>(next() % 1000);
                t.setKey({row, value, Interpolation::Linear});
                editor[row] = value;
            }
        }
        ASSERT_EQ(t.size(), editor.size());
        auto it = editor.begin();
        for (const TrackKey& k : t.keys()) {
            ASSERT_EQ(k.row, it->first);
            ASSERT_EQ(k.value, (it++)->second);
        }
    }
    // Keys that grow the track at both ends and deletes at its ends, each read at once (so none
    // waits for a merge), with a replaced key and a merge now and then.
    t.clear();
    editor.clear();
    for (int i = 1; i <= 20000; ++i) {
        const uint32_t r = next() % 8;
        const uint32_t step = static_cast<uint32_t>(i);
        const uint32_t row = r < 3 ? 100000 + step : r < 6 ? 100000 - step : 100000;
        if (r == 6 && !editor.empty()) {
            const uint32_t end = (next() % 2) ? editor.begin()->first : editor.rbegin()->first;
            t.deleteKey(end);
            editor.erase(end);
        } else {
            t.setKey({row, static_cast<float>(i), Interpolation::Step});
            editor[row] = static_cast<float>(i);
        }
        if (r == 7) {
            const uint32_t inside = 100000 + static_cast<uint32_t>(i) / 2;
            t.setKey({inside, 0.5f, Interpolation::Step});
            editor[inside] = 0.5f;
        }
        ASSERT_EQ(t.size(), editor.size());
        ASSERT_EQ(t.keys().front().row, editor.begin()->first);
        ASSERT_EQ(t.keys().back().value, editor.rbegin()->second);
    }
    auto it = editor.begin();
    for (const TrackKey& k : t.keys()) {
        ASSERT_EQ(k.row, it->first);
        ASSERT_EQ(k.value, (it++)->second);
    }
    // A flood bottom up: every key goes in at the front.
    t.clear();
    for (uint32_t row = 1000000; row > 0; --row)
        t.setKey({row, 1.0f, Interpolation::Step});
    EXPECT_EQ(t.size(), 1000000u);
    EXPECT_EQ(t.keys().front().row, 1u);
}

TEST(RocketTrack, StandsInForAVariableOnlyWhileItHoldsKeys) {
    LiveTrack live;
    live.rowMs = 100;
    FloatVariable f(0.25f); // the script's value
    f.override = &live;
    EXPECT_FLOAT_EQ(f.valueAt(500), 0.25f); // no editor keys: the script's
    live.track.setKey({0, 0.0f, Interpolation::Linear});
    live.track.setKey({10, 1.0f, Interpolation::Linear});
    f.changed = false;
    EXPECT_FLOAT_EQ(f.valueAt(250), 0.25f); // at the frame's time, not its row: 2.5 rows
    EXPECT_FLOAT_EQ(f.valueAt(500), 0.5f);
    EXPECT_TRUE(f.changed);

    BoolVariable b(false);
    b.override = &live;
    EXPECT_EQ(b.valueAt(500), 0.0f); // exactly 0.5 is off
    EXPECT_EQ(b.valueAt(510), 1.0f);

    IntVariable plain(0), listed(0);
    plain.override = listed.override = &live;
    listed.listId = 0;
    listed.count = 3;
    live.track.setKey({10, 7.6f, Interpolation::Linear});
    EXPECT_EQ(plain.valueAt(1000), 8.0f); // rounded
    EXPECT_EQ(plain.valueAt(0), 0.0f);
    EXPECT_EQ(listed.valueAt(1000), 2.0f); // a list index stays inside its list
    live.track.setKey({10, -1e30f, Interpolation::Step});
    EXPECT_EQ(listed.valueAt(1000), 0.0f);
    EXPECT_EQ(plain.valueAt(1000), static_cast<float>(INT_MIN));

    live.track.clear(); // the last key removed: back to the script's keys
    EXPECT_FLOAT_EQ(f.valueAt(500), 0.25f);
}

namespace {

// Reads a variable of an effect of the script loaded in this process at a time.
float scriptValue(const std::string& effect, const std::string& variable, int time) {
    Effect* e = effectList->findEffect(effect);
    if (!e) return NAN;
    Variable* v = e->findVariable(variable);
    return v ? v->valueAt(time) : NAN;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        out.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

const char* kSaveScript = R"(__HEADER__
DEMO_START 0
DEMO_END 10000
DEMO_BEAT 100
__DEFS__
INSERT_EFFECT Clear
INSERT_EFFECT Blur
__TIMELINE__
TIMEOFFSET 500
0 BEGIN Clear
0 SIGNAL Clear Red 0.25
1000 SIGNAL Clear Red 0.75   // the author's own ramp
0 SIGNAL Clear Alpha 0.5
)";

} // namespace

class RocketSave : public GLTest {}; // Blur needs GL to be made

// A saved script gives each variable, at every millisecond, exactly what the preview showed with
// the editor's track (which lies within the curve tolerance of the editor's own curve), on rows
// that do not fall on whole milliseconds too. A second save that no longer holds some tracks keeps
// their lines; an editor holding nothing leaves the block as it was.
TEST_F(RocketSave, TheSavedScriptPlaysExactlyWhatThePreviewShowed) {
    const double rowMs = 31.25; // DEMO_BEAT 125
    const int end = 10000;
    Track red, green, blue, clearColor, amount, empty;
    red.setKey({8, 0.2f, Interpolation::Smooth});
    red.setKey({40, 0.9f, Interpolation::Ramp});
    red.setKey({72, 0.1f, Interpolation::Step});
    red.setKey({100, 0.6f, Interpolation::Linear});
    red.setKey({103, 0.3f, Interpolation::Linear}); // rows 103 and 107 start at 3218.75 and 3343.75 ms
    red.setKey({107, 0.7f, Interpolation::Smooth});
    red.setKey({500, 0.0f, Interpolation::Step}); // past DEMO_END: the curve is cut there
    green.setKey({0, 1.0f, Interpolation::Linear});
    blue.setKey({20, 0.0f, Interpolation::Smooth}); // a short curve: 4 rows
    blue.setKey({24, 1.0f, Interpolation::Ramp});
    blue.setKey({27, 0.0f, Interpolation::Step});
    clearColor.setKey({3, 0.0f, Interpolation::Linear});
    clearColor.setKey({13, 1.0f, Interpolation::Step});
    amount.setKey({1, 0.0f, Interpolation::Linear});
    amount.setKey({33, 3.0f, Interpolation::Smooth});
    amount.setKey({41, 0.0f, Interpolation::Step});
    const std::vector<SavedTrack> tracks = {{"Clear", "Red", KindFloat, 1, &red},
                                            {"Clear", "Green", KindFloat, 1, &green},
                                            {"Clear", "ClearColor", KindBool, 1, &clearColor},
                                            {"Blur", "BlurAmount", KindInt, 4, &amount},
                                            {"Clear", "Blue", KindFloat, 1, &blue},
                                            {"Clear", "Alpha", KindFloat, 1, &empty}};
    const SaveResult first = writeTracks(kSaveScript, tracks, rowMs, end);
    const std::string& saved = first.text;
    ASSERT_NE(saved.find(kBlockBegin), std::string::npos) << saved;
    EXPECT_TRUE(first.kept.empty() && first.refused.empty());
    EXPECT_NE(saved.find(std::string(kSetAside) + "0 SIGNAL Clear Red 0.25"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\n0 SIGNAL Clear Alpha 0.5"), std::string::npos)
        << "a track without keys is the script's";
    EXPECT_NE(saved.find("SIGNAL Clear Green 1\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("00000"), std::string::npos) << "no float noise:\n" << saved;
    ASSERT_TRUE(ensureGLContext());
    trackEndTime = end;
    scriptLoader.loadText(saved);
    struct Check {
        const char* variable;
        const Track* track;
        int kind;
    } checks[] = {{"Red", &red, KindFloat},
                  {"Green", &green, KindFloat},
                  {"Blue", &blue, KindFloat},
                  {"ClearColor", &clearColor, KindBool},
                  {"BlurAmount", &amount, KindInt}};
    for (const Check& c : checks) {
        LiveTrack live;
        live.rowMs = rowMs;
        live.trackEnd = end;
        live.kind = c.kind;
        live.track = *c.track;
        const Curve editor(*c.track, rowMs, end);
        for (int t = 0; t <= end; ++t) {
            double shown = 0, curve = 0;
            // At the track's end the script's switches give way to the variable's own value.
            ASSERT_EQ(live.valueAt(t, shown), c.kind == KindFloat || t < end) << c.variable << " at " << t;
            if (t == end && c.kind != KindFloat) continue;
            ASSERT_TRUE(editor.editorValueAt(t, curve));
            const std::string effect = c.track == &amount ? "Blur" : "Clear";
            const float played = scriptValue(effect, c.variable, t);
            if (c.kind == KindFloat) {
                ASSERT_EQ(played, static_cast<float>(shown)) << c.variable << " at " << t;
                ASSERT_NEAR(shown, curve, kCurveTolerance + 1e-6) << c.variable << " at " << t;
            } else {
                ASSERT_EQ(played, c.kind == KindBool ? (curve > 0.5 ? 1.0f : 0.0f) : std::round(curve))
                    << c.variable << " at " << t;
            }
        }
    }
    EXPECT_FLOAT_EQ(scriptValue("Clear", "Alpha", 3000), 0.5f);

    // Saved again holding Green alone (another document, an editor started without its file):
    // one block, Green written anew, every other track's lines kept, Red's own keys still aside.
    Track green2;
    green2.setKey({0, 0.5f, Interpolation::Step});
    const SaveResult again = writeTracks(
        saved, {{"Clear", "Red", KindFloat, 1, &empty}, {"Clear", "Green", KindFloat, 1, &green2}}, rowMs,
        end);
    EXPECT_EQ(again.kept,
              (std::vector<std::string>{"Clear:Red", "Clear:ClearColor", "Blur:BlurAmount", "Clear:Blue"}));
    EXPECT_EQ(again.text.find(kBlockBegin), again.text.rfind(kBlockBegin));
    EXPECT_NE(again.text.find(std::string(kSetAside) + "0 SIGNAL Clear Red 0.25"), std::string::npos);
    EXPECT_NE(again.text.find("0 SIGNAL Clear Green 0.5\n"), std::string::npos) << again.text;
    std::vector<float> before;
    for (int t : {0, 1234, 2900, 7000})
        before.push_back(scriptValue("Clear", "Red", t)); // `saved` is still loaded
    scriptLoader.loadText(again.text);
    EXPECT_EQ(before,
              (std::vector<float>{scriptValue("Clear", "Red", 0), scriptValue("Clear", "Red", 1234),
                                  scriptValue("Clear", "Red", 2900), scriptValue("Clear", "Red", 7000)}));
    EXPECT_FLOAT_EQ(scriptValue("Clear", "Green", 5000), 0.5f);
    // An editor holding nothing: the block as it was, to the byte.
    const SaveResult none = writeTracks(again.text, {{"Clear", "Red", KindFloat, 1, &empty}}, rowMs, end);
    EXPECT_EQ(none.text, again.text);
    // The block's lines of a track deleted by hand: the script's own keys come back.
    std::string byHand;
    for (const std::string& line : lines(again.text))
        if (line.find("SIGNAL Clear Red") == std::string::npos || line.find(kSetAside) == 0)
            byHand += line + "\n";
    const std::string back = writeTracks(byHand, {}, rowMs, end).text;
    EXPECT_NE(back.find("\n0 SIGNAL Clear Red 0.25\n"), std::string::npos) << back;
    EXPECT_EQ(back.find(kSetAside), std::string::npos) << back;
}

TEST(RocketSaveText, KeysGoBeforeTheScriptsEndMarkShortestAndBounded) {
    Track t;
    t.setKey({4, 1.0f, Interpolation::Step});
    const std::string script = "__SETUP__\n0 SIGNAL Image1 Datafile \"a.png\"\n__TIMELINE__\n"
                               "0 SIGNAL Image1 Datafile \"a.png\"\n__LINETIME__\nnot read\n";
    const std::string out = writeTracks(script, {{"Image1", "Datafile", KindInt, 1, &t}}, 25, 5000).text;
    // The setup line loads the picture: never set aside; the timeline's key is.
    EXPECT_EQ(out.find("__SETUP__\n0 SIGNAL Image1 Datafile"), 0u) << out;
    EXPECT_NE(out.find(std::string(kSetAside) + "0 SIGNAL Image1 Datafile"), std::string::npos) << out;
    const size_t block = out.find(kBlockBegin), end = out.find("__LINETIME__");
    ASSERT_NE(block, std::string::npos);
    EXPECT_LT(block, end);
    EXPECT_NE(out.find("100 SIGNAL Image1 Datafile 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("5000 SIGNAL Image1 Datafile 1\n"), std::string::npos) << out;
    EXPECT_EQ(rowTime(3, 31.25), 94); // the first whole ms a frame sees row 3
    EXPECT_EQ(rowTime(4, 31.25), 125);

    // Numbers: the fewest digits the loader reads back as the same float, never an exponent.
    EXPECT_EQ(scriptNumber(0.2f), "0.2");
    EXPECT_EQ(scriptNumber(-0.0f), "0");
    EXPECT_EQ(scriptNumber(16777216.0f), "16777216");
    EXPECT_EQ(scriptNumber(1e-7f).find('e'), std::string::npos);
    uint32_t bits = 12345;
    for (int i = 0; i < 20000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float f;
        memcpy(&f, &bits, sizeof f);
        if (!std::isfinite(f)) continue;
        ASSERT_EQ(std::strtof(scriptNumber(f).c_str(), nullptr), f) << scriptNumber(f);
    }

    // A hostile track, a smooth curve between values 1e30 apart over 2^31 ms: refused at the
    // line limit, quickly, with nothing half written.
    Track wild;
    wild.setKey({0, -1e30f, Interpolation::Smooth});
    wild.setKey({4000000, 1e30f, Interpolation::Step});
    const SaveResult refused = writeTracks(script, {{"Clear", "Red", KindFloat, 1, &wild}}, 1000, INT_MAX);
    EXPECT_NE(refused.refused.find("more than 1000000 script lines"), std::string::npos) << refused.refused;
}
