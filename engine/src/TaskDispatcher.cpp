#include "engine/TaskDispatcher.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "BatchState.h"
#include "DeviceJobs.h"
#include "FixedText.h"
#include "UpgradeSlots.h"
#include "WorkerPool.h"

namespace {

// What a job is given of its batch, copied under the lock when its task starts.
struct JobInput {
    engine::BatchFields fields;
    platform::Clock clock;
    engine::VerifyTiming timing;
};

// A task's record for the window: its texts after the job and how it went.
std::unique_ptr<TaskResult> MakeReport(const DeviceTask& task, int32_t kind, int result,
                                       CameraOutcome outcome) {
    auto report = std::make_unique<TaskResult>();
    engine::CopyFixedText(report->ip, task.ip);
    engine::CopyFixedText(report->aux, task.aux);
    report->kind = kind;
    report->result = result;
    report->reserved = -1;
    report->outcome = std::move(outcome);
    return report;
}

std::string TextOf(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

}  // namespace

struct TaskDispatcher::Impl {
    Impl(NetApi n, std::string folder) : net(n), helper(std::move(folder)) {}
    Impl(NetApi n, HelperApi given) : net(n), helper(given) {}

    NetApi net;
    engine::HelperLibrary helper;

    // Guards the batch, the upgrade slots, the report window and the posting
    // of reports. Never held while a camera is being talked to, so upgrades in
    // different slots never wait for each other. Taken before a worker's own
    // lock, never after it.
    mutable std::mutex mutex;
    engine::BatchState batch;
    engine::UpgradeSlots slots;
    // Canary first: the upgrades queued while the canaries are not yet
    // proven, each with the worker its turn goes to, in the order queued.
    std::deque<std::pair<int, std::unique_ptr<DeviceTask>>> afterCanaries;
    ReportWindow* window = nullptr;

    engine::RunningSessions sessions;
    std::atomic<bool> stopped{false};
    // Checks after reboot go on until the batch or the dispatcher is stopped:
    // a stop ends the waiting at once, not after minutes of it.
    std::atomic<bool> checking{true};
    engine::WorkerPool pool;  // last: its threads end before the rest goes

    void Start() {
        pool.Start([this](engine::WorkerPool::Message message) {
            if (message) {
                RunTask(*message);
            } else {
                RunUpgradeSlot();
            }
        });
    }
    void StopAll();
    JobInput InputLocked(const DeviceTask& task) const {
        return {batch.Fields(TextOf(task.aux, sizeof(task.aux))), batch.Settings().clock,
                batch.Settings().verifyTiming};
    }
    void RunTask(DeviceTask& task);
    // A turn for an upgrade: takes a slot when one is free and runs upgrades
    // from the front until none is waiting.
    void RunUpgradeSlot();
    // One upgrade from the job to its result and, when the camera took the
    // file, on through the check after reboot to its proof. Called without
    // `mutex`; `freeSlot` is called, without it too, when the check begins.
    void UpgradeAndReport(const JobInput& in, DeviceTask& task,
                          const std::function<void()>& freeSlot);
    // A camera's result at its word and, when `check` is given, its proof once
    // `check` has looked: both are always posted, so that the batch can end.
    // Called without `mutex`.
    void ReportAndProve(const JobInput& in, DeviceTask& task, int result, CameraOutcome outcome,
                        const std::function<void(CameraOutcome&)>& check);
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
    // A worker's live state of its camera, to the window while one is attached.
    void TellLive(const LiveState& state) {
        std::lock_guard lock(mutex);
        if (window != nullptr) {
            window->PostLiveState(state);
        }
    }
    // Finishes every task not yet started as never run. Caller holds `mutex`.
    void SkipWaitingLocked(ReasonCode why);
    // Puts an upgrade into the slots and gives `worker` its turn; one that
    // cannot be handed over is finished as failed. Caller holds `mutex`.
    void HandUpgradeLocked(int worker, std::unique_ptr<DeviceTask> task);
    // What a canary's verdict decided: the tasks after the canaries go to the
    // slots, or are held. Caller holds `mutex`.
    void ActLocked(engine::BatchState::Gate gate);
};

void TaskDispatcher::Impl::StopAll() {
    checking = false;
    if (stopped.exchange(true)) {
        return;
    }
    {
        // The receiver may be going away with us: nothing is posted from here
        // on. Under the lock, so that a worker waiting for a slot cannot miss it.
        std::lock_guard lock(mutex);
        window = nullptr;
        slots.Close();
    }
    pool.Stop();
    int32_t kind = TASK_NONE;
    std::deque<std::unique_ptr<DeviceTask>> left;
    {
        std::lock_guard lock(mutex);
        kind = batch.Kind();
        left = slots.TakeWaiting();
        for (auto& waiting : afterCanaries) {
            left.push_back(std::move(waiting.second));
        }
        afterCanaries.clear();
    }
    for (auto& task : pool.TakeTasks()) {
        left.push_back(std::move(task));
    }
    for (const auto& task : left) {
        Finish(*task, kind, 0);
    }
    helper.Unload();
}

void TaskDispatcher::Impl::RunTask(DeviceTask& task) {
    JobInput in;
    bool closed = false;
    {
        std::lock_guard lock(mutex);
        in = InputLocked(task);
        closed = slots.Closed();
    }
    if (in.fields.kind == TASK_UPGRADE && !closed) {
        // Queued before the batch became an upgrade batch: it runs on its own
        // worker, outside the slots.
        UpgradeAndReport(in, task, [] {});
        return;
    }
    int result = 0;
    CameraOutcome outcome;
    try {
        switch (in.fields.kind) {
            case TASK_MODIFY_IP:
                result = engine::RunModifyIpJob(helper.Api(), task, outcome, in.fields.address);
                break;
            case TASK_RESTORE_IP:
                result = engine::RunRestoreIpJob(helper.Api(), in.fields.defaultIp, task, outcome);
                break;
            default:
                break;  // no job for this kind (or a stop came first): reported as a failure
        }
    } catch (const std::exception&) {
        result = 0;
    }
    // As after an upgrade: the result at the camera's word, the proof (and
    // so the batch's end) once it has been looked for at its new address.
    const bool check = result == 1 && in.fields.verifyTimeoutMs > 0 &&
                       (net.ProbeDevice != nullptr || net.FindDevice != nullptr);
    ReportAndProve(in, task, result, std::move(outcome),
                   check ? std::function<void(CameraOutcome&)>([&](CameraOutcome& o) {
                       engine::VerifyAtNewAddress(net, in.fields, task, o, checking, in.timing);
                   })
                         : nullptr);
}

void TaskDispatcher::Impl::ReportAndProve(const JobInput& in, DeviceTask& task, int result,
                                          CameraOutcome outcome,
                                          const std::function<void(CameraOutcome&)>& check) {
    outcome.proofFollows = static_cast<bool>(check);
    try {
        Finish(task, in.fields.kind, result, outcome);
    } catch (const std::exception&) {
        // A receiver that cannot take the report loses it; the worker goes on.
    }
    if (!check) {
        return;
    }
    outcome.proofFollows = false;
    try {
        check(outcome);
    } catch (const std::exception&) {
        // Nothing was learnt; the proof still goes out so that the batch can end.
    }
    try {
        Proof(task, in.fields.kind, result, std::move(outcome));
    } catch (const std::exception&) {
        // As above.
    }
}

void TaskDispatcher::Impl::UpgradeAndReport(const JobInput& in, DeviceTask& task,
                                            const std::function<void()>& freeSlot) {
    const engine::LiveFn live = [this](const LiveState& s) { TellLive(s); };
    CameraOutcome outcome;
    int result = 0;
    try {
        result = engine::RunUpgradeJob(net, in.fields, in.clock, task, outcome, live, &sessions);
    } catch (const std::exception&) {
        result = 0;
    }
    // The result goes out at the verdict; the proof, and so the batch's end,
    // waits for the check after reboot.
    const bool check = result == 1 && in.fields.verifyTimeoutMs > 0;
    ReportAndProve(in, task, result, std::move(outcome),
                   check ? std::function<void(CameraOutcome&)>([&](CameraOutcome& o) {
                       // The check gives the slot to the next camera: its
                       // transfer goes on while this one reboots.
                       freeSlot();
                       engine::VerifyAfterReboot(net, in.fields, task, o, live, checking,
                                                 in.timing);
                   })
                         : nullptr);
}

void TaskDispatcher::Impl::RunUpgradeSlot() {
    std::unique_lock lock(mutex);
    if (!slots.Acquire(lock)) {
        return;
    }
    while (std::unique_ptr<DeviceTask> task = slots.Next()) {
        const JobInput in = InputLocked(*task);
        lock.unlock();
        bool slotFreed = false;
        UpgradeAndReport(in, *task, [&] {
            std::lock_guard relock(mutex);
            slots.Release();
            slotFreed = true;
        });
        lock.lock();
        // Back for another upgrade only when a slot is free again.
        if (slotFreed && !slots.Acquire(lock)) {
            return;
        }
    }
    slots.Release();
}

void TaskDispatcher::Impl::SkipWaitingLocked(ReasonCode why) {
    std::deque<std::unique_ptr<DeviceTask>> left = slots.TakeWaiting();
    for (auto& waiting : afterCanaries) {
        left.push_back(std::move(waiting.second));
    }
    afterCanaries.clear();
    // IP jobs wait in their workers' queues.
    for (auto& task : pool.TakeTasks()) {
        left.push_back(std::move(task));
    }
    for (const auto& task : left) {
        FinishLocked(*task, batch.Kind(), 0, why);
    }
}

void TaskDispatcher::Impl::HandUpgradeLocked(int worker, std::unique_ptr<DeviceTask> task) {
    const DeviceTask local = *task;
    bool handed = false;
    try {
        slots.Push(std::move(task));
        engine::WorkerPool::Message turn;  // the upgrade's turn
        handed = pool.Post(worker, turn);
        if (!handed) {
            slots.DropLast();
        }
    } catch (const std::bad_alloc&) {
        handed = false;
    }
    if (!handed) {
        // Otherwise the batch would never reach its total.
        FinishLocked(local, batch.Kind(), 0);
    }
}

void TaskDispatcher::Impl::ActLocked(engine::BatchState::Gate gate) {
    using Gate = engine::BatchState::Gate;
    if (gate == Gate::Hold) {
        SkipWaitingLocked(ReasonCode::Held);
    } else if (gate == Gate::Open) {
        std::deque<std::pair<int, std::unique_ptr<DeviceTask>>> go;
        go.swap(afterCanaries);
        for (auto& [worker, task] : go) {
            // One that could not be handed over may have reached the failure limit.
            if (const ReasonCode why = batch.Refusal(); why != ReasonCode::None) {
                FinishLocked(*task, batch.Kind(), 0, why);
            } else {
                HandUpgradeLocked(worker, std::move(task));
            }
        }
    }
}

void TaskDispatcher::Impl::FinishLocked(const DeviceTask& task, int32_t taskKind, int result,
                                        ReasonCode skipped, CameraOutcome outcome) {
    const engine::BatchState::Counted counted = batch.Count(result, skipped, outcome.proofFollows);
    // A canary without a proof to come is judged by its result.
    const engine::BatchState::Gate gate =
        skipped == ReasonCode::None && !outcome.proofFollows
            ? batch.Judge(TextOf(task.aux, sizeof(task.aux)), TextOf(task.ip, sizeof(task.ip)),
                          result == 1)
            : engine::BatchState::Gate::None;
    if (window != nullptr) {
        if (skipped != ReasonCode::None) {
            outcome = {};
            outcome.reason = skipped;  // no job ran: the result stays None
        }
        window->PostTaskResult(MakeReport(task, taskKind, result, std::move(outcome)));
        window->PostTaskProgress(counted.finished);
        if (counted.last) {
            window->PostBatchDone(batch.Kind());
        }
    }
    if (counted.limitReached) {
        // After this camera's own reports, so that the held ones follow it.
        SkipWaitingLocked(ReasonCode::Held);
    } else {
        ActLocked(gate);
    }
}

void TaskDispatcher::Impl::ProofLocked(const DeviceTask& task, int32_t taskKind, int result,
                                       CameraOutcome outcome) {
    const bool last = batch.CountProof();
    // A canary is proven when it came back with a new version (or, as for
    // the batch's record, when no check could be made: the verdict decides).
    const VerifyResult seen = outcome.verify;
    const engine::BatchState::Gate gate = batch.Judge(
        TextOf(task.aux, sizeof(task.aux)), TextOf(task.ip, sizeof(task.ip)),
        result == 1 && (seen == VerifyResult::NewVersion || seen == VerifyResult::NamedVersion ||
                        seen == VerifyResult::NotChecked));
    if (window != nullptr) {
        outcome.proofFollows = false;
        window->PostTaskProof(MakeReport(task, taskKind, result, std::move(outcome)));
        if (last) {
            window->PostBatchDone(batch.Kind());
        }
    }
    // After the canary's own proof, so that the cameras it lets go or holds follow it.
    ActLocked(gate);
}

TaskDispatcher::TaskDispatcher(NetApi net, std::string exeDir)
    : impl_(std::make_unique<Impl>(net, std::move(exeDir))) {
    impl_->Start();
}

TaskDispatcher::TaskDispatcher(NetApi net, HelperApi helper)
    : impl_(std::make_unique<Impl>(net, helper)) {
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

void TaskDispatcher::BeginBatch(const BatchSettings& settings) {
    std::lock_guard lock(impl_->mutex);
    impl_->batch.Begin(settings);
    impl_->slots.SetParallel(impl_->batch.Settings().parallel);
    impl_->checking = !impl_->stopped;
    impl_->sessions.Reset();
}

void TaskDispatcher::ExpectCamera(const std::string& mac, Expectation expected) {
    std::lock_guard lock(impl_->mutex);
    impl_->batch.Expect(mac, std::move(expected));
}

void TaskDispatcher::AddressCamera(const std::string& mac, CameraAddress address) {
    std::lock_guard lock(impl_->mutex);
    impl_->batch.Address(mac, std::move(address));
}

void TaskDispatcher::Enqueue(const char* ip, const char* aux, const char* path) {
    DeviceTask local{};
    engine::CopyFixedText(local.ip, ip);
    engine::CopyFixedText(local.aux, aux);
    engine::CopyFixedText(local.path, path);

    std::lock_guard lock(impl_->mutex);
    const int worker = impl_->pool.TakeTurn();
    const int32_t kind = impl_->batch.Kind();
    if (const ReasonCode why = impl_->batch.Refusal(); why != ReasonCode::None) {
        // Queued after the stop: its turn never comes.
        impl_->FinishLocked(local, kind, 0, why);
        return;
    }
    bool handed = false;
    try {
        auto task = std::make_unique<DeviceTask>(local);
        if (kind == TASK_UPGRADE) {
            using Place = engine::BatchState::Place;
            if (impl_->batch.Queue(TextOf(local.aux, sizeof(local.aux))) == Place::Wait) {
                impl_->afterCanaries.emplace_back(worker, std::move(task));
            } else {
                impl_->HandUpgradeLocked(worker, std::move(task));
            }
            // The last one queued may be what the canaries were waiting for.
            if (impl_->batch.Opens()) {
                impl_->ActLocked(engine::BatchState::Gate::Open);
            }
            return;
        }
        handed = impl_->pool.Post(worker, task);
    } catch (const std::bad_alloc&) {
        handed = false;
    }
    if (!handed) {
        // Otherwise the batch would never reach its total.
        impl_->FinishLocked(local, kind, 0);
    }
}

void TaskDispatcher::StopBatch(bool abandon) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->batch.MarkStopped();
        impl_->checking = false;
        impl_->SkipWaitingLocked(ReasonCode::NotStarted);
    }
    if (abandon) {
        impl_->sessions.Abandon(impl_->net);
    }
}

BatchStatus TaskDispatcher::Batch() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->batch.Status();
}

const engine::HelperLibrary& TaskDispatcher::Helper() const {
    return impl_->helper;
}

int TaskDispatcher::NextWorker() const {
    return impl_->pool.NextWorker();
}

int TaskDispatcher::RunningWorkers() const {
    return impl_->pool.Running();
}
