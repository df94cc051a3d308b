// The descriptor helpers that need no system call of their own.
#include "platform/FileIo.h"

namespace platform {

std::unique_ptr<std::uint8_t[]> NewPiece() {
    return std::make_unique_for_overwrite<std::uint8_t[]>(kPiece);
}

Fd::~Fd() {
    CloseFd(fd_);
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        CloseFd(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool Fd::Close() {
    const bool ok = CloseFd(fd_);
    fd_ = -1;
    return ok;
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

}  // namespace platform
