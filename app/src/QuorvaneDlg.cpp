#include "app/QuorvaneDlg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

#include "app/Decimal.h"
#include "app/IpBatch.h"
#include "app/NaturalCompare.h"
#include "app/OutcomeText.h"
#include "app/WindowDescription.h"
#include "pack/PackLog.h"
#include "platform/AppFolders.h"
#include "platform/ExeDir.h"
#include "platform/IniFile.h"
#include "platform/Md5.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"
#include "platform/Version.h"
#include "platform/WholeFile.h"
#include "platform/Workspace.h"

namespace app {

std::int32_t g_bSortAscending = 1;

// The caption is a fixed text; it must name the version the build carries.
static_assert(std::string_view(kTitle).find("V" QV_VERSION "(") != std::string_view::npos);

namespace {

__attribute__((format(printf, 1, 0))) std::string VFormat(const char* format, va_list args) {
    if (format == nullptr) {
        return {};
    }
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// A NUL-terminated text inside a fixed field, never read past the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string IpText(const std::uint8_t (&ip)[4]) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
    return text;
}

std::string MacText(const std::uint8_t (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

const char* StatusText(std::int32_t kind, std::int32_t result) {
    if (result != 0 && result != 1) {
        return "";
    }
    const bool ok = result == 1;
    switch (kind) {
        case TASK_MODIFY_IP:
            return ok ? "修改IP成功" : "修改IP失败";
        case TASK_RESTORE_IP:
            return ok ? "恢复默认IP成功" : "恢复默认IP失败";
        case TASK_UPGRADE:
            return ok ? "升级成功" : "升级失败";
        default:
            return "";
    }
}

// A camera of a stopped batch that was never started.
const char* SkippedText(std::int32_t kind, ReasonCode why) {
    const bool upgrade = kind == TASK_UPGRADE;
    if (why == ReasonCode::Held) {
        return upgrade ? "未升级（已暂缓）" : "未修改（已暂缓）";
    }
    return upgrade ? "未升级（已停止）" : "未修改（已停止）";
}

// A whole number in [low, high] written in config.ini, decimal digits only.
std::optional<long> ConfigNumber(const std::string& text, long low, long high) {
    const auto v = ParseDecimal(text, low, high);
    return v ? std::optional<long>(static_cast<long>(*v)) : std::nullopt;
}

constexpr const char* kKeyParallel = "upgrade_parallel";
constexpr const char* kKeyMaxFailures = "upgrade_max_failures";
constexpr const char* kKeyProbeMs = "upgrade_probe_ms";
constexpr long kMaxFailuresLimit = 100000;

const char* CompletionText(std::int32_t kind) {
    switch (kind) {
        case TASK_MODIFY_IP:
            return "批量修改IP完成";
        case TASK_RESTORE_IP:
            return "批量恢复默认IP完成";
        case TASK_UPGRADE:
            return "批量升级完成";
        default:
            return nullptr;
    }
}

const char* BatchName(std::int32_t kind) {
    switch (kind) {
        case TASK_MODIFY_IP:
            return "批量修改IP";
        case TASK_RESTORE_IP:
            return "批量恢复默认IP";
        case TASK_UPGRADE:
            return "批量升级";
        default:
            return "批量任务";
    }
}

const char* ReportKind(std::int32_t kind) {
    switch (kind) {
        case TASK_MODIFY_IP:
            return "modify-ip";
        case TASK_RESTORE_IP:
            return "restore-ip";
        default:
            return "upgrade";
    }
}

std::string TimeText(const platform::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string IdText(const platform::LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d%02d%02d-%02d%02d%02d-%03d", t.year % 10000, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return text;
}

// The update file's size and MD5 for the batch's record; empty when unreadable.
void DescribeFile(const std::string& path, ReportRequest& request) {
    std::string why;
    const auto bytes = platform::ReadRegularFile(path, std::size_t{256} << 20, &why);
    if (!bytes) {
        return;
    }
    request.fileBytes = bytes->size();
    platform::Md5 md5;
    md5.update(bytes->data(), bytes->size());
    const platform::Digest d = md5.finish();
    if (md5.ok()) {
        request.fileMd5 = platform::DigestHex(d);
    }
}

}  // namespace

SearchApi SearchApi::Real() {
    SearchApi api;
    api.Init = &Net_Init;
    api.UNinit = &Net_UNinit;
    api.FindDevice = &Net_FindDevice;
    api.Log = &Net_Log;
    api.GetInitError = &Net_GetInitError;
    api.GetVerifyTimeout = &Net_GetVerifyTimeout;
    api.GetSearchTarget = &Net_GetSearchTarget;
    return api;
}

TaskDispatcher CQuorvaneDlg::MakeDispatcher(const DialogDeps& deps) {
    if (deps.helper) {
        return TaskDispatcher(deps.net, *deps.helper);
    }
    // The helper library is where the folder rule keeps it (beside the
    // executable, or in the private library folder when installed), even when
    // --config-dir moves config.ini and the logs elsewhere.
    return TaskDispatcher(deps.net,
                          deps.libDir.empty() ? platform::CurrentFolders().libDir : deps.libDir);
}

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
    m_batchLock.Release();
}

void CQuorvaneDlg::OnInitDialog() {
    m_view.SetCaption(m_strTitle);
    m_strExeDir = m_deps.configDir.empty() ? platform::ExeDir() : m_deps.configDir;
    // The folder rule says where config.ini is read and the day's log written;
    // a folder given in the dependencies takes the place of both.
    platform::FolderInputs where =
        m_deps.folders ? *m_deps.folders : platform::CurrentFolderInputs();
    if (!m_deps.configDir.empty()) {
        where.configDirOverride = m_deps.configDir;
    }
    const platform::AppFolders folders = platform::DecideFolders(where);
    m_strConfigFile = folders.ConfigFile("config.ini");
    m_strStateDir = folders.stateDir.empty() ? std::string(".") : folders.stateDir;
    platform::MakeStateDir(folders, nullptr);  // a log that cannot open says so below

    const platform::LocalTime today = m_deps.clock ? m_deps.clock() : platform::Now();
    char name[32];
    std::snprintf(name, sizeof(name), "%04d_%02d_%02d.log", today.year, today.month, today.day);
    if (!m_log.Open(folders.StateFile(name), &m_logOpenError) && m_logOpenError.empty()) {
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
    const std::string parallel =
        platform::GetPrivateProfileString("config", kKeyParallel, "", m_strConfigFile);
    if (!parallel.empty()) {
        if (const auto n = ConfigNumber(parallel, 1, TaskDispatcher::kMaxParallel)) {
            m_view.SetUpgradeParallel(static_cast<int>(*n));
        } else {
            AppendLog("config.ini 中的%s“%s”不可用，应为1到%d之间的整数", kKeyParallel,
                      platform::EscapeForTerminal(parallel).c_str(), TaskDispatcher::kMaxParallel);
        }
    }
}

void CQuorvaneDlg::EnableControls(bool enable) {
    m_view.EnableWindow(enable);
    for (ControlId id : {IDC_SEARCH, IDC_SELECT_ALL, IDC_UPGRADE_LOG, IDC_BROWSE, IDC_MODIFY_IP,
                         IDC_RESTORE_IP, IDC_SYNC_TIME, IDC_UPGRADE}) {
        m_view.EnableControl(id, enable);
    }
}

void CQuorvaneDlg::ShowMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = VFormat(format, args);
    va_end(args);
    m_view.MessageBox(text);
}

void CQuorvaneDlg::AppendLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
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
    m_listDevices.DeleteAllRows();
    m_view.SetWaitCursor(true);
    EnableControls(false);

    if (m_deps.search.FindDevice != nullptr) {
        m_deps.search.FindDevice(&CQuorvaneDlg::OnDeviceFound, this);
    }

    for (const tNetDeviceInfo& dev : m_devices) {
        const int p = m_listDevices.InsertRow();
        m_listDevices.SetCellText(p, kColNumber, std::to_string(p));
        m_listDevices.SetCellText(p, kColStatus, "等待升级");
        m_listDevices.SetCellText(p, kColIp, IpText(dev.ucIp));
        m_listDevices.SetCellText(p, kColMac, MacText(dev.ucMac));
        m_listDevices.SetCellText(p, kColSoft, FieldText(dev.szSoftVersion));
        m_listDevices.SetCellText(p, kColHard, FieldText(dev.szHardVersion));
        m_listDevices.SetCellText(p, kColType, FieldText(dev.szDevType));
        m_listDevices.SetItemData(p, p);
    }

    SortList(kColIp, 1);
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        m_listDevices.SetCellText(i, kColNumber, std::to_string(i + 1));
        m_listDevices.SetItemData(i, i);
    }

    // Said in the pane only: a count, or where the search went when it found
    // nothing, so an empty LAN can be told from a wrong configuration.
    if (rows > 0) {
        m_view.AppendToLogPane("搜索到" + std::to_string(rows) + "台设备\r\n");
    } else {
        char address[64] = {};
        int ports[3] = {};
        if (m_deps.search.GetSearchTarget != nullptr &&
            m_deps.search.GetSearchTarget(address, sizeof(address), ports) == 0) {
            char text[256];
            std::snprintf(text, sizeof(text),
                          "未搜索到设备（发现地址 %s，端口 %d；控制端口 %d，改IP端口 %d）\r\n",
                          platform::EscapeForTerminal(address).c_str(), ports[0], ports[1],
                          ports[2]);
            m_view.AppendToLogPane(text);
        } else {
            m_view.AppendToLogPane("未搜索到设备\r\n");
        }
    }
    EnableControls(true);
    m_view.SetWaitCursor(false);
}

int CQuorvaneDlg::CompareListItems(std::intptr_t item1, std::intptr_t item2, const SortInfo& info) {
    if (info.list == nullptr) {
        return 0;
    }
    const std::intptr_t rows = info.list->RowCount();
    if (item1 < 0 || item2 < 0 || item1 >= rows || item2 >= rows) {
        return 0;
    }
    const std::string a = info.list->CellText(static_cast<int>(item1), info.column);
    const std::string b = info.list->CellText(static_cast<int>(item2), info.column);
    const int c = NaturalCompare(a, b);
    if ((info.ascending == 1 && c > 0) || (info.ascending == 0 && c < 0)) {
        return 1;
    }
    return 0;
}

void CQuorvaneDlg::SortList(std::int32_t column, std::int32_t ascending) {
    const int rows = m_listDevices.RowCount();
    if (rows < 2) {
        return;
    }
    const SortInfo info{&m_listDevices, column, ascending};
    std::vector<std::intptr_t> data(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        data[static_cast<std::size_t>(i)] = m_listDevices.ItemData(i);
    }
    std::vector<int> order(static_cast<std::size_t>(rows));
    std::iota(order.begin(), order.end(), 0);
    // The comparison only says "belongs after"; a stable merge keeps rows that
    // compare equal in their previous order, as the list's own sort does.
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        return CompareListItems(data[static_cast<std::size_t>(y)],
                                data[static_cast<std::size_t>(x)], info) > 0;
    });
    m_listDevices.ReorderRows(order);
}

void CQuorvaneDlg::OnBnClickedSelectAll() {
    const bool checked = m_view.IsChecked(IDC_SELECT_ALL);
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        m_listDevices.SetRowChecked(i, checked);
    }
}

void CQuorvaneDlg::OnLvnColumnclickDeviceList(int column) {
    if (m_listDevices.RowCount() == 0 || column == kColNumber) {
        return;
    }
    if (!SortsBy(column)) {
        return;
    }
    g_bSortAscending = g_bSortAscending == 0 ? 1 : 0;
    SortList(column, g_bSortAscending);
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        m_listDevices.SetCellText(i, kColNumber, std::to_string(i));
        m_listDevices.SetItemData(i, i);
    }
}

// ---- Results, progress and batch completion ----

void CQuorvaneDlg::PostTaskResult(std::unique_ptr<TaskResult> result) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    auto holder = std::make_shared<std::unique_ptr<TaskResult>>(std::move(result));
    m_view.PostReport(WM_TASK_RESULT, [alive, holder] {
        if (auto dlg = alive.lock()) {
            (*dlg)->OnTaskResult(std::move(*holder));
        }
    });
}

void CQuorvaneDlg::PostTaskProof(std::unique_ptr<TaskResult> proof) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    auto holder = std::make_shared<std::unique_ptr<TaskResult>>(std::move(proof));
    m_view.PostReport(WM_TASK_PROOF, [alive, holder] {
        if (auto dlg = alive.lock()) {
            (*dlg)->OnTaskProof(std::move(*holder));
        }
    });
}

void CQuorvaneDlg::PostTaskProgress(std::uint32_t finished) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    m_view.PostReport(WM_TASK_PROGRESS, [alive, finished] {
        if (auto dlg = alive.lock()) {
            (*dlg)->OnTaskProgress(finished);
        }
    });
}

void CQuorvaneDlg::PostBatchDone(std::int32_t kind) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    m_view.PostReport(WM_BATCH_DONE, [alive, kind] {
        if (auto dlg = alive.lock()) {
            (*dlg)->OnBatchDone(kind);
        }
    });
}

void CQuorvaneDlg::PostLiveState(const LiveState& state) {
    std::weak_ptr<CQuorvaneDlg*> alive = m_alive;
    m_view.PostReport(WM_LIVE_STATE, [alive, state] {
        if (auto dlg = alive.lock()) {
            (*dlg)->OnLiveState(state);
        }
    });
}

int CQuorvaneDlg::FindRowByMac(const std::string& mac) const {
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        if (m_listDevices.CellText(i, kColMac) == mac) {
            return i;
        }
    }
    return -1;
}

void CQuorvaneDlg::OnLiveState(const LiveState& state) {
    const int row = FindRowByMac(state.mac);
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
    m_listDevices.SetCellText(row, kColStatus, update.status);
    m_view.CameraChanged(update);
}

void CQuorvaneDlg::OnTaskResult(std::unique_ptr<TaskResult> result) {
    if (!result) {
        return;
    }
    const std::string aux = FieldText(result->aux);
    const std::string ip = FieldText(result->ip);
    const ReasonCode why = result->outcome.reason;
    const bool skipped = why == ReasonCode::NotStarted || why == ReasonCode::Held;
    m_skipped += skipped ? 1u : 0u;
    NoteRetry(aux, *result);
    if (result->kind == TASK_UPGRADE && why == ReasonCode::MayHaveFile) {
        m_mayHave.insert(aux);  // its version is checked before it is sent to again
    } else if (result->kind == TASK_UPGRADE && !skipped) {
        m_mayHave.erase(aux);
    }
    const int row = FindRowByMac(aux);
    ReportCamera camera;
    camera.mac = aux;
    camera.ip = ip;
    camera.ipAfter = ip;
    camera.result = result->result;
    camera.skipped = skipped ? static_cast<std::int32_t>(why) : 0;
    camera.outcome = result->outcome;
    if (row >= 0) {
        camera.type = m_listDevices.CellText(row, kColType);
        camera.hw = m_listDevices.CellText(row, kColHard);
        if (camera.outcome.versionBefore.empty()) {
            camera.outcome.versionBefore = m_listDevices.CellText(row, kColSoft);
        }
    }
    const char* override = StatusOverride(result->outcome);
    const char* status = skipped    ? SkippedText(result->kind, why)
                         : override ? override
                                    : StatusText(result->kind, result->result);
    camera.status = status;  // what the list and the log say
    camera.outcome.proofFollows = false;
    camera.detail = DetailText(result->outcome);
    m_report.cameras.push_back(std::move(camera));
    if (row < 0) {
        return;
    }
    if ((result->kind == TASK_MODIFY_IP || result->kind == TASK_RESTORE_IP) &&
        result->result == 1) {
        m_listDevices.SetCellText(row, kColIp, ip);
    }
    m_listDevices.SetCellText(row, kColStatus, status);
    AppendLog("[%s] %s %s", aux.c_str(), ip.c_str(), status);

    // What is known beyond the specified line goes beside it, never into it.
    const std::string detail = DetailText(result->outcome);
    m_listDevices.SetCellText(row, kColDetail, detail);
    if (!detail.empty()) {
        AppendLog("[%s] %s %s", aux.c_str(), ip.c_str(), detail.c_str());
    }
    CameraRowUpdate update;
    update.row = row;
    update.kind = result->kind;
    update.mac = aux;
    update.ip = ip;
    update.outcome = &result->outcome;
    update.result = result->result;
    update.status = status;
    update.detail = detail;
    m_view.CameraChanged(update);
}

void CQuorvaneDlg::NoteRetry(const std::string& mac, const TaskResult& result) {
    if (result.kind != TASK_UPGRADE) {
        return;
    }
    // A camera that took the file but did not come back as it should is
    // worth another try as much as one that failed.
    const VerifyResult v = result.outcome.verify;
    const bool proven = v == VerifyResult::NotChecked || v == VerifyResult::NewVersion ||
                        v == VerifyResult::NamedVersion;
    if (result.result == 1 && proven) {
        m_toRetry.erase(mac);
    } else {
        m_toRetry.insert(mac);
    }
}

void CQuorvaneDlg::OnTaskProof(std::unique_ptr<TaskResult> proof) {
    if (!proof) {
        return;
    }
    const std::string aux = FieldText(proof->aux);
    const std::string ip = FieldText(proof->ip);
    NoteRetry(aux, *proof);
    const std::string detail = DetailText(proof->outcome);
    // The record kept since the verdict takes what the check learnt.
    for (auto it = m_report.cameras.rbegin(); it != m_report.cameras.rend(); ++it) {
        if (it->mac == aux) {
            const std::string before = it->outcome.versionBefore;
            it->outcome = proof->outcome;
            if (it->outcome.versionBefore.empty()) {
                it->outcome.versionBefore = before;
            }
            it->detail = detail;
            break;
        }
    }
    const int row = FindRowByMac(aux);
    if (row < 0) {
        return;
    }
    // The live states of the check wrote over the status; the verdict's comes back.
    const char* status = StatusText(proof->kind, proof->result);
    m_listDevices.SetCellText(row, kColStatus, status);
    m_listDevices.SetCellText(row, kColDetail, detail);
    if (!detail.empty()) {
        AppendLog("[%s] %s %s", aux.c_str(), ip.c_str(), detail.c_str());
    }
    CameraRowUpdate update;
    update.row = row;
    update.kind = proof->kind;
    update.mac = aux;
    update.ip = ip;
    update.outcome = &proof->outcome;
    update.result = proof->result;
    update.status = status;
    update.detail = detail;
    update.proof = true;
    m_view.CameraChanged(update);
}

void CQuorvaneDlg::OnTaskProgress(std::uint32_t finished) {
    m_view.SetProgressPos(static_cast<int>(std::min<std::uint32_t>(finished, 0x7FFFFFFF)));
}

void CQuorvaneDlg::OnBatchDone(std::int32_t kind) {
    m_batchRunning = false;
    m_view.EnableControl(IDC_STOP, false);
    const BatchStatus batch = m_dispatcher.Batch();
    if (batch.held) {
        AppendLog("失败设备已达%u台，其余%u台暂缓，未开始", batch.settings.maxFailures, m_skipped);
    } else if (batch.stopped) {
        AppendLog("批量任务已停止：%u台设备未开始", m_skipped);
    }
    // The batch's record: one summary line, and the report beside the log.
    const platform::LocalTime now = m_deps.clock ? m_deps.clock() : platform::Now();
    m_report.finished = TimeText(now);
    m_report.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - m_batchStarted)
                              .count();
    AppendLog("%s%s", BatchName(kind), SummaryLine(m_report).c_str());
    std::string why;
    m_reportPath.clear();
    m_reportFailure.clear();
    if (!WriteReport(m_strStateDir, m_report, &m_reportPath, &why)) {
        m_reportPath.clear();
        m_reportFailure = "无法保存批次记录：" + platform::EscapeForTerminal(why);
        AppendLog("%s", m_reportFailure.c_str());
    }
    if (const char* text = CompletionText(kind)) {
        ShowMessage("%s", text);
    }
    RemoveTempDir(std::string(m_upgrade.WorkDir()));
    m_batchLock.Release();
    EnableControls(true);
}

bool CQuorvaneDlg::TakeBatchLock() {
    if (m_batchLock.Held()) {
        return true;
    }
    const std::string lockPath = BatchLockPath();
    std::string why;
    switch (m_batchLock.TryLock(lockPath, &why)) {
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
    AppendLog("开始%s：%u台设备，%s", BatchName(kind), total,
              platform::EscapeForTerminal(request).c_str());
    m_dispatcher.BeginBatch(batch);
    m_view.SetProgressRange(0, static_cast<int>(total));
    m_view.SetProgressPos(0);
    m_batchRunning = true;
    m_batchKind = kind;
    const platform::LocalTime now = m_deps.clock ? m_deps.clock() : platform::Now();
    m_report = {};
    m_report.id = IdText(now);
    m_report.kind = ReportKind(kind);
    m_report.tool = m_strTitle;
    m_report.started = TimeText(now);
    m_batchStarted = std::chrono::steady_clock::now();
    m_stopPresses = 0;
    m_skipped = 0;
    m_view.EnableControl(IDC_STOP, true);
    return true;
}

void CQuorvaneDlg::OnBnClickedStop() {
    if (!m_batchRunning) {
        return;
    }
    if (m_stopPresses == 0) {
        m_stopPresses = 1;
        AppendLog("正在停止：未开始的设备不再处理，进行中的设备完成后结束");
        m_dispatcher.StopBatch(false);
        return;
    }
    if (m_stopPresses == 1 && m_batchKind == TASK_UPGRADE) {
        if (!m_view.Confirm("放弃正在进行的传输吗？设备会丢弃未传完的文件")) {
            return;
        }
        m_stopPresses = 2;
        AppendLog("已放弃正在进行的传输");
        m_view.EnableControl(IDC_STOP, false);
        m_dispatcher.StopBatch(true);
    }
}

int CQuorvaneDlg::TickRowsToRetry() {
    int ticked = 0;
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        const bool retry = m_toRetry.count(m_listDevices.CellText(i, kColMac)) != 0;
        m_listDevices.SetRowChecked(i, retry);
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

bool CQuorvaneDlg::ExportList(const std::string& path) {
    std::string csv = "\xEF\xBB\xBF";  // spreadsheets take UTF-8 only with its mark
    for (const ColumnSpec& c : kColumns) {
        csv += std::string(c.column != 0 ? "," : "") + c.heading;
    }
    csv += "\r\n";
    for (int r = 0; r < m_listDevices.RowCount(); ++r) {
        for (int c = 0; c < kColumnCount; ++c) {
            csv += std::string(c ? "," : "") + CsvField(m_listDevices.CellText(r, c));
        }
        csv += "\r\n";
    }
    const std::filesystem::path p = platform::FsPath(path);
    const std::string dir =
        p.has_parent_path() ? platform::Utf8Path(p.parent_path()) : std::string(".");
    std::string why;
    if (p.filename().empty() ||
        !platform::WriteWholeFile(dir, platform::Utf8Path(p.filename()), csv, &why)) {
        ShowMessage("无法导出列表：%s",
                    platform::EscapeForTerminal(why.empty() ? path : why).c_str());
        return false;
    }
    m_view.AppendToLogPane("列表已导出到 " + platform::EscapeForTerminal(path) + "\r\n");
    return true;
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

upgrade::RequestEnv CQuorvaneDlg::MakeRequestEnv() {
    upgrade::RequestEnv env;
    env.showMessage = [this](const std::string& text) { ShowMessage("%s", text.c_str()); };
    if (auto* log = m_deps.search.Log) {
        env.netLog = [log](const std::string& line) { log("%s", line.c_str()); };
    }
    env.clock = m_deps.clock;
    return env;
}

bool CQuorvaneDlg::ReadUpgradeSettings(std::uint32_t* maxFailures, int* probeMs) {
    struct Key {
        const char* name;
        long low, high, fallback;
        std::optional<long> given;
        long value = 0;
    };
    Key keys[] = {
        // The box started at this key; a key that cannot be used refuses like the others.
        {kKeyParallel, 1, TaskDispatcher::kMaxParallel, 1,
         m_overrides.parallel ? std::optional<long>(*m_overrides.parallel) : std::nullopt},
        {kKeyMaxFailures, 0, kMaxFailuresLimit, 0,
         m_overrides.maxFailures ? std::optional<long>(*m_overrides.maxFailures) : std::nullopt},
        {kKeyProbeMs, 0, TaskDispatcher::kMaxProbeMs, TaskDispatcher::kDefaultProbeMs,
         m_overrides.probeMs ? std::optional<long>(*m_overrides.probeMs) : std::nullopt},
    };
    for (Key& key : keys) {
        if (key.given) {
            key.value = *key.given;
            continue;
        }
        // Read at every press, like the default IP; a value that cannot be
        // used refuses the request rather than be replaced by a guess.
        const std::string text =
            platform::GetPrivateProfileString("config", key.name, "", m_strConfigFile);
        const auto n = text.empty() ? std::optional<long>(key.fallback)
                                    : ConfigNumber(text, key.low, key.high);
        if (!n) {
            ShowMessage("config.ini 中的%s“%s”不可用，应为%ld到%ld之间的整数", key.name,
                        platform::EscapeForTerminal(text).c_str(), key.low, key.high);
            return false;
        }
        key.value = *n;
    }
    *maxFailures = static_cast<std::uint32_t>(keys[1].value);
    *probeMs = static_cast<int>(keys[2].value);
    return true;
}

bool CQuorvaneDlg::PrepareUpgrade(std::vector<PlannedUpgrade>* plan, bool forBatch) {
    EnableControls(false);
    if (m_listDevices.RowCount() == 0) {
        ShowMessage("请先搜索设备");
        EnableControls(true);
        return false;
    }
    const std::vector<int> ticked = TickedRows();
    std::vector<upgrade::SelectedCamera> cameras;
    cameras.reserve(ticked.size());
    for (int row : ticked) {
        cameras.push_back({m_listDevices.CellText(row, kColType),
                           m_listDevices.CellText(row, kColSoft),
                           m_listDevices.CellText(row, kColHard)});
    }
    if (m_upgrade.Group(cameras) != upgrade::GroupResult::Ok) {
        EnableControls(true);
        return false;
    }
    // Before any unpacking: a batch that will be refused must not cost one.
    if (forBatch && !TakeBatchLock()) {
        EnableControls(true);
        return false;
    }
    auto refuse = [this, forBatch] {
        if (forBatch) {
            m_batchLock.Release();
        }
        EnableControls(true);
        return false;
    };

    // Unpacking and composing a large pack takes a while.
    m_view.SetWaitCursor(true);
    m_strUpdateFile = m_view.FileEditText();
    const bool prepared =
        m_upgrade.PrepareUpgradeFile(m_strUpdateFile, m_view.IsChecked(IDC_FORCE_UPGRADE));
    m_view.SetWaitCursor(false);
    if (!prepared) {
        return refuse();
    }
    // The request may have dropped blanks pasted after the path.
    m_strUpdateFile = m_upgrade.UpdateFile();

    // Each row's file, chosen by its hardware version read again from the list.
    plan->clear();
    plan->reserve(ticked.size());
    for (int row : ticked) {
        const std::string* file = m_upgrade.FileFor(m_listDevices.CellText(row, kColHard));
        if (file == nullptr) {
            ShowMessage("升级文件硬件版本不匹配");
            m_upgrade.DiscardWorkspace();
            return refuse();
        }
        plan->push_back(
            {m_listDevices.CellText(row, kColIp), m_listDevices.CellText(row, kColMac), *file});
    }
    return true;
}

bool CQuorvaneDlg::PlanUpgrade(
    const std::function<void(const std::vector<PlannedUpgrade>&)>& show) {
    std::vector<PlannedUpgrade> plan;
    if (!PrepareUpgrade(&plan, false)) {
        return false;
    }
    std::uint32_t maxFailures = 0;
    int probeMs = 0;
    const bool settings = ReadUpgradeSettings(&maxFailures, &probeMs);
    if (settings && show) {
        show(plan);
    }
    m_upgrade.DiscardWorkspace();
    EnableControls(true);
    return settings;
}

void CQuorvaneDlg::OnBnClickedUpgrade() {
    std::vector<PlannedUpgrade> plan;
    if (!PrepareUpgrade(&plan, true)) {
        return;
    }
    auto refuse = [this] {
        m_upgrade.DiscardWorkspace();
        m_batchLock.Release();
        EnableControls(true);
    };
    std::uint32_t maxFailures = 0;
    int probeMs = 0;
    if (!ReadUpgradeSettings(&maxFailures, &probeMs)) {
        refuse();
        return;
    }
    const int parallel = std::clamp(m_overrides.parallel.value_or(m_view.UpgradeParallel()), 1,
                                    TaskDispatcher::kMaxParallel);

    BatchSettings batch{.kind = TASK_UPGRADE, .total = static_cast<std::uint32_t>(plan.size())};
    batch.syncTime = m_view.IsChecked(IDC_SYNC_TIME);
    batch.upgrade = m_upgrade.UpgradeInfo();
    batch.parallel = parallel;
    batch.maxFailures = maxFailures;
    batch.probeMs = probeMs;
    int verifyMs = 0;
    if (m_verifyOverride) {
        verifyMs = *m_verifyOverride;
    } else if (m_deps.search.GetVerifyTimeout != nullptr) {
        verifyMs = m_deps.search.GetVerifyTimeout();
    }
    batch.verifyTimeoutMs = verifyMs;
    const bool forced = m_view.IsChecked(IDC_FORCE_UPGRADE);
    std::string request = (forced ? "强制升级文件 " : "升级文件 ") + m_strUpdateFile;
    if (parallel > 1) {
        request += "，同时升级" + std::to_string(parallel) + "台";
    }
    if (maxFailures > 0) {
        request += "，失败" + std::to_string(maxFailures) + "台后暂缓其余";
    }
    if (!StartBatch(batch, request)) {
        refuse();
        return;
    }
    m_report.request.file = m_strUpdateFile;
    m_report.request.force = m_view.IsChecked(IDC_FORCE_UPGRADE);
    m_report.request.syncTime = m_view.IsChecked(IDC_SYNC_TIME);
    m_report.request.verifyTimeoutMs = verifyMs;
    DescribeFile(m_strUpdateFile, m_report.request);
    // Forcing is a choice for one batch, never a setting that stays.
    m_view.SetChecked(IDC_FORCE_UPGRADE, false);
    m_toRetry.clear();
    // Every camera of the batch says it waits for its turn until a worker takes it.
    for (const PlannedUpgrade& p : plan) {
        LiveState queued;
        queued.ip = p.ip;
        queued.mac = p.mac;
        if (const int row = FindRowByMac(p.mac); row >= 0) {
            m_listDevices.SetCellText(row, kColDetail, "");
        }
        OnLiveState(queued);
    }
    for (const PlannedUpgrade& p : plan) {
        // The camera at the address must be the one judged here.
        const int row = FindRowByMac(p.mac);
        TaskDispatcher::Expectation expected;
        expected.type = row >= 0 ? m_listDevices.CellText(row, kColType) : std::string();
        expected.hw = row >= 0 ? m_listDevices.CellText(row, kColHard) : std::string();
        expected.checkVersion = m_overrides.checkVersion || m_mayHave.count(p.mac) != 0;
        m_dispatcher.ExpectCamera(p.mac, std::move(expected));
        m_dispatcher.Enqueue(p.ip.c_str(), p.mac.c_str(), p.file.c_str());
    }
}

// ---- The two IP batches ----

std::vector<int> CQuorvaneDlg::TickedRows() const {
    std::vector<int> ticked;
    const int rows = m_listDevices.RowCount();
    for (int i = 0; i < rows; ++i) {
        if (m_listDevices.RowChecked(i)) {
            ticked.push_back(i);
        }
    }
    return ticked;
}

bool CQuorvaneDlg::CheckIpRequest(const std::vector<int>& ticked) {
    if (m_listDevices.RowCount() == 0) {
        ShowMessage("请先搜索设备");
        return false;
    }
    if (ticked.empty()) {
        ShowMessage("你没有选择设备");
        return false;
    }
    return true;
}

void CQuorvaneDlg::OnBnClickedModifyIp() {
    EnableControls(false);
    const std::vector<int> ticked = TickedRows();
    if (!CheckIpRequest(ticked)) {
        EnableControls(true);
        return;
    }
    // A partly blank address is as unusable as a blank one.
    if (m_view.StartIpBlank() || !m_view.StartIpComplete()) {
        ShowMessage("起始IP不能为空");
        EnableControls(true);
        return;
    }
    const std::array<std::uint8_t, 4> start = m_view.StartIp();
    if (start[3] == 0) {
        ShowMessage("IP地址最后一位不能0");
        EnableControls(true);
        return;
    }
    if (start[3] == 255) {
        ShowMessage("IP地址最后一位不能255");
        EnableControls(true);
        return;
    }
    if (!IsUnicastHost(start)) {
        ShowMessage("起始IP %d.%d.%d.%d 不是可用的主机地址", start[0], start[1], start[2],
                    start[3]);
        EnableControls(true);
        return;
    }
    const auto addresses = ConsecutiveAddresses(start, ticked.size());
    if (!addresses) {
        ShowMessage("可用IP地址不足");
        EnableControls(true);
        return;
    }

    const auto total = static_cast<std::uint32_t>(ticked.size());
    if (!StartBatch({.kind = TASK_MODIFY_IP, .total = total}, "起始IP " + (*addresses)[0])) {
        EnableControls(true);
        return;
    }
    m_report.request.startIp = (*addresses)[0];
    for (std::size_t k = 0; k < ticked.size(); ++k) {
        const std::string mac = m_listDevices.CellText(ticked[k], kColMac);
        m_dispatcher.Enqueue((*addresses)[k].c_str(), mac.c_str(), "");
    }
}

void CQuorvaneDlg::OnBnClickedRestoreIp() {
    EnableControls(false);
    const std::vector<int> ticked = TickedRows();
    if (!CheckIpRequest(ticked)) {
        EnableControls(true);
        return;
    }

    // Read at every press, so an edit of the file takes effect at once; an
    // address no camera could be reached at refuses the request.
    const std::string defaultIp =
        platform::GetPrivateProfileString("config", "defaultip", kDefaultIp, m_strConfigFile);
    const auto parsed = ParseDottedIpv4(defaultIp);
    if (!parsed || !IsUsableHostAddress(*parsed)) {
        ShowMessage("config.ini 中的默认IP“%s”不是可用的主机地址",
                    platform::EscapeForTerminal(defaultIp).c_str());
        EnableControls(true);
        return;
    }

    const auto total = static_cast<std::uint32_t>(ticked.size());
    if (!StartBatch({.kind = TASK_RESTORE_IP, .total = total, .defaultIp = defaultIp},
                    "默认IP " + defaultIp)) {
        EnableControls(true);
        return;
    }
    m_report.request.defaultIp = defaultIp;
    for (int row : ticked) {
        const std::string ip = m_listDevices.CellText(row, kColIp);
        const std::string mac = m_listDevices.CellText(row, kColMac);
        m_dispatcher.Enqueue(ip.c_str(), mac.c_str(), "");
    }
}

}  // namespace app
