#pragma once

#include <mutex>
#include <string>

#include "platform/LocalTime.h"

namespace app {

// The daily operation log: one time-stamped line per entry, written with one
// append so that the file is complete, line by line, even if the tool is
// killed or the disk fills. Opened without following links, regular files only.
class OperationLog {
  public:
    explicit OperationLog(platform::Clock clock = platform::Now);
    ~OperationLog();
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Keeps `path` even when the file cannot be opened; appends, creating it.
    // On failure `error` says why.
    bool Open(const std::string& path, std::string* error = nullptr);
    // One line "[YYYY-MM-DD hh:mm:ss: mmm]text\r\n"; the text is not a format.
    // False, with the reason in `error`, when no file is open or the line could
    // not be written whole (nothing of it is left in the file then).
    bool Write(const std::string& text, std::string* error = nullptr);
    bool IsOpen() const { return fd_ >= 0; }
    std::string GetPath() const;

    // The line Write would produce for `text` at time `t`.
    static std::string FormatLine(const platform::LocalTime& t, const std::string& text);

  private:
    void Close();

    std::string path_;
    int fd_ = -1;
    mutable std::mutex lock_;
    platform::Clock clock_;
};

}  // namespace app
