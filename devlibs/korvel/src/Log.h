#pragma once

#include <cstdarg>
#include <string>

namespace korvel {

// Where Net_Log writes: the log file (opened on first use, in append mode) and
// stderr when QUORVANE_LOG_STDERR=1.
void SetLogPath(const std::string& path);
void LogLine(const std::string& text);
void LogV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
void Logf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CloseLog();

}  // namespace korvel
