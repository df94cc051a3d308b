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

// `text` with `key` of `section` set to `value`: the first such key of the
// first such section rewritten in place, else added at the section's end, else
// a new section at the end. Other lines, comments and line ends are kept.
std::string SetProfileStringInText(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& text);

// The same on the INI file at `path`, written whole (a missing file is
// created). Refused with `why`: a value of more than 259 characters or with a
// line break, a file that is not a regular one, UTF-16 text or larger than 1 MiB.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path, std::string* why);

// File bytes as UTF-8: UTF-16 LE or BE after a byte-order mark is converted,
// anything else is returned unchanged.
std::string IniTextToUtf8(const std::string& bytes);

}  // namespace platform
