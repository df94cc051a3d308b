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

}  // namespace

int RunUpgradeJob(const NetApi& net, const BatchFields& batch, const platform::Clock& clock,
                  DeviceTask& task) {
    if (batch.upgrade.UpgradeType == NET_UPGRADE_UNKNOWN) {
        return 0;
    }
    const int handle = net.AddCamera != nullptr ? net.AddCamera(&task) : kFailedCall;
    if (handle == -1) {
        return 0;
    }
    int result = 1;
    const int connected = net.ConnCamera != nullptr
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
