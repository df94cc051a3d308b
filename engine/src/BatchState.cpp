#include "BatchState.h"

#include <algorithm>

namespace engine {

void BatchState::Begin(const BatchSettings& settings) {
    status_ = {};
    expected_.clear();
    addresses_.clear();
    proofsPending_ = 0;
    status_.settings = settings;
    BatchSettings& s = status_.settings;
    s.parallel = std::clamp(s.parallel, 1, TaskDispatcher::kMaxParallel);
    s.probeMs = std::clamp(s.probeMs, 0, TaskDispatcher::kMaxProbeMs);
    s.verifyTimeoutMs = std::max(s.verifyTimeoutMs, 0);
    // Only an upgrade has a canary: an IP batch proves nothing about a file.
    if (s.kind != TASK_UPGRADE) {
        s.canary = {};
    }
    s.canary.count = std::min(s.canary.count, Canary::kMaxCount);
    gateOpen_ = !s.canary.On() || s.total == 0;
    queued_ = 0;
    hardwareSeen_.clear();
    canariesPending_.clear();
}

BatchFields BatchState::Fields(const std::string& mac) const {
    const BatchSettings& s = status_.settings;
    BatchFields batch;
    batch.kind = s.kind;
    batch.upgrade = s.upgrade;
    batch.syncTime = s.syncTime;
    batch.defaultIp = s.defaultIp;
    batch.probeMs = s.probeMs;
    batch.verifyTimeoutMs = s.verifyTimeoutMs;
    if (const auto it = expected_.find(mac); it != expected_.end()) {
        batch.expected = it->second;
    }
    if (const auto it = addresses_.find(mac); it != addresses_.end()) {
        batch.address = it->second;
    }
    return batch;
}

ReasonCode BatchState::Refusal() const {
    return status_.held      ? ReasonCode::Held
           : status_.stopped ? ReasonCode::NotStarted
                             : ReasonCode::None;
}

BatchState::Counted BatchState::Count(int result, ReasonCode skipped, bool proofFollows) {
    Counted counted;
    counted.finished = ++status_.finished;
    proofsPending_ += skipped == ReasonCode::None && proofFollows ? 1 : 0;
    counted.last = status_.finished == status_.settings.total && proofsPending_ == 0;
    const bool failed = result == 0 && skipped == ReasonCode::None;
    status_.failures += failed ? 1 : 0;
    const uint32_t limit = status_.settings.maxFailures;
    counted.limitReached =
        failed && limit > 0 && status_.failures >= limit && !status_.held && !status_.stopped;
    status_.held = status_.held || counted.limitReached;
    return counted;
}

bool BatchState::CountProof() {
    if (proofsPending_ > 0) {
        --proofsPending_;
    }
    return status_.finished == status_.settings.total && proofsPending_ == 0;
}

BatchState::Place BatchState::Queue(const std::string& mac) {
    ++queued_;
    if (gateOpen_) {
        return Place::Run;
    }
    const Canary& canary = status_.settings.canary;
    bool first = false;
    if (canary.perHardware) {
        const auto it = expected_.find(mac);
        first = hardwareSeen_.insert(it != expected_.end() ? it->second.hw : std::string()).second;
    } else {
        first = status_.canaries < std::min(canary.count, status_.settings.total);
    }
    if (!first) {
        return Place::Wait;
    }
    ++status_.canaries;
    canariesPending_.insert(mac);
    return Place::Canary;
}

BatchState::Gate BatchState::Judge(const std::string& mac, const std::string& ip, bool good) {
    if (gateOpen_ || canariesPending_.erase(mac) == 0) {
        return Gate::None;  // not a canary, or the gate has gone already
    }
    if (status_.held || status_.stopped) {
        return Gate::None;  // the waiting tasks were finished already
    }
    if (!good) {
        status_.held = true;
        status_.heldByCanary = true;
        status_.canaryIp = ip;
        status_.canaryMac = mac;
        return Gate::Hold;
    }
    return Opens() ? Gate::Open : Gate::None;
}

bool BatchState::Opens() {
    if (gateOpen_ || !canariesPending_.empty() || status_.held || status_.stopped) {
        return false;
    }
    // Per hardware version, a camera queued later may still be a canary.
    const BatchSettings& s = status_.settings;
    const bool allPicked = s.canary.perHardware
                               ? queued_ >= s.total
                               : status_.canaries >= std::min(s.canary.count, s.total);
    if (!allPicked) {
        return false;
    }
    gateOpen_ = true;
    status_.canaryPassed = true;
    return true;
}

}  // namespace engine
