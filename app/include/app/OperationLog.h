#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/LocalTime.h"

namespace app {

// The daily operation log: one time-stamped line per entry, flushed at once so
// that the file is complete even if the tool is killed.
class OperationLog {
  public:
    explicit OperationLog(platform::Clock clock = platform::Now);
    ~OperationLog();
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Keeps `path` even when the file cannot be opened; appends, creating it.
    bool Open(const std::string& path);
    // One line "[YYYY-MM-DD hh:mm:ss: mmm]text\r\n"; the text is not a format.
    void Write(const std::string& text);
    std::string GetPath() const;

    // The line Write would produce for `text` at time `t`.
    static std::string FormatLine(const platform::LocalTime& t, const std::string& text);

  private:
    void Close();

    std::string path_;
    std::FILE* file_ = nullptr;
    mutable std::mutex lock_;
    platform::Clock clock_;
};

}  // namespace app
