#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Longest value GetPrivateProfileString hands back (a 260-byte buffer less its NUL).
inline constexpr std::size_t kProfileValueMax = 259;

// Reads `key` of `section` from the INI file at `path` with the results of the
// Windows private-profile call: names without regard to case, blanks trimmed,
// one pair of matching quotes removed, no inline comments, first match wins,
// an empty value is not the default, at most 259 characters.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path);

// The same rules applied to INI text already in memory (tests, embedded files).
std::string GetProfileStringFromText(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, const std::string& text);

// File bytes as UTF-8: UTF-16 LE or BE after a byte-order mark is converted,
// anything else is returned unchanged.
std::string IniTextToUtf8(const std::string& bytes);

}  // namespace platform
