#include "app/BatchReport.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "app/OutcomeText.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"
#include "platform/WholeFile.h"

namespace app {
namespace {

constexpr const char* kPrefix = "batch-";
constexpr const char* kSuffix = ".json";
// A report of ten thousand cameras is a few megabytes; anything far larger is no report.
constexpr std::size_t kMaxReportBytes = 64u << 20;

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

bool Proven(const ReportCamera& c) {
    const VerifyResult v = c.outcome.verify;
    return c.skipped == 0 && c.result == 1 &&
           (v == VerifyResult::NotChecked || v == VerifyResult::NewVersion ||
            v == VerifyResult::NamedVersion || v == VerifyResult::AtNewAddress);
}

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
        s.verified += Proven(c) && o.verify != VerifyResult::NotChecked ? 1u : 0u;
        s.notBack += o.verify == VerifyResult::NotBack ? 1u : 0u;
        s.unchanged += o.verify == VerifyResult::Unchanged ? 1u : 0u;
        s.otherVersion += o.verify == VerifyResult::OtherVersion ? 1u : 0u;
        s.otherDevice += o.verify == VerifyResult::OtherDevice ? 1u : 0u;
        s.noVersion += o.verify == VerifyResult::NoVersion ? 1u : 0u;
        s.notAtNewAddress += o.verify == VerifyResult::NotAtNewAddress ? 1u : 0u;
        s.alreadyCurrent += c.result == 1 && o.reason == ReasonCode::AlreadyCurrent ? 1u : 0u;
    }
    return s;
}

std::string SummaryLine(const BatchReport& report) {
    const ReportSummary s = Summarize(report);
    std::string line =
        "结果：共" + std::to_string(s.total) + "台，成功" + std::to_string(s.succeeded);
    if (report.request.verifyTimeoutMs > 0) {
        line += "（已验证" + std::to_string(s.verified) + "）";
    }
    line += "，拒绝" + std::to_string(s.refused) + "，失败" + std::to_string(s.failed);
    if (report.kind != "upgrade") {
        if (s.notAtNewAddress > 0) {
            line += "，新地址无应答" + std::to_string(s.notAtNewAddress);
        }
        if (s.otherDevice > 0) {
            line += "，新地址被占用" + std::to_string(s.otherDevice);
        }
        if (s.notStarted > 0) {
            line += "，未开始" + std::to_string(s.notStarted);
        }
        return line + "，用时" + Duration(report.durationMs);
    }
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
    if (s.alreadyCurrent > 0) {
        line += "，已是目标版本" + std::to_string(s.alreadyCurrent);
    }
    return line + "，用时" + Duration(report.durationMs);
}

nlohmann::json CameraJson(const ReportCamera& c) {
    const CameraOutcome& o = c.outcome;
    return {{"mac", c.mac},
            {"ip", c.ip},
            {"ip_after", c.ipAfter},
            {"ip_before", c.ipBefore},
            {"mask", c.mask},
            {"gateway", c.gateway},
            {"mask_before", c.maskBefore},
            {"gateway_before", c.gatewayBefore},
            {"name", c.name},
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
            {"address_seen", o.addressSeen},
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
              {"default_ip", r.request.defaultIp},
              {"plan_file", r.request.planFile},
              {"undo_of", r.request.undoOf}}},
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
              {"not_at_new_address", s.notAtNewAddress},
              {"not_started", s.notStarted},
              {"already_current", s.alreadyCurrent}}},
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

namespace {

// Reads the fields of one JSON object, each checked for its type and range.
// The first damaged field ends the reading and is named in the reason.
class FieldReader {
  public:
    FieldReader(const nlohmann::json& object, std::string where, std::string* why)
        : object_(object), where_(std::move(where)), why_(why) {}

    bool Ok() const { return *why_ == ""; }

    void Text(const char* key, std::string* out, bool required = false) {
        if (const nlohmann::json* v = Find(key, required)) {
            if (v->is_string()) {
                *out = v->get_ref<const std::string&>();
            } else {
                Damaged(key);
            }
        }
    }
    void Bool(const char* key, bool* out) {
        if (const nlohmann::json* v = Find(key, false)) {
            if (v->is_boolean()) {
                *out = v->get<bool>();
            } else {
                Damaged(key);
            }
        }
    }
    template <typename T>
    void Number(const char* key, T* out, long long low, unsigned long long high,
                bool required = false) {
        const nlohmann::json* v = Find(key, required);
        if (v == nullptr) {
            return;
        }
        if (v->is_number_unsigned()) {
            const auto n = v->get<std::uint64_t>();
            if (n <= high && (low <= 0 || n >= static_cast<std::uint64_t>(low))) {
                *out = static_cast<T>(n);
                return;
            }
        } else if (v->is_number_integer()) {
            const auto n = v->get<std::int64_t>();
            if (n >= low && (n < 0 || static_cast<std::uint64_t>(n) <= high)) {
                *out = static_cast<T>(n);
                return;
            }
        }
        Damaged(key);
    }
    // A member that must be an object or an array; nothing when absent and not required.
    const nlohmann::json* Object(const char* key, bool required = false) {
        const nlohmann::json* v = Find(key, required);
        if (v != nullptr && !v->is_object()) {
            Damaged(key);
            return nullptr;
        }
        return v;
    }
    const nlohmann::json* Array(const char* key) {
        const nlohmann::json* v = Find(key, true);
        if (v != nullptr && !v->is_array()) {
            Damaged(key);
            return nullptr;
        }
        return v;
    }
    void Damaged(const char* key) {
        if (Ok()) {
            *why_ = "字段“" + Path(key) + "”不可用";
        }
    }

  private:
    std::string Path(const char* key) const { return where_ + "/" + key; }
    const nlohmann::json* Find(const char* key, bool required) {
        if (!Ok()) {
            return nullptr;
        }
        const auto it = object_.find(key);
        if (it == object_.end()) {
            if (required) {
                *why_ = "缺少字段“" + Path(key) + "”";
            }
            return nullptr;
        }
        return &*it;
    }

    const nlohmann::json& object_;
    std::string where_;
    std::string* why_;
};

constexpr long long kMaxMs = std::numeric_limits<std::int64_t>::max();
constexpr unsigned long long kMaxInt = std::numeric_limits<std::int32_t>::max();

// The value whose stable name this is; nothing for a name this build does not know.
template <typename Enum>
std::optional<Enum> ByName(const std::string& name, const char* (*nameOf)(Enum)) {
    for (std::int32_t v = 0; v < 64; ++v) {
        if (name == nameOf(static_cast<Enum>(v))) {
            return static_cast<Enum>(v);
        }
    }
    return std::nullopt;
}

bool ReadCamera(const nlohmann::json& j, const std::string& where, ReportCamera* c,
                std::string* why) {
    if (!j.is_object()) {
        *why = "字段“" + where + "”不可用";
        return false;
    }
    FieldReader f(j, where, why);
    CameraOutcome& o = c->outcome;
    f.Text("mac", &c->mac, true);
    f.Text("ip", &c->ip);
    f.Text("ip_after", &c->ipAfter);
    f.Text("ip_before", &c->ipBefore);
    f.Text("mask", &c->mask);
    f.Text("gateway", &c->gateway);
    f.Text("mask_before", &c->maskBefore);
    f.Text("gateway_before", &c->gatewayBefore);
    f.Text("name", &c->name);
    f.Text("type", &c->type);
    f.Text("hw", &c->hw);
    f.Text("version_before", &o.versionBefore);
    f.Text("version_after", &o.versionAfter);
    f.Text("version_named", &o.versionNamed);
    f.Text("file", &o.file);
    f.Number("file_bytes", &o.fileBytes, 0, std::numeric_limits<std::uint64_t>::max());
    f.Number("bytes_sent", &o.bytesSent, 0, std::numeric_limits<std::uint64_t>::max());
    f.Text("status", &c->status);
    f.Text("detail", &c->detail);
    std::string result;
    f.Text("result", &result, true);
    f.Number("skipped", &c->skipped, 0, kMaxInt);
    std::string reason;
    f.Text("reason", &reason);
    std::int32_t reasonCode = 0;
    f.Number("reason_code", &reasonCode, 0, kMaxInt);
    f.Text("reason_text", &o.reasonText);
    f.Number("percent", &o.percent, -1, 100);
    std::string verify;
    f.Text("verify", &verify);
    f.Text("other_mac", &o.otherMac);
    f.Text("address_seen", &o.addressSeen);
    f.Number("attempts", &o.attempts, 0, kMaxInt);
    f.Number("connect_ms", &o.connectMs, 0, kMaxMs);
    f.Number("send_ms", &o.sendMs, 0, kMaxMs);
    f.Number("verify_ms", &o.verifyMs, 0, kMaxMs);
    f.Number("total_ms", &o.totalMs, 0, kMaxMs);
    if (!f.Ok()) {
        return false;
    }
    const auto r = ByName<OutcomeResult>(result, ResultName);
    const auto v = ByName<VerifyResult>(verify, VerifyName);
    if (!r) {
        f.Damaged("result");
    } else if (!v) {
        f.Damaged("verify");
    } else if (c->skipped != 0 && c->skipped != static_cast<std::int32_t>(ReasonCode::NotStarted) &&
               c->skipped != static_cast<std::int32_t>(ReasonCode::Held)) {
        f.Damaged("skipped");
    }
    o.result = r.value_or(OutcomeResult::None);
    o.verify = v.value_or(VerifyResult::NotChecked);
    o.reason = static_cast<ReasonCode>(reasonCode);
    c->result = o.result == OutcomeResult::Succeeded ? 1 : 0;
    return f.Ok();
}

}  // namespace

std::optional<StoredReport> ParseReport(const std::string& text, std::string* why) {
    StoredReport out;
    out.doc = nlohmann::json::parse(text, nullptr, false);
    if (out.doc.is_discarded() || !out.doc.is_object()) {
        *why = "不是批次记录";
        return std::nullopt;
    }
    std::string damaged;
    FieldReader f(out.doc, "", &damaged);
    BatchReport& r = out.report;
    std::string format;
    f.Text("format", &format, true);
    if (f.Ok() && format != "quorvane-batch-report") {
        *why = "不是批次记录";
        return std::nullopt;
    }
    int version = 0;
    f.Number("version", &version, 1, 1, true);
    // A report is found by its file's name; a hand-made one may go without an id.
    f.Text("id", &r.id);
    if (f.Ok() && !r.id.empty() && !ValidReportId(r.id)) {
        f.Damaged("id");
    }
    f.Text("kind", &r.kind, true);
    if (f.Ok() && r.kind != "upgrade" && r.kind != "modify-ip" && r.kind != "restore-ip") {
        f.Damaged("kind");
    }
    f.Text("tool", &r.tool);
    f.Text("started", &r.started);
    f.Text("finished", &r.finished);
    f.Number("duration_ms", &r.durationMs, 0, kMaxMs);
    if (const nlohmann::json* q = f.Object("request")) {
        FieldReader req(*q, "/request", &damaged);
        req.Text("file", &r.request.file);
        req.Text("file_md5", &r.request.fileMd5);
        req.Number("file_bytes", &r.request.fileBytes, 0,
                   std::numeric_limits<std::uint64_t>::max());
        req.Bool("force", &r.request.force);
        req.Bool("sync_time", &r.request.syncTime);
        req.Number("verify_timeout_ms", &r.request.verifyTimeoutMs, 0, kMaxInt);
        req.Text("start_ip", &r.request.startIp);
        req.Text("default_ip", &r.request.defaultIp);
        req.Text("plan_file", &r.request.planFile);
        req.Text("undo_of", &r.request.undoOf);
    }
    // The counts are made again from the cameras; stored, they must still be counts.
    if (const nlohmann::json* sum = f.Object("summary")) {
        FieldReader counts(*sum, "/summary", &damaged);
        for (const char* key :
             {"total", "succeeded", "verified", "refused", "failed", "not_back", "unchanged",
              "other_version", "other_device", "not_at_new_address", "not_started"}) {
            unsigned n = 0;
            counts.Number(key, &n, 0, std::numeric_limits<unsigned>::max());
        }
    }
    if (const nlohmann::json* cameras = f.Array("cameras")) {
        r.cameras.reserve(cameras->size());
        for (std::size_t i = 0; i < cameras->size() && damaged.empty(); ++i) {
            ReportCamera c;
            if (ReadCamera((*cameras)[i], "/cameras/" + std::to_string(i), &c, &damaged)) {
                r.cameras.push_back(std::move(c));
            }
        }
    }
    if (!damaged.empty()) {
        *why = damaged;
        return std::nullopt;
    }
    return out;
}

std::optional<StoredReport> ReadReportFile(const std::string& path, std::string* why) {
    std::string reason;
    const auto text = platform::ReadRegularFile(path, kMaxReportBytes, &reason);
    auto report = text ? ParseReport(*text, &reason) : std::nullopt;
    if (!report) {
        *why = path + ": " + reason;
    }
    return report;
}

std::optional<StoredReport> LoadReport(const std::string& stateDir, const std::string& id,
                                       std::string* why) {
    if (!ValidReportId(id)) {
        *why = "批次编号应为 YYYYMMDD-HHMMSS-mmm";
        return std::nullopt;
    }
    return ReadReportFile(platform::JoinPath(ReportsDir(stateDir), kPrefix + id + kSuffix), why);
}

std::string CsvField(const std::string& text) {
    // A cell printed to a terminal must not drive it: escaped as the console does.
    std::string field = platform::EscapeForTerminal(text);
    // A spreadsheet takes a cell that starts like a formula as one.
    if (!field.empty() &&
        (field[0] == '=' || field[0] == '+' || field[0] == '-' || field[0] == '@')) {
        field.insert(0, "'");
    }
    if (field.find_first_of(",\"") == std::string::npos) {
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

std::string CamerasCsv(const BatchReport& report) {
    static const char* const kFields[] = {
        "mac",           "ip",      "ip_after",    "type",           "hw",       "version_before",
        "version_after", "status",  "detail",      "result",         "reason",   "reason_text",
        "verify",        "file",    "file_bytes",  "bytes_sent",     "total_ms", "ip_before",
        "mask",          "gateway", "mask_before", "gateway_before", "name"};
    std::string out;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        out += std::string(i ? "," : "") + kFields[i];
    }
    out += "\r\n";
    for (const ReportCamera& camera : report.cameras) {
        const nlohmann::json c = CameraJson(camera);
        for (std::size_t i = 0; i < std::size(kFields); ++i) {
            const auto& v = c[kFields[i]];
            const std::string cell = v.is_string() ? v.get<std::string>() : v.dump();
            out += std::string(i ? "," : "") + CsvField(cell);
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace app
