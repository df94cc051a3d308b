#include <windows.h>

#include <string>

#include "platform/FileIo.h"
#include "platform/Workspace.h"

namespace platform {

// %TEMP% lies in the user's own profile, which other users cannot enter, so
// one fixed name is enough; the root of C: would need administrator rights.
std::string PrivateFolderName() {
    return "quorvane";
}

RootState PrepareWorkspaceRoot() {
    if (!SystemTempDirectory().exists) {
        return RootState::NoTempDirectory;
    }
    const std::string root = WorkspaceRoot();
    if (MakePrivateDir(root) == MakeDirResult::Failed) {
        return RootState::CannotCreate;
    }
    // A junction or a link in its place is not ours.
    const FileInfo info = InfoOf(root, false);
    return info.kind == FileInfo::Kind::Directory ? RootState::Ready : RootState::NotPrivate;
}

}  // namespace platform
