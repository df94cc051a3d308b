#include <windows.h>
// Our function has the name the Windows header makes a macro of.
#undef GetPrivateProfileString
#undef WritePrivateProfileString

#include <string>

#include "platform/FileIo.h"
#include "platform/IniFile.h"
#include "platform/WideText.h"

namespace platform {

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path) {
    // The system call follows links and would wait on a device: anything but
    // a regular file counts as a missing one, as on Linux.
    const FileInfo info = InfoOf(path, false);
    const std::string fallback = defaultValue.substr(0, kProfileValueMax);
    if (!info.Regular()) {
        return fallback;
    }
    // The wide call, so that a folder named in Chinese is found.
    wchar_t value[kProfileValueMax + 1] = {};
    const DWORD n = ::GetPrivateProfileStringW(
        Wide(section).c_str(), Wide(key).c_str(), Wide(fallback).c_str(), value,
        static_cast<DWORD>(kProfileValueMax + 1), Wide(path).c_str());
    return Utf8(std::wstring_view(value, n));
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path,
                               std::string* why) {
    if (value.size() > kProfileValueMax || value.find_first_of("\r\n") != std::string::npos) {
        *why = "value too long or holding a line break";
        return false;
    }
    const FileInfo info = InfoOf(path, false);
    if (info.Exists() && !info.Regular()) {
        *why = "not a regular file";
        return false;
    }
    // The system call, so that the file keeps the code page the reading call
    // expects (a name in Chinese comes back as it went in).
    if (!::WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                      Wide(path).c_str())) {
        *why = "error " + std::to_string(::GetLastError());
        return false;
    }
    return true;
}

}  // namespace platform
