#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The MAC texts of the cameras a batch report (docs/batch-report.md) says are
// worth another upgrade: not succeeded, or not proven after the reboot. In
// queue order, each once. Nothing, with the reason, when the file cannot be
// read or is not an upgrade batch's report.
std::optional<std::vector<std::string>> CamerasToRetry(const std::string& reportPath,
                                                       std::string* why);

}  // namespace cli
