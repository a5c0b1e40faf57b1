// The effect base: its clock, the shared beat pattern, base signals and the two text lists.
#include "ProbeEffect.h"

#include "base/Report.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

std::vector<report::Record> boxes;
void collect(const report::Record& r) {
    boxes.push_back(r);
}

class EffectBase : public ::testing::Test {
  protected:
    void SetUp() override {
        boxes.clear();
        report::setSink(collect);
    }
    void TearDown() override { report::setSink(nullptr); }
    DemoFixtureState state;
};

TEST_F(EffectBase, ConstructionRegistersTheBaseVariablesFirst) {
    ProbeEffect e("Probe");
    ASSERT_GE(e.variables.size(), 3u);
    EXPECT_EQ(e.variables[0]->name, "Speed");
    EXPECT_EQ(e.variables[1]->name, "SpectrumStr");
    EXPECT_EQ(e.variables[2]->name, "Pattern");
    EXPECT_EQ(e.variables[2]->kind, KindString);
    EXPECT_TRUE(e.variables[2]->stringValued);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(e.variables[i]->listId, NoList);
    EXPECT_EQ(e.variables[6]->name, "File");
    EXPECT_EQ(e.variables[6]->listId, 0);
    EXPECT_FLOAT_EQ(e.speed.value, 0.5f);
    EXPECT_EQ(e.pattern.value, "1000");
    EXPECT_EQ(e.activeTrack.name, "Probe");
    EXPECT_EQ(e.findVariable("Amount"), &e.amount);
    EXPECT_EQ(e.findVariable("amount"), nullptr); // names are exact
}

TEST_F(EffectBase, UpdateDerivesElapsedTimeAndPhaseAcrossTheWrap) {
    ProbeEffect e("Probe");
    e.start(1000);
    e.update(3000);
    EXPECT_EQ(e.elapsed, 2000);
    EXPECT_EQ(e.currentTime, 3000);
    EXPECT_FLOAT_EQ(e.speedFactor, 0.1f);
    EXPECT_FLOAT_EQ(e.phase, 200.0f);

    Signal offset;
    offset.type = 19;
    offset.value = 250.9f; // truncated toward zero
    e.signal(offset);
    e.update(3000);
    EXPECT_EQ(e.elapsed, 1750);

    // Speed is a track like any other parameter.
    e.speed.keys = {{0, 0.0f}, {10000, 1.0f}};
    e.update(5000);
    EXPECT_FLOAT_EQ(e.speedFactor, 0.1f);
    EXPECT_FLOAT_EQ(e.phase, 0.1f * 3750.0f);

    // Elapsed time wraps and the phase takes it unsigned.
    ProbeEffect w("Probe");
    w.start(1000);
    w.update(500); // before the start
    EXPECT_EQ(w.elapsed, -500);
    EXPECT_FLOAT_EQ(w.phase, static_cast<float>(0.5f * 0.2 * 4294966796.0));

    w.start(INT_MAX);
    w.update(INT_MIN); // one millisecond later, across the 32-bit wrap
    EXPECT_EQ(w.elapsed, 1);
}

TEST_F(EffectBase, PatternFollowsTheBeatAndEmptyPatternOrZeroBeatStayOnTheFirstStep) {
    ProbeEffect e("Probe");
    e.setPatternEnabled(true);
    std::string seen;
    for (int t = 0; t < 800; t += 50) {
        e.update(t);
        seen += e.patternValue();
    }
    EXPECT_EQ(seen, "1100000011000000");
    EXPECT_EQ(e.patternSteps.size(), 8u); // one per step change
    EXPECT_TRUE(boxes.empty());

    beatLength = 200;
    e.pattern.addKey(std::string("01"), 0); // track end 0: a constant "01" after compaction
    e.pattern.compact();
    e.update(0);
    EXPECT_EQ(e.patternChar, '0');
    e.update(200);
    EXPECT_EQ(e.patternChar, '1');
    EXPECT_EQ(e.patternIndex, 1);

    // An empty pattern and a zero beat stay on the first step.
    ProbeEffect z("Probe");
    z.setPatternEnabled(true);
    z.pattern.value = "";
    lastPatternIndex = 3;
    z.update(0);
    z.update(250);
    EXPECT_EQ(z.patternIndex, 0);
    EXPECT_EQ(z.patternChar, '\0');
    EXPECT_EQ(z.patternSteps.size(), 1u); // fires once, when the shared index changed

    z.pattern.value = "1000";
    beatLength = 0; // DEMO_BEAT 0 must not divide by zero
    z.update(12345);
    EXPECT_EQ(z.patternIndex, 0);
    EXPECT_EQ(z.patternChar, '1');
}

TEST_F(EffectBase, PatternStepIsSharedByAllEffects) {
    ProbeEffect a("ProbeA"), b("ProbeB");
    a.setPatternEnabled(true);
    b.setPatternEnabled(true);
    a.update(0);
    b.update(0); // same step index: already seen through a
    EXPECT_EQ(a.patternSteps.size(), 1u);
    EXPECT_EQ(b.patternSteps.size(), 0u);
    EXPECT_EQ(lastPatternIndex, 0);

    b.update(100);
    a.update(100);
    EXPECT_EQ(a.patternSteps.size(), 1u);
    EXPECT_EQ(b.patternSteps.size(), 1u);
}

TEST_F(EffectBase, PatternValueWithoutPatternIsReportedButReturned) {
    ProbeEffect e("Probe");
    e.patternChar = '7';
    EXPECT_EQ(e.patternValue(), '7');
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(boxes[0].fatal);
    EXPECT_NE(boxes[0].text.find("pattern value retrieved when _patternEnabled is false"), std::string::npos);
}

TEST_F(EffectBase, BaseSignals) {
    effectList->createEffect("ProbeA");
    effectList->createEffect("ProbeB");
    auto* a = static_cast<ProbeEffect*>(effectList->findEffect("ProbeA"));
    auto* b = static_cast<ProbeEffect*>(effectList->findEffect("ProbeB"));

    Signal s;
    s.time = 4000;
    s.type = 0;
    a->update(5000);
    a->signal(s);
    EXPECT_EQ(a->startTime, 4000);
    EXPECT_EQ(a->elapsed, 0);
    EXPECT_EQ(a->phase, 0.0f);

    s.type = 2;
    s.text = "ProbeB";
    a->signal(s);
    EXPECT_EQ(a->linked, b);
    s.text = "Nobody";
    a->signal(s);
    EXPECT_EQ(a->linked, nullptr);

    s.type = 5;
    s.value = 3.0f;
    a->spectrumStr.value = 0.5f;
    a->signal(s);
    EXPECT_FLOAT_EQ(a->signalLevel, 1.5f);

    s.type = 19;
    s.value = -120.7f;
    a->signal(s);
    EXPECT_EQ(a->timeOffset, -120);

    s.type = 42; // not a base type: nothing changes
    s.value = 99.0f;
    a->signal(s);
    EXPECT_EQ(a->timeOffset, -120);
    EXPECT_FLOAT_EQ(a->signalLevel, 1.5f);
}

TEST_F(EffectBase, TextLists) {
    ProbeEffect e("Probe");
    EXPECT_EQ(e.addListItem(0, "a.qzg"), 0);
    EXPECT_EQ(e.addListItem(0, "b.qzg"), 1);
    EXPECT_EQ(e.addListItem(1000, "cam"), 0);
    EXPECT_EQ(e.itemsAdded, (std::vector<std::string>{"0:a.qzg:1", "0:b.qzg:2", "1000:cam:1"}));
    EXPECT_EQ(e.findListItem(0, "b.qzg"), 1);
    EXPECT_EQ(e.findListItem(0, "missing"), 0);
    EXPECT_EQ(e.findListItem(1000, "b.qzg"), 0);
    EXPECT_EQ(e.listItem(0, 1), "b.qzg");
    EXPECT_EQ(e.listItem(0, 2), "");
    EXPECT_EQ(e.listItem(0, -1), "");
    EXPECT_EQ(e.listItem(5, 0), "");
    EXPECT_TRUE(boxes.empty());

    EXPECT_EQ(e.addListItem(NoList, "x"), -1);
    EXPECT_EQ(e.itemsAdded.back(), "10000:x:0");
    e.clearList(7);
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_FALSE(box.fatal);
        EXPECT_NE(box.text.find("Unsupported variable"), std::string::npos);
    }
    e.clearList(0);
    EXPECT_TRUE(e.list0.empty());
    EXPECT_EQ(e.list1000.size(), 1u);
}

} // namespace
