// holdfast-script as a whole program: the JSON timeline of a script, and script errors.
#include "GLTest.h"

#include <gtest/gtest.h>

namespace {

const std::string tool = std::string(HOLDFAST_BIN_DIR) + "/holdfast-script";

class HoldfastScript : public ::testing::Test {
  protected:
    // Runs the tool on a script written to a temp file.
    CommandResult run(const std::string& script, const std::string& options = "") {
        const std::string path = dir + "/demo.scr";
        writeFile(path, script);
        return runCommand(tool + " " + options + " " + path);
    }
    std::string dir = makeTempDir();
};

bool noGL(const CommandResult& r) {
    return r.exitCode == 1 && r.err.find("could not create a GL context") != std::string::npos;
}
#define SKIP_WITHOUT_GL(r)                                                                                   \
    if (noGL(r)) GTEST_SKIP() << "no GL context: " << (r).err

TEST_F(HoldfastScript, PrintsTheTimelineAsJson) {
    CommandResult r = run("__HEADER__\nDEMO_START 1500\nDEMO_END 60000\nDEMO_BEAT 120\n"
                          "__DEFS__\nDEFINE LINK 2\nDEFINE LEVEL 5\n"
                          "__TIMELINE__\n"
                          "2000 TRIGGER Blur LINK \"Scene\\0\"\n"
                          "1000 i Flash\n"
                          "2000 t Spectrum LEVEL 0.1 0.2 0.3 0.4\n"
                          "1000 t Flash UNDEFINED 1\n");
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "{\"demoStart\":1500,\"demoEnd\":60000,\"beat\":120,\"trackEndTime\":60000,\n"
        "\"effects\":[],\n"
        "\"signals\":[\n"
        "{\"time\":1000,\"effect\":\"Flash\",\"type\":0,\"value\":0,\"text\":\"\",\"values\":[0,0,0]},\n"
        "{\"time\":2000,\"effect\":\"Blur\",\"type\":2,\"value\":0,\"text\":\"Scene\\\\0\","
        "\"values\":[0,0,0]},\n"
        "{\"time\":2000,\"effect\":\"Spectrum\",\"type\":5,\"value\":0.1,\"text\":\"\","
        "\"values\":[0.1,0.2,0.3]}]}\n");
}

TEST_F(HoldfastScript, ScriptErrorsExitWithThePlayersMessage) {
    CommandResult r = run("DEFINE 1X 5\n");
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("error: src/demo/ScriptLoader.cpp:"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" DEFINE id cannot start with digit: 1X (script line 1)\n"), std::string::npos)
        << r.err;

    r = run("INSERT_EFFECT NoSuchEffect\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Effect Id not found: NoSuchEffect"), std::string::npos) << r.err;

    r = runCommand(tool + " " + dir + "/missing.scr");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script: could not open file for parsing"), std::string::npos) << r.err;

    // An archive that cannot be read: the data layer says so, then the script cannot be opened.
    r = runCommand(tool + " --archive " + dir + "/none.qzd --password pw demo.scr");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script: could not open file for parsing"), std::string::npos) << r.err;
}

// A mistake the player stops on reads the same from the player and from the checker: the word at
// fault, its line, and that the player stops there.
TEST_F(HoldfastScript, ThePlayerAndTheCheckerNameTheWordAtFault) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (run under xvfb-run)";
    struct Case {
        std::string script;
        std::string report;  // the player's, after the reporting code's place
        std::string finding; // the checker's
    };
    const std::string head = "__HEADER__\nDEMO_END 5000\n";
    for (const Case& c :
         {Case{head +
                   "__DEFS__\nINSERT_EFFECT Fade\n__TIMELINE__\n0 BEGIN Fade\n1000 SINGAL Fade Speed 0.5\n",
               "DEFINE not found: Speed (script line 7, after unknown word 'SINGAL'; did you mean 'SIGNAL'?)",
               "data/scripts/demo.scr:7: error: unknown statement `SINGAL`: the player stops here with "
               "\"DEFINE "
               "not found: Speed\"; did you mean `SIGNAL`?"},
          Case{
              head + "DEMO_LENGTH 3s\n",
              "DEMO_LENGTH must be a positive number of ms: 3s (script line 3; digits only, 1 to 2147483647)",
              "data/scripts/demo.scr:3: error: DEMO_LENGTH must be a positive number of ms: 3s (digits only, "
              "1 "
              "to 2147483647)"},
          // Stray words after an unknown one run onto the next line: one finding, at the unknown word.
          Case{head +
                   "__DEFS__\nINSERT_EFFECT Fade\n__TIMELINE__\n0 BEGIN Fade\n1000 SINGAL Fade 0.5\n2000 END "
                   "Fade\n",
               "DEFINE not found: Fade (script line 8, after unknown word 'SINGAL' on line 7; did you mean "
               "'SIGNAL'?)",
               "data/scripts/demo.scr:7: error: unknown statement `SINGAL`: the player stops on line 8 with "
               "\"DEFINE not found: Fade\"; did you mean `SIGNAL`?"}}) {
        const std::string demo = makeTempDir();
        writeFile(demo + "/src/data/scripts/demo.scr", c.script);
        CommandResult packed = runCommand(binPath("holdfast-pack") + " create " + demo + "/data.qzd " + demo +
                                          "/src --password tolvrask");
        ASSERT_EQ(packed.exitCode, 0) << packed.err;
        CommandResult player = runCommand(
            "cd " + demo + " && HOLDFAST_UNATTENDED=1 SDL_AUDIODRIVER=dummy " + binPath("holdfast"), 120);
        EXPECT_EQ(player.exitCode, 1) << player.err;
        EXPECT_NE(player.err.find(" " + c.report + "\n"), std::string::npos) << player.err;

        CommandResult check = runCommand(tool + " --check " + demo + "/src", 120);
        SKIP_WITHOUT_GL(check);
        EXPECT_EQ(check.exitCode, 1);
        EXPECT_EQ(check.out, c.finding + "\n1 error, 0 warnings\n") << check.err;
    }
}

TEST_F(HoldfastScript, ReadsTheScriptFromTheDataArchive) {
    const std::string packer = std::string(HOLDFAST_BIN_DIR) + "/holdfast-pack";
    writeFile(dir + "/root/data/scripts/demo.scr", "DEMO_END 1234\nDEFINE X 3\n100 t E X \"hi\" 1\n");
    CommandResult made =
        runCommand(packer + " create " + dir + "/data.qzd " + dir + "/root --password tolvrask --compress");
    if (made.exitCode != 0) GTEST_SKIP() << "no archive packer: " << made.err;

    CommandResult r =
        runCommand(tool + " --archive " + dir + "/data.qzd --password tolvrask data/scripts/demo.scr");
    SKIP_WITHOUT_GL(r);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("{\"time\":100,\"effect\":\"E\",\"type\":3,\"value\":1,\"text\":\"hi\""),
              std::string::npos)
        << r.out;

    r = runCommand(tool + " --archive " + dir + "/data.qzd --password wrong data/scripts/demo.scr");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("script: could not open file for parsing"), std::string::npos) << r.err;
}

TEST_F(HoldfastScript, UsageErrors) {
    CommandResult r = runCommand(tool);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage: holdfast-script"), std::string::npos);
    r = runCommand(tool + " --bogus a.scr");
    EXPECT_EQ(r.exitCode, 2);
}

// Effects of the built-in table, once they exist, appear with their base variables first.
// Until an effect is available its INSERT_EFFECT is the fatal "Effect Id not found".
TEST_F(HoldfastScript, BuiltInEffectsShowTracksVariablesAndLists) {
    for (const char* name : {"Clear", "Fade", "Flash", "Invert"}) {
        CommandResult r = run(std::string("DEMO_END 60000\nINSERT_EFFECT ") + name + "\n1000 BEGIN " + name +
                              "\n5000 END " + name + "\n__TIMELINE__\n2000 SIGNAL " + name + " Speed 1\n");
        SKIP_WITHOUT_GL(r);
        if (r.exitCode == 1 && r.err.find("Effect Id not found: " + std::string(name)) != std::string::npos)
            continue; // not built yet
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        const std::string head =
            std::string("{\"name\":\"") + name +
            "\",\"active\":{\"value\":false,\"keys\":[[0,false],[1000,true],[5000,false],"
            "[60000,false]]},\"variables\":[{\"name\":\"Speed\",\"kind\":\"float\","
            "\"listId\":10000,\"count\":1,\"value\":0.5,\"keys\":[[0,1],[2000,1],[60000,1]]},"
            "{\"name\":\"SpectrumStr\",\"kind\":\"float\"";
        EXPECT_NE(r.out.find(head), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("{\"name\":\"Pattern\",\"kind\":\"string\",\"listId\":10000,\"count\":1,"
                             "\"value\":\"1000\",\"keys\":[]}"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\"list0\":[],\"list1000\":[]}"), std::string::npos) << r.out;
    }
}

// Every render target takes driver memory; a script with more render-target effects than the
// limit allows stops with a report naming the limit, at any count, instead of a crash deep in the
// driver (the limit is lowered here so that the test stays small).
TEST_F(HoldfastScript, TooManyRenderTargetsEndWithAReportNamingTheLimit) {
    auto blurs = [](int count) {
        std::string script = "DEMO_END 1000\n";
        for (int i = 0; i < count; ++i)
            script += "INSERT_EFFECT Blur\n";
        return script;
    };
    const std::string manyPath = dir + "/many.scr";
    writeFile(manyPath, blurs(1000));
    for (const char* limit : {"40", "0"}) {
        CommandResult r =
            runCommand(std::string("HOLDFAST_TARGET_MEMORY_MIB=") + limit + " " + tool + " " + manyPath);
        SKIP_WITHOUT_GL(r);
        EXPECT_EQ(r.exitCode, 1) << limit << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("PBuffer: Could not create. : too many render targets: "), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(std::string("limit ") + limit + ".0 MiB (HOLDFAST_TARGET_MEMORY_MIB)"),
                  std::string::npos)
            << r.err;
    }
    // Two Blurs (28 MiB) fit in 40.
    writeFile(dir + "/two.scr", blurs(2));
    CommandResult r = runCommand("HOLDFAST_TARGET_MEMORY_MIB=40 " + tool + " " + dir + "/two.scr");
    EXPECT_EQ(r.exitCode, 0) << r.err;

    r = runCommand("HOLDFAST_TARGET_MEMORY_MIB=lots " + tool + " " + dir + "/two.scr");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("HOLDFAST_TARGET_MEMORY_MIB is not a count of MiB: lots"), std::string::npos)
        << r.err;
}

} // namespace
