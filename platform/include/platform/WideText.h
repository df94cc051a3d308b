#pragma once
// UTF-8 inside the program, UTF-16 at the Windows calls. Only the Windows
// edition builds these.

#include <string>
#include <string_view>

namespace platform {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
// Bytes in the system's ANSI code page (CP_ACP), as the Windows program writes
// its texts; a character the code page lacks becomes '?'.
std::string AnsiFromUtf8(std::string_view utf8);

}  // namespace platform
