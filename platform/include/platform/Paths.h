#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The separator this system writes between folder names; Windows reads '/'
// too, but a technician reads the paths the tool shows and logs.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// `name` inside the folder `dir`, with one separator between them.
std::string JoinPath(std::string_view dir, std::string_view name);

// The standard library's path of a UTF-8 text, and back. Windows reads a plain
// std::string as the ANSI code page, which would garble a Chinese folder name
// (a user named in Chinese has one in %TEMP%).
std::filesystem::path FsPath(std::string_view utf8);
std::string Utf8Path(const std::filesystem::path& path);

// Folders and a name one inside the other: JoinPath(w, ".send", "Pack.bin").
template <typename... Rest>
std::string JoinPath(std::string_view dir, std::string_view name, std::string_view next,
                     Rest... rest) {
    return JoinPath(JoinPath(dir, name), next, rest...);
}

}  // namespace platform
