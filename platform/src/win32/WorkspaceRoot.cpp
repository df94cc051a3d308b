#include <filesystem>
#include <string>
#include <system_error>

#include "platform/Workspace.h"

namespace platform {

std::string PrivateFolderName() {
    // %TEMP% is the user's own already; the folder keeps the tool's files together.
    return "Quorvane";
}

RootState PrepareWorkspaceRoot() {
    namespace fs = std::filesystem;
    if (!SystemTempDirectory().exists) {
        return RootState::NoTempDirectory;
    }
    const fs::path root = WorkspaceRoot();
    std::error_code ec;
    fs::create_directory(root, ec);
    if (ec) {
        return RootState::CannotCreate;
    }
    // A link or a junction in its place is not ours to unpack into.
    const fs::file_status st = fs::symlink_status(root, ec);
    return !ec && fs::is_directory(st) ? RootState::Ready : RootState::NotPrivate;
}

}  // namespace platform
