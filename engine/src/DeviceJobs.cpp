#include "DeviceJobs.h"

#include <cstring>

#include "FixedText.h"

namespace engine {
namespace {

constexpr int kFailedCall = -1;

// The camera's clock fields take the PC's local time; the camera's own bytes
// after the second go back as they came.
void CopyPcTime(const platform::LocalTime& now, tNetTimeSetup& time) {
    time.usYear = static_cast<uint16_t>(now.year);
    time.ucMonth = static_cast<uint8_t>(now.month);
    time.ucDay = static_cast<uint8_t>(now.day);
    time.ucHour = static_cast<uint8_t>(now.hour);
    time.ucMinute = static_cast<uint8_t>(now.minute);
    time.ucSecond = static_cast<uint8_t>(now.second);
}

void SyncClock(const NetApi& net, const platform::Clock& clock, int handle) {
    if (net.QueryTimeSetup == nullptr) {
        return;
    }
    tNetTimeSetup time{};
    if (net.QueryTimeSetup(handle, &time) != 0) {
        return;  // a camera that will not tell its clock keeps it
    }
    CopyPcTime(clock ? clock() : platform::Now(), time);
    if (net.TimeSetup != nullptr) {
        (void)net.TimeSetup(handle, &time);  // a failed clock set never fails the upgrade
    }
}

// A camera that does not take a TCP connection within the probe is not worth
// the specified attempts; one that takes it and then says nothing still gets them.
int Probe(const NetApi& net, const BatchFields& batch, int handle) {
    if (batch.probeMs <= 0 || net.ProbeCamera == nullptr) {
        return 0;
    }
    return net.ProbeCamera(handle, batch.probeMs);
}

}  // namespace

bool RunningSessions::Add(int handle) {
    std::lock_guard lock(mutex_);
    if (abandoned_) {
        return false;
    }
    handles_.insert(handle);
    return true;
}

void RunningSessions::Remove(int handle) {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
}

void RunningSessions::Abandon(const NetApi& net) {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    if (net.AbortCamera == nullptr) {
        return;
    }
    for (const int handle : handles_) {
        (void)net.AbortCamera(handle);
    }
}

void RunningSessions::Reset() {
    std::lock_guard lock(mutex_);
    abandoned_ = false;
    handles_.clear();
}

int RunUpgradeJob(const NetApi& net, const BatchFields& batch, const platform::Clock& clock,
                  DeviceTask& task, RunningSessions* sessions) {
    if (batch.upgrade.UpgradeType == NET_UPGRADE_UNKNOWN) {
        return 0;
    }
    const int handle = net.AddCamera != nullptr ? net.AddCamera(&task) : kFailedCall;
    if (handle == -1) {
        return 0;
    }
    int result = 1;
    const bool going = sessions == nullptr || sessions->Add(handle);
    const int connected = !going                           ? kFailedCall
                          : Probe(net, batch, handle) != 0 ? kFailedCall
                          : net.ConnCamera != nullptr
                              ? net.ConnCamera(handle, TaskDispatcher::kConnectTimeoutMs,
                                               TaskDispatcher::kConnectAttempts)
                              : kFailedCall;
    if (connected != 0) {
        result = 0;
    } else {
        if (batch.syncTime) {
            SyncClock(net, clock, handle);
        }
        tNetFileUpdate update = batch.upgrade;
        static_assert(sizeof(update.szFilePath) == sizeof(task.path));
        std::memcpy(update.szFilePath, task.path, sizeof(update.szFilePath));
        update.szFilePath[sizeof(update.szFilePath) - 1] = '\0';
        const int sent = net.FileUpdate != nullptr ? net.FileUpdate(handle, &update) : kFailedCall;
        if (sent != 0) {
            result = 0;
        }
    }
    if (sessions != nullptr) {
        sessions->Remove(handle);
    }
    if (net.DisConnCamera != nullptr) {
        (void)net.DisConnCamera(handle);
    }
    if (net.DelCamera != nullptr) {
        (void)net.DelCamera(handle);
    }
    return result;
}

int RunModifyIpJob(const HelperApi& helper, DeviceTask& task) {
    if (helper.ModifyDevIp == nullptr) {
        return 0;
    }
    return helper.ModifyDevIp(task.aux, task.ip, TaskDispatcher::kSubnetMask) != 0 ? 1 : 0;
}

int RunRestoreIpJob(const HelperApi& helper, const std::string& defaultIp, DeviceTask& task) {
    if (helper.ModifyDevIp == nullptr) {
        return 0;
    }
    if (helper.ModifyDevIp(task.aux, defaultIp.c_str(), TaskDispatcher::kSubnetMask) == 0) {
        return 0;  // the result keeps the address the camera still has
    }
    CopyFixedText(task.ip, defaultIp.c_str());
    return 1;
}

}  // namespace engine
