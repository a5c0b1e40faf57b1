#include "script/DemoCheck.h"

#include "archive/DataFile.h"
#include "archive/RarArchive.h"
#include "base/Report.h"
#include "common/DemoLocation.h"
#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "effects/DepthOfField.h"
#include "host/Findings.h"
#include "host/FrameLoop.h"
#include "platform/Platform.h"
#include "resources/Texture.h"
#include "sound/SoundSystem.h"
#include "sound/TesselMusic.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <system_error>

namespace check {

namespace {

constexpr const char* kScript = "data/scripts/demo.scr";
// Black at the end shorter than this is a fade-out, not a forgotten DEMO_LENGTH.
constexpr int kTrailingBlackLimit = 5000;

// Length of the music in ms; 0 when there is none or it cannot be read.
int musicLength(const std::filesystem::path& music) {
    OggVorbis_File vf;
    if (ov_fopen(music.c_str(), &vf) != 0) return 0;
    const double seconds = ov_time_total(&vf, -1);
    ov_clear(&vf);
    return seconds > 0 ? static_cast<int>(seconds * 1000.0) : 0;
}

bool isSpanOrKey(const std::string& command) {
    for (const char* c : {"BEGIN", "b", "END", "e", "INIT", "i", "SIGNAL", "s", "TRIGGER", "t"})
        if (command == c) return true;
    return false;
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

void DemoCheck::add(int line, bool error, const std::string& text, const std::string& file) {
    for (const Finding& f : findings_)
        if (f.file == file && f.line == line && f.text == text) return;
    findings_.push_back(Finding{file, line, error, text});
}

void DemoCheck::add(int line, bool error, const std::string& text) {
    add(line, error, text, kScript);
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

std::string DemoCheck::missingFile(const std::string& name) const {
    return findings::missingFile(name);
}

void DemoCheck::onReport(const report::Record& r) {
    if (quiet_) return;
    std::string text;
    bool warning = false;
    quiet_ = true; // the scene's file is looked into
    const bool finding = findings::fromReport(r, text, warning);
    quiet_ = false;
    if (!finding) return;
    for (const std::string& picture : badPictures_)
        if (text.find(picture) != std::string::npos) return;
    const std::string sceneFailure = "could not load scene: ";
    if (text.compare(0, sceneFailure.size(), sceneFailure) == 0) {
        // The scene loader has already said why.
        const std::string scene = text.substr(sceneFailure.size());
        for (const Finding& f : findings_)
            if (f.line == contextLine() && f.text.find(scene) != std::string::npos) return;
    }
    const int line = contextLine();
    // After an unknown statement word the rest of its line reads as a new statement; what that
    // then trips over is the same mistake.
    for (const Finding& f : findings_)
        if (f.line == line && f.text.compare(0, 18, "unknown statement ") == 0) return;
    add(line, !warning, text);
}

void DemoCheck::onFinding(const ScriptFinding& f) {
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
    const std::string why = pictureProblem(path);
    quiet_ = wasQuiet;
    if (why.empty()) return true;
    add(contextLine(), true, "picture " + path + " " + why);
    badPictures_.push_back(name);
    return false;
}

// Warnings about the timeline as loaded: effects that never show, times nobody sees.
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
                what + " comes after the demo ends (" + std::to_string(end) + " ms), so it never happens");
        else if (musicMs > 0 && t.time > musicMs)
            add(t.line, false, what + " comes after the music ends (" + std::to_string(musicMs) + " ms)");
    }

    // Where the last span of any effect ends; INT_MAX when one runs to the end.
    int lastEnd = -1;
    for (const Effect* e : effects) {
        const auto& keys = e->activeTrack.keys;
        int spanEnd = -1;
        for (size_t k = 0; k < keys.size(); ++k) {
            if (!keys[k].value) continue;
            spanEnd = INT_MAX;
            for (size_t n = k + 1; n < keys.size(); ++n)
                if (!keys[n].value) {
                    spanEnd = keys[n].time;
                    break;
                }
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
        add(0, false, "nothing in the demo uses this file", normalName(name));
    }
}

void DemoCheck::printFindings() const {
    std::vector<Finding> script, files;
    for (const Finding& f : findings_)
        (f.file == kScript ? script : files).push_back(f);
    std::stable_sort(script.begin(), script.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    int errors = 0, warnings = 0;
    for (const std::vector<Finding>* group : {&script, &files})
        for (const Finding& f : *group) {
            (f.error ? errors : warnings)++;
            if (f.line > 0)
                std::printf("%s:%d: %s: %s\n", f.file.c_str(), f.line, f.error ? "error" : "warning",
                            f.text.c_str());
            else
                std::printf("%s: %s: %s\n", f.file.c_str(), f.error ? "error" : "warning", f.text.c_str());
        }
    std::printf("%d error%s, %d warning%s\n", errors, errors == 1 ? "" : "s", warnings,
                warnings == 1 ? "" : "s");
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
                     demo.path.c_str());
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
        printFindings();
        return 1;
    }
    if (!platform::createHiddenGLContext(800, 600)) {
        std::fprintf(stderr, "%s: could not create a GL context\n", toolName);
        return 1;
    }
    const std::string archive = demo.path.string();
    if (fromArchive_) setDataArchive(archive.c_str(), password);

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

    bool complete = false;
    if (!dataFileOpens(kScript))
        add(0, true, std::string("the script ") + missingFile(kScript));
    else
        complete = load();
    if (complete) {
        checkTimeline(musicLength(music));
        checkUnusedFiles(demo.path);
    }
    printFindings();
    std::fflush(stdout);
    for (const Finding& f : findings_)
        if (f.error) return 1;
    return 0;
}

} // namespace check
