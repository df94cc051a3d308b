#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

FileLock::Result FileLock::TryLock(const std::string& path, std::string* error) {
    Release();
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error != nullptr) {
            *error = errno == ELOOP ? "is a symbolic link" : std::strerror(errno);
        }
        return Result::Error;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error != nullptr) {
            *error = "not a regular file";
        }
        return Result::Error;
    }
    // flock locks belong to the open file, so a second FileLock of this
    // process is refused as another process would be.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            return Result::Busy;
        }
        if (error != nullptr) {
            *error = std::strerror(err);
        }
        return Result::Error;
    }
    fd_ = fd;
    return Result::Locked;
}

void FileLock::Release() {
    if (fd_ >= 0) {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
