#pragma once

#include <string>

namespace platform {

// Opens `path` in the desktop's default application for text files
// (xdg-open), or in the program named by QUORVANE_EDITOR when that is set.
// Does not wait for the editor; false when it could not be started, or when
// it ended at once with a failure (xdg-open finding no program for the file).
bool OpenInEditor(const std::string& path);

}  // namespace platform
