// The demo script loader, driven by small scripts written to a temp dir.
#include "ProbeEffect.h"

#include "GLTest.h"
#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"

#include <gtest/gtest.h>

namespace {

std::string regexEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

template <typename T> std::vector<std::pair<int, T>> keysOf(const std::vector<Key<T>>& keys) {
    std::vector<std::pair<int, T>> out;
    for (const auto& k : keys)
        out.emplace_back(k.time, k.value);
    return out;
}
using BoolKeys = std::vector<std::pair<int, bool>>;
using IntKeys = std::vector<std::pair<int, int>>;
using FloatKeys = std::vector<std::pair<int, float>>;

class Script : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    void load(const std::string& text) {
        writeFile(path, text);
        scriptLoader.load(path.c_str());
    }
    // The script must end the process with exit code 1 and this report.
    void expectFatal(const std::string& text, const std::string& report) {
        EXPECT_EXIT(load(text), ::testing::ExitedWithCode(1), regexEscape(report)) << text;
    }
    ProbeEffect* probe(const std::string& name) {
        auto* e = static_cast<ProbeEffect*>(effectList->findEffect(name));
        EXPECT_NE(e, nullptr) << name;
        return e;
    }
    BoolKeys active(const std::string& name) { return keysOf(probe(name)->activeTrack.keys); }
    // Loads a script that must stop the load; returns the fatal report without the reporting
    // code's place.
    std::string stopText(const std::string& text) {
        report::FatalGuard guard;
        const bool echo = report::setEcho(false);
        std::string stop;
        try {
            load(text);
            ADD_FAILURE() << "no fatal report: " << text;
        } catch (const report::FatalError& e) {
            EXPECT_TRUE(e.record.fatal);
            stop = e.record.text.substr(e.record.text.find(' ') + 1);
        }
        report::setEcho(echo);
        return stop;
    }

    DemoFixtureState state;
    std::string path = makeTempDir() + "/demo.scr";
};

TEST_F(Script, HeaderValuesAndDefaults) {
    load("INSERT_EFFECT ProbeA\n");
    EXPECT_EQ(demoStartTime, 0);
    EXPECT_EQ(demoEndTime, 60000);
    EXPECT_EQ(beatLength, 100);
    EXPECT_EQ(trackEndTime, 0); // no DEMO_END: tracks end at 0
    EXPECT_TRUE(probe("ProbeA")->activeTrack.keys.empty());

    load("__HEADER__\nDEMO_START 12000\nDEMO_END 90000\nDEMO_BEAT 125\nDEMO_FULLSCREEN 1\nDEMO_MUSIC 0\n"
         "__DEFS__\nINSERT_EFFECT ProbeB\n");
    EXPECT_EQ(effectList->effects().size(), 1u); // the previous load's effects are gone
    EXPECT_EQ(demoStartTime, 12000);
    EXPECT_EQ(demoEndTime, 90000);
    EXPECT_EQ(beatLength, 125);
    EXPECT_EQ(trackEndTime, 90000);
}

TEST_F(Script, TheEndTimeAppliesToTracksMadeAfterIt) {
    load("INSERT_EFFECT ProbeA\nDEMO_END 30000\nINSERT_EFFECT ProbeB\n"
         "1000 BEGIN ProbeA\n1000 BEGIN ProbeB\n5000 END ProbeB\nINSERT_EFFECT ProbeC\n");
    EXPECT_TRUE(active("ProbeA").empty()); // {0, 0} took no later key and compacted
    EXPECT_FALSE(probe("ProbeA")->activeTrack.value);
    EXPECT_EQ(active("ProbeB"), (BoolKeys{{0, false}, {1000, true}, {5000, false}, {30000, false}}));
    EXPECT_TRUE(active("ProbeC").empty()); // never begun: constant false
    EXPECT_FALSE(probe("ProbeC")->activeTrack.value);
}

TEST_F(Script, Comments) {
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n"
         "/* DEMO_BEAT 5 */ the closing mark on the opening line goes with the line\n"
         "DEMO_BEAT 6\n1000 BEGIN ProbeA\n"
         "*/DEMO_BEAT 250\n"
         "x/*y*/ a mark inside the opening word does not close it\n"
         "3000 BEGIN ProbeA\n"
         "*/ 2000 BEGIN ProbeA\n"
         "// DEMO_BEAT 9\n"
         "a//b DEMO_BEAT 10\n"
         "ab// DEMO_BEAT 11\n"
         "//\n"
         "100//x BEGIN ProbeA\n");
    EXPECT_EQ(beatLength, 250);
    EXPECT_EQ(active("ProbeA"), (BoolKeys{{0, false}, {100, true}, {2000, true}, {60000, false}}));

    // A comment drops at most 199 characters of its line.
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n"
         "// " +
         std::string(198, 'y') +
         " 2000 BEGIN ProbeA\n"
         "// 4000 END ProbeA\n");
    EXPECT_EQ(active("ProbeA"), (BoolKeys{{0, false}, {2000, true}, {60000, false}}));
}

TEST_F(Script, DefinesAndExpressions) {
    load("DEMO_END 60000\n"
         "DEFINE INTRO 1000\nDEFINE INTRO 5000\n" // the first definition stays
         "DEFINE TWICE INTRO * 2\nDEFINE MIXED 2 + 3 * 4\nDEFINE LEFT 10 - 2 - 3\nDEFINE ZERO 0abc\n"
         "DEFINE NEG -7\nDEFINE NUM 12abc\n"
         "DEMO_START INTRO - 500\n"
         "INSERT_EFFECT ProbeA\n"
         "TIMEOFFSET 10000\nINTRO + 250 b ProbeA\nTIMEOFFSET 0\n"
         "TWICE b ProbeA\n"
         "1000 +500 3000 e ProbeA\n"); // "+500" is the operator; the word after it the operand
    const auto& d = scriptLoader.defined();
    EXPECT_EQ(d.at("INTRO"), 1000);
    EXPECT_EQ(d.at("TWICE"), 2000);
    EXPECT_EQ(d.at("MIXED"), 20); // strictly left to right
    EXPECT_EQ(d.at("LEFT"), 5);
    EXPECT_EQ(d.at("ZERO"), 0);
    EXPECT_EQ(d.at("NEG"), -7);
    EXPECT_EQ(d.at("NUM"), 12);
    EXPECT_EQ(demoStartTime, 500);
    EXPECT_EQ(active("ProbeA"),
              (BoolKeys{{0, false}, {2000, true}, {4000, false}, {11250, true}, {60000, false}}));
}

TEST_F(Script, LongAndShortCommands) {
    load("DEMO_END 60000\nDEFINE LINK 2\nINSERT_EFFECT ProbeA\n__TIMELINE__\n"
         "100 b ProbeA\n200 l ProbeA 3\n250 SET_LAYER ProbeA 4\n300 i ProbeA\n350 INIT ProbeA\n"
         "400 s ProbeA Amount 0.75\n450 SIGNAL ProbeA Amount 0.25\n"
         "500 t ProbeA LINK \"ProbeA\"\n550 TRIGGER ProbeA LINK \"ProbeB\"\n"
         "600 e ProbeA\n650 BEGIN ProbeA\n700 BOGUS ProbeA\n750 END ProbeA\n");
    EXPECT_EQ(active("ProbeA"),
              (BoolKeys{{0, false}, {100, true}, {600, false}, {650, true}, {750, false}, {60000, false}}));
    EXPECT_EQ(keysOf(probe("ProbeA")->amount.keys),
              (FloatKeys{{0, 0.75f}, {400, 0.75f}, {450, 0.25f}, {60000, 0.75f}}));
    const auto& signals = signalQueue->all();
    ASSERT_EQ(signals.size(), 4u);
    EXPECT_EQ(signals[0].time, 300);
    EXPECT_EQ(signals[0].type, 0);
    EXPECT_EQ(signals[1].time, 350);
    EXPECT_EQ(signals[2].type, 2);
    EXPECT_EQ(signals[2].text, "ProbeA");
    EXPECT_EQ(signals[3].text, "ProbeB");
}

TEST_F(Script, SignalDependsOnTheSectionAndTheVariable) {
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n"
         "1000 SIGNAL ProbeA Amount 0.5\n" // before any section: nothing
         "1000 SIGNAL ProbeA File \"early.qzg\"\n"
         "__SETUP__\n"
         "0 SIGNAL ProbeA Amount 0.3\n" // numbers set nothing in the setup section
         "0 SIGNAL ProbeA File \"a.qzg\"\n0 s ProbeA File \"b.qzg\"\n0 s ProbeA File \"c.qzg\"\n"
         "0 s ProbeA Title \"setup-text\"\n" // texts of string variables are keys everywhere
         "__TIMELINE__\n"
         "2000 s ProbeA Amount 0.5\n"
         "3000 s ProbeA Steps 0.5\n"      // count 3: fraction 0.5 is index 1
         "4000 s ProbeA File \"b.qzg\"\n" // item 1 of 3 is the fraction 0.5: key 2
         "5000 s ProbeA File \"zzz\"\n"   // not in the list: index 0
         "6000 s ProbeA Steps 1\n"
         "7000 s ProbeA Flag 0.2\n"
         "8000 s ProbeA Title \"late\"\n");
    ProbeEffect* p = probe("ProbeA");
    EXPECT_EQ(p->list0, (std::vector<std::string>{"a.qzg", "b.qzg", "c.qzg"}));
    EXPECT_EQ(p->itemsAdded, (std::vector<std::string>{"0:a.qzg:1", "0:b.qzg:2", "0:c.qzg:3"}));
    EXPECT_EQ(p->file.count, 3);
    EXPECT_EQ(keysOf(p->amount.keys), (FloatKeys{{0, 0.5f}, {2000, 0.5f}, {60000, 0.5f}}));
    EXPECT_EQ(keysOf(p->steps.keys), (IntKeys{{0, 1}, {3000, 1}, {6000, 2}, {60000, 1}}));
    EXPECT_EQ(keysOf(p->file.keys), (IntKeys{{0, 2}, {4000, 2}, {5000, 0}, {60000, 2}}));
    EXPECT_EQ(keysOf(p->flag.keys), (BoolKeys{{0, true}, {7000, true}, {60000, true}}));
    EXPECT_EQ(keysOf(p->title.keys), (std::vector<std::pair<int, std::string>>{
                                         {0, "setup-text"}, {8000, "late"}, {60000, "setup-text"}}));

    // Count scaling leaves counts below two alone: count 1 is used unchanged (truncated).
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n__TIMELINE__\n"
         "0 s ProbeA File 0.7\n1000 s ProbeA File 3.9\n");
    EXPECT_EQ(keysOf(probe("ProbeA")->file.keys), (IntKeys{{0, 0}, {1000, 3}, {60000, 0}}));

    // String variables take the text before any section too.
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n0 s ProbeA Pattern \"1010\"\n");
    p = probe("ProbeA");
    EXPECT_TRUE(p->pattern.keys.empty()); // {0, 60000} compacted
    EXPECT_EQ(p->pattern.value, "1010");
}

TEST_F(Script, TriggerTakesADefinedTypeAndUpToTwoExtraValues) {
    load("DEFINE FLASH 7\nINSERT_EFFECT ProbeA\n"
         "500 t ProbeA FLASH\n"
         "100 t Nobody FLASH 1 2 3 4\n" // missing effects are not checked here
         "200 t ProbeA UNDEFINED 1\n"
         "300 t ProbeA FLASH \"txt\" 0.5 0.25\n"
         "300 t ProbeA FLASH\t-1.5 \t2e1   \n"
         "400 t ProbeA FLASH 0.5 \"after\"\n"
         "600 t ProbeA FLASH 1\t2 3\n"          // only a blank goes on after a number: a tab ends the value
         "700 t ProbeA FLASH 1 \"txt\" 2 3\n"); // numbers after the text are read as the value again
    const auto& s = signalQueue->all();
    ASSERT_EQ(s.size(), 7u);
    EXPECT_EQ(s[0].time, 100);
    EXPECT_EQ(s[0].effectName, "Nobody");
    EXPECT_EQ(s[0].type, 7);
    EXPECT_FLOAT_EQ(s[0].value, 1.0f);
    EXPECT_FLOAT_EQ(s[0].values[1], 2.0f);
    EXPECT_FLOAT_EQ(s[0].values[2], 3.0f);
    EXPECT_EQ(s[1].text, "txt");
    EXPECT_FLOAT_EQ(s[1].value, 0.5f);
    EXPECT_FLOAT_EQ(s[1].values[0], 0.5f);
    EXPECT_FLOAT_EQ(s[1].values[1], 0.25f);
    EXPECT_FLOAT_EQ(s[1].values[2], 0.0f);
    EXPECT_FLOAT_EQ(s[2].value, -1.5f); // same time: script order
    EXPECT_FLOAT_EQ(s[2].values[1], 20.0f);
    EXPECT_FLOAT_EQ(s[3].value, 0.5f);
    EXPECT_EQ(s[3].text, "after");
    EXPECT_EQ(s[4].time, 500);
    EXPECT_EQ(s[4].text, "");
    EXPECT_FLOAT_EQ(s[4].value, 0.0f);
    EXPECT_FLOAT_EQ(s[5].value, 1.0f);
    EXPECT_FLOAT_EQ(s[5].values[1], 0.0f);
    EXPECT_FLOAT_EQ(s[5].values[2], 0.0f);
    EXPECT_EQ(s[6].text, "txt");
    EXPECT_FLOAT_EQ(s[6].value, 2.0f);
    EXPECT_FLOAT_EQ(s[6].values[0], 2.0f);
    EXPECT_FLOAT_EQ(s[6].values[1], 3.0f);
}

TEST_F(Script, LinetimeEndsTheScript) {
    load("DEMO_END 60000\nINSERT_EFFECT ProbeA\n100 b ProbeA\n__LINETIME__\n"
         "200 e ProbeA\n300 BEGIN Nobody\nFOO \"unclosed\n");
    EXPECT_EQ(active("ProbeA"), (BoolKeys{{0, false}, {100, true}, {60000, false}}));
}

TEST_F(Script, MalformedValuesNeverStallTheLoader) {
    load("DEMO_END 60000\nDEMO_FULLSCREEN yes\nDEMO_MUSIC\n1\nDEMO_MUSIC 1// music on\n"
         "DEMO_BEAT 50\nDEFINE T 9\nINSERT_EFFECT ProbeA\n"
         "100 l ProbeA top\n"
         "120 l ProbeA 2// the number ends before the comment\n"
         "150 t ProbeA T 0.5   \n" // trailing blanks
         "160 t ProbeA T 1 " +
         [] {
             std::string many;
             for (int i = 0; i < 150; ++i)
                 many += "2 ";
             return many;
         }() +
         "\n" // longer than the line buffer: the rest of the line is skipped
         "170 t ProbeA T junk 5\n"
         "200 b ProbeA\n");
    EXPECT_EQ(effectList->effects().size(), 1u);
    const auto& s = signalQueue->all();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_FLOAT_EQ(s[0].value, 0.5f);
    EXPECT_FLOAT_EQ(s[1].values[2], 2.0f);
    EXPECT_FLOAT_EQ(s[2].value, 0.0f);
    EXPECT_EQ(active("ProbeA"), (BoolKeys{{0, false}, {200, true}, {60000, false}}));
    EXPECT_EQ(beatLength, 50);
}

// The original's messages, each with the script line, what the loader was reading and what was
// probably meant; and this player's own: a NUL byte would end the text early and drop the
// statements after it without a word.
TEST_F(Script, EveryFatalMessage) {
    EXPECT_EXIT(scriptLoader.load((path + ".missing").c_str()), ::testing::ExitedWithCode(1),
                "script: could not open file for parsing");
    const std::string nul(1, '\0');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {nul + "DEMO_BEAT 7\n", "NUL byte in script: line 1\n"},
        {"DEMO_BEAT 5\n\nDEMO_BEAT 6" + nul + "\nDEMO_BEAT 7\n", "NUL byte in script: line 3\n"},
        {"// comment\r\nDEMO_BEAT 5\r\n" + nul, "NUL byte in script: line 3\n"},
        {"INSERT_EFFECT ProbeA\n100 t ProbeA X \"abc\n",
         "Error in script string: abc (script line 2, no closing quote on the line)\n"},
        {"INSERT_EFFECT ProbeA\n100 t ProbeA X \"\"\n",
         "Error in script string:  (script line 2, an empty quoted text)\n"},
        {"INSERT_EFFECT ProbeA\n100 s ProbeA Title \"" + std::string(120, 'q') + "\"\n",
         "Error in script string: " + std::string(99, 'q') +
             " (script line 2, no closing quote within 99 characters)\n"},
        {"DEMO_BEAT NOPE\n", "DEFINE not found: NOPE (script line 1, in the value of DEMO_BEAT)\n"},
        {"DEFINE A 1\nA + B b ProbeA\n",
         "DEFINE not found: B (script line 2, in the time of a timeline statement)\n"},
        // An expression cut short by the end of the text.
        {"DEMO_BEAT",
         "DEFINE not found:  (script line 1, in the value of DEMO_BEAT, at the end of the script)\n"},
        {"DEFINE INTRO 5\nDEFINE OUTRO 9\nTIMEOFFSET intro\n",
         "DEFINE not found: intro (script line 3, in the value of TIMEOFFSET; did you mean 'INTRO'?)\n"},
        {"DEFINE BIG 4294967296\n",
         "DEFINE not found: 4294967296 (script line 1, in the value of DEFINE BIG; "
         "a number this large wraps to 0 in 32 bits)\n"},
        // Keywords are case-sensitive; a misspelt one starts a timeline statement.
        {"demo_beat 5\n", "DEFINE not found: demo_beat (script line 1, read as the time of a timeline "
                          "statement; did you mean 'DEMO_BEAT'?)\n"},
        {"DEFINE 9LIVES 9\n", "DEFINE id cannot start with digit: 9LIVES (script line 1)\n"},
        {"\nINSERT_EFFECT Blur2\n", "Effect Id not found: Blur2 (script line 2; did you mean 'Blur'?)\n"},
        {"100 BEGIN Nobody\n", "Effect not found: Nobody (script line 1)\n"},
        {"INSERT_EFFECT ProbeA\n100 e ProbeB\n",
         "Effect not found: ProbeB (script line 2; did you mean 'ProbeA'?)\n"},
        {"__TIMELINE__\n100 s Blur Amount 1\n",
         "Effect not found: Blur (script line 2; no INSERT_EFFECT Blur comes before it)\n"},
        {"INSERT_EFFECT ProbeA\n__TIMELINE__\n100 s ProbeA Nothing 1\n",
         "Variable not found: Nothing (script line 3, among the variables of ProbeA)\n"},
        {"INSERT_EFFECT ProbeA\n__TIMELINE__\n100 s ProbeA amount 1\n",
         "Variable not found: amount (script line 3, among the variables of ProbeA; did you mean "
         "'Amount'?)\n"},
    };
    for (const auto& [script, report] : cases)
        expectFatal(script, report);
    // 99 characters of quoted text fit.
    load("DEFINE X 1\n100 t ProbeA X \"" + std::string(99, 'q') + "\"\n");
    EXPECT_EQ(signalQueue->all().at(0).text, std::string(99, 'q'));
}

std::vector<ScriptFinding> findingsSeen;
void keepFinding(const ScriptFinding& f) {
    findingsSeen.push_back(f);
}

// After an unknown command word the statement ends at the effect name and the rest of the line
// reads as new statements: what they trip over is named as the unknown word's doing, and a
// checking tool hears whether the player stops there or skips the word.
TEST_F(Script, UnknownCommandWordsStopOrAreSkipped) {
    findingsSeen.clear();
    const ScriptFindingSink previous = ScriptLoader::setFindingSink(keepFinding);
    using Player = ScriptFinding::Player;

    EXPECT_EQ(
        stopText("DEMO_END 1000\nINSERT_EFFECT ProbeA\n1000 SINGAL ProbeA Amount 0.5\n"),
        "DEFINE not found: Amount (script line 3, after unknown word 'SINGAL'; did you mean 'SIGNAL'?)");
    ASSERT_EQ(findingsSeen.size(), 1u);
    EXPECT_EQ(findingsSeen[0].line, 3);
    EXPECT_EQ(findingsSeen[0].severity, ScriptFinding::Severity::Error);
    EXPECT_EQ(findingsSeen[0].player, Player::Stops);
    EXPECT_EQ(findingsSeen[0].suggestions, std::vector<std::string>{"SIGNAL"});
    EXPECT_EQ(
        findingsSeen[0].text,
        "unknown statement `SINGAL`: the player stops here with \"DEFINE not found: Amount\"; did you mean "
        "`SIGNAL`?");

    // Expressions know no division: "/" is read as the command.
    findingsSeen.clear();
    EXPECT_EQ(
        stopText("DEFINE OUTRO 100\nDEFINE BAR 10\nOUTRO + BAR / 2 SIGNAL ProbeA Amount 1\n"),
        "DEFINE not found: SIGNAL (script line 3, after unknown word '/'; expressions join terms with +, - "
        "and * only)");

    // The stray words can take the next line along.
    findingsSeen.clear();
    EXPECT_EQ(stopText("INSERT_EFFECT ProbeA\n3000 SIGNL ProbeA 0.5\n4000 BEGIN ProbeA\n"),
              "DEFINE not found: ProbeA (script line 3, after unknown word 'SIGNL' on line 2; did you mean "
              "'SIGNAL'?)");
    ASSERT_EQ(findingsSeen.size(), 1u);
    EXPECT_EQ(findingsSeen[0].line, 2);
    EXPECT_EQ(findingsSeen[0].text.substr(0, 57),
              "unknown statement `SIGNL`: the player stops on line 3 wit");

    // Skipped: the next statement starts a line of its own, or the script ends.
    findingsSeen.clear();
    load("DEMO_END 9000\nINSERT_EFFECT ProbeA\n1000 FOO ProbeA\n2000 signal ProbeA\n3000 BEGIN ProbeA\n"
         "4000 TRIGER ProbeA");
    EXPECT_EQ(active("ProbeA"), (BoolKeys{{0, false}, {3000, true}, {9000, false}}));
    ASSERT_EQ(findingsSeen.size(), 3u);
    EXPECT_EQ(findingsSeen[0].line, 3);
    EXPECT_EQ(findingsSeen[0].player, Player::Skips);
    EXPECT_EQ(findingsSeen[0].text,
              "unknown statement `FOO`: the player skips it (statements are BEGIN, END, "
              "INIT, SIGNAL, TRIGGER and SET_LAYER, or b, e, i, s, t and l)");
    EXPECT_EQ(findingsSeen[1].line, 4);
    EXPECT_EQ(findingsSeen[1].text,
              "unknown statement `signal`: the player skips it; did you mean `SIGNAL`?");
    EXPECT_EQ(findingsSeen[2].line, 6);
    EXPECT_EQ(findingsSeen[2].suggestions, std::vector<std::string>{"TRIGGER"});

    ScriptLoader::setFindingSink(previous);
}

// DEMO_LENGTH (this player's own statement) takes one plain number, so that nothing wraps or reads
// as a name; anything else stops the load naming the word at fault.
TEST_F(Script, DemoLengthTakesDigitsOnly) {
    load("DEMO_LENGTH 2147483647 // the largest\n");
    EXPECT_EQ(demoLength, 2147483647);
    load("DEMO_LENGTH 0025000\nDEMO_BEAT 50\n");
    EXPECT_EQ(demoLength, 25000);
    EXPECT_EQ(beatLength, 50);
    EXPECT_EQ(scriptLoader.demoLengthLine(), 1);

    const std::string form = "; digits only, 1 to 2147483647)";
    for (const char* word :
         {"12157521919", "4294967296", "2147483648", "1e4", "3s", "-5", "+5", "0", "INTRO"})
        EXPECT_EQ(stopText(std::string("DEFINE INTRO 500\nDEMO_LENGTH ") + word + "\n"),
                  std::string("DEMO_LENGTH must be a positive number of ms: ") + word + " (script line 2" +
                      form);
    EXPECT_EQ(
        stopText("\nDEMO_LENGTH 2147483647 + 1\n"),
        "DEMO_LENGTH must be a positive number of ms: + (script line 2; digits only, 1 to 2147483647, no "
        "expression)");
    // The number belongs on its own line; the next line's statement is not taken for it.
    EXPECT_EQ(stopText("DEMO_LENGTH\nDEMO_BEAT 50\n"),
              "DEMO_LENGTH must be a positive number of ms: no number (script line 1" + form);
    EXPECT_EQ(stopText("DEMO_LENGTH  "),
              "DEMO_LENGTH must be a positive number of ms: no number (script line 1" + form);
}

} // namespace
