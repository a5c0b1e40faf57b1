// A test-only effect that records what the timeline does to it, with one variable of each kind.
#pragma once

#include "demo/Effect.h"
#include "demo/EffectList.h"

#include <string>
#include <vector>

// Calls seen by every probe, in order ("update A 1000", "render A 1000", "signal A 2 @900" ...).
std::vector<std::string>& probeLog();

class ProbeEffect : public Effect {
  public:
    explicit ProbeEffect(const std::string& effectName);
    ~ProbeEffect() override;

    void update(int time) override;
    void render(int time) override;
    void signal(const Signal& s) override;
    void patternStep(float phase) override;
    void listItemAdded(int listId, const std::string& item, int count) override;

    FloatVariable amount{0.25f};  // "Amount"
    BoolVariable flag{false};     // "Flag"
    IntVariable steps{0};         // "Steps", count 3
    IntVariable file{0};          // "File", backed by list 0; count follows the list
    StringVariable title{"none"}; // "Title"

    std::vector<Signal> received;
    std::vector<float> patternSteps;
    std::vector<std::string> itemsAdded; // "listId:item:count"
    // Called from render, for tests that look at GL state while an effect draws.
    void (*onRender)(ProbeEffect&, int) = nullptr;

    static int destroyed;
};

// Factory for the tests: names beginning with "Probe" and the name "Blur" become probes.
Effect* probeFactory(const char* scriptName);

// Installs the probe factory and fresh process-wide list and queue; removes them afterwards.
struct DemoFixtureState {
    DemoFixtureState();
    ~DemoFixtureState();
};
