// "Did you mean ...?": which known words are offered for a word that is not known.
#include "base/Suggest.h"

#include <gtest/gtest.h>

using Words = std::vector<std::string>;

TEST(Suggest, OffersTheClosestKnownWordsIgnoringCase) {
    EXPECT_EQ(suggest::distance("SINGAL", "SIGNAL"), 1); // two neighbours swapped
    EXPECT_EQ(suggest::distance("kitten", "SITTING"), 3);

    const Words commands = {"BEGIN", "END", "INIT", "SIGNAL", "TRIGGER", "SET_LAYER"};
    EXPECT_EQ(suggest::closest("SINGAL", commands), Words{"SIGNAL"});
    EXPECT_EQ(suggest::closest("SETLAYER", commands), Words{"SET_LAYER"});
    EXPECT_TRUE(suggest::closest("SIGNAL", commands).empty()); // known as it stands
    EXPECT_TRUE(suggest::closest("FOO", commands).empty());
    // A one-letter word is never wholly replaced; longer words may differ in a third of them.
    EXPECT_TRUE(suggest::closest("/", {"b", "e"}).empty());
    // Only the best, in the order known, at most `most`.
    const Words scenes = {"Scene0", "Scene1", "Scene2", "Scene10", "Spectrum"};
    EXPECT_EQ(suggest::closest("Scene12", scenes), (Words{"Scene1", "Scene2", "Scene10"}));
    EXPECT_EQ(suggest::closest("Scene12", scenes, 1), Words{"Scene1"});

    EXPECT_EQ(suggest::didYouMean({}), "");
    EXPECT_EQ(suggest::didYouMean({"Blur"}), "did you mean 'Blur'?");
    EXPECT_EQ(suggest::didYouMean({"A", "B", "C"}, "`"), "did you mean `A`, `B` or `C`?");
}
