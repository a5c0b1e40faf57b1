// Reloading the demo as its files are saved: pictures in place, else the script with what it
// loads, and a jump back to where the preview was; what fails keeps the demo as it was.
#include "preview/Preview.h"

#include "base/Report.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "demo/ScriptLoader.h"
#include "effects/ShaderEffect.h"
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
    for (const EditFollower::Notice& notice : edits.notices())
        notifyAuthor(Notice::Watch, notice.text);
    preview::EditFollower::Edit edit;
    if (!edits.poll(edit)) return;
    for (const std::string& file : edit.files)
        fprintf(stderr, "holdfast-preview: %s changed\n", file.c_str());
    if (edit.archive) fprintf(stderr, "holdfast-preview: the archive changed\n");
    if (edit.everything) {
        // Which files changed is unknown: all of them are read again, as R does.
        fprintf(stderr, "holdfast-preview: the system dropped file events (more came at once than its queue "
                        "holds): reading everything again\n");
        if (reload({}, true)) reportEditShown(edit);
        return;
    }
    if (reloadShaders(edit)) return;
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
            fprintf(stderr, "holdfast-preview: %s (the demo keeps the picture it had)\n", failed.c_str());
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
        fprintf(stderr, "holdfast-preview: %s reloaded\n", file.c_str());
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
    std::string text;
    ScriptProblem problem;
    TextureManager& textures = TextureManager::instance();
    textures.markFileTextures();
    // As in the loading sequence: a picture's decoded copy goes once it is uploaded.
    const bool keptImages = TextureManager::keepDecodedImages(false);
    if (!readScript(kScriptName, text, problem) || !loadScript(text, problem)) {
        TextureManager::keepDecodedImages(keptImages);
        textures.releaseUnmarked();
        platform::returnFreeMemory();
        showProblem(problem);
        return false;
    }
    script = text;
    sections = timelineSections(script, scriptLoader.defined());
    error.clear();
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
    return true;
}

// The one way the preview tells its author about itself: stderr, and the window's title (the
// first line of the text).
void Preview::notifyAuthor(Notice kind, const std::string& text) {
    std::string& onScreen = kind == Notice::Watch ? watchNotice : shaderError;
    if (text.empty()) {
        if (!onScreen.empty()) titleDirty = true;
        onScreen.clear();
        return;
    }
    if (kind == Notice::Shader)
        fprintf(stderr, "holdfast-preview: %s\n(the last good program draws on)\n", text.c_str());
    else
        fprintf(stderr, "holdfast-preview: %s\n", text.c_str());
    const std::string line = text.substr(0, text.find('\n'));
    onScreen = kind == Notice::Watch ? "watch: " + line : line;
    titleDirty = true;
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
