#pragma once

#include "Options.h"

namespace cli {

// Searches, picks the rows the arguments name, presses the command's button,
// waits for the batch to end and returns the exit status.
int Run(const Args& args);

}  // namespace cli
