#pragma once

// The record of one batch: what was asked and what became of every camera,
// written as JSON beside the daily log when the batch ends (docs/batch-report.md),
// and read back by `quorvane-cli history`.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/CameraOutcome.h"

namespace app {

struct ReportCamera {
    std::string mac;
    std::string ip;        // as queued (an IP batch: the address it is given)
    std::string ipAfter;   // as reported
    std::string ipBefore;  // the list's address when its result came
    // IP batches: the mask sent and the gateway (empty: left as it was).
    std::string mask;
    std::string gateway;
    // What it had before (the search's record; empty when the camera did not
    // say): an undo gives them back.
    std::string maskBefore;
    std::string gatewayBefore;
    std::string name;  // an address plan's name for it
    std::string type;
    std::string hw;
    std::string status;  // the status cell
    std::string detail;  // the detail cell
    std::int32_t result = 0;
    std::int32_t skipped = 0;  // never started: its reason code (not-started, held)
    CameraOutcome outcome;
};

// Whether the camera is upgraded as far as anyone can tell: its verdict was
// OK and nothing after its reboot says otherwise (back with a new version or
// the one its file names, or no check at all: the verdict is then all there
// is). The window's retry, the console's exit status, the report's count of
// verified cameras and a retry from a report all go by this one rule.
bool Proven(const ReportCamera& camera);

struct ReportRequest {
    std::string file;
    std::string fileMd5;
    std::uint64_t fileBytes = 0;
    bool force = false;
    bool syncTime = false;
    int verifyTimeoutMs = 0;  // an IP batch: the wait at the new address
    std::string startIp;
    std::string defaultIp;
    std::string planFile;  // an IP batch from an address plan: its file
    std::string undoOf;    // an IP batch that undoes another: that batch's id
};

struct BatchReport {
    std::string id;    // YYYYMMDD-HHMMSS-mmm of the start
    std::string kind;  // upgrade, modify-ip, restore-ip
    std::string tool;
    std::string started;
    std::string finished;
    std::int64_t durationMs = 0;
    ReportRequest request;
    std::vector<ReportCamera> cameras;
};

struct ReportSummary {
    unsigned total = 0;
    unsigned succeeded = 0;
    unsigned verified = 0;
    unsigned refused = 0;
    unsigned failed = 0;
    unsigned notBack = 0;
    unsigned unchanged = 0;
    unsigned otherVersion = 0;
    unsigned otherDevice = 0;
    unsigned noVersion = 0;
    unsigned notAtNewAddress = 0;
    unsigned notStarted = 0;
    unsigned alreadyCurrent = 0;  // of the succeeded: nothing sent, already on the named version
};

ReportSummary Summarize(const BatchReport& report);
// The one line the pane and the console print at the end of a batch.
std::string SummaryLine(const BatchReport& report);

nlohmann::json CameraJson(const ReportCamera& camera);
nlohmann::json ReportJson(const BatchReport& report);

// `<stateDir>/reports`, and the file of one report in it.
std::string ReportsDir(const std::string& stateDir);
// Writes the report whole (a temporary file renamed into place); the folder
// and the file are never reached through a link. The path written, or the reason.
bool WriteReport(const std::string& stateDir, const BatchReport& report, std::string* path,
                 std::string* why);

struct ReportEntry {
    std::string id;
    std::string path;
};
// Reports in the folder, newest first; names that are not reports are skipped.
std::vector<ReportEntry> ListReports(const std::string& stateDir);
// A report read back from disk: every field of the format checked for its
// type and range, the report as the writer was given it, and the document as
// stored (for printing). Fields it does not know are ignored.
struct StoredReport {
    BatchReport report;
    nlohmann::json doc;
};
// The text of a report, or the reason naming the first field that is damaged.
// Never throws.
std::optional<StoredReport> ParseReport(const std::string& text, std::string* why);
// A report file given by its path (regular files only, links not followed);
// the reason names the file.
std::optional<StoredReport> ReadReportFile(const std::string& path, std::string* why);
// One report by its id (a well-formed id only: no path can be formed from it).
std::optional<StoredReport> LoadReport(const std::string& stateDir, const std::string& id,
                                       std::string* why);
bool ValidReportId(const std::string& id);

// A report's cameras as CSV (header line first), and one CSV field: control
// characters escaped as on the console, a formula defused, quoted when needed.
std::string CamerasCsv(const BatchReport& report);
std::string CsvField(const std::string& text);

}  // namespace app
