#pragma once
// Addresses and fixed-size texts as the records carry them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wire {

using Mac = std::array<uint8_t, 6>;
using Ipv4 = std::array<uint8_t, 4>;

// "AA:BB:CC:DD:EE:FF": six two-digit hexadecimal bytes joined by ':' or '-', either case.
std::optional<Mac> ParseMac(std::string_view text);
// Upper case with ':', as the device list shows it.
std::string FormatMac(const uint8_t* mac);

// Strict dotted decimal: four parts of 1 to 3 digits, each 0..255, nothing else.
std::optional<Ipv4> ParseIpv4(std::string_view text);
std::string FormatIpv4(const uint8_t* ip);

// Copies at most cap-1 bytes of `text` into `dst` and fills the rest with NUL.
void CopyText(char* dst, size_t cap, std::string_view text);
// The text in a fixed field of `cap` bytes; stops at the first NUL or at cap-1 bytes,
// whatever the sender put in the last byte.
std::string TextField(const char* field, size_t cap);

}  // namespace wire
