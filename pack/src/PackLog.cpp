#include "pack/PackLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

std::function<void(const std::string&)>& Sink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

}  // namespace

void SetPackLogSink(std::function<void(const std::string& line)> sink) {
    std::lock_guard lock(SinkMutex());
    Sink() = std::move(sink);
}

void PackLog(const char* format, ...) {
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard lock(SinkMutex());
        sink = Sink();
    }
    if (!sink) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string line;
    if (needed < 0) {
        line = format;
    } else if (static_cast<std::size_t>(needed) < sizeof small) {
        line.assign(small, static_cast<std::size_t>(needed));
    } else {
        std::vector<char> big(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        line.assign(big.data(), static_cast<std::size_t>(needed));
    }
    va_end(again);
    sink(line);
}
