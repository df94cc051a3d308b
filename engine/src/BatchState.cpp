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

}  // namespace engine
