#include "Retry.h"

#include <filesystem>
#include <set>

#include "Options.h"
#include "app/BatchJournal.h"
#include "app/BatchReport.h"
#include "platform/Paths.h"

namespace cli {

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::optional<app::StoredReport> ReadRecord(const std::string& from, const std::string& stateDir,
                                            std::string* why) {
    std::string path = from;
    std::error_code ec;
    if (app::ValidReportId(from) && !std::filesystem::exists(platform::FsPath(from), ec)) {
        path = platform::JoinPath(app::ReportsDir(stateDir), "batch-" + from + ".json");
        if (!std::filesystem::exists(platform::FsPath(path), ec)) {
            path = app::JournalPath(stateDir, from);
        }
    }
    if (EndsWith(path, ".journal")) {
        auto batch = app::ReadJournalFile(path, why);
        if (!batch) {
            return std::nullopt;
        }
        return app::StoredReport{std::move(batch->report), std::move(batch->doc)};
    }
    return app::ReadReportFile(path, why);
}

}  // namespace

std::optional<std::vector<std::string>> CamerasToRetry(const std::string& from,
                                                       const std::string& stateDir,
                                                       std::string* why) {
    // Read as every record is read: a damaged field refuses the whole report.
    const auto stored = ReadRecord(from, stateDir, why);
    if (!stored) {
        return std::nullopt;
    }
    const std::string& reportPath = from;
    if (stored->report.kind != "upgrade") {
        *why = reportPath + ": not the report of an upgrade batch";
        return std::nullopt;
    }
    std::vector<std::string> macs;
    std::set<std::string> seen;
    for (const app::ReportCamera& cam : stored->report.cameras) {
        const auto mac = NormalMac(cam.mac);
        if (!mac) {
            *why = reportPath + ": a camera of the report has no usable MAC";
            return std::nullopt;
        }
        if (!app::Proven(cam) && seen.insert(*mac).second) {
            macs.push_back(*mac);
        }
    }
    return macs;
}

}  // namespace cli
