#pragma once

// The dialog's own words for a batch and its cameras, by the batch's kind.

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/CameraOutcome.h"
#include "engine/Canary.h"

namespace app {

// The status cell of a finished camera: empty for another kind or result.
const char* StatusText(std::int32_t kind, std::int32_t result);
// The status cell of a camera of a stopped or held batch that was never started.
const char* SkippedText(std::int32_t kind, ReasonCode why);
// The status cell of a camera at its verdict: never started, an outcome
// with a word of its own (it may have taken the file), or the plain status.
const char* FinishedText(std::int32_t kind, std::int32_t result, const CameraOutcome& outcome);
// The message box at the end of a batch; null for another kind.
const char* CompletionText(std::int32_t kind);
// The batch's name in its request and summary lines.
const char* BatchName(std::int32_t kind);
// The kind as the batch's record names it.
const char* ReportKind(std::int32_t kind);

// What an upgrade request line says the cameras get: "升级文件 <file>", and
// the settings that differ from one at a time without a limit.
std::string UpgradeRequestText(const std::string& file, bool forced, int parallel,
                               std::uint32_t maxFailures, const Canary& canary = {});
// "先升级N台" or "先升级每种硬件1台"; empty when off.
std::string CanaryText(const Canary& canary);
// The log line of a batch a canary held: which one, and how many waited.
std::string CanaryHeldText(const std::string& mac, const std::string& ip, std::uint32_t held);
// The log line when every canary was proven and the others start.
std::string CanaryPassedText(std::uint32_t canaries, std::uint32_t rest);

// One camera of a prepared upgrade and the file it would get.
struct PlannedUpgrade {
    std::string ip;
    std::string mac;
    std::string file;
    // The camera runs a newer version than the file names: what it runs now.
    std::string downgradeFrom;
    std::string named;  // the version the file names, when it is judged by one
};

// "降级：<now> → <named>", the mark of a camera given an older version.
std::string DowngradeText(const std::string& from, const std::string& to);
// The question before older versions are sent: every such camera, at most the
// first 20, then how many more; empty when there is none. Begins with
// kDowngradeAsk.
inline constexpr const char* kDowngradeAsk = "将降级";
std::string DowngradeQuestion(const std::vector<PlannedUpgrade>& plan);

// One camera of a planned IP change: where it is and where it goes.
struct PlannedAddress {
    std::string mac;
    std::string ip;     // where it is now
    std::string newIp;  // where it goes
    std::string note;   // "跳过已占用地址 …" when addresses were passed over for it
    // An address plan's (a file's, an undo's) own values: empty when not given.
    std::string mask;     // empty: 255.255.255.0
    std::string gateway;  // empty: left as it is
    std::string name;
};

// The question before an IP change: every camera's MAC, its address now and
// the one it gets, at most the first 20 of them, then how many more.
std::string IpPlanQuestion(const std::vector<PlannedAddress>& plan);
// The question before several cameras are given the one default address.
std::string SameAddressQuestion(std::size_t cameras, const std::string& ip);

// The pane's line after a search that found nothing, with where it went.
std::string NotFoundText(const char* address, const int (&ports)[3]);

// The box of "按地址搜索…".
inline constexpr const char* kScanTitle = "按地址搜索";
inline constexpr const char* kScanPrompt =
    "IP地址、范围或网段（最多1024个地址），如 10.77.1.10-10.77.1.50 或 10.77.1.0/24：";
// The scan text as shown again: without its blanks around.
std::string_view ScanTextShown(std::string_view text);
// The pane's line after a search by address of `asked` addresses.
std::string ScanSummary(const std::string& shown, std::size_t asked, int added, int listed,
                        bool cancelled);

// printf-style text of `format` and its values.
__attribute__((format(printf, 1, 0))) std::string FormatText(const char* format, va_list args);

// A NUL-terminated text inside a fixed field, never read past the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace app
