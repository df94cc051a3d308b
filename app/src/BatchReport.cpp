#include "app/BatchReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "app/OutcomeText.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/WholeFile.h"

namespace app {
namespace {

constexpr const char* kPrefix = "batch-";
constexpr const char* kSuffix = ".json";
// A report of ten thousand cameras is a few megabytes; anything far larger is no report.
constexpr std::size_t kMaxReportBytes = 64u << 20;

bool Verified(const CameraOutcome& o) {
    return o.verify == VerifyResult::NewVersion || o.verify == VerifyResult::NamedVersion;
}

std::string Duration(std::int64_t ms) {
    const std::int64_t s = (ms + 500) / 1000;
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof(text), "%lld小时%02lld分%02lld秒",
                      static_cast<long long>(s / 3600), static_cast<long long>(s / 60 % 60),
                      static_cast<long long>(s % 60));
    } else if (s >= 60) {
        std::snprintf(text, sizeof(text), "%lld分%02lld秒", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    } else {
        std::snprintf(text, sizeof(text), "%lld秒", static_cast<long long>(s));
    }
    return text;
}

}  // namespace

ReportSummary Summarize(const BatchReport& report) {
    ReportSummary s;
    for (const ReportCamera& c : report.cameras) {
        ++s.total;
        const CameraOutcome& o = c.outcome;
        if (c.skipped != 0) {
            ++s.notStarted;
            continue;
        }
        if (c.result == 1) {
            ++s.succeeded;
        } else if (o.result == OutcomeResult::Refused) {
            ++s.refused;
        } else {
            ++s.failed;
        }
        s.verified += Verified(o) ? 1u : 0u;
        s.notBack += o.verify == VerifyResult::NotBack ? 1u : 0u;
        s.unchanged += o.verify == VerifyResult::Unchanged ? 1u : 0u;
        s.otherVersion += o.verify == VerifyResult::OtherVersion ? 1u : 0u;
        s.otherDevice += o.verify == VerifyResult::OtherDevice ? 1u : 0u;
        s.noVersion += o.verify == VerifyResult::NoVersion ? 1u : 0u;
    }
    return s;
}

std::string SummaryLine(const BatchReport& report) {
    const ReportSummary s = Summarize(report);
    std::string line =
        "结果：共" + std::to_string(s.total) + "台，成功" + std::to_string(s.succeeded);
    if (report.kind == "upgrade" && report.request.verifyTimeoutMs > 0) {
        line += "（已验证" + std::to_string(s.verified) + "）";
    }
    line += "，拒绝" + std::to_string(s.refused) + "，失败" + std::to_string(s.failed);
    if (s.notBack > 0) {
        line += "，未恢复" + std::to_string(s.notBack);
    }
    if (s.unchanged > 0) {
        line += "，版本未变" + std::to_string(s.unchanged);
    }
    if (s.otherVersion + s.otherDevice > 0) {
        line += "，版本不符" + std::to_string(s.otherVersion + s.otherDevice);
    }
    if (s.noVersion > 0) {
        line += "，无法验证" + std::to_string(s.noVersion);
    }
    if (s.notStarted > 0) {
        line += "，未开始" + std::to_string(s.notStarted);
    }
    return line + "，用时" + Duration(report.durationMs);
}

nlohmann::json CameraJson(const ReportCamera& c) {
    const CameraOutcome& o = c.outcome;
    return {{"mac", c.mac},
            {"ip", c.ip},
            {"ip_after", c.ipAfter},
            {"type", c.type},
            {"hw", c.hw},
            {"version_before", o.versionBefore},
            {"version_after", o.versionAfter},
            {"version_named", o.versionNamed},
            {"file", o.file},
            {"file_bytes", o.fileBytes},
            {"bytes_sent", o.bytesSent},
            {"status", c.status},
            {"detail", c.detail},
            {"result", c.skipped != 0 ? "none" : ResultName(o.result)},
            {"skipped", c.skipped},
            {"reason", ReasonName(o.reason)},
            {"reason_code", static_cast<int>(o.reason)},
            {"reason_text", o.reasonText},
            {"percent", o.percent},
            {"verify", VerifyName(o.verify)},
            {"other_mac", o.otherMac},
            {"attempts", o.attempts},
            {"connect_ms", o.connectMs},
            {"send_ms", o.sendMs},
            {"verify_ms", o.verifyMs},
            {"total_ms", o.totalMs}};
}

nlohmann::json ReportJson(const BatchReport& r) {
    const ReportSummary s = Summarize(r);
    nlohmann::json cameras = nlohmann::json::array();
    for (const ReportCamera& c : r.cameras) {
        cameras.push_back(CameraJson(c));
    }
    return {{"format", "quorvane-batch-report"},
            {"version", 1},
            {"id", r.id},
            {"kind", r.kind},
            {"tool", r.tool},
            {"started", r.started},
            {"finished", r.finished},
            {"duration_ms", r.durationMs},
            {"request",
             {{"file", r.request.file},
              {"file_md5", r.request.fileMd5},
              {"file_bytes", r.request.fileBytes},
              {"force", r.request.force},
              {"sync_time", r.request.syncTime},
              {"verify_timeout_ms", r.request.verifyTimeoutMs},
              {"start_ip", r.request.startIp},
              {"default_ip", r.request.defaultIp}}},
            {"summary",
             {{"total", s.total},
              {"succeeded", s.succeeded},
              {"verified", s.verified},
              {"refused", s.refused},
              {"failed", s.failed},
              {"not_back", s.notBack},
              {"unchanged", s.unchanged},
              {"other_version", s.otherVersion},
              {"other_device", s.otherDevice},
              {"no_version", s.noVersion},
              {"not_started", s.notStarted}}},
            {"cameras", cameras}};
}

std::string ReportsDir(const std::string& stateDir) {
    return platform::JoinPath(stateDir, "reports");
}

bool ValidReportId(const std::string& id) {
    // YYYYMMDD-HHMMSS-mmm, digits and dashes only.
    if (id.size() != 19 || id[8] != '-' || id[15] != '-') {
        return false;
    }
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (i != 8 && i != 15 && !std::isdigit(static_cast<unsigned char>(id[i]))) {
            return false;
        }
    }
    return true;
}

bool WriteReport(const std::string& stateDir, const BatchReport& report, std::string* path,
                 std::string* why) {
    if (!ValidReportId(report.id)) {
        *why = "无效的批次编号";
        return false;
    }
    const std::string dir = ReportsDir(stateDir);
    if (!platform::EnsureRealDir(dir, why)) {
        return false;
    }
    const std::string name = kPrefix + report.id + kSuffix;
    // Camera texts may hold bytes that are not UTF-8; replace, never throw.
    const std::string text =
        ReportJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (!platform::WriteWholeFile(dir, name, text, why)) {
        return false;
    }
    *path = platform::JoinPath(dir, name);
    return true;
}

std::vector<ReportEntry> ListReports(const std::string& stateDir) {
    std::vector<ReportEntry> out;
    std::error_code ec;
    const std::string dir = ReportsDir(stateDir);
    if (std::filesystem::is_symlink(platform::FsPath(dir), ec)) {
        return out;
    }
    for (const auto& e : std::filesystem::directory_iterator(platform::FsPath(dir), ec)) {
        const std::string name = platform::Utf8Path(e.path().filename());
        const std::size_t p = std::string(kPrefix).size();
        const std::size_t x = std::string(kSuffix).size();
        if (name.size() != p + 19 + x || name.rfind(kPrefix, 0) != 0 ||
            name.compare(name.size() - x, x, kSuffix) != 0) {
            continue;
        }
        const std::string id = name.substr(p, 19);
        if (ValidReportId(id)) {
            out.push_back({id, e.path().string()});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const ReportEntry& a, const ReportEntry& b) { return a.id > b.id; });
    return out;
}

std::optional<nlohmann::json> LoadReport(const std::string& stateDir, const std::string& id,
                                         std::string* why) {
    if (!ValidReportId(id)) {
        *why = "批次编号应为 YYYYMMDD-HHMMSS-mmm";
        return std::nullopt;
    }
    const std::string path = platform::JoinPath(ReportsDir(stateDir), kPrefix + id + kSuffix);
    const auto text = platform::ReadRegularFile(path, kMaxReportBytes, why);
    if (!text) {
        return std::nullopt;
    }
    auto j = nlohmann::json::parse(*text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || j.value("format", "") != "quorvane-batch-report") {
        *why = path + ": 不是批次记录";
        return std::nullopt;
    }
    return j;
}

std::string CsvField(const std::string& text) {
    std::string field = text;
    // A spreadsheet takes a cell that starts like a formula as one.
    if (!field.empty() && (field[0] == '=' || field[0] == '+' || field[0] == '-' ||
                           field[0] == '@' || field[0] == '\t' || field[0] == '\r')) {
        field.insert(0, "'");
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
        return field;
    }
    std::string quoted = "\"";
    for (char c : field) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CamerasCsv(const nlohmann::json& report) {
    static const char* const kFields[] = {
        "mac",           "ip",     "ip_after",   "type",       "hw",      "version_before",
        "version_after", "status", "detail",     "result",     "reason",  "reason_text",
        "verify",        "file",   "file_bytes", "bytes_sent", "total_ms"};
    std::string out;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        out += std::string(i ? "," : "") + kFields[i];
    }
    out += "\r\n";
    if (!report.contains("cameras") || !report["cameras"].is_array()) {
        return out;
    }
    for (const auto& c : report["cameras"]) {
        for (std::size_t i = 0; i < std::size(kFields); ++i) {
            std::string cell;
            if (c.is_object() && c.contains(kFields[i])) {
                const auto& v = c[kFields[i]];
                cell = v.is_string() ? v.get<std::string>() : v.dump();
            }
            out += std::string(i ? "," : "") + CsvField(cell);
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace app
