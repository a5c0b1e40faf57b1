// Reads the demo script: creates the effects, keys their tracks and variables, fills the signal
// queue and sets the global demo times.
#pragma once

#include <map>
#include <string>
#include <vector>

class Effect;

// What a checking tool wants to hear of a load beyond the player's own reports: things the player
// accepts silently but that make a demo show something other than its author meant.
struct ScriptFinding {
    enum class Severity { Error, Warning };
    // What the player does there: takes the line as it stands, drops it (or the signal it makes)
    // and reads on, or stops the load with a fatal report.
    enum class Player { RunsOn, Skips, Stops };
    int line = 0; // script line, from 1
    Severity severity = Severity::Warning;
    std::string text; // says what the player does, and what was probably meant
    Player player = Player::RunsOn;
    std::vector<std::string> suggestions; // known words the author probably meant, best first
    bool reported = false;                // the player reports it too (a box, and on stderr)
};
using ScriptFindingSink = void (*)(const ScriptFinding&);

class ScriptLoader {
  public:
    // Loads the whole script; on return the effect list, the signal queue and the demo times
    // are complete. Every script error is fatal; a report that names a word of the script ends
    // with the word's script line, what the loader was reading and what was probably meant.
    // Creates the effect list and signal queue first if nobody has.
    void load(const char* fileName);
    // The same from a script already in memory (a tool replaying the last good version).
    void loadText(const std::string& script);

    // DEFINE names of the last load.
    const std::map<std::string, int>& defined() const { return defines; }
    // While a load runs (a report made during it asks): the script line being read, from 1;
    // 0 outside a load.
    int currentLine() const;

    // Installs the observer of findings (nullptr: none); returns the one it replaces. With one
    // installed, the loader's own notices (a signal for an effect that does not exist) go to it
    // instead of being reported, unless `playerReportsToo` (a player that lists findings keeps
    // its own reports; those findings then say `reported`).
    static ScriptFindingSink setFindingSink(ScriptFindingSink sink, bool playerReportsToo = false);
    // Whether a load ends with every effect's warm-up (Effect::warmUp; on unless turned off). Tools
    // that draw no frames turn it off; the checker also tries what signals load at their own lines.
    static void setWarmUp(bool on);

    // Where the last load found things, for reports that name script lines.
    struct TimelineLine {
        int line = 0;
        int time = 0; // ms, TIMEOFFSET included
        std::string command;
        std::string effect;
        // A SIGNAL line: the variable, and whether its number (as written, before any scaling) keyed it.
        std::string variable;
        bool keyed = false;
        float value = 0.0f;
    };
    const std::vector<TimelineLine>& timelineLines() const { return timeline; }
    // The line of each INSERT_EFFECT, in the order of the effect list.
    const std::vector<int>& insertLines() const { return inserts; }
    // The line of DEMO_LENGTH; 0 without one.
    int demoLengthLine() const { return lengthLine; }
    // The line of the last DEMO_END; 0 without one.
    int demoEndLine() const { return endLine; }
    // The line of the last DEMO_START; 0 without one.
    int demoStartLine() const { return startLine; }
    // Statements the last load read (comments and blank space are none).
    int statementCount() const { return statements; }

  private:
    void clearTimeline();
    void parse(const char* scriptText, size_t scriptLength);
    // Every effect's warmUp, leaving the random numbers where the load left them.
    void warmUpEffects();

    struct LineValue {
        std::string text;
        float value = 0.0f;        // the first number of the last run of numbers
        std::vector<float> extras; // the numbers after it in each run, in line order
        float extra(size_t i) const { return i < extras.size() ? extras[i] : 0.0f; }
    };

    // Lexer over the script text.
    std::string readWord();
    std::string takeWord(); // the lookahead if any, else the next word
    std::string restOfLine();
    void skipNumber();
    LineValue readLineValue();
    bool startsItsLine(size_t at) const;

    // `what` names, for reports, whose value the expression is ("DEMO_BEAT"); null: the time of a
    // timeline statement, whose first word is the statement's.
    int readExpression(const std::string& first, const char* what);
    int termValue(const std::string& word, const char* what, bool first);
    int readLength();

    // Ends the load with the report "message: word (context)".
    [[noreturn]] void fail(const char* file, int line, const char* message, const std::string& word,
                           const std::string& reading = std::string(),
                           const std::vector<std::string>& meant = {},
                           const std::string& hint = std::string());
    // The context of a fatal report on `word`, in parentheses after a blank; says first, to a
    // checking tool, that an unknown command word before it is why the player stops.
    std::string failureContext(const std::string& report, const std::string& word, const std::string& reading,
                               const std::vector<std::string>& meant, const std::string& hint);
    void skippedUnknownWord();

    void timelineStatement(const std::string& first);
    void signalStatement(int time, const std::string& effectName);
    void triggerStatement(int time, const std::string& effectName);
    Effect* requireEffect(const std::string& effectName);
    std::vector<std::string> defineNames() const;
    void note(int line, ScriptFinding::Severity severity, const std::string& text,
              ScriptFinding::Player player = ScriptFinding::Player::RunsOn,
              const std::vector<std::string>& suggestions = {}, bool reported = false);
    void checkSignalTargets();

    std::map<std::string, int> defines;
    std::string lookahead;
    bool hasLookahead = false;
    size_t lookaheadStart = 0;

    // State of one load.
    const char* text = nullptr;
    size_t length = 0;
    size_t pos = 0;
    int timeOffset = 0;
    bool setupMode = false;
    bool timelineMode = false;
    int firstTrackLine = 0; // line of the first INSERT_EFFECT
    int lengthLine = 0;
    int endLine = 0;
    int startLine = 0;
    int statements = 0;
    int statementLine = 0;  // line of the statement being read
    size_t wordStart = 0;   // where the word taken last starts
    bool textEnded = false; // the last word read was the empty one at the end of the text
    // A command word no statement has, from the moment it is read until the loader reads a
    // statement at the start of a line again: meanwhile the rest of its line reads as new
    // statements, and what they trip over is its doing.
    struct UnknownWord {
        bool active = false;
        std::string word;
        int line = 0;
        std::vector<std::string> suggestions;
        std::string hint; // when no known word is close
    } unknown;
    // currentLine's count so far: line ends before countedTo in countedText.
    mutable const char* countedText = nullptr;
    mutable size_t countedTo = 0;
    mutable int countedLines = 1;
    std::vector<TimelineLine> timeline;
    std::vector<int> inserts;
};

// The one loader of the program.
extern ScriptLoader scriptLoader;
