#pragma once

#include <string>
#include <vector>

namespace platform {

// The command line as UTF-8 texts, the program name first. On Windows they
// come from the wide command line (argv there is in the ANSI code page and
// loses every character it lacks), and console output is switched to UTF-8.
std::vector<std::string> Utf8Args(int argc, char** argv);

// The value of an environment variable as UTF-8, empty when unset. On Windows
// it is read wide: getenv there answers in the ANSI code page.
std::string EnvText(const char* name);

}  // namespace platform
