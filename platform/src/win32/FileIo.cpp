#include "platform/FileIo.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <random>

#include "Win32File.h"
#include "platform/WideText.h"

namespace platform {
namespace win32 {

std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = n > 0 ? Utf8(std::wstring_view(text, n)) : std::string();
    if (text != nullptr) {
        ::LocalFree(text);
    }
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
        out.pop_back();
    }
    return out.empty() ? "error " + std::to_string(code) : out;
}

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, bool noFollow,
                  DWORD flags) {
    if (path.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (noFollow) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    return ::CreateFileW(Wide(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

namespace {
std::int64_t Ns(LARGE_INTEGER t) {
    return t.QuadPart * 100;
}
}  // namespace

FileInfo InfoOfHandle(HANDLE h) {
    FileInfo info;
    BY_HANDLE_FILE_INFORMATION bh{};
    if (h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h, &bh)) {
        return info;
    }
    if ((bh.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        info.kind = FileInfo::Kind::Link;
    } else if ((bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        info.kind = FileInfo::Kind::Directory;
    } else if (::GetFileType(h) != FILE_TYPE_DISK) {
        info.kind = FileInfo::Kind::Other;
    } else {
        info.kind = FileInfo::Kind::Regular;
    }
    info.size = (static_cast<std::uint64_t>(bh.nFileSizeHigh) << 32) | bh.nFileSizeLow;
    info.device = bh.dwVolumeSerialNumber;
    info.index = (static_cast<std::uint64_t>(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
    info.links = bh.nNumberOfLinks;
    info.ownedByUser = true;
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
        info.modifiedNs = Ns(basic.LastWriteTime);
        info.changedNs = Ns(basic.ChangeTime);
    }
    return info;
}

int AdoptRegular(HANDLE h, int crtFlags, std::string* error) {
    if (h == INVALID_HANDLE_VALUE) {
        if (error != nullptr) {
            *error = ErrorText(::GetLastError());
        }
        return -1;
    }
    const FileInfo info = InfoOfHandle(h);
    if (!info.Regular()) {
        ::CloseHandle(h);
        if (error != nullptr) {
            *error =
                info.kind == FileInfo::Kind::Link ? "is a symbolic link" : "not a regular file";
        }
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags);
    if (fd < 0) {
        ::CloseHandle(h);
        if (error != nullptr) {
            *error = "no descriptor left";
        }
    }
    return fd;
}

}  // namespace win32

using win32::AdoptRegular;
using win32::OpenHandle;

Fd OpenRegularForReading(const std::string& path) {
    const HANDLE h =
        OpenHandle(path, GENERIC_READ, OPEN_EXISTING, false, FILE_FLAG_SEQUENTIAL_SCAN);
    return Fd(AdoptRegular(h, _O_RDONLY, nullptr));
}

Fd CreateForWriting(const std::string& path, bool noFollow) {
    const HANDLE h = OpenHandle(path, GENERIC_WRITE, OPEN_ALWAYS, noFollow);
    return Fd(AdoptRegular(h, 0, nullptr));
}

namespace {

std::string TempNameBeside(const std::string& finalPath) {
    static std::atomic<std::uint64_t> counter{std::random_device{}()};
    const std::size_t slash = finalPath.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "." : finalPath.substr(0, slash);
    char name[64];
    std::snprintf(name, sizeof name, "\\.qv-part-%lu-%016llx",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long long>(counter.fetch_add(0x9E3779B97F4A7C15ull)));
    return dir + name;
}

}  // namespace

// Windows keeps no page cache worth reusing across a rename, so a fresh file
// is always made.
Fd CreateTempBeside(const std::string& finalPath, std::string* tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = TempNameBeside(finalPath);
        const HANDLE h = OpenHandle(path, GENERIC_WRITE, CREATE_NEW, true);
        if (h != INVALID_HANDLE_VALUE) {
            *tempPath = path;
            return Fd(AdoptRegular(h, 0, nullptr));
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) {
            return Fd();
        }
    }
    return Fd();
}

Commit CommitTemp(const std::string& tempPath, const std::string& finalPath) {
    const FileInfo there = InfoOf(finalPath, false);
    if (there.Exists() && !there.Regular()) {
        (void)RemoveFile(tempPath);
        return Commit::Refused;
    }
    if (!::MoveFileExW(Wide(tempPath).c_str(), Wide(finalPath).c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
        (void)RemoveFile(tempPath);
        return Commit::Failed;
    }
    return Commit::Done;
}

OutFile::~OutFile() {
    if (fd_.Ok()) {
        (void)::_chsize_s(fd_.Get(), static_cast<long long>(written_));
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
    const bool cut = ::_chsize_s(fd_.Get(), static_cast<long long>(written_)) == 0;
    return fd_.Close() && cut;
}

std::uint64_t CopyRange(int in, int out, std::uint64_t len, std::uint8_t* piece,
                        bool* writeFailed) {
    *writeFailed = false;
    std::uint64_t done = 0;
    while (done < len) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, len - done));
        const std::size_t n = ReadSome(in, piece, want);
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
    const auto want = static_cast<unsigned>(std::min<std::size_t>(len, INT_MAX));
    const int n = ::_read(fd, buf, want);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool WriteAll(int fd, const void* buf, std::size_t len) {
    const auto* p = static_cast<const std::uint8_t*>(buf);
    while (len > 0) {
        const auto want = static_cast<unsigned>(std::min<std::size_t>(len, INT_MAX));
        const int n = ::_write(fd, p, want);
        if (n <= 0) {
            return false;
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SameFile(const std::string& path, int fd) {
    return InfoOf(path, true).SameFileAs(InfoOf(fd));
}

const char* const kPathSeparators = "/\\";

bool SeekTo(int fd, std::uint64_t offset) {
    const auto want = static_cast<long long>(offset);
    return want >= 0 && ::_lseeki64(fd, want, SEEK_SET) == want;
}

std::int64_t SizeOf(int fd) {
    return ::_filelengthi64(fd);
}

bool CloseFd(int fd) {
    return fd >= 0 && ::_close(fd) == 0;
}

FileInfo InfoOf(const std::string& path, bool followLinks) {
    // Backup semantics let a folder be opened for its attributes.
    const HANDLE h = OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, !followLinks,
                                FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    FileInfo info = win32::InfoOfHandle(h);
    ::CloseHandle(h);
    return info;
}

FileInfo InfoOf(int fd) {
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return win32::InfoOfHandle(h);
}

FileInfo InfoOf(std::FILE* file) {
    return file != nullptr ? InfoOf(::_fileno(file)) : FileInfo{};
}

std::FILE* OpenStream(const std::string& path, const char* mode) {
    return ::_wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool RemoveFile(const std::string& path) {
    const std::wstring w = Wide(path);
    if (::DeleteFileW(w.c_str())) {
        return true;
    }
    // A read-only file is ours to remove all the same.
    const DWORD attrs = ::GetFileAttributesW(w.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0 &&
           ::SetFileAttributesW(w.c_str(), attrs & ~DWORD{FILE_ATTRIBUTE_READONLY}) &&
           ::DeleteFileW(w.c_str());
}

bool RemoveTree(const std::string& path) {
    const std::wstring w = Wide(path);
    const DWORD attrs = ::GetFileAttributesW(w.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    }
    if ((attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return RemoveFile(path);
    }
    // A junction or a linked folder goes as a name; what it leads to stays.
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ::RemoveDirectoryW(w.c_str()) != 0;
    }
    bool ok = true;
    std::vector<DirEntry> entries;
    if (ListFolder(path, entries)) {
        for (const auto& e : entries) {
            ok = RemoveTree(path + "\\" + e.name) && ok;
        }
    }
    return ::RemoveDirectoryW(w.c_str()) != 0 && ok;
}

// Under %TEMP% the user's profile already keeps other users out.
MakeDirResult MakePrivateDir(const std::string& path) {
    if (::CreateDirectoryW(Wide(path).c_str(), nullptr)) {
        return MakeDirResult::Made;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::Exists : MakeDirResult::Failed;
}

// Windows folders inherit their access from the parent either way.
MakeDirResult MakeSharedDir(const std::string& path) {
    return MakePrivateDir(path);
}

std::string FolderProblem(const std::string& dir) {
    const DWORD attrs = ::GetFileAttributesW(Wide(dir).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        return win32::ErrorText(::GetLastError());
    }
    if ((attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return "not a folder";
    }
    return {};
}

bool ListFolder(const std::string& dir, std::vector<DirEntry>& entries) {
    std::string pattern = dir;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') {
        pattern += '\\';
    }
    pattern += "*.*";
    WIN32_FIND_DATAW found{};
    const HANDLE h = ::FindFirstFileW(Wide(pattern).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        // An empty folder still lists "." and "..", so this is a failure.
        return false;
    }
    do {
        const std::string name = Utf8(found.cFileName);
        if (name == "." || name == "..") {
            continue;
        }
        entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
    return true;
}

}  // namespace platform
