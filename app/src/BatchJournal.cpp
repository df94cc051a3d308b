#include "app/BatchJournal.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/WholeFile.h"

namespace app {
namespace {

constexpr const char* kPrefix = "batch-";
constexpr const char* kJournalSuffix = ".journal";
constexpr const char* kFormat = "quorvane-batch-journal";
// As large as the largest report, and its lines as many.
constexpr std::size_t kMaxJournalBytes = 64u << 20;

std::string Dumped(const nlohmann::json& j) {
    // Camera texts may hold bytes that are not UTF-8; replace, never throw.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string JournalPath(const std::string& stateDir, const std::string& id) {
    return platform::JoinPath(ReportsDir(stateDir), kPrefix + id + kJournalSuffix);
}

JournalWriter::~JournalWriter() {
    Close();
}

void JournalWriter::Close() {
    if (fd_ >= 0) {
        platform::CloseFd(fd_);
        fd_ = -1;
    }
}

void JournalWriter::Remove() {
    Close();
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove(platform::FsPath(path_), ec);
        path_.clear();
    }
}

bool JournalWriter::Line(const nlohmann::json& line, bool sync, std::string* why) {
    if (fd_ < 0) {
        *why = "批次日志未打开";
        return false;
    }
    std::string text = Dumped(line);
    if (text.size() + 1 > kMaxJournalLine) {
        *why = "批次日志的一行过长";
        return false;
    }
    text += '\n';
    if (!platform::AppendWhole(fd_, text, why)) {
        return false;
    }
    if (!sync) {
        return true;
    }
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = platform::SyncToDisk(fd_, why);
    syncMicros_ +=
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    ++syncs_;
    return ok;
}

bool JournalWriter::Open(const std::string& stateDir, const BatchReport& batch, std::string* why) {
    Close();
    if (!ValidReportId(batch.id)) {
        *why = "无效的批次编号";
        return false;
    }
    const std::string dir = ReportsDir(stateDir);
    if (!platform::EnsureRealDir(dir, why)) {
        return false;
    }
    const std::string path = JournalPath(stateDir, batch.id);
    std::error_code ec;
    if (std::filesystem::symlink_status(platform::FsPath(path), ec).type() !=
        std::filesystem::file_type::not_found) {
        *why = path + ": 已存在";  // never appended to another batch's journal
        return false;
    }
    fd_ = platform::OpenAppendRegular(path, why);
    if (fd_ < 0) {
        return false;
    }
    path_ = path;
    const nlohmann::json report = ReportJson(batch);
    const bool ok = Line({{"journal", kFormat},
                          {"version", 1},
                          {"id", batch.id},
                          {"kind", batch.kind},
                          {"tool", batch.tool},
                          {"started", batch.started}},
                         false, why) &&
                    Line({{"request", report["request"]}}, true, why) &&
                    platform::SyncFolder(dir, why);
    if (!ok) {
        Remove();
    }
    return ok;
}

bool JournalWriter::Queued(const std::string& mac, const std::string& ip, std::string* why) {
    return Line({{"queued", {{"mac", mac}, {"ip", ip}}}}, false, why);
}

bool JournalWriter::Camera(const ReportCamera& camera, bool proofFollows, std::string* why) {
    return Line({{"camera", CameraJson(camera)}, {"proof_follows", proofFollows}}, true, why);
}

bool JournalWriter::Finish(const BatchReport& batch, std::string* why) {
    return Line({{"finished", batch.finished}, {"duration_ms", batch.durationMs}}, true, why);
}

namespace {

std::string LineWhy(std::size_t number, const std::string& what) {
    return "批次日志第" + std::to_string(number) + "行" + what;
}

}  // namespace

std::optional<JournalBatch> ParseJournal(const std::string& text, std::string* why) {
    if (text.size() > kMaxJournalBytes) {
        *why = "批次日志过大";
        return std::nullopt;
    }
    nlohmann::json header;
    nlohmann::json request = nlohmann::json::object();
    std::vector<std::pair<std::string, std::string>> queued;  // MAC, address
    std::set<std::string> queuedMacs;
    std::vector<std::string> order;  // MACs in the order of their first record
    std::map<std::string, std::pair<nlohmann::json, bool>> cameras;  // record, proof to come
    nlohmann::json finished;
    std::size_t at = 0;
    // A crash or a power loss damages only the end of an append-only file:
    // unreadable lines with nothing readable after them are what was being
    // written, and are ignored. One with a readable line after it refuses.
    std::string firstBad;
    for (std::size_t number = 1; at < text.size(); ++number) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break;  // the last line, torn by the crash: never written whole
        }
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        nlohmann::json j = line.size() > kMaxJournalLine
                               ? nlohmann::json(nlohmann::json::value_t::discarded)
                               : nlohmann::json::parse(line, nullptr, false);
        const auto r = j.is_object() ? j.find("request") : j.end();
        const auto q = j.is_object() ? j.find("queued") : j.end();
        const auto c = j.is_object() ? j.find("camera") : j.end();
        enum class Kind { Bad, Header, Request, Queued, Camera, Finished } kind = Kind::Bad;
        if (!j.is_object()) {
            kind = Kind::Bad;
        } else if (number == 1) {
            const auto format = j.find("journal");
            if (format == j.end() || !format->is_string() || *format != kFormat) {
                *why = "不是批次日志";
                return std::nullopt;
            }
            kind = Kind::Header;
        } else if (r != j.end() && r->is_object()) {
            kind = Kind::Request;
        } else if (q != j.end() && q->is_object() && q->contains("mac") &&
                   (*q)["mac"].is_string() && q->contains("ip") && (*q)["ip"].is_string()) {
            kind = Kind::Queued;
        } else if (c != j.end() && c->is_object() && c->contains("mac") &&
                   (*c)["mac"].is_string() &&
                   (!j.contains("proof_follows") || j["proof_follows"].is_boolean())) {
            kind = Kind::Camera;
        } else if (j.contains("finished")) {
            kind = Kind::Finished;
        }
        if (kind == Kind::Bad) {
            if (firstBad.empty()) {
                firstBad = LineWhy(number, line.size() > kMaxJournalLine ? "过长" : "不可用");
            }
            continue;
        }
        if (!firstBad.empty()) {
            *why = firstBad;
            return std::nullopt;
        }
        switch (kind) {
            case Kind::Header:
                header = std::move(j);
                break;
            case Kind::Request:
                request = *r;
                break;
            case Kind::Queued: {
                const std::string mac = (*q)["mac"].get<std::string>();
                if (queuedMacs.insert(mac).second) {
                    queued.emplace_back(mac, (*q)["ip"].get<std::string>());
                }
                break;
            }
            case Kind::Camera: {
                const std::string m = (*c)["mac"].get<std::string>();
                if (cameras.count(m) == 0) {
                    order.push_back(m);
                }
                cameras[m] = {*c, j.value("proof_follows", false)};
                break;
            }
            case Kind::Finished:
                finished = j;
                break;
            case Kind::Bad:
                break;
        }
    }
    if (header.is_null() && !firstBad.empty()) {
        *why = firstBad;  // not even its first line reads
        return std::nullopt;
    }
    if (header.is_null()) {
        *why = "批次日志是空的";
        return std::nullopt;
    }
    // The report it makes, read by the report's own reader: every field checked.
    nlohmann::json doc = {{"format", "quorvane-batch-report"},
                          {"version", 1},
                          {"kind", header.value("kind", nlohmann::json())},
                          {"request", request},
                          {"cameras", nlohmann::json::array()}};
    for (const char* key : {"id", "tool", "started"}) {
        if (const auto it = header.find(key); it != header.end()) {
            doc[key] = *it;
        }
    }
    if (!finished.is_null()) {
        doc["finished"] = finished["finished"];
        if (const auto d = finished.find("duration_ms"); d != finished.end()) {
            doc["duration_ms"] = *d;
        }
    }
    std::uint32_t unfinished = 0;
    for (const std::string& mac : order) {
        nlohmann::json record = cameras[mac].first;
        if (cameras[mac].second) {
            // Its check was cut off: nothing proves it.
            record["verify"] = "stopped";
            record["detail"] = "批量任务中断，未验证";
            ++unfinished;
        }
        doc["cameras"].push_back(std::move(record));
    }
    for (const auto& [mac, ip] : queued) {
        if (cameras.count(mac) == 0) {
            doc["cameras"].push_back({{"mac", mac},
                                      {"ip", ip},
                                      {"ip_after", ip},
                                      {"status", "未处理"},
                                      {"detail", "批量任务中断"},
                                      {"result", "failed"}});
            ++unfinished;
        }
    }
    std::string damaged;
    auto parsed = ParseReport(Dumped(doc), &damaged);
    if (!parsed) {
        *why = "批次日志不可用：" + damaged;
        return std::nullopt;
    }
    JournalBatch out;
    out.report = std::move(parsed->report);
    out.doc = std::move(parsed->doc);
    out.complete = !finished.is_null();
    out.unfinished = out.complete ? 0 : unfinished;
    out.doc["interrupted"] = !out.complete;
    out.doc["unfinished"] = out.unfinished;
    return out;
}

std::optional<JournalBatch> ReadJournalFile(const std::string& path, std::string* why) {
    std::string error;
    const auto text = platform::ReadRegularFile(path, kMaxJournalBytes, &error);
    if (!text) {
        *why = path + ": " + error;
        return std::nullopt;
    }
    auto batch = ParseJournal(*text, &error);
    if (!batch) {
        *why = path + ": " + error;
    }
    return batch;
}

std::vector<ReportEntry> ListJournals(const std::string& stateDir) {
    std::vector<ReportEntry> out;
    std::error_code ec;
    const std::string dir = ReportsDir(stateDir);
    if (std::filesystem::is_symlink(platform::FsPath(dir), ec)) {
        return out;
    }
    const std::size_t p = std::string(kPrefix).size();
    const std::size_t x = std::string(kJournalSuffix).size();
    for (const auto& e : std::filesystem::directory_iterator(platform::FsPath(dir), ec)) {
        const std::string name = platform::Utf8Path(e.path().filename());
        if (name.size() != p + 19 + x || name.rfind(kPrefix, 0) != 0 ||
            name.compare(name.size() - x, x, kJournalSuffix) != 0) {
            continue;
        }
        const std::string id = name.substr(p, 19);
        if (ValidReportId(id)) {
            out.push_back({id, platform::Utf8Path(e.path())});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const ReportEntry& a, const ReportEntry& b) { return a.id > b.id; });
    return out;
}

std::optional<JournalBatch> InterruptedLastBatch(const std::string& stateDir) {
    const auto journals = ListJournals(stateDir);
    if (journals.empty()) {
        return std::nullopt;
    }
    const auto reports = ListReports(stateDir);
    // A report of the same batch or of a later one: the last batch ended.
    if (!reports.empty() && reports.front().id >= journals.front().id) {
        return std::nullopt;
    }
    std::string why;
    auto batch = ReadJournalFile(journals.front().path, &why);
    if (!batch || batch->complete) {
        return std::nullopt;
    }
    return batch;
}

std::string InterruptedText(const JournalBatch& batch) {
    return "上次批量任务未完成：" + std::to_string(batch.unfinished) + "台未处理";
}

}  // namespace app
