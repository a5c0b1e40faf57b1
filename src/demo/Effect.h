// Base of every effect: name, active track, parameters, two text lists, its own clock and a
// beat pattern. The frame step and the script loader drive effects through this interface.
#pragma once

#include "demo/DemoState.h"
#include "demo/Signal.h"
#include "demo/Variable.h"

#include <string>
#include <vector>

class Effect {
  public:
    explicit Effect(const std::string& name);
    virtual ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    // (Re)starts the effect's clock at `time` (the script's INIT).
    virtual void start(int time);
    virtual void prepare(int time);
    // Speed, elapsed time, phase and the pattern step; overrides call this first.
    virtual void update(int time);
    // What update does to state that outlives the frame (the clock and pattern step here; a
    // scene's camera, shadows and object transforms for a scene effect), drawing nothing. A jump
    // replays it for the frames before those it draws; an effect whose update keeps more than
    // its clock overrides it.
    virtual void updateState(int time);
    // Called by update when the pattern moves to another step.
    virtual void patternStep(float phase);
    virtual void render(int time) = 0;
    // Base types: 0 start, 2 link the effect named by the text (refused, with a report, when that
    // effect's links lead back here), 5 signal level, 19 time offset.
    virtual void signal(const Signal& s);
    virtual void listItemAdded(int listId, const std::string& item, int count);
    // Once the script has loaded: makes what the effect's first frames would otherwise make in the
    // GL driver (the programs of its drawing states), so that they do not stall the frame they
    // first show in. Draws nothing on screen and changes nothing a frame shows.
    virtual void warmUp() {}

    // The texts of the signals of that type that the loaded script has queued for this effect,
    // in time order (what a warm-up looks ahead to).
    std::vector<std::string> queuedSignalTexts(int type) const;

    // True when following `linked` pointers from `from` reaches `to` (`from` itself included).
    static bool linksTo(const Effect* from, const Effect* to);

    void registerVariable(Variable& variable, const std::string& variableName, int variableListId, int kind);
    // First registered variable of that exact name, or nullptr.
    Variable* findVariable(const std::string& variableName) const;

    void setPatternEnabled(bool enabled) { _patternEnabled = enabled; }
    void setSpeed(float v) { speed.value = v; }
    char patternValue() const;

    // Lists 0 and 1000 back list-indexed IntVariables.
    int findListItem(int listId, const std::string& item) const;
    int addListItem(int listId, const std::string& item);
    void clearList(int listId);
    std::string listItem(int listId, int index) const;

    Effect* linked = nullptr;         // the effect whose picture this one processes (signal 2)
    BoolVariable activeTrack;         // true while the effect runs; not among `variables`
    float signalLevel = 0.0f;         // signal 5
    int timeOffset = 0;               // signal 19, ms, subtracted from the elapsed time
    std::vector<Variable*> variables; // registration order; not owned
    std::string name;
    std::vector<std::string> list0;
    std::vector<std::string> list1000;
    FloatVariable speed{0.5f};       // "Speed"
    FloatVariable spectrumStr{0.0f}; // "SpectrumStr"
    int startTime = 0;
    int currentTime = 0;
    int elapsed = 0;
    float phase = 0.0f;
    float speedFactor = 0.0f;
    bool _patternEnabled = false;
    char patternChar = '0';
    int patternIndex = 0;
    StringVariable pattern{"1000"}; // "Pattern"

  private:
    std::vector<std::string>* list(int listId);
    const std::vector<std::string>* list(int listId) const;
};
