#pragma once
// Files the tool opens by a name it did not make itself: never through a
// symbolic link, never blocking on a FIFO or a device, regular files only.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Opens `path` for appending, creating it (mode 0644) when missing. -1 and the
// reason in `error` when it is a link, not a regular file, or cannot be opened.
int OpenAppendRegular(const std::string& path, std::string* error);

// Writes `data` with one append. A write the disk or a size limit cut short is
// taken back, so the file never keeps a torn line for the next one to join.
bool AppendWhole(int fd, std::string_view data, std::string* error);

// What was written to `fd` reaches the disk before this returns (a power loss
// after it keeps it). The cost is one flush of the disk's cache.
bool SyncToDisk(int fd, std::string* error);
// The folder's entries (a file just created in it) reach the disk; nothing on
// Windows, where the file's own flush carries its entry.
bool SyncFolder(const std::string& path, std::string* error);

// The whole of a regular file of at most `maxBytes`. Nothing, with the reason,
// when it is missing, a link, not a regular file, too large or unreadable.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes,
                                           std::string* error);

// A write past RLIMIT_FSIZE fails with EFBIG instead of killing the process.
void IgnoreFileSizeSignal();

}  // namespace platform
