#pragma once

// The three device jobs. Each makes one attempt and answers 1 for success and
// 0 for failure; the caller reports it. They take no lock: the dispatcher
// serialises the upgrade job.

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
};

// Add, connect, optionally set the clock, send the file, disconnect, delete.
int RunUpgradeJob(const NetApi& net, const BatchFields& batch, const platform::Clock& clock,
                  DeviceTask& task);

// The camera named by task.aux takes task.ip.
int RunModifyIpJob(const HelperApi& helper, DeviceTask& task);

// The camera named by task.aux takes the default IP; on success task.ip says so.
int RunRestoreIpJob(const HelperApi& helper, const std::string& defaultIp, DeviceTask& task);

}  // namespace engine
