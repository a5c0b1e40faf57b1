#include "demo/ScriptLoader.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/Random.h"
#include "demo/SignalQueue.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

ScriptLoader scriptLoader;
int demoStartTime = 0;
int demoEndTime = 0;
int demoLength = 0;

namespace {

ScriptFindingSink findingSink = nullptr;
bool warmUpOn = true;

// Comments and values are read a line at a time through a 200-byte line buffer.
constexpr size_t kLineLimit = 199;
// Quoted texts hold at most this many characters.
constexpr size_t kTextLimit = 99;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Leading decimal integer (optional sign, digits) in 32-bit wrap-around arithmetic; 0 if none.
int leadingInteger(const std::string& word) {
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    uint32_t value = 0;
    while (i < word.size() && isDigit(word[i]))
        value = value * 10u + static_cast<uint32_t>(word[i++] - '0');
    return static_cast<int>(negative ? 0u - value : value);
}

int wrapAdd(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int wrapSub(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int wrapMul(int a, int b) {
    return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

[[noreturn]] void fatalText(const char* file, int line, const char* message, const std::string& detail) {
    reportErrorText(file, line, message, detail.c_str(), true);
    std::exit(1); // not reached: a fatal report ends the process
}

} // namespace

// ---- lexer ----

std::string ScriptLoader::readWord() {
    while (pos < length && isSpace(text[pos]))
        ++pos;
    const size_t start = pos;
    while (pos < length && !isSpace(text[pos]))
        ++pos;
    return std::string(text + start, pos - start);
}

std::string ScriptLoader::takeWord() {
    if (hasLookahead) {
        hasLookahead = false;
        return lookahead;
    }
    return readWord();
}

// The characters after the current position up to the line end, at most kLineLimit of them
// (the line end counts as one); the line end itself is consumed but not returned.
std::string ScriptLoader::restOfLine() {
    const size_t start = pos;
    while (pos < length && pos - start < kLineLimit) {
        if (text[pos++] == '\n') return std::string(text + start, pos - 1 - start);
    }
    return std::string(text + start, pos - start);
}

// An integer that is read and ignored: only its sign and digits are taken, so text glued to it
// (such as "1//note") is read as the next word. A word with no number in front is skipped
// whole, so a malformed value can neither stall the loader nor turn into a statement.
void ScriptLoader::skipNumber() {
    while (pos < length && isSpace(text[pos]))
        ++pos;
    const size_t start = pos;
    if (pos < length && (text[pos] == '+' || text[pos] == '-')) ++pos;
    const size_t digits = pos;
    while (pos < length && isDigit(text[pos]))
        ++pos;
    if (pos == digits) {
        pos = start;
        readWord();
    }
}

// Quoted text and numbers on the rest of a SIGNAL or TRIGGER line.
ScriptLoader::LineValue ScriptLoader::readLineValue() {
    const size_t lineStart = pos;
    const std::string line = restOfLine();
    // A line too long for the line buffer: the rest of it is dropped rather than read as statements.
    if (pos - lineStart == kLineLimit && (pos > 0 && text[pos - 1] != '\n'))
        while (pos < length && text[pos++] != '\n') {
        }

    LineValue result;
    const char* s = line.c_str(); // no NUL inside: the text ends at its first NUL
    size_t i = 0;
    const size_t n = line.size();
    auto readNumber = [&](float& out) {
        char* end = nullptr;
        out = std::strtof(s + i, &end);
        if (end == s + i) return false;
        i = static_cast<size_t>(end - s);
        return true;
    };
    // Blanks and tabs may lead a part; only a blank (the space character) continues the value
    // after a number or a text, so a tab ends it.
    for (;;) {
        while (i < n && isBlank(s[i]))
            ++i;
        if (i >= n) break;
        if (s[i] == '"') {
            ++i;
            size_t j = i;
            while (j < n && j - i < kTextLimit && s[j] != '"')
                ++j;
            std::string read(s + i, j - i);
            if (j >= n || s[j] != '"' || read.empty())
                fatalText(__FILE__, __LINE__, "Error in script string", read);
            result.text = read;
            i = j + 1;
        } else {
            float v;
            if (!readNumber(v)) break; // neither text nor number: the value ends here
            result.value = v;
            while (i < n && s[i] == ' ') {
                const size_t before = i;
                while (i < n && isBlank(s[i]))
                    ++i;
                if (!readNumber(v)) {
                    i = before;
                    break;
                }
                result.extras.push_back(v);
            }
        }
        if (i >= n || s[i] != ' ') break;
    }
    return result;
}

// ---- expressions ----

int ScriptLoader::termValue(const std::string& word) {
    const int value = leadingInteger(word);
    if (value != 0) return value;
    if (!word.empty() && word[0] == '0') return 0;
    auto it = defines.find(word);
    if (it == defines.end()) fatalText(__FILE__, __LINE__, "DEFINE not found", word);
    return it->second;
}

// Integer operands joined by "+", "-" and "*" words, strictly left to right. The word that ends
// the expression is left in the lookahead.
int ScriptLoader::readExpression(const std::string& first) {
    int result = 0;
    char op = '+';
    std::string operand = first;
    for (;;) {
        const int term = termValue(operand);
        if (op == '+')
            result = wrapAdd(result, term);
        else if (op == '-')
            result = wrapSub(result, term);
        else
            result = wrapMul(result, term);

        std::string word = readWord();
        if (!word.empty() && (word[0] == '+' || word[0] == '-' || word[0] == '*')) {
            op = word[0];
            operand = readWord();
            continue;
        }
        lookahead = word;
        hasLookahead = true;
        return result;
    }
}

// ---- statements ----

void ScriptLoader::setWarmUp(bool on) {
    warmUpOn = on;
}

ScriptFindingSink ScriptLoader::setFindingSink(ScriptFindingSink sink) {
    ScriptFindingSink previous = findingSink;
    findingSink = sink;
    return previous;
}

void ScriptLoader::note(int line, ScriptFinding::Severity severity, const std::string& message) {
    if (findingSink) findingSink(ScriptFinding{line, severity, message});
}

Effect* ScriptLoader::requireEffect(const std::string& effectName) {
    Effect* effect = effectList->findEffect(effectName);
    if (!effect) fatalText(__FILE__, __LINE__, "Effect not found", effectName);
    return effect;
}

void ScriptLoader::signalStatement(int time, const std::string& effectName) {
    const std::string variableName = readWord();
    const LineValue line = readLineValue();

    Effect* effect = requireEffect(effectName);
    Variable* variable = effect->findVariable(variableName);
    if (!variable) fatalText(__FILE__, __LINE__, "Variable not found", variableName);

    if (variable->stringValued) {
        variable->addKey(line.text, time);
        return;
    }
    float v = line.value;
    if (!line.text.empty()) {
        if (timelineMode) {
            v = static_cast<float>(effect->findListItem(variable->listId, line.text));
        } else {
            if (setupMode) effect->addListItem(variable->listId, line.text);
            return;
        }
    }
    // Outside the timeline numbers set nothing; in it, fractions become value indices.
    if (!timelineMode) return;
    if (variable->count > 1) v = v * static_cast<float>(variable->count - 1);
    variable->addKey(v, time);
}

void ScriptLoader::triggerStatement(int time, const std::string& effectName) {
    const std::string signalName = readWord();
    const LineValue line = readLineValue();
    auto it = defines.find(signalName);
    if (it == defines.end()) { // undefined signal names are ignored
        const bool number = !signalName.empty() && (isDigit(signalName[0]) || signalName[0] == '-');
        note(statementLine, ScriptFinding::Severity::Warning,
             "TRIGGER type `" + signalName + "` is not a DEFINE name, so the line is ignored" +
                 (number ? " (DEFINE a name for the number and use that)" : ""));
        return;
    }
    Signal s;
    s.scriptLine = statementLine;
    s.time = time;
    s.effectName = effectName;
    s.type = it->second;
    s.value = line.value;
    s.text = line.text;
    s.values[0] = s.value;
    s.values[1] = line.extra(0);
    s.values[2] = line.extra(1);
    signalQueue->add(s);
}

void ScriptLoader::timelineStatement(const std::string& first) {
    const int time = wrapAdd(readExpression(first), timeOffset);
    const std::string command = takeWord();
    const std::string effectName = readWord();
    timeline.push_back(TimelineLine{statementLine, time, command, effectName});

    if (command == "BEGIN" || command == "b") {
        requireEffect(effectName)->activeTrack.addKey(1.0f, time);
    } else if (command == "END" || command == "e") {
        requireEffect(effectName)->activeTrack.addKey(0.0f, time);
    } else if (command == "INIT" || command == "i") {
        Signal s;
        s.time = time;
        s.effectName = effectName;
        s.scriptLine = statementLine;
        signalQueue->add(s);
    } else if (command == "SIGNAL" || command == "s") {
        signalStatement(time, effectName);
    } else if (command == "TRIGGER" || command == "t") {
        triggerStatement(time, effectName);
    } else if (command == "SET_LAYER" || command == "l") {
        skipNumber();
    } else if (!command.empty()) {
        // Any other command word: the statement ends after the effect name.
        note(statementLine, ScriptFinding::Severity::Error,
             "unknown statement `" + command +
                 "`: the player skips it (statements are BEGIN, END, INIT, SIGNAL, TRIGGER and SET_LAYER, "
                 "or b, e, i, s, t and l)");
    }
}

// Signals for an effect the script never inserted, and links to one, are dropped when they are
// delivered: say so once per name, as a misspelt name is the likely cause.
void ScriptLoader::checkSignalTargets() {
    std::vector<std::string> said;
    auto tell = [&](const char* what, const std::string& name, int line) {
        const std::string key = std::string(what) + '\n' + name;
        if (std::find(said.begin(), said.end(), key) != said.end()) return;
        said.push_back(key);
        if (findingSink) {
            note(line, ScriptFinding::Severity::Warning,
                 std::string(what) + ": " + name + " (the script inserts no effect of that name)");
        } else {
            reportErrorText(__FILE__, __LINE__, what,
                            (name + " (script line " + std::to_string(line) + ")").c_str(), false);
        }
    };
    for (const Signal& s : signalQueue->all()) {
        if (!effectList->findEffect(s.effectName))
            tell("Signal for an effect that does not exist", s.effectName, s.scriptLine);
        if (s.type == 2 && !s.text.empty() && !effectList->findEffect(s.text))
            tell("Link to an effect that does not exist", s.text, s.scriptLine);
    }
}

int ScriptLoader::currentLine() const {
    if (!text) return 0;
    // The position is just past the word (or line) read last; a line end it consumed does not
    // count yet.
    const size_t end = pos > 0 ? std::min(pos - 1, length) : 0;
    // Counted on from the last answer: asked at every statement, the load stays linear.
    if (countedText != text || end < countedTo) {
        countedText = text;
        countedTo = 0;
        countedLines = 1;
    }
    for (; countedTo < end; ++countedTo)
        countedLines += text[countedTo] == '\n';
    return countedLines;
}

void ScriptLoader::clearTimeline() {
    if (!effectList) effectList = new EffectList();
    if (!signalQueue) signalQueue = new SignalQueue();
    effectList->clearEffects();
    signalQueue->clear();
    defines.clear();
    hasLookahead = false;
    lookahead.clear();
    // Every load starts without an end time, so tracks made before its DEMO_END end at 0.
    trackEndTime = 0;
    timeline.clear();
    inserts.clear();
    lengthLine = 0;
    endLine = 0;
}

void ScriptLoader::load(const char* fileName) {
    clearTimeline();
    DataFile file(fileName);
    if (!file.isOpen()) {
        reportError(__FILE__, __LINE__, "script: could not open file for parsing", true);
        return;
    }
    parse(reinterpret_cast<const char*>(file.getData()), file.getSize());
    file.close();
    warmUpEffects();
}

void ScriptLoader::loadText(const std::string& script) {
    clearTimeline();
    parse(script.data(), script.size());
    warmUpEffects();
}

void ScriptLoader::warmUpEffects() {
    if (!effectList || !warmUpOn) return;
    // The driver's work in the warm-up takes memory of its own; what each warm-up frees goes back
    // to the system, so that the load's peak is no higher than the play's.
    platform::returnFreeMemory();
    const uint32_t random = Random::state();
    for (Effect* effect : effectList->effects()) {
        effect->warmUp();
        platform::returnFreeMemory();
    }
    Random::seed(random);
}

void ScriptLoader::parse(const char* scriptText, size_t scriptLength) {
    // Effects made by this load draw the same numbers as on any other load of the script.
    Random::startLoad();
    // The text is the caller's: forget it also when a report ends the load early.
    struct TextReset {
        ScriptLoader& loader;
        ~TextReset() {
            loader.text = nullptr;
            loader.length = loader.pos = 0;
            loader.countedText = nullptr;
        }
    } textReset{*this};
    text = scriptText;
    length = scriptLength;
    countedText = nullptr; // a new text may sit where the last one was
    // The script is text: a NUL byte would silently cut off everything after it.
    if (const void* nul = text ? std::memchr(text, '\0', length) : nullptr) {
        const char* at = static_cast<const char*>(nul);
        const long line = 1 + std::count(text, at, '\n');
        fatalText(__FILE__, __LINE__, "NUL byte in script", "line " + std::to_string(line));
    }
    pos = 0;

    int demoStart = 0;
    int demoEnd = 60000;
    int runLength = 0;
    int demoEndLine = 0;
    firstTrackLine = 0;
    int beat = 100;
    timeOffset = 0;
    bool inComment = false;
    setupMode = false;
    timelineMode = false;

    for (;;) {
        std::string word = takeWord();
        if (word.empty()) break;

        if (inComment) {
            const size_t close = word.find("*/");
            if (close == std::string::npos) continue;
            inComment = false;
            word.erase(0, close + 2);
            if (word.empty()) continue;
        }
        if (word.find("/*") != std::string::npos) {
            inComment = true;
            restOfLine();
            continue;
        }
        const size_t lineComment = word.find("//");
        if (lineComment != std::string::npos && lineComment <= 2) {
            restOfLine();
            continue;
        }

        statementLine = currentLine();
        if (word == "__HEADER__" || word == "__DEFS__") {
        } else if (word == "__SETUP__") {
            setupMode = true;
        } else if (word == "__TIMELINE__") {
            timelineMode = true;
        } else if (word == "__LINETIME__") {
            break;
        } else if (word == "DEMO_START") {
            demoStart = readExpression(readWord());
        } else if (word == "DEMO_END") {
            demoEnd = readExpression(readWord());
            trackEndTime = demoEnd;
            demoEndLine = statementLine;
            endLine = statementLine;
            if (firstTrackLine)
                note(demoEndLine, ScriptFinding::Severity::Error,
                     "DEMO_END comes after the INSERT_EFFECT on line " + std::to_string(firstTrackLine) +
                         ": the tracks of effects inserted before it end at 0 ms, so they never show; "
                         "move DEMO_END up into the header");
        } else if (word == "DEMO_LENGTH") {
            // This player's extension: where the run of the demo ends.
            const std::string first = readWord();
            runLength = readExpression(first);
            lengthLine = statementLine;
            if (runLength <= 0)
                fatalText(__FILE__, __LINE__, "DEMO_LENGTH must be a positive number of ms", first);
        } else if (word == "DEMO_BEAT") {
            beat = readExpression(readWord());
        } else if (word == "DEMO_FULLSCREEN" || word == "DEMO_MUSIC") {
            skipNumber();
        } else if (word == "DEFINE") {
            const std::string defineName = readWord();
            if (!defineName.empty() && isDigit(defineName[0]))
                fatalText(__FILE__, __LINE__, "DEFINE id cannot start with digit", defineName);
            const int value = readExpression(readWord());
            defines.emplace(defineName, value); // the first definition stays
        } else if (word == "INSERT_EFFECT") {
            const std::string effectName = readWord();
            if (!firstTrackLine) firstTrackLine = statementLine;
            inserts.push_back(statementLine);
            effectList->createEffect(effectName);
        } else if (word == "TIMEOFFSET") {
            timeOffset = readExpression(readWord());
        } else {
            timelineStatement(word);
        }
    }

    for (Effect* effect : effectList->effects()) {
        effect->activeTrack.compact();
        for (Variable* variable : effect->variables)
            variable->compact();
    }
    if (!demoEndLine && firstTrackLine)
        note(firstTrackLine, ScriptFinding::Severity::Error,
             "the script has no DEMO_END: every effect's track ends at 0 ms, so nothing shows; put "
             "DEMO_END into the header");
    checkSignalTargets();
    demoStartTime = demoStart;
    demoEndTime = demoEnd;
    demoLength = runLength;
    beatLength = beat;
    signalQueue->sortAndRewind();
}
