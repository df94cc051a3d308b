#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` made safe for a terminal line: control characters (C0, DEL, C1),
// bidirectional overrides, line and paragraph separators and bytes that are
// not UTF-8 become visible escapes (\t, \n, \r, \xNN, \uNNNN), and a backslash
// is doubled so that an escape in the output always means one. Other UTF-8
// text, Chinese included, passes unchanged.
std::string EscapeForTerminal(std::string_view text);

}  // namespace platform
