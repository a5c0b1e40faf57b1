// Key tracks of effect parameters: lookups, the step rule, change flags, addKey and compaction.
#include "demo/Variable.h"
#include "demo/DemoState.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace {

struct TrackEnd {
    explicit TrackEnd(int end) { trackEndTime = end; }
    ~TrackEnd() { trackEndTime = 0; }
};

template <typename T> std::vector<int> times(const std::vector<Key<T>>& keys) {
    std::vector<int> out;
    for (const auto& k : keys)
        out.push_back(k.time);
    return out;
}

TEST(FloatVariable, LookupAtBetweenAndAfterKeysBlendsOverUnsignedTimes) {
    FloatVariable v(0.3f);
    EXPECT_FLOAT_EQ(v.valueAt(500), 0.3f); // no keys: the value
    v.keys = {{0, 0.0f}, {1000, 1.0f}, {60000, 1.0f}};
    EXPECT_FLOAT_EQ(v.valueAt(0), 0.0f);
    EXPECT_FLOAT_EQ(v.valueAt(500), 0.5f);
    EXPECT_FLOAT_EQ(v.valueAt(250), 0.25f);
    EXPECT_FLOAT_EQ(v.valueAt(1000), 1.0f);
    EXPECT_FLOAT_EQ(v.valueAt(60000), 1.0f);
    EXPECT_FLOAT_EQ(v.valueAt(70000), 0.3f); // after the last key: the value
    // Negative times are huge unsigned ones: after the track too.
    EXPECT_FLOAT_EQ(v.valueAt(-1), 0.3f);

    v.keys = {{0, 0.8f}}; // a single key is not a track
    EXPECT_FLOAT_EQ(v.valueAt(0), 0.3f);

    // Blends use unsigned time differences: a key beyond 2^31 ms (negative as int) still lies
    // after the one at 0.
    FloatVariable far(0.0f);
    far.keys = {{0, 0.0f}, {INT_MIN, 1.0f}};
    EXPECT_FLOAT_EQ(far.valueAt(0x40000000), 0.5f);
    EXPECT_FLOAT_EQ(far.valueAt(INT_MIN), 1.0f);
}

TEST(StepVariables, BoolAndIntTakeTheKeyBeforeTheNextOne) {
    BoolVariable b(true);
    b.keys = {{0, false}, {1000, true}, {5000, false}, {60000, false}};
    EXPECT_EQ(b.valueAt(999), 0.0f);
    EXPECT_EQ(b.valueAt(1000), 1.0f);
    EXPECT_EQ(b.valueAt(4999), 1.0f);
    EXPECT_EQ(b.valueAt(5000), 0.0f);
    EXPECT_EQ(b.valueAt(60000), 1.0f); // at the last key: the value, not the key
    EXPECT_EQ(b.valueAt(70000), 1.0f);

    IntVariable i(1);
    i.count = 3;
    i.keys = {{0, 2}, {1000, 7}, {2000, 0}};
    EXPECT_EQ(i.valueAt(500), 2.0f);  // the index itself, not normalised
    EXPECT_EQ(i.valueAt(1500), 7.0f); // keys are not clamped to the count
    EXPECT_EQ(i.valueAt(2000), 1.0f);

    StringVariable s("base");
    s.keys = {{0, "a"}, {1000, "b"}, {2000, "c"}};
    EXPECT_EQ(s.stringAt(999), "a");
    EXPECT_EQ(s.stringAt(1000), "b");
    EXPECT_EQ(s.stringAt(2000), "base");
    Variable& asBase = s;
    EXPECT_EQ(asBase.valueAt(500), 0.0f); // texts have no numeric value
}

TEST(ChangeTracking, FloatReportsEveryNewResultStepKindsOnlyTheFallback) {
    FloatVariable v(0.0f);
    v.keys = {{0, 0.0f}, {1000, 1.0f}, {2000, 1.0f}};
    v.valueAt(500);
    EXPECT_TRUE(v.changed);
    v.changed = false;
    v.valueAt(500);
    EXPECT_FALSE(v.changed);
    v.valueAt(1500);
    EXPECT_TRUE(v.changed);
    EXPECT_FLOAT_EQ(v.lastValue, 1.0f);

    // Step kinds track only the fallback to the value.
    BoolVariable b(false);
    b.keys = {{0, true}, {1000, true}, {2000, false}};
    b.changed = false;
    b.lastValue = false;
    EXPECT_EQ(b.valueAt(500), 1.0f);
    EXPECT_FALSE(b.changed); // a result taken from a key leaves the flag alone
    EXPECT_FALSE(b.lastValue);
    b.value = true;
    b.valueAt(3000);
    EXPECT_TRUE(b.changed);
    EXPECT_TRUE(b.lastValue);

    IntVariable i(0);
    i.count = 4;
    i.changed = false;
    i.set(2.0f, 0); // no key at that time: no change reported
    EXPECT_FALSE(i.changed);
    i.keys = {{0, 0}, {1000, 1}};
    i.set(3.0f, 1000);
    EXPECT_TRUE(i.changed);
    EXPECT_EQ(i.keys[1].value, 3);

    StringVariable s("1000");
    s.changed = false;
    s.lastValue = "1000";
    s.value = "10";
    s.stringAt(0); // the virtual lookup does not track
    EXPECT_FALSE(s.changed);
    EXPECT_EQ(s.trackedStringAt(0), "10");
    EXPECT_TRUE(s.changed);

    FloatVariable f;
    f.changed = false;
    f.addKey(0.5f, 0);
    EXPECT_TRUE(f.changed);
    b.changed = false;
    b.importKeys({{0, 1.0f}});
    EXPECT_TRUE(b.changed);
}

TEST(AddKey, FirstKeySpansTheTrackToTheEndTime) {
    TrackEnd end(60000);
    BoolVariable b;
    b.addKey(1.0f, 1000);
    EXPECT_EQ(times(b.keys), (std::vector<int>{0, 1000, 60000}));
    for (const auto& k : b.keys)
        EXPECT_TRUE(k.value);

    FloatVariable atZero, atEnd;
    atZero.addKey(0.4f, 0);
    atEnd.addKey(0.4f, 60000);
    EXPECT_EQ(times(atZero.keys), (std::vector<int>{0, 60000}));
    EXPECT_EQ(times(atEnd.keys), (std::vector<int>{0, 60000}));

    // Tracks made before the end time is known end at 0.
    trackEndTime = 0;
    BoolVariable active;
    active.addKey(0.0f, 0);
    active.addKey(1.0f, 1000); // dropped: the track ends at 0
    EXPECT_EQ(times(active.keys), (std::vector<int>{0, 0}));
    active.compact();
    EXPECT_TRUE(active.keys.empty());
    EXPECT_FALSE(active.value);
}

TEST(AddKey, LaterKeysReplaceOrInsertButNeverExtendTheTrack) {
    TrackEnd end(60000);
    IntVariable i;
    i.addKey(1.0f, 0);
    i.addKey(2.9f, 5000); // truncated, not clamped or rounded
    i.addKey(-3.7f, 1000);
    i.addKey(4.0f, 5000);  // same time: replaced
    i.addKey(9.0f, 70000); // after the last key: nothing
    EXPECT_EQ(times(i.keys), (std::vector<int>{0, 1000, 5000, 60000}));
    EXPECT_EQ(i.keys[1].value, -3);
    EXPECT_EQ(i.keys[2].value, 4);
    EXPECT_EQ(i.keys[3].value, 1);

    FloatVariable f;
    f.addKey(1e30f, 0); // floats are stored unclamped
    EXPECT_FLOAT_EQ(f.keys[0].value, 1e30f);
    IntVariable huge;
    huge.addKey(1e30f, 0); // saturates instead of overflowing
    EXPECT_EQ(huge.keys[0].value, INT_MAX);
}

TEST(AddKey, FirstKeyAfterTheEndTimeKeepsTheTrackSorted) {
    TrackEnd end(60000);
    FloatVariable f(0.9f);
    f.addKey(0.5f, 70000);
    EXPECT_EQ(times(f.keys), (std::vector<int>{0, 60000, 70000}));
    EXPECT_FLOAT_EQ(f.valueAt(65000), 0.5f);
    EXPECT_FLOAT_EQ(f.valueAt(80000), 0.9f);
    f.addKey(0.1f, 65000);
    EXPECT_EQ(times(f.keys), (std::vector<int>{0, 60000, 65000, 70000}));
}

// Insertion by position search must give exactly what a key-by-key walk gives: the first key at
// or after the time (unsigned) takes the value or gets the new key before it; none: dropped.
TEST(AddKey, AnyOrderGivesTheSameTrackAsAWalkFromTheStart) {
    auto walk = [](std::vector<Key<int>>& keys, int v, int time) {
        for (auto it = keys.begin(); it != keys.end(); ++it) {
            if (it->time == time) {
                it->value = v;
                return;
            }
            if (static_cast<unsigned>(it->time) > static_cast<unsigned>(time)) {
                keys.insert(it, Key<int>{time, v});
                return;
            }
        }
    };
    unsigned seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xffff;
    };
    for (int end : {0, 5000, 100000}) {
        TrackEnd trackEnd(end);
        for (int round = 0; round < 200; ++round) {
            IntVariable variable;
            variable.count = 1 << 30;
            std::vector<Key<int>> expected;
            bool first = true;
            int time = static_cast<int>(next() % 3000);
            for (int i = 0; i < 60; ++i) {
                // Mostly ascending, with repeats, steps back, negative (huge unsigned) times and
                // times past the end.
                switch (next() % 6) {
                case 0:
                    time -= static_cast<int>(next() % 500);
                    break;
                case 1:
                    break;
                case 2:
                    time = -static_cast<int>(next() % 100) - 1;
                    break;
                case 3:
                    time = end + static_cast<int>(next() % 2000);
                    break;
                default:
                    time += static_cast<int>(next() % 400);
                    break;
                }
                const int value = static_cast<int>(next() % 1000);
                variable.addKey(static_cast<float>(value), time);
                if (first) {
                    expected = variable.keys; // the first key builds the track the same way
                    first = false;
                } else {
                    walk(expected, value, time);
                }
                ASSERT_EQ(variable.keys.size(), expected.size()) << round << " " << i;
                for (size_t k = 0; k < expected.size(); ++k) {
                    ASSERT_EQ(variable.keys[k].time, expected[k].time) << round << " " << i << " " << k;
                    ASSERT_EQ(variable.keys[k].value, expected[k].value) << round << " " << i << " " << k;
                }
            }
        }
    }
}

TEST(Compact, OnlyTwoEqualKeysBecomeAConstant) {
    TrackEnd end(60000);
    BoolVariable same;
    same.addKey(1.0f, 0);
    same.compact();
    EXPECT_TRUE(same.keys.empty());
    EXPECT_TRUE(same.value);

    IntVariable different(5);
    different.count = 10;
    different.keys = {{0, 1}, {60000, 2}};
    different.compact();
    ASSERT_EQ(different.keys.size(), 2u);
    EXPECT_EQ(different.valueAt(59999), 1.0f);
    EXPECT_EQ(different.valueAt(60000), 5.0f);

    FloatVariable blend(0.7f);
    blend.keys = {{0, 0.0f}, {60000, 1.0f}};
    blend.compact();
    EXPECT_FLOAT_EQ(blend.valueAt(30000), 0.5f);
    EXPECT_FLOAT_EQ(blend.valueAt(60000), 1.0f);
    EXPECT_FLOAT_EQ(blend.valueAt(60001), 0.7f);

    StringVariable three("x");
    three.keys = {{0, "a"}, {100, "a"}, {60000, "a"}};
    three.compact();
    EXPECT_EQ(three.keys.size(), 3u);
}

TEST(SetAndGet, ClampPerKindAndUpdateAKeyAtThatTime) {
    FloatVariable f;
    f.keys = {{0, 0.0f}, {1000, 0.0f}};
    f.set(1.5f, 1000);
    EXPECT_FLOAT_EQ(f.value, 1.0f);
    EXPECT_FLOAT_EQ(f.keys[1].value, 1.0f);
    f.set(-2.0f, 5);
    EXPECT_FLOAT_EQ(f.get(), 0.0f);

    IntVariable i;
    i.count = 3;
    i.set(7.9f, 0);
    EXPECT_EQ(i.value, 2);
    EXPECT_FLOAT_EQ(i.get(), 1.0f);
    i.set(1.9f, 0);
    EXPECT_EQ(i.value, 1);
    EXPECT_FLOAT_EQ(i.get(), 0.5f);
    i.count = 0; // no valid index: stays at 0, never divides by zero
    i.set(5.0f, 0);
    EXPECT_EQ(i.value, 0);
    EXPECT_FLOAT_EQ(i.get(), 0.0f);

    BoolVariable b;
    b.set(0.01f, 0);
    EXPECT_FLOAT_EQ(b.get(), 1.0f);

    StringVariable s("keep");
    s.set(1.0f, 0); // numbers are ignored by texts
    EXPECT_EQ(s.value, "keep");
    EXPECT_FLOAT_EQ(s.get(), 0.0f);
    f.set(std::string("text"), 0); // and texts by numbers
    EXPECT_FLOAT_EQ(f.value, 0.0f);
}

TEST(ExportImport, ValuesAreNormalisedByKind) {
    IntVariable i;
    i.count = 5;
    i.keys = {{0, 2}, {100, 4}};
    std::vector<FloatKey> out;
    i.exportKeys(out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FLOAT_EQ(out[0].value, 0.5f);
    EXPECT_FLOAT_EQ(out[1].value, 1.0f);
    i.importKeys({{0, 0.5f}, {10, 0.99f}});
    EXPECT_EQ(i.keys[0].value, 2);
    EXPECT_EQ(i.keys[1].value, 3); // truncated
    i.count = 1;
    i.importKeys({{0, 6.7f}});
    EXPECT_EQ(i.keys[0].value, 6);

    BoolVariable b;
    b.importKeys({{0, 0.0f}, {5, 0.2f}});
    EXPECT_FALSE(b.keys[0].value);
    EXPECT_TRUE(b.keys[1].value);

    StringVariable s("only");
    std::vector<TextKey> texts;
    s.exportTextKeys(texts);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].time, 0);
    EXPECT_EQ(texts[0].value, "only");
    std::vector<FloatKey> none;
    s.exportKeys(none);
    EXPECT_TRUE(none.empty());
}

} // namespace
