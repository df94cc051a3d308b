#include "platform/WholeFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "Win32File.h"
#include "platform/WideText.h"

namespace platform {
namespace {

bool IsRealDir(const std::string& path) {
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool EnsureRealDir(const std::string& dir, std::string* error) {
    if (IsRealDir(dir)) {
        return true;
    }
    if (!CreateDirectoryW(Wide(dir).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *error = dir + ": " + win32::ErrorText(GetLastError());
        return false;
    }
    if (!IsRealDir(dir)) {
        *error = dir + ": 不是文件夹";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& dir, const std::string& name, std::string_view data,
                    std::string* error) {
    const std::string path = dir + "\\" + name;
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    if (a != INVALID_FILE_ATTRIBUTES &&
        (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        *error = path + ": 不是普通文件，未写入";
        return false;
    }
    static std::atomic<unsigned> serial{0};
    const std::string temp = dir + "\\." + name + ".tmp-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(serial++);
    HANDLE h = win32::OpenHandle(temp, GENERIC_WRITE, CREATE_NEW, true);
    if (h == INVALID_HANDLE_VALUE) {
        *error = temp + ": " + win32::ErrorText(GetLastError());
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        ok = WriteFile(h, data.data() + done, chunk, &wrote, nullptr) && wrote > 0;
        done += wrote;
    }
    ok = ok && FlushFileBuffers(h);
    const DWORD code = GetLastError();
    CloseHandle(h);
    if (!ok || !MoveFileExW(Wide(temp).c_str(), Wide(path).c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = path + ": " + win32::ErrorText(ok ? GetLastError() : code);
        DeleteFileW(Wide(temp).c_str());
        return false;
    }
    return true;
}

}  // namespace platform
