#pragma once

#include <string>

namespace platform {

// An exclusive advisory lock (flock) on a file, held until Release or
// destruction. The lock file is opened without following links.
class FileLock {
  public:
    enum class Result { Locked, Busy, Error };

    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock without waiting: Busy when another process (or another
    // FileLock of this one) holds it, Error with the reason in `error` otherwise.
    Result TryLock(const std::string& path, std::string* error);
    bool Held() const { return fd_ >= 0; }
    void Release();

  private:
    int fd_ = -1;
};

}  // namespace platform
