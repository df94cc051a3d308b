#pragma once

#include <optional>
#include <string_view>

namespace app {

// A whole number written in decimal digits only, in [low, high]: what the
// command line and config.ini take. "010" is ten (no octal), and a sign,
// blanks, "0x", any other character or a value past the range is refused.
std::optional<long long> ParseDecimal(std::string_view text, long long low, long long high);

}  // namespace app
