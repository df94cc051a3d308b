#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The MAC texts of the cameras a batch report (docs/batch-report.md) says are
// worth another upgrade: not succeeded, or not proven after the reboot. In
// queue order, each once. `from` is a report's path, a journal's path
// (*.journal: a batch cut off, whose cameras without a verdict count as not
// proven), or a batch id of `stateDir` (its report, else its journal).
// Nothing, with the reason, when it cannot be read or is not an upgrade
// batch's record.
std::optional<std::vector<std::string>> CamerasToRetry(const std::string& from,
                                                       const std::string& stateDir,
                                                       std::string* why);

}  // namespace cli
