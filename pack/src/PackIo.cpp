#include "PackIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pack_detail {

std::unique_ptr<std::uint8_t[]> NewPiece() {
    return std::make_unique_for_overwrite<std::uint8_t[]>(kPiece);
}

Fd::~Fd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool Fd::Close() {
    if (fd_ < 0) {
        return false;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

Fd OpenRegularForReading(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.Ok()) {
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Fd();
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Fd();
    }
    return fd;
}

Fd CreateForWriting(const std::string& path, bool noFollow) {
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY;
    if (noFollow) {
        flags |= O_NOFOLLOW;
    }
    return Fd(::open(path.c_str(), flags, 0666));
}

std::size_t ReadSome(int fd, void* buf, std::size_t len) {
    for (;;) {
        const ssize_t n = ::read(fd, buf, len);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

std::size_t ReadFull(int fd, void* buf, std::size_t len) {
    auto* p = static_cast<std::uint8_t*>(buf);
    std::size_t got = 0;
    while (got < len) {
        const std::size_t n = ReadSome(fd, p + got, len - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}

bool WriteAll(int fd, const void* buf, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(buf);
    while (len > 0) {
        const ssize_t n = ::write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SameFile(const std::string& path, int fd) {
    struct stat a {};
    struct stat b {};
    if (::stat(path.c_str(), &a) != 0 || ::fstat(fd, &b) != 0) {
        return false;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace pack_detail
