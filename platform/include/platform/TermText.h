#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` made safe for a terminal line: control characters (C0, DEL, C1),
// bidirectional overrides, line and paragraph separators and bytes that are
// not UTF-8 become visible escapes (\t, \n, \r, \xNN, \uNNNN), and a backslash
// is doubled so that an escape in the output always means one, except where it
// separates folders: a name cannot hold one there, and doubled it would garble
// every path. Other UTF-8 text, Chinese included, passes unchanged.
std::string EscapeForTerminal(std::string_view text);

#ifdef _WIN32
inline constexpr bool kBackslashSeparatesFolders = true;
#else
inline constexpr bool kBackslashSeparatesFolders = false;
#endif

}  // namespace platform
