#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "app/BatchReport.h"
#include "app/DeviceList.h"
#include "engine/TaskDispatcher.h"
#include "platform/FileLock.h"
#include "platform/LocalTime.h"

namespace app {

// One batch as the dialog keeps it from its request to its end: the lock that
// allows one batch at a time per configuration folder, the batch's record,
// the presses of the stop control, and which cameras of the last upgrade
// batch are worth another try. UI thread only.
class BatchSession {
  public:
    // Locked at once when already held; Busy when another instance holds it.
    platform::FileLock::Result TakeLock(const std::string& path, std::string* why);
    bool LockHeld() const { return lock_.Held(); }
    void ReleaseLock() { lock_.Release(); }

    // The record's header from `now`, the batch's clock, no stop pressed and
    // none skipped yet. An upgrade batch starts a new retry set.
    void Begin(std::int32_t kind, const std::string& tool, const platform::LocalTime& now);
    bool Running() const { return running_; }
    std::int32_t Kind() const { return kind_; }
    BatchReport& Record() { return record_; }
    const BatchReport& Record() const { return record_; }

    // The update file's size and MD5 into the record; left out when unreadable.
    void DescribeFile(const std::string& path);
    // One finished camera into the record, with the type, hardware and first
    // version of its row when it has one; a camera of an upgrade batch leaves
    // the retry set once proven and joins it otherwise.
    void Add(const TaskResult& result, const DeviceRow* row);
    // An IP batch's mask, gateway and name for one camera (an address plan),
    // given after Begin and before its result: Add records them. Without
    // one, the mask 255.255.255.0 and no gateway, as the specified jobs send.
    struct PlannedCamera {
        std::string mask;
        std::string gateway;
        std::string name;
    };
    void PlanCamera(const std::string& mac, PlannedCamera planned) {
        planned_[mac] = std::move(planned);
    }
    bool Planned(const std::string& mac) const { return planned_.count(mac) != 0; }
    // A camera's proof (after reboot, or at its new address): its record,
    // kept since the verdict, takes what the check learnt, and an upgraded
    // camera's retry set follows it.
    void Prove(const TaskResult& proof);
    std::uint32_t Skipped() const { return skipped_; }
    bool ToRetry(const std::string& mac) const { return retry_.count(mac) != 0; }

    // The record's end and duration; the batch no longer runs.
    void End(const platform::LocalTime& now);
    // The record whole beside the log; false when it could not be saved.
    bool Save(const std::string& stateDir);
    // The file the last record went to, empty when it could not be written.
    const std::string& SavedPath() const { return savedPath_; }
    // The line that says the last record could not be saved, or empty.
    const std::string& SaveFailure() const { return saveFailure_; }

    // What a press of the stop control does now: the first stops every camera
    // not yet started, a second one (upgrades only) abandons the transfers.
    enum class StopStep { Nothing, StopWaiting, AbandonTransfers };
    StopStep NextStop() const;
    void StopTaken() { ++stopPresses_; }

  private:
    void NoteRetry(const ReportCamera& camera, std::int32_t kind);

    platform::FileLock lock_;
    BatchReport record_;
    std::string savedPath_;
    std::string saveFailure_;
    std::chrono::steady_clock::time_point started_;
    bool running_ = false;
    std::int32_t kind_ = 0;
    int stopPresses_ = 0;
    std::uint32_t skipped_ = 0;  // cameras of the batch never started
    // MAC texts of the last upgrade batch's cameras that are not proven.
    std::set<std::string> retry_;
    std::map<std::string, PlannedCamera> planned_;  // by MAC text
    // MAC texts of upgraded cameras that may have taken the file they were sent.
};

}  // namespace app
