#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

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

// Opens a regular file for writing, creating it if needed, without cutting it
// yet: rewriting pages that already exist is much cheaper than freeing them
// first. Call FinishFile with the number of bytes written to drop any old
// tail. With noFollow a symbolic link in the last component is refused rather
// than followed. Anything but a regular file (a FIFO, a device) is refused.
Fd CreateForWriting(const std::string& path, bool noFollow);

// Opens a file for writing under a fresh name beside `finalPath` (in the same
// folder, so that a rename can put it in place) and stores that name in
// *tempPath; the caller writes from the start and cuts it to length. The
// name begins with a dot, which folder listings skip. An old output under
// `finalPath` that is a regular file of this user with no other link is moved
// to that name and rewritten, to reuse its pages; anything else there is
// never written through: a new file is created instead.
Fd CreateTempBeside(const std::string& finalPath, std::string* tempPath);

// How an existing finalPath is treated by CommitTemp.
enum class Commit { Done, Refused, Failed };
// Renames tempPath to finalPath. An existing regular file of that name is
// replaced (its other hard links keep their old content); anything else there
// (a symbolic link, a folder, a device) is refused and the temporary file
// removed, as it is when the rename fails.
Commit CommitTemp(const std::string& tempPath, const std::string& finalPath);

// A file being written from its start. It keeps count of the bytes written
// and, however it is left, is cut to that length so that no stale tail of an
// older file survives.
class OutFile {
  public:
    explicit OutFile(Fd fd) : fd_(std::move(fd)) {}
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    bool Ok() const { return fd_.Ok(); }
    int Get() const { return fd_.Get(); }
    bool Write(const void* buf, std::size_t len);
    // Counts bytes that reached the file by other means.
    void Wrote(std::uint64_t len) { written_ += len; }
    // Cuts, closes and reports whether everything reached the file.
    bool Finish();

  private:
    Fd fd_;
    std::uint64_t written_ = 0;
};

// Copies up to len bytes between the current positions of two files, in the
// kernel where it can. Returns the bytes copied; *writeFailed tells a failed
// write from the end of the source.
std::uint64_t CopyRange(int in, int out, std::uint64_t len, std::uint8_t* piece, bool* writeFailed);

// One read; 0 at end of file or on an error.
std::size_t ReadSome(int fd, void* buf, std::size_t len);
// Reads until len bytes arrived or the file ends; returns the count.
std::size_t ReadFull(int fd, void* buf, std::size_t len);
bool WriteAll(int fd, const void* buf, std::size_t len);

// True if `path` names the same file as the open descriptor `fd`.
bool SameFile(const std::string& path, int fd);

}  // namespace pack_detail
