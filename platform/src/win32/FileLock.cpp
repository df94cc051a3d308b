#include "platform/FileLock.h"

#include <windows.h>

#include <io.h>

#include "Win32File.h"

namespace platform {

FileLock::Result FileLock::TryLock(const std::string& path, std::string* error) {
    Release();
    const HANDLE h = win32::OpenHandle(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, true);
    const int fd = win32::AdoptRegular(h, 0, error);
    if (fd < 0) {
        return Result::Error;
    }
    // Byte-range locks belong to the handle, so a second FileLock of this
    // process is refused as another process would be.
    OVERLAPPED at{};
    if (!::LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)),
                      LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD err = ::GetLastError();
        ::_close(fd);
        if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING) {
            return Result::Busy;
        }
        if (error != nullptr) {
            *error = win32::ErrorText(err);
        }
        return Result::Error;
    }
    fd_ = fd;
    return Result::Locked;
}

void FileLock::Release() {
    if (fd_ >= 0) {
        OVERLAPPED at{};
        ::UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(fd_)), 0, 1, 0, &at);
        ::_close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
