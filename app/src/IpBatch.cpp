#include "app/IpBatch.h"

#include <cstdio>

namespace app {

std::optional<std::vector<std::string>> ConsecutiveAddresses(
    const std::array<std::uint8_t, 4>& start, std::size_t count) {
    unsigned c = start[2];
    unsigned d = start[3];
    if (d == 0 || d == 255) {
        return std::nullopt;
    }
    // Usable addresses from the start on: the rest of this subnet plus 254 per
    // further subnet up to c = 255. Checked before anything is built.
    const std::size_t available = (255u - d) + static_cast<std::size_t>(255u - c) * 254u;
    if (count > available) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (d > 254) {
            d = 1;
            ++c;
        }
        char text[16];
        std::snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned{start[0]}, unsigned{start[1]}, c,
                      d);
        out.emplace_back(text);
        ++d;
    }
    return out;
}

}  // namespace app
