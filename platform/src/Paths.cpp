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
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace platform
