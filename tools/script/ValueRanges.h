// The values of each effect's keyable variables that mean something, taken from what the effect
// does with them: colours and opacities 0 to 1 (the GL clamps the rest), switches 0 or 1, a choice
// among N values by fraction, the grids' formula numbers. The checker warns on a SIGNAL key
// outside them; variables an effect only accepts, or whose every value shows something (speeds,
// the grids' coefficients), are free.
#pragma once

#include <string>
#include <vector>

namespace check {

struct ValueRange {
    const char* effects;   // script names, blank-separated; "" for every effect
    const char* variables; // blank-separated
    double low, high;      // inclusive; infinite where open
    bool whole;            // whole numbers only (a fraction is cut to one)
    const char* meaning;   // what the value is, and what the player makes of others
    bool free() const;
};

// Every row, most specific first: the first row naming the effect and the variable applies.
const std::vector<ValueRange>& valueRanges();
// The row for a variable of an effect; nullptr when the table has none.
const ValueRange* valueRange(const std::string& effect, const std::string& variable);
// "0 to 1", "0 or more", "any", "the whole numbers 0 to 4".
std::string describe(const ValueRange& range);
// Why `value` is outside the row, or "" when it is inside.
std::string outOfRange(const ValueRange& range, const std::string& variable, double value);

} // namespace check
