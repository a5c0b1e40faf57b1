#include "host/Findings.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/FrameStep.h"
#include "demo/ScriptLoader.h"
#include "demo/SignalQueue.h"
#include "engine/SceneFile.h"
#include "resources/ImageLibrary.h"
#include "resources/Texture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace findings {

namespace {
constexpr const char* kLoadingPicture = "data/images/loading.png"; // shown before the script loads
constexpr const char* kSceneFailure = "could not load scene: ";

Collector* active = nullptr;

bool startsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

int insertLineOf(const Effect* effect) {
    if (!effect || !effectList) return 0;
    const std::vector<Effect*>& effects = effectList->effects();
    const std::vector<int>& lines = scriptLoader.insertLines();
    for (size_t i = 0; i < effects.size() && i < lines.size(); ++i)
        if (effects[i] == effect) return lines[i];
    return 0;
}

} // namespace

int lineInProgress(const std::string& text) {
    if (const Signal* s = signalInProgress(); s && s->scriptLine) return s->scriptLine;
    if (const int line = scriptLoader.currentLine()) return line;
    const Effect* effect = effectInProgress();
    // An effect at work outside its signals (its warm-up loads the pictures its signals name ahead
    // of them): the first of its signals whose text the report names.
    if (effect && signalQueue && effectList && !text.empty())
        for (const Signal& s : signalQueue->all())
            if (s.scriptLine && !s.text.empty() && text.find(s.text) != std::string::npos &&
                effectList->findEffect(s.effectName) == effect)
                return s.scriptLine;
    return insertLineOf(effect);
}

std::string format(const Finding& f) {
    const char* severity = f.error ? "error" : "warning";
    if (f.line > 0) return f.file + ":" + std::to_string(f.line) + ": " + severity + ": " + f.text;
    return f.file + ": " + severity + ": " + f.text;
}

std::string authorText(const std::string& reportText) {
    std::string t = reportText;
    const size_t space = t.find(' ');
    if (space != std::string::npos) {
        const std::string head = t.substr(0, space);
        if (head.find(".cpp:") != std::string::npos || head.find(".h:") != std::string::npos)
            t.erase(0, space + 1);
    }
    for (char& c : t)
        if (c == '\n') c = ' ';
    const size_t first = t.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : t.substr(first);
}

std::string missingFile(const std::string& name) {
    if (dataArchiveIsSet()) return "is not in the archive (or the password is wrong)";
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0) return "is missing";
    if (S_ISLNK(st.st_mode) && ::stat(name.c_str(), &st) != 0)
        return errno == ELOOP ? "is a link that leads back to itself (a loop of links)"
                              : "is a link to a file that is missing";
    if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
    if (!S_ISREG(st.st_mode)) return "is not a regular file (a FIFO or device), which the player refuses";
    // The open's own reason (outside the demo folder, not readable, too large) says more.
    const std::string& why = DataFile::lastFailure();
    return why.empty() || why == "is missing" ? "cannot be read" : why;
}

std::string pictureProblem(const std::string& path, bool decode) {
    // Looked up first: opening a member the archive lacks would show the archive's message again.
    if (DataFile::sizeOf(path.c_str()) < 0) return missingFile(path);
    // Only the header is read here: the file may be far longer than its picture.
    std::unique_ptr<DataFile> file(DataFile::openStream(path.c_str()));
    if (!file) return missingFile(path);
    if (file->getSize() == 0) return "is empty";
    std::string ending = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    std::transform(ending.begin(), ending.end(), ending.begin(), ::tolower);
    if (ending != ".png" && ending != ".jpg")
        return "is neither a .png nor a .jpg file, the only pictures loaded";
    const char* fix = ": write it as 8-bit RGB or RGBA, e.g. ImageMagick `PNG24:`/`PNG32:`";
    unsigned char d[26] = {};
    const bool whole = file->read(d, 1, sizeof(d)) == sizeof(d);
    file.reset();
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (whole && std::equal(kPng, kPng + 8, d) && std::string(d + 12, d + 16) == "IHDR") {
        const int depth = d[24];
        const int colourType = d[25];
        if (colourType == 3) return "is a palette PNG, which the player refuses" + std::string(fix);
        if (colourType == 0 || colourType == 4)
            return "is a grey PNG, which the player refuses" + std::string(fix);
        if (depth != 8)
            return "is a " + std::to_string(depth) + "-bit PNG, which the player refuses" + std::string(fix);
    }
    const char* undecodable =
        "cannot be decoded (damaged, cut short, another format under this name, or over 8192 pixels a side)";
    // Without decoding, the load that has just failed says why.
    ImageData* image = decode ? ImageLibrary::instance().loadImage(path.c_str(), "") : nullptr;
    if (!image) {
        const std::string& why = ImageLibrary::instance().lastLoad().failure;
        return why.empty() ? undecodable : why;
    }
    const uint32_t bits = image->bitsPerPixel;
    freeImage(image);
    if (bits != 24 && bits != 32)
        return "has " + std::to_string(bits) + " bits per pixel, which the player refuses" + std::string(fix);
    return std::string();
}

bool fromReport(const report::Record& record, std::string& text, bool& warning) {
    if (record.caption == "message") return false;
    text = authorText(record.text);
    if (startsWith(text, kSceneFailure)) {
        const std::string scene = text.substr(std::string(kSceneFailure).size());
        if (DataFile::sizeOf(scene.c_str()) < 0) text = "scene file " + scene + " " + missingFile(scene);
    }
    if (text == "morphdata not found")
        text += ": Hode needs " + scenefile::morphDataPath("Box01") +
                " for its mesh Box01 (holdfast-scene writes morph data beside the scene)";
    warning = text.find("Linked effect loops back") != std::string::npos;
    return true;
}

struct CollectorHooks {
    static report::Sink report;
    static ScriptFindingSink script;
    static TextureManager::LoadFailure picture;
    static report::EchoNote note;

    static void onReport(const report::Record& r) {
        if (report) report(r);
        if (active) active->onReport(r);
    }
    static void onFinding(const ScriptFinding& f) {
        if (script) script(f);
        if (!active || active->paused) return;
        Finding finding;
        finding.file = kScript;
        finding.line = f.line;
        finding.error = f.severity == ScriptFinding::Severity::Error;
        finding.text = f.text;
        finding.reported = f.reported;
        active->add(finding);
    }
    static void onPicture(const std::string& name, const std::string& directory) {
        if (picture) picture(name, directory);
        Collector* c = active;
        if (!c || c->paused || c->busy || name == kLoadingPicture) return;
        const std::string path = directory + name;
        c->busy = true;
        // Not decoded again: the load has just failed, and a decoder's report would come twice.
        const std::string why = pictureProblem(path, false);
        c->busy = false;
        if (why.empty()) return;
        Finding finding;
        finding.file = kScript;
        finding.line = lineInProgress(name);
        finding.error = true;
        finding.text = "picture " + path + " " + why;
        finding.subject = path;
        c->badPictures.push_back(name);
        c->add(finding);
    }
    // The script line behind a report, on the player's stderr copy (the box keeps the text as it is).
    static std::string onEcho(const report::Record& r) {
        std::string before = note ? note(r) : std::string();
        if (!active || r.text.find("script line") != std::string::npos) return before;
        const int line = lineInProgress(r.text);
        return line ? before + " (script line " + std::to_string(line) + ")" : before;
    }
};

report::Sink CollectorHooks::report = nullptr;
ScriptFindingSink CollectorHooks::script = nullptr;
TextureManager::LoadFailure CollectorHooks::picture = nullptr;
report::EchoNote CollectorHooks::note = nullptr;

Collector::Collector(Mode m, Listener l) : mode(m), listener(std::move(l)) {
    active = this;
    CollectorHooks::report = report::setSink(CollectorHooks::onReport);
    CollectorHooks::script = ScriptLoader::setFindingSink(CollectorHooks::onFinding, mode == Mode::Player);
    CollectorHooks::picture = TextureManager::setLoadFailure(CollectorHooks::onPicture);
    if (mode == Mode::Player)
        CollectorHooks::note = report::setEchoNote(CollectorHooks::onEcho);
    else
        previousEcho = report::setEcho(false);
}

Collector::~Collector() {
    report::setSink(CollectorHooks::report);
    ScriptLoader::setFindingSink(CollectorHooks::script);
    TextureManager::setLoadFailure(CollectorHooks::picture);
    if (mode == Mode::Player)
        report::setEchoNote(CollectorHooks::note);
    else
        report::setEcho(previousEcho);
    active = nullptr;
}

void Collector::clear() {
    found.clear();
    badPictures.clear();
    ++changes;
}

void Collector::pause(bool on) {
    paused = on;
}

void Collector::add(const Finding& finding) {
    for (const Finding& f : found)
        if (f.file == finding.file && f.line == finding.line && f.text == finding.text) return;
    found.push_back(finding);
    ++changes;
    if (listener && (mode == Mode::Author || !finding.reported)) listener(finding);
}

void Collector::onReport(const report::Record& r) {
    if (paused || busy) return;
    std::string text;
    bool warning = false;
    busy = true; // the scene's file is looked into
    const bool isFinding = fromReport(r, text, warning);
    busy = false;
    if (!isFinding) return;
    for (const std::string& picture : badPictures)
        if (text.find(picture) != std::string::npos) return;
    const int line = lineInProgress(text);
    for (const Finding& f : found) {
        if (f.line != line) continue;
        // After an unknown statement word the rest of its line reads as a new statement; what that
        // then trips over is the same mistake.
        if (startsWith(f.text, "unknown statement ")) return;
        // The scene loader has already said why the scene could not be loaded.
        if (startsWith(text, kSceneFailure) &&
            f.text.find(text.substr(std::string(kSceneFailure).size())) != std::string::npos)
            return;
    }
    Finding finding;
    finding.file = kScript;
    finding.line = line;
    finding.error = !warning;
    finding.text = text;
    finding.reported = true;
    add(finding);
}

} // namespace findings
