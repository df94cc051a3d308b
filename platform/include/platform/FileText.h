#pragma once

#include <string>
#include <string_view>

namespace platform {

// A text of the program (UTF-8) as the daily log file holds it: unchanged on
// Linux; in the ANSI code page on Windows, as the Windows program writes it
// (GBK on a Chinese PC), so that Notepad and older tools read it.
std::string ToLogFileText(std::string_view utf8);

}  // namespace platform
