#include "app/QuorvaneDlg.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <utility>

#include "addressing/ScanRange.h"
#include "app/AdapterChoice.h"
#include "app/DialogTexts.h"
#include "app/IpBatch.h"
#include "app/OutcomeText.h"
#include "pack/PackLog.h"
#include "platform/ExeDir.h"
#include "platform/Paths.h"
#include "platform/TermText.h"
#include "platform/Version.h"
#include "platform/WholeFile.h"
#include "platform/Workspace.h"

namespace app {

std::int32_t g_bSortAscending = 1;

// The caption is a fixed text; it must name the version the build carries.
static_assert(std::string_view(kTitle).find("V" QV_VERSION "(") != std::string_view::npos);

CQuorvaneDlg::CQuorvaneDlg(DialogView& view, DialogDeps deps)
    : m_view(view),
      m_deps(std::move(deps)),
      m_alive(std::make_shared<CQuorvaneDlg*>(this)),
      m_dispatcher(MakeDispatcher(m_deps)),
      m_listDevices(view),
      m_log(m_deps.clock),
      m_upgrade(MakeRequestEnv()) {
    m_strTitle = kTitle;
    if (m_deps.search.Init != nullptr) {
        // A library that cannot start finds no camera; the reason is said at
        // start instead of an empty list without a word.
        if (const int rc = m_deps.search.Init(); rc != 0) {
            char why[512] = {};
            if (m_deps.search.GetInitError != nullptr) {
                m_deps.search.GetInitError(why, sizeof(why));
            }
            m_netInitError = why[0] != '\0' ? why : "error " + std::to_string(rc);
        }
    }
    if (auto* log = m_deps.search.Log) {
        SetPackLogSink([log](const std::string& line) { log("%s", line.c_str()); });
    }
}

CQuorvaneDlg::~CQuorvaneDlg() {
    if (m_deps.search.UNinit != nullptr) {
        m_deps.search.UNinit();
    }
    if (m_deps.search.Log != nullptr) {
        SetPackLogSink({});
    }
    // Detached first: once this returns no worker is posting, so the token
    // can go; reports still queued for the UI thread find it gone and are dropped.
    m_dispatcher.SetReportWindow(nullptr);
    m_alive.reset();
    m_session.ReleaseLock();
}

platform::LocalTime CQuorvaneDlg::Now() const {
    return m_deps.clock ? m_deps.clock() : platform::Now();
}

void CQuorvaneDlg::OnInitDialog() {
    m_view.SetCaption(m_strTitle);
    m_strExeDir = m_deps.configDir.empty() ? platform::ExeDir() : m_deps.configDir;
    // The folder rule says where config.ini is read and the day's log written;
    // a folder given in the dependencies takes the place of both.
    const DialogPlaces places = SetUpPlaces(m_deps.folders, m_deps.configDir, Now());
    m_strConfigFile = places.configFile;
    m_strStateDir = places.stateDir;
    if (!m_log.Open(places.logFile, &m_logOpenError) && m_logOpenError.empty()) {
        m_logOpenError = "cannot open";
    }

    AppendLog("%s   已启动", m_strTitle.c_str());
    if (!m_netInitError.empty()) {
        AppendLog("网络配置无法使用，搜索不到设备：%s",
                  platform::EscapeForTerminal(m_netInitError).c_str());
    }
    m_dispatcher.SetReportWindow(this);
    m_view.SetStartIp({192, 168, 0, 10});
    m_view.ShowControl(IDC_FORCE_UPGRADE, false);
    m_view.EnableControl(IDC_STOP, false);
    std::string why;
    if (const auto parallel = ReadParallel(m_strConfigFile, &why)) {
        m_view.SetUpgradeParallel(*parallel);
    } else if (!why.empty()) {
        AppendLog("%s", why.c_str());
    }
    why.clear();
    if (const auto canary = ReadCanary(m_strConfigFile, &why)) {
        m_view.SetUpgradeCanary(*canary);
    } else if (!why.empty()) {
        AppendLog("%s", why.c_str());
    }
    SetUpAdapters();
}

void CQuorvaneDlg::SetUpAdapters() {
    const auto all = m_deps.adapters ? m_deps.adapters() : std::nullopt;
    m_adapters = ChoosableAdapters(all ? *all : std::vector<platform::NetAdapter>{});
    // An adapter remembered but not there now (a USB adapter unplugged) shows
    // every adapter; config.ini keeps it for the day it is back.
    const int index = AdapterIndex(m_adapters, ReadAdapterChoice(m_strConfigFile));
    m_view.SetAdapterItems(AdapterItems(m_adapters), index);
    ApplyAdapter(AdapterKey(m_adapters, index).c_str());
}

void CQuorvaneDlg::ApplyAdapter(const char* key) {
    if (m_deps.search.SetInterface != nullptr) {
        m_deps.search.SetInterface(key);
    }
    if (const auto set = m_dispatcher.Helper().Api().SetInterface; set != nullptr) {
        set(key);
    }
}

void CQuorvaneDlg::OnCbnSelchangeInterface() {
    const std::string key = AdapterKey(m_adapters, m_view.ChosenAdapterItem());
    ApplyAdapter(key.c_str());
    std::string why;
    if (!RememberAdapterChoice(m_strConfigFile, key, &why)) {
        AppendLog("无法在config.ini中记住所选网卡：%s", platform::EscapeForTerminal(why).c_str());
    }
}

bool CQuorvaneDlg::ChooseAdapter(const std::optional<std::string>& nameOrAddress) {
    if (!nameOrAddress) {
        ApplyAdapter(nullptr);
        return true;
    }
    const auto all = m_deps.adapters ? m_deps.adapters() : std::nullopt;
    std::string why;
    const auto key =
        CheckAdapterChoice(all ? *all : std::vector<platform::NetAdapter>{}, *nameOrAddress, &why);
    if (!key) {
        ShowMessage("%s", why.c_str());
        return false;
    }
    ApplyAdapter(key->c_str());
    return true;
}

void CQuorvaneDlg::EnableControls(bool enable) {
    m_view.EnableWindow(enable);
    for (ControlId id : {IDC_SEARCH, IDC_SELECT_ALL, IDC_UPGRADE_LOG, IDC_BROWSE, IDC_MODIFY_IP,
                         IDC_RESTORE_IP, IDC_SYNC_TIME, IDC_RESEND, IDC_UPGRADE}) {
        m_view.EnableControl(id, enable);
    }
}

void CQuorvaneDlg::ShowMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatText(format, args);
    va_end(args);
    m_view.MessageBox(text);
}

void CQuorvaneDlg::AppendLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    std::string why;
    const bool written = m_log.Write(text, &why);
    text += "\r\n";
    m_view.AppendToLogPane(text);
    if (!written) {
        if (!m_log.IsOpen()) {
            SayLogFailure("无法打开操作日志", m_logOpenError);
        } else {
            SayLogFailure("无法写入操作日志", why);
        }
    }
}

void CQuorvaneDlg::SayLogFailure(const char* what, const std::string& why) {
    // Once per run, in the pane only: the file is what failed.
    if (!m_logFailure.empty()) {
        return;
    }
    m_logFailure = std::string(what) + " " + platform::EscapeForTerminal(m_log.GetPath()) + "：" +
                   platform::EscapeForTerminal(why);
    m_view.AppendToLogPane(m_logFailure + "\r\n");
}

// ---- Search and the device list ----

void CQuorvaneDlg::OnDeviceFound(const tNetDeviceInfo* info, void* user) {
    if (user == nullptr || info == nullptr) {
        return;
    }
    auto* dlg = static_cast<CQuorvaneDlg*>(user);
    tNetDeviceInfo copy;
    std::memcpy(&copy, info, sizeof(copy));
    dlg->m_devices.push_back(copy);
}

void CQuorvaneDlg::OnBnClickedSearch() {
    m_devices.clear();
    m_listDevices.Clear();
    const WaitCursor wait(m_view);
    const ControlsOff off(*this);

    if (m_deps.search.FindDevice != nullptr) {
        m_deps.search.FindDevice(&CQuorvaneDlg::OnDeviceFound, this);
    }
    for (const tNetDeviceInfo& dev : m_devices) {
        MarkAnsweredOn(m_listDevices.Add(dev), dev);
    }
    m_listDevices.Sort(kColIp, 1);
    m_listDevices.Number(1);

    // Said in the pane only: a count, or where the search went when it found
    // nothing, so an empty LAN can be told from a wrong configuration.
    const int rows = m_listDevices.Count();
    if (rows > 0) {
        m_view.AppendToLogPane("搜索到" + std::to_string(rows) + "台设备\r\n");
        return;
    }
    char address[64] = {};
    int ports[3] = {};
    const bool target = m_deps.search.GetSearchTarget != nullptr &&
                        m_deps.search.GetSearchTarget(address, sizeof(address), ports) == 0;
    m_view.AppendToLogPane(target ? NotFoundText(address, ports) : "未搜索到设备\r\n");
}

void CQuorvaneDlg::MarkAnsweredOn(int row, const tNetDeviceInfo& dev) {
    tNetAdapterInfo on{};
    if (m_deps.search.GetAnsweredOn == nullptr ||
        m_deps.search.GetAnsweredOn(dev.ucMac, &on) != 0) {
        return;
    }
    platform::NetAdapter adapter;
    adapter.name = FieldText(on.szName);
    adapter.address = (uint32_t{on.ucAddress[0]} << 24) | (uint32_t{on.ucAddress[1]} << 16) |
                      (uint32_t{on.ucAddress[2]} << 8) | on.ucAddress[3];
    adapter.prefix = std::min<int>(on.ucPrefix, 32);
    m_listDevices.SetAnsweredOn(row, adapter);
}

namespace {

void OnScanFound(const tNetDeviceInfo* info, void* user) {
    if (info != nullptr && user != nullptr) {
        static_cast<std::vector<tNetDeviceInfo>*>(user)->push_back(*info);
    }
}

}  // namespace

void CQuorvaneDlg::OnMenuScan() {
    const auto text = m_view.AskText(kScanTitle, kScanPrompt, m_scanText);
    if (text) {
        ScanAddresses(*text);
    }
}

void CQuorvaneDlg::CancelScan() {
    if (m_deps.search.CancelScan != nullptr) {
        m_deps.search.CancelScan();
    }
}

bool CQuorvaneDlg::ScanAddresses(const std::string& text) {
    m_scanCancelled = false;
    // Checked whole before a packet leaves; the reason names no typed byte.
    const addressing::ScanRange range = addressing::ParseScanRange(text);
    if (!range.ok()) {
        ShowMessage("%s", range.error.c_str());
        return false;
    }
    if (m_deps.search.ScanDevice == nullptr) {
        return false;
    }
    // Only digits, dots, '-', '/' and blanks got through: safe to show.
    const std::string shown = std::string(ScanTextShown(text));
    m_scanText = shown;
    std::vector<std::array<std::uint8_t, 4>> addresses;
    for (const std::uint32_t a : range.addresses) {
        addresses.push_back({static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
                             static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)});
    }
    std::vector<tNetDeviceInfo> found;
    int rc = 0;
    {
        const WaitCursor wait(m_view);
        const ControlsOff off(*this);
        // A thousand addresses take seconds: the stop (and Esc) ends it early.
        m_scanning = true;
        m_view.EnableControl(IDC_STOP, true);
        m_view.RunWhileResponsive([&] {
            rc = m_deps.search.ScanDevice(
                reinterpret_cast<const std::uint8_t(*)[4]>(addresses.data()),
                static_cast<int>(addresses.size()), &OnScanFound, &found);
        });
        m_view.EnableControl(IDC_STOP, false);
        m_scanning = false;
    }
    m_scanCancelled = rc == KORVEL_E_CANCELLED;
    if (rc != 0 && !m_scanCancelled) {
        AppendLog("按地址搜索 %s 失败（错误%d），详见korvel.log", shown.c_str(), rc);
        return false;
    }
    // One row per MAC, as a search gives: a camera already listed keeps its
    // row, its status and its adapter.
    int added = 0;
    int listed = 0;
    for (const tNetDeviceInfo& dev : found) {
        if (m_listDevices.FindByMac(MacText(dev.ucMac)) >= 0) {
            ++listed;
            continue;
        }
        m_devices.push_back(dev);
        MarkAnsweredOn(m_listDevices.Add(dev), dev);
        ++added;
    }
    if (added > 0) {
        m_listDevices.Sort(kColIp, 1);
        m_listDevices.Number(1);
    }
    AppendLog("%s",
              ScanSummary(shown, range.addresses.size(), added, listed, m_scanCancelled).c_str());
    return true;
}

int CQuorvaneDlg::CompareListItems(std::intptr_t item1, std::intptr_t item2, const SortInfo& info) {
    return CompareRows(item1, item2, info);
}

void CQuorvaneDlg::OnBnClickedSelectAll() {
    const bool checked = m_view.IsChecked(IDC_SELECT_ALL);
    for (int i = 0; i < m_listDevices.Count(); ++i) {
        m_listDevices.Tick(i, checked);
    }
}

void CQuorvaneDlg::OnLvnColumnclickDeviceList(int column) {
    if (m_listDevices.Count() == 0 || column == kColNumber) {
        return;
    }
    if (!SortsBy(column)) {
        return;
    }
    g_bSortAscending = g_bSortAscending == 0 ? 1 : 0;
    m_listDevices.Sort(column, g_bSortAscending);
    m_listDevices.Number(0);
}

bool CQuorvaneDlg::ExportList(const std::string& path) {
    const std::filesystem::path p = platform::FsPath(path);
    const std::string dir =
        p.has_parent_path() ? platform::Utf8Path(p.parent_path()) : std::string(".");
    std::string why;
    if (p.filename().empty() || !platform::WriteWholeFile(dir, platform::Utf8Path(p.filename()),
                                                          m_listDevices.Csv(), &why)) {
        ShowMessage("无法导出列表：%s",
                    platform::EscapeForTerminal(why.empty() ? path : why).c_str());
        return false;
    }
    m_view.AppendToLogPane("列表已导出到 " + platform::EscapeForTerminal(path) + "\r\n");
    return true;
}

// ---- Results, progress and batch completion ----

void CQuorvaneDlg::PostReport(unsigned message, std::function<void(CQuorvaneDlg&)> handler) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    m_view.PostReport(message, [alive, handler = std::move(handler)] {
        if (auto dlg = alive.lock()) {
            handler(**dlg);
        }
    });
}

void CQuorvaneDlg::PostTaskResult(std::unique_ptr<TaskResult> result) {
    // Shared, so that the queued call can be copied; the handler takes it over.
    auto holder = std::make_shared<std::unique_ptr<TaskResult>>(std::move(result));
    PostReport(WM_TASK_RESULT,
               [holder](CQuorvaneDlg& dlg) { dlg.OnTaskResult(std::move(*holder)); });
}

void CQuorvaneDlg::PostTaskProof(std::unique_ptr<TaskResult> proof) {
    auto holder = std::make_shared<std::unique_ptr<TaskResult>>(std::move(proof));
    PostReport(WM_TASK_PROOF, [holder](CQuorvaneDlg& dlg) { dlg.OnTaskProof(std::move(*holder)); });
}

void CQuorvaneDlg::PostTaskProgress(std::uint32_t finished) {
    PostReport(WM_TASK_PROGRESS, [finished](CQuorvaneDlg& dlg) { dlg.OnTaskProgress(finished); });
}

void CQuorvaneDlg::PostBatchDone(std::int32_t kind) {
    PostReport(WM_BATCH_DONE, [kind](CQuorvaneDlg& dlg) { dlg.OnBatchDone(kind); });
}

void CQuorvaneDlg::PostLiveState(const LiveState& state) {
    PostReport(WM_LIVE_STATE, [state](CQuorvaneDlg& dlg) { dlg.OnLiveState(state); });
}

void CQuorvaneDlg::OnLiveState(const LiveState& state) {
    const int row = m_listDevices.FindByMac(state.mac);
    if (row < 0) {
        return;
    }
    CameraRowUpdate update;
    update.row = row;
    update.kind = m_dispatcher.Batch().settings.kind;
    update.mac = state.mac;
    update.ip = state.ip;
    update.live = &state;
    update.status = LiveText(state);
    m_listDevices.SetText(row, kColStatus, update.status);
    m_view.CameraChanged(update);
}

void CQuorvaneDlg::OnTaskResult(std::unique_ptr<TaskResult> result) {
    if (!result) {
        return;
    }
    const std::string aux = FieldText(result->aux);
    const std::string ip = FieldText(result->ip);
    const int row = m_listDevices.FindByMac(aux);
    m_session.Add(*result, row >= 0 ? &m_listDevices.Row(row) : nullptr);
    if (row < 0) {
        return;
    }
    const char* status = FinishedText(result->kind, result->result, result->outcome);
    if ((result->kind == TASK_MODIFY_IP || result->kind == TASK_RESTORE_IP) &&
        result->result == 1) {
        m_listDevices.SetText(row, kColIp, ip);
        // What it was given, so that a later plan or undo starts from it.
        // A plan without a gateway kept the camera's; the specified request
        // let the camera choose one.
        const ReportCamera& recorded = m_session.Record().cameras.back();
        const std::string gateway = recorded.gateway.empty() && m_session.Planned(aux)
                                        ? m_listDevices.Row(row).gateway
                                        : recorded.gateway;
        m_listDevices.SetAddress(row, recorded.mask, gateway);
    }
    m_listDevices.SetText(row, kColStatus, status);
    AppendLog("[%s] %s %s", aux.c_str(), ip.c_str(), status);

    ShowDetail(row, *result, status, false);
    TellCanaryPassed();
}

void CQuorvaneDlg::TellCanaryPassed() {
    if (m_canaryTold) {
        return;
    }
    const BatchStatus batch = m_dispatcher.Batch();
    if (!batch.canaryPassed) {
        return;
    }
    m_canaryTold = true;
    if (batch.settings.total > batch.canaries) {
        AppendLog("%s",
                  CanaryPassedText(batch.canaries, batch.settings.total - batch.canaries).c_str());
    }
}

void CQuorvaneDlg::ShowDetail(int row, const TaskResult& result, const char* status, bool proof) {
    const std::string aux = FieldText(result.aux);
    const std::string ip = FieldText(result.ip);
    // What is known beyond the specified line goes beside it, never into it.
    std::string detail = DetailText(result.outcome, m_listDevices.Row(row).foreignOf);
    if (result.kind == TASK_MODIFY_IP) {
        if (const auto note = m_ipNotes.find(aux); note != m_ipNotes.end()) {
            detail = detail.empty() ? note->second : note->second + "；" + detail;
        }
    }
    m_listDevices.SetText(row, kColDetail, detail);
    // A proven camera runs what it was seen with after its reboot.
    const VerifyResult seen = result.outcome.verify;
    if (result.kind == TASK_UPGRADE && result.result == 1 && !result.outcome.versionAfter.empty() &&
        (seen == VerifyResult::NewVersion || seen == VerifyResult::NamedVersion)) {
        m_listDevices.SetText(row, kColSoft, result.outcome.versionAfter);
    }
    if (!detail.empty()) {
        AppendLog("[%s] %s %s", aux.c_str(), ip.c_str(), detail.c_str());
    }
    CameraRowUpdate update;
    update.row = row;
    update.kind = result.kind;
    update.mac = aux;
    update.ip = ip;
    update.outcome = &result.outcome;
    update.result = result.result;
    update.status = status;
    update.detail = detail;
    update.proof = proof;
    m_view.CameraChanged(update);
}

void CQuorvaneDlg::OnTaskProof(std::unique_ptr<TaskResult> proof) {
    if (!proof) {
        return;
    }
    m_session.Prove(*proof);
    const int row = m_listDevices.FindByMac(FieldText(proof->aux));
    if (row < 0) {
        return;
    }
    // The live states of the check wrote over the status; the verdict's comes back.
    const char* status = StatusText(proof->kind, proof->result);
    m_listDevices.SetText(row, kColStatus, status);
    ShowDetail(row, *proof, status, true);
    TellCanaryPassed();
}

void CQuorvaneDlg::OnTaskProgress(std::uint32_t finished) {
    m_view.SetProgressPos(static_cast<int>(std::min<std::uint32_t>(finished, 0x7FFFFFFF)));
}

void CQuorvaneDlg::OnBatchDone(std::int32_t kind) {
    m_session.End(Now());
    m_view.EnableControl(IDC_STOP, false);
    const BatchStatus batch = m_dispatcher.Batch();
    if (batch.heldByCanary) {
        AppendLog("%s",
                  CanaryHeldText(platform::EscapeForTerminal(batch.canaryMac),
                                 platform::EscapeForTerminal(batch.canaryIp), m_session.Skipped())
                      .c_str());
    } else if (batch.held) {
        AppendLog("失败设备已达%u台，其余%u台暂缓，未开始", batch.settings.maxFailures,
                  m_session.Skipped());
    } else if (batch.stopped) {
        AppendLog("批量任务已停止：%u台设备未开始", m_session.Skipped());
    }
    // The batch's record: one summary line, and the report beside the log.
    AppendLog("%s%s", BatchName(kind), SummaryLine(m_session.Record()).c_str());
    if (!m_session.Save(m_strStateDir)) {
        AppendLog("%s", m_session.SaveFailure().c_str());
    }
    if (const char* text = CompletionText(kind)) {
        ShowMessage("%s", text);
    }
    RemoveTempDir(std::string(m_upgrade.WorkDir()));
    m_session.ReleaseLock();
    EnableControls(true);
}

// ---- The batch: its lock, its start, its stop and its retry ----

bool CQuorvaneDlg::TakeBatchLock() {
    const std::string lockPath = BatchLockPath();
    std::string why;
    switch (m_session.TakeLock(lockPath, &why)) {
        case platform::FileLock::Result::Locked:
            return true;
        case platform::FileLock::Result::Busy:
            ShowMessage("另一个Quorvane正在执行批量任务，请等它完成后再试");
            return false;
        case platform::FileLock::Result::Error:
            ShowMessage("无法锁定批量任务：%s：%s", platform::EscapeForTerminal(lockPath).c_str(),
                        why.c_str());
            return false;
    }
    return false;
}

bool CQuorvaneDlg::StartBatch(const BatchSettings& batch, const std::string& request) {
    if (!TakeBatchLock()) {
        return false;
    }
    const TaskKind kind = batch.kind;
    const std::uint32_t total = batch.total;
    m_ipNotes.clear();
    m_canaryTold = !(kind == TASK_UPGRADE && batch.canary.On());
    AppendLog("开始%s：%u台设备，%s", BatchName(kind), total,
              platform::EscapeForTerminal(request).c_str());
    m_dispatcher.BeginBatch(batch);
    m_view.SetProgressRange(0, static_cast<int>(total));
    m_view.SetProgressPos(0);
    m_session.Begin(kind, m_strTitle, Now());
    m_view.EnableControl(IDC_STOP, true);
    return true;
}

void CQuorvaneDlg::OnBnClickedStop() {
    if (m_scanning) {
        CancelScan();
        return;
    }
    switch (m_session.NextStop()) {
        case BatchSession::StopStep::Nothing:
            return;
        case BatchSession::StopStep::StopWaiting:
            m_session.StopTaken();
            AppendLog("正在停止：未开始的设备不再处理，进行中的设备完成后结束");
            m_dispatcher.StopBatch(false);
            return;
        case BatchSession::StopStep::AbandonTransfers:
            if (!m_view.Confirm("放弃正在进行的传输吗？设备会丢弃未传完的文件")) {
                return;
            }
            m_session.StopTaken();
            AppendLog("已放弃正在进行的传输");
            m_view.EnableControl(IDC_STOP, false);
            m_dispatcher.StopBatch(true);
            return;
    }
}

int CQuorvaneDlg::TickRowsToRetry() {
    int ticked = 0;
    for (int i = 0; i < m_listDevices.Count(); ++i) {
        const bool retry = m_session.ToRetry(m_listDevices.Row(i).mac);
        m_listDevices.Tick(i, retry);
        ticked += retry ? 1 : 0;
    }
    if (ticked == 0) {
        ShowMessage("没有失败或未升级的设备");
    }
    return ticked;
}

void CQuorvaneDlg::RemoveTempDir(const std::string& path) {
    if (path.empty()) {
        return;
    }
    // Only a workspace of this tool is ever removed, whatever the path says.
    platform::RemoveWorkspaceTree(path);
}

// ---- Log button and browse ----

void CQuorvaneDlg::OnBnClickedUpgradeLog() {
    const std::string path = m_log.GetPath();
    if (path.empty()) {
        ShowMessage("无操作记录");
        return;
    }
    if (!m_view.OpenInEditor(path)) {
        // In the pane only, where the technician looks after the click.
        m_view.AppendToLogPane("无法打开升级日志，请手动打开：" +
                               platform::EscapeForTerminal(path) + "\r\n");
    }
}

void CQuorvaneDlg::OnBnClickedBrowse() {
    if (auto chosen = m_view.BrowseForFile()) {
        m_strUpdateFile = *chosen;
        m_view.SetFileEditText(m_strUpdateFile);
    }
}

}  // namespace app
