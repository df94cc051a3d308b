#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "addressing/PlanCsv.h"
#include "app/BatchReport.h"
#include "app/BatchSession.h"
#include "app/DeviceList.h"
#include "app/DialogConfig.h"
#include "app/DialogDeps.h"
#include "app/DialogTexts.h"
#include "app/DialogView.h"
#include "app/IpBatch.h"
#include "app/OperationLog.h"
#include "engine/TaskDispatcher.h"
#include "korvel.h"
#include "pack/UpdataFileCheck.h"
#include "platform/AppFolders.h"
#include "platform/LocalTime.h"
#include "platform/NetAdapters.h"
#include "platform/Paths.h"
#include "upgrade/UpgradeRequest.h"

namespace app {

inline constexpr const char* kTitle = "QuorvaneV1.0.0.8(Custom版)";

// The direction of the last header-click sort, shared by every column.
extern std::int32_t g_bSortAscending;

// The main dialog's logic, free of any GUI toolkit. The view calls the
// handlers; the dialog works on the screen through the view only.
class CQuorvaneDlg : public ReportWindow {
  public:
    explicit CQuorvaneDlg(DialogView& view, DialogDeps deps = {});
    ~CQuorvaneDlg() override;
    CQuorvaneDlg(const CQuorvaneDlg&) = delete;
    CQuorvaneDlg& operator=(const CQuorvaneDlg&) = delete;

    void OnInitDialog();

    // Buttons and list notifications.
    void OnBnClickedSearch();
    void OnBnClickedSelectAll();
    void OnLvnColumnclickDeviceList(int column);
    void OnBnClickedUpgradeLog();
    void OnBnClickedBrowse();
    void OnBnClickedModifyIp();
    void OnBnClickedRestoreIp();
    void OnBnClickedUpgrade();
    // The stop control (and Esc) while a search by address runs ends it; while
    // a batch runs: the first press finishes
    // every camera not yet started as not done and never touches it; a second,
    // once confirmed, abandons the transfers in progress.
    void OnBnClickedStop();
    // The drop-down "网卡": the adapter chosen is searched on from now on and
    // remembered in config.ini.
    void OnCbnSelchangeInterface();
    // "按地址搜索…": asks for the addresses (the last ones filled in), then ScanAddresses.
    void OnMenuScan();
    // A search by address: one address, a range "10.77.1.10-10.77.1.50" or a
    // prefix "10.77.1.0/24" (at most 1,024 addresses), each asked by unicast.
    // The cameras that answer join the list like a search's (a MAC already
    // listed keeps its row). False when refused (the reason shown) or when the
    // library failed; a stopped scan keeps what it found.
    bool ScanAddresses(const std::string& text);
    // Ends a scan in progress soon; callable from any thread (a stop request).
    void CancelScan();
    // Whether the last scan was stopped before its end.
    bool ScanCancelled() const { return m_scanCancelled; }
    // The console's --interface: that adapter (name or address), or with
    // nothing, quorvane-net.conf's choice. False after the refusal is shown.
    bool ChooseAdapter(const std::optional<std::string>& nameOrAddress);
    // Ticks exactly the rows of the last upgrade batch that did not succeed
    // (failed or never started), so that the next upgrade retries them.
    // Returns how many; says so when there are none.
    int TickRowsToRetry();
    // The upgrade press up to the queueing, with every check and message of a
    // real press; `show` sees each camera's file while the workspace is still
    // there, then the workspace goes. False when the request was refused.
    bool PlanUpgrade(const std::function<void(const std::vector<PlannedUpgrade>&)>& show);
    // The modify-IP press up to the confirmation, with every check and message
    // of a real press: each ticked camera's new address in list order, never
    // one another camera of the list or of the last search holds. False when
    // the request was refused (its message shown).
    bool PlanModifyIp(std::vector<PlannedAddress>* plan);
    // The batch of a plan just made by PlanModifyIp and shown (the console,
    // which has no one to ask); false when it could not start.
    bool ModifyIpAsPlanned(const std::vector<PlannedAddress>& plan);
    // Context menu "导入地址表…": asks for the file, checks the plan whole,
    // ticks the cameras it names, asks with the plan and runs the batch.
    void OnImportPlan();
    // Context menu "导出地址表": asks where, writes the list as an address plan.
    void OnExportPlan();
    // Context menu "恢复到批次前的地址": undoes the last IP batch recorded,
    // after asking with its plan.
    void OnUndoIpBatch();
    // An address plan file (mac,ip[,mask,gateway,name]) checked whole before
    // anything is sent: its lines, the cameras of the list, the addresses in
    // use (list and LAN), each camera's adapter subnet. The cameras it names
    // are ticked. False after the refusal was shown, every fault with its line.
    bool PlanFromFile(const std::string& path, std::vector<PlannedAddress>* plan);
    // The plan that gives every camera of IP batch `id` (empty: the last IP
    // batch) back the address, mask and gateway it had, checked the same
    // way (not against the adapter's subnet: it goes back where it was).
    bool PlanUndo(const std::string& id, std::vector<PlannedAddress>* plan);
    // The batch of a plan just made by PlanFromFile or PlanUndo; false when
    // it could not start.
    bool RunAddressPlan(const std::vector<PlannedAddress>& plan);
    // The list as an address plan file (every camera, its address, mask,
    // gateway and name), written whole; said in the pane, or refused.
    bool ExportPlan(const std::string& path);
    void SetUpgradeOverrides(const UpgradeSettings& settings) { m_overrides = settings; }
    // How the last batch ended: stopped by hand, held at its failure limit.
    bool BatchStopped() const { return m_dispatcher.Batch().stopped; }
    bool BatchHeld() const { return m_dispatcher.Batch().held; }
    bool BatchRunning() const { return m_session.Running(); }

    // Worker reports, once queued onto the UI thread.
    void OnTaskResult(std::unique_ptr<TaskResult> result);
    void OnTaskProof(std::unique_ptr<TaskResult> proof);
    void OnTaskProgress(std::uint32_t finished);
    void OnBatchDone(std::int32_t kind);
    void OnLiveState(const LiveState& state);

    // ReportWindow: called on worker threads; each queues the handler above.
    void PostTaskResult(std::unique_ptr<TaskResult> result) override;
    void PostTaskProof(std::unique_ptr<TaskResult> proof) override;
    void PostTaskProgress(std::uint32_t finished) override;
    void PostBatchDone(std::int32_t kind) override;
    void PostLiveState(const LiveState& state) override;

    static void OnDeviceFound(const tNetDeviceInfo* info, void* user);
    static int CompareListItems(std::intptr_t item1, std::intptr_t item2, const SortInfo& info);

    void EnableControls(bool enable);
    void ShowMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void RemoveTempDir(const std::string& path);

    // The wait for upgraded cameras to come back, in place of the configured
    // one (console options); nothing: the configuration decides; 0: no check.
    void SetVerifyTimeoutOverride(std::optional<int> ms) { m_verifyOverride = ms; }
    // Whether 批量修改IP offers a start address inside the adapter's subnet
    // when every ticked camera is outside it (the window); the console's start
    // address is the one given.
    void SetStartIpProposals(bool on) { m_proposeStartIp = on; }

    // "导出列表": the list as shown (every column, the rows in their order) as
    // CSV into `path`, written whole; said in the pane, or refused with a message.
    bool ExportList(const std::string& path);

    // The record of the last batch, and the file it went to (empty when it
    // could not be written).
    const BatchReport& LastReport() const { return m_session.Record(); }
    const std::string& LastReportPath() const { return m_session.SavedPath(); }
    // The line said when the last batch's record could not be saved, or empty.
    const std::string& ReportFailure() const { return m_session.SaveFailure(); }
    const std::string& StateDir() const { return m_strStateDir; }

    // Read-only views for front ends and tests.
    const std::string& ExeDir() const { return m_strExeDir; }
    const std::string& ConfigFile() const { return m_strConfigFile; }
    const std::string& UpdateFile() const { return m_strUpdateFile; }
    std::string LogPath() const { return m_log.GetPath(); }
    const std::vector<tNetDeviceInfo>& Devices() const { return m_devices; }
    // The device list's rows, in the order shown.
    const DeviceList& List() const { return m_listDevices; }
    TaskDispatcher& Dispatcher() { return m_dispatcher; }
    // The workspace of the current upgrade; removed when a batch ends.
    void SetWorkDir(const std::string& dir) { m_upgrade.SetWorkDir(dir); }
    const std::string& WorkDir() const { return m_upgrade.WorkDir(); }
    // The last upgrade request's working state.
    const upgrade::CUpgradeRequest& UpgradeRequest() const { return m_upgrade; }
    // Why the camera library could not start (its network configuration), or
    // empty; said in the log pane at start.
    const std::string& NetInitError() const { return m_netInitError; }
    // The line said when the operation log could not be opened or written, or
    // empty while every line has reached the file.
    const std::string& LogFailure() const { return m_logFailure; }
    // The lock file that allows one batch at a time per configuration folder:
    // beside the logs, the one folder of a run that is surely writable.
    std::string BatchLockPath() const { return platform::JoinPath(m_strStateDir, "quorvane.lock"); }
    // The batch lock alone, taken before a request's costly checks (or kept
    // when already held); false after its refusal has been shown. A batch
    // handler keeps a lock taken this way; the console takes it before it
    // searches.
    bool TakeBatchLock();

  private:
    // The window disabled for one request: enabled again on every way out,
    // unless the request became a batch, whose end enables it.
    class ControlsOff {
      public:
        explicit ControlsOff(CQuorvaneDlg& dlg) : dlg_(dlg) { dlg_.EnableControls(false); }
        ~ControlsOff() {
            if (!batch_) {
                dlg_.EnableControls(true);
            }
        }
        ControlsOff(const ControlsOff&) = delete;
        ControlsOff& operator=(const ControlsOff&) = delete;
        void HandToBatch() { batch_ = true; }

      private:
        CQuorvaneDlg& dlg_;
        bool batch_ = false;
    };

    // The wait cursor for one long step, gone on every way out.
    class WaitCursor {
      public:
        explicit WaitCursor(DialogView& view) : view_(view) { view_.SetWaitCursor(true); }
        ~WaitCursor() { view_.SetWaitCursor(false); }
        WaitCursor(const WaitCursor&) = delete;
        WaitCursor& operator=(const WaitCursor&) = delete;

      private:
        DialogView& view_;
    };

    platform::LocalTime Now() const;
    // Queues `handler` for the UI thread as the worker report `message`; it
    // is dropped when the dialog is gone by then.
    void PostReport(unsigned message, std::function<void(CQuorvaneDlg&)> handler);
    // Checks and prepares an upgrade press; on refusal the message is shown.
    // A batch (forBatch) takes the batch lock first, before anything is
    // unpacked, and holds it when this succeeds; a plan needs no lock.
    bool PrepareUpgrade(std::vector<PlannedUpgrade>* plan, bool forBatch);
    // The failure limit and probe time of config.ini (its upgrade_parallel
    // checked too), or a refusal shown.
    std::optional<UpgradeLimits> ReadUpgradeLimits();
    upgrade::RequestEnv MakeRequestEnv();
    bool CheckIpRequest(const std::vector<int>& ticked);
    // The drop-down filled from the PC's adapters, config.ini's choice shown and applied.
    void SetUpAdapters();
    // The adapter the library says row `row` (the camera `dev`) answered on.
    void MarkAnsweredOn(int row, const tNetDeviceInfo& dev);
    // The start address offered for ticked cameras all outside one adapter's subnet.
    void OfferStartIp(const std::vector<int>& ticked);
    // Tells both libraries: nullptr the configuration's choice, "" every adapter.
    void ApplyAdapter(const char* key);
    // The addresses the cameras of the list hold, by MAC.
    std::vector<HeldAddress> CamerasHeld() const;
    // An IP batch's settings with the look for each changed camera at its new
    // address, and how long that look may take (0: none).
    BatchSettings ProvedIpBatch(BatchSettings batch) const;
    int IpProofMs() const;
    // The numbering of a modify-IP press, with the addresses that answer on
    // the LAN (probeLan) held too; nothing after its refusal was shown.
    std::optional<std::vector<addressing::Numbered>> NumberWithLan(
        const std::vector<std::string>& macs);
    // Starts the batch of `plan` after its checks and its question.
    bool StartModifyIp(const std::vector<PlannedAddress>& plan);
    // Checks an address plan's rows whole (the list, the LAN, with
    // `bySubnet` each camera's adapter subnet) and makes its plan; false
    // after the refusal `heading` + the faults was shown.
    bool CheckAddressPlan(std::vector<addressing::PlanRow> rows, bool bySubnet,
                          const std::string& heading, std::vector<PlannedAddress>* plan);
    // Starts the batch of an address plan, without a question.
    bool StartAddressPlan(const std::vector<PlannedAddress>& plan);
    // Ticks exactly the rows of `plan`.
    void TickPlanned(const std::vector<PlannedAddress>& plan);
    // Says once per press in the pane that the LAN could not be asked.
    void SayLanUnchecked(const std::string& why);
    void SayLogFailure(const char* what, const std::string& why);
    // A finished camera's detail cell and extra log line, and the view told:
    // at its verdict, or at its proof after reboot.
    void ShowDetail(int row, const TaskResult& result, const char* status, bool proof);
    // Says once in the log that the canaries passed and the others start.
    void TellCanaryPassed();

    // Every batch handler calls this once its checks have passed, before it
    // queues anything. It takes the batch lock of the configuration folder
    // (BatchLockPath; another instance holding it refuses the request with a
    // message), writes the request line to the operation log, sets up the
    // batch on the dispatcher and the progress bar at 0 of its total. False
    // after a refusal: the handler returns, and its ControlsOff enables the
    // window again; after true it hands the window to the batch.
    //
    // The request line, one per batch, so that a run killed half way still
    // records what was asked:
    //   "开始<kind>：<total>台设备，<request>"
    // <kind> is 批量修改IP, 批量恢复默认IP or 批量升级; <request> says what the
    // cameras get, escaped so that it stays one line:
    //   modify IP       "起始IP 192.168.1.100"
    //   restore default "默认IP 192.168.0.10"
    //   upgrade         "升级文件 /path/to/file.bin" ("强制升级文件 …" when forced)
    // The lock is released in OnBatchDone and in the destructor.
    bool StartBatch(const BatchSettings& batch, const std::string& request);

    // Stand-ins for the window itself: the screen, the libraries, and a token
    // that queued reports check so that none runs after the dialog is gone.
    DialogView& m_view;
    DialogDeps m_deps;
    std::shared_ptr<CQuorvaneDlg*> m_alive;

    // The members in the order of the original dialog.
    int m_hIcon = 128;  // the program icon resource; the view shows it
    TaskDispatcher m_dispatcher;
    std::string m_strExeDir;
    std::string m_strStateDir;  // the daily log's folder (the folder rule)
    std::string m_strConfigFile;
    std::string m_strTitle;
    std::vector<tNetDeviceInfo> m_devices;
    // The rows as records; the view shows them.
    DeviceList m_listDevices;
    OperationLog m_log;
    std::string m_strUpdateFile;
    // The upgrade working state (type, version key, hardware versions, files,
    // their index, the request's record and workspace).
    upgrade::CUpgradeRequest m_upgrade;

    std::string m_netInitError;
    std::string m_logOpenError;  // why Open failed, said with the first line
    std::string m_logFailure;
    std::optional<int> m_verifyOverride;
    UpgradeSettings m_overrides;
    BatchSession m_session;
    // The drop-down's adapters, after its "全部网卡".
    std::vector<platform::NetAdapter> m_adapters;
    bool m_proposeStartIp = true;
    std::string m_scanText;  // the last addresses searched, offered again
    bool m_scanCancelled = false;
    bool m_scanning = false;  // the stop then ends the scan
    // The running IP batch's word per camera (MAC) for its detail cell.
    std::map<std::string, std::string> m_ipNotes;
    // The running upgrade's canaries have been said to pass (or it has none).
    bool m_canaryTold = true;
    // Where the last address plan came from: the request line's words and
    // the record's plan_file or undo_of.
    struct PlanOrigin {
        std::string request;
        std::string planFile;
        std::string undoOf;
    };
    PlanOrigin m_planOrigin;
};

}  // namespace app
