#pragma once

#include <string>
#include <vector>

namespace platform {

// The command line as UTF-8 texts, the program name first. On Windows they
// come from the wide command line (argv there is in the ANSI code page and
// loses every character it lacks), and console output is switched to UTF-8.
std::vector<std::string> Utf8Args(int argc, char** argv);

}  // namespace platform
