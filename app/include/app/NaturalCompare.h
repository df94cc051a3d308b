#pragma once

#include <string_view>

namespace app {

// Orders two UTF-8 texts the way the Windows shell's logical comparison does:
// runs of ASCII digits by numeric value (any length, leading zeros ignored),
// other characters one by one without regard to case, with punctuation and
// symbols before digits, digits before letters and letters before non-ASCII
// text. A text that is the start of the other comes first.
// Returns a negative number, 0 or a positive number.
int NaturalCompare(std::string_view a, std::string_view b);

}  // namespace app
