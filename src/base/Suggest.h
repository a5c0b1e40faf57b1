// "Did you mean ...?": the known words closest to a word that is not known, for messages about
// misspelt statements, effect names, variable names and DEFINE names.
#pragma once

#include <string>
#include <vector>

namespace suggest {

// Edit distance, ignoring ASCII case: an inserted, deleted or replaced character and a swap of
// two neighbours count 1 each.
int distance(const std::string& a, const std::string& b);

// The known words close enough to `word` to be what its author meant: those at the smallest
// distance found, at most `most` of them, in the order of `known`. A word counts as close when
// at most a third of it (and at least one character) differs, and not all of it. Empty when the
// word is known as it stands.
std::vector<std::string> closest(const std::string& word, const std::vector<std::string>& known,
                                 size_t most = 3);

// "did you mean 'A'?", "did you mean 'A' or 'B'?", ...; "" without words. `quote` stands on either
// side of each word.
std::string didYouMean(const std::vector<std::string>& words, const char* quote = "'");

} // namespace suggest
