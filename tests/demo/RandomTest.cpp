#include "demo/Random.h"

#include <gtest/gtest.h>

// Whatever RAND_MAX is, the effects' unit values stay in 0..1 and reach both halves.
TEST(Random, UnitStaysInRangeAndSpreads) {
    std::srand(12345);
    bool low = false, high = false;
    for (int i = 0; i < 100000; ++i) {
        const float v = Random::unit();
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f);
        low = low || v < 0.25f;
        high = high || v > 0.75f;
    }
    EXPECT_TRUE(low);
    EXPECT_TRUE(high);
}
