#include "platform/SafeFile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <climits>

#include "Win32File.h"

namespace platform {
namespace {

void Say(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

// Append-only access: every write lands at the end of the file in one piece,
// whoever else appends.
int OpenAppendRegular(const std::string& path, std::string* error) {
    const HANDLE h = win32::OpenHandle(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, true);
    return win32::AdoptRegular(h, _O_APPEND, error);
}

// An append-only handle cannot cut a short write back; a disk that is full
// refuses the whole write on Windows, so a torn line is not left either.
bool AppendWhole(int fd, std::string_view data, std::string* error) {
    if (fd < 0) {
        Say(error, "not open");
        return false;
    }
    if (data.size() > INT_MAX) {
        Say(error, "line too long");
        return false;
    }
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD wrote = 0;
    if (!::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &wrote, nullptr)) {
        Say(error, win32::ErrorText(::GetLastError()));
        return false;
    }
    if (wrote != data.size()) {
        Say(error, "short write");
        return false;
    }
    return true;
}

bool SyncToDisk(int fd, std::string* error) {
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE || !::FlushFileBuffers(h)) {
        Say(error, win32::ErrorText(::GetLastError()));
        return false;
    }
    return true;
}

bool SyncFolder(const std::string& path, std::string* error) {
    (void)path;
    (void)error;
    return true;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error) {
    const HANDLE h = win32::OpenHandle(path, GENERIC_READ, OPEN_EXISTING, true);
    if (h == INVALID_HANDLE_VALUE) {
        Say(error, win32::ErrorText(::GetLastError()));
        return std::nullopt;
    }
    const FileInfo info = win32::InfoOfHandle(h);
    if (!info.Regular()) {
        ::CloseHandle(h);
        Say(error, info.kind == FileInfo::Kind::Link ? "is a symbolic link" : "not a regular file");
        return std::nullopt;
    }
    if (info.size > maxBytes) {
        ::CloseHandle(h);
        Say(error, "is " + std::to_string(info.size) + " bytes, at most " +
                       std::to_string(maxBytes) + " expected");
        return std::nullopt;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            Say(error, win32::ErrorText(::GetLastError()));
            ::CloseHandle(h);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + n > maxBytes) {
            ::CloseHandle(h);
            Say(error, "grew past " + std::to_string(maxBytes) + " bytes while being read");
            return std::nullopt;
        }
        text.append(buf, n);
    }
    ::CloseHandle(h);
    return text;
}

// Windows has no file-size signal.
void IgnoreFileSizeSignal() {}

}  // namespace platform
