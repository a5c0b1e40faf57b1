// Reloading the demo as its files are saved: pictures in place, else the script with what it
// loads, and a jump back to where the preview was; what fails keeps the demo as it was. What is
// wrong with the demo goes on the panel and, once while it lasts, on stderr.
#include "preview/Preview.h"

#include "base/Report.h"
#include "common/Printable.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "effects/ShaderEffect.h"
#include "resources/Texture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace preview {

namespace {
// A picture rewritten in place (ImageMagick writes into the file it replaces) can be read half
// written: one that cannot be read right after an edit is read again once its file has been quiet
// this long, and reported only then.
constexpr double kSettleSeconds = 0.25;

// When the file was last written, s since the epoch; 0 when it is gone.
double writtenAt(const std::string& file) {
    struct stat st;
    if (stat(file.c_str(), &st) != 0) return 0;
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}
} // namespace

// Reads the demo's files again: the pictures in `pictures` (all that came from files when
// `allPictures`), then the script with everything it loads. What fails keeps the demo as it
// was, with the error on the panel and in the title; false then.
bool Preview::reload(const std::vector<std::string>& pictures, bool allPictures) {
    overlay.show();
    return reloadPictures(pictures, allPictures) && readScriptAgain();
}

// Reloads what an edit on disk touched, without a key, and tries again what could not be read
// right after the edit once its files have settled.
void Preview::followEdit() {
    for (const EditFollower::Notice& notice : edits.notices())
        notifyAuthor(Notice::Watch, notice.text);
    preview::EditFollower::Edit edit;
    if (edits.poll(edit)) {
        for (const std::string& file : edit.files)
            fprintf(stderr, "holdfast-preview: %s changed\n", tool::printable(file).c_str());
        if (edit.archive) fprintf(stderr, "holdfast-preview: the archive changed\n");
        if (edit.everything) {
            // Which files changed is unknown: all of them are read again, as R does.
            fprintf(stderr, "holdfast-preview: the system dropped file events (more came at once than its "
                            "queue holds): reading everything again\n");
            unsettled.reset();
            holding.clear();
            if (reload({}, true)) reportEditShown(edit);
            publishFindings();
            return;
        }
        if (reloadShaders(edit)) return;
        if (unsettled) { // tried again with this edit
            for (const std::string& file : unsettled->files)
                if (!contains(edit.files, file)) edit.files.push_back(file);
            edit.archive = edit.archive || unsettled->archive;
            unsettled.reset();
        }
        applyEdit(edit, true);
    } else if (unsettled && settled()) {
        const EditFollower::Edit again = *unsettled;
        unsettled.reset();
        applyEdit(again, false);
    }
}

bool Preview::settled() const {
    if (std::chrono::steady_clock::now() - unsettledAt < std::chrono::milliseconds(250)) return false;
    const double now = EditFollower::wallNow();
    return std::all_of(unsettled->files.begin(), unsettled->files.end(),
                       [&](const std::string& file) { return now - writtenAt(file) >= kSettleSeconds; });
}

// Pictures alone are read again into their textures: a playing preview shows them in its next
// frame, a paused one jumps to where it is (so the frame is the one a player would show). Any other
// file reloads the script with everything it loads.
void Preview::applyEdit(const EditFollower::Edit& edit, bool firstTry) {
    const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
    const bool picturesOnly =
        !edit.archive && std::all_of(edit.files.begin(), edit.files.end(), [&](const std::string& file) {
            return std::any_of(loaded.begin(), loaded.end(),
                               [&](const Texture* texture) { return texture->sourcePath == file; });
        });
    std::vector<std::string> unreadable;
    holding = firstTry ? edit.files : std::vector<std::string>();
    bool shown = false;
    if (picturesOnly) {
        overlay.show();
        shown = reloadPictures(edit.files, false, firstTry ? &unreadable : nullptr);
        if (shown && playing) {
            editToShow = edit; // reported with the next frame
            shown = false;
        } else if (shown) {
            jump(now());
        }
    } else {
        overlay.show();
        shown =
            reloadPictures(edit.files, edit.archive, firstTry ? &unreadable : nullptr) && readScriptAgain();
        // A picture the script loads that could not be read may be half written as well.
        for (const findings::Finding& f : collector.findings())
            if (!f.subject.empty() && contains(holding, f.subject)) unreadable.push_back(f.subject);
    }
    if (!unreadable.empty()) {
        EditFollower::Edit again = edit;
        again.files = unreadable;
        again.archive = false;
        unsettled = again;
        unsettledAt = std::chrono::steady_clock::now();
    } else {
        holding.clear();
    }
    publishFindings();
    if (shown) reportEditShown(edit);
}

// Pictures read again in place, and the alpha of pictures they mask; false, with the error on the
// panel, when one can't be read (it keeps its old picture). With `unreadable`, such pictures are
// collected there instead, and the others read on.
bool Preview::reloadPictures(const std::vector<std::string>& pictures, bool allPictures,
                             std::vector<std::string>* unreadable) {
    const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
    for (Texture* texture : loaded) {
        const std::string& file = texture->sourcePath;
        if (!allPictures && !contains(pictures, file)) continue;
        std::string why;
        collector.pause(true); // what the loaders say here is this picture's finding
        const bool read = reloadPicture(*texture, file, why);
        collector.pause(false);
        const auto mine = [&](const findings::Finding& f) { return f.file == file; };
        if (!read) {
            if (unreadable) {
                unreadable->push_back(file);
                continue;
            }
            pictureFindings.erase(std::remove_if(pictureFindings.begin(), pictureFindings.end(), mine),
                                  pictureFindings.end());
            findings::Finding f;
            f.file = file;
            f.error = true;
            f.text = why + " (the demo keeps the picture it had)";
            pictureFindings.push_back(f);
            publishFindings();
            return false;
        }
        pictureFindings.erase(std::remove_if(pictureFindings.begin(), pictureFindings.end(), mine),
                              pictureFindings.end());
        for (Texture* masked : loaded)
            if (masked->alphaMask == texture) masked->applyAlphaMask(texture);
    }
    publishFindings();
    return true;
}

// A saved shader program goes into the effects that draw it: the next frame draws with it, and
// one the driver refuses leaves the last good program drawing, with the driver's message.
bool Preview::reloadShaders(const EditFollower::Edit& edit) {
    if (edit.archive || edit.everything || edit.files.empty() || !effectList) return false;
    std::vector<ShaderEffect*> programs;
    for (const std::string& file : edit.files) {
        bool drawn = false;
        for (Effect* effect : effectList->effects()) {
            auto* shader = dynamic_cast<ShaderEffect*>(effect);
            if (shader && shader->programFile() == file) {
                programs.push_back(shader);
                drawn = true;
            }
        }
        if (!drawn) return false;
    }
    std::string refused;
    for (ShaderEffect* shader : programs) {
        const std::string why = shader->reloadProgram();
        if (!why.empty() && refused.find(why) == std::string::npos)
            refused += (refused.empty() ? "" : "\n") + why;
    }
    if (!refused.empty()) {
        notifyAuthor(Notice::Shader, refused);
        return true;
    }
    notifyAuthor(Notice::Shader, "");
    for (const std::string& file : edit.files)
        fprintf(stderr, "holdfast-preview: %s reloaded\n", tool::printable(file).c_str());
    if (playing) {
        editToShow = edit; // reported with the next frame
        return true;
    }
    redraw(); // paused: the frame on screen again, with the new program
    reportEditShown(edit);
    return true;
}

// The script with everything it loads (a picture the demo has not loaded yet, missing so
// far, comes with it), and a jump to where the preview is. The pictures that only the old version
// named go, and so does all a failed load read: a preview reloading all day holds what its
// script shows, as a fresh start on it does.
bool Preview::readScriptAgain() {
    collector.clear();
    problem.reset();
    std::string text;
    ScriptProblem failure;
    TextureManager& textures = TextureManager::instance();
    textures.markFileTextures();
    // As in the loading sequence: a picture's decoded copy goes once it is uploaded.
    const bool keptImages = TextureManager::keepDecodedImages(false);
    // What a failed load read goes again.
    const auto dropFailedLoad = [&] {
        TextureManager::keepDecodedImages(keptImages);
        textures.releaseUnmarked();
        platform::returnFreeMemory();
    };
    if (!readScript(kScriptName, text, failure)) {
        dropFailedLoad();
        findings::Finding f;
        f.file = kScriptName;
        f.error = true;
        f.text = "the script " + findings::missingFile(kScriptName);
        problem = f;
        fprintf(stderr, "holdfast-preview: not reloaded: the demo keeps running as it was\n");
        publishFindings();
        return false;
    }
    if (!loadScript(text, failure)) {
        dropFailedLoad();
        showProblem(failure);
        fprintf(stderr, "holdfast-preview: not reloaded: the demo keeps running as it was\n");
        publishFindings();
        return false;
    }
    script = text;
    sections = timelineSections(script, scriptLoader.defined());
    notifyAuthor(Notice::Shader, ""); // every program was built again
    edits.watchOpenedFiles();
    if (rocket) rocket->scriptReloaded();
    fprintf(stderr, "holdfast-preview: script reloaded\n");
    jump(now());
    TextureManager::keepDecodedImages(keptImages);
    const size_t released = textures.releaseMarkedNotAskedFor();
    platform::returnFreeMemory();
    if (released > 0)
        fprintf(stderr, "holdfast-preview: %zu pictures no longer named were released\n", released);
    publishFindings();
    return true;
}

// What the preview tells its author about itself: stderr, and a status line on the panel (an
// empty text takes the kind's line away).
void Preview::notifyAuthor(Notice kind, const std::string& text) {
    const Overlay::Kind line = kind == Notice::Watch ? Overlay::Kind::Watcher : Overlay::Kind::Shader;
    if (kind == Notice::Shader) {
        const std::string first = text.substr(0, text.find('\n'));
        if (first != shaderRefusal) titleDirty = true;
        shaderRefusal = first;
    }
    if (text.empty()) {
        overlay.withdraw(line);
        return;
    }
    if (kind == Notice::Shader) {
        fprintf(stderr, "holdfast-preview: %s\n(the last good program draws on)\n",
                tool::printable(text).c_str());
        overlay.post(line, text + " (the last good program draws on)", Overlay::Tone::Error, 0);
    } else {
        fprintf(stderr, "holdfast-preview: %s\n", tool::printable(text).c_str());
        overlay.post(line, "watch: " + text, Overlay::Tone::Warning, 10);
    }
}

// A failed load's error, unless the collector heard it as it happened.
void Preview::showProblem(const ScriptProblem& failure) {
    const std::string text = findings::authorText(failure.message);
    for (const findings::Finding& f : collector.findings())
        if (f.error && f.text == text) return;
    findings::Finding f;
    f.file = kScriptName;
    f.line = failure.scriptLine;
    f.error = true;
    f.text = text;
    problem = f;
    publishFindings();
}

void Preview::say(const findings::Finding& finding, std::set<std::string>& said) {
    const std::string line = findings::format(finding);
    if (said.insert(line).second) fprintf(stderr, "holdfast-preview: %s\n", tool::printable(line).c_str());
}

void Preview::heard(const findings::Finding& finding) {
    if (!finding.subject.empty() && contains(holding, finding.subject)) return; // may be half written
    say(finding, said);
}

// What the panel and the title show: the collector's findings (less pictures that wait for their
// files to settle), a failed load's error, pictures an edit could not read again.
void Preview::publishFindings() {
    std::vector<findings::Finding> now;
    for (const findings::Finding& f : collector.findings())
        if (f.subject.empty() || !contains(holding, f.subject)) now.push_back(f);
    if (problem) now.push_back(*problem);
    now.insert(now.end(), pictureFindings.begin(), pictureFindings.end());
    // In the checker's order: the script's by line, then the other files'.
    std::stable_sort(now.begin(), now.end(), [](const findings::Finding& a, const findings::Finding& b) {
        const bool scriptA = a.file == kScriptName, scriptB = b.file == kScriptName;
        return scriptA != scriptB ? scriptA : scriptA && a.line < b.line;
    });
    std::set<std::string> lasting;
    for (const findings::Finding& f : now) {
        say(f, said);
        lasting.insert(findings::format(f));
    }
    said = lasting; // a finding that went and comes back is said again
    const auto same = [](const findings::Finding& a, const findings::Finding& b) {
        return findings::format(a) == findings::format(b);
    };
    if (now.size() == published.size() && std::equal(now.begin(), now.end(), published.begin(), same)) return;
    published = now;
    overlay.setFindings(published);
    titleDirty = true;
}

// One picture read again into its texture; false with `failed` saying why when it can't be.
bool Preview::reloadPicture(Texture& texture, const std::string& file, std::string& failed) {
    try {
        report::FatalGuard guard; // a bit depth the upload refuses ends nothing here
        if (texture.reloadFromFile()) return true;
        failed = findings::pictureProblem(file);
        if (failed.empty()) failed = "cannot be read as a picture (an 8-bit RGB or RGBA PNG, or a JPEG)";
    } catch (const report::FatalError& e) {
        failed = findings::authorText(e.record.text);
    }
    return false;
}

} // namespace preview
