#include "base/Suggest.h"

#include <algorithm>

namespace suggest {
namespace {
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

int distance(const std::string& a, const std::string& b) {
    // Optimal string alignment over three rows of the table.
    const size_t n = b.size();
    std::vector<int> before(n + 1), previous(n + 1), current(n + 1);
    for (size_t j = 0; j <= n; ++j)
        previous[j] = static_cast<int>(j);
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = static_cast<int>(i);
        for (size_t j = 1; j <= n; ++j) {
            const int cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            int best = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
                best = std::min(best, before[j - 2] + 1);
            current[j] = best;
        }
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return previous[n];
}

std::vector<std::string> closest(const std::string& word, const std::vector<std::string>& known,
                                 size_t most) {
    std::vector<std::string> found;
    if (word.empty() || std::find(known.begin(), known.end(), word) != known.end()) return found;
    const int limit = std::max<int>(1, static_cast<int>(word.size()) / 3);
    int best = limit + 1;
    for (const std::string& candidate : known) {
        // Words far apart in length cannot be close; spares the table for them.
        const size_t longer = std::max(word.size(), candidate.size());
        if (longer - std::min(word.size(), candidate.size()) > static_cast<size_t>(limit)) continue;
        const int d = distance(word, candidate);
        if (d > best || d >= static_cast<int>(word.size())) continue;
        if (d < best) {
            best = d;
            found.clear();
        }
        if (found.size() < most && std::find(found.begin(), found.end(), candidate) == found.end())
            found.push_back(candidate);
    }
    return found;
}

std::string didYouMean(const std::vector<std::string>& words, const char* quote) {
    if (words.empty()) return std::string();
    std::string text = "did you mean ";
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
        text += quote + words[i] + quote;
    }
    return text + "?";
}

} // namespace suggest
