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

// Folders and a name one inside the other: JoinPath(w, ".send", "Pack.bin").
template <typename... Rest>
std::string JoinPath(std::string_view dir, std::string_view name, std::string_view next,
                     Rest... rest) {
    return JoinPath(JoinPath(dir, name), next, rest...);
}

// The tool's paths are UTF-8 on both systems, but on Windows std::filesystem
// takes a narrow path in the ANSI code page: a folder named in Chinese would
// become another, missing one. These two cross that boundary.
std::filesystem::path FsPath(std::string_view utf8);
std::string Utf8Path(const std::filesystem::path& path);

}  // namespace platform
