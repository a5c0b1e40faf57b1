// Reloading the demo as its files are saved: pictures in place, else the script with what it
// loads, and a jump back to where the preview was; what fails keeps the demo as it was.
#include "preview/Preview.h"

#include "base/Report.h"
#include "common/Printable.h"
#include "demo/ScriptLoader.h"
#include "resources/Texture.h"

#include <algorithm>
#include <cstdio>

namespace preview {

// Reads the demo's files again: the pictures in `pictures` (all that came from files when
// `allPictures`), then the script with everything it loads. What fails keeps the demo as it
// was, with the error in the title; false then.
bool Preview::reload(const std::vector<std::string>& pictures, bool allPictures) {
    return reloadPictures(pictures, allPictures) && readScriptAgain();
}

// Reloads what an edit on disk touched, without a key. Pictures alone are read again into
// their textures: a playing preview shows them in its next frame, a paused one jumps to
// where it is (so the frame is the one a player would show).
void Preview::followEdit() {
    preview::EditFollower::Edit edit;
    if (!edits.poll(edit)) return;
    for (const std::string& file : edit.files)
        fprintf(stderr, "holdfast-preview: %s changed\n", tool::printable(file).c_str());
    if (edit.archive) fprintf(stderr, "holdfast-preview: the archive changed\n");
    const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
    const bool picturesOnly =
        !edit.archive && std::all_of(edit.files.begin(), edit.files.end(), [&](const std::string& file) {
            return std::any_of(loaded.begin(), loaded.end(),
                               [&](const Texture* texture) { return texture->sourcePath == file; });
        });
    if (picturesOnly) {
        if (!reloadPictures(edit.files, false)) return;
        if (playing) {
            editToShow = edit; // reported with the next frame
            return;
        }
        jump(now());
    } else if (!reload(edit.files, edit.archive)) {
        return;
    }
    reportEditShown(edit);
}

// Pictures read again in place, and the alpha of pictures they mask; false, with the error
// in the title, when one can't be read (it keeps its old picture).
bool Preview::reloadPictures(const std::vector<std::string>& pictures, bool allPictures) {
    const std::vector<Texture*> loaded = TextureManager::instance().fileTextures();
    for (Texture* texture : loaded) {
        const std::string& file = texture->sourcePath;
        if (!allPictures && std::find(pictures.begin(), pictures.end(), file) == pictures.end()) continue;
        std::string failed;
        if (!reloadPicture(*texture, file, failed)) {
            pictureError = failed;
            fprintf(stderr, "holdfast-preview: %s (the demo keeps the picture it had)\n",
                    tool::printable(failed).c_str());
            titleDirty = true;
            return false;
        }
        for (Texture* masked : loaded)
            if (masked->alphaMask == texture) masked->applyAlphaMask(texture);
    }
    if (!pictureError.empty()) titleDirty = true;
    pictureError.clear();
    return true;
}

// The script with everything it loads (a picture the demo has not loaded yet, missing so
// far, comes with it), and a jump to where the preview is.
bool Preview::readScriptAgain() {
    std::string text;
    ScriptProblem problem;
    if (!readScript(kScriptName, text, problem) || !loadScript(text, problem)) {
        showProblem(problem);
        return false;
    }
    script = text;
    sections = timelineSections(script, scriptLoader.defined());
    error.clear();
    edits.watchOpenedFiles();
    if (rocket) rocket->scriptReloaded();
    fprintf(stderr, "holdfast-preview: script reloaded\n");
    jump(now());
    return true;
}

// One picture read again into its texture; false with `failed` saying why when it can't be.
bool Preview::reloadPicture(Texture& texture, const std::string& file, std::string& failed) {
    try {
        report::FatalGuard guard; // a bit depth the upload refuses ends nothing here
        if (texture.reloadFromFile()) return true;
        failed = file + ": cannot be read as a picture (an 8-bit RGB or RGBA PNG, or a JPEG)";
    } catch (const report::FatalError& e) {
        failed = file + ": " + withoutSourcePosition(e.record.text);
    }
    return false;
}

} // namespace preview
