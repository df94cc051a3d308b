#pragma once

// The 30 worker threads, each with a queue of its own (its WM_DEVICE_TASK
// messages), handed work in turn. A message is a task to run, or null: an
// upgrade's turn, which the owner answers from its upgrade slots.

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/TaskDispatcher.h"

namespace engine {

class WorkerPool {
  public:
    static constexpr int kCount = TaskDispatcher::kWorkerCount;
    using Message = std::unique_ptr<DeviceTask>;
    // Runs one message on a worker thread; must not throw.
    using Handler = std::function<void(Message)>;

    WorkerPool() = default;
    ~WorkerPool() { Stop(); }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts every worker; one whose thread cannot start stays stopped and
    // refuses its messages, the others go on.
    void Start(Handler handler);
    // Wakes every worker, lets the message in progress end, joins. Messages
    // still queued stay for TakeTasks. Calling it again does nothing.
    void Stop();

    // The worker whose turn it is, and the turn moves on: 0, 1, … 29, 0 …
    // across batches. Called under the owner's lock, so turns are not shared.
    int TakeTurn();
    // Queues `message` on `worker`. False (the message stays with the caller)
    // when that worker is not running or memory ran out.
    bool Post(int worker, Message& message);
    // Takes every task still queued, leaving the turns, in worker order.
    std::vector<Message> TakeTasks();

    int NextWorker() const { return next_.load(); }
    int Running() const;

  private:
    struct Worker {
        std::thread thread;
        mutable std::mutex mutex;
        std::condition_variable wake;
        std::deque<Message> queue;
        bool running = false;  // guarded by mutex
    };
    void Loop(Worker& worker);

    Handler handler_;
    std::atomic<int> next_{0};
    std::array<Worker, kCount> workers_;
};

}  // namespace engine
