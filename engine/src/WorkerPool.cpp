#include "WorkerPool.h"

#include <chrono>
#include <new>
#include <system_error>
#include <utility>

namespace engine {
namespace {

// Pause after each message, as a worker always took; Stop cuts it short.
constexpr auto kPauseAfterTask = std::chrono::milliseconds(20);

}  // namespace

void WorkerPool::Start(Handler handler) {
    handler_ = std::move(handler);
    for (auto& worker : workers_) {
        {
            std::lock_guard lock(worker.mutex);
            worker.running = true;
        }
        try {
            worker.thread = std::thread([this, &worker] { Loop(worker); });
        } catch (const std::system_error&) {
            // Start never fails as a whole; this worker's tasks fail instead.
            std::lock_guard lock(worker.mutex);
            worker.running = false;
        }
    }
}

void WorkerPool::Stop() {
    for (auto& worker : workers_) {
        {
            std::lock_guard lock(worker.mutex);
            worker.running = false;
        }
        worker.wake.notify_all();
    }
    for (auto& worker : workers_) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
}

int WorkerPool::TakeTurn() {
    const int worker = next_.load();
    next_.store((worker + 1) % kCount);
    return worker;
}

bool WorkerPool::Post(int index, Message& message) {
    Worker& worker = workers_[static_cast<size_t>(index)];
    {
        std::lock_guard lock(worker.mutex);
        if (!worker.running) {
            return false;
        }
        try {
            worker.queue.push_back(std::move(message));
        } catch (const std::bad_alloc&) {
            return false;  // push_back leaves its argument alone when it throws
        }
    }
    worker.wake.notify_one();
    return true;
}

std::vector<WorkerPool::Message> WorkerPool::TakeTasks() {
    std::vector<Message> tasks;
    for (auto& worker : workers_) {
        std::lock_guard lock(worker.mutex);
        for (auto it = worker.queue.begin(); it != worker.queue.end();) {
            if (*it) {
                tasks.push_back(std::move(*it));
                it = worker.queue.erase(it);
            } else {
                ++it;
            }
        }
    }
    return tasks;
}

int WorkerPool::Running() const {
    int count = 0;
    for (const auto& worker : workers_) {
        std::lock_guard lock(worker.mutex);
        count += worker.running ? 1 : 0;
    }
    return count;
}

void WorkerPool::Loop(Worker& worker) {
    for (;;) {
        Message message;
        {
            std::unique_lock lock(worker.mutex);
            worker.wake.wait(lock, [&] { return !worker.running || !worker.queue.empty(); });
            if (!worker.running) {
                return;
            }
            message = std::move(worker.queue.front());
            worker.queue.pop_front();
        }
        handler_(std::move(message));
        std::unique_lock lock(worker.mutex);
        worker.wake.wait_for(lock, kPauseAfterTask, [&] { return !worker.running; });
    }
}

}  // namespace engine
