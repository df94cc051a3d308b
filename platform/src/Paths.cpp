#include "platform/Paths.h"

#include "platform/FileIo.h"

namespace platform {

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() &&
        std::string_view(kPathSeparators).find(out.back()) == std::string_view::npos) {
        out += kPathSeparator;
    }
    out += name;
    return out;
}

std::filesystem::path FsPath(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string u = path.u8string();
    return std::string(u.begin(), u.end());
}

}  // namespace platform
