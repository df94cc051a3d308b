#pragma once
// Files by descriptor: the streaming reads and writes of the pack routines,
// outputs written under a temporary name and renamed into place, and what the
// tool asks about a file (kind, size, identity). Paths are UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

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

// The characters that end a folder name in a path: '/' on Linux, where a
// backslash is part of a name, and both '/' and '\\' on Windows.
extern const char* const kPathSeparators;

// Moves the position of `fd` to `offset` from the start; false on failure.
bool SeekTo(int fd, std::uint64_t offset);
// Length of the open file, or -1.
std::int64_t SizeOf(int fd);
// Closes a descriptor from OpenAppendRegular or an Fd released by hand; false
// when there was none or what was written did not reach the file.
bool CloseFd(int fd);

// What the tool asks about a file.
struct FileInfo {
    enum class Kind { Missing, Regular, Directory, Link, Other };
    Kind kind = Kind::Missing;
    std::uint64_t size = 0;
    // Together they name the file, whatever name it is reached by.
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    // Change marks: a file whose content changed has other values here.
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint32_t links = 0;
    bool ownedByUser = false;

    bool Exists() const { return kind != Kind::Missing; }
    bool Regular() const { return kind == Kind::Regular; }
    bool SameFileAs(const FileInfo& o) const {
        return Exists() && o.Exists() && device == o.device && index == o.index;
    }
};

// `path` itself (a link is reported as one) or, with followLinks, what it
// leads to. Kind::Missing when it cannot be looked at.
FileInfo InfoOf(const std::string& path, bool followLinks);
FileInfo InfoOf(int fd);
FileInfo InfoOf(std::FILE* file);

// fopen for a UTF-8 path.
std::FILE* OpenStream(const std::string& path, const char* mode);

// Removes a file (not a folder); false when it could not.
bool RemoveFile(const std::string& path);

// Removes `path` and, for a folder, everything in it; links inside are removed,
// never followed. False when something could not be removed.
bool RemoveTree(const std::string& path);

enum class MakeDirResult { Made, Exists, Failed };
// Creates one folder that only this user can enter.
MakeDirResult MakePrivateDir(const std::string& path);
// Creates one folder with the system's default access.
MakeDirResult MakeSharedDir(const std::string& path);

// Empty when `dir` is a folder this user can write into, else why not.
std::string FolderProblem(const std::string& dir);

// One entry of a folder listing; "." and ".." are never listed.
struct DirEntry {
    std::string name;
    bool directory = false;
};
// The entries of `dir`, in the order the system gives them; false when the
// folder cannot be read.
bool ListFolder(const std::string& dir, std::vector<DirEntry>& entries);

}  // namespace platform
