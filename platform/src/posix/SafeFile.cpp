#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace platform {
namespace {

void Say(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

std::string Errno(int err) {
    return std::strerror(err);
}

// O_NONBLOCK keeps a FIFO from stopping the open; it is cleared again once the
// file is known to be regular.
int OpenRegular(const std::string& path, int flags, std::string* error) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        // ENXIO: a FIFO nobody reads, refused by the non-blocking open.
        Say(error, err == ELOOP   ? "is a symbolic link"
                   : err == ENXIO ? "not a regular file"
                                  : Errno(err));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        Say(error, "not a regular file");
        return -1;
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) {
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    }
    return fd;
}

}  // namespace

int OpenAppendRegular(const std::string& path, std::string* error) {
    return OpenRegular(path, O_WRONLY | O_APPEND | O_CREAT, error);
}

bool AppendWhole(int fd, std::string_view data, std::string* error) {
    if (fd < 0) {
        Say(error, "not open");
        return false;
    }
    ssize_t n = -1;
    do {
        n = ::write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        Say(error, Errno(errno));
        return false;
    }
    if (static_cast<std::size_t>(n) == data.size()) {
        return true;
    }
    // Cut short (disk full, RLIMIT_FSIZE): take the piece back, unless someone
    // else has appended since, whose line must not be cut instead.
    const int err = errno;
    struct stat st {};
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end >= n && ::fstat(fd, &st) == 0 && st.st_size == end) {
        (void)::ftruncate(fd, end - n);
    }
    Say(error, err != 0 ? Errno(err) : "short write");
    return false;
}

bool SyncToDisk(int fd, std::string* error) {
    if (::fdatasync(fd) != 0) {
        Say(error, Errno(errno));
        return false;
    }
    return true;
}

bool SyncFolder(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Say(error, Errno(errno));
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    if (!ok) {
        Say(error, Errno(errno));
    }
    ::close(fd);
    return ok;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error) {
    const int fd = OpenRegular(path, O_RDONLY, error);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        Say(error, "is " + std::to_string(st.st_size) + " bytes, at most " +
                       std::to_string(maxBytes) + " expected");
        return std::nullopt;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            Say(error, Errno(err));
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
            ::close(fd);
            Say(error, "grew past " + std::to_string(maxBytes) + " bytes while being read");
            return std::nullopt;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace platform
