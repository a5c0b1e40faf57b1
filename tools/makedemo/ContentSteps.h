// The demo maker's generators. Each content area (pictures, scenes, morph data, programs)
// lives in its own file under tools/makedemo/ and registers itself with a static
// RegisterContentStep; the maker runs every step in name order after copying content/data.
#pragma once

#include <filesystem>
#include <vector>

struct ContentStep {
    const char* name;
    // Writes its files under dataDir (OUT/data); false after printing why it failed.
    bool (*make)(const std::filesystem::path& dataDir);
};

std::vector<ContentStep>& contentSteps();

struct RegisterContentStep {
    RegisterContentStep(const char* name, bool (*make)(const std::filesystem::path& dataDir)) {
        contentSteps().push_back({name, make});
    }
};
