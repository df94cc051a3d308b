#include "engine/TaskDispatcher.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
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

    // Guards the batch fields, the report window, next worker, finished and
    // the posting of reports. Never held while a camera is being talked to.
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
    platform::Clock clock = platform::Now;

    // Held for the whole of an upgrade job, so upgrades run one camera at a time
    // without holding up Enqueue or the reports of other jobs.
    std::mutex upgradeMutex;

    std::atomic<bool> running{false};
    std::atomic<bool> stopped{false};
    std::array<Worker, kWorkerCount> workers;

    void Start();
    void StopAll();
    void WorkerLoop(Worker& worker);
    void RunTask(DeviceTask& task);
    // Counts the task as finished and posts its result, the progress and, after
    // the batch's last task, batch-done. Caller holds `mutex`.
    void FinishLocked(const DeviceTask& task, int32_t taskKind, int result,
                      CameraOutcome outcome = {});
    void Finish(const DeviceTask& task, int32_t taskKind, int result, CameraOutcome outcome = {}) {
        std::lock_guard lock(mutex);
        FinishLocked(task, taskKind, result, std::move(outcome));
    }
    // A worker's live state of its camera, to the window while one is attached.
    void TellLive(const LiveState& state) {
        std::lock_guard lock(mutex);
        if (window != nullptr) {
            window->PostLiveState(state);
        }
    }
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
    if (stopped.exchange(true)) {
        return;
    }
    {
        // The receiver may be going away with us: nothing is posted from here on.
        std::lock_guard lock(mutex);
        window = nullptr;
    }
    running = false;
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
    for (auto& worker : workers) {
        std::deque<std::unique_ptr<DeviceTask>> left;
        {
            std::lock_guard lock(worker.mutex);
            left.swap(worker.queue);
        }
        for (const auto& task : left) {
            Finish(*task, currentKind, 0);
        }
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
        RunTask(*task);
        task.reset();
        std::unique_lock lock(worker.mutex);
        worker.wake.wait_for(lock, kPauseAfterTask, [&] { return !worker.running; });
    }
}

void TaskDispatcher::Impl::RunTask(DeviceTask& task) {
    engine::BatchFields batch;
    engine::VerifyTiming verify;
    platform::Clock pcClock;
    {
        std::lock_guard lock(mutex);
        batch.kind = kind;
        batch.upgrade = upgradeInfo;
        batch.syncTime = syncTime;
        batch.defaultIp = defaultIp;
        batch.verifyTimeoutMs = verifyTimeoutMs;
        verify = verifyTiming;
        pcClock = clock;
    }
    int result = 0;
    CameraOutcome outcome;
    const engine::LiveFn live = [this](const LiveState& state) { TellLive(state); };
    try {
        switch (batch.kind) {
            case TASK_MODIFY_IP:
                result = engine::RunModifyIpJob(helper, task, outcome);
                break;
            case TASK_RESTORE_IP:
                result = engine::RunRestoreIpJob(helper, batch.defaultIp, task, outcome);
                break;
            case TASK_UPGRADE: {
                {
                    std::lock_guard upgrade(upgradeMutex);
                    // An upgrade still waiting for its turn when Stop began is not started.
                    if (running) {
                        result = engine::RunUpgradeJob(net, batch, pcClock, task, outcome, live);
                    }
                }
                // The proof after reboot leaves the upgrade slot to the next camera.
                engine::VerifyAfterReboot(net, batch, task, outcome, live, running, verify);
                break;
            }
            default:
                break;  // no job for this kind; reported as a failure
        }
    } catch (const std::exception&) {
        result = 0;
    }
    try {
        Finish(task, batch.kind, result, std::move(outcome));
    } catch (const std::exception&) {
        // A receiver that cannot take the report loses it; the worker goes on.
    }
}

void TaskDispatcher::Impl::FinishLocked(const DeviceTask& task, int32_t taskKind, int result,
                                        CameraOutcome outcome) {
    ++finished;
    if (window == nullptr) {
        return;
    }
    auto report = std::make_unique<TaskResult>();
    engine::CopyFixedText(report->ip, task.ip);
    engine::CopyFixedText(report->aux, task.aux);
    report->kind = taskKind;
    report->result = result;
    report->reserved = -1;
    report->outcome = std::move(outcome);
    window->PostTaskResult(std::move(report));
    window->PostTaskProgress(finished);
    if (finished == batchTotal) {
        window->PostBatchDone(kind);
    }
}

TaskDispatcher::TaskDispatcher(NetApi net, std::string exeDir) : impl_(std::make_unique<Impl>()) {
    impl_->net = net;
    if (exeDir.empty()) {
        exeDir = platform::ExeDir();
    }
    if (exeDir.empty() || exeDir.back() != '/') {
        exeDir += '/';
    }
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
    if (exeDir.empty() || exeDir.back() != '/') {
        exeDir += '/';
    }
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
    bool handed = false;
    try {
        auto task = std::make_unique<DeviceTask>(local);
        std::lock_guard workerLock(worker.mutex);
        if (worker.running) {
            worker.queue.push_back(std::move(task));
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
