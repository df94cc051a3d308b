#include "UpgradeSlots.h"

#include <algorithm>

namespace engine {

void UpgradeSlots::SetParallel(int count) {
    parallel_ = std::clamp(count, 1, TaskDispatcher::kMaxParallel);
    freed_.notify_all();
}

std::deque<UpgradeSlots::Task> UpgradeSlots::TakeWaiting() {
    std::deque<Task> left;
    left.swap(waiting_);
    freed_.notify_all();
    return left;
}

bool UpgradeSlots::Acquire(std::unique_lock<std::mutex>& lock) {
    freed_.wait(lock, [&] { return closed_ || waiting_.empty() || inUse_ < parallel_; });
    if (closed_ || waiting_.empty()) {
        return false;  // another slot ran this turn's upgrade, or the batch was stopped
    }
    ++inUse_;
    return true;
}

UpgradeSlots::Task UpgradeSlots::Next() {
    if (closed_ || waiting_.empty() || inUse_ > parallel_) {
        return nullptr;
    }
    Task task = std::move(waiting_.front());
    waiting_.pop_front();
    if (waiting_.empty()) {
        freed_.notify_all();  // the turns still waiting have nothing to run
    }
    return task;
}

void UpgradeSlots::Close() {
    closed_ = true;
    freed_.notify_all();
}

void UpgradeSlots::Release() {
    --inUse_;
    freed_.notify_all();
}

}  // namespace engine
