#include "platform/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string Why(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

}  // namespace

bool EnsureRealDir(const std::string& dir, std::string* error) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        *error = dir + ": 不是文件夹";
        return false;
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = Why(dir, errno);
        return false;
    }
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = dir + ": 不是文件夹";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& dir, const std::string& name, std::string_view data,
                    std::string* error) {
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = path + ": 不是普通文件，未写入";
        return false;
    }
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        dir + "/." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = Why(temp, errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = Why(temp, n < 0 ? errno : ENOSPC);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncErr = errno;
    if (::close(fd) != 0 || !synced) {
        *error = Why(temp, synced ? errno : syncErr);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        *error = Why(path, errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
