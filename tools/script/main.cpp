// holdfast-script: loads a demo script exactly as the player does and prints its timeline as JSON,
// or checks a whole demo.
//
//   holdfast-script [--archive FILE --password PW] SCRIPT
//   holdfast-script --check DEMO [--password PW]
//   holdfast-script --ranges
//
// SCRIPT is a file path, or with --archive the member name inside the data archive. A script at
// DIR/data/scripts/ is read as the player reads it in DIR: the files it names are found there.
// Script errors are reported with the player's messages and end with exit code 1. --check lists
// what would stop a demo (a folder holding data/, or a data archive) or spoil it, one finding a line.
// --ranges prints the values each effect's variables mean something with, which --check holds
// SIGNAL keys to.
#include "archive/DataFile.h"
#include "common/DemoLocation.h"
#include "common/JsonWriter.h"
#include "common/StopSignals.h"
#include "common/ToolOptions.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "platform/Platform.h"
#include "script/DemoCheck.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const tool::Description kTool = {
    "holdfast-script", "Prints a demo script's whole timeline as JSON, or checks a whole demo.",
    "usage: holdfast-script [--archive FILE --password PW] SCRIPT\n"
    "       holdfast-script --check DEMO [--password PW]\n"
    "       holdfast-script --ranges\n"
    "  DEMO: a folder holding data/, or a data archive (with its music beside it)\n"
    "  --ranges: the values of every effect's variables that --check accepts in SIGNAL keys\n"};

[[noreturn]] void usage() {
    std::exit(tool::usageError(kTool));
}

void writeVariable(Json& j, Variable* v) {
    j.raw("{");
    j.key("name");
    j.str(v->name);
    j.raw(",");
    if (auto* f = dynamic_cast<FloatVariable*>(v)) {
        j.raw("\"kind\":\"float\",");
        j.key("listId"), j.num(v->listId), j.raw(",");
        j.key("count"), j.num(v->count), j.raw(",");
        j.key("value"), j.num(f->value), j.raw(",\"keys\":[");
        for (size_t i = 0; i < f->keys.size(); ++i) {
            j.raw(i ? ",[" : "["), j.num(f->keys[i].time), j.raw(","), j.num(f->keys[i].value), j.raw("]");
        }
    } else if (auto* b = dynamic_cast<BoolVariable*>(v)) {
        j.raw("\"kind\":\"bool\",");
        j.key("listId"), j.num(v->listId), j.raw(",");
        j.key("count"), j.num(v->count), j.raw(",");
        j.key("value"), j.boolean(b->value), j.raw(",\"keys\":[");
        for (size_t i = 0; i < b->keys.size(); ++i) {
            j.raw(i ? ",[" : "["), j.num(b->keys[i].time), j.raw(","), j.boolean(b->keys[i].value),
                j.raw("]");
        }
    } else if (auto* n = dynamic_cast<IntVariable*>(v)) {
        j.raw("\"kind\":\"int\",");
        j.key("listId"), j.num(v->listId), j.raw(",");
        j.key("count"), j.num(v->count), j.raw(",");
        j.key("value"), j.num(n->value), j.raw(",\"keys\":[");
        for (size_t i = 0; i < n->keys.size(); ++i) {
            j.raw(i ? ",[" : "["), j.num(n->keys[i].time), j.raw(","), j.num(n->keys[i].value), j.raw("]");
        }
    } else if (auto* s = dynamic_cast<StringVariable*>(v)) {
        j.raw("\"kind\":\"string\",");
        j.key("listId"), j.num(v->listId), j.raw(",");
        j.key("count"), j.num(v->count), j.raw(",");
        j.key("value"), j.str(s->value), j.raw(",\"keys\":[");
        for (size_t i = 0; i < s->keys.size(); ++i) {
            j.raw(i ? ",[" : "["), j.num(s->keys[i].time), j.raw(","), j.str(s->keys[i].value), j.raw("]");
        }
    } else {
        j.raw("\"kind\":null,");
        j.key("listId"), j.num(v->listId), j.raw(",");
        j.key("count"), j.num(v->count), j.raw(",\"value\":null,\"keys\":[");
    }
    j.raw("]}");
}

void writeList(Json& j, const std::vector<std::string>& items) {
    j.raw("[");
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) j.raw(",");
        j.str(items[i]);
    }
    j.raw("]");
}

std::string timelineJson() {
    Json j;
    j.raw("{");
    j.key("demoStart"), j.num(demoStartTime), j.raw(",");
    j.key("demoEnd"), j.num(demoEndTime), j.raw(",");
    j.key("beat"), j.num(beatLength), j.raw(",");
    j.key("trackEndTime"), j.num(trackEndTime), j.raw(",\n");
    j.raw("\"effects\":[");
    bool first = true;
    for (Effect* e : effectList->effects()) {
        j.raw(first ? "\n" : ",\n");
        first = false;
        j.raw("{");
        j.key("name"), j.str(e->name), j.raw(",");
        j.raw("\"active\":{\"value\":"), j.boolean(e->activeTrack.value), j.raw(",\"keys\":[");
        for (size_t i = 0; i < e->activeTrack.keys.size(); ++i) {
            const auto& k = e->activeTrack.keys[i];
            j.raw(i ? ",[" : "["), j.num(k.time), j.raw(","), j.boolean(k.value), j.raw("]");
        }
        j.raw("]},\"variables\":[");
        for (size_t i = 0; i < e->variables.size(); ++i) {
            if (i) j.raw(",");
            writeVariable(j, e->variables[i]);
        }
        j.raw("],\"list0\":"), writeList(j, e->list0);
        j.raw(",\"list1000\":"), writeList(j, e->list1000);
        j.raw("}");
    }
    j.raw("],\n\"signals\":[");
    first = true;
    for (const Signal& s : signalQueue->all()) {
        j.raw(first ? "\n" : ",\n");
        first = false;
        j.raw("{");
        j.key("time"), j.num(s.time), j.raw(",");
        j.key("effect"), j.str(s.effectName), j.raw(",");
        j.key("type"), j.num(s.type), j.raw(",");
        j.key("value"), j.num(s.value), j.raw(",");
        j.key("text"), j.str(s.text), j.raw(",");
        j.key("values"), j.raw("["), j.num(s.values[0]), j.raw(","), j.num(s.values[1]), j.raw(","),
            j.num(s.values[2]), j.raw("]}");
    }
    j.raw("]}\n");
    return j.out;
}

} // namespace

int main(int argc, char** argv) {
    // A command-line tool: reports go to stderr instead of waiting on a message box.
    setenv("HOLDFAST_UNATTENDED", "1", 0);
    tool::holdStopSignals(); // until the GL context is made
    tool::answerHelpAndVersion(argc, argv, kTool);

    const char* archive = nullptr;
    const char* password = nullptr;
    const char* script = nullptr;
    const char* demo = nullptr;
    bool ranges = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0 && i + 1 < argc)
            demo = argv[++i];
        else if (std::strcmp(argv[i], "--ranges") == 0)
            ranges = true;
        else if (std::strcmp(argv[i], "--archive") == 0 && i + 1 < argc)
            archive = argv[++i];
        else if (std::strcmp(argv[i], "--password") == 0 && i + 1 < argc)
            password = argv[++i];
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            usage();
        else if (!script)
            script = argv[i];
        else
            usage();
    }
    if (ranges) {
        if (demo || script || archive || password) usage();
        return check::DemoCheck::printRanges(kTool.name);
    }
    if (demo) {
        if (script || archive) usage();
        check::DemoCheck checker;
        return checker.run(kTool.name, demo, password);
    }
    if (!script || (password && !archive)) usage();

    // The player reads its script as data/scripts/demo.scr in the demo's folder, and every file
    // the script names from there: a script found in such a folder is read the same way.
    std::string scriptName = script;
    if (!archive) {
        const std::filesystem::path path = tool::absolutePath(script);
        const std::filesystem::path scripts = path.parent_path();
        const std::filesystem::path data = scripts.parent_path();
        if (scripts.filename() == "scripts" && data.filename() == "data") {
            if (chdir(data.parent_path().c_str()) != 0) {
                std::fprintf(stderr, "holdfast-script: cannot enter %s\n", data.parent_path().c_str());
                return 1;
            }
            scriptName = "data/scripts/" + path.filename().string();
        }
    }

    // Effects create their textures and render targets as they are built, as in the player.
    if (!platform::createHiddenGLContext(800, 600)) {
        std::fprintf(stderr, "holdfast-script: could not create a GL context\n");
        return 1;
    }
    tool::endOnStopSignals();
    if (archive) setDataArchive(archive, password ? password : "");

    effectList = new EffectList();
    signalQueue = new SignalQueue();
    ScriptLoader::setWarmUp(false); // it draws no frames
    scriptLoader.load(scriptName.c_str());

    const std::string json = timelineJson();
    std::fwrite(json.data(), 1, json.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
