// Effect parameters: named, typed values with key tracks over demo time.
#pragma once

#include <string>
#include <vector>

enum VariableKind { KindFloat = 1, KindBool = 2, KindInt = 3, KindString = 4 };

// List id of a plain (not list-backed) variable.
constexpr int NoList = 10000;

template <typename T> struct Key {
    int time; // ms
    T value;
};
using FloatKey = Key<float>;
using TextKey = Key<std::string>;

// A live replacement for a variable's keys (a sync editor's track). While it holds keys the
// variable follows it; `valueAt` answers false when it holds none and the variable's own keys apply.
class VariableOverride {
  public:
    virtual ~VariableOverride() = default;
    virtual bool valueAt(int time, double& value) const = 0;
};

// A float track's value at `time` between its keys p and k (times compare unsigned): each key's
// own value at its time, between them a straight line worked in floats. A sync editor's preview
// uses it too, to show what the script it saves will give.
float blendKeys(const FloatKey& p, const FloatKey& k, int time);

// Float to int truncated toward zero, saturating instead of overflowing (NaN gives 0).
int truncateToInt(double v);

class Variable {
  public:
    virtual ~Variable() = default;

    virtual void set(float v, int time);
    virtual void set(const std::string& v, int time);
    virtual float get() const;
    virtual float valueAt(int time);
    virtual void exportKeys(std::vector<FloatKey>& out) const;
    virtual void importKeys(const std::vector<FloatKey>& in);
    virtual void compact();
    virtual void addKey(float v, int time);
    virtual void addKey(const std::string& v, int time);
    virtual std::string stringAt(int time);
    virtual void exportTextKeys(std::vector<TextKey>& out) const;
    virtual void importTextKeys(const std::vector<TextKey>& in);

    std::string name;
    int listId = NoList; // NoList, or 0 / 1000: the values index that list of the effect
    int kind = 0;        // VariableKind
    int count = 1;       // IntVariable: values 0 .. count - 1
    bool stringValued = false;
    // Not owned; null (the usual case) costs one test per lookup. Float, bool and int variables
    // honour it: a bool is on above 0.5, an int is the value rounded.
    const VariableOverride* override = nullptr;
};

class FloatVariable : public Variable {
  public:
    // Both overloads of each stay callable; a kind overrides the one it supports.
    using Variable::addKey;
    using Variable::set;

    explicit FloatVariable(float initial = 0.0f) : value(initial), lastValue(initial) {}

    void set(float v, int time) override;
    float get() const override { return value; }
    float valueAt(int time) override;
    void exportKeys(std::vector<FloatKey>& out) const override;
    void importKeys(const std::vector<FloatKey>& in) override;
    void compact() override;
    void addKey(float v, int time) override;

    float value;
    std::vector<FloatKey> keys;
    bool changed = true; // so that a watching effect reacts to its first look
    float lastValue;
};

class BoolVariable : public Variable {
  public:
    using Variable::addKey;
    using Variable::set;

    explicit BoolVariable(bool initial = false) : value(initial), lastValue(initial) {}

    void set(float v, int time) override;
    float get() const override { return value ? 1.0f : 0.0f; }
    float valueAt(int time) override;
    void exportKeys(std::vector<FloatKey>& out) const override;
    void importKeys(const std::vector<FloatKey>& in) override;
    void compact() override;
    void addKey(float v, int time) override;

    bool value;
    std::vector<Key<bool>> keys;
    bool changed = true;
    bool lastValue;
};

class IntVariable : public Variable {
  public:
    using Variable::addKey;
    using Variable::set;

    explicit IntVariable(int initial = 0) : value(initial), lastValue(initial) {}

    void set(float v, int time) override;
    float get() const override;
    float valueAt(int time) override;
    void exportKeys(std::vector<FloatKey>& out) const override;
    void importKeys(const std::vector<FloatKey>& in) override;
    void compact() override;
    void addKey(float v, int time) override;

    int value;
    std::vector<Key<int>> keys;
    bool changed = true;
    int lastValue;
};

class StringVariable : public Variable {
  public:
    using Variable::addKey;
    using Variable::set;

    explicit StringVariable(const std::string& initial = "") : value(initial), lastValue(initial) {
        stringValued = true;
    }

    void set(const std::string& v, int time) override;
    void compact() override;
    void addKey(const std::string& v, int time) override;
    std::string stringAt(int time) override;
    void exportTextKeys(std::vector<TextKey>& out) const override;
    void importTextKeys(const std::vector<TextKey>& in) override;

    // The same lookup as stringAt, but its fallback to the value tracks changes (the pattern uses it).
    const std::string& trackedStringAt(int time);

    std::string value;
    std::vector<TextKey> keys;
    bool changed = true;
    std::string lastValue;
};
