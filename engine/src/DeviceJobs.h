#pragma once

// The three device jobs. Each makes one attempt and answers 1 for success and
// 0 for failure, and fills the camera's outcome; the caller reports both. They
// take no lock of the dispatcher's.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "engine/TaskDispatcher.h"
#include "platform/LocalTime.h"

namespace engine {

// The batch fields a job reads, copied when the task starts.
struct BatchFields {
    int32_t kind = TASK_NONE;
    tNetFileUpdate upgrade{};
    bool syncTime = false;
    std::string defaultIp;
    // The wait for an upgraded camera to come back, or for a re-addressed one
    // to answer at its new address; 0: no check.
    int verifyTimeoutMs = 0;
    int probeMs = 0;  // bare connect before the specified one; 0: none
    // What this camera was judged for (set per task); empty texts are not compared.
    TaskDispatcher::Expectation expected;
    // An IP change's mask and gateway for this camera (set per task).
    std::optional<TaskDispatcher::CameraAddress> address;
};

// Where a job tells the live state of its camera; may be empty.
using LiveFn = std::function<void(const LiveState&)>;

// The camera sessions of the upgrades in progress, so that a stop can cut them.
class RunningSessions {
  public:
    // False once Abandon has been called for this batch: the job gives up.
    bool Add(int handle);
    void Remove(int handle);
    // Cuts every session in progress and refuses those still to come.
    void Abandon(const NetApi& net);
    void Reset();  // a new batch

  private:
    std::mutex mutex_;  // also held while a session is cut, so its handle stays valid
    std::set<int> handles_;
    bool abandoned_ = false;
};

// Add, (probe,) connect, optionally set the clock, send the file, disconnect,
// delete. `sessions` may be null.
int RunUpgradeJob(const NetApi& net, const BatchFields& batch, const platform::Clock& clock,
                  DeviceTask& task, CameraOutcome& outcome, const LiveFn& live = {},
                  RunningSessions* sessions = nullptr);

// After an upgrade the camera took: waits for it to answer again (by MAC, at
// its address, then by a search) and records what version it came back with.
// An empty or unreadable version proves nothing (VerifyResult::NoVersion).
// Holds no lock; `checking` false ends the wait early, recorded as stopped.
void VerifyAfterReboot(const NetApi& net, const BatchFields& batch, const DeviceTask& task,
                       CameraOutcome& outcome, const LiveFn& live,
                       const std::atomic<bool>& checking, const VerifyTiming& timing = {});

// After an IP change the camera confirmed: looks for it by MAC at task.ip, a
// directed probe, then a search, within batch.verifyTimeoutMs. Another MAC at
// the address is remembered but not final: the camera may still turn up there.
void VerifyAtNewAddress(const NetApi& net, const BatchFields& batch, const DeviceTask& task,
                        CameraOutcome& outcome, const std::atomic<bool>& checking,
                        const VerifyTiming& timing = {});

// The camera named by task.aux takes task.ip; with `address` (a plan's),
// its mask and gateway too, as TaskDispatcher::AddressCamera says.
int RunModifyIpJob(const HelperApi& helper, DeviceTask& task, CameraOutcome& outcome,
                   const std::optional<TaskDispatcher::CameraAddress>& address = std::nullopt);

// The camera named by task.aux takes the default IP; on success task.ip says so.
int RunRestoreIpJob(const HelperApi& helper, const std::string& defaultIp, DeviceTask& task,
                    CameraOutcome& outcome);

}  // namespace engine
