#include "script/DemoCheck.h"

#include "archive/DataFile.h"
#include "archive/RarArchive.h"
#include "base/Report.h"
#include "common/DemoLocation.h"
#include "common/Printable.h"
#include "common/StopSignals.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "effects/DepthOfField.h"
#include "host/Findings.h"
#include "host/FrameLoop.h"
#include "platform/Platform.h"
#include "resources/ImageLibrary.h"
#include "resources/Texture.h"
#include "script/ValueRanges.h"
#include "sound/MusicFile.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <functional>
#include <sstream>
#include <system_error>
#include <tuple>

namespace check {

namespace {

constexpr const char* kScript = "data/scripts/demo.scr";
// Black at the end shorter than this is a fade-out, not a forgotten DEMO_LENGTH.
constexpr int kTrailingBlackLimit = 5000;
// Silence at the end shorter than this is the music's own tail rounding, not a demo too long.
constexpr int kTrailingSilenceLimit = 1000;

// The loader's "(script line N, ...)" says again what the finding's own line says: that part goes.
std::string withoutOwnLine(const std::string& text, int line) {
    const std::string tag = "(script line " + std::to_string(line);
    const size_t at = text.find(tag);
    if (at == std::string::npos) return text;
    const size_t after = at + tag.size();
    if (after < text.size() && text[after] == ')') {
        const size_t from = at > 0 && text[at - 1] == ' ' ? at - 1 : at;
        return text.substr(0, from) + text.substr(after + 1);
    }
    if (text.compare(after, 2, ", ") == 0 || text.compare(after, 2, "; ") == 0)
        return text.substr(0, at + 1) + text.substr(after + 2);
    return text;
}

// The words of a finding's head that name no file, word or number: findings that differ only in
// those are of one kind.
std::string kindOf(const std::string& text) {
    std::istringstream in(text.substr(0, text.find(':')));
    std::string kind, word;
    while (in >> word)
        if (word.find_first_of("/\\.0123456789`'\"") == std::string::npos) kind += word + ' ';
    return kind;
}

std::string formatNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string seconds(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

bool isSpanOrKey(const std::string& command) {
    for (const char* c : {"BEGIN", "b", "END", "e", "INIT", "i", "SIGNAL", "s", "TRIGGER", "t"})
        if (command == c) return true;
    return false;
}

// Whether the effect's active track is on at some time from `from` to `to` (unsigned, as the
// frame step compares them): the step rule of the track, with its value after the last key.
bool activeBetween(const Effect& e, unsigned from, unsigned to) {
    const auto& keys = e.activeTrack.keys;
    if (keys.size() < 2) return e.activeTrack.value;
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        const unsigned start = i == 0 ? 0u : static_cast<unsigned>(keys[i].time);
        if (keys[i].value && start <= to && static_cast<unsigned>(keys[i + 1].time) > from) return true;
    }
    return e.activeTrack.value && static_cast<unsigned>(keys.back().time) <= to;
}

// The check being run: the loaders' hooks are plain functions, so they reach it through here.
// What they report once it is over (at exit) was never printed, and is dropped.
DemoCheck* active = nullptr;

} // namespace

struct Hooks {
    static void report(const report::Record& r) {
        if (active) active->onReport(r);
    }
    static void finding(const ScriptFinding& f) {
        if (active) active->onFinding(f);
    }
    static void dataFile(const char* name, bool opened) {
        if (active) active->onDataFile(name, opened);
    }
    static bool picture(const std::string& name, const std::string& directory) {
        return !active || active->onPicture(name, directory);
    }
};

void DemoCheck::record(const std::string& file, int line, bool error, const std::string& text,
                       const std::string& kind) {
    if (!seen_.insert(std::hash<std::string>()(file + '\n' + std::to_string(line) + '\n' + text)).second)
        return;
    (error ? errors_ : warnings_)++;
    // The last few findings of the line, for the reports that follow them and say the same.
    if (line != textsLine_ || lineTexts_.size() >= 16) lineTexts_.clear();
    textsLine_ = line;
    lineTexts_.push_back(text);
    Kind& k = kinds_[(error ? "E " : "W ") + (kind.empty() ? kindOf(text) : kind)];
    if (k.listed < kListed) {
        ++k.listed;
        findings_.push_back(Finding{file, line, error, text});
        return;
    }
    if (k.more++ == 0) k.first = Finding{file, line, error, text};
    k.lastLine = std::max(k.lastLine, line);
}

void DemoCheck::add(int line, bool error, const std::string& text, const std::string& kind) {
    record(kScript, line, error, text, kind);
}

void DemoCheck::addFile(const std::string& file, bool error, const std::string& text,
                        const std::string& kind) {
    record(file, 0, error, text, kind);
}

int DemoCheck::contextLine() const {
    const int line = scriptLoader.currentLine();
    return line ? line : signalLine_;
}

std::string DemoCheck::normalName(const std::string& name) const {
    std::string n = name;
    std::replace(n.begin(), n.end(), '\\', '/');
    n = std::filesystem::path(n).lexically_normal().generic_string();
    if (fromArchive_) std::transform(n.begin(), n.end(), n.begin(), ::tolower);
    return n;
}

bool DemoCheck::dataFileOpens(const std::string& name) {
    const bool wasQuiet = quiet_;
    quiet_ = true;
    DataFile file(name.c_str());
    quiet_ = wasQuiet;
    return file.isOpen();
}

// Why a data file the demo names did not open.
std::string DemoCheck::missingFile(const std::string& name) const {
    return findings::missingFile(name);
}

void DemoCheck::onReport(const report::Record& r) {
    if (quiet_) return;
    // The loader has said why the player stops, naming the word that caused it.
    if (stopReported_ && r.fatal) {
        stopReported_ = false;
        return;
    }
    std::string text;
    bool warning = false;
    quiet_ = true; // the scene's file is looked into
    const bool finding = findings::fromReport(r, text, warning);
    quiet_ = false;
    if (!finding) return;
    const int line = contextLine();
    text = withoutOwnLine(text, line);
    // A picture already found wanting, named again by the loader that asked for it.
    const size_t detail = text.rfind(": ");
    if (detail != std::string::npos && badPictures_.count(text.substr(detail + 2))) return;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        if (badPictures_.count(word)) return;

    const std::string sceneFailure = "could not load scene: ";
    if (text.compare(0, sceneFailure.size(), sceneFailure) == 0) {
        const std::string scene = text.substr(sceneFailure.size());
        if (line == textsLine_) {
            // The scene loader has just said why.
            for (const std::string& said : lineTexts_)
                if (said.find(scene) != std::string::npos) return;
        }
    }
    add(line, !warning, text);
}

void DemoCheck::onFinding(const ScriptFinding& f) {
    if (f.player == ScriptFinding::Player::Stops) stopReported_ = true;
    add(f.line, f.severity == ScriptFinding::Severity::Error, f.text);
}

void DemoCheck::onDataFile(const char* name, bool opened) {
    if (opened) opened_.insert(normalName(name));
}

// Why the player would draw no picture from the file, or "" when it loads.
std::string DemoCheck::pictureProblem(const std::string& path) const {
    return findings::pictureProblem(path);
}

bool DemoCheck::onPicture(const std::string& name, const std::string& directory) {
    const std::string path = directory + name;
    const bool wasQuiet = quiet_;
    quiet_ = true;
    std::string why = pictureProblem(path);
    quiet_ = wasQuiet;
    if (why.empty()) {
        const ImageLoadReport& load = ImageLibrary::instance().lastLoad();
        if (load.muchTrailingData())
            add(contextLine(), false,
                "picture " + path + " has " + std::to_string(load.trailingBytes()) +
                    " bytes after its end (trailing data, never shown; the picture itself is " +
                    std::to_string(load.pictureBytes) + " bytes)",
                "picture trailing data");
        return true;
    }
    // A model import that put the scene's textures beside it, where the player does not look.
    const std::string beside = "data/scenes/" + name;
    if (directory == "data/textures/" && why == "is missing" && dataFileOpens(beside))
        why += ": found in data/scenes/: import again with --textures data/textures";
    add(contextLine(), true, "picture " + path + " " + why, "picture " + why.substr(0, why.find(':')));
    badPictures_.insert(name);
    badPictures_.insert(path);
    return false;
}

// The music beside the demo: refused like the player refuses it, its length learnt without reading
// what follows its last page. Its length in ms; 0 when there is none or it cannot be read.
int DemoCheck::checkMusic(const std::filesystem::path& music) {
    const std::string name = music.filename().string();
    std::string why;
    OggVorbis_File vf;
    if (!sound::openMusicFile(music.c_str(), &vf, &why)) {
        if (errno == ENODEV || errno == EISDIR)
            addFile(name, true, why + ": the player refuses it and plays the demo in silence");
        else if (errno == EINVAL)
            addFile(name, false, "not Ogg Vorbis music the player can play: the demo plays in silence");
        return 0;
    }
    const double total = ov_time_total(&vf, -1);
    ov_clear(&vf);
    return total > 0 ? static_cast<int>(total * 1000.0) : 0;
}

// Demos that can show nothing at all: the player would run them, black, and end with exit code 0.
void DemoCheck::checkShows() {
    const unsigned start = static_cast<unsigned>(demoStartTime);
    const unsigned end = demoRunEnd();
    if (scriptLoader.statementCount() == 0) {
        add(0, true, "the script holds no statement (it is empty, or all comment): the player shows nothing");
        return;
    }
    if (start >= end) {
        const int line = demoLength > 0 ? scriptLoader.demoLengthLine() : scriptLoader.demoStartLine();
        add(line, true,
            "the demo ends (" + (demoLength > 0 ? "DEMO_LENGTH " : std::string("at ")) + std::to_string(end) +
                " ms) where or before it starts (DEMO_START " + std::to_string(demoStartTime) +
                " ms): the player shows " + (start == end ? "a single frame" : "nothing") + " and ends");
        return;
    }
    const std::vector<Effect*>& effects = effectList->effects();
    if (effects.empty()) {
        add(0, true, "the script inserts no effect (no INSERT_EFFECT): the player shows nothing");
        return;
    }
    for (const Effect* e : effects)
        if (activeBetween(*e, start, end)) return;
    add(0, true,
        "no effect runs between DEMO_START (" + std::to_string(start) + " ms) and the demo's end (" +
            std::to_string(end) + " ms): the player shows nothing (every effect needs a BEGIN in that time)");
}

// SIGNAL keys outside the values their variable means something with.
void DemoCheck::checkValues() {
    std::unordered_map<std::string, const ValueRange*> rows; // the table's row of each effect's variable
    for (const auto& t : scriptLoader.timelineLines()) {
        if (!t.keyed) continue;
        const std::string key = t.effect + ' ' + t.variable;
        auto row = rows.find(key);
        if (row == rows.end()) row = rows.emplace(key, valueRange(t.effect, t.variable)).first;
        const ValueRange* range = row->second;
        if (!range) continue;
        const std::string why = outOfRange(*range, t.variable, t.value);
        if (why.empty()) continue;
        add(t.line, false,
            "`SIGNAL " + t.effect + " " + t.variable + " " + formatNumber(t.value) + "`: " + why,
            "range " + t.effect + " " + t.variable);
    }
}

// Warnings about the timeline as loaded: effects that never show, times nobody sees or hears.
void DemoCheck::checkTimeline(int musicMs) {
    const std::vector<Effect*>& effects = effectList->effects();
    std::set<std::string> linkedTo;
    for (const Signal& s : signalQueue->all())
        if (s.type == 2) linkedTo.insert(s.text);
    const std::vector<int>& insertLines = scriptLoader.insertLines();
    for (size_t i = 0; i < effects.size(); ++i) {
        const Effect* e = effects[i];
        bool begun = e->activeTrack.value;
        for (const auto& k : e->activeTrack.keys)
            begun = begun || k.value;
        if (!begun && !linkedTo.count(e->name))
            add(i < insertLines.size() ? insertLines[i] : 0, false,
                "effect " + e->name +
                    " is inserted but never begun (no BEGIN line) and no effect links to it, so "
                    "it never shows");
    }

    const int end = static_cast<int>(demoRunEnd());
    for (const auto& t : scriptLoader.timelineLines()) {
        if (!isSpanOrKey(t.command)) continue;
        const std::string what = "`" + t.command + " " + t.effect + "` at " + std::to_string(t.time) + " ms";
        if (t.time > end)
            add(t.line, false,
                what + " comes after the demo ends (" + std::to_string(end) + " ms), so it never happens",
                "after the demo ends");
        else if (musicMs > 0 && t.time > musicMs)
            add(t.line, false, what + " comes after the music ends (" + std::to_string(musicMs) + " ms)",
                "after the music ends");
    }

    // The demo as its author ends it, against the music.
    const int authorsEnd = demoLength > 0 ? demoLength : demoEndTime;
    if (musicMs > 0 && authorsEnd - musicMs >= kTrailingSilenceLimit) {
        const int line = demoLength > 0 ? scriptLoader.demoLengthLine() : scriptLoader.demoEndLine();
        add(line, false,
            std::string(demoLength > 0 ? "DEMO_LENGTH " : "DEMO_END ") + std::to_string(authorsEnd) +
                " runs past the end of the music (" + std::to_string(musicMs) + " ms): its last " +
                seconds(authorsEnd - musicMs) + " play in silence");
    }

    // Where the last span of any effect ends; INT_MAX when one runs to the end.
    int lastEnd = -1;
    for (const Effect* e : effects) {
        const auto& keys = e->activeTrack.keys;
        int spanEnd = -1;
        size_t lastOn = keys.size();
        for (size_t k = 0; k < keys.size(); ++k)
            if (keys[k].value) lastOn = k;
        if (lastOn < keys.size()) {
            spanEnd = INT_MAX;
            for (size_t n = lastOn + 1; n < keys.size() && spanEnd == INT_MAX; ++n)
                if (!keys[n].value) spanEnd = keys[n].time;
        }
        if (keys.empty() && e->activeTrack.value) spanEnd = INT_MAX;
        lastEnd = std::max(lastEnd, spanEnd);
    }
    if (lastEnd >= 0 && lastEnd != INT_MAX && end - lastEnd > kTrailingBlackLimit) {
        int line = scriptLoader.demoLengthLine();
        for (const auto& t : scriptLoader.timelineLines())
            if (!line && t.time == lastEnd && (t.command == "END" || t.command == "e")) line = t.line;
        if (!line) line = scriptLoader.demoEndLine(); // the track ends there
        add(line, false,
            "the last effect ends at " + std::to_string(lastEnd) + " ms, but the demo runs on to " +
                std::to_string(end) + " ms, " + std::to_string((end - lastEnd) / 1000) +
                " s of black; DEMO_LENGTH " + std::to_string(lastEnd) + " in the header ends it there");
    }
}

// Files in data/ that nothing opened.
void DemoCheck::checkUnusedFiles(const std::filesystem::path& demo) {
    std::vector<std::string> names;
    if (fromArchive_) {
        rar::Reader reader;
        if (!reader.openFile(demo.c_str())) return;
        for (const rar::Entry& e : reader.entries())
            if (!e.directory()) names.push_back(e.name);
    } else {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(demo / "data", ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file(ec))
                names.push_back(std::filesystem::relative(it->path(), demo, ec).generic_string());
    }
    std::sort(names.begin(), names.end());
    // The loading picture is shown before the script loads.
    const std::set<std::string> always = {normalName(kScript), normalName("data/images/loading.png")};
    for (const std::string& name : names) {
        const std::string key = normalName(name);
        if (key.compare(0, 5, "data/") != 0 || always.count(key) || opened_.count(key)) continue;
        addFile(normalName(name), false, "nothing in the demo uses this file", "unused file");
    }
}

int DemoCheck::printFindings() const {
    std::vector<const Finding*> script, files;
    for (const Finding& f : findings_)
        (f.file == kScript ? script : files).push_back(&f);
    std::stable_sort(script.begin(), script.end(),
                     [](const Finding* a, const Finding* b) { return a->line < b->line; });
    std::vector<const Kind*> capped;
    for (const auto& k : kinds_)
        if (k.second.more) capped.push_back(&k.second);
    std::sort(capped.begin(), capped.end(), [](const Kind* a, const Kind* b) {
        return std::tie(a->first.file, a->first.line, a->first.text) <
               std::tie(b->first.file, b->first.line, b->first.text);
    });

    auto print = [](const Finding& f, const std::string& before) {
        const std::string place =
            tool::printable(f.file) + (f.line > 0 ? ":" + std::to_string(f.line) : std::string());
        std::printf("%s: %s: %s%s\n", place.c_str(), f.error ? "error" : "warning", before.c_str(),
                    tool::printable(f.text).c_str());
    };
    // Of each kind the first ones are listed, and after them how many more there are, from where.
    auto printMore = [&](bool inScript) {
        for (const Kind* k : capped) {
            if ((k->first.file == kScript) != inScript) continue;
            std::string more = std::to_string(k->more) + " more like this";
            if (inScript && k->lastLine > k->first.line) more += ", to line " + std::to_string(k->lastLine);
            print(k->first, more + ", not listed: ");
        }
    };
    for (const Finding* f : script)
        print(*f, "");
    printMore(true);
    for (const Finding* f : files)
        print(*f, "");
    printMore(false);
    std::printf("%ld error%s, %ld warning%s\n", errors_, errors_ == 1 ? "" : "s", warnings_,
                warnings_ == 1 ? "" : "s");
    return errors_ ? 1 : 0;
}

bool DemoCheck::load() {
    try {
        effectList = new EffectList();
        signalQueue = new SignalQueue();
        scriptLoader.load(kScript);
        // The player starts its sound after the load and before the first signal; no device
        // is needed to check.
        sound::setOfflineMode(true);
        tesselMusic.initSound();
        // Every signal, in time order, as the player delivers them: links, pictures and programs
        // that signals load are tried here.
        while (signalQueue->isDue(INT_MAX)) {
            const Signal signal = signalQueue->next();
            signalLine_ = signal.scriptLine;
            if (Effect* effect = effectList->findEffect(signal.effectName)) effect->signal(signal);
        }
        // The depth-of-field program loads at the effect's first frame.
        const std::vector<Effect*>& effects = effectList->effects();
        for (size_t i = 0; i < effects.size(); ++i)
            if (auto* dof = dynamic_cast<DepthOfField*>(effects[i])) {
                const std::vector<int>& lines = scriptLoader.insertLines();
                signalLine_ = i < lines.size() ? lines[i] : 0;
                dof->loadProgramNow();
            }
        signalLine_ = 0;
        return true;
    } catch (const report::FatalError&) {
        // Already a finding: the player would stop here.
        return false;
    }
}

int DemoCheck::run(const char* toolName, const std::string& path, const char* password) {
    tool::DemoData demo;
    if (!demo.find(path)) {
        std::fprintf(stderr, "%s: %s is neither a demo folder nor a data archive\n", toolName,
                     tool::printable(demo.path.string()).c_str());
        return 2;
    }
    fromArchive_ = !demo.fromDirectory;
    const std::filesystem::path music = demo.music("");
    // Every name the demo uses is relative to its folder (or the archive), never the caller's.
    if (!demo.enter(toolName)) return 2;
    std::error_code ec;
    if (demo.fromDirectory && !std::filesystem::is_directory("data", ec)) {
        add(0, true,
            "there is no data/ folder in " + demo.path.string() +
                ": a demo folder holds data/scripts/demo.scr");
        return printFindings();
    }
    if (!platform::createHiddenGLContext(800, 600)) {
        std::fprintf(stderr, "%s: could not create a GL context\n", toolName);
        return 1;
    }
    tool::endOnStopSignals();
    const std::string archive = demo.path.string();
    // A folder demo names only files inside its folder, as a packed one only members of its archive.
    if (fromArchive_)
        setDataArchive(archive.c_str(), password);
    else
        setDataFolder(".");

    active = this;
    struct Detach {
        ~Detach() { active = nullptr; }
    } detach;
    report::setEcho(false);
    report::setSink(Hooks::report);
    ScriptLoader::setFindingSink(Hooks::finding);
    ScriptLoader::setWarmUp(false);
    setDataFileObserver(Hooks::dataFile);
    TextureManager::setLoadCheck(Hooks::picture);
    report::FatalGuard guard;

    const int musicMs = checkMusic(music);
    if (!dataFileOpens(kScript)) {
        add(0, true, std::string("the script ") + missingFile(kScript));
    } else if (load()) {
        checkShows();
        checkValues();
        checkTimeline(musicMs);
        checkUnusedFiles(demo.path);
    }
    const int code = printFindings();
    return std::fflush(stdout) == 0 ? code : 1;
}

int DemoCheck::printRanges(const char* toolName) {
    if (!platform::createHiddenGLContext(800, 600)) {
        std::fprintf(stderr, "%s: could not create a GL context\n", toolName);
        return 1;
    }
    tool::endOnStopSignals();
    std::printf("| effects | variables | values | meaning |\n|---|---|---|---|\n");
    for (const ValueRange& row : valueRanges()) {
        std::string variables = row.variables;
        for (size_t at = 0; (at = variables.find(' ', at)) != std::string::npos; at += 2)
            variables.replace(at, 1, ", ");
        std::printf("| %s | %s | %s | %s |\n", *row.effects ? row.effects : "every effect", variables.c_str(),
                    describe(row).c_str(), row.meaning);
    }
    // Every effect the factory makes, so that a variable added to one cannot miss the table.
    effectList = new EffectList();
    int missing = 0;
    for (const std::string& name : EffectList::scriptNames()) {
        effectList->createEffect(name);
        for (const Variable* v : effectList->effects().back()->variables)
            if (!valueRange(name, v->name)) {
                std::fprintf(stderr, "%s: %s %s has no row in the value table\n", toolName, name.c_str(),
                             v->name.c_str());
                ++missing;
            }
    }
    std::fflush(stdout);
    return missing ? 1 : 0;
}

} // namespace check
