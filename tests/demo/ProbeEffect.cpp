#include "ProbeEffect.h"

#include "demo/DemoState.h"
#include "demo/SignalQueue.h"

#include <cstring>

int ProbeEffect::destroyed = 0;

std::vector<std::string>& probeLog() {
    static std::vector<std::string> log;
    return log;
}

ProbeEffect::ProbeEffect(const std::string& effectName) : Effect(effectName) {
    registerVariable(amount, "Amount", NoList, KindFloat);
    registerVariable(flag, "Flag", NoList, KindBool);
    registerVariable(steps, "Steps", NoList, KindInt);
    registerVariable(file, "File", 0, KindInt);
    registerVariable(title, "Title", NoList, KindString);
    steps.count = 3;
}

ProbeEffect::~ProbeEffect() {
    ++destroyed;
}

void ProbeEffect::update(int time) {
    Effect::update(time);
    probeLog().push_back("update " + name + " " + std::to_string(time));
}

void ProbeEffect::render(int time) {
    probeLog().push_back("render " + name + " " + std::to_string(time));
    if (onRender) onRender(*this, time);
}

void ProbeEffect::signal(const Signal& s) {
    Effect::signal(s);
    received.push_back(s);
    probeLog().push_back("signal " + name + " " + std::to_string(s.type) + " @" + std::to_string(s.time));
}

void ProbeEffect::patternStep(float phase) {
    patternSteps.push_back(phase);
}

void ProbeEffect::listItemAdded(int listId, const std::string& item, int count) {
    itemsAdded.push_back(std::to_string(listId) + ":" + item + ":" + std::to_string(count));
    if (listId == 0) file.count = count;
}

Effect* probeFactory(const char* scriptName) {
    if (std::strncmp(scriptName, "Probe", 5) == 0 || std::strcmp(scriptName, "Blur") == 0)
        return new ProbeEffect(scriptName);
    return nullptr;
}

DemoFixtureState::DemoFixtureState() {
    EffectList::setTestFactory(probeFactory);
    effectList = new EffectList();
    signalQueue = new SignalQueue();
    probeLog().clear();
    trackEndTime = 0;
    beatLength = 100;
    lastPatternIndex = 1000;
}

DemoFixtureState::~DemoFixtureState() {
    effectList->clearEffects();
    delete effectList;
    delete signalQueue;
    effectList = nullptr;
    signalQueue = nullptr;
    EffectList::setTestFactory(nullptr);
    trackEndTime = 0;
    beatLength = 100;
}
