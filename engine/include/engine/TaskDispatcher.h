#pragma once

// The task engine as the dialog sees it: a batch begins with its settings in
// one call, one task per camera is queued, and the workers report back through
// a ReportWindow. Behind it (engine/src) sit the worker pool, the upgrade
// slots, the batch state and the device jobs. Records cross threads inside
// messages only; whoever receives a record owns it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/CameraOutcome.h"
#include "engine/Canary.h"
#include "engine/HelperLibrary.h"
#include "korvel.h"
#include "platform/LocalTime.h"

#ifndef WM_USER  // windows.h has it already
inline constexpr unsigned WM_USER = 0x0400;
#endif
inline constexpr unsigned WM_DEVICE_TASK = WM_USER + 200;    // to a worker
inline constexpr unsigned WM_TASK_PROGRESS = WM_USER + 201;  // to the report window
inline constexpr unsigned WM_BATCH_DONE = WM_USER + 202;     // to the report window
inline constexpr unsigned WM_TASK_RESULT = WM_USER + 203;    // to the report window
// Ours: a camera's live state while a worker is on it, to the report window.
inline constexpr unsigned WM_LIVE_STATE = WM_USER + 204;
// Ours: an upgraded camera's proof after reboot, after its WM_TASK_RESULT.
inline constexpr unsigned WM_TASK_PROOF = WM_USER + 205;

enum TaskKind : int32_t {
    TASK_NONE = 0,
    TASK_MODIFY_IP = 1,
    TASK_RESTORE_IP = 2,
    TASK_UPGRADE = 3,
};

#pragma pack(push, 1)
// One camera's work. The camera library reads it too (Net_AddCamera takes the
// address text at its start), so it is a fixed record without gaps.
struct DeviceTask {
    char ip[32];
    char aux[32];  // the camera's MAC text
    char path[256];
};
#pragma pack(pop)
static_assert(sizeof(DeviceTask) == 320);
static_assert(offsetof(DeviceTask, ip) == 0);
static_assert(offsetof(DeviceTask, aux) == 32);
static_assert(offsetof(DeviceTask, path) == 64);

struct TaskResult {
    char ip[32] = {};
    char aux[32] = {};
    int32_t kind = TASK_NONE;
    int32_t result = 0;  // 1 success, 0 failure
    int32_t reserved = -1;
    // Beyond the fields above: why, what was sent, versions, times.
    CameraOutcome outcome;
};

// Where workers post their reports. Called on worker threads (and on the
// caller's thread for a task that could not be handed to a worker), never while
// a camera is being talked to, and always under the dispatcher's lock so that
// one task's reports arrive together and in order. An implementation must not
// block for long and must not call back into the dispatcher (queue the work
// onto its own thread instead). Nothing is posted once Stop() has begun.
class ReportWindow {
  public:
    virtual ~ReportWindow() = default;
    // WM_TASK_RESULT, at the camera's verdict: the receiver owns the result.
    // When outcome.proofFollows, the check after reboot is still to come.
    virtual void PostTaskResult(std::unique_ptr<TaskResult> result) = 0;
    // WM_TASK_PROGRESS: the number of finished tasks (verdicts) of the batch.
    virtual void PostTaskProgress(uint32_t finished) = 0;
    // WM_BATCH_DONE: the batch's kind; posted once, after the last result and
    // the last proof.
    virtual void PostBatchDone(int32_t kind) = 0;
    // WM_TASK_PROOF: the same camera's record again once its check after
    // reboot has ended, its outcome complete (verify, version after, times).
    // Posted exactly once after each result that said proofFollows, before
    // WM_BATCH_DONE. A window without it keeps what the verdict said.
    virtual void PostTaskProof(std::unique_ptr<TaskResult> proof) { (void)proof; }
    // Where a worker is with a camera, a few times a second at most, before
    // the camera's result. Posted from worker threads while other cameras are
    // being talked to, under the same rules. A window without it drops them.
    virtual void PostLiveState(const LiveState& state) { (void)state; }
};

// The camera library entry points the upgrade job uses; tests replace them.
// A null entry counts as a failing call.
struct NetApi {
    int (*AddCamera)(const void* camera) = nullptr;
    int (*ConnCamera)(int handle, int timeout_ms, int attempts) = nullptr;
    // A bare TCP connect within `timeout_ms`; null: no probe is made.
    int (*ProbeCamera)(int handle, int timeout_ms) = nullptr;
    // Cuts the handle's session, from any thread; null: a stop cannot abandon transfers.
    int (*AbortCamera)(int handle) = nullptr;
    int (*QueryTimeSetup)(int handle, tNetTimeSetup* time) = nullptr;
    int (*TimeSetup)(int handle, const tNetTimeSetup* time) = nullptr;
    int (*FileUpdate)(int handle, const tNetFileUpdate* update) = nullptr;
    int (*DisConnCamera)(int handle) = nullptr;
    int (*DelCamera)(int handle) = nullptr;
    // Ours beyond the specified calls; a null entry means the job goes without
    // (no live progress, a coarser reason, no proof after reboot).
    int (*SetProgressCallback)(int handle, NetProgressCallback callback, void* user) = nullptr;
    int (*GetCallDetail)(int handle, tNetCallDetail* detail) = nullptr;
    int (*ProbeDevice)(const char* ip, int timeout_ms, tNetDeviceInfo* info) = nullptr;
    int (*FindDevice)(NetFindDeviceCallback callback, void* user) = nullptr;
    // The record of the hello on the open session, to check who answered.
    // Null only in scripted libraries: who answered is then not compared.
    int (*GetHelloInfo)(int handle, tNetDeviceInfo* info) = nullptr;

    static NetApi Real();  // the Korvel functions
};

namespace engine {

// How the proof after reboot looks for the camera. The pauses are short in tests.
struct VerifyTiming {
    int probeTimeoutMs = 500;   // wait for the answer to one directed probe
    int pauseMs = 1000;         // between rounds
    int searchEveryRounds = 2;  // a search instead of a probe every n-th round
    // An answer with the old version may come from a camera that has not begun
    // to reboot yet: believed only this long after the verdict, as is an empty
    // version, or any version when the one before is unknown. An unanswered
    // probe shortens nothing (a datagram may be lost).
    int unchangedGraceMs = 20000;
};

}  // namespace engine

struct BatchSettings;
struct BatchStatus;

class TaskDispatcher {
  public:
    static constexpr int kWorkerCount = 30;
    static constexpr const char* kDefaultIp = "192.168.0.10";
    static constexpr const char* kSubnetMask = "255.255.255.0";
    // What Net_ConnCamera is given: the wait per attempt and the attempts.
    static constexpr int kConnectTimeoutMs = 30000;
    static constexpr int kConnectAttempts = 5;
    // Upgrades at once: 1 (one camera at a time) up to one per worker.
    static constexpr int kMaxParallel = kWorkerCount;
    // A LAN answers a connect within milliseconds; two seconds also cover one
    // lost SYN, which is sent again after a second.
    static constexpr int kDefaultProbeMs = 2000;
    static constexpr int kMaxProbeMs = kConnectTimeoutMs;

    // Starts at once: loads the search helper library from `exeDir` (the
    // executable's folder when empty) and starts the workers.
    explicit TaskDispatcher(NetApi net = NetApi::Real(), std::string exeDir = {});
    // Replaces the loaded helper's entries (tests).
    TaskDispatcher(NetApi net, HelperApi helper);
    ~TaskDispatcher();  // Stop()
    TaskDispatcher(const TaskDispatcher&) = delete;
    TaskDispatcher& operator=(const TaskDispatcher&) = delete;

    // Detaches the report window, wakes every worker, lets a running job end by
    // its own time-outs, joins. Upgrades still waiting for their turn are not
    // started. Tasks left in the queues are counted as failed, unreported.
    // Calling it again does nothing.
    void Stop();

    // Null detaches; reports are then dropped while tasks still run and count.
    // When it returns, no report is being posted to the window it replaced.
    void SetReportWindow(ReportWindow* window);

    // Begins a batch, on the dialog thread before its first Enqueue: every
    // batch field at once, finished = 0, nothing failed, stopped or held.
    // Fields the kind does not use keep their defaults.
    void BeginBatch(const BatchSettings& settings);

    // What an upgrade of the camera with this MAC was judged for, handed over
    // before it is queued: its hello must name this type and hardware version
    // (an empty text is not compared). Without one only the MAC is compared.
    // `checkVersion`: a camera that already runs the version the file names is
    // not sent it (the window's upgrades, unless told to send anyway). Cleared
    // by BeginBatch.
    struct Expectation {
        std::string type;
        std::string hw;
        bool checkVersion = false;
        // False: a camera that runs a newer version than the file names is not
        // sent it (ReasonCode::Newer).
        bool allowOlder = true;
    };
    void ExpectCamera(const std::string& mac, Expectation expected);

    // The mask and gateway an IP change gives the camera with this MAC (an
    // address plan), handed over before it is queued: sent by the helper's
    // ModifyDevIpEx, an empty mask as 255.255.255.0, an empty gateway kept as
    // the camera has it. A camera without one goes by the specified
    // ModifyDevIp. A helper without ModifyDevIpEx takes a plan without a
    // gateway by ModifyDevIp (the camera then chooses its gateway) and fails
    // one with a gateway (ReasonCode::NoLibrary). Cleared by BeginBatch.
    struct CameraAddress {
        std::string mask;
        std::string gateway;
    };
    void AddressCamera(const std::string& mac, CameraAddress address);

    // Copies the texts (31, 31 and 255 characters at most) into a DeviceTask
    // and hands it to the next worker in turn. Never waits for a camera. A task
    // that cannot be handed over (the dispatcher is stopped, its worker did not
    // start, memory ran out) is finished at once with result 0 and reported.
    void Enqueue(const char* ip, const char* aux, const char* path);

    // Stops the running batch: every task not yet started is finished at once
    // with result 0 and ReasonCode::NotStarted, and is never run. Jobs in progress go on,
    // unless `abandon`: then their camera sessions are cut (the camera drops a
    // partial file) and they end as failed. May be called again with abandon.
    void StopBatch(bool abandon);

    // The batch's settings as they took effect and where it stands, read at once.
    BatchStatus Batch() const;

    // The search helper library: whether it loaded, its entries, its folder
    // (the executable's folder, ending with a separator).
    const engine::HelperLibrary& Helper() const;

    // Worker (0..29) that the next Enqueue hands its task to.
    int NextWorker() const;
    // Workers whose threads are running.
    int RunningWorkers() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One batch's fields, given in one piece to BeginBatch. A worker reads them
// when it runs a task of the batch.
struct BatchSettings {
    TaskKind kind = TASK_NONE;
    uint32_t total = 0;
    // Upgrade batches: the upgrade record (its type; the path is each task's).
    tNetFileUpdate upgrade{};
    // The camera's clock is set to the PC's before the file is sent.
    bool syncTime = false;
    // Upgrades that run at once, clamped to 1..kMaxParallel. The rest wait in
    // the order they were queued; 1 keeps them one after another.
    int parallel = 1;
    // After this many failed cameras no further task of the batch is started;
    // the rest are finished as held (ReasonCode::Held). 0: no limit.
    uint32_t maxFailures = 0;
    // Before the specified connect, an upgrade first tries a bare TCP connect
    // for this long and fails the camera at once when it does not succeed.
    // 0: no probe. Clamped to 0..kMaxProbeMs.
    int probeMs = TaskDispatcher::kDefaultProbeMs;
    // How long an upgraded camera is waited for to come back with its new
    // version, or a re-addressed one to answer at its new address, after its
    // result and before its proof; 0: not checked.
    int verifyTimeoutMs = 0;
    engine::VerifyTiming verifyTiming{};  // the pace of that wait (tests shorten it)
    // The PC clock that the upgrade job copies into the camera; empty: the real one.
    platform::Clock clock{};
    // Restore batches: the address the cameras are given.
    std::string defaultIp = TaskDispatcher::kDefaultIp;
    // Upgrade batches: the cameras upgraded first (and proven after reboot,
    // when checked) before any other starts; see Canary.
    Canary canary{};
};

// Where the batch stands.
struct BatchStatus {
    BatchSettings settings;  // after clamping
    uint32_t finished = 0;
    uint32_t failures = 0;  // cameras that ran and failed
    bool stopped = false;   // stopped by hand
    bool held = false;      // stopped by its failure limit or a canary
    // Canary first: every canary was proven and the other cameras were let go.
    bool canaryPassed = false;
    uint32_t canaries = 0;  // the cameras picked as canaries so far
    // Held by a canary that failed or was not proven (else by the failure
    // limit): who it was.
    bool heldByCanary = false;
    std::string canaryIp;
    std::string canaryMac;
};
