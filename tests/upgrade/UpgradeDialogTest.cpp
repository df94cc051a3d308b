// The upgrade button on the dialog: the list's selection becomes one task per
// ticked row, each with the file of its hardware version, on a scripted
// camera library.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <set>

#include "FakeDeviceLibs.h"
#include "UpgradeFixture.h"
#include "app/MemoryView.h"
#include "app/QuorvaneDlg.h"

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
        deps.exeDir = tmp_.path().string();
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
        EXPECT_EQ(path, dlg_->WorkDir() + "/.send/Pack" + std::to_string(k) + ".bin") << camera;
    }
    EXPECT_EQ(cameras.size(), 5u);
    EXPECT_EQ(FakeNet::LastFileUpdate().UpgradeType, 0u);
    EXPECT_EQ(Workspaces(), 0u);  // gone with the batch
    EXPECT_NE(view_.pane.find("[02:00:00:00:00:05] 127.0.1.5 升级成功"), std::string::npos);
    // The request was recorded before the first camera was contacted.
    EXPECT_EQ(view_.pane.find("开始批量升级：5台设备，升级文件 " + view_.fileText),
              view_.pane.find("\r\n") + 2);
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
