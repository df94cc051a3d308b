#pragma once

// The three device jobs. Each makes one attempt and answers 1 for success and
// 0 for failure; the caller reports it. They take no lock of the dispatcher's.

#include <mutex>
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
    int probeMs = 0;  // bare connect before the specified one; 0: none
};

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
                  DeviceTask& task, RunningSessions* sessions = nullptr);

// The camera named by task.aux takes task.ip.
int RunModifyIpJob(const HelperApi& helper, DeviceTask& task);

// The camera named by task.aux takes the default IP; on success task.ip says so.
int RunRestoreIpJob(const HelperApi& helper, const std::string& defaultIp, DeviceTask& task);

}  // namespace engine
