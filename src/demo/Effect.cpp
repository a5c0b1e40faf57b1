#include "demo/Effect.h"

#include "base/Report.h"
#include "demo/EffectList.h"
#include "demo/SignalQueue.h"

int lastPatternIndex = 1000;
int beatLength = 100;
int trackEndTime = 0;

Effect::Effect(const std::string& effectName) : name(effectName) {
    activeTrack.name = effectName;
    activeTrack.kind = KindBool;
    registerVariable(speed, "Speed", NoList, KindFloat);
    registerVariable(spectrumStr, "SpectrumStr", NoList, KindFloat);
    registerVariable(pattern, "Pattern", NoList, KindString);
}

Effect::~Effect() = default;

void Effect::start(int time) {
    startTime = time;
    currentTime = time;
    elapsed = 0;
    phase = 0.0f;
}

void Effect::prepare(int) {}

void Effect::update(int time) {
    const float speedNow = speed.valueAt(time);
    speedFactor = static_cast<float>(speedNow * 0.2);
    elapsed = static_cast<int>(static_cast<unsigned>(time) - static_cast<unsigned>(startTime) -
                               static_cast<unsigned>(timeOffset));
    currentTime = time;
    const unsigned elapsedUnsigned = static_cast<unsigned>(elapsed);
    phase = static_cast<float>(speedNow * 0.2 * static_cast<double>(elapsedUnsigned));

    if (_patternEnabled) {
        const std::string steps = pattern.trackedStringAt(time); // a copy: patternStep may rekey it
        // DEMO_BEAT 0 would divide by zero: such a pattern stays on its first step.
        const unsigned beat = static_cast<unsigned>(beatLength);
        unsigned index = 0;
        if (!steps.empty() && beat != 0) index = (elapsedUnsigned / beat) % steps.size();
        patternIndex = static_cast<int>(index);
        if (patternIndex != lastPatternIndex) {
            lastPatternIndex = patternIndex;
            patternStep(phase);
        }
        patternChar = steps.empty() ? '\0' : steps[index];
    }
}

void Effect::updateState(int time) {
    Effect::update(time);
}

void Effect::patternStep(float) {}

void Effect::signal(const Signal& s) {
    switch (s.type) {
    case 0:
        start(s.time);
        break;
    case 2: {
        Effect* target = effectList ? effectList->findEffect(s.text) : nullptr;
        // Drawing a link that leads back here would recurse without end: refuse it and draw
        // without a linked picture.
        if (target && linksTo(target, this)) {
            reportErrorText(__FILE__, __LINE__, "Linked effect loops back to this effect", s.text.c_str(),
                            false);
            target = nullptr;
        }
        linked = target;
        break;
    }
    case 5:
        signalLevel = spectrumStr.valueAt(s.time) * s.value;
        break;
    case 19:
        timeOffset = truncateToInt(s.value);
        break;
    default:
        break;
    }
}

void Effect::listItemAdded(int, const std::string&, int) {}

std::vector<std::string> Effect::queuedSignalTexts(int type) const {
    std::vector<std::string> texts;
    if (!signalQueue || !effectList) return texts;
    for (const Signal& s : signalQueue->all())
        if (s.type == type && effectList->findEffect(s.effectName) == this) texts.push_back(s.text);
    return texts;
}

bool Effect::linksTo(const Effect* from, const Effect* to) {
    // Bounded walk: a chain that loops without passing `to` must not hang the check either.
    std::vector<const Effect*> seen;
    for (const Effect* e = from; e; e = e->linked) {
        if (e == to) return true;
        for (const Effect* before : seen)
            if (before == e) return false;
        seen.push_back(e);
    }
    return false;
}

void Effect::registerVariable(Variable& variable, const std::string& variableName, int variableListId,
                              int kind) {
    variable.name = variableName;
    variable.listId = variableListId;
    variable.kind = kind;
    variables.push_back(&variable);
}

Variable* Effect::findVariable(const std::string& variableName) const {
    for (Variable* v : variables)
        if (v->name == variableName) return v;
    return nullptr;
}

char Effect::patternValue() const {
    if (!_patternEnabled)
        reportError(__FILE__, __LINE__, "pattern value retrieved when _patternEnabled is false", false);
    return patternChar;
}

std::vector<std::string>* Effect::list(int listId) {
    if (listId == 0) return &list0;
    if (listId == 1000) return &list1000;
    return nullptr;
}

const std::vector<std::string>* Effect::list(int listId) const {
    return const_cast<Effect*>(this)->list(listId);
}

int Effect::findListItem(int listId, const std::string& item) const {
    if (const auto* items = list(listId))
        for (size_t i = 0; i < items->size(); ++i)
            if ((*items)[i] == item) return static_cast<int>(i);
    return 0;
}

int Effect::addListItem(int listId, const std::string& item) {
    auto* items = list(listId);
    if (!items) {
        reportError(__FILE__, __LINE__, "Unsupported variable", false);
        listItemAdded(listId, item, 0);
        return -1;
    }
    items->push_back(item);
    const int size = static_cast<int>(items->size());
    listItemAdded(listId, item, size);
    return size - 1;
}

void Effect::clearList(int listId) {
    if (auto* items = list(listId))
        items->clear();
    else
        reportError(__FILE__, __LINE__, "Unsupported variable", false);
}

std::string Effect::listItem(int listId, int index) const {
    const auto* items = list(listId);
    if (!items || index < 0 || static_cast<size_t>(index) >= items->size()) return std::string();
    return (*items)[static_cast<size_t>(index)];
}
