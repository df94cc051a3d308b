#pragma once

#include <string>

#include "platform/LocalTime.h"

namespace platform {

// Folder under which upgrade workspaces are created: the system temporary
// directory (TMPDIR when set), standing in for the root of drive C:.
std::string WorkspaceRoot();

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
