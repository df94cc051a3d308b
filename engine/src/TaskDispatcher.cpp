#include "engine/TaskDispatcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "DeviceJobs.h"
#include "FixedText.h"
#include "nimbrel.h"
#include "platform/DynLib.h"
#include "platform/ExeDir.h"
#include "platform/Paths.h"

namespace {

// Pause after each message, as a worker always took; Stop cuts it short.
constexpr auto kPauseAfterTask = std::chrono::milliseconds(20);

struct Worker {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::unique_ptr<DeviceTask>> queue;  // WM_DEVICE_TASK messages
    bool running = false;                           // guarded by mutex
};

}  // namespace

struct TaskDispatcher::Impl {
    // The helper library and its two entries.
    platform::DynLib helperLib;
    HelperApi helper;
    bool helperGiven = false;
    std::string exeFolder;  // ends with a separator
    NetApi net;

    // Guards the batch fields, the report window, next worker, finished, the
    // upgrades waiting for a slot and the slots in use, and the posting of
    // reports. Never held while a camera is being talked to, so upgrades in
    // different slots never wait for each other.
    mutable std::mutex mutex;
    std::string defaultIp = kDefaultIp;
    int32_t kind = TASK_NONE;
    tNetFileUpdate upgradeInfo{};
    bool syncTime = false;
    int verifyTimeoutMs = 0;
    engine::VerifyTiming verifyTiming;
    ReportWindow* window = nullptr;
    int nextWorker = 0;
    uint32_t batchTotal = 0;
    uint32_t finished = 0;
    // Results posted with proofFollows whose proof has not been posted yet:
    // batch-done waits for them.
    uint32_t proofsPending = 0;
    platform::Clock clock = platform::Now;

    // Upgrades run in slots. Enqueue puts an upgrade here, in the order the
    // dialog queued it, and hands its worker a turn (an empty message); a
    // worker whose turn comes while a slot is free takes a slot and runs the
    // upgrades at the front until none is left. So no more than `parallel`
    // upgrades run at once, they start in the order queued, and a camera that
    // takes long holds up only its own slot.
    std::deque<std::unique_ptr<DeviceTask>> upgrades;
    int parallel = 1;
    int slotsInUse = 0;
    std::condition_variable slotFreed;

    // Stopping a batch, by hand or by its failure limit.
    uint32_t maxFailures = 0;
    uint32_t failures = 0;
    bool batchStopped = false;
    bool batchHeld = false;
    int probeMs = kDefaultProbeMs;
    engine::RunningSessions sessions;
    std::map<std::string, Expectation> expectations;  // by MAC text

    std::atomic<bool> running{false};
    std::atomic<bool> stopped{false};
    // Checks after reboot go on until the batch or the dispatcher is stopped:
    // a stop ends the waiting at once, not after minutes of it.
    std::atomic<bool> checking{true};
    std::array<Worker, kWorkerCount> workers;

    void Start();
    void StopAll();
    void WorkerLoop(Worker& worker);
    void RunTask(DeviceTask& task);
    // A turn for an upgrade: takes a slot when one is free and runs upgrades
    // from the front until none is waiting.
    void RunUpgradeSlot();
    engine::BatchFields BatchLocked(platform::Clock* pcClock) const;
    // Counts the task as finished and posts its result, the progress and, after
    // the batch's last task and its last proof, batch-done. With
    // outcome.proofFollows, ProofLocked must follow for the task. Caller holds `mutex`.
    void FinishLocked(const DeviceTask& task, int32_t taskKind, int result,
                      ReasonCode skipped = ReasonCode::None, CameraOutcome outcome = {});
    void Finish(const DeviceTask& task, int32_t taskKind, int result, CameraOutcome outcome = {}) {
        std::lock_guard lock(mutex);
        FinishLocked(task, taskKind, result, ReasonCode::None, std::move(outcome));
    }
    // Posts the proof after reboot of a task finished with proofFollows and,
    // when it was the last one awaited, batch-done. Caller holds `mutex`.
    void ProofLocked(const DeviceTask& task, int32_t taskKind, int result, CameraOutcome outcome);
    void Proof(const DeviceTask& task, int32_t taskKind, int result, CameraOutcome outcome) {
        std::lock_guard lock(mutex);
        ProofLocked(task, taskKind, result, std::move(outcome));
    }
    // One upgrade's check after reboot, on the calling thread. Called without `mutex`.
    void Verify(const engine::BatchFields& batch, const DeviceTask& task, CameraOutcome& outcome,
                const engine::VerifyTiming& timing) {
        outcome.proofFollows = false;
        try {
            engine::VerifyAfterReboot(
                net, batch, task, outcome, [this](const LiveState& s) { TellLive(s); }, checking,
                timing);
        } catch (const std::exception&) {
            // Nothing was learnt; the proof still goes out so that the batch can end.
        }
    }
    // A worker's live state of its camera, to the window while one is attached.
    void TellLive(const LiveState& state) {
        std::lock_guard lock(mutex);
        if (window != nullptr) {
            window->PostLiveState(state);
        }
    }
    // One upgrade from the job to the check after reboot. Called without `mutex`.
    int RunUpgrade(const engine::BatchFields& batch, const platform::Clock& pcClock,
                   DeviceTask& task, CameraOutcome& outcome, bool& verifyNext);
    // Finishes every task not yet started as never run. Caller holds `mutex`.
    void SkipWaitingLocked(ReasonCode why);
};

void TaskDispatcher::Impl::Start() {
    running = true;
    for (auto& worker : workers) {
        {
            std::lock_guard lock(worker.mutex);
            worker.running = true;
        }
        try {
            worker.thread = std::thread([this, &worker] { WorkerLoop(worker); });
        } catch (const std::system_error&) {
            // Start never fails as a whole; this worker's tasks fail instead.
            std::lock_guard lock(worker.mutex);
            worker.running = false;
        }
    }
}

void TaskDispatcher::Impl::StopAll() {
    checking = false;
    if (stopped.exchange(true)) {
        return;
    }
    {
        // The receiver may be going away with us: nothing is posted from here on.
        std::lock_guard lock(mutex);
        window = nullptr;
    }
    {
        // Under the lock, so that a worker waiting for a slot cannot miss it.
        std::lock_guard lock(mutex);
        running = false;
    }
    slotFreed.notify_all();
    for (auto& worker : workers) {
        {
            std::lock_guard lock(worker.mutex);
            worker.running = false;
        }
        worker.wake.notify_all();
    }
    for (auto& worker : workers) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
    int32_t currentKind = TASK_NONE;
    {
        std::lock_guard lock(mutex);
        currentKind = kind;
    }
    std::deque<std::unique_ptr<DeviceTask>> left;
    {
        std::lock_guard lock(mutex);
        left.swap(upgrades);
    }
    for (auto& worker : workers) {
        std::lock_guard lock(worker.mutex);
        for (auto& task : worker.queue) {
            if (task) {
                left.push_back(std::move(task));
            }
        }
        worker.queue.clear();
    }
    for (const auto& task : left) {
        Finish(*task, currentKind, 0);
    }
    helperLib.Unload();
    helper = {};
}

void TaskDispatcher::Impl::WorkerLoop(Worker& worker) {
    for (;;) {
        std::unique_ptr<DeviceTask> task;
        {
            std::unique_lock lock(worker.mutex);
            worker.wake.wait(lock, [&] { return !worker.running || !worker.queue.empty(); });
            if (!worker.running) {
                return;
            }
            task = std::move(worker.queue.front());
            worker.queue.pop_front();
        }
        if (task) {
            RunTask(*task);
            task.reset();
        } else {
            RunUpgradeSlot();
        }
        std::unique_lock lock(worker.mutex);
        worker.wake.wait_for(lock, kPauseAfterTask, [&] { return !worker.running; });
    }
}

engine::BatchFields TaskDispatcher::Impl::BatchLocked(platform::Clock* pcClock) const {
    engine::BatchFields batch;
    batch.kind = kind;
    batch.upgrade = upgradeInfo;
    batch.syncTime = syncTime;
    batch.defaultIp = defaultIp;
    batch.probeMs = probeMs;
    batch.verifyTimeoutMs = verifyTimeoutMs;
    *pcClock = clock;
    return batch;
}

void TaskDispatcher::Impl::RunTask(DeviceTask& task) {
    engine::BatchFields batch;
    platform::Clock pcClock;
    {
        std::lock_guard lock(mutex);
        batch = BatchLocked(&pcClock);
    }
    int result = 0;
    CameraOutcome outcome;
    try {
        switch (batch.kind) {
            case TASK_MODIFY_IP:
                result = engine::RunModifyIpJob(helper, task, outcome);
                break;
            case TASK_RESTORE_IP:
                result = engine::RunRestoreIpJob(helper, batch.defaultIp, task, outcome);
                break;
            case TASK_UPGRADE:
                // Queued before the batch became an upgrade batch: it still takes a slot.
                if (running) {
                    bool verify = false;
                    result = RunUpgrade(batch, pcClock, task, outcome, verify);
                    outcome.proofFollows = verify;
                }
                break;
            default:
                break;  // no job for this kind; reported as a failure
        }
    } catch (const std::exception&) {
        result = 0;
        outcome.proofFollows = false;
    }
    const bool verify = outcome.proofFollows;
    try {
        Finish(task, batch.kind, result, outcome);
    } catch (const std::exception&) {
        // A receiver that cannot take the report loses it; the worker goes on.
    }
    if (verify) {
        engine::VerifyTiming timing;
        {
            std::lock_guard lock(mutex);
            timing = verifyTiming;
        }
        Verify(batch, task, outcome, timing);
        try {
            Proof(task, batch.kind, result, std::move(outcome));
        } catch (const std::exception&) {
            // As above.
        }
    }
}

int TaskDispatcher::Impl::RunUpgrade(const engine::BatchFields& batch,
                                     const platform::Clock& pcClock, DeviceTask& task,
                                     CameraOutcome& outcome, bool& verifyNext) {
    int result = 0;
    try {
        engine::BatchFields fields = batch;
        {
            std::lock_guard lock(mutex);
            const auto it = expectations.find(std::string(task.aux, strnlen(task.aux, 32)));
            if (it != expectations.end()) {
                fields.expected = it->second;
            }
        }
        result = engine::RunUpgradeJob(
            net, fields, pcClock, task, outcome, [this](const LiveState& s) { TellLive(s); },
            &sessions);
    } catch (const std::exception&) {
        result = 0;
    }
    verifyNext = result == 1 && batch.verifyTimeoutMs > 0;
    return result;
}

void TaskDispatcher::Impl::RunUpgradeSlot() {
    std::unique_lock lock(mutex);
    slotFreed.wait(lock, [&] { return !running || upgrades.empty() || slotsInUse < parallel; });
    if (!running || upgrades.empty()) {
        return;  // another slot ran this turn's upgrade, or the batch was stopped
    }
    ++slotsInUse;
    while (running && !upgrades.empty() && slotsInUse <= parallel) {
        std::unique_ptr<DeviceTask> task = std::move(upgrades.front());
        upgrades.pop_front();
        if (upgrades.empty()) {
            slotFreed.notify_all();  // the turns still waiting have nothing to run
        }
        platform::Clock pcClock;
        engine::BatchFields batch = BatchLocked(&pcClock);
        const engine::VerifyTiming timing = verifyTiming;
        lock.unlock();
        CameraOutcome outcome;
        bool verify = false;
        const int result = RunUpgrade(batch, pcClock, *task, outcome, verify);
        outcome.proofFollows = verify;
        lock.lock();
        // The result goes out at the verdict; the proof, and so the batch's
        // end, waits for the check.
        try {
            FinishLocked(*task, batch.kind, result, ReasonCode::None, outcome);
        } catch (const std::exception&) {
            // A receiver that cannot take the report loses it; the slot goes on.
        }
        if (verify) {
            // The check after reboot gives the slot to the next camera: its
            // transfer goes on while this one reboots.
            --slotsInUse;
            slotFreed.notify_all();
            lock.unlock();
            Verify(batch, *task, outcome, timing);
            lock.lock();
            try {
                ProofLocked(*task, batch.kind, result, std::move(outcome));
            } catch (const std::exception&) {
                // As above.
            }
        }
        if (verify) {
            // Back for another upgrade only when a slot is free again.
            slotFreed.wait(lock,
                           [&] { return !running || upgrades.empty() || slotsInUse < parallel; });
            if (!running || upgrades.empty()) {
                return;
            }
            ++slotsInUse;
        }
    }
    --slotsInUse;
    slotFreed.notify_all();
}

void TaskDispatcher::Impl::SkipWaitingLocked(ReasonCode why) {
    std::deque<std::unique_ptr<DeviceTask>> left;
    left.swap(upgrades);
    // IP jobs wait in their workers' queues.
    for (auto& worker : workers) {
        std::lock_guard workerLock(worker.mutex);
        for (auto it = worker.queue.begin(); it != worker.queue.end();) {
            if (*it) {
                left.push_back(std::move(*it));
                it = worker.queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    slotFreed.notify_all();
    for (const auto& task : left) {
        FinishLocked(*task, kind, 0, why);
    }
}

void TaskDispatcher::Impl::FinishLocked(const DeviceTask& task, int32_t taskKind, int result,
                                        ReasonCode skipped, CameraOutcome outcome) {
    ++finished;
    if (skipped == ReasonCode::None && outcome.proofFollows) {
        ++proofsPending;
    }
    const bool failed = result == 0 && skipped == ReasonCode::None;
    failures += failed ? 1 : 0;
    const bool limitReached =
        failed && maxFailures > 0 && failures >= maxFailures && !batchHeld && !batchStopped;
    if (window != nullptr) {
        auto report = std::make_unique<TaskResult>();
        engine::CopyFixedText(report->ip, task.ip);
        engine::CopyFixedText(report->aux, task.aux);
        report->kind = taskKind;
        report->result = result;
        report->reserved = -1;
        if (skipped != ReasonCode::None) {
            outcome = {};
            outcome.reason = skipped;  // no job ran: the result stays None
        }
        report->outcome = std::move(outcome);
        window->PostTaskResult(std::move(report));
        window->PostTaskProgress(finished);
        if (finished == batchTotal && proofsPending == 0) {
            window->PostBatchDone(kind);
        }
    }
    if (limitReached) {
        // After this camera's own reports, so that the held ones follow it.
        batchHeld = true;
        SkipWaitingLocked(ReasonCode::Held);
    }
}

void TaskDispatcher::Impl::ProofLocked(const DeviceTask& task, int32_t taskKind, int result,
                                       CameraOutcome outcome) {
    if (proofsPending > 0) {
        --proofsPending;
    }
    if (window != nullptr) {
        auto proof = std::make_unique<TaskResult>();
        engine::CopyFixedText(proof->ip, task.ip);
        engine::CopyFixedText(proof->aux, task.aux);
        proof->kind = taskKind;
        proof->result = result;
        proof->reserved = -1;
        outcome.proofFollows = false;
        proof->outcome = std::move(outcome);
        window->PostTaskProof(std::move(proof));
        if (finished == batchTotal && proofsPending == 0) {
            window->PostBatchDone(kind);
        }
    }
}

TaskDispatcher::TaskDispatcher(NetApi net, std::string exeDir) : impl_(std::make_unique<Impl>()) {
    impl_->net = net;
    if (exeDir.empty()) {
        exeDir = platform::ExeDir();
    }
    exeDir = platform::JoinPath(exeDir.empty() ? "." : exeDir, "");
    impl_->exeFolder = exeDir;
    impl_->helperLib = platform::DynLib(exeDir + NIMBREL_LIBRARY_NAME);
    if (impl_->helperLib.Loaded()) {
        impl_->helper.ModifyDevIp =
            reinterpret_cast<ModifyDevIpFn>(impl_->helperLib.Symbol(NIMBREL_MODIFY_DEV_IP));
        impl_->helper.GetDevList =
            reinterpret_cast<GetDevListFn>(impl_->helperLib.Symbol(NIMBREL_GET_DEV_LIST));
    }
    impl_->Start();
}

TaskDispatcher::TaskDispatcher(NetApi net, HelperApi helper) : impl_(std::make_unique<Impl>()) {
    impl_->net = net;
    impl_->helper = helper;
    impl_->helperGiven = true;
    std::string exeDir = platform::ExeDir();
    exeDir = platform::JoinPath(exeDir.empty() ? "." : exeDir, "");
    impl_->exeFolder = exeDir;
    impl_->Start();
}

TaskDispatcher::~TaskDispatcher() {
    Stop();
}

void TaskDispatcher::Stop() {
    impl_->StopAll();
}

void TaskDispatcher::SetReportWindow(ReportWindow* window) {
    std::lock_guard lock(impl_->mutex);
    impl_->window = window;
}

void TaskDispatcher::BeginBatch(TaskKind kind, uint32_t total) {
    std::lock_guard lock(impl_->mutex);
    impl_->kind = kind;
    impl_->batchTotal = total;
    impl_->finished = 0;
    impl_->proofsPending = 0;
    impl_->failures = 0;
    impl_->batchStopped = false;
    impl_->batchHeld = false;
    impl_->checking = !impl_->stopped;
    impl_->sessions.Reset();
    impl_->expectations.clear();
}

void TaskDispatcher::ExpectCamera(const std::string& mac, Expectation expected) {
    std::lock_guard lock(impl_->mutex);
    impl_->expectations[mac] = std::move(expected);
}

void TaskDispatcher::SetParallel(int count) {
    std::lock_guard lock(impl_->mutex);
    impl_->parallel = std::clamp(count, 1, kMaxParallel);
    impl_->slotFreed.notify_all();
}

int TaskDispatcher::Parallel() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->parallel;
}

void TaskDispatcher::SetMaxFailures(uint32_t count) {
    std::lock_guard lock(impl_->mutex);
    impl_->maxFailures = count;
}

uint32_t TaskDispatcher::MaxFailures() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->maxFailures;
}

void TaskDispatcher::SetProbeTimeout(int ms) {
    std::lock_guard lock(impl_->mutex);
    impl_->probeMs = std::clamp(ms, 0, kMaxProbeMs);
}

int TaskDispatcher::ProbeTimeout() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->probeMs;
}

void TaskDispatcher::StopBatch(bool abandon) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->batchStopped = true;
        impl_->checking = false;
        impl_->SkipWaitingLocked(ReasonCode::NotStarted);
    }
    if (abandon) {
        impl_->sessions.Abandon(impl_->net);
    }
}

bool TaskDispatcher::BatchStopped() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->batchStopped;
}

bool TaskDispatcher::BatchHeld() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->batchHeld;
}

uint32_t TaskDispatcher::Failures() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->failures;
}

void TaskDispatcher::SetUpgradeInfo(const tNetFileUpdate& info) {
    std::lock_guard lock(impl_->mutex);
    impl_->upgradeInfo = info;
}

void TaskDispatcher::SetSyncTime(bool sync) {
    std::lock_guard lock(impl_->mutex);
    impl_->syncTime = sync;
}

void TaskDispatcher::SetVerifyTimeout(int ms) {
    std::lock_guard lock(impl_->mutex);
    impl_->verifyTimeoutMs = ms < 0 ? 0 : ms;
}

int TaskDispatcher::VerifyTimeout() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->verifyTimeoutMs;
}

void TaskDispatcher::SetVerifyTiming(int probeTimeoutMs, int pauseMs, int searchEveryRounds,
                                     int unchangedGraceMs) {
    std::lock_guard lock(impl_->mutex);
    impl_->verifyTiming = {probeTimeoutMs, pauseMs, searchEveryRounds, unchangedGraceMs};
}

void TaskDispatcher::SetDefaultIp(const std::string& ip) {
    std::lock_guard lock(impl_->mutex);
    impl_->defaultIp = ip;
}

std::string TaskDispatcher::DefaultIp() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->defaultIp;
}

void TaskDispatcher::Enqueue(const char* ip, const char* aux, const char* path) {
    DeviceTask local{};
    engine::CopyFixedText(local.ip, ip);
    engine::CopyFixedText(local.aux, aux);
    engine::CopyFixedText(local.path, path);

    std::lock_guard lock(impl_->mutex);
    Worker& worker = impl_->workers[static_cast<size_t>(impl_->nextWorker)];
    impl_->nextWorker = (impl_->nextWorker + 1) % kWorkerCount;
    if (impl_->batchStopped || impl_->batchHeld) {
        // Queued after the stop: its turn never comes.
        impl_->FinishLocked(local, impl_->kind, 0,
                            impl_->batchHeld ? ReasonCode::Held : ReasonCode::NotStarted);
        return;
    }
    const bool upgrade = impl_->kind == TASK_UPGRADE;
    bool handed = false;
    try {
        auto task = std::make_unique<DeviceTask>(local);
        std::lock_guard workerLock(worker.mutex);
        if (worker.running) {
            if (upgrade) {
                impl_->upgrades.push_back(std::move(task));
                try {
                    worker.queue.push_back(nullptr);  // the upgrade's turn
                } catch (const std::bad_alloc&) {
                    impl_->upgrades.pop_back();
                    throw;
                }
            } else {
                worker.queue.push_back(std::move(task));
            }
            handed = true;
        }
    } catch (const std::bad_alloc&) {
        handed = false;
    }
    if (handed) {
        worker.wake.notify_one();
    } else {
        // Otherwise the batch would never reach its total.
        impl_->FinishLocked(local, impl_->kind, 0);
    }
}

bool TaskDispatcher::HelperLoaded() const {
    return impl_->helperLib.Loaded() ||
           (impl_->helperGiven && impl_->helper.ModifyDevIp != nullptr);
}

HelperApi TaskDispatcher::Helper() const {
    return impl_->helper;
}

void TaskDispatcher::SetClock(platform::Clock clock) {
    std::lock_guard lock(impl_->mutex);
    impl_->clock = clock ? std::move(clock) : platform::Clock(platform::Now);
}

std::string TaskDispatcher::ExeFolder() const {
    return impl_->exeFolder;
}

TaskKind TaskDispatcher::Kind() const {
    std::lock_guard lock(impl_->mutex);
    return static_cast<TaskKind>(impl_->kind);
}

uint32_t TaskDispatcher::BatchTotal() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->batchTotal;
}

uint32_t TaskDispatcher::Finished() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->finished;
}

bool TaskDispatcher::SyncTime() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->syncTime;
}

tNetFileUpdate TaskDispatcher::UpgradeInfo() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->upgradeInfo;
}

int TaskDispatcher::NextWorker() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->nextWorker;
}

int TaskDispatcher::RunningWorkers() const {
    int count = 0;
    for (auto& worker : impl_->workers) {
        std::lock_guard lock(worker.mutex);
        count += worker.running ? 1 : 0;
    }
    return count;
}
