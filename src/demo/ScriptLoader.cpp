#include "demo/ScriptLoader.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "base/Suggest.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/FrameStep.h"
#include "demo/Random.h"
#include "demo/SignalQueue.h"
#include "platform/Platform.h"

#include <algorithm>
#include <climits>
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
bool findingsReportedToo = false;
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
// An optional sign, then digits and nothing else.
bool isInteger(const std::string& word) {
    const size_t digits = !word.empty() && (word[0] == '+' || word[0] == '-') ? 1 : 0;
    return word.size() > digits && std::all_of(word.begin() + static_cast<long>(digits), word.end(), isDigit);
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

// The command words of timeline statements, for suggestions.
const std::vector<std::string>& commandWords() {
    static const std::vector<std::string> words = {"BEGIN", "END", "INIT", "SIGNAL", "TRIGGER", "SET_LAYER"};
    return words;
}

// The words that make statements of their own.
const std::vector<std::string>& statementWords() {
    static const std::vector<std::string> words = {
        "__HEADER__", "__DEFS__", "__SETUP__",     "__TIMELINE__", "__LINETIME__",
        "DEMO_START", "DEMO_END", "DEMO_BEAT",     "DEMO_LENGTH",  "DEMO_FULLSCREEN",
        "DEMO_MUSIC", "DEFINE",   "INSERT_EFFECT", "TIMEOFFSET"};
    return words;
}

constexpr const char* kCommandList =
    " (statements are BEGIN, END, INIT, SIGNAL, TRIGGER and SET_LAYER, or b, e, i, s, t and l)";

// Names of the effects inserted so far, for suggestions.
std::vector<std::string> effectNames() {
    std::vector<std::string> names;
    for (const Effect* effect : effectList->effects())
        names.push_back(effect->name);
    return names;
}

// Advice parts joined for a report: "hint; did you mean ...?".
std::string advice(const std::string& hint, const std::vector<std::string>& meant, const char* quote) {
    const std::string guess = suggest::didYouMean(meant, quote);
    if (hint.empty()) return guess;
    return guess.empty() ? hint : hint + "; " + guess;
}

} // namespace

// ---- lexer ----

std::string ScriptLoader::readWord() {
    while (pos < length && isSpace(text[pos]))
        ++pos;
    wordStart = pos;
    while (pos < length && !isSpace(text[pos]))
        ++pos;
    textEnded = wordStart == pos;
    return std::string(text + wordStart, pos - wordStart);
}

std::string ScriptLoader::takeWord() {
    if (hasLookahead) {
        hasLookahead = false;
        wordStart = lookaheadStart;
        return lookahead;
    }
    return readWord();
}

// Whether only white space stands between the line's start and `at`.
bool ScriptLoader::startsItsLine(size_t at) const {
    for (; at > 0; --at) {
        if (text[at - 1] == '\n') return true;
        if (!isSpace(text[at - 1])) return false;
    }
    return true;
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

// DEMO_LENGTH's value: one word of digits on the statement's line, 1 to 2^31 - 1 ms; no
// expression, so that nothing wraps or turns into a DEFINE name unnoticed.
int ScriptLoader::readLength() {
    const char* message = "DEMO_LENGTH must be a positive number of ms";
    const char* form = "digits only, 1 to 2147483647";
    while (pos < length && text[pos] != '\n' && isSpace(text[pos]))
        ++pos;
    if (pos >= length || text[pos] == '\n') fail(__FILE__, __LINE__, message, "no number", "", {}, form);
    const std::string word = readWord();
    int64_t value = 0;
    for (char c : word) {
        if (!isDigit(c) || value > INT_MAX) break;
        value = value * 10 + (c - '0');
    }
    if (!isInteger(word) || !isDigit(word[0]) || value <= 0 || value > INT_MAX)
        fail(__FILE__, __LINE__, message, word, "", {}, form);
    // An operator after it would make it an expression.
    size_t next = pos;
    while (next < length && text[next] != '\n' && isSpace(text[next]))
        ++next;
    if (next < length && (text[next] == '+' || text[next] == '-' || text[next] == '*')) {
        const std::string op = readWord();
        fail(__FILE__, __LINE__, message, op, "", {}, std::string(form) + ", no expression");
    }
    return static_cast<int>(value);
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
                fail(__FILE__, __LINE__, "Error in script string", read,
                     j >= n        ? "no closing quote on the line"
                     : s[j] != '"' ? "no closing quote within 99 characters"
                                   : "an empty quoted text");
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

int ScriptLoader::termValue(const std::string& word, const char* what, bool first) {
    const int value = leadingInteger(word);
    if (value != 0) return value;
    if (!word.empty() && word[0] == '0') return 0;
    auto it = defines.find(word);
    if (it == defines.end()) {
        // The first word of a timeline statement may be a misspelt statement word.
        std::vector<std::string> known = first ? statementWords() : std::vector<std::string>();
        const std::vector<std::string> names = defineNames();
        known.insert(known.end(), names.begin(), names.end());
        fail(__FILE__, __LINE__, "DEFINE not found", word,
             what    ? std::string("in the value of ") + what
             : first ? "read as the time of a timeline statement"
                     : "in the time of a timeline statement",
             suggest::closest(word, known),
             isInteger(word) ? "a number this large wraps to 0 in 32 bits" : "");
    }
    return it->second;
}

// Integer operands joined by "+", "-" and "*" words, strictly left to right. The word that ends
// the expression is left in the lookahead.
int ScriptLoader::readExpression(const std::string& first, const char* what) {
    int result = 0;
    char op = '+';
    std::string operand = first;
    for (bool firstTerm = true;; firstTerm = false) {
        const int term = termValue(operand, what, firstTerm && !what);
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
        lookaheadStart = wordStart;
        hasLookahead = true;
        return result;
    }
}

// ---- statements ----

void ScriptLoader::setWarmUp(bool on) {
    warmUpOn = on;
}

ScriptFindingSink ScriptLoader::setFindingSink(ScriptFindingSink sink, bool playerReportsToo) {
    ScriptFindingSink previous = findingSink;
    findingSink = sink;
    findingsReportedToo = sink && playerReportsToo;
    return previous;
}

std::vector<std::string> ScriptLoader::defineNames() const {
    std::vector<std::string> names;
    for (const auto& define : defines)
        names.push_back(define.first);
    return names;
}

void ScriptLoader::note(int line, ScriptFinding::Severity severity, const std::string& message,
                        ScriptFinding::Player player, const std::vector<std::string>& suggestions,
                        bool reported) {
    if (!findingSink) return;
    ScriptFinding f;
    f.line = line;
    f.severity = severity;
    f.text = message;
    f.player = player;
    f.suggestions = suggestions;
    f.reported = reported;
    findingSink(f);
}

Effect* ScriptLoader::requireEffect(const std::string& effectName) {
    Effect* effect = effectList->findEffect(effectName);
    if (!effect) {
        const auto& table = EffectList::scriptNames();
        const bool known = std::find(table.begin(), table.end(), effectName) != table.end();
        fail(__FILE__, __LINE__, "Effect not found", effectName, "",
             suggest::closest(effectName, effectNames()),
             known ? "no INSERT_EFFECT " + effectName + " comes before it" : "");
    }
    return effect;
}

void ScriptLoader::signalStatement(int time, const std::string& effectName) {
    const std::string variableName = readWord();
    const LineValue line = readLineValue();

    Effect* effect = requireEffect(effectName);
    Variable* variable = effect->findVariable(variableName);
    if (!variable) {
        std::vector<std::string> names;
        for (const Variable* v : effect->variables)
            names.push_back(v->name);
        fail(__FILE__, __LINE__, "Variable not found", variableName, "among the variables of " + effectName,
             suggest::closest(variableName, names));
    }

    timeline.back().variable = variableName;
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
    if (!timelineMode) {
        note(statementLine, ScriptFinding::Severity::Warning,
             "`SIGNAL " + effectName + " " + variableName +
                 "` with a number keys nothing before __TIMELINE__: put it after that word",
             ScriptFinding::Player::Skips);
        return;
    }
    if (line.text.empty()) {
        timeline.back().keyed = true;
        timeline.back().value = v;
    }
    if (variable->count > 1) v = v * static_cast<float>(variable->count - 1);
    variable->addKey(v, time);
}

void ScriptLoader::triggerStatement(int time, const std::string& effectName) {
    const std::string signalName = readWord();
    const LineValue line = readLineValue();
    auto it = defines.find(signalName);
    if (it == defines.end()) {    // undefined signal names are ignored
        if (!findingSink) return; // only a checking tool hears of it
        const bool number = !signalName.empty() && (isDigit(signalName[0]) || signalName[0] == '-');
        const std::vector<std::string> meant =
            number ? std::vector<std::string>() : suggest::closest(signalName, defineNames());
        note(statementLine, ScriptFinding::Severity::Warning,
             "TRIGGER type `" + signalName + "` is not a DEFINE name, so the line is ignored" +
                 (number ? " (DEFINE a name for the number and use that)" : "") +
                 (meant.empty() ? "" : "; " + suggest::didYouMean(meant, "`")),
             ScriptFinding::Player::Skips, meant);
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
    const int time = wrapAdd(readExpression(first, nullptr), timeOffset);
    const std::string command = takeWord();
    const int commandLine = currentLine();
    const std::string effectName = readWord();
    TimelineLine seen;
    seen.line = statementLine;
    seen.time = time;
    seen.command = command;
    seen.effect = effectName;
    timeline.push_back(std::move(seen));

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
    } else if (!command.empty() && !unknown.active) {
        // Any other command word: the statement ends after the effect name. Whether the player
        // then skips it or stops is up to the rest of the line, which reads as new statements.
        unknown.active = true;
        unknown.word = command;
        unknown.line = commandLine;
        unknown.suggestions = suggest::closest(command, commandWords());
        unknown.hint = std::strchr("/%^(", command[0]) ? "expressions join terms with +, - and * only" : "";
    }
}

// The statements after an unknown command word went through: the player has skipped it.
void ScriptLoader::skippedUnknownWord() {
    unknown.active = false;
    const std::string tip = advice(unknown.hint, unknown.suggestions, "`");
    note(unknown.line, ScriptFinding::Severity::Error,
         "unknown statement `" + unknown.word + "`: the player skips it" +
             (tip.empty() ? kCommandList : "; " + tip),
         ScriptFinding::Player::Skips, unknown.suggestions);
}

std::string ScriptLoader::failureContext(const std::string& report, const std::string& word,
                                         const std::string& reading, const std::vector<std::string>& meant,
                                         const std::string& hint) {
    const int line = currentLine();
    std::string context = " (script line " + std::to_string(line);
    std::string tip;
    if (unknown.active) {
        // The word the loader trips over only follows from the unknown one: name that.
        context += ", after unknown word '" + unknown.word + "'";
        if (unknown.line != line) context += " on line " + std::to_string(unknown.line);
        tip = advice(unknown.hint, unknown.suggestions, "'");
        unknown.active = false;
        const std::string findingTip = advice(unknown.hint, unknown.suggestions, "`");
        note(unknown.line, ScriptFinding::Severity::Error,
             "unknown statement `" + unknown.word + "`: the player stops " +
                 (line == unknown.line ? std::string("here") : "on line " + std::to_string(line)) +
                 " with \"" + report + "\"" + (findingTip.empty() ? kCommandList : "; " + findingTip),
             ScriptFinding::Player::Stops, unknown.suggestions);
    } else {
        if (!reading.empty()) context += ", " + reading;
        tip = advice(hint, meant, "'");
    }
    if (word.empty() && textEnded) context += ", at the end of the script";
    if (!tip.empty()) context += "; " + tip;
    return context + ")";
}

void ScriptLoader::fail(const char* file, int line, const char* message, const std::string& word,
                        const std::string& reading, const std::vector<std::string>& meant,
                        const std::string& hint) {
    const std::string detail =
        word + failureContext(std::string(message) + ": " + word, word, reading, meant, hint);
    fatalText(file, line, message, detail);
}

// Signals for an effect the script never inserted, and links to one, are dropped when they are
// delivered: say so once per name, as a misspelt name is the likely cause.
void ScriptLoader::checkSignalTargets() {
    std::vector<std::string> said;
    const std::vector<std::string> names = effectNames();
    auto tell = [&](const char* what, const std::string& name, int line) {
        const std::string key = std::string(what) + '\n' + name;
        if (std::find(said.begin(), said.end(), key) != said.end()) return;
        said.push_back(key);
        const std::vector<std::string> meant = suggest::closest(name, names);
        if (findingSink)
            note(line, ScriptFinding::Severity::Warning,
                 std::string(what) + ": " + name + " (the script inserts no effect of that name" +
                     (meant.empty() ? "" : "; " + suggest::didYouMean(meant, "`")) + ")",
                 ScriptFinding::Player::Skips, meant, findingsReportedToo);
        if (!findingSink || findingsReportedToo) {
            const std::string tip = meant.empty() ? "" : "; " + suggest::didYouMean(meant);
            reportErrorText(__FILE__, __LINE__, what,
                            (name + " (script line " + std::to_string(line) + tip + ")").c_str(), false);
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
    startLine = 0;
    statements = 0;
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
        const EffectInProgress inProgress(effect);
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
    int commentLine = 0;
    setupMode = false;
    timelineMode = false;
    unknown = UnknownWord();
    textEnded = false;

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
            commentLine = currentLine();
            restOfLine();
            continue;
        }
        const size_t lineComment = word.find("//");
        if (lineComment != std::string::npos && lineComment <= 2) {
            restOfLine();
            continue;
        }

        // A statement at the start of a line: the words of an unknown command's line went through.
        if (unknown.active && startsItsLine(wordStart)) skippedUnknownWord();
        statementLine = currentLine();
        ++statements;
        if (word == "__HEADER__" || word == "__DEFS__") {
        } else if (word == "__SETUP__") {
            setupMode = true;
        } else if (word == "__TIMELINE__") {
            timelineMode = true;
        } else if (word == "__LINETIME__") {
            break;
        } else if (word == "DEMO_START") {
            demoStart = readExpression(readWord(), "DEMO_START");
            startLine = statementLine;
        } else if (word == "DEMO_END") {
            demoEnd = readExpression(readWord(), "DEMO_END");
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
            lengthLine = statementLine;
            runLength = readLength();
        } else if (word == "DEMO_BEAT") {
            beat = readExpression(readWord(), "DEMO_BEAT");
        } else if (word == "DEMO_FULLSCREEN" || word == "DEMO_MUSIC") {
            skipNumber();
        } else if (word == "DEFINE") {
            const std::string defineName = readWord();
            if (!defineName.empty() && isDigit(defineName[0]))
                fail(__FILE__, __LINE__, "DEFINE id cannot start with digit", defineName);
            const std::string what = "DEFINE " + defineName;
            const int value = readExpression(readWord(), what.c_str());
            defines.emplace(defineName, value); // the first definition stays
        } else if (word == "INSERT_EFFECT") {
            const std::string effectName = readWord();
            if (!firstTrackLine) firstTrackLine = statementLine;
            inserts.push_back(statementLine);
            effectList->createEffect(effectName, [&] {
                return failureContext("Effect Id not found: " + effectName, effectName, "",
                                      suggest::closest(effectName, EffectList::scriptNames()), "");
            });
        } else if (word == "TIMEOFFSET") {
            timeOffset = readExpression(readWord(), "TIMEOFFSET");
        } else {
            timelineStatement(word);
        }
    }

    if (unknown.active) skippedUnknownWord();
    if (inComment)
        note(commentLine, ScriptFinding::Severity::Error,
             "the /* comment opened here is never closed: the player ignores the rest of the script");

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
