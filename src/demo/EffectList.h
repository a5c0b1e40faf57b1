// Owns every effect of the demo in script order (the drawing order) and builds them by script name.
#pragma once

#include <functional>
#include <string>
#include <vector>

class Effect;

class EffectList {
  public:
    // Builds an effect for a script name that the tests want to stand in for a real one (or to
    // add); returns nullptr to fall back to the built-in table.
    using Factory = Effect* (*)(const char* scriptName);

    EffectList() = default;
    ~EffectList(); // releases the storage only; effects live until clearEffects
    EffectList(const EffectList&) = delete;
    EffectList& operator=(const EffectList&) = delete;

    // Builds the effect for the script name, gives its active track the key false at 0 and
    // appends it. An unknown name (or one whose effect is not available) is fatal; `context`, when
    // given, is asked then for words to append to the report (where the caller read the name).
    bool createEffect(const std::string& scriptName, const std::function<std::string()>& context = nullptr);
    // First effect with exactly this name, or nullptr.
    Effect* findEffect(const std::string& effectName) const;
    // Destroys every effect in list order and empties the list.
    void clearEffects();
    const std::vector<Effect*>& effects() const { return list; }

    // The script names the factory knows, in table order.
    static const std::vector<std::string>& scriptNames();
    static void setTestFactory(Factory factory);

  private:
    std::vector<Effect*> list;
};
