#include "Retry.h"

#include <nlohmann/json.hpp>

#include <set>

#include "Options.h"
#include "app/BatchReport.h"
#include "app/OutcomeText.h"
#include "platform/SafeFile.h"

namespace cli {
namespace {

// What the proof needs of a camera of the report. A check whose name this
// build does not know proves nothing.
app::ReportCamera Recorded(const nlohmann::json& cam) {
    app::ReportCamera camera;
    camera.result = cam.value("result", "") == "succeeded" ? 1 : 0;
    camera.outcome.verify = VerifyResult::Stopped;
    const std::string verify = cam.value("verify", "");
    for (int v = 0; v <= static_cast<int>(VerifyResult::Stopped); ++v) {
        if (verify == app::VerifyName(static_cast<VerifyResult>(v))) {
            camera.outcome.verify = static_cast<VerifyResult>(v);
        }
    }
    return camera;
}

}  // namespace

std::optional<std::vector<std::string>> CamerasToRetry(const std::string& reportPath,
                                                       std::string* why) {
    // A report of the largest batch is well below this.
    constexpr std::size_t kLargestReport = 64u << 20;
    const auto text = platform::ReadRegularFile(reportPath, kLargestReport, why);
    if (!text) {
        return std::nullopt;
    }
    const nlohmann::json doc = nlohmann::json::parse(*text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() ||
        doc.value("format", "") != "quorvane-batch-report") {
        *why = "not a batch report";
        return std::nullopt;
    }
    if (doc.value("kind", "") != "upgrade") {
        *why = "not the report of an upgrade batch";
        return std::nullopt;
    }
    const auto cameras = doc.find("cameras");
    if (cameras == doc.end() || !cameras->is_array()) {
        *why = "the report lists no cameras";
        return std::nullopt;
    }
    std::vector<std::string> macs;
    std::set<std::string> seen;
    for (const auto& cam : *cameras) {
        if (!cam.is_object() || !cam.contains("mac") || !cam["mac"].is_string()) {
            *why = "a camera of the report has no MAC";
            return std::nullopt;
        }
        const auto mac = NormalMac(cam["mac"].get<std::string>());
        if (!mac) {
            *why = "a camera of the report has no usable MAC";
            return std::nullopt;
        }
        if (!app::Proven(Recorded(cam)) && seen.insert(*mac).second) {
            macs.push_back(*mac);
        }
    }
    return macs;
}

}  // namespace cli
