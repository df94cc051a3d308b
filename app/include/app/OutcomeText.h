#pragma once

// The words the window, the console and the reports use for a camera's live
// state and outcome. Texts from cameras inside them are escaped.

#include <string>

#include "engine/CameraOutcome.h"

namespace app {

// The status cell while a worker is on the camera.
std::string LiveText(const LiveState& state);
// Why a camera failed, for the "详情" cell and the extra log line; empty on success.
std::string ReasonText(const CameraOutcome& outcome);
// What the proof after reboot found; empty when it did not run.
std::string VerifyText(const CameraOutcome& outcome);
// Instead of the status word ("升级失败"), for an outcome that is not a plain
// failure: the camera may have taken the file. Null otherwise.
const char* StatusOverride(const CameraOutcome& outcome);
// The "详情" cell: the reason of a failure, else what the check found.
std::string DetailText(const CameraOutcome& outcome);
// A camera outside the subnet of the adapter it answered on (`adapter` is
// that adapter's "address/prefix"): its mark after a search, and its detail
// in place of "连接无应答" when no connection could be made.
std::string ForeignText(const std::string& adapter);
std::string DetailText(const CameraOutcome& outcome, const std::string& foreignOf);

// Stable names for machine output (JSON, CSV, reports).
const char* ResultName(OutcomeResult result);
const char* ReasonName(ReasonCode reason);
const char* VerifyName(VerifyResult verify);

}  // namespace app
