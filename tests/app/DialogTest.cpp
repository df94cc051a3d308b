// The dialog logic on a recording view, with a scripted camera library and
// search helper in place of the real ones.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "addressing/Address.h"
#include "app/AdapterChoice.h"
#include "app/MemoryView.h"
#include "app/OutcomeText.h"
#include "app/QuorvaneDlg.h"
#include "platform/FileLock.h"
#include "platform/FileText.h"
#include "platform/IniFile.h"
#include "platform/Workspace.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// ---- scripted libraries ----

std::vector<tNetDeviceInfo> g_found;
int g_inits = 0;
int g_uninits = 0;

int FakeInit() {
    ++g_inits;
    return 0;
}
int FakeUNinit() {
    ++g_uninits;
    return 0;
}
int FakeFind(NetFindDeviceCallback cb, void* user) {
    for (const auto& d : g_found) {
        cb(&d, user);
    }
    return 0;
}

struct IpCall {
    std::string mac, ip, mask;
};
std::mutex g_ipMutex;
std::vector<IpCall> g_ipCalls;
std::map<std::string, bool> g_refuse;  // MACs whose change fails

int FakeModifyDevIp(const char* mac, const char* ip, const char* mask) {
    std::lock_guard lock(g_ipMutex);
    g_ipCalls.push_back({mac, ip, mask});
    return g_refuse.count(mac) != 0 ? 0 : 1;
}

tNetDeviceInfo Device(const char* type, std::array<std::uint8_t, 4> ip, std::uint8_t macLast,
                      const char* soft, const char* hard) {
    tNetDeviceInfo d;
    std::memset(&d, 0, sizeof(d));
    const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, macLast};
    std::memcpy(d.ucMac, mac, 6);
    std::strncpy(d.szDevType, type, sizeof(d.szDevType) - 1);
    std::strncpy(d.szSoftVersion, soft, sizeof(d.szSoftVersion) - 1);
    std::strncpy(d.szHardVersion, hard, sizeof(d.szHardVersion) - 1);
    std::memcpy(d.ucIp, ip.data(), 4);
    return d;
}

// The daily log is in the system's code page on Windows.
std::string LogText(std::string_view utf8) {
    return platform::ToLogFileText(utf8);
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Remembers the order of the calls that matter for the batch discipline.
class RecordingView : public app::MemoryView {
  public:
    void EnableWindow(bool enable) override {
        events.push_back(enable ? "enable" : "disable");
        MemoryView::EnableWindow(enable);
    }
    void MessageBox(const std::string& text) override {
        events.push_back("message:" + text);
        if (onMessage) {
            onMessage();
        }
        MemoryView::MessageBox(text);
    }
    std::vector<std::string> events;
    std::function<void()> onMessage;
};

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::g_bSortAscending = 1;
        g_found = {
            Device("IPC-A", {192, 168, 0, 10}, 0x10, "V1.0.10", "YJ1"),
            Device("ipc-b", {192, 168, 0, 9}, 0x9A, "V1.0.9", "YJ2"),
            Device("IPC-C", {192, 168, 0, 100}, 0x01, "V2.0.0", "YJ1"),
        };
        g_inits = g_uninits = 0;
        {
            std::lock_guard lock(g_ipMutex);
            g_ipCalls.clear();
            g_refuse.clear();
        }
        dir_ = fs::temp_directory_path() / ("qv_dlg_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        dlg_.reset();
        fs::remove_all(dir_);
    }

    app::CQuorvaneDlg& Open(bool init = true,
                            const std::function<void(app::DialogDeps&)>& tweak = {}) {
        app::DialogDeps deps;
        deps.search.Init = &FakeInit;
        deps.search.UNinit = &FakeUNinit;
        deps.search.FindDevice = &FakeFind;
        deps.search.Log = nullptr;
        deps.net = NetApi{};
        deps.helper = HelperApi{&FakeModifyDevIp, nullptr};
        deps.configDir = dir_.string();
        deps.clock = [] { return platform::LocalTime{2026, 1, 2, 3, 4, 5, 6}; };
        if (tweak) {
            tweak(deps);
        }
        dlg_ = std::make_unique<app::CQuorvaneDlg>(view_, deps);
        if (init) {
            dlg_->OnInitDialog();
        }
        return *dlg_;
    }

    std::vector<std::string> Column(int col) const {
        std::vector<std::string> out;
        for (const auto& r : view_.rows) {
            out.push_back(r.cells[static_cast<std::size_t>(col)]);
        }
        return out;
    }

    bool RunBatch() {
        const std::size_t before = view_.messages.size();
        return view_.RunUntil([&] { return view_.messages.size() > before; }, 60s);
    }

    fs::path dir_;
    RecordingView view_;
    std::unique_ptr<app::CQuorvaneDlg> dlg_;
};

// ---- start-up ----

TEST_F(DialogTest, StartUpWritesTheStartLineAndSetsTheControls) {
    Open();
    EXPECT_EQ(g_inits, 1);
    EXPECT_EQ(view_.caption, "QuorvaneV1.0.0.8(Custom版)");
    EXPECT_EQ(view_.pane, "QuorvaneV1.0.0.8(Custom版)   已启动\r\n");
    EXPECT_EQ(dlg_->ConfigFile(), (dir_ / "config.ini").string());
    EXPECT_EQ(dlg_->LogPath(), (dir_ / "2026_01_02.log").string());
    EXPECT_EQ(ReadAll(dir_ / "2026_01_02.log"),
              LogText("[2026-01-02 03:04:05: 006]QuorvaneV1.0.0.8(Custom版)   已启动\r\n"));
    EXPECT_FALSE(view_.startIpBlank);
    EXPECT_EQ(view_.startIp, (std::array<std::uint8_t, 4>{192, 168, 0, 10}));
    EXPECT_FALSE(view_.shown.at(app::IDC_FORCE_UPGRADE));
    dlg_.reset();
    EXPECT_EQ(g_uninits, 1);
}

TEST_F(DialogTest, InstalledReadsTheUsersConfigurationAndLogsIntoItsStateFolder) {
    platform::FolderInputs in;
    in.exeDir = (dir_ / "usr" / "bin").string();
    in.xdgConfigHome = (dir_ / "config").string();
    in.xdgStateHome = (dir_ / "state").string();
    in.installed = true;
#ifdef _WIN32  // %APPDATA%\Quorvane
    const char* const app = "Quorvane";
#else
    const char* const app = "quorvane";
#endif
    fs::create_directories(dir_ / "config" / app);
    std::ofstream(dir_ / "config" / app / "config.ini") << "[config]\ndefaultip=10.0.0.1\n";
    Open(true, [&](app::DialogDeps& deps) {
        deps.configDir.clear();
        deps.folders = in;
    });
    EXPECT_EQ(dlg_->ConfigFile(), (dir_ / "config" / app / "config.ini").string());
    const fs::path log = dir_ / "state" / app / "2026_01_02.log";
    EXPECT_EQ(dlg_->LogPath(), log.string());
    EXPECT_EQ(ReadAll(log),
              LogText("[2026-01-02 03:04:05: 006]QuorvaneV1.0.0.8(Custom版)   已启动\r\n"));
#ifndef _WIN32
    EXPECT_EQ(fs::status(log.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    EXPECT_EQ(dlg_->BatchLockPath(), (log.parent_path() / "quorvane.lock").string());
    // The log button opens the file where it is.
    dlg_->OnBnClickedUpgradeLog();
    ASSERT_FALSE(view_.opened.empty());
    EXPECT_EQ(view_.opened.back(), log.string());
}

TEST_F(DialogTest, EnableControlsTouchesTheWindowAndTheCommandControlsOnly) {
    Open();
    view_.enabled.clear();
    dlg_->EnableControls(false);
    EXPECT_FALSE(view_.windowEnabled);
    const std::map<app::ControlId, bool> expected{
        {app::IDC_SEARCH, false},    {app::IDC_SELECT_ALL, false}, {app::IDC_UPGRADE_LOG, false},
        {app::IDC_BROWSE, false},    {app::IDC_MODIFY_IP, false},  {app::IDC_RESTORE_IP, false},
        {app::IDC_SYNC_TIME, false}, {app::IDC_RESEND, false},     {app::IDC_UPGRADE, false}};
    EXPECT_EQ(view_.enabled, expected);
    dlg_->EnableControls(true);
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_TRUE(view_.enabled.at(app::IDC_UPGRADE));
}

TEST_F(DialogTest, LogButtonOpensTheDayFileOrSaysThereIsNone) {
    Open(false);
    dlg_->OnBnClickedUpgradeLog();
    EXPECT_EQ(view_.messages, std::vector<std::string>{"无操作记录"});
    EXPECT_TRUE(view_.opened.empty());
    dlg_->OnInitDialog();
    dlg_->OnBnClickedUpgradeLog();
    const std::string log = (dir_ / "2026_01_02.log").string();
    EXPECT_EQ(view_.opened, std::vector<std::string>{log});
    // No program for the file: said in the pane, with the path.
    view_.openWorks = false;
    dlg_->OnBnClickedUpgradeLog();
    EXPECT_NE(view_.pane.find("无法打开升级日志，请手动打开：" + log + "\r\n"), std::string::npos);
    EXPECT_EQ(view_.messages, std::vector<std::string>{"无操作记录"});
}

TEST_F(DialogTest, BrowseKeepsTheOldFileWhenCancelled) {
    Open();
    view_.nextBrowse = "/data/fw/Pack.bin";
    dlg_->OnBnClickedBrowse();
    EXPECT_EQ(view_.fileText, "/data/fw/Pack.bin");
    EXPECT_EQ(dlg_->UpdateFile(), "/data/fw/Pack.bin");
    view_.nextBrowse.reset();
    dlg_->OnBnClickedBrowse();
    EXPECT_EQ(view_.fileText, "/data/fw/Pack.bin");
}

// ---- search and sorting ----

TEST_F(DialogTest, SearchListsByAddressNumberedFromOne) {
    Open();
    view_.events.clear();
    dlg_->OnBnClickedSearch();
    EXPECT_EQ(Column(2),
              (std::vector<std::string>{"192.168.0.9", "192.168.0.10", "192.168.0.100"}));
    EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(3), (std::vector<std::string>{"00:1A:2B:3C:4D:9A", "00:1A:2B:3C:4D:10",
                                                   "00:1A:2B:3C:4D:01"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"ipc-b", "IPC-A", "IPC-C"}));
    EXPECT_EQ(Column(4), (std::vector<std::string>{"V1.0.9", "V1.0.10", "V2.0.0"}));
    EXPECT_EQ(Column(5), (std::vector<std::string>{"YJ2", "YJ1", "YJ1"}));
    EXPECT_EQ(Column(6), (std::vector<std::string>(3, "等待升级")));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view_.ItemData(i), i);
        EXPECT_FALSE(view_.RowChecked(i));
    }
    EXPECT_EQ(view_.events, (std::vector<std::string>{"disable", "enable"}));
    EXPECT_FALSE(view_.waitCursor);
    EXPECT_EQ(app::g_bSortAscending, 1);  // the search's own sort leaves the flag
}

TEST_F(DialogTest, UnterminatedTextFieldsAreCutAtTheirField) {
    tNetDeviceInfo d = Device("", {10, 0, 0, 1}, 1, "", "");
    std::memset(d.szDevType, 'T', sizeof(d.szDevType));
    std::memset(d.szSoftVersion, 'S', sizeof(d.szSoftVersion));
    std::memset(d.szHardVersion, 'H', sizeof(d.szHardVersion));
    g_found = {d, d};  // reported twice: listed twice
    Open();
    dlg_->OnBnClickedSearch();
    ASSERT_EQ(view_.RowCount(), 2);
    EXPECT_EQ(view_.CellText(0, 1), std::string(128, 'T'));
    EXPECT_EQ(view_.CellText(0, 4), std::string(132, 'S'));
    EXPECT_EQ(view_.CellText(0, 5), std::string(66, 'H'));
}

TEST_F(DialogTest, HeaderClicksShareOneDirectionAndNumberFromZero) {
    Open();
    dlg_->OnBnClickedSearch();
    dlg_->OnLvnColumnclickDeviceList(4);  // first click: descending
    EXPECT_EQ(Column(4), (std::vector<std::string>{"V2.0.0", "V1.0.10", "V1.0.9"}));
    EXPECT_EQ(Column(0), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(app::g_bSortAscending, 0);
    dlg_->OnLvnColumnclickDeviceList(1);  // another column: ascending now
    EXPECT_EQ(Column(1), (std::vector<std::string>{"IPC-A", "ipc-b", "IPC-C"}));
    dlg_->OnLvnColumnclickDeviceList(3);  // MAC digit runs are decimal
    EXPECT_EQ(Column(3), (std::vector<std::string>{"00:1A:2B:3C:4D:10", "00:1A:2B:3C:4D:9A",
                                                   "00:1A:2B:3C:4D:01"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(view_.ItemData(i), i);
    }
    // The number column and out-of-range columns change nothing.
    const auto before = view_.rows.size();
    dlg_->OnLvnColumnclickDeviceList(0);
    dlg_->OnLvnColumnclickDeviceList(7);
    dlg_->OnLvnColumnclickDeviceList(-1);
    EXPECT_EQ(app::g_bSortAscending, 0);
    EXPECT_EQ(view_.rows.size(), before);
}

TEST_F(DialogTest, HeaderClickOnAnEmptyListChangesNothing) {
    g_found.clear();
    Open();
    dlg_->OnBnClickedSearch();
    dlg_->OnLvnColumnclickDeviceList(2);
    EXPECT_EQ(app::g_bSortAscending, 1);
    EXPECT_EQ(view_.RowCount(), 0);
}

TEST_F(DialogTest, SortingKeepsChecksAndSelectAllFollowsTheBox) {
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);         // 192.168.0.9
    dlg_->OnLvnColumnclickDeviceList(2);  // descending: it goes last
    EXPECT_TRUE(view_.RowChecked(2));
    EXPECT_FALSE(view_.RowChecked(0));

    view_.SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    EXPECT_TRUE(view_.RowChecked(0) && view_.RowChecked(1) && view_.RowChecked(2));
    // A new search gives fresh unticked rows but leaves the box as it was.
    dlg_->OnBnClickedSearch();
    EXPECT_FALSE(view_.RowChecked(0) || view_.RowChecked(1) || view_.RowChecked(2));
    EXPECT_TRUE(view_.IsChecked(app::IDC_SELECT_ALL));
    view_.SetChecked(app::IDC_SELECT_ALL, false);
    view_.SetRowChecked(1, true);
    dlg_->OnBnClickedSelectAll();
    EXPECT_FALSE(view_.RowChecked(1));
}

// ---- results, progress and completion ----

std::unique_ptr<TaskResult> Result(const char* ip, const char* mac, int kind, int result) {
    auto r = std::make_unique<TaskResult>();
    std::strncpy(r->ip, ip, sizeof(r->ip) - 1);
    std::strncpy(r->aux, mac, sizeof(r->aux) - 1);
    r->kind = kind;
    r->result = result;
    return r;
}

struct StatusCase {
    int kind;
    int result;
    const char* status;
    bool ipChanges;
};

class ResultStatus : public DialogTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ResultStatus, WritesTheStatusAndTheLogLine) {
    const StatusCase& c = GetParam();
    Open();
    dlg_->OnBnClickedSearch();
    view_.pane.clear();
    dlg_->OnTaskResult(Result("10.9.9.9", "00:1A:2B:3C:4D:10", c.kind, c.result));
    EXPECT_EQ(view_.CellText(1, 6), c.status);
    EXPECT_EQ(view_.CellText(1, 2), c.ipChanges ? "10.9.9.9" : "192.168.0.10");
    EXPECT_EQ(view_.pane, std::string("[00:1A:2B:3C:4D:10] 10.9.9.9 ") + c.status + "\r\n");
    // Number, type, MAC and versions never change.
    EXPECT_EQ(view_.CellText(1, 0), "2");
    EXPECT_EQ(view_.CellText(1, 1), "IPC-A");
    EXPECT_EQ(view_.CellText(1, 4), "V1.0.10");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ResultStatus,
    ::testing::Values(StatusCase{1, 0, "修改IP失败", false}, StatusCase{1, 1, "修改IP成功", true},
                      StatusCase{2, 0, "恢复默认IP失败", false},
                      StatusCase{2, 1, "恢复默认IP成功", true}, StatusCase{3, 0, "升级失败", false},
                      StatusCase{3, 1, "升级成功", false}, StatusCase{0, 1, "", false},
                      StatusCase{7, 0, "", false}, StatusCase{1, 2, "", false}));

TEST_F(DialogTest, AResultFindsOnlyTheFirstRowWithItsMac) {
    g_found = {Device("A", {10, 0, 0, 1}, 0x55, "v", "h"),
               Device("B", {10, 0, 0, 2}, 0x55, "v", "h")};
    Open();
    dlg_->OnBnClickedSearch();
    view_.pane.clear();
    dlg_->OnTaskResult(Result("10.0.0.7", "00:1A:2B:3C:4D:55", 1, 1));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"10.0.0.7", "10.0.0.2"}));
    EXPECT_EQ(Column(6), (std::vector<std::string>{"修改IP成功", "等待升级"}));
    // No row: nothing changes, nothing is logged; a lower-case MAC is another text.
    dlg_->OnTaskResult(Result("10.0.0.8", "00:1a:2b:3c:4d:55", 1, 1));
    dlg_->OnTaskResult(nullptr);
    EXPECT_EQ(Column(2), (std::vector<std::string>{"10.0.0.7", "10.0.0.2"}));
    EXPECT_EQ(view_.pane, "[00:1A:2B:3C:4D:55] 10.0.0.7 修改IP成功\r\n");
}

TEST_F(DialogTest, BatchDoneShowsTheMessageThenRemovesTheWorkspaceThenEnables) {
    // The temporary folder of either system.
    const qvtest::ScopedEnv tmpdir("TMPDIR", dir_.string());
    const qvtest::ScopedEnv tmp("TMP", dir_.string());
    ASSERT_EQ(platform::PrepareWorkspaceRoot(), platform::RootState::Ready);
    const fs::path ws = fs::path(platform::WorkspaceRoot()) / "UpdatePacket_20260102030405006";
    fs::create_directories(ws / "bin");
    Open();
    dlg_->SetWorkDir(ws.string());
    dlg_->EnableControls(false);
    bool existedAtMessage = false;
    bool enabledAtMessage = true;
    view_.onMessage = [&] {
        existedAtMessage = fs::exists(ws);
        enabledAtMessage = view_.windowEnabled;
    };
    dlg_->OnBatchDone(3);
    EXPECT_EQ(view_.messages, std::vector<std::string>{"批量升级完成"});
    EXPECT_TRUE(existedAtMessage);
    EXPECT_FALSE(enabledAtMessage);
    EXPECT_FALSE(fs::exists(ws));
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_EQ(dlg_->WorkDir(), ws.string());  // the member keeps its value
    // A later batch removes it again: gone already, nothing said.
    dlg_->OnBatchDone(1);
    dlg_->OnBatchDone(2);
    dlg_->OnBatchDone(9);
    EXPECT_EQ(view_.messages,
              (std::vector<std::string>{"批量升级完成", "批量修改IP完成", "批量恢复默认IP完成"}));
}

TEST_F(DialogTest, RemoveTempDirLeavesForeignFoldersAlone) {
    Open();
    const fs::path foreign = dir_ / "keep";
    fs::create_directories(foreign);
    dlg_->SetWorkDir(foreign.string());
    dlg_->OnBatchDone(1);
    EXPECT_TRUE(fs::exists(foreign));
}

// ---- the IP batches ----

struct Refusal {
    const char* name;
    int rows;  // cameras found
    bool tick;
    bool blank;
    bool partlyBlank;
    std::array<std::uint8_t, 4> start;
    const char* message;
};

class IpRefusal : public DialogTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(IpRefusal, ShowsOneMessageQueuesNothingAndEnablesAgain) {
    const Refusal& c = GetParam();
    g_found.resize(static_cast<std::size_t>(c.rows), Device("X", {10, 0, 0, 1}, 0x77, "v", "h"));
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetChecked(app::IDC_SELECT_ALL, c.tick);
    dlg_->OnBnClickedSelectAll();
    view_.startIp = c.start;
    view_.startIpBlank = c.blank;
    view_.startIpPartlyBlank = c.partlyBlank;
    view_.events.clear();
    dlg_->OnBnClickedModifyIp();
    EXPECT_EQ(view_.events,
              (std::vector<std::string>{"disable", std::string("message:") + c.message, "enable"}));
    view_.RunUntil([] { return false; }, 200ms);
    std::lock_guard lock(g_ipMutex);
    EXPECT_TRUE(g_ipCalls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, IpRefusal,
    ::testing::Values(
        Refusal{"empty_list_first", 0, false, true, false, {0, 0, 0, 0}, "请先搜索设备"},
        Refusal{"nothing_ticked", 2, false, true, false, {0, 0, 0, 0}, "你没有选择设备"},
        Refusal{"blank_start", 2, true, true, false, {0, 0, 0, 0}, "起始IP不能为空"},
        Refusal{"partly_blank_start", 2, true, false, true, {10, 0, 0, 5}, "起始IP不能为空"},
        Refusal{"ends_in_0", 2, true, false, false, {10, 0, 0, 0}, "IP地址最后一位不能0"},
        Refusal{"ends_in_255", 2, true, false, false, {10, 0, 0, 255}, "IP地址最后一位不能255"},
        Refusal{"first_octet_0",
                2,
                true,
                false,
                false,
                {0, 1, 2, 3},
                "起始IP 0.1.2.3 不是可用的主机地址"},
        Refusal{"multicast",
                2,
                true,
                false,
                false,
                {224, 0, 0, 5},
                "起始IP 224.0.0.5 不是可用的主机地址"},
        Refusal{"reserved",
                2,
                true,
                false,
                false,
                {250, 1, 1, 1},
                "起始IP 250.1.1.1 不是可用的主机地址"},
        Refusal{"no_addresses_left", 3, true, false, false, {10, 0, 255, 253}, "可用IP地址不足"}),
    [](const ::testing::TestParamInfo<Refusal>& p) { return std::string(p.param.name); });

TEST_F(DialogTest, RestoreChecksTheListThenTheTicks) {
    g_found.clear();
    Open();
    dlg_->OnBnClickedSearch();
    dlg_->OnBnClickedRestoreIp();
    g_found = {Device("X", {10, 0, 0, 1}, 1, "v", "h")};
    dlg_->OnBnClickedSearch();
    dlg_->OnBnClickedRestoreIp();
    EXPECT_EQ(view_.messages, (std::vector<std::string>{"请先搜索设备", "你没有选择设备"}));
    EXPECT_TRUE(view_.windowEnabled);
}

TEST_F(DialogTest, ModifyIpGivesConsecutiveAddressesInListOrder) {
    Open();
    dlg_->OnBnClickedSearch();
    dlg_->OnLvnColumnclickDeviceList(2);  // descending: .100, .10, .9
    view_.SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    view_.SetRowChecked(1, false);  // .10 stays out
    g_refuse["00:1A:2B:3C:4D:9A"] = true;
    view_.SetStartIp({192, 168, 1, 254});
    view_.pane.clear();
    dlg_->OnBnClickedModifyIp();
    EXPECT_FALSE(view_.windowEnabled);
    EXPECT_EQ(view_.progressHigh, 2);
    EXPECT_EQ(view_.progressPos, 0);
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(view_.messages.back(), "批量修改IP完成");
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_EQ(view_.progressPos, 2);
    {
        std::lock_guard lock(g_ipMutex);
        ASSERT_EQ(g_ipCalls.size(), 2u);
        std::map<std::string, std::string> got;
        for (const auto& call : g_ipCalls) {
            got[call.mac] = call.ip;
            EXPECT_EQ(call.mask, "255.255.255.0");
        }
        EXPECT_EQ(got["00:1A:2B:3C:4D:01"], "192.168.1.254");
        EXPECT_EQ(got["00:1A:2B:3C:4D:9A"], "192.168.2.1");  // the next subnet
    }
    EXPECT_EQ(Column(2),
              (std::vector<std::string>{"192.168.1.254", "192.168.0.10", "192.168.0.9"}));
    EXPECT_EQ(Column(6), (std::vector<std::string>{"修改IP成功", "等待升级", "修改IP失败"}));
    EXPECT_NE(view_.pane.find("[00:1A:2B:3C:4D:01] 192.168.1.254 修改IP成功\r\n"),
              std::string::npos);
    EXPECT_NE(view_.pane.find("[00:1A:2B:3C:4D:9A] 192.168.2.1 修改IP失败\r\n"), std::string::npos);
    const std::string file = ReadAll(dir_ / "2026_01_02.log");
    EXPECT_NE(file.find(LogText("]QuorvaneV1.0.0.8(Custom版)   已启动\r\n")), std::string::npos);
    EXPECT_NE(file.find(LogText("][00:1A:2B:3C:4D:01] 192.168.1.254 修改IP成功\r\n")),
              std::string::npos);
}

TEST_F(DialogTest, RestoreReadsTheConfigurationAtEveryPress) {
    Open();
    dlg_->OnBnClickedSearch();
    // The camera on the built-in default already: no other holds it.
    view_.SetRowChecked(1, true);
    // No file: the built-in default.
    dlg_->OnBnClickedRestoreIp();
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(view_.messages.back(), "批量恢复默认IP完成");
    EXPECT_EQ(view_.CellText(1, 2), "192.168.0.10");

    std::ofstream(dir_ / "config.ini") << "[config]\r\ndefaultip = 127.0.0.77\r\n";
    dlg_->OnBnClickedRestoreIp();
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(view_.CellText(1, 2), "127.0.0.77");
    EXPECT_EQ(view_.CellText(1, 6), "恢复默认IP成功");

    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=127.0.0.78\n";
    g_refuse["00:1A:2B:3C:4D:10"] = true;
    dlg_->OnBnClickedRestoreIp();
    ASSERT_TRUE(RunBatch());
    // A failed restore keeps the old address.
    EXPECT_EQ(view_.CellText(1, 2), "127.0.0.77");
    EXPECT_EQ(view_.CellText(1, 6), "恢复默认IP失败");
    std::lock_guard lock(g_ipMutex);
    ASSERT_EQ(g_ipCalls.size(), 3u);
    EXPECT_EQ(g_ipCalls[0].ip, "192.168.0.10");
    EXPECT_EQ(g_ipCalls[1].ip, "127.0.0.77");
    EXPECT_EQ(g_ipCalls[2].ip, "127.0.0.78");
}

// ---- addresses in use: never handed out, said per camera, asked first ----

// A camera of a case: where it is, the last byte of its MAC, ticked or not.
struct Cam {
    std::array<std::uint8_t, 4> ip;
    std::uint8_t mac;
    bool ticked;
};

struct InUseCase {
    const char* name;
    std::vector<Cam> cams;  // listed by address, so in this order when ascending
    std::array<std::uint8_t, 4> start;
    bool answer;                       // to the question with the plan
    std::vector<std::string> newIps;   // per ticked camera in list order; empty: nothing sent
    std::vector<std::string> details;  // per ticked camera, its detail cell
    const char* message;               // the refusal, or ""
};

class IpInUse : public DialogTest, public ::testing::WithParamInterface<InUseCase> {};

TEST_P(IpInUse, NoTargetIsHeldByAnotherCameraAndThePlanIsAskedFirst) {
    const InUseCase& c = GetParam();
    g_found.clear();
    for (const Cam& cam : c.cams) {
        g_found.push_back(Device("IPC", cam.ip, cam.mac, "V1", "H1"));
    }
    Open();
    dlg_->OnBnClickedSearch();
    std::vector<std::string> ticked;
    for (int r = 0; r < static_cast<int>(c.cams.size()); ++r) {
        const auto& cam = c.cams[static_cast<std::size_t>(r)];
        view_.SetRowChecked(r, cam.ticked);
        if (cam.ticked) {
            ticked.push_back(view_.CellText(r, 3));
        }
    }
    view_.SetStartIp(c.start);
    view_.confirmAnswer = c.answer;
    dlg_->OnBnClickedModifyIp();
    if (c.newIps.empty()) {
        EXPECT_TRUE(view_.windowEnabled);
        EXPECT_EQ(view_.messages, c.message[0] != '\0' ? std::vector<std::string>{c.message}
                                                       : std::vector<std::string>{});
        EXPECT_EQ(view_.pane.find("开始批量修改IP"), std::string::npos);
        view_.RunUntil([] { return false; }, 100ms);
        std::lock_guard lock(g_ipMutex);
        EXPECT_TRUE(g_ipCalls.empty());
        return;
    }
    ASSERT_TRUE(RunBatch());
    // The question named every camera with where it goes, before anything was sent.
    ASSERT_EQ(view_.questions.size(), 1u);
    const std::string& question = view_.questions[0];
    EXPECT_EQ(question.rfind("将修改" + std::to_string(ticked.size()) + "台设备的IP地址：\n", 0),
              0u);
    std::map<std::string, std::string> got;
    {
        std::lock_guard lock(g_ipMutex);
        for (const auto& call : g_ipCalls) {
            got[call.mac] = call.ip;
            EXPECT_EQ(call.mask, "255.255.255.0");
        }
    }
    ASSERT_EQ(got.size(), ticked.size());
    ASSERT_EQ(c.newIps.size(), ticked.size());
    for (std::size_t k = 0; k < ticked.size(); ++k) {
        SCOPED_TRACE(ticked[k]);
        EXPECT_EQ(got[ticked[k]], c.newIps[k]);
        EXPECT_NE(question.find(ticked[k] + "  "), std::string::npos);
        EXPECT_NE(question.find(" → " + c.newIps[k]), std::string::npos);
        const int row = dlg_->List().FindByMac(ticked[k]);
        EXPECT_EQ(view_.CellText(row, app::kColDetail), c.details[k]);
        if (!c.details[k].empty()) {
            EXPECT_NE(
                view_.pane.find("[" + ticked[k] + "] " + c.newIps[k] + " " + c.details[k] + "\r\n"),
                std::string::npos);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Numbering, IpInUse,
    ::testing::Values(
        InUseCase{"nothing_in_the_way",
                  {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}, {{10, 77, 1, 3}, 3, true}},
                  {10, 77, 1, 18},
                  true,
                  {"10.77.1.18", "10.77.1.19", "10.77.1.20"},
                  {"", "", ""},
                  ""},
        InUseCase{
            "an_unticked_camera_in_the_range",
            {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}, {{10, 77, 1, 19}, 3, false}},
            {10, 77, 1, 18},
            true,
            {"10.77.1.18", "10.77.1.20"},
            {"", "跳过已占用地址 10.77.1.19"},
            ""},
        InUseCase{"a_camera_keeps_its_own_address",
                  {{{10, 77, 1, 18}, 1, true}, {{10, 77, 1, 19}, 2, true}},
                  {10, 77, 1, 18},
                  true,
                  {"10.77.1.18", "10.77.1.19"},
                  {"", ""},
                  ""},
        InUseCase{"where_a_ticked_camera_is_now",
                  {{{10, 77, 1, 19}, 1, true}, {{10, 77, 1, 30}, 2, true}},
                  {10, 77, 1, 18},
                  true,
                  {"10.77.1.18", "10.77.1.20"},
                  {"", "跳过已占用地址 10.77.1.19"},
                  ""},
        InUseCase{"several_in_a_row",
                  {{{10, 77, 1, 1}, 1, true},
                   {{10, 77, 1, 5}, 2, false},
                   {{10, 77, 1, 6}, 3, false},
                   {{10, 77, 1, 7}, 4, true}},
                  {10, 77, 1, 4},
                  true,
                  {"10.77.1.4", "10.77.1.7"},
                  {"", "跳过已占用地址 10.77.1.5、10.77.1.6"},
                  ""},
        InUseCase{"across_the_broadcast_into_the_next_subnet",
                  {{{10, 77, 1, 1}, 1, true},
                   {{10, 77, 1, 2}, 2, true},
                   {{10, 77, 1, 3}, 3, true},
                   {{10, 77, 2, 1}, 4, false}},
                  {10, 77, 1, 253},
                  true,
                  {"10.77.1.253", "10.77.1.254", "10.77.2.2"},
                  {"", "", "跳过已占用地址 10.77.2.1"},
                  ""},
        InUseCase{
            "no_address_left_past_those_in_use",
            {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}, {{10, 77, 255, 254}, 3, false}},
            {10, 77, 255, 253},
            true,
            {},
            {},
            "可用IP地址不足"},
        InUseCase{"no_to_the_plan_changes_nothing",
                  {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}},
                  {10, 77, 1, 18},
                  false,
                  {},
                  {},
                  ""}),
    [](const ::testing::TestParamInfo<InUseCase>& p) { return std::string(p.param.name); });

TEST_F(DialogTest, ThePlanIsShownWholeUpToTwentyCameras) {
    g_found.clear();
    for (std::uint8_t i = 1; i <= 25; ++i) {
        g_found.push_back(Device("IPC", {10, 77, 1, i}, i, "V1", "H1"));
    }
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetChecked(app::IDC_SELECT_ALL, true);
    dlg_->OnBnClickedSelectAll();
    std::vector<app::PlannedAddress> plan;
    ASSERT_TRUE(dlg_->PlanModifyIp(&plan));
    ASSERT_EQ(plan.size(), 25u);
    EXPECT_EQ(plan[0].ip, "10.77.1.1");
    EXPECT_EQ(plan[0].newIp, "192.168.0.10");
    const std::string q = app::IpPlanQuestion(plan);
    EXPECT_NE(q.find("00:1A:2B:3C:4D:01  10.77.1.1 → 192.168.0.10\n"), std::string::npos);
    EXPECT_NE(q.find("00:1A:2B:3C:4D:14  10.77.1.20 → 192.168.0.29\n……另有5台\n继续吗？"),
              std::string::npos);
    // A plan sends nothing and leaves the window as it was.
    EXPECT_TRUE(view_.windowEnabled);
    std::lock_guard lock(g_ipMutex);
    EXPECT_TRUE(g_ipCalls.empty());
}

// ---- the LAN asked too: a host that answers holds its address ----

std::map<std::uint32_t, std::string> g_lan;  // who answers, by address
bool g_lanWorks = true;
std::vector<std::vector<std::uint32_t>> g_lanAsked;  // each round's addresses

platform::NeighbourProbe FakeLan(const std::vector<std::uint32_t>& addresses,
                                 std::chrono::milliseconds budget) {
    EXPECT_LE(budget.count(), 2000);
    g_lanAsked.push_back(addresses);
    platform::NeighbourProbe out;
    out.checked = g_lanWorks;
    out.why = g_lanWorks ? "" : "不能问";
    for (const std::uint32_t ip : addresses) {
        if (const auto it = g_lan.find(ip); it != g_lan.end() && g_lanWorks) {
            out.answered.insert(*it);
        }
    }
    return out;
}

std::uint32_t Num(const std::string& ip) {
    return addressing::ParseIpv4(ip).value();
}

struct LanCase {
    const char* name;
    std::vector<Cam> cams;
    std::vector<std::string> lan;  // addresses a host that is no camera answers at
    bool works;
    std::vector<std::string> newIps;   // per ticked camera, start 10.77.1.18
    std::vector<std::string> details;  // per ticked camera
    int rounds;                        // how often the LAN was asked
    const char* pane;                  // a line the pane must show, or ""
};

class IpOnTheLan : public DialogTest, public ::testing::WithParamInterface<LanCase> {};

TEST_P(IpOnTheLan, AnAddressThatAnswersIsPassedOver) {
    const LanCase& c = GetParam();
    g_lan.clear();
    g_lanAsked.clear();
    g_lanWorks = c.works;
    for (const std::string& ip : c.lan) {
        g_lan[Num(ip)] = "02:00:00:00:00:99";
    }
    g_found.clear();
    for (const Cam& cam : c.cams) {
        g_found.push_back(Device("IPC", cam.ip, cam.mac, "V1", "H1"));
    }
    Open(true, [](app::DialogDeps& deps) { deps.probeLan = &FakeLan; });
    dlg_->OnBnClickedSearch();
    std::vector<std::string> ticked;
    for (int r = 0; r < static_cast<int>(c.cams.size()); ++r) {
        view_.SetRowChecked(r, c.cams[static_cast<std::size_t>(r)].ticked);
        if (c.cams[static_cast<std::size_t>(r)].ticked) {
            ticked.push_back(view_.CellText(r, 3));
        }
    }
    view_.SetStartIp({10, 77, 1, 18});
    dlg_->OnBnClickedModifyIp();
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(static_cast<int>(g_lanAsked.size()), c.rounds);
    // Never asked twice for one address, never for one a listed camera holds.
    std::set<std::uint32_t> asked;
    for (const auto& round : g_lanAsked) {
        for (const std::uint32_t ip : round) {
            EXPECT_TRUE(asked.insert(ip).second) << addressing::FormatIpv4(ip);
            for (const Cam& cam : c.cams) {
                EXPECT_NE(ip, (std::uint32_t{cam.ip[0]} << 24) | (std::uint32_t{cam.ip[1]} << 16) |
                                  (std::uint32_t{cam.ip[2]} << 8) | cam.ip[3]);
            }
        }
    }
    std::map<std::string, std::string> got;
    {
        std::lock_guard lock(g_ipMutex);
        for (const auto& call : g_ipCalls) {
            got[call.mac] = call.ip;
        }
    }
    ASSERT_EQ(ticked.size(), c.newIps.size());
    for (std::size_t k = 0; k < ticked.size(); ++k) {
        EXPECT_EQ(got[ticked[k]], c.newIps[k]);
        EXPECT_EQ(view_.CellText(dlg_->List().FindByMac(ticked[k]), app::kColDetail), c.details[k]);
    }
    if (c.pane[0] != '\0') {
        EXPECT_NE(view_.pane.find(c.pane), std::string::npos) << view_.pane;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Probe, IpOnTheLan,
    ::testing::Values(
        LanCase{"a_host_in_the_range",
                {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}},
                {"10.77.1.19"},
                true,
                {"10.77.1.18", "10.77.1.20"},
                {"", "跳过已占用地址 10.77.1.19"},
                1,
                ""},
        LanCase{"the_lan_cannot_be_asked",
                {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}},
                {"10.77.1.19"},
                false,
                {"10.77.1.18", "10.77.1.19"},
                {"", ""},
                1,
                "未检查局域网上的地址占用：不能问\r\n"},
        LanCase{"a_camera_answering_where_the_list_has_it",
                {{{10, 77, 1, 18}, 1, true}},
                {"10.77.1.18"},
                true,
                {"10.77.1.18"},
                {""},
                1,
                ""},
        LanCase{"hosts_past_the_first_round",
                {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}},
                {"10.77.1.18", "10.77.1.19", "10.77.1.20", "10.77.1.21", "10.77.1.22", "10.77.1.23",
                 "10.77.1.24", "10.77.1.25", "10.77.1.26", "10.77.1.27", "10.77.1.28", "10.77.1.29",
                 "10.77.1.30"},
                true,
                {"10.77.1.31", "10.77.1.32"},
                {"跳过已占用地址 10.77.1.18、10.77.1.19、10.77.1.20、10.77.1.21、10.77.1.22、"
                 "10.77.1.23、10.77.1.24、10.77.1.25、10.77.1.26、10.77.1.27、10.77.1.28、"
                 "10.77.1.29、10.77.1.30",
                 ""},
                3,
                ""}),
    [](const ::testing::TestParamInfo<LanCase>& p) { return std::string(p.param.name); });

TEST_F(DialogTest, ADefaultThatAnswersOnTheLanIsRefused) {
    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=10.77.1.77\n";
    g_found = {Device("IPC", {10, 77, 1, 1}, 1, "V1", "H1")};
    g_lanWorks = true;
    Open(true, [](app::DialogDeps& deps) { deps.probeLan = &FakeLan; });
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    for (const char* holder : {"02:00:00:00:00:99", ""}) {
        g_lan = {{Num("10.77.1.77"), holder}};
        view_.messages.clear();
        dlg_->OnBnClickedRestoreIp();
        EXPECT_EQ(
            view_.messages,
            std::vector<std::string>{std::string("默认IP 10.77.1.77 已被局域网上的其他主机占用（") +
                                     (holder[0] != '\0' ? holder : "本机") + "）"});
        EXPECT_TRUE(view_.windowEnabled);
    }
    // The ticked camera itself (an entry from before it moved): it goes on.
    g_lan = {{Num("10.77.1.77"), "00:1A:2B:3C:4D:01"}};
    dlg_->OnBnClickedRestoreIp();
    ASSERT_TRUE(RunBatch());
    std::lock_guard lock(g_ipMutex);
    ASSERT_EQ(g_ipCalls.size(), 1u);
    EXPECT_EQ(g_ipCalls[0].ip, "10.77.1.77");
}

struct SameAddressCase {
    const char* name;
    std::vector<Cam> cams;
    bool answer;
    const char* question;  // "" when none is asked
    const char* message;   // the refusal, or ""
    std::size_t sent;      // cameras given the default
};

class RestoreSeveral : public DialogTest, public ::testing::WithParamInterface<SameAddressCase> {};

TEST_P(RestoreSeveral, SeveralCamerasOnOneAddressOnlyWhenSaidYes) {
    const SameAddressCase& c = GetParam();
    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=10.77.1.77\n";
    g_found.clear();
    for (const Cam& cam : c.cams) {
        g_found.push_back(Device("IPC", cam.ip, cam.mac, "V1", "H1"));
    }
    Open();
    dlg_->OnBnClickedSearch();
    for (int r = 0; r < static_cast<int>(c.cams.size()); ++r) {
        view_.SetRowChecked(r, c.cams[static_cast<std::size_t>(r)].ticked);
    }
    view_.confirmAnswer = c.answer;
    dlg_->OnBnClickedRestoreIp();
    EXPECT_EQ(view_.questions, c.question[0] != '\0' ? std::vector<std::string>{c.question}
                                                     : std::vector<std::string>{});
    if (c.sent > 0) {
        ASSERT_TRUE(RunBatch());
        EXPECT_EQ(view_.messages, std::vector<std::string>{"批量恢复默认IP完成"});
    } else {
        EXPECT_TRUE(view_.windowEnabled);
        EXPECT_EQ(view_.messages, c.message[0] != '\0' ? std::vector<std::string>{c.message}
                                                       : std::vector<std::string>{});
        view_.RunUntil([] { return false; }, 100ms);
    }
    std::lock_guard lock(g_ipMutex);
    EXPECT_EQ(g_ipCalls.size(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RestoreSeveral,
    ::testing::Values(SameAddressCase{"one_camera_asks_nothing",
                                      {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, false}},
                                      false,
                                      "",
                                      "",
                                      1},
                      SameAddressCase{"several_asked_yes",
                                      {{{10, 77, 1, 1}, 1, true},
                                       {{10, 77, 1, 2}, 2, true},
                                       {{10, 77, 1, 3}, 3, true}},
                                      true,
                                      "3台设备将使用同一地址 10.77.1.77，继续吗？",
                                      "",
                                      3},
                      SameAddressCase{"several_asked_no",
                                      {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 2}, 2, true}},
                                      false,
                                      "2台设备将使用同一地址 10.77.1.77，继续吗？",
                                      "",
                                      0},
                      SameAddressCase{"a_camera_left_out_holds_the_default",
                                      {{{10, 77, 1, 1}, 1, true}, {{10, 77, 1, 77}, 2, false}},
                                      true,
                                      "",
                                      "默认IP 10.77.1.77 已被占用（00:1A:2B:3C:4D:02）",
                                      0},
                      SameAddressCase{"a_ticked_camera_on_the_default_already",
                                      {{{10, 77, 1, 77}, 1, true}},
                                      true,
                                      "",
                                      "",
                                      1}),
    [](const ::testing::TestParamInfo<SameAddressCase>& p) { return std::string(p.param.name); });

// ---- safe at the edges: default address, request line, lock, log failures ----

TEST_F(DialogTest, RestoreRefusesADefaultNoCameraCouldBeReachedAt) {
    const char* const bad[] = {
        "192.168.1",    "192.168.1.0", "192.168.1.255", "0.1.2.3",   "224.0.0.1", "255.255.255.255",
        "192.168.01.5", "abc",         "192.168.1.5 x", "1.2.3.4.5", ""};
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    for (const char* value : bad) {
        std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=" << value << "\n";
        view_.messages.clear();
        dlg_->OnBnClickedRestoreIp();
        EXPECT_EQ(view_.messages, std::vector<std::string>{std::string("config.ini 中的默认IP“") +
                                                           value + "”不是可用的主机地址"});
        EXPECT_TRUE(view_.windowEnabled) << value;
    }
    view_.RunUntil([] { return false; }, 200ms);
    std::lock_guard lock(g_ipMutex);
    EXPECT_TRUE(g_ipCalls.empty());
    EXPECT_EQ(ReadAll(dir_ / "2026_01_02.log").find(LogText("开始")), std::string::npos);
}

TEST_F(DialogTest, ABatchRecordsItsRequestBeforeAnyCameraIsTouched) {
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.SetRowChecked(2, true);
    view_.SetStartIp({192, 168, 1, 100});
    dlg_->OnBnClickedModifyIp();
    ASSERT_TRUE(RunBatch());
    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=127.0.0.9\n";
    dlg_->OnBnClickedRestoreIp();
    ASSERT_TRUE(RunBatch());
    const std::string file = ReadAll(dir_ / "2026_01_02.log");
    const auto modify = file.find(LogText("]开始批量修改IP：2台设备，起始IP 192.168.1.100\r\n"));
    const auto restore = file.find(LogText("]开始批量恢复默认IP：2台设备，默认IP 127.0.0.9\r\n"));
    ASSERT_NE(modify, std::string::npos) << file;
    ASSERT_NE(restore, std::string::npos) << file;
    EXPECT_LT(modify, file.find(LogText("修改IP成功")));
    EXPECT_LT(restore, file.find(LogText("恢复默认IP成功")));
    EXPECT_NE(view_.pane.find("开始批量修改IP：2台设备，起始IP 192.168.1.100\r\n"),
              std::string::npos);
}

TEST_F(DialogTest, OneBatchAtATimePerConfigurationFolder) {
    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=127.0.0.77\n";
    Open();
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.SetStartIp({192, 168, 1, 100});
    {
        // Another instance on the same folder holds the lock.
        platform::FileLock other;
        ASSERT_EQ(other.TryLock(dlg_->BatchLockPath(), nullptr),
                  platform::FileLock::Result::Locked);
        for (auto press :
             {&app::CQuorvaneDlg::OnBnClickedModifyIp, &app::CQuorvaneDlg::OnBnClickedRestoreIp}) {
            view_.messages.clear();
            ((*dlg_).*press)();
            EXPECT_EQ(view_.messages,
                      std::vector<std::string>{"另一个Quorvane正在执行批量任务，请等它完成后再试"});
            EXPECT_TRUE(view_.windowEnabled);
        }
        std::lock_guard lock(g_ipMutex);
        EXPECT_TRUE(g_ipCalls.empty());
    }
    // Held for the batch, released when it has ended.
    g_refuse.clear();
    dlg_->OnBnClickedModifyIp();
    platform::FileLock probe;
    EXPECT_EQ(probe.TryLock(dlg_->BatchLockPath(), nullptr), platform::FileLock::Result::Busy);
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(probe.TryLock(dlg_->BatchLockPath(), nullptr), platform::FileLock::Result::Locked);
}

TEST_F(DialogTest, ALogThatCannotBeOpenedIsSaidOnceAndThePaneGoesOn) {
    const fs::path log = dir_ / "2026_01_02.log";
    const std::vector<std::function<void()>> makeUnusable{
#ifndef _WIN32  // no pipes or links under Wine
        [&] { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); },
        [&] { fs::create_symlink(dir_ / "elsewhere.log", log); },
#endif
        [&] { fs::create_directories(log); },
    };
    for (const auto& make : makeUnusable) {
        fs::remove_all(log);
        make();
        view_.pane.clear();
        Open();
        dlg_->OnBnClickedSearch();
        view_.SetRowChecked(0, true);
        view_.SetStartIp({192, 168, 1, 100});
        dlg_->OnBnClickedModifyIp();
        ASSERT_TRUE(RunBatch());
        const std::string said = "无法打开操作日志 " + log.string() + "：";
        EXPECT_EQ(view_.pane.find(said), view_.pane.rfind(said)) << view_.pane;
        EXPECT_NE(view_.pane.find(said), std::string::npos) << view_.pane;
        EXPECT_NE(view_.pane.find("修改IP成功"), std::string::npos);
        EXPECT_EQ(dlg_->LogFailure().rfind("无法打开操作日志", 0), 0u);
        dlg_.reset();
    }
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere.log"));
}

char g_initError[] = "cannot read network configuration /nowhere.conf: No such file or directory";
int FailingInit() {
    return 3;
}
int InitError(char* text, int size) {
    std::snprintf(text, static_cast<std::size_t>(size), "%s", g_initError);
    return static_cast<int>(std::strlen(g_initError));
}

TEST_F(DialogTest, ANetworkConfigurationThatCannotBeReadIsSaidAtStart) {
    Open(true, [](app::DialogDeps& deps) {
        deps.search.Init = &FailingInit;
        deps.search.GetInitError = &InitError;
    });
    EXPECT_EQ(dlg_->NetInitError(), g_initError);
    EXPECT_EQ(view_.pane, std::string("QuorvaneV1.0.0.8(Custom版)   已启动\r\n"
                                      "网络配置无法使用，搜索不到设备：") +
                              g_initError + "\r\n");
    dlg_.reset();
    Open(true, [](app::DialogDeps& deps) { deps.search.Init = &FailingInit; });
    EXPECT_EQ(dlg_->NetInitError(), "error 3");
}

}  // namespace

// ---- the outcome record in the row, the pane, the hook and the batch's report ----

struct OutcomeRow {
    const char* name;
    int result;
    OutcomeResult outcome;
    ReasonCode reason;
    const char* cameraWords;
    int percent;
    VerifyResult verify;
    const char* after;
    const char* detail;  // the 详情 cell and the extra log line; "" none
};

class OutcomeToViews : public DialogTest, public ::testing::WithParamInterface<OutcomeRow> {};

TEST_P(OutcomeToViews, DetailGoesBesideTheSpecifiedLineAndToTheHook) {
    const OutcomeRow& c = GetParam();
    Open();
    dlg_->OnBnClickedSearch();
    view_.pane.clear();
    auto r = Result("192.168.0.10", "00:1A:2B:3C:4D:10", TASK_UPGRADE, c.result);
    r->outcome.result = c.outcome;
    r->outcome.reason = c.reason;
    r->outcome.reasonText = c.cameraWords;
    r->outcome.percent = c.percent;
    r->outcome.verify = c.verify;
    r->outcome.versionAfter = c.after;
    r->outcome.versionNamed = "2.6";
    r->outcome.otherMac = "02:00:00:00:00:09";
    const std::string soft = view_.CellText(1, app::kColSoft);
    dlg_->OnTaskResult(std::move(r));
    // Only a proven camera's row takes the version it came back with.
    const bool proven =
        c.verify == VerifyResult::NamedVersion || c.verify == VerifyResult::NewVersion;
    EXPECT_EQ(view_.CellText(1, app::kColSoft), proven ? std::string(c.after) : soft);
    EXPECT_EQ(dlg_->List().Row(1).soft, view_.CellText(1, app::kColSoft));
    const std::string status = c.result == 1 ? "升级成功" : "升级失败";
    EXPECT_EQ(view_.CellText(1, 6), status);
    EXPECT_EQ(view_.CellText(1, 7), c.detail);
    std::string pane = "[00:1A:2B:3C:4D:10] 192.168.0.10 " + status + "\r\n";
    if (*c.detail != '\0') {
        pane += std::string("[00:1A:2B:3C:4D:10] 192.168.0.10 ") + c.detail + "\r\n";
    }
    EXPECT_EQ(view_.pane, pane);
    ASSERT_EQ(view_.cameras.size(), 1u);
    const auto& hook = view_.cameras[0];
    EXPECT_EQ(hook.update.row, 1);
    EXPECT_EQ(hook.update.status, status);
    EXPECT_EQ(hook.update.detail, c.detail);
    ASSERT_TRUE(hook.outcome);
    EXPECT_EQ(hook.outcome->reason, c.reason);
    EXPECT_EQ(hook.outcome->verify, c.verify);
    // The batch's record has the camera with the row's type and hardware.
    ASSERT_EQ(dlg_->LastReport().cameras.size(), 1u);
    EXPECT_EQ(dlg_->LastReport().cameras[0].type, "IPC-A");
    EXPECT_EQ(dlg_->LastReport().cameras[0].hw, "YJ1");
    EXPECT_EQ(dlg_->LastReport().cameras[0].detail, c.detail);
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, OutcomeToViews,
    ::testing::Values(
        OutcomeRow{"NoConnect", 0, OutcomeResult::Failed, ReasonCode::NoConnect, "", -1,
                   VerifyResult::NotChecked, "", "连接无应答"},
        OutcomeRow{"NoHello", 0, OutcomeResult::Failed, ReasonCode::NoHello, "", -1,
                   VerifyResult::NotChecked, "", "相机未应答握手"},
        OutcomeRow{"LinkDropped", 0, OutcomeResult::Failed, ReasonCode::LinkDropped, "", 43,
                   VerifyResult::NotChecked, "", "连接在43%时中断"},
        OutcomeRow{"Hardware", 0, OutcomeResult::Refused, ReasonCode::RefusedHardware,
                   "entry YJ202\nforged", -1, VerifyResult::NotChecked, "",
                   "相机拒绝：硬件版本不符（entry YJ202\\nforged）"},
        OutcomeRow{"OldCamera", 0, OutcomeResult::Refused, ReasonCode::RefusedFile, "", -1,
                   VerifyResult::NotChecked, "", "相机拒绝：文件无效"},
        OutcomeRow{"LocalFile", 0, OutcomeResult::Failed, ReasonCode::LocalFile, "", -1,
                   VerifyResult::NotChecked, "", "升级文件无法读取"},
        OutcomeRow{"Timeout", 0, OutcomeResult::Failed, ReasonCode::Timeout, "", -1,
                   VerifyResult::NotChecked, "", "等待相机确认超时"},
        OutcomeRow{"UncheckedSuccess", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::NotChecked, "", ""},
        OutcomeRow{"Verified", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::NamedVersion, "2.6.0_1a2b3c4d", "已验证 2.6.0_1a2b3c4d"},
        OutcomeRow{"Unchanged", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::Unchanged, "V1.0.10", "版本未变 V1.0.10"},
        OutcomeRow{"NotBack", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::NotBack, "", "重启后未恢复"},
        OutcomeRow{"OtherDevice", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::OtherDevice, "", "地址上是另一台设备 02:00:00:00:00:09"},
        OutcomeRow{"OtherVersion", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::OtherVersion, "2.5.0_x", "版本不符 2.5.0_x（文件为2.6）"},
        OutcomeRow{"NoVersion", 1, OutcomeResult::Succeeded, ReasonCode::None, "", -1,
                   VerifyResult::NoVersion, "", "无法验证：相机未报告版本"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DialogTest, TheRetrySetAndTheReportGoByOneProof) {
    Open();
    dlg_->OnBnClickedSearch();
    const std::pair<const char*, VerifyResult> cameras[] = {
        {"00:1A:2B:3C:4D:9A", VerifyResult::NamedVersion},  // row 0: proven
        {"00:1A:2B:3C:4D:10", VerifyResult::Stopped},       // row 1: its check was given up
        {"00:1A:2B:3C:4D:01", VerifyResult::NotChecked}};   // row 2: no check asked
    for (const auto& [mac, verify] : cameras) {
        auto r = Result("192.168.0.1", mac, TASK_UPGRADE, 1);
        r->outcome.result = OutcomeResult::Succeeded;
        r->outcome.verify = verify;
        dlg_->OnTaskResult(std::move(r));
    }
    EXPECT_EQ(dlg_->TickRowsToRetry(), 1);
    EXPECT_TRUE(view_.RowChecked(1));
    EXPECT_EQ(app::Summarize(dlg_->LastReport()).verified, 1u);
}

// A view that shows the rows its own way: what the batches read is the
// dialog's record of each row, never a cell read back.
class ForgetfulView : public RecordingView {
  public:
    std::string CellText(int, int) const override { return "?"; }
};

TEST_F(DialogTest, TheRowsRecordsNotTheCellsAreWhatBatchesRead) {
    ForgetfulView view;
    app::DialogDeps deps;
    deps.search = app::SearchApi{};
    deps.search.FindDevice = &FakeFind;
    deps.net = NetApi{};
    deps.helper = HelperApi{&FakeModifyDevIp, nullptr};
    deps.configDir = dir_.string();
    deps.clock = [] { return platform::LocalTime{2026, 1, 2, 3, 4, 5, 6}; };
    app::CQuorvaneDlg dlg(view, deps);
    dlg.OnInitDialog();
    dlg.OnBnClickedSearch();
    dlg.OnLvnColumnclickDeviceList(2);  // descending: .100, .10, .9
    ASSERT_EQ(dlg.List().Count(), 3);
    EXPECT_EQ(dlg.List().Row(2).mac, "00:1A:2B:3C:4D:9A");
    EXPECT_EQ(dlg.List().FindByMac("00:1A:2B:3C:4D:01"), 0);
    view.SetRowChecked(2, true);
    view.SetStartIp({192, 168, 1, 50});
    dlg.OnBnClickedModifyIp();
    ASSERT_TRUE(view.RunUntil([&] { return !view.messages.empty(); }, 60s));
    {
        std::lock_guard lock(g_ipMutex);
        ASSERT_EQ(g_ipCalls.size(), 1u);
        EXPECT_EQ(g_ipCalls[0].mac, "00:1A:2B:3C:4D:9A");
    }
    EXPECT_EQ(dlg.List().Row(2).ip, "192.168.1.50");
    EXPECT_EQ(dlg.List().Row(2).status, "修改IP成功");
    EXPECT_EQ(view.rows[2].cells[2], "192.168.1.50");  // and the view was told
    ASSERT_EQ(dlg.LastReport().cameras.size(), 1u);
    EXPECT_EQ(dlg.LastReport().cameras[0].type, "ipc-b");
    ASSERT_TRUE(dlg.ExportList((dir_ / "list.csv").string()));
    EXPECT_NE(ReadAll(dir_ / "list.csv").find("\r\n1,IPC-A,192.168.0.10,00:1A:2B:3C:4D:10,"),
              std::string::npos);
}

// ---- records that agree with what happened ----

// A camera never started has the status the list and the log give it, in the
// batch's record too (and so in its report and `history --csv`).
struct SkippedRow {
    const char* name;
    int kind;
    ReasonCode why;
    const char* status;
};

class SkippedRecord : public DialogTest, public ::testing::WithParamInterface<SkippedRow> {};

TEST_P(SkippedRecord, HasTheStatusTheListShows) {
    const SkippedRow& c = GetParam();
    Open();
    dlg_->OnBnClickedSearch();
    auto r = Result("192.168.0.10", "00:1A:2B:3C:4D:10", c.kind, 0);
    r->outcome.reason = c.why;
    dlg_->OnTaskResult(std::move(r));
    EXPECT_EQ(view_.CellText(1, 6), c.status);
    ASSERT_EQ(dlg_->LastReport().cameras.size(), 1u);
    EXPECT_EQ(dlg_->LastReport().cameras[0].status, c.status);
    EXPECT_EQ(app::ReportJson(dlg_->LastReport())["cameras"][0]["status"], c.status);
}

INSTANTIATE_TEST_SUITE_P(StoppedOrHeld, SkippedRecord,
                         ::testing::Values(SkippedRow{"UpgradeStopped", TASK_UPGRADE,
                                                      ReasonCode::NotStarted, "未升级（已停止）"},
                                           SkippedRow{"UpgradeHeld", TASK_UPGRADE, ReasonCode::Held,
                                                      "未升级（已暂缓）"},
                                           SkippedRow{"ModifyStopped", TASK_MODIFY_IP,
                                                      ReasonCode::NotStarted, "未修改（已停止）"}),
                         [](const auto& row) { return std::string(row.param.name); });

// The specified line is in the daily log from the verdict on; the proof comes
// later as its extra line and completes the batch's record.
TEST_F(DialogTest, TheVerdictLineIsLoggedAtOnceAndTheProofFollows) {
    Open();
    dlg_->OnBnClickedSearch();
    auto r = Result("192.168.0.10", "00:1A:2B:3C:4D:10", TASK_UPGRADE, 1);
    r->outcome.result = OutcomeResult::Succeeded;
    r->outcome.proofFollows = true;
    r->outcome.versionBefore = "2.3.1_x";
    dlg_->OnTaskResult(std::move(r));
    const fs::path log = dir_ / "2026_01_02.log";
    const std::string verdict = LogText("][00:1A:2B:3C:4D:10] 192.168.0.10 升级成功\r\n");
    EXPECT_NE(ReadAll(log).find(verdict), std::string::npos) << ReadAll(log);
    EXPECT_EQ(view_.CellText(1, 7), "");
    LiveState live;
    live.mac = "00:1A:2B:3C:4D:10";
    live.stage = LiveStage::Rebooting;
    dlg_->OnLiveState(live);

    auto proof = Result("192.168.0.10", "00:1A:2B:3C:4D:10", TASK_UPGRADE, 1);
    proof->outcome.result = OutcomeResult::Succeeded;
    proof->outcome.verify = VerifyResult::NoVersion;
    proof->outcome.versionBefore = "2.3.1_x";
    dlg_->OnTaskProof(std::move(proof));
    const std::string file = ReadAll(log);
    const auto extra =
        file.find(LogText("][00:1A:2B:3C:4D:10] 192.168.0.10 无法验证：相机未报告版本\r\n"));
    ASSERT_NE(extra, std::string::npos) << file;
    EXPECT_LT(file.find(verdict), extra);
    EXPECT_EQ(view_.CellText(1, 6), "升级成功");  // over the live state
    EXPECT_EQ(view_.CellText(1, 7), "无法验证：相机未报告版本");
    ASSERT_EQ(dlg_->LastReport().cameras.size(), 1u);
    const app::ReportCamera& camera = dlg_->LastReport().cameras[0];
    EXPECT_EQ(camera.outcome.verify, VerifyResult::NoVersion);
    EXPECT_FALSE(camera.outcome.proofFollows);
    EXPECT_EQ(camera.detail, "无法验证：相机未报告版本");
    EXPECT_EQ(app::Summarize(dlg_->LastReport()).noVersion, 1u);
    ASSERT_FALSE(view_.cameras.empty());
    EXPECT_TRUE(view_.cameras.back().update.proof);
}

TEST_F(DialogTest, LiveStatesShowInTheStatusCellUntilTheResult) {
    Open();
    dlg_->OnBnClickedSearch();
    LiveState s;
    s.mac = "00:1A:2B:3C:4D:10";
    s.ip = "192.168.0.10";
    const std::pair<LiveStage, const char*> steps[] = {
        {LiveStage::Queued, "排队等待"},    {LiveStage::Connecting, "连接中（第2次，共5次）"},
        {LiveStage::Sending, "发送中 43%"}, {LiveStage::AwaitingVerdict, "等待相机确认"},
        {LiveStage::Rebooting, "重启中"},   {LiveStage::Checking, "检查版本"}};
    for (const auto& [stage, text] : steps) {
        s.stage = stage;
        s.attempt = 2;
        s.attempts = 5;
        s.percent = 43;
        dlg_->OnLiveState(s);
        EXPECT_EQ(view_.CellText(1, 6), text);
        ASSERT_TRUE(view_.cameras.back().live);
        EXPECT_EQ(view_.cameras.back().live->stage, stage);
    }
    dlg_->OnTaskResult(Result("192.168.0.10", "00:1A:2B:3C:4D:10", TASK_UPGRADE, 1));
    EXPECT_EQ(view_.CellText(1, 6), "升级成功");
    s.mac = "00:00:00:00:00:00";  // no such row: nothing changes
    dlg_->OnLiveState(s);
    EXPECT_EQ(view_.CellText(1, 6), "升级成功");
}

int FakeTarget(char* address, int size, int* ports) {
    std::snprintf(address, static_cast<std::size_t>(size), "%s", "127.255.255.255");
    ports[0] = 48720;
    ports[1] = 48721;
    ports[2] = 48722;
    return 0;
}

TEST_F(DialogTest, SearchSaysHowManyOrWhereItLookedInThePaneOnly) {
    Open(true, [](app::DialogDeps& d) { d.search.GetSearchTarget = &FakeTarget; });
    view_.pane.clear();
    dlg_->OnBnClickedSearch();
    EXPECT_EQ(view_.pane, "搜索到3台设备\r\n");
    g_found.clear();
    view_.pane.clear();
    dlg_->OnBnClickedSearch();
    EXPECT_EQ(
        view_.pane,
        "未搜索到设备（发现地址 127.255.255.255，端口 48720；控制端口 48721，改IP端口 48722）\r\n");
    EXPECT_EQ(ReadAll(dir_ / "2026_01_02.log").find(LogText("搜索")), std::string::npos);
}

TEST_F(DialogTest, ExportWritesTheListAsShownWhole) {
    g_found.push_back(Device("=cmd|' /C calc'!A0", {192, 168, 0, 50}, 0x50, "V\"1\",2", "h"));
    Open();
    dlg_->OnBnClickedSearch();
    const fs::path out = dir_ / "list.csv";
    ASSERT_TRUE(dlg_->ExportList(out.string()));
    const std::string csv = ReadAll(out);
    EXPECT_EQ(
        csv.rfind("\xEF\xBB\xBF序号,设备类型,IP地址,MAC地址,软件版本,硬件版本,状态,详情\r\n", 0),
        0u);
    // A camera's text cannot become a formula or break the columns.
    EXPECT_NE(csv.find(",'=cmd|' /C calc'!A0,"), std::string::npos);
    EXPECT_NE(csv.find(",\"V\"\"1\"\",2\","), std::string::npos);
#ifndef _WIN32  // Wine makes no links
    // Never written through a link.
    const fs::path link = dir_ / "link.csv";
    fs::create_symlink(dir_ / "target.csv", link);
    EXPECT_FALSE(dlg_->ExportList(link.string()));
    EXPECT_FALSE(fs::exists(dir_ / "target.csv"));
    EXPECT_TRUE(fs::is_symlink(link));
#endif
}

// ---- the adapter searched on ----

namespace {

std::vector<std::string> g_korvelChoices;
std::vector<std::string> g_nimbrelChoices;

int RecordKorvelChoice(const char* key) {
    g_korvelChoices.push_back(key ? key : "(conf)");
    return 0;
}
int RecordNimbrelChoice(const char* key) {
    g_nimbrelChoices.push_back(key ? key : "(conf)");
    return 1;
}

platform::NetAdapter Adapter(const char* name, uint32_t address, int prefix, bool up = true,
                             bool loopback = false) {
    return {name, address, prefix, up, !loopback, false, loopback};
}

const std::vector<platform::NetAdapter> kLaptop = {
    Adapter("lo", 0x7F000001, 8, true, true), Adapter("wlan0", 0xC0A83214, 24),  // 192.168.50.20/24
    Adapter("eth0", 0x0A4D0001, 16),                                             // 10.77.0.1/16
    Adapter("eth0", 0x0A4E0001, 16),          // 10.78.0.1/16, a second address
    Adapter("usb0", 0x0A630001, 24, false)};  // down

}  // namespace

TEST(AdapterChoice, ItemsKeysAndTheChoiceTypedByHand) {
    const auto choosable = app::ChoosableAdapters(kLaptop);
    EXPECT_EQ(app::AdapterItems(choosable),
              (std::vector<std::string>{"全部网卡", "wlan0 192.168.50.20/24", "eth0 10.77.0.1/16",
                                        "eth0 10.78.0.1/16"}));
    struct Row {
        int index;
        std::string key;  // what config.ini keeps
    };
    // An adapter with two addresses is kept by the address chosen.
    for (const Row& r : {Row{0, ""}, Row{1, "wlan0"}, Row{2, "10.77.0.1"}, Row{3, "10.78.0.1"}}) {
        EXPECT_EQ(app::AdapterKey(choosable, r.index), r.key) << r.index;
        EXPECT_EQ(app::AdapterIndex(choosable, r.key), r.index) << r.key;
    }
    EXPECT_EQ(app::AdapterKey(choosable, 9), "");
    EXPECT_EQ(app::AdapterIndex(choosable, "usb0"), 0);  // down: every adapter is shown
    EXPECT_EQ(app::AdapterIndex(choosable, "gone"), 0);

    std::string why;
    for (const char* known : {"eth0", "10.78.0.1", "lo"}) {
        EXPECT_EQ(app::CheckAdapterChoice(kLaptop, known, &why), std::string(known));
    }
    EXPECT_FALSE(app::CheckAdapterChoice(kLaptop, "usb0", &why));
    EXPECT_EQ(why, "网卡“usb0”未启用");
    for (const char* unknown : {"eth9", "10.77.0.2", ""}) {
        EXPECT_FALSE(app::CheckAdapterChoice(kLaptop, unknown, &why)) << unknown;
    }
    EXPECT_EQ(why,
              "没有网卡“”，本机网卡：wlan0 192.168.50.20/24，eth0 10.77.0.1/16，eth0 "
              "10.78.0.1/16，usb0 10.99.0.1/24");
    EXPECT_FALSE(app::CheckAdapterChoice({}, "eth0", &why));
    EXPECT_EQ(why, "没有网卡“eth0”，本机没有可用的网卡");
}

TEST_F(DialogTest, TheAdapterChosenIsSearchedOnAndRememberedInConfigIni) {
    g_korvelChoices.clear();
    g_nimbrelChoices.clear();
    const auto withLaptop = [](app::DialogDeps& deps) {
        deps.adapters = [] { return std::optional(kLaptop); };
        deps.search.SetInterface = &RecordKorvelChoice;
        deps.helper = HelperApi{&FakeModifyDevIp, nullptr, &RecordNimbrelChoice};
    };
    Open(true, withLaptop);
    EXPECT_EQ(view_.adapterItems.size(), 4u);
    EXPECT_EQ(view_.adapterItem, 0);
    EXPECT_EQ(g_korvelChoices, (std::vector<std::string>{""}));

    view_.adapterItem = 2;
    dlg_->OnCbnSelchangeInterface();
    EXPECT_EQ(g_korvelChoices.back(), "10.77.0.1");
    EXPECT_EQ(g_nimbrelChoices.back(), "10.77.0.1");
    EXPECT_EQ(platform::GetPrivateProfileString("config", "interface", "DEF",
                                                (dir_ / "config.ini").string()),
              "10.77.0.1");

    // The next start shows and applies it again.
    dlg_.reset();
    Open(true, withLaptop);
    EXPECT_EQ(view_.adapterItem, 2);
    EXPECT_EQ(g_korvelChoices.back(), "10.77.0.1");

    // The console: a name or an address of the PC, or quorvane-net.conf's choice.
    EXPECT_TRUE(dlg_->ChooseAdapter(std::string("wlan0")));
    EXPECT_EQ(g_korvelChoices.back(), "wlan0");
    EXPECT_TRUE(dlg_->ChooseAdapter(std::nullopt));
    EXPECT_EQ(g_korvelChoices.back(), "(conf)");
    EXPECT_EQ(g_nimbrelChoices.back(), "(conf)");
    const size_t before = g_korvelChoices.size();
    EXPECT_FALSE(dlg_->ChooseAdapter(std::string("eth9")));
    EXPECT_EQ(g_korvelChoices.size(), before);
    ASSERT_FALSE(view_.messages.empty());
    EXPECT_EQ(view_.messages.back().rfind("没有网卡“eth9”，本机网卡：", 0), 0u)
        << view_.messages.back();
}

// ---- cameras on another subnet ----

namespace {

// The adapter each camera answered on, by the last byte of its MAC; none: unknown.
std::map<std::uint8_t, tNetAdapterInfo> g_answeredOn;

int FakeAnsweredOn(const uint8_t* mac, tNetAdapterInfo* info) {
    const auto it = g_answeredOn.find(mac[5]);
    if (it == g_answeredOn.end()) {
        return KORVEL_E_PARAM;
    }
    *info = it->second;
    return KORVEL_OK;
}

tNetAdapterInfo On(const char* name, std::array<std::uint8_t, 4> address, std::uint8_t prefix) {
    tNetAdapterInfo a{};
    std::strncpy(a.szName, name, sizeof(a.szName) - 1);
    std::memcpy(a.ucAddress, address.data(), 4);
    a.ucPrefix = prefix;
    return a;
}

struct ForeignRow {
    const char* name;
    std::array<std::uint8_t, 4> camera;
    std::optional<tNetAdapterInfo> answeredOn;
    const char* detail;  // after the search
};

}  // namespace

TEST_F(DialogTest, ACameraOutsideItsAdaptersSubnetIsMarked) {
    const ForeignRow rows[] = {
        {"inside", {10, 77, 1, 5}, On("eth0", {10, 77, 0, 1}, 16), ""},
        {"outside", {10, 99, 1, 5}, On("eth0", {10, 77, 0, 1}, 16), "不在本机网段：10.77.0.1/16"},
        {"edge_of_a_24", {192, 168, 1, 255}, On("eth1", {192, 168, 1, 7}, 24), ""},
        {"next_24",
         {192, 168, 2, 1},
         On("eth1", {192, 168, 1, 7}, 24),
         "不在本机网段：192.168.1.7/24"},
        {"host_route_32",
         {10, 8, 0, 2},
         On("ptp0", {10, 8, 0, 1}, 32),
         "不在本机网段：10.8.0.1/32"},
        {"whole_space", {10, 8, 0, 3}, On("any", {10, 8, 0, 1}, 0), ""},
        // One socket the system routed: the library does not know the adapter.
        {"unknown_adapter", {10, 99, 1, 6}, std::nullopt, ""},
    };
    g_found.clear();
    g_answeredOn.clear();
    std::map<std::string, const ForeignRow*> byIp;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto mac = static_cast<std::uint8_t>(i + 1);
        g_found.push_back(Device("QV", rows[i].camera, mac, "V1.0.0", "YJ1"));
        if (rows[i].answeredOn) {
            g_answeredOn[mac] = *rows[i].answeredOn;
        }
        byIp[std::to_string(rows[i].camera[0]) + "." + std::to_string(rows[i].camera[1]) + "." +
             std::to_string(rows[i].camera[2]) + "." + std::to_string(rows[i].camera[3])] =
            &rows[i];
    }
    Open(true, [](app::DialogDeps& deps) { deps.search.GetAnsweredOn = &FakeAnsweredOn; });
    dlg_->OnBnClickedSearch();
    ASSERT_EQ(dlg_->List().Count(), static_cast<int>(std::size(rows)));
    for (int r = 0; r < dlg_->List().Count(); ++r) {
        const app::DeviceRow& row = dlg_->List().Row(r);
        const ForeignRow* want = byIp.at(row.ip);
        SCOPED_TRACE(want->name);
        EXPECT_EQ(row.detail, want->detail);
        EXPECT_EQ(view_.rows[static_cast<std::size_t>(r)].cells[app::kColDetail], want->detail);
        EXPECT_EQ(row.adapter.empty(), !want->answeredOn.has_value());
    }
}

// A new address inside the subnet clears the mark: its next failure is a plain one.
TEST(ForeignCamera, ANewAddressInsideTheSubnetClearsTheMark) {
    app::MemoryView view;
    app::DeviceList list(view);
    list.Add(Device("QV", {10, 99, 1, 5}, 1, "V1", "YJ1"));
    list.SetAnsweredOn(0, {"eth0", 0x0A4D0001, 16, true, true, false, false});
    EXPECT_EQ(list.Row(0).foreignOf, "10.77.0.1/16");
    EXPECT_EQ(list.Row(0).detail, "不在本机网段：10.77.0.1/16");
    list.SetText(0, app::kColIp, "10.77.1.50");
    EXPECT_EQ(list.Row(0).foreignOf, "");
    list.SetText(0, app::kColIp, "10.78.0.9");
    EXPECT_EQ(list.Row(0).foreignOf, "10.77.0.1/16");
}

TEST(ForeignCamera, ItsConnectionFailureSaysWhy) {
    struct Row {
        ReasonCode reason;
        const char* foreignOf;
        const char* detail;
    };
    for (const Row& r : {
             Row{ReasonCode::NoConnect, "10.77.0.1/16", "不在本机网段：10.77.0.1/16，无法连接"},
             Row{ReasonCode::NoConnect, "", "连接无应答"},
             // It answered: whatever failed then is not the subnet's doing.
             Row{ReasonCode::NoHello, "10.77.0.1/16", "相机未应答握手"},
             Row{ReasonCode::Refused, "10.77.0.1/16", "相机拒绝"},
         }) {
        CameraOutcome o;
        o.result = OutcomeResult::Failed;
        o.reason = r.reason;
        EXPECT_EQ(app::DetailText(o, r.foreignOf), r.detail);
    }
}

TEST(ForeignCamera, TheStartAddressOfferedFitsTheSubnetAndSkipsWhatIsTaken) {
    struct Row {
        const char* name;
        std::uint32_t address;
        int prefix;
        std::size_t count;
        std::set<std::uint32_t> used;
        std::optional<std::array<std::uint8_t, 4>> want;
    };
    const Row rows[] = {
        {"after_the_pc", 0x0A4D0001, 16, 3, {}, std::array<std::uint8_t, 4>{10, 77, 0, 2}},
        {"past_cameras_in_use",
         0xC0A80101,
         24,
         2,
         {0xC0A80102, 0xC0A80104},
         std::array<std::uint8_t, 4>{192, 168, 1, 5}},
        // The numbering passes .255 and .0: a run may go on in the next /24 of a /16.
        {"across_a_24", 0x0A4D0001, 16, 300, {}, std::array<std::uint8_t, 4>{10, 77, 0, 2}},
        {"a_full_30", 0x0A000001, 30, 2, {}, std::nullopt},  // .2 alone is left
        {"room_for_one_in_a_30", 0x0A000001, 30, 1, {}, std::array<std::uint8_t, 4>{10, 0, 0, 2}},
        {"no_room_in_a_24", 0xC0A80101, 24, 254, {}, std::nullopt},
        {"a_31_has_no_hosts_to_give", 0x0A000000, 31, 1, {}, std::nullopt},
        {"nothing_asked", 0x0A4D0001, 16, 0, {}, std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(app::ProposeStartIp(r.address, r.prefix, r.count, r.used), r.want) << r.name;
    }
}

TEST_F(DialogTest, CamerasAllOnAnotherSubnetAreOfferedAStartAddressInIt) {
    g_found = {Device("QV", {10, 99, 1, 5}, 1, "V1", "YJ1"),
               Device("QV", {10, 99, 1, 6}, 2, "V1", "YJ1"),
               Device("QV", {10, 77, 0, 2}, 3, "V1", "YJ1")};
    g_answeredOn.clear();
    for (const std::uint8_t mac : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
        g_answeredOn[mac] = On("eth0", {10, 77, 0, 1}, 16);
    }
    Open(true, [](app::DialogDeps& deps) { deps.search.GetAnsweredOn = &FakeAnsweredOn; });
    dlg_->OnBnClickedSearch();
    const auto tick = [&](std::initializer_list<std::uint8_t> macs) {
        for (int r = 0; r < dlg_->List().Count(); ++r) {
            const std::string& mac = dlg_->List().Row(r).mac;
            view_.SetRowChecked(r, std::any_of(macs.begin(), macs.end(), [&](std::uint8_t m) {
                                    return mac == "00:1A:2B:3C:4D:0" + std::to_string(m);
                                }));
        }
    };
    // Both foreign: the offer skips the PC and the camera already at .2; declined,
    // the typed address stays, and the plan of the typed one is asked next.
    tick({1, 2});
    view_.answer = [](const std::string& q) { return q.rfind("所选设备", 0) != 0; };
    view_.SetStartIp({192, 168, 0, 10});
    dlg_->OnBnClickedModifyIp();
    ASSERT_EQ(view_.questions.size(), 2u);
    EXPECT_EQ(view_.questions[0], "所选设备都不在本机网段（10.77.0.1/16），起始IP改为10.77.0.3？");
    EXPECT_NE(view_.questions[1].find("192.168.0.10"), std::string::npos) << view_.questions[1];
    EXPECT_EQ(view_.startIp, (std::array<std::uint8_t, 4>{192, 168, 0, 10}));
    ASSERT_TRUE(RunBatch());

    // Taken: the batch numbers from it.
    view_.answer = nullptr;
    tick({1, 2});
    {
        std::lock_guard lock(g_ipMutex);
        g_ipCalls.clear();
    }
    dlg_->OnBnClickedModifyIp();
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(view_.startIp, (std::array<std::uint8_t, 4>{10, 77, 0, 3}));
    std::set<std::string> given;
    {
        std::lock_guard lock(g_ipMutex);
        for (const auto& c : g_ipCalls) {
            given.insert(c.ip);
        }
    }
    EXPECT_EQ(given, (std::set<std::string>{"10.77.0.3", "10.77.0.4"}));
    // Those now on the cable's subnet are offered nothing.
    tick({1, 3});
    view_.questions.clear();
    dlg_->OnBnClickedModifyIp();
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_EQ(view_.questions[0].rfind("所选设备", 0), std::string::npos) << view_.questions[0];
    ASSERT_TRUE(RunBatch());
}

// ---- the proof at the new address ----

namespace {

// Who answers a directed probe at an address, and who a search finds where.
std::mutex g_netMutex;
std::map<std::string, tNetDeviceInfo> g_probeAnswers;
std::vector<tNetDeviceInfo> g_searchAnswers;

int FakeProbeDevice(const char* ip, int, tNetDeviceInfo* info) {
    std::lock_guard lock(g_netMutex);
    const auto it = g_probeAnswers.find(ip);
    if (it == g_probeAnswers.end()) {
        return KORVEL_E_TIMEOUT;
    }
    *info = it->second;
    return 0;
}

int FakeNetFind(NetFindDeviceCallback cb, void* user) {
    std::vector<tNetDeviceInfo> found;
    {
        std::lock_guard lock(g_netMutex);
        found = g_searchAnswers;
    }
    for (const auto& d : found) {
        cb(&d, user);
    }
    return 0;
}

struct ProofCase {
    const char* name;
    bool restore;  // restore the default IP instead of modifying
    // After the change: who answers a probe at the new address (last MAC
    // byte, 0: nobody) and where a search finds the camera (empty: nowhere).
    std::uint8_t probedMac;
    std::array<std::uint8_t, 4> searchedAt;
    const char* detail;
    const char* summary;  // a part of the batch's summary line
};

class IpProof : public DialogTest, public ::testing::WithParamInterface<ProofCase> {};

TEST_P(IpProof, EachChangedCameraIsLookedForAtItsNewAddress) {
    const ProofCase& c = GetParam();
    g_found = {Device("IPC", {10, 77, 1, 1}, 0x01, "V1", "H1")};
    const std::string address = c.restore ? "127.0.0.77" : "10.77.1.30";
    {
        std::lock_guard lock(g_netMutex);
        g_probeAnswers.clear();
        g_searchAnswers.clear();
        const auto ip = addressing::ParseIpv4(address);
        const std::array<std::uint8_t, 4> at{
            static_cast<std::uint8_t>(*ip >> 24), static_cast<std::uint8_t>(*ip >> 16),
            static_cast<std::uint8_t>(*ip >> 8), static_cast<std::uint8_t>(*ip)};
        if (c.probedMac != 0) {
            g_probeAnswers[address] = Device("IPC", at, c.probedMac, "V1", "H1");
        }
        if (c.searchedAt[0] != 0) {
            g_searchAnswers.push_back(
                Device("IPC", c.searchedAt[0] == 1 ? at : c.searchedAt, 0x01, "V1", "H1"));
        }
    }
    if (c.restore) {
        std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=" << address << "\n";
    }
    Open(true, [](app::DialogDeps& deps) {
        deps.net.ProbeDevice = &FakeProbeDevice;
        deps.net.FindDevice = &FakeNetFind;
        deps.ipProofMs = 1200;  // long enough for a probe and a search
    });
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.SetStartIp({10, 77, 1, 30});
    if (c.restore) {
        dlg_->OnBnClickedRestoreIp();
    } else {
        dlg_->OnBnClickedModifyIp();
    }
    ASSERT_TRUE(RunBatch());
    // The described result line stays as it is; the proof goes beside it.
    const char* status = c.restore ? "恢复默认IP成功" : "修改IP成功";
    EXPECT_EQ(view_.CellText(0, app::kColStatus), status);
    EXPECT_EQ(view_.CellText(0, app::kColIp), address);
    EXPECT_EQ(view_.CellText(0, app::kColDetail), c.detail);
    EXPECT_NE(view_.pane.find("[00:1A:2B:3C:4D:01] " + address + " " + status + "\r\n"),
              std::string::npos);
    EXPECT_NE(view_.pane.find("[00:1A:2B:3C:4D:01] " + address + " " + c.detail + "\r\n"),
              std::string::npos)
        << view_.pane;
    EXPECT_NE(view_.pane.find(c.summary), std::string::npos) << view_.pane;
    // The proof came before the batch's end: the record has it.
    const app::BatchReport& record = dlg_->LastReport();
    ASSERT_EQ(record.cameras.size(), 1u);
    EXPECT_EQ(record.cameras[0].detail, c.detail);
    EXPECT_EQ(record.cameras[0].ipBefore, "10.77.1.1");
    EXPECT_EQ(record.cameras[0].ip, address);
    EXPECT_EQ(record.cameras[0].mask, "255.255.255.0");
    EXPECT_GT(record.request.verifyTimeoutMs, 0);
}

INSTANTIATE_TEST_SUITE_P(
    AtTheNewAddress, IpProof,
    ::testing::Values(
        ProofCase{"answers_the_probe",
                  false,
                  0x01,
                  {},
                  "已验证 新地址 10.77.1.30",
                  "成功1（已验证1），拒绝0，失败0，用时"},
        ProofCase{"found_by_the_search", false, 0, {1}, "已验证 新地址 10.77.1.30", "已验证1"},
        ProofCase{"does_not_answer",
                  false,
                  0,
                  {},
                  "新地址无应答",
                  "（已验证0），拒绝0，失败0，新地址无应答1"},
        ProofCase{
            "found_elsewhere_only", false, 0, {10, 77, 1, 1}, "新地址无应答", "新地址无应答1"},
        ProofCase{"another_mac_answers_there",
                  false,
                  0x99,
                  {},
                  "地址上是另一台设备 00:1A:2B:3C:4D:99",
                  "新地址被占用1"},
        ProofCase{"restore_answers_at_the_default",
                  true,
                  0x01,
                  {},
                  "已验证 新地址 127.0.0.77",
                  "已验证1"},
        ProofCase{"restore_not_at_the_default", true, 0, {}, "新地址无应答", "新地址无应答1"}),
    [](const ::testing::TestParamInfo<ProofCase>& p) { return std::string(p.param.name); });

TEST_F(DialogTest, AFailedChangeIsNotLookedFor) {
    g_refuse["00:1A:2B:3C:4D:10"] = true;
    Open(true, [](app::DialogDeps& deps) {
        deps.net.ProbeDevice = &FakeProbeDevice;
        deps.ipProofMs = 60000;  // would be waited out if it were looked for
    });
    dlg_->OnBnClickedSearch();
    const int row = dlg_->List().FindByMac("00:1A:2B:3C:4D:10");
    view_.SetRowChecked(row, true);
    view_.SetStartIp({10, 77, 1, 30});
    const auto started = std::chrono::steady_clock::now();
    dlg_->OnBnClickedModifyIp();
    ASSERT_TRUE(RunBatch());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(view_.CellText(row, app::kColStatus), "修改IP失败");
    EXPECT_EQ(view_.CellText(row, app::kColDetail), "相机未确认");
}

// ---- the address plan by MAC, its export and the undo of an IP batch ----

struct ExCall {
    std::string mac, ip, mask, gateway;
};
std::vector<ExCall> g_exCalls;

int FakeModifyDevIpEx(const char* mac, const char* ip, const char* mask, const char* gateway) {
    std::lock_guard lock(g_ipMutex);
    g_exCalls.push_back({mac, ip, mask, gateway});
    return 1;
}

std::string Mac(std::uint8_t last) {
    char text[18];
    std::snprintf(text, sizeof(text), "00:1A:2B:3C:4D:%02X", last);
    return text;
}

class AddressPlan : public DialogTest {
  protected:
    // Three cameras on eth0 10.77.0.1/16; the second reports mask and gateway.
    void OpenFleet() {
        g_found = {Device("IPC", {10, 77, 1, 1}, 1, "V1", "H1"),
                   Device("IPC", {10, 77, 1, 2}, 2, "V1", "H1"),
                   Device("IPC", {10, 77, 1, 3}, 3, "V1", "H1")};
        const std::uint8_t mask[4] = {255, 255, 0, 0};
        const std::uint8_t gw[4] = {10, 77, 0, 254};
        std::memcpy(g_found[1].ucMask, mask, 4);
        std::memcpy(g_found[1].ucGateway, gw, 4);
        g_answeredOn.clear();
        for (std::uint8_t m = 1; m <= 3; ++m) {
            g_answeredOn[m] = On("eth0", {10, 77, 0, 1}, 16);
        }
        g_lan.clear();
        g_lanAsked.clear();
        g_lanWorks = true;
        g_lan[Num("10.77.1.20")] = "02:77:00:00:02:01";  // the parking server
        {
            std::lock_guard lock(g_ipMutex);
            g_exCalls.clear();
        }
        Open(true, [](app::DialogDeps& deps) {
            deps.search.GetAnsweredOn = &FakeAnsweredOn;
            deps.probeLan = &FakeLan;
            deps.helper->ModifyDevIpEx = &FakeModifyDevIpEx;
            // Each batch its own record: the clock moves on.
            deps.clock = [n = std::make_shared<int>(0)] {
                return platform::LocalTime{2026, 1, 2, 3, 4, 5, (*n)++ % 1000};
            };
        });
        dlg_->OnBnClickedSearch();
    }
    std::string PlanFile(const std::string& text) {
        const fs::path p = dir_ / "plan.csv";
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    void ExpectNothingSent() {
        view_.RunUntil([] { return false; }, 100ms);
        std::lock_guard lock(g_ipMutex);
        EXPECT_TRUE(g_ipCalls.empty());
        EXPECT_TRUE(g_exCalls.empty());
    }
};

struct PlanRefusal {
    const char* name;
    std::string text;
    const char* fault;  // the line of the message that names it
};

class PlanFileRefusal : public AddressPlan, public ::testing::WithParamInterface<PlanRefusal> {};

TEST_P(PlanFileRefusal, IsRefusedWholeWithItsLineBeforeAnythingIsSent) {
    const PlanRefusal& c = GetParam();
    OpenFleet();
    view_.nextOpenPath = PlanFile(c.text);
    dlg_->OnImportPlan();
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.messages[0].rfind("地址表有误，没有设备被改动：\n", 0), 0u)
        << view_.messages[0];
    EXPECT_NE(view_.messages[0].find("\n" + std::string(c.fault)), std::string::npos)
        << view_.messages[0];
    EXPECT_TRUE(view_.questions.empty());
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_EQ(view_.pane.find("开始批量修改IP"), std::string::npos);
    ExpectNothingSent();
}

const std::string kPlanHead = "mac,ip,mask,gateway,name\n";
const std::string kRow1 = Mac(1) + ",10.77.5.1,,,\n";

INSTANTIATE_TEST_SUITE_P(
    EveryKind, PlanFileRefusal,
    ::testing::Values(
        PlanRefusal{"mac_not_found", kPlanHead + kRow1 + "02:00:00:00:00:09,10.77.5.2,,,\n",
                    "第3行：未找到设备 02:00:00:00:00:09"},
        PlanRefusal{"mac_twice", kPlanHead + kRow1 + Mac(1) + ",10.77.5.2,,,\n",
                    "第3行：MAC重复 00:1A:2B:3C:4D:01（第2行）"},
        PlanRefusal{"address_twice", kPlanHead + kRow1 + Mac(2) + ",10.77.5.1,,,\n",
                    "第3行：地址重复 10.77.5.1（第2行）"},
        PlanRefusal{"address_of_another_camera", kPlanHead + Mac(1) + ",10.77.1.3,,,\n",
                    "第2行：地址已被占用 10.77.1.3"},
        PlanRefusal{"address_answering_on_the_lan", kPlanHead + kRow1 + Mac(2) + ",10.77.1.20,,,\n",
                    "第3行：地址已被占用 10.77.1.20"},
        PlanRefusal{"outside_the_adapters_subnet",
                    kPlanHead + Mac(1) + ",10.78.1.5,255.255.0.0,,\n",
                    "第2行：地址不在子网 10.77.0.0/16 内"},
        PlanRefusal{"bad_line", kPlanHead + kRow1 + Mac(2) + ",10.77.5.2\n", "第3行：列数不符"},
        PlanRefusal{"bad_mac", kPlanHead + "00:1A:2B:3C:4D,10.77.5.2,,,\n", "第2行：MAC地址无效"},
        PlanRefusal{"gateway_off_its_subnet", kPlanHead + Mac(1) + ",10.77.5.1,,10.78.0.1,\n",
                    "第2行：网关不在子网内 10.78.0.1"},
        PlanRefusal{"no_header", Mac(1) + ",10.77.5.1\n", "第1行：表头无效"}),
    [](const ::testing::TestParamInfo<PlanRefusal>& p) { return std::string(p.param.name); });

TEST_F(AddressPlan, AFileThatCannotBeReadIsSaid) {
    OpenFleet();
    view_.nextOpenPath = (dir_ / "none.csv").string();
    dlg_->OnImportPlan();
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_EQ(view_.messages[0].rfind("无法读取地址表：", 0), 0u) << view_.messages[0];
    ExpectNothingSent();
    // Cancelled: nothing asked, nothing said.
    view_.nextOpenPath.reset();
    dlg_->OnImportPlan();
    EXPECT_EQ(view_.messages.size(), 1u);
}

TEST_F(AddressPlan, AFilesPlanTicksItsCamerasGivesEachItsOwnAndRoundTrips) {
    OpenFleet();
    view_.SetRowChecked(0, true);  // not in the plan: unticked by it
    view_.nextOpenPath =
        PlanFile(kPlanHead + Mac(2) + ",10.77.5.2,255.255.0.0,10.77.0.1,1号车道 入口\n" + Mac(3) +
                 ",10.77.5.3,255.255.254.0,,\n");
    dlg_->OnImportPlan();
    ASSERT_TRUE(RunBatch()) << (view_.messages.empty() ? "" : view_.messages[0]);
    EXPECT_EQ(view_.messages.back(), "批量修改IP完成");
    EXPECT_FALSE(view_.RowChecked(dlg_->List().FindByMac(Mac(1))));
    EXPECT_TRUE(view_.RowChecked(dlg_->List().FindByMac(Mac(2))));
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_NE(view_.questions[0].find(Mac(2) + "  10.77.1.2 → 10.77.5.2 子网掩码 255.255.0.0 网关 "
                                               "10.77.0.1  1号车道 入口\n"),
              std::string::npos)
        << view_.questions[0];
    {
        // Both by the new request: the one without a gateway keeps its own.
        std::lock_guard lock(g_ipMutex);
        EXPECT_TRUE(g_ipCalls.empty());
        std::map<std::string, ExCall> byMac;
        for (const ExCall& call : g_exCalls) {
            byMac[call.mac] = call;
        }
        ASSERT_EQ(byMac.size(), 2u);
        EXPECT_EQ(byMac[Mac(2)].mask, "255.255.0.0");
        EXPECT_EQ(byMac[Mac(2)].gateway, "10.77.0.1");
        EXPECT_EQ(byMac[Mac(3)].ip, "10.77.5.3");
        EXPECT_EQ(byMac[Mac(3)].mask, "255.255.254.0");
        EXPECT_EQ(byMac[Mac(3)].gateway, "");
    }
    const int two = dlg_->List().FindByMac(Mac(2));
    EXPECT_EQ(view_.CellText(two, app::kColIp), "10.77.5.2");
    EXPECT_EQ(view_.CellText(two, app::kColDetail).rfind("1号车道 入口", 0), 0u);
    EXPECT_NE(view_.pane.find("开始批量修改IP：2台设备，地址表 " + *view_.nextOpenPath),
              std::string::npos)
        << view_.pane;
    const app::BatchReport& r = dlg_->LastReport();
    EXPECT_EQ(r.request.planFile, *view_.nextOpenPath);
    for (const app::ReportCamera& c : r.cameras) {
        SCOPED_TRACE(c.mac);
        EXPECT_EQ(c.name, c.mac == Mac(2) ? "1号车道 入口" : "");
        EXPECT_EQ(c.mask, c.mac == Mac(2) ? "255.255.0.0" : "255.255.254.0");
        EXPECT_EQ(c.maskBefore, c.mac == Mac(2) ? "255.255.0.0" : "");
        EXPECT_EQ(c.gatewayBefore, c.mac == Mac(2) ? "10.77.0.254" : "");
    }

    // Exported, the list is the same plan again, names included.
    view_.nextSavePath = (dir_ / "out.csv").string();
    dlg_->OnExportPlan();
    EXPECT_NE(view_.pane.find("地址表已导出到 "), std::string::npos);
    const addressing::Plan back = addressing::ReadPlan(ReadAll(dir_ / "out.csv"), {});
    ASSERT_TRUE(back.ok()) << back.errors.front();
    ASSERT_EQ(back.rows.size(), 3u);
    std::map<std::string, addressing::PlanRow> byMac;
    for (const auto& row : back.rows) {
        byMac[row.mac] = row;
    }
    EXPECT_EQ(addressing::FormatIpv4(byMac[Mac(1)].ip), "10.77.1.1");
    EXPECT_FALSE(byMac[Mac(1)].mask.has_value());
    EXPECT_EQ(addressing::FormatIpv4(byMac[Mac(2)].ip), "10.77.5.2");
    EXPECT_EQ(addressing::FormatIpv4(*byMac[Mac(2)].mask), "255.255.0.0");
    EXPECT_EQ(addressing::FormatIpv4(*byMac[Mac(2)].gateway), "10.77.0.1");
    EXPECT_EQ(byMac[Mac(2)].name, "1号车道 入口");
    EXPECT_EQ(addressing::FormatIpv4(*byMac[Mac(3)].mask), "255.255.254.0");
    // And imported again it changes no camera's address: each keeps its own.
    std::vector<app::PlannedAddress> again;
    ASSERT_TRUE(dlg_->PlanFromFile((dir_ / "out.csv").string(), &again)) << view_.messages.back();
    for (const app::PlannedAddress& p : again) {
        EXPECT_EQ(p.ip, p.newIp);
    }
}

TEST_F(AddressPlan, UndoGivesEveryCameraBackWhatItHadCheckedAsAPlan) {
    OpenFleet();
    view_.nextOpenPath =
        PlanFile(kPlanHead + Mac(1) + ",10.77.5.1,,,\n" + Mac(2) + ",10.77.5.2,255.255.254.0,,\n");
    dlg_->OnImportPlan();
    ASSERT_TRUE(RunBatch());
    const std::string id = dlg_->LastReport().id;
    {
        std::lock_guard lock(g_ipMutex);
        g_ipCalls.clear();
        g_exCalls.clear();
    }
    view_.questions.clear();
    // Undone: back to 10.77.1.1 with the default mask (it said none), and to
    // 10.77.1.2 with its /16 and its gateway.
    dlg_->OnUndoIpBatch();
    ASSERT_TRUE(RunBatch());
    ASSERT_EQ(view_.questions.size(), 1u);
    EXPECT_EQ(
        view_.questions[0].rfind("恢复批次 " + id + " 前的地址：\n将修改2台设备的IP地址：", 0), 0u)
        << view_.questions[0];
    {
        std::lock_guard lock(g_ipMutex);
        EXPECT_TRUE(g_ipCalls.empty());
        std::map<std::string, ExCall> byMac;
        for (const ExCall& call : g_exCalls) {
            byMac[call.mac] = call;
        }
        ASSERT_EQ(byMac.size(), 2u);
        EXPECT_EQ(byMac[Mac(1)].ip, "10.77.1.1");
        EXPECT_EQ(byMac[Mac(1)].mask, "255.255.255.0");
        EXPECT_EQ(byMac[Mac(1)].gateway, "");
        EXPECT_EQ(byMac[Mac(2)].ip, "10.77.1.2");
        EXPECT_EQ(byMac[Mac(2)].mask, "255.255.0.0");
        EXPECT_EQ(byMac[Mac(2)].gateway, "10.77.0.254");
    }
    EXPECT_EQ(dlg_->LastReport().request.undoOf, id);
    EXPECT_EQ(view_.CellText(dlg_->List().FindByMac(Mac(2)), app::kColIp), "10.77.1.2");

    // Undone again by its id: nothing is left to change.
    std::vector<app::PlannedAddress> plan;
    EXPECT_FALSE(dlg_->PlanUndo(id, &plan));
    EXPECT_EQ(view_.messages.back(), "批次 " + id + " 的设备都已在原地址");
    // An address taken meanwhile refuses the undo whole.
    g_lan[Num("10.77.5.1")] = "02:77:00:00:02:09";
    const std::string undo = dlg_->LastReport().id;
    EXPECT_FALSE(dlg_->PlanUndo(undo, &plan));
    EXPECT_NE(view_.messages.back().find("地址已被占用 10.77.5.1"), std::string::npos)
        << view_.messages.back();
    EXPECT_EQ(view_.messages.back().rfind(
                  "无法恢复批次 " + undo + " 前的地址，没有设备被改动：\n" + Mac(1) + "：", 0),
              0u)
        << view_.messages.back();
}

TEST_F(AddressPlan, NoIpBatchToUndoIsSaid) {
    OpenFleet();
    dlg_->OnUndoIpBatch();
    EXPECT_EQ(view_.messages, std::vector<std::string>{"没有可恢复的IP批次"});
    EXPECT_TRUE(view_.windowEnabled);
    ExpectNothingSent();
}

TEST_F(AddressPlan, BeforeASearchNoFileIsAskedFor) {
    g_found.clear();
    Open();
    view_.nextOpenPath = PlanFile(kPlanHead + kRow1);
    dlg_->OnImportPlan();
    dlg_->OnExportPlan();
    dlg_->OnUndoIpBatch();
    EXPECT_EQ(view_.messages, std::vector<std::string>(3, "请先搜索设备"));
    EXPECT_TRUE(view_.fileDialogs.empty());
    EXPECT_TRUE(view_.windowEnabled);
}

// ---- search by address ----

// What the scripted scan was asked, and what it answers.
std::vector<std::array<std::uint8_t, 4>> g_scanAsked;
std::vector<tNetDeviceInfo> g_scanFound;
int g_scanRc = 0;
std::function<void()> g_duringScan;  // a press that arrives while the scan runs
bool g_scanCancelled = false;

int FakeCancelScan() {
    g_scanCancelled = true;
    return 0;
}

int FakeScan(const std::uint8_t (*addresses)[4], int count, NetFindDeviceCallback cb, void* user) {
    g_scanAsked.clear();
    for (int i = 0; i < count; ++i) {
        g_scanAsked.push_back({addresses[i][0], addresses[i][1], addresses[i][2], addresses[i][3]});
    }
    for (const auto& d : g_scanFound) {
        cb(&d, user);
    }
    if (g_duringScan) {
        g_duringScan();
    }
    return g_scanCancelled ? KORVEL_E_CANCELLED : g_scanRc;
}

struct ScanCase {
    const char* name;
    const char* text;
    int rc;                // what the library returns
    const char* refusal;   // a message box holding this, nothing asked
    std::size_t asked;     // addresses handed to the library
    std::size_t rows;      // rows afterwards (three from the search)
    const char* paneLine;  // a part of the pane's last line
};

class ScanJoins : public DialogTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(ScanJoins, TheListByMacAndThePaneLine) {
    const ScanCase& c = GetParam();
    // One camera already listed (…:01, found by the search too), two new ones.
    g_scanFound = {
        Device("IPC-C", {192, 168, 0, 100}, 0x01, "V2.0.0", "YJ1"),
        Device("IPC-R", {10, 88, 1, 20}, 0x20, "V3.0.0", "YJ3"),
        Device("IPC-S", {10, 88, 1, 5}, 0x05, "V3.0.0", "YJ3"),
    };
    g_scanAsked.clear();
    g_scanRc = c.rc;
    g_scanCancelled = false;
    Open(true, [](app::DialogDeps& deps) { deps.search.ScanDevice = &FakeScan; });
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.messages.clear();
    const bool ok = dlg_->ScanAddresses(c.text);
    EXPECT_EQ(g_scanAsked.size(), c.asked);
    EXPECT_EQ(view_.rows.size(), c.rows);
    if (c.refusal != nullptr) {
        EXPECT_FALSE(ok);
        ASSERT_EQ(view_.messages.size(), 1u);
        EXPECT_NE(view_.messages[0].find(c.refusal), std::string::npos) << view_.messages[0];
        return;
    }
    EXPECT_TRUE(view_.messages.empty());
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_FALSE(view_.waitCursor);
    const auto last = view_.pane.rfind("按地址搜索");
    ASSERT_NE(last, std::string::npos) << view_.pane;
    EXPECT_NE(view_.pane.find(c.paneLine, last), std::string::npos) << view_.pane.substr(last);
    if (c.rows == 5) {
        // By address again, numbered from 1; the listed camera's row kept once.
        EXPECT_EQ(Column(2), (std::vector<std::string>{"10.88.1.5", "10.88.1.20", "192.168.0.9",
                                                       "192.168.0.10", "192.168.0.100"}));
        EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
        EXPECT_EQ(dlg_->List().FindByMac("00:1A:2B:3C:4D:20"), 1);
        // The technician's tick stays with its camera.
        EXPECT_TRUE(view_.RowChecked(dlg_->List().FindByMac("00:1A:2B:3C:4D:9A")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, ScanJoins,
    ::testing::Values(
        ScanCase{"range", "10.88.1.1-10.88.1.30", 0, nullptr, 30, 5,
                 "按地址搜索 10.88.1.1-10.88.1.30（30个地址）：搜索到3台设备，其中1台已在列表中"},
        ScanCase{"prefix_blanks_trimmed", "  10.88.1.0/24 ", 0, nullptr, 254, 5,
                 "按地址搜索 10.88.1.0/24（254个地址）"},
        ScanCase{"stopped_keeps_what_it_found", "10.88.1.0/24", KORVEL_E_CANCELLED, nullptr, 254, 5,
                 "（254个地址）已停止：搜索到3台设备"},
        ScanCase{"library_fails", "10.88.1.7", KORVEL_E_IO, nullptr, 1, 3,
                 "按地址搜索 10.88.1.7 失败（错误6）"},
        ScanCase{"too_many", "10.88.0.0/16", 0, "一次最多搜索1024个", 0, 3, nullptr},
        ScanCase{"reversed", "10.88.1.30-10.88.1.1", 0, "大于结束地址", 0, 3, nullptr},
        ScanCase{"garbage", "camera-7", 0, "无法识别的地址", 0, 3, nullptr}),
    [](const ::testing::TestParamInfo<ScanCase>& p) { return std::string(p.param.name); });

TEST_F(DialogTest, NothingFoundIsSaidAndTheMenuAsksWithTheLastText) {
    g_scanFound.clear();
    g_scanRc = 0;
    g_scanCancelled = false;
    Open(true, [](app::DialogDeps& deps) { deps.search.ScanDevice = &FakeScan; });
    // Cancelled: nothing asked of the library.
    g_scanAsked.clear();
    view_.nextText.reset();
    app::RunMenuCommand(app::kMenuScan, dlg_.get(), {});
    ASSERT_EQ(view_.asked.size(), 1u);
    EXPECT_EQ(view_.asked[0], std::string(app::kScanTitle) + "|" + app::kScanPrompt + "|");
    EXPECT_TRUE(g_scanAsked.empty());
    // Given: asked, and offered again next time.
    view_.nextText = "10.88.1.9-10.88.1.10";
    app::RunMenuCommand(app::kMenuScan, dlg_.get(), {});
    EXPECT_EQ(g_scanAsked.size(), 2u);
    EXPECT_NE(view_.pane.find("按地址搜索 10.88.1.9-10.88.1.10（2个地址）：未搜索到设备"),
              std::string::npos)
        << view_.pane;
    view_.nextText.reset();
    app::RunMenuCommand(app::kMenuScan, dlg_.get(), {});
    ASSERT_EQ(view_.asked.size(), 3u);
    EXPECT_EQ(view_.asked[2].substr(view_.asked[2].rfind('|') + 1), "10.88.1.9-10.88.1.10");
}

TEST_F(DialogTest, TheStopEndsAScanAndOnlyThenTheBatchesOnes) {
    g_scanFound = {Device("IPC-R", {10, 88, 1, 20}, 0x20, "V3.0.0", "YJ3")};
    g_scanRc = 0;
    g_scanCancelled = false;
    Open(true, [](app::DialogDeps& deps) {
        deps.search.ScanDevice = &FakeScan;
        deps.search.CancelScan = &FakeCancelScan;
    });
    EXPECT_FALSE(view_.enabled[app::IDC_STOP]);
    bool stopUsable = false;
    g_duringScan = [this, &stopUsable] {
        stopUsable = view_.enabled[app::IDC_STOP] && !view_.windowEnabled;
        dlg_->OnBnClickedStop();
    };
    EXPECT_TRUE(dlg_->ScanAddresses("10.88.1.0/24"));
    g_duringScan = nullptr;
    EXPECT_TRUE(stopUsable);
    EXPECT_TRUE(g_scanCancelled);
    EXPECT_TRUE(dlg_->ScanCancelled());
    EXPECT_FALSE(view_.enabled[app::IDC_STOP]);
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_EQ(dlg_->List().FindByMac("00:1A:2B:3C:4D:20"), 0);
    EXPECT_NE(view_.pane.find("已停止：搜索到1台设备"), std::string::npos) << view_.pane;
    // Without a scan the stop is the batch's again: with none running it does nothing.
    g_scanCancelled = false;
    dlg_->OnBnClickedStop();
    EXPECT_FALSE(g_scanCancelled);
}

}  // namespace
