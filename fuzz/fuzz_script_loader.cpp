// Script loading: the lexer, comments, expressions and DEFINEs, quoted texts and numbers on
// SIGNAL and TRIGGER lines, list-backed parameters and key insertion. The effects are stand-ins
// (no GL) with one parameter of each kind; a fatal script error ends one input, not the fuzzer.
#include "FuzzInput.h"

#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "demo/Variable.h"

#include <cstdlib>
#include <cstring>

namespace {

struct FatalReport {};

class StandIn : public Effect {
  public:
    explicit StandIn(const char* scriptName) : Effect(scriptName) {
        registerVariable(amount, "Amount", NoList, KindFloat);
        registerVariable(flag, "Flag", NoList, KindBool);
        registerVariable(steps, "Steps", NoList, KindInt);
        registerVariable(file, "Datafile", 0, KindInt);
        registerVariable(pattern, "Pattern", NoList, KindString);
        steps.count = 5;
    }
    void render(int) override {}
    void listItemAdded(int listId, const std::string&, int count) override {
        if (listId == 0) file.count = count;
    }

    FloatVariable amount;
    BoolVariable flag;
    IntVariable steps;
    IntVariable file;
    StringVariable pattern;
};

// Every name that starts with a capital letter is a stand-in; others go to the built-in table,
// where they are unknown (a fatal error, as a misspelt effect name is).
Effect* standInFactory(const char* scriptName) {
    if (scriptName[0] >= 'A' && scriptName[0] <= 'Z') return new StandIn(scriptName);
    return nullptr;
}

void throwOnFatal(const report::Record& record) {
    if (record.fatal) throw FatalReport{};
}

const bool initialized = [] {
    setenv("HOLDFAST_UNATTENDED", "1", 1);
    EffectList::setTestFactory(standInFactory);
    report::setSink(throwOnFatal);
    effectList = new EffectList();
    signalQueue = new SignalQueue();
    return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)initialized;
    const char* path = fuzzInputPath(data, size);
    try {
        scriptLoader.load(path);
    } catch (const FatalReport&) {
        return 0;
    }
    // Read the tracks back as the frame step would.
    for (Effect* effect : effectList->effects()) {
        for (int t : {0, 1, 999, 60000, trackEndTime, -1}) {
            effect->activeTrack.valueAt(t);
            for (Variable* variable : effect->variables) {
                variable->valueAt(t);
                variable->stringAt(t);
            }
        }
    }
    return 0;
}
