#include "Log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/FileIo.h"
#include "platform/LocalTime.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"

namespace korvel {
namespace {

// A single diagnostic longer than this is cut; nothing the tool writes comes close.
constexpr size_t kMaxLine = 64 * 1024;

std::mutex g_mutex;
std::string g_path;
int g_fd = -1;
bool g_openFailed = false;
bool g_failureSaid = false;  // a log that cannot be written is said once, on stderr

bool StderrWanted() {
    const char* v = std::getenv("QUORVANE_LOG_STDERR");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

void CloseFile() {
    if (g_fd >= 0) {
        platform::CloseFd(g_fd);
        g_fd = -1;
    }
}

void SayFailure(const std::string& what, const std::string& why) {
    if (g_failureSaid) {
        return;
    }
    g_failureSaid = true;
    std::fprintf(stderr, "Korvel: cannot %s the log %s: %s\n", what.c_str(), g_path.c_str(),
                 why.c_str());
}

}  // namespace

void SetLogPath(const std::string& path) {
    std::lock_guard lock(g_mutex);
    if (path == g_path) {
        return;
    }
    CloseFile();
    g_path = path;
    g_openFailed = false;
    g_failureSaid = false;
}

void CloseLog() {
    std::lock_guard lock(g_mutex);
    CloseFile();
    g_openFailed = false;
}

void LogLine(const std::string& text) {
    const platform::LocalTime t = platform::Now();
    char stamp[40];
    std::snprintf(stamp, sizeof(stamp), "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    const bool ended = !text.empty() && text.back() == '\n';
    // Texts from cameras and packs are data: escaped as the console escapes
    // them, so that no control character or stray non-UTF-8 byte reaches the file.
    std::string line =
        stamp + platform::EscapeForTerminal(ended ? text.substr(0, text.size() - 1) : text) + '\n';
    std::lock_guard lock(g_mutex);
    if (g_fd < 0 && !g_openFailed && !g_path.empty()) {
        std::string why;
        g_fd = platform::OpenAppendRegular(g_path, &why);
        g_openFailed = g_fd < 0;
        if (g_openFailed) {
            SayFailure("open", why);
        }
    }
    if (g_fd >= 0) {
        std::string why;
        if (!platform::AppendWhole(g_fd, line, &why)) {
            SayFailure("write", why);
        }
    }
    if (StderrWanted()) {
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
}

void LogV(const char* format, va_list args) {
    if (format == nullptr) {
        return;
    }
    std::vector<char> buf(512);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(buf.data(), buf.size(), format, copy);
    va_end(copy);
    if (n < 0) {
        return;
    }
    if (static_cast<size_t>(n) >= buf.size()) {
        buf.resize(std::min(static_cast<size_t>(n) + 1, kMaxLine));
        std::vsnprintf(buf.data(), buf.size(), format, args);
    }
    LogLine(std::string(buf.data()));
}

void Logf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogV(format, args);
    va_end(args);
}

}  // namespace korvel
