#pragma once

// The three device jobs. Each makes one attempt and answers 1 for success and
// 0 for failure, and fills the camera's outcome; the caller reports both. They
// take no lock of the dispatcher's.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
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

class LiveTeller;

// "02:51:56:00:00:01": a MAC as the tasks carry it.
std::string MacText(const uint8_t (&mac)[6]);

// One upgraded camera's check after reboot, fed what each round saw of it, so
// that one watcher can look for many cameras at once. Holds no lock; the
// outcome, the live function and the timing must outlive it.
class RebootCheck {
  public:
    // Done() at once when there is nothing to check: not upgraded, no wait,
    // no way to look.
    RebootCheck(const NetApi& net, const BatchFields& batch, const DeviceTask& task,
                CameraOutcome& out, const LiveFn& live, const VerifyTiming& timing);
    ~RebootCheck();
    RebootCheck(const RebootCheck&) = delete;
    RebootCheck& operator=(const RebootCheck&) = delete;

    bool Done() const { return done_; }
    const std::string& Ip() const { return ip_; }
    const std::string& Mac() const { return mac_; }
    std::chrono::steady_clock::time_point Deadline() const { return deadline_; }
    // One round: what answered at its address or to its MAC, null when
    // nothing did. Settles the outcome when that proves something or when
    // the wait is over.
    void Seen(const tNetDeviceInfo* info);
    void Stop();  // settles as stopped, unless settled already

  private:
    void Settle(VerifyResult v);
    void SettleNew(const std::string& now);
    void End();

    CameraOutcome& out_;
    VerifyTiming timing_;
    std::unique_ptr<LiveTeller> teller_;
    std::string ip_;
    std::string mac_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point deadline_;
    bool done_ = false;
    bool beforeKnown_ = false;
    bool seenGone_ = false;
    int round_ = 0;
    std::string lastOld_;         // the old version, answered before the grace ran out
    bool answeredBlank_ = false;  // answered, but with no readable version
    std::string lastOther_;
    std::string lastUnknown_;  // a version while the old one is unknown, before the grace
};

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
