#pragma once

// The current batch: its settings, what each camera was judged for, how many
// of its tasks finished and failed, the proofs after reboot still to come, and
// whether it was stopped by hand or held by its failure limit or a canary,
// and which of its tasks go first as canaries. Guarded by
// the dispatcher's lock: every call is made holding it.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "DeviceJobs.h"
#include "engine/TaskDispatcher.h"

namespace engine {

class BatchState {
  public:
    // A new batch: its settings, clamped, and nothing finished or failed.
    void Begin(const BatchSettings& settings);

    int32_t Kind() const { return status_.settings.kind; }
    const BatchSettings& Settings() const { return status_.settings; }
    const BatchStatus& Status() const { return status_; }
    // What a job reads of the batch, copied when its task starts: the
    // camera's expectation comes with the task's MAC text.
    BatchFields Fields(const std::string& mac = {}) const;
    void Expect(const std::string& mac, TaskDispatcher::Expectation expected) {
        expected_[mac] = std::move(expected);
    }
    void Address(const std::string& mac, TaskDispatcher::CameraAddress address) {
        addresses_[mac] = std::move(address);
    }

    // Why a task queued now is finished without running: None while the
    // batch takes tasks, NotStarted once stopped, Held once held.
    ReasonCode Refusal() const;
    void MarkStopped() { status_.stopped = true; }

    struct Counted {
        uint32_t finished = 0;
        bool last = false;  // the batch's total is reached and no proof is awaited
        // This failure reached the failure limit: the batch is held from now on
        // and the tasks not yet started are to be finished as held.
        bool limitReached = false;
    };
    // One task finished with `result`; `skipped` names why one never ran.
    // `proofFollows`: its proof after reboot is still to come (CountProof).
    Counted Count(int result, ReasonCode skipped, bool proofFollows);
    // A proof after reboot came; true when it was the batch's last awaited.
    bool CountProof();

    // Canary first. Where a task queued now goes: the batch runs it (no canary,
    // or the canaries have passed), it is a canary, or it waits for them.
    enum class Place { Run, Canary, Wait };
    Place Queue(const std::string& mac);
    // What a canary's verdict (its result without a proof to follow, or its
    // proof) means for the tasks waiting: nothing yet, they go now, or the
    // batch is held from now on and they are to be finished as held.
    enum class Gate { None, Open, Hold };
    Gate Judge(const std::string& mac, const std::string& ip, bool good);
    // Every canary picked and proven: true once, when the waiting tasks go.
    bool Opens();

  private:
    BatchStatus status_;
    std::map<std::string, TaskDispatcher::Expectation> expected_;     // by MAC text
    std::map<std::string, TaskDispatcher::CameraAddress> addresses_;  // by MAC text
    uint32_t proofsPending_ = 0;

    // Canary first, while the gate is closed.
    bool gateOpen_ = true;
    uint32_t queued_ = 0;  // tasks queued in the batch, canaries or not
    std::set<std::string> hardwareSeen_;
    std::set<std::string> canariesPending_;  // by MAC text: not yet proven
};

}  // namespace engine
