// The upgrade button on the dialog: the list's selection becomes one task per
// ticked row, each with the file of its hardware version, on a scripted
// camera library.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <set>

#include "FakeDeviceLibs.h"
#include "UpgradeFixture.h"
#include "app/MemoryView.h"
#include "app/QuorvaneDlg.h"
#include "platform/Paths.h"

using namespace upgradetest;
using enginetest::FakeNet;
using namespace std::chrono_literals;

namespace {

std::vector<tNetDeviceInfo> g_devices;

int Find(NetFindDeviceCallback cb, void* user) {
    for (const auto& d : g_devices) {
        cb(&d, user);
    }
    return 0;
}

tNetDeviceInfo Device(std::uint8_t last, const char* hw, const char* type = "KQM-RVT3305") {
    tNetDeviceInfo d;
    std::memset(&d, 0, sizeof(d));
    const std::uint8_t mac[6] = {2, 0, 0, 0, 0, last};
    std::memcpy(d.ucMac, mac, 6);
    std::strncpy(d.szDevType, type, sizeof(d.szDevType) - 1);
    std::strncpy(d.szSoftVersion, "2.3.1_180101", sizeof(d.szSoftVersion) - 1);
    std::strncpy(d.szHardVersion, hw, sizeof(d.szHardVersion) - 1);
    const std::array<std::uint8_t, 4> ip{127, 0, 1, last};
    std::memcpy(d.ucIp, ip.data(), 4);
    return d;
}

class UpgradeDialogTest : public UpgradeFixture {
  protected:
    void SetUp() override {
        UpgradeFixture::SetUp();
        FakeNet::Reset();
        app::DialogDeps deps;
        deps.search.FindDevice = &Find;
        deps.net = FakeNet::Api();
        deps.helper = HelperApi{};
        deps.configDir = tmp_.path().string();
        dlg_ = std::make_unique<app::CQuorvaneDlg>(view_, deps);
        dlg_->OnInitDialog();
    }
    void TearDown() override {
        dlg_.reset();
        UpgradeFixture::TearDown();
    }

    // Presses the button; true when a batch ran to its completion message.
    bool Press() {
        view_.messages.clear();
        dlg_->OnBnClickedUpgrade();
        if (view_.windowEnabled) {
            return false;
        }
        return view_.RunUntil([&] { return view_.windowEnabled; }, 60s);
    }

    // Camera address -> the path its file update carried, in call order.
    static std::vector<std::pair<std::string, std::string>> Sent() {
        std::vector<std::pair<std::string, std::string>> sent;
        std::string camera;
        for (const auto& call : FakeNet::Calls()) {
            if (call.fn == "Add") {
                camera = call.text;
            } else if (call.fn == "File") {
                sent.emplace_back(camera, call.text);
            }
        }
        return sent;
    }

    // A new dialog on the same folder, after config.ini has changed.
    void Reopen(const std::string& configIni, const app::UpgradeSettings& overrides = {}) {
        dlg_.reset();
        std::ofstream(tmp_ / "config.ini") << "[config]\n" << configIni;
        view_.pane.clear();
        view_.messages.clear();
        view_.questions.clear();
        view_.parallel = 1;
        view_.canary = {};
        app::DialogDeps deps;
        deps.search.FindDevice = &Find;
        deps.net = FakeNet::Api();
        deps.helper = HelperApi{};
        deps.configDir = tmp_.path().string();
        dlg_ = std::make_unique<app::CQuorvaneDlg>(view_, deps);
        dlg_->OnInitDialog();
        dlg_->SetUpgradeOverrides(overrides);
    }

    app::MemoryView view_;
    std::unique_ptr<app::CQuorvaneDlg> dlg_;
};

TEST_F(UpgradeDialogTest, RefusalsComeFirstFromTheListAndLeaveTheWindowUsable) {
    g_devices.clear();
    view_.fileText = WritePack("fw.bin", {Kernel()});
    EXPECT_FALSE(Press());
    EXPECT_EQ(view_.messages, std::vector<std::string>{"请先搜索设备"});
    g_devices = {Device(1, "101A"), Device(2, "101A", "OTHER")};
    dlg_->OnBnClickedSearch();
    EXPECT_FALSE(Press());
    EXPECT_EQ(view_.messages, std::vector<std::string>{"你没有选择相机"});
    view_.SetRowChecked(0, true);
    view_.SetRowChecked(1, true);
    EXPECT_FALSE(Press());
    EXPECT_EQ(view_.messages, std::vector<std::string>{"不能同时选择2种不同类型的相机进行升级！"});
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_EQ(FakeNet::Count("Add"), 0);
}

TEST_F(UpgradeDialogTest, EachTickedRowGetsTheImageOfItsHardwareVersion) {
    g_devices = {Device(5, "103A"), Device(1, "101A"), Device(4, "102A"),
                 Device(2, "101A"), Device(3, "103A"), Device(6, "102A")};
    dlg_->OnBnClickedSearch();
    for (int r = 0; r < view_.RowCount(); ++r) {
        view_.SetRowChecked(r, r != 2);  // 127.0.1.3 stays out
    }
    dlg_->OnLvnColumnclickDeviceList(5);  // by hardware version, descending
    const auto image = [](const char* code) {
        return Entry{std::string("app_V2.3_YJ") + code + "_KQM-RVT3305.jffs2", PACK_FILE_APP,
                     packtest::Bytes(100, static_cast<std::uint32_t>(code[2])), ""};
    };
    view_.fileText =
        WritePack("multi.bin", {image("101"), Kernel(), image("102"), RootFs(), image("103")},
                  PACK_MAGIC_MULTI);
    ASSERT_TRUE(Press());
    EXPECT_EQ(view_.messages, std::vector<std::string>{"批量升级完成"});
    EXPECT_EQ(view_.progressHigh, 5);
    EXPECT_EQ(view_.progressPos, 5);

    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 5u);  // one task per ticked row
    const std::map<std::string, std::string> hwOf = {{"127.0.1.1", "101"},
                                                     {"127.0.1.2", "101"},
                                                     {"127.0.1.4", "102"},
                                                     {"127.0.1.5", "103"},
                                                     {"127.0.1.6", "102"}};
    std::set<std::string> cameras;
    for (const auto& [camera, path] : sent) {
        cameras.insert(camera);
        ASSERT_EQ(hwOf.count(camera), 1u) << camera;
        const std::size_t k = static_cast<std::size_t>(hwOf.at(camera)[2] - '1');
        EXPECT_EQ(path,
                  platform::JoinPath(dlg_->WorkDir(), ".send", "Pack" + std::to_string(k) + ".bin"))
            << camera;
    }
    EXPECT_EQ(cameras.size(), 5u);
    EXPECT_EQ(FakeNet::LastFileUpdate().UpgradeType, 0u);
    EXPECT_EQ(Workspaces(), 0u);  // gone with the batch
    EXPECT_NE(view_.pane.find("[02:00:00:00:00:05] 127.0.1.5 升级成功"), std::string::npos);
    // The request was recorded before the first camera was contacted.
    const auto request = view_.pane.find("开始批量升级：5台设备，升级文件 " + view_.fileText);
    ASSERT_NE(request, std::string::npos);
    EXPECT_LT(request, view_.pane.find("[02:00:00:00:00:"));
}

// The batch controls beside the specified upgrade: upgrades at once, the
// failure limit, the probe, stop and retry. Cameras 0..n-1 of one hardware
// version get one kernel image; every transfer is held until the row's
// action (stop, release) is done.
struct ControlCase {
    const char* name;
    const char* configIni;
    app::UpgradeSettings overrides;
    int cameras;
    std::set<int> failing;  // their file is rejected
    int heldAtOnce;         // 0: nothing is held
    int stops;              // presses of the stop control while held
    bool confirm;           // the answer to the question of the second press
    std::vector<std::string> messages;
    std::vector<std::string> statuses;  // per row
    std::vector<std::string> paneHas;
    int probeMs;  // what the probe was given; -1 none
    int retry;    // rows that the retry menu ticks afterwards
};

void PrintTo(const ControlCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchControlTest : public UpgradeDialogTest,
                         public ::testing::WithParamInterface<ControlCase> {};

TEST_P(BatchControlTest, SettingsStopAndRetry) {
    const ControlCase& c = GetParam();
    enginetest::NetScript script;
    for (int i : c.failing) {
        script.failFile.insert("127.0.1." + std::to_string(i + 1));
    }
    script.holdEveryFile = c.heldAtOnce > 0;
    FakeNet::Reset(script);
    Reopen(c.configIni, c.overrides);
    g_devices.clear();
    for (int i = 0; i < c.cameras; ++i) {
        g_devices.push_back(Device(static_cast<std::uint8_t>(i + 1), "101A"));
    }
    dlg_->OnBnClickedSearch();
    for (int r = 0; r < view_.RowCount(); ++r) {
        view_.SetRowChecked(r, true);
    }
    std::ofstream(tmp_ / "uImage") << "kernel";
    view_.fileText = tmp_ / "uImage";
    view_.confirmAnswer = c.confirm;

    dlg_->OnBnClickedUpgrade();
    if (c.heldAtOnce > 0) {
        ASSERT_TRUE(FakeNet::WaitUntilHeld(30s, c.heldAtOnce));
        EXPECT_TRUE(view_.enabled[app::IDC_STOP]) << "the stop control is usable while it runs";
        for (int k = 0; k < c.stops; ++k) {
            dlg_->OnBnClickedStop();
        }
        FakeNet::ReleaseFileUpdate();
    }
    if (!view_.windowEnabled) {
        ASSERT_TRUE(view_.RunUntil([&] { return view_.windowEnabled; }, 60s));
    }
    EXPECT_EQ(view_.messages, c.messages);
    EXPECT_FALSE(view_.enabled[app::IDC_STOP]);
    EXPECT_LE(FakeNet::MaxOpenSessions(), std::max(1, c.heldAtOnce));
    if (c.heldAtOnce > 0) {
        EXPECT_EQ(FakeNet::MaxOpenSessions(), c.heldAtOnce);
    }
    std::vector<std::string> statuses;
    for (int r = 0; r < view_.RowCount(); ++r) {
        statuses.push_back(view_.CellText(r, 6));
    }
    EXPECT_EQ(statuses, c.statuses);
    for (const std::string& text : c.paneHas) {
        EXPECT_NE(view_.pane.find(text), std::string::npos) << text << "\n" << view_.pane;
    }
    int probe = -1;
    for (const auto& call : FakeNet::Calls()) {
        if (call.fn == "Probe") {
            probe = call.arg1;
        }
    }
    EXPECT_EQ(probe, c.probeMs);
    EXPECT_EQ(Workspaces(), 0u);
    EXPECT_EQ(view_.questions.size(), c.stops >= 2 ? 1u : 0u);

    view_.messages.clear();
    EXPECT_EQ(dlg_->TickRowsToRetry(), c.retry);
    int ticked = 0;
    for (int r = 0; r < view_.RowCount(); ++r) {
        const bool done = view_.CellText(r, 6) == "升级成功";
        EXPECT_EQ(view_.RowChecked(r), !done && c.retry > 0) << "row " << r;
        ticked += view_.RowChecked(r) ? 1 : 0;
    }
    EXPECT_EQ(ticked, c.retry);
    if (c.retry == 0) {
        EXPECT_EQ(view_.messages, std::vector<std::string>{"没有失败或未升级的设备"});
    }
}

const std::string kOk = "升级成功";
const std::string kFailed = "升级失败";
const std::string kStopped = "未升级（已停止）";
const std::string kHeld = "未升级（已暂缓）";
const std::string kDone = "批量升级完成";

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchControlTest,
    ::testing::Values(
        ControlCase{"Defaults",
                    "",
                    {},
                    3,
                    {},
                    1,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk, kOk},
                    {"开始批量升级：3台设备，升级文件 "},
                    2000,
                    0},
        ControlCase{"ParallelFromConfig",
                    "upgrade_parallel=3\n",
                    {},
                    4,
                    {},
                    3,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk, kOk, kOk},
                    {"，同时升级3台"},
                    2000,
                    0},
        ControlCase{"ParallelGivenBeatsConfig",
                    "upgrade_parallel=3\n",
                    {2, {}, {}, {}},
                    4,
                    {},
                    2,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk, kOk, kOk},
                    {"，同时升级2台"},
                    2000,
                    0},
        ControlCase{"UnusableParallelRefuses",
                    "upgrade_parallel=31\n",
                    {},
                    2,
                    {},
                    0,
                    0,
                    true,
                    {"config.ini 中的upgrade_parallel“31”不可用，应为1到30之间的整数"},
                    {"等待升级", "等待升级"},
                    {"config.ini 中的upgrade_parallel“31”不可用，应为1到30之间的整数\r\n"},
                    -1,
                    0},
        ControlCase{"HexParallelRefuses",
                    "upgrade_parallel=0x5\n",
                    {},
                    1,
                    {},
                    0,
                    0,
                    true,
                    {"config.ini 中的upgrade_parallel“0x5”不可用，应为1到30之间的整数"},
                    {"等待升级"},
                    {},
                    -1,
                    0},
        ControlCase{"LeadingZeroParallelIsDecimal",
                    "upgrade_parallel=010\n",
                    {},
                    2,
                    {},
                    2,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk},
                    {"，同时升级10台"},
                    2000,
                    0},
        ControlCase{"ParallelGivenBeatsAnUnusableKey",
                    "upgrade_parallel=x\n",
                    {3, {}, {}, {}},
                    3,
                    {},
                    3,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk, kOk},
                    {"，同时升级3台"},
                    2000,
                    0},
        ControlCase{"StopLetsTheRunningOneFinish",
                    "",
                    {},
                    4,
                    {},
                    1,
                    1,
                    true,
                    {kDone},
                    {kOk, kStopped, kStopped, kStopped},
                    {"正在停止：", "[02:00:00:00:00:02] 127.0.1.2 未升级（已停止）",
                     "批量任务已停止：3台设备未开始"},
                    2000,
                    3},
        ControlCase{"StopTwoAtOnce",
                    "upgrade_parallel=2\n",
                    {},
                    5,
                    {},
                    2,
                    1,
                    true,
                    {kDone},
                    {kOk, kOk, kStopped, kStopped, kStopped},
                    {"批量任务已停止：3台设备未开始"},
                    2000,
                    3},
        ControlCase{"SecondStopAbandonsOnceConfirmed",
                    "",
                    {},
                    3,
                    {},
                    1,
                    2,
                    true,
                    {kDone},
                    {kFailed, kStopped, kStopped},
                    {"已放弃正在进行的传输"},
                    2000,
                    3},
        ControlCase{"SecondStopDeclined",
                    "",
                    {},
                    3,
                    {},
                    1,
                    2,
                    false,
                    {kDone},
                    {kOk, kStopped, kStopped},
                    {"批量任务已停止：2台设备未开始"},
                    2000,
                    2},
        ControlCase{"FailureLimitHoldsTheRest",
                    "upgrade_max_failures=1\n",
                    {},
                    3,
                    {0},
                    0,
                    0,
                    true,
                    {kDone},
                    {kFailed, kHeld, kHeld},
                    {"，失败1台后暂缓其余", "失败设备已达1台，其余2台暂缓，未开始"},
                    2000,
                    3},
        ControlCase{"FailureLimitGivenBeatsConfig",
                    "upgrade_max_failures=1\n",
                    {{}, 0, {}, {}},
                    3,
                    {0},
                    0,
                    0,
                    true,
                    {kDone},
                    {kFailed, kOk, kOk},
                    {},
                    2000,
                    1},
        ControlCase{"UnusableFailureLimitRefuses",
                    "upgrade_max_failures=abc\n",
                    {},
                    2,
                    {},
                    0,
                    0,
                    true,
                    {"config.ini 中的upgrade_max_failures“abc”不可用，应为0到100000之间的整数"},
                    {"等待升级", "等待升级"},
                    {},
                    -1,
                    0},
        ControlCase{"UnusableProbeRefuses",
                    "upgrade_probe_ms=30001\n",
                    {},
                    1,
                    {},
                    0,
                    0,
                    true,
                    {"config.ini 中的upgrade_probe_ms“30001”不可用，应为0到30000之间的整数"},
                    {"等待升级"},
                    {},
                    -1,
                    0},
        ControlCase{"ProbeFromConfig",
                    "upgrade_probe_ms=500\n",
                    {},
                    1,
                    {},
                    0,
                    0,
                    true,
                    {kDone},
                    {kOk},
                    {},
                    500,
                    0},
        ControlCase{
            "ProbeOff", "upgrade_probe_ms=0\n", {}, 1, {}, 0, 0, true, {kDone}, {kOk}, {}, -1, 0},
        // Canary first, without a check after reboot: the verdict decides.
        ControlCase{"CanaryFromConfigHoldsTheRest",
                    "upgrade_canary=1\n",
                    {},
                    3,
                    {0},
                    0,
                    0,
                    true,
                    {kDone},
                    {kFailed, kHeld, kHeld},
                    {"，先升级1台，验证后再升级其余",
                     "先升级的设备[02:00:00:00:00:01] 127.0.1.1 未通过，其余2台暂缓，未开始"},
                    2000,
                    3},
        ControlCase{"CanaryPassesThenTheRest",
                    "upgrade_canary=2\n",
                    {},
                    4,
                    {3},
                    0,
                    0,
                    true,
                    {kDone},
                    {kOk, kOk, kOk, kFailed},
                    {"先升级的2台已通过，开始升级其余2台"},
                    2000,
                    1},
        ControlCase{"CanaryGivenBeatsConfig",
                    "upgrade_canary=1\n",
                    {{}, {}, {}, Canary{}},
                    3,
                    {0},
                    0,
                    0,
                    true,
                    {kDone},
                    {kFailed, kOk, kOk},
                    {},
                    2000,
                    1},
        ControlCase{
            "UnusableCanaryRefuses",
            "upgrade_canary=two\n",
            {},
            2,
            {},
            0,
            0,
            true,
            {"config.ini 中的upgrade_canary“two”不可用，应为0到1000之间的整数或per-hardware"},
            {"等待升级", "等待升级"},
            {"config.ini 中的upgrade_canary“two”不可用，应为0到1000之间的整数或per-"
             "hardware\r\n"},
            -1,
            0},
        ControlCase{"StopDuringTheCanary",
                    "upgrade_canary=1\nupgrade_parallel=3\n",
                    {},
                    3,
                    {},
                    1,
                    1,
                    true,
                    {kDone},
                    {kOk, kStopped, kStopped},
                    {"批量任务已停止：2台设备未开始"},
                    2000,
                    2},
        ControlCase{"ProbeGivenBeatsConfig",
                    "upgrade_probe_ms=0\n",
                    {{}, {}, 250, {}},
                    1,
                    {},
                    0,
                    0,
                    true,
                    {kDone},
                    {kOk},
                    {},
                    250,
                    0}),
    [](const ::testing::TestParamInfo<ControlCase>& p) { return p.param.name; });

TEST_F(UpgradeDialogTest, PlanPreparesLikeAPressAndSendsNothing) {
    g_devices = {Device(2, "102A"), Device(1, "101A")};
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.SetRowChecked(1, true);
    const auto image = [](const char* code) {
        return Entry{std::string("app_V2.3_YJ") + code + "_KQM-RVT3305.jffs2", PACK_FILE_APP,
                     packtest::Bytes(100, static_cast<std::uint32_t>(code[2])), ""};
    };
    view_.fileText =
        WritePack("multi.bin", {image("101"), Kernel(), image("102")}, PACK_MAGIC_MULTI);
    std::vector<app::PlannedUpgrade> seen;
    bool existed = false;
    std::string workDir;
    ASSERT_TRUE(dlg_->PlanUpgrade([&](const std::vector<app::PlannedUpgrade>& plan) {
        seen = plan;
        existed = !plan.empty() && fs::exists(plan[0].file);
        workDir = dlg_->WorkDir();
    }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].ip, "127.0.1.1");
    EXPECT_EQ(seen[0].mac, "02:00:00:00:00:01");
    EXPECT_EQ(seen[0].file, platform::JoinPath(workDir, ".send", "Pack0.bin"));
    EXPECT_EQ(seen[1].file, platform::JoinPath(workDir, ".send", "Pack1.bin"));
    EXPECT_TRUE(existed) << "the plan is shown while the workspace is there";
    EXPECT_EQ(Workspaces(), 0u);
    EXPECT_TRUE(view_.windowEnabled);
    EXPECT_TRUE(view_.messages.empty());
    EXPECT_TRUE(FakeNet::Calls().empty());

    // A refusal is the press's own message, and nothing is shown.
    view_.SetRowChecked(1, false);
    view_.SetRowChecked(0, false);
    seen.clear();
    EXPECT_FALSE(dlg_->PlanUpgrade([&](const auto& plan) { seen = plan; }));
    EXPECT_EQ(view_.messages, std::vector<std::string>{"你没有选择相机"});
    EXPECT_TRUE(seen.empty());
}

}  // namespace

// A second batch on a locked folder is refused before anything is unpacked; a
// forced batch says so in its start line and leaves the box unticked.
TEST_F(UpgradeDialogTest, TheLockComesFirstAndForcingLastsOneBatch) {
    g_devices = {Device(1, "101A"), Device(2, "101A")};
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    view_.SetRowChecked(1, true);
    view_.fileText = WritePack("fw.bin", {Kernel(), App("app_OTHER.jffs2")});

    platform::FileLock other;
    ASSERT_EQ(other.TryLock(dlg_->BatchLockPath(), nullptr), platform::FileLock::Result::Locked);
    log_.clear();
    EXPECT_FALSE(Press());
    EXPECT_EQ(view_.messages,
              std::vector<std::string>{"另一个Quorvane正在执行批量任务，请等它完成后再试"});
    EXPECT_EQ(Workspaces(), 0u);
    EXPECT_EQ(dlg_->WorkDir(), "");  // no workspace was even named
    other.Release();

    view_.SetChecked(app::IDC_FORCE_UPGRADE, true);
    ASSERT_TRUE(Press());
    EXPECT_FALSE(view_.IsChecked(app::IDC_FORCE_UPGRADE));
    EXPECT_NE(view_.pane.find("开始批量升级：2台设备，强制升级文件 " + view_.fileText),
              std::string::npos);
    EXPECT_EQ(FakeNet::Count("File"), 2);
    // Unforced, the same pack is refused and the lock is free again at once.
    EXPECT_FALSE(Press());
    EXPECT_EQ(view_.messages, std::vector<std::string>{"设备类型不匹配"});
    EXPECT_EQ(other.TryLock(dlg_->BatchLockPath(), nullptr), platform::FileLock::Result::Locked);
}

namespace {

// What one camera gets by the version the file names against the one it runs.
struct VersionCase {
    const char* name;
    const char* soft;  // in the list and at the hello
    const char* file;  // a kernel image, named so that it names a version or not
    bool resend;       // 仍然发送
    bool confirm;      // the answer to the downgrade question
    bool asked;
    bool sent;
    const char* detail;           // the start of 详情 after the batch; "" empty
    const char* summary;          // in the pane's summary line; "" none looked for
    const char* hello = nullptr;  // another version at the hello than in the list
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionJudgeTest : public UpgradeDialogTest,
                         public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionJudgeTest, SkipsWhatIsDoneAndAsksBeforeOlder) {
    const VersionCase& c = GetParam();
    enginetest::NetScript script;
    script.helloAt["127.0.1.1"] = {"02:00:00:00:00:01", "KQM-RVT3305", "101A",
                                   c.hello != nullptr ? c.hello : c.soft};
    FakeNet::Reset(script);
    Reopen("");  // the library with its hello
    tNetDeviceInfo d = Device(1, "101A");
    std::snprintf(d.szSoftVersion, sizeof(d.szSoftVersion), "%s", c.soft);
    g_devices = {d};
    dlg_->OnBnClickedSearch();
    view_.SetRowChecked(0, true);
    std::ofstream(tmp_ / c.file) << "kernel";
    view_.fileText = tmp_ / c.file;
    view_.SetChecked(app::IDC_RESEND, c.resend);
    view_.confirmAnswer = c.confirm;
    view_.questions.clear();

    const bool ran = Press();
    EXPECT_EQ(ran, c.asked ? c.confirm : true);
    ASSERT_EQ(view_.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
        EXPECT_EQ(view_.questions[0],
                  std::string("将降级1台设备到较旧的版本：\n02:00:00:00:00:01  127.0.1.1  降级：") +
                      c.soft + " → 2.2\n继续吗？");
    }
    EXPECT_EQ(FakeNet::Count("File"), c.sent ? 1 : 0);
    EXPECT_FALSE(view_.IsChecked(app::IDC_RESEND)) << "a choice for one batch";
    EXPECT_TRUE(view_.windowEnabled);
    if (!ran) {
        EXPECT_TRUE(FakeNet::Calls().empty()) << "refused before anything is sent";
        EXPECT_EQ(view_.CellText(0, app::kColStatus), "等待升级");
        return;
    }
    EXPECT_EQ(view_.CellText(0, app::kColStatus), c.hello != nullptr ? "升级失败" : "升级成功");
    EXPECT_EQ(view_.CellText(0, app::kColDetail).rfind(c.detail, 0), 0u)
        << view_.CellText(0, app::kColDetail);
    if (*c.detail == '\0') {
        EXPECT_EQ(view_.CellText(0, app::kColDetail), "");
    }
    if (*c.summary != '\0') {
        EXPECT_NE(view_.pane.find(c.summary), std::string::npos) << view_.pane;
    }
    EXPECT_EQ(view_.pane.find("已是目标版本的也发送") != std::string::npos, c.resend);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionJudgeTest,
    ::testing::Values(
        VersionCase{"NamedEqual", "2.3.1_180101", "uImage_V2.3", false, true, false, false,
                    "已是目标版本 2.3.1_180101", "，已是目标版本1，"},
        VersionCase{"NamedEqualResent", "2.3.1_180101", "uImage_V2.3", true, true, false, true, "",
                    ""},
        VersionCase{"NamedOlderRefused", "2.3.1_180101", "uImage_V2.2", false, false, true, false,
                    "", ""},
        VersionCase{"NamedOlderConfirmed", "V2.3.1_180101", "uImage_V2.2", false, true, true, true,
                    "降级：V2.3.1_180101 → 2.2", "开始批量升级：1台设备，升级文件 "},
        VersionCase{"NamedNewerByNumber", "2.9.4_180101", "uImage_V2.10", false, true, false, true,
                    "", ""},
        VersionCase{"NoneNamed", "2.3.1_180101", "uImage", false, true, false, true, "", ""},
        VersionCase{"TagUnreadable", "2.3.1_180101", "uImage_V1234567890.2", false, true, false,
                    true, "", ""},
        VersionCase{"CameraUnreadable", "vX.Y_1", "uImage_V2.2", false, true, false, true, "", ""},
        // Upgraded by someone else since the search: not asked about, so not sent.
        VersionCase{"NewerSinceTheSearch", "2.3.1_180101", "uImage_V2.3", false, true, false, false,
                    "降级：2.4.0_190101 → 2.3，未允许降级", "，失败1", "2.4.0_190101"}),
    [](const ::testing::TestParamInfo<VersionCase>& p) { return p.param.name; });

}  // namespace
