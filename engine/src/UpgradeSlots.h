#pragma once

// Upgrades run in slots. Enqueue puts an upgrade here, in the order the dialog
// queued it, and hands its worker a turn (an empty message); a worker whose
// turn comes while a slot is free takes a slot and runs the upgrades at the
// front until none is left. So no more than `parallel` upgrades run at once,
// they start in the order queued, and a camera that takes long holds up only
// its own slot. At the default of one slot, upgrades follow one another.
//
// Guarded by the dispatcher's lock: every call is made holding it, and the
// waits release it.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "engine/TaskDispatcher.h"

namespace engine {

class UpgradeSlots {
  public:
    using Task = std::unique_ptr<DeviceTask>;

    void SetParallel(int count);  // clamped to 1..kMaxParallel
    int Parallel() const { return parallel_; }

    void Push(Task task) { waiting_.push_back(std::move(task)); }
    void DropLast() { waiting_.pop_back(); }
    // Every upgrade still waiting, in the order queued; the turns find none.
    std::deque<Task> TakeWaiting();

    // Waits until a slot is free and takes it. False when nothing is left to
    // run or the slots are closed: no slot was taken.
    bool Acquire(std::unique_lock<std::mutex>& lock);
    // The next upgrade for a slot already taken, or null when the slot is to
    // end (nothing waiting, closed, or the count of slots was lowered).
    Task Next();
    void Release();
    // The dispatcher stops: no upgrade starts any more, every wait ends.
    void Close();
    bool Closed() const { return closed_; }

  private:
    std::deque<Task> waiting_;
    int parallel_ = 1;
    int inUse_ = 0;
    bool closed_ = false;
    std::condition_variable freed_;
};

}  // namespace engine
