#include "app/Decimal.h"

#include <charconv>

namespace app {

std::optional<long long> ParseDecimal(std::string_view text, long long low, long long high) {
    // from_chars would take a leading '-'; digits only are asked for.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace app
