#pragma once

#include <string>

#include "platform/LocalTime.h"

namespace platform {

// The system temporary directory: TMPDIR (then TMP, TEMP, TEMPDIR) when set,
// else /tmp. `exists` is false when that names no folder: a missing folder is
// said, never silently replaced by another.
struct TempDirectory {
    std::string path;
    bool exists = false;
};
TempDirectory SystemTempDirectory();

// Folder under which upgrade workspaces are created, standing in for the root
// of drive C:: this user's private folder inside the temporary directory, so
// that other users can neither plant names in it nor read what is unpacked.
std::string WorkspaceRoot();
// The name of that folder: "quorvane-<uid>" here, one name per user.
std::string PrivateFolderName();

enum class RootState {
    Ready,
    NoTempDirectory,  // the temporary directory does not exist
    NotPrivate,       // the folder is a link, another user's, or open to others
    CannotCreate,     // the folder cannot be made (full, read-only, no right)
};
// Makes WorkspaceRoot() when it is missing and checks that it is a real
// folder only this user may enter. The check is the platform's own business.
RootState PrepareWorkspaceRoot();

// "<root>/UpdatePacket_YYYYMMDDhhmmssmmm" for the given local time.
std::string WorkspacePathFor(const LocalTime& t);

// True when `path` names a directory directly under WorkspaceRoot() whose name
// is "UpdatePacket_" followed by exactly 17 digits; nothing else is ours.
bool IsToolWorkspace(const std::string& path);

// Removes a workspace tree without a shell. A path that is not a workspace of
// this tool (see IsToolWorkspace), or a symbolic link, is left alone. Returns
// whether something was removed; errors are swallowed.
bool RemoveWorkspaceTree(const std::string& path);

}  // namespace platform
