#include "app/OperationLog.h"

#include <cstdio>
#include <utility>

#include "platform/FileIo.h"
#include "platform/SafeFile.h"

namespace app {

OperationLog::OperationLog(platform::Clock clock) : clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = platform::Now;
    }
}

OperationLog::~OperationLog() {
    Close();
}

void OperationLog::Close() {
    if (fd_ >= 0) {
        platform::CloseFd(fd_);
        fd_ = -1;
    }
}

bool OperationLog::Open(const std::string& path, std::string* error) {
    path_ = path;
    Close();
    fd_ = platform::OpenAppendRegular(path, error);
    return fd_ >= 0;
}

std::string OperationLog::FormatLine(const platform::LocalTime& t, const std::string& text) {
    char stamp[64];
    const int n = std::snprintf(stamp, sizeof(stamp), "[%04d-%02d-%02d %02d:%02d:%02d: %03d]",
                                t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
    std::string line(stamp, n > 0 ? static_cast<std::size_t>(n) : 0);
    line += text;
    line += "\r\n";
    return line;
}

bool OperationLog::Write(const std::string& text, std::string* error) {
    if (fd_ < 0) {
        if (error != nullptr) {
            *error = "not open";
        }
        return false;
    }
    std::lock_guard guard(lock_);
    const std::string line = FormatLine(clock_(), text);
    return platform::AppendWhole(fd_, line, error);
}

std::string OperationLog::GetPath() const {
    return path_;
}

}  // namespace app
