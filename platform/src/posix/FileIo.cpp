#include "platform/FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace platform {

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
    // Every reader here streams from the start to the end.
    (void)::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

Fd CreateForWriting(const std::string& path, bool noFollow) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (noFollow) {
        flags |= O_NOFOLLOW;
    }
    Fd fd(::open(path.c_str(), flags, 0666));
    if (!fd.Ok()) {
        return fd;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Fd();
    }
    const int now = ::fcntl(fd.Get(), F_GETFL);
    if (now < 0 || ::fcntl(fd.Get(), F_SETFL, now & ~O_NONBLOCK) != 0) {
        return Fd();
    }
    return fd;
}

namespace {

std::string TempNameBeside(const std::string& finalPath) {
    static std::atomic<std::uint64_t> counter{std::random_device{}()};
    const std::size_t slash = finalPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : finalPath.substr(0, slash);
    char name[64];
    std::snprintf(name, sizeof name, "/.qv-part-%d-%016llx", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(counter.fetch_add(0x9E3779B97F4A7C15ull)));
    return dir + name;
}

// A file that is only ours: a regular file of this user with no other name.
bool SoleOwnFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// Moves an old output of ours out of its name and opens it for rewriting.
// Rewriting pages that exist is much cheaper than freeing them and
// allocating new ones, and the real name stays empty until the rename.
// Anything else found under the name (a hard link into another folder, a
// file of another user) is only moved aside and dropped, never written.
Fd ReuseOldOutput(const std::string& finalPath, std::string* tempPath) {
    struct stat before {};
    if (::lstat(finalPath.c_str(), &before) != 0 || !SoleOwnFile(before)) {
        return Fd();
    }
    const std::string temp = TempNameBeside(finalPath);
    if (::rename(finalPath.c_str(), temp.c_str()) != 0) {
        return Fd();
    }
    Fd fd(::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat now {};
    // Checked on the open file: the name may have been swapped since the lstat.
    if (!fd.Ok() || ::fstat(fd.Get(), &now) != 0 || !SoleOwnFile(now) ||
        now.st_dev != before.st_dev || now.st_ino != before.st_ino) {
        (void)::unlink(temp.c_str());
        return Fd();
    }
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        (void)::unlink(temp.c_str());
        return Fd();
    }
    *tempPath = temp;
    return fd;
}

}  // namespace

Fd CreateTempBeside(const std::string& finalPath, std::string* tempPath) {
    if (Fd old = ReuseOldOutput(finalPath, tempPath); old.Ok()) {
        return old;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = TempNameBeside(finalPath);
        Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                     0666));
        if (fd.Ok()) {
            *tempPath = path;
            return fd;
        }
        if (errno != EEXIST) {
            return Fd();
        }
    }
    return Fd();
}

Commit CommitTemp(const std::string& tempPath, const std::string& finalPath) {
    struct stat st {};
    if (::lstat(finalPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        (void)::unlink(tempPath.c_str());
        return Commit::Refused;
    }
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        (void)::unlink(tempPath.c_str());
        return Commit::Failed;
    }
    return Commit::Done;
}

OutFile::~OutFile() {
    if (fd_.Ok()) {
        (void)::ftruncate(fd_.Get(), static_cast<off_t>(written_));
    }
}

bool OutFile::Write(const void* buf, std::size_t len) {
    if (!WriteAll(fd_.Get(), buf, len)) {
        return false;
    }
    written_ += len;
    return true;
}

bool OutFile::Finish() {
    if (!fd_.Ok()) {
        return false;
    }
    const bool cut = ::ftruncate(fd_.Get(), static_cast<off_t>(written_)) == 0;
    return fd_.Close() && cut;
}

std::uint64_t CopyRange(int in, int out, std::uint64_t len, std::uint8_t* piece,
                        bool* writeFailed) {
    *writeFailed = false;
    std::uint64_t done = 0;
    bool kernelCopy = true;
    while (done < len) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kPiece * 16, len - done));
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n > 0) {
                done += static_cast<std::uint64_t>(n);
                continue;
            }
            if (n == 0) {
                break;
            }
            if (errno == EINTR) {
                continue;
            }
            // Not available between these two files, or an error that the
            // plain copy will attribute to the right side: copy through memory.
            kernelCopy = false;
        }
        const std::size_t n = ReadSome(in, piece, std::min(want, kPiece));
        if (n == 0) {
            break;
        }
        if (!WriteAll(out, piece, n)) {
            *writeFailed = true;
            break;
        }
        done += n;
    }
    return done;
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

const char* const kPathSeparators = "/";

bool SeekTo(int fd, std::uint64_t offset) {
    const auto want = static_cast<off_t>(offset);
    return want >= 0 && ::lseek(fd, want, SEEK_SET) == want;
}

std::int64_t SizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool CloseFd(int fd) {
    return fd >= 0 && ::close(fd) == 0;
}

namespace {

FileInfo InfoFrom(const struct stat& st) {
    FileInfo info;
    info.kind = S_ISREG(st.st_mode)   ? FileInfo::Kind::Regular
                : S_ISDIR(st.st_mode) ? FileInfo::Kind::Directory
                : S_ISLNK(st.st_mode) ? FileInfo::Kind::Link
                                      : FileInfo::Kind::Other;
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.device = static_cast<std::uint64_t>(st.st_dev);
    info.index = static_cast<std::uint64_t>(st.st_ino);
    info.modifiedNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info.changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    info.links = static_cast<std::uint32_t>(st.st_nlink);
    info.ownedByUser = st.st_uid == ::geteuid();
    return info;
}

}  // namespace

FileInfo InfoOf(const std::string& path, bool followLinks) {
    struct stat st {};
    const int rc = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 ? InfoFrom(st) : FileInfo{};
}

FileInfo InfoOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? InfoFrom(st) : FileInfo{};
}

FileInfo InfoOf(std::FILE* file) {
    return file != nullptr ? InfoOf(::fileno(file)) : FileInfo{};
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

MakeDirResult MakePrivateDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return MakeDirResult::Made;
    }
    return errno == EEXIST ? MakeDirResult::Exists : MakeDirResult::Failed;
}

MakeDirResult MakeSharedDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return MakeDirResult::Made;
    }
    return errno == EEXIST ? MakeDirResult::Exists : MakeDirResult::Failed;
}

std::string FolderProblem(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return "not a folder";
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        return std::strerror(errno);
    }
    return {};
}

bool ListFolder(const std::string& dir, std::vector<DirEntry>& entries) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return false;
    }
    const std::string prefix = (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        bool directory = e->d_type == DT_DIR;
        // A link counts as what it leads to, as a folder listing shows it.
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            directory = ::stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({name, directory});
    }
    ::closedir(d);
    return true;
}

}  // namespace platform
