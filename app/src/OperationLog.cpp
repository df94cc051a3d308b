#include "app/OperationLog.h"

#include <utility>

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
    if (file_ != nullptr) {
        std::fflush(file_);
        std::fclose(file_);
        file_ = nullptr;
    }
}

bool OperationLog::Open(const std::string& path) {
    path_ = path;
    Close();
    file_ = std::fopen(path.c_str(), "ab+");
    return file_ != nullptr;
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

void OperationLog::Write(const std::string& text) {
    if (file_ == nullptr) {
        return;
    }
    std::lock_guard guard(lock_);
    const std::string line = FormatLine(clock_(), text);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

std::string OperationLog::GetPath() const {
    return path_;
}

}  // namespace app
