#pragma once

#include <string>

namespace platform {

// Opens `path` in the desktop's default application for text files
// (xdg-open), or in the program named by QUORVANE_EDITOR when that is set.
// Does not wait for the editor; returns whether it could be started.
bool OpenInEditor(const std::string& path);

}  // namespace platform
