// The bundled demo captured on an X server and with no display server at all, for the tests that
// compare the two.
#pragma once

#include "GLTest.h"

#include <filesystem>
#include <string>

namespace nodisplay {

// build/demo (data.qzd, music.ogg), made or found up to date by tools/make-demo.sh.
inline const std::string& bundledDemo() {
    static const std::string dir = [] {
        const std::string build = std::filesystem::path(HOLDFAST_BIN_DIR).parent_path().string();
        CommandResult r = runCommand(std::string(HOLDFAST_SOURCE_DIR) + "/tools/make-demo.sh " + build, 900);
        if (r.exitCode != 0) ADD_FAILURE() << "make-demo.sh failed:\n" << r.err;
        return build + "/demo";
    }();
    return dir;
}

// Runs holdfast-capture on the bundled demo with `arguments` into `out`: on the X server DISPLAY
// names, or with no display named at all (and no XDG_RUNTIME_DIR, as on a render server).
inline CommandResult capture(const std::string& arguments, const std::string& out, bool onX, int timeout) {
    const std::string environment = onX ? "" : "env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR ";
    return runCommand(environment + binPath("holdfast-capture") + " --data " + bundledDemo() + "/data.qzd " +
                          arguments + " --out " + out,
                      timeout);
}

// The names of the PNG files in `dir` whose bytes differ from those of the same name in `other`,
// or that `other` lacks; `count` is set to how many there are in `dir`.
inline std::string differingFrames(const std::string& dir, const std::string& other, int& count) {
    std::string differing;
    count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".png") continue;
        ++count;
        const std::string name = entry.path().filename().string();
        const std::string there = other + "/" + name;
        if (!std::filesystem::exists(there) || readFile(entry.path().string()) != readFile(there))
            differing += name + " ";
    }
    return differing;
}

} // namespace nodisplay
