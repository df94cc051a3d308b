#include "platform/IniFile.h"
#include "platform/SafeFile.h"

namespace platform {
namespace {
// A config file is a few lines; anything this large is not one.
constexpr std::size_t kMaxIniBytes = 4 * 1024 * 1024;
}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path) {
    // A link, a FIFO or a device counts as a missing file: nothing to wait for.
    const auto bytes = ReadRegularFile(path, kMaxIniBytes, nullptr);
    return GetProfileStringFromText(section, key, defaultValue,
                                    bytes ? IniTextToUtf8(*bytes) : std::string());
}

}  // namespace platform
