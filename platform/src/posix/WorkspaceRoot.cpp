#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/Workspace.h"

namespace platform {

std::string PrivateFolderName() {
    // The temporary directory is shared by every user: one folder each.
    return "quorvane-" + std::to_string(::geteuid());
}

RootState PrepareWorkspaceRoot() {
    if (!SystemTempDirectory().exists) {
        return RootState::NoTempDirectory;
    }
    const std::string root = WorkspaceRoot();
    if (::mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) {
        return RootState::CannotCreate;
    }
    // Opened without following a link, then judged on what was opened, so a
    // name swapped in between cannot pass.
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP || errno == ENOTDIR ? RootState::NotPrivate : RootState::CannotCreate;
    }
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    // Ours but opened up (an old umask, a hand-made folder): close it again.
    const bool closed = ours && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return closed ? RootState::Ready : RootState::NotPrivate;
}

}  // namespace platform
