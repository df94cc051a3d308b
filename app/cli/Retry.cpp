#include "Retry.h"

#include <set>

#include "Options.h"
#include "app/BatchReport.h"
#include "app/OutcomeText.h"

namespace cli {

std::optional<std::vector<std::string>> CamerasToRetry(const std::string& reportPath,
                                                       std::string* why) {
    // Read as every record is read: a damaged field refuses the whole report.
    const auto stored = app::ReadReportFile(reportPath, why);
    if (!stored) {
        return std::nullopt;
    }
    if (stored->report.kind != "upgrade") {
        *why = reportPath + ": not the report of an upgrade batch";
        return std::nullopt;
    }
    static const std::set<std::string> unproven{"not-back", "unchanged", "other-version",
                                                "other-device", "no-version"};
    std::vector<std::string> macs;
    std::set<std::string> seen;
    for (const app::ReportCamera& cam : stored->report.cameras) {
        const auto mac = NormalMac(cam.mac);
        if (!mac) {
            *why = reportPath + ": a camera of the report has no usable MAC";
            return std::nullopt;
        }
        const std::string result = cam.skipped != 0 ? "none" : app::ResultName(cam.outcome.result);
        const std::string verify = app::VerifyName(cam.outcome.verify);
        if ((result != "succeeded" || unproven.count(verify) != 0) && seen.insert(*mac).second) {
            macs.push_back(*mac);
        }
    }
    return macs;
}

}  // namespace cli
