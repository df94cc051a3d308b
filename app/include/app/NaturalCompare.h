#pragma once

#include <string_view>

namespace app {

// Orders two UTF-8 texts the way the Windows shell's logical comparison does:
// runs of ASCII digits by numeric value (any length, leading zeros ignored),
// punctuation and symbols one by one, before digits, and digits before words.
// A word is a run of ASCII letters and non-ASCII characters: ASCII-only words
// compare letter by letter without regard to case, and words that hold
// non-ASCII characters with the Chinese collation (pinyin order for Han, case
// ignored, accents only breaking ties: é = É, é before f). Every text is cut
// into the same pieces whatever it is compared with, so the order is
// transitive.
// A text that is the start of the other comes first.
// Returns a negative number, 0 or a positive number.
int NaturalCompare(std::string_view a, std::string_view b);

}  // namespace app
