#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace app {

// `count` consecutive addresses from a.b.c.d: the last octet counts up to 254,
// then the next subnet a.b.(c+1).1 goes on, so that no address ends in 0 or
// 255. Nothing when they would pass a.b.255.254 (or d is 0 or 255).
std::optional<std::vector<std::string>> ConsecutiveAddresses(
    const std::array<std::uint8_t, 4>& start, std::size_t count);

}  // namespace app
