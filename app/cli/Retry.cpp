#include "Retry.h"

#include <nlohmann/json.hpp>

#include <set>

#include "Options.h"
#include "platform/SafeFile.h"

namespace cli {

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
    static const std::set<std::string> unproven{"not-back", "unchanged", "other-version",
                                                "other-device", "no-version"};
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
        const std::string result = cam.value("result", "");
        const std::string verify = cam.value("verify", "");
        if ((result != "succeeded" || unproven.count(verify) != 0) && seen.insert(*mac).second) {
            macs.push_back(*mac);
        }
    }
    return macs;
}

}  // namespace cli
