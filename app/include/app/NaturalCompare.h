#pragma once

#include <string_view>

namespace app {

// Orders two UTF-8 texts the way the Windows shell's logical comparison does:
// runs of ASCII digits by numeric value (any length, leading zeros ignored),
// other characters one by one without regard to case, with punctuation and
// symbols before digits and digits before letters. A run of text that holds
// non-ASCII characters is compared with the Chinese collation instead (pinyin
// order for Han, case ignored, accents only breaking ties: é = É, é before f).
// A text that is the start of the other comes first.
// Returns a negative number, 0 or a positive number.
int NaturalCompare(std::string_view a, std::string_view b);

}  // namespace app
