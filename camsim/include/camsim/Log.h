#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace camsim {

// Time-stamped lines to a file or stderr; safe from several threads.
class Log {
  public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Appends to `path`; an empty path means stderr. False when it cannot be opened.
    bool Open(const std::string& path);
    // Lines go nowhere (tests that only look at behaviour).
    void Silence() { quiet_ = true; }

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

  private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    bool quiet_ = false;
};

}  // namespace camsim
