#include "demo/Random.h"

#include <gtest/gtest.h>

#include <set>

// The effects' unit values stay in 0..1 and reach both ends of it.
TEST(Random, UnitStaysInRangeAndSpreads) {
    Random::seed(12345);
    bool low = false, high = false;
    for (int i = 0; i < 100000; ++i) {
        const float v = Random::unit();
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f);
        low = low || v < 0.01f;
        high = high || v > 0.99f;
    }
    EXPECT_TRUE(low);
    EXPECT_TRUE(high);
}

// The classic generator's first numbers from seed 1, which effects' looks were tuned against.
TEST(Random, FifteenBitGeneratorFromSeedOne) {
    Random::startLoad();
    EXPECT_EQ(Random::next15(), 41);
    EXPECT_EQ(Random::next15(), 18467);
    EXPECT_EQ(Random::next15(), 6334);
}

// A frame's numbers follow from its time alone, whatever was drawn before; neighbouring frames
// get different numbers.
TEST(Random, FrameNumbersDependOnTheTimeOnly) {
    Random::startFrame(70000);
    const int first = Random::next15(), second = Random::next15();
    Random::seed(999);
    for (int i = 0; i < 37; ++i)
        Random::next15();
    Random::startFrame(70000);
    EXPECT_EQ(Random::next15(), first);
    EXPECT_EQ(Random::next15(), second);

    std::set<int> firsts;
    for (int t = 0; t < 1000; t += 16) {
        Random::startFrame(t);
        firsts.insert(Random::next15());
    }
    EXPECT_GT(firsts.size(), 55u) << "frames 16 ms apart should rarely share their first number";
}
