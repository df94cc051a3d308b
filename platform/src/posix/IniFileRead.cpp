#include "platform/FileIo.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/WholeFile.h"

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

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path,
                               std::string* why) {
    if (value.size() > kProfileValueMax || value.find_first_of("\r\n") != std::string::npos) {
        *why = "value too long or holding a line break";
        return false;
    }
    std::string text;
    if (InfoOf(path, false).Exists()) {
        const auto bytes = ReadRegularFile(path, 1024 * 1024, why);
        if (!bytes) {
            return false;
        }
        if (IniTextToUtf8(*bytes) != *bytes) {
            *why = "UTF-16 text";
            return false;
        }
        text = *bytes;
    }
    const std::filesystem::path p = FsPath(path);
    const std::string dir = Utf8Path(p.parent_path());
    return WriteWholeFile(dir.empty() ? "." : dir, Utf8Path(p.filename()),
                          SetProfileStringInText(section, key, value, text), why);
}

}  // namespace platform
