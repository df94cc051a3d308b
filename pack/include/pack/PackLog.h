#pragma once

#include <functional>
#include <string>

// Where the pack layer's diagnostics go. Each call receives one formatted line,
// trailing "\n" included. Without a sink the lines are dropped. Installing a
// new sink replaces the old one; an empty function removes it.
void SetPackLogSink(std::function<void(const std::string& line)> sink);

// printf-like; formats one diagnostic and hands it to the sink.
void PackLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
