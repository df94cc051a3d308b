#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pack_detail {

// Size of the pieces in which files stream through the digest. Large pieces
// keep the number of system calls low; the format does not see them.
inline constexpr std::size_t kPiece = 256 * 1024;

std::unique_ptr<std::uint8_t[]> NewPiece();

// An owned file descriptor.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    // Closes and reports whether everything written reached the file.
    bool Close();

  private:
    int fd_ = -1;
};

// Opens a regular file for reading; anything else (missing, a directory, a
// device, a pipe) counts as unopenable. Never blocks on a FIFO.
Fd OpenRegularForReading(const std::string& path);

// Creates or truncates a file for writing. With noFollow a symbolic link in
// the last component is refused rather than followed.
Fd CreateForWriting(const std::string& path, bool noFollow);

// One read; 0 at end of file or on an error.
std::size_t ReadSome(int fd, void* buf, std::size_t len);
// Reads until len bytes arrived or the file ends; returns the count.
std::size_t ReadFull(int fd, void* buf, std::size_t len);
bool WriteAll(int fd, const void* buf, std::size_t len);

// True if `path` names the same file as the open descriptor `fd`.
bool SameFile(const std::string& path, int fd);

}  // namespace pack_detail
