#include "camsim/Log.h"

#include <chrono>
#include <cstdarg>
#include <ctime>

namespace camsim {

Log::~Log() {
    if (owned_ && file_ != nullptr) {
        std::fclose(file_);
    }
}

bool Log::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (owned_ && file_ != nullptr) {
        std::fclose(file_);
    }
    owned_ = false;
    file_ = nullptr;
    if (path.empty()) {
        return true;
    }
    file_ = std::fopen(path.c_str(), "a");
    owned_ = file_ != nullptr;
    return owned_;
}

void Log::Line(const char* format, ...) {
    if (quiet_) {
        return;
    }
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);

    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    std::lock_guard lock(mutex_);
    std::FILE* out = file_ != nullptr ? file_ : stderr;
    std::fprintf(out, "[%04d-%02d-%02d %02d:%02d:%02d.%03d] %s\n", tm.tm_year + 1900, tm.tm_mon + 1,
                 tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms), text);
    std::fflush(out);
}

}  // namespace camsim
