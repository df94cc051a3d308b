#pragma once
// Shared by the Windows files of the platform layer: handles opened by a UTF-8
// name and turned into C runtime descriptors, and what a handle says about
// its file.

#include <windows.h>

#include <string>

#include "platform/FileIo.h"

namespace platform::win32 {

// The system's text for an error code.
std::string ErrorText(DWORD code);

// CreateFileW on a UTF-8 path. noFollow opens a reparse point (a symbolic
// link, a junction) itself instead of what it leads to.
HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, bool noFollow,
                  DWORD flags = 0);

FileInfo InfoOfHandle(HANDLE h);

// Checks that `h` is a regular file (not a folder, a link, a device or a
// pipe) and hands it to the C runtime; closes it and answers -1 otherwise.
int AdoptRegular(HANDLE h, int crtFlags, std::string* error);

}  // namespace platform::win32
