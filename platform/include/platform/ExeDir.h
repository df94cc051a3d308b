#pragma once

#include <string>

namespace platform {

// Full path of the running executable; empty if it cannot be read.
std::string ExePath();

// Folder of the running executable without a trailing separator, or the
// override set with SetExeDirOverride (tests and --config-dir use it).
std::string ExeDir();

// Makes ExeDir() answer `dir` from now on; an empty text removes the override.
void SetExeDirOverride(const std::string& dir);

// Folder part of `path`, cut before its last separator; the whole path
// without one.
std::string DirOf(const std::string& path);

}  // namespace platform
