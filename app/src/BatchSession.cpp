#include "app/BatchSession.h"

#include <cstdio>

#include "app/DialogTexts.h"
#include "app/OutcomeText.h"
#include "platform/Md5.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"

namespace app {
namespace {

std::string TimeText(const platform::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string IdText(const platform::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d%02d%02d-%02d%02d%02d-%03d", t.year % 10000, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return text;
}

}  // namespace

platform::FileLock::Result BatchSession::TakeLock(const std::string& path, std::string* why) {
    if (lock_.Held()) {
        return platform::FileLock::Result::Locked;
    }
    return lock_.TryLock(path, why);
}

void BatchSession::Begin(std::int32_t kind, const std::string& tool,
                         const platform::LocalTime& now) {
    running_ = true;
    kind_ = kind;
    record_ = {};
    record_.id = IdText(now);
    record_.kind = ReportKind(kind);
    record_.tool = tool;
    record_.started = TimeText(now);
    started_ = std::chrono::steady_clock::now();
    stopPresses_ = 0;
    skipped_ = 0;
    planned_.clear();
    if (kind == TASK_UPGRADE) {
        retry_.clear();
    }
}

void BatchSession::DescribeFile(const std::string& path) {
    std::string why;
    const auto bytes = platform::ReadRegularFile(path, std::size_t{256} << 20, &why);
    if (!bytes) {
        return;
    }
    record_.request.fileBytes = bytes->size();
    platform::Md5 md5;
    md5.update(bytes->data(), bytes->size());
    const platform::Digest d = md5.finish();
    if (md5.ok()) {
        record_.request.fileMd5 = platform::DigestHex(d);
    }
}

void BatchSession::Add(const TaskResult& result, const DeviceRow* row) {
    const ReasonCode why = result.outcome.reason;
    const bool skipped = why == ReasonCode::NotStarted || why == ReasonCode::Held;
    ReportCamera camera;
    camera.mac = FieldText(result.aux);
    camera.ip = FieldText(result.ip);
    camera.ipAfter = camera.ip;
    camera.result = result.result;
    camera.skipped = skipped ? static_cast<std::int32_t>(why) : 0;
    camera.outcome = result.outcome;
    if (result.kind == TASK_MODIFY_IP || result.kind == TASK_RESTORE_IP) {
        camera.mask = TaskDispatcher::kSubnetMask;  // the gateway is not sent
        if (const auto it = planned_.find(camera.mac); it != planned_.end()) {
            if (!it->second.mask.empty()) {
                camera.mask = it->second.mask;
            }
            camera.gateway = it->second.gateway;
            camera.name = it->second.name;
        }
    }
    if (row != nullptr) {
        camera.ipBefore = row->ip;
        camera.maskBefore = row->mask;
        camera.gatewayBefore = row->gateway;
        camera.type = row->type;
        camera.hw = row->hard;
        if (camera.outcome.versionBefore.empty()) {
            camera.outcome.versionBefore = row->soft;
        }
    }
    // What the list and the log say.
    camera.status = FinishedText(result.kind, result.result, result.outcome);
    camera.outcome.proofFollows = false;
    camera.detail = DetailText(result.outcome);
    skipped_ += skipped ? 1u : 0u;
    NoteRetry(camera, result.kind);
    record_.cameras.push_back(std::move(camera));
}

void BatchSession::Prove(const TaskResult& proof) {
    const std::string mac = FieldText(proof.aux);
    for (auto it = record_.cameras.rbegin(); it != record_.cameras.rend(); ++it) {
        if (it->mac == mac) {
            const std::string before = it->outcome.versionBefore;
            it->outcome = proof.outcome;
            if (it->outcome.versionBefore.empty()) {
                it->outcome.versionBefore = before;
            }
            it->detail = DetailText(proof.outcome);
            NoteRetry(*it, proof.kind);
            return;
        }
    }
    // A proof of no recorded camera still decides its retry.
    ReportCamera camera;
    camera.mac = mac;
    camera.result = proof.result;
    camera.outcome = proof.outcome;
    NoteRetry(camera, proof.kind);
}

void BatchSession::NoteRetry(const ReportCamera& camera, std::int32_t kind) {
    if (kind != TASK_UPGRADE) {
        return;
    }
    // A camera that took the file but did not come back as it should is
    // worth another try as much as one that failed.
    if (Proven(camera)) {
        retry_.erase(camera.mac);
    } else {
        retry_.insert(camera.mac);
    }
}

void BatchSession::End(const platform::LocalTime& now) {
    running_ = false;
    record_.finished = TimeText(now);
    record_.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
}

bool BatchSession::Save(const std::string& stateDir) {
    savedPath_.clear();
    saveFailure_.clear();
    std::string why;
    if (!WriteReport(stateDir, record_, &savedPath_, &why)) {
        savedPath_.clear();
        saveFailure_ = "无法保存批次记录：" + platform::EscapeForTerminal(why);
        return false;
    }
    return true;
}

BatchSession::StopStep BatchSession::NextStop() const {
    if (!running_) {
        return StopStep::Nothing;
    }
    if (stopPresses_ == 0) {
        return StopStep::StopWaiting;
    }
    if (stopPresses_ == 1 && kind_ == TASK_UPGRADE) {
        return StopStep::AbandonTransfers;
    }
    return StopStep::Nothing;
}

}  // namespace app
