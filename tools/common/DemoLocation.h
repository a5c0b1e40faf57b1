// Where an authoring tool finds the demo it works on: a data archive, or a folder holding data/
// read straight from disk, with the music beside it unless another file is named; and the folders
// it writes into.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace tool {

// The path made absolute and normal (as given when that fails).
inline std::filesystem::path absolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? std::filesystem::path(path) : p.lexically_normal();
}

// Creates the folder unless it exists; false, after saying so on stderr, when it cannot.
inline bool makeOutputDirectory(const char* toolName, const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (std::filesystem::is_directory(dir, ec)) return true;
    std::fprintf(stderr, "%s: cannot make the output directory %s\n", toolName, dir.c_str());
    return false;
}

struct DemoData {
    std::filesystem::path path; // absolute
    bool fromDirectory = false;

    // False when the path is neither a data archive nor a directory.
    bool find(const std::string& option) {
        std::error_code ec;
        path = absolutePath(option);
        fromDirectory = std::filesystem::is_directory(path, ec);
        return fromDirectory || std::filesystem::is_regular_file(path, ec);
    }
    // music.ogg inside the folder or beside the archive, unless `option` names another file.
    std::filesystem::path music(const std::string& option) const {
        if (!option.empty()) return absolutePath(option);
        return (fromDirectory ? path : path.parent_path()) / "music.ogg";
    }
    // Data files are named relative to the demo's folder, as in the player's working directory:
    // a folder is entered. False, after saying so on stderr, when it cannot be.
    bool enter(const char* toolName) const {
        if (!fromDirectory || chdir(path.c_str()) == 0) return true;
        std::fprintf(stderr, "%s: cannot enter %s\n", toolName, path.c_str());
        return false;
    }
};

} // namespace tool
