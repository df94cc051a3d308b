#pragma once

// Output files written whole: under a temporary name in the same folder, then
// renamed into place, so that a reader (or a crash) never sees half a file.

#include <string>
#include <string_view>

namespace platform {

// Creates `dir` (one level, mode 0755) when missing. False with the reason
// when it cannot, or when what is there is a link or not a folder.
bool EnsureRealDir(const std::string& dir, std::string* error);

// Writes `data` as `dir`/`name`. The temporary file is created new (never
// through a link); an existing `name` that is not a regular file (a link, a
// folder, a FIFO) is left alone and the write refused.
bool WriteWholeFile(const std::string& dir, const std::string& name, std::string_view data,
                    std::string* error);

}  // namespace platform
