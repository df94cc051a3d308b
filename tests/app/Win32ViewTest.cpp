// The Win32 view's own work on its controls, under Wine: texts through the
// wide calls and back, the list's order, the IP box, the upgrades-at-once box,
// the closing rules and the order of the worker reports.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "MainDialog.h"
// After windows.h.
#include <commctrl.h>

#include "engine/TaskDispatcher.h"
#include "resource.h"

namespace {

class Win32View : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF | ICC_INTERNET_CLASSES};
        ::InitCommonControlsEx(&controls);
        ::LoadLibraryW(L"Riched20.dll");
    }
    void SetUp() override {
        if (!view.Create()) {
            GTEST_SKIP() << "no window could be made (no display for Wine)";
        }
    }
    // Handles what is queued for the window, as its message loop would.
    static void Pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    win32view::MainDialog view{::GetModuleHandleW(nullptr)};
};

TEST_F(Win32View, CellTextsComeBackAsWritten) {
    const std::vector<std::string> texts = {
        "",
        "192.168.0.10",
        "恢复默认IP成功",
        "Z:\\升级文件\\app_V2.1_YJ11#_QV-LPR200.jffs2",
        std::string(255, 'a'),  // the first buffer's edge
        std::string(256, 'b'),
        std::string(3000, 'c') + "尾",
        "percent %s %d and tab\tinside",
    };
    const int row = view.InsertRow();
    ASSERT_EQ(row, 0);
    for (int column = 0; column < 8; ++column) {
        for (const std::string& text : texts) {
            view.SetCellText(row, column, text);
            EXPECT_EQ(view.CellText(row, column), text) << "column " << column;
        }
    }
    // Outside the list: nothing written, nothing read, no crash.
    view.SetCellText(1, 0, "x");
    view.SetCellText(0, 8, "x");
    EXPECT_EQ(view.CellText(1, 0), "");
    EXPECT_EQ(view.CellText(0, 8), "");
    EXPECT_EQ(view.CellText(-1, 0), "");
    EXPECT_EQ(view.RowCount(), 1);
}

TEST_F(Win32View, ReorderCarriesTextsChecksAndData) {
    for (int r = 0; r < 4; ++r) {
        ASSERT_EQ(view.InsertRow(), r);
        view.SetCellText(r, 3, "MAC" + std::to_string(r));
        view.SetItemData(r, 100 + r);
        view.SetRowChecked(r, r % 2 == 1);
    }
    view.ReorderRows({2, 0, 3, 1});
    const int want[] = {2, 0, 3, 1};
    for (int r = 0; r < 4; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        EXPECT_EQ(view.CellText(r, 3), "MAC" + std::to_string(want[r]));
        EXPECT_EQ(view.ItemData(r), 100 + want[r]);
        EXPECT_EQ(view.RowChecked(r), want[r] % 2 == 1);
    }
    // Not a permutation, or of the wrong length: the list stays as it is.
    view.ReorderRows({0, 0, 1, 2});
    view.ReorderRows({1, 0});
    EXPECT_EQ(view.CellText(0, 3), "MAC2");
    EXPECT_EQ(view.ItemData(3), 101);
    view.DeleteAllRows();
    EXPECT_EQ(view.RowCount(), 0);
}

TEST_F(Win32View, BoxesOfTheBand) {
    view.SetStartIp({127, 0, 9, 10});
    EXPECT_FALSE(view.StartIpBlank());
    EXPECT_TRUE(view.StartIpComplete());
    EXPECT_EQ(view.StartIp(), (std::array<std::uint8_t, 4>{127, 0, 9, 10}));
    ::SendDlgItemMessageW(view.Window(), app::IDC_START_IP, IPM_CLEARADDRESS, 0, 0);
    EXPECT_TRUE(view.StartIpBlank());
    EXPECT_FALSE(view.StartIpComplete());

    const std::pair<int, int> parallel[] = {{1, 1}, {7, 7}, {30, 30}, {0, 1}, {45, 30}, {-3, 1}};
    for (const auto& [set, want] : parallel) {
        view.SetUpgradeParallel(set);
        EXPECT_EQ(view.UpgradeParallel(), want) << set;
    }
    ::SetDlgItemTextW(view.Window(), app::IDC_PARALLEL, L"99");
    EXPECT_EQ(view.UpgradeParallel(), 30);
    ::SetDlgItemTextW(view.Window(), app::IDC_PARALLEL, L"");
    EXPECT_EQ(view.UpgradeParallel(), 1);

    // The drop-down "网卡": its items in their order, the one shown read back.
    view.SetAdapterItems({"全部网卡", "以太网 10.77.0.1/16", "WLAN 192.168.50.20/24"}, 2);
    EXPECT_EQ(view.ChosenAdapterItem(), 2);
    EXPECT_EQ(::SendDlgItemMessageW(view.Window(), app::IDC_INTERFACE, CB_GETCOUNT, 0, 0), 3);
    view.SetAdapterItems({"全部网卡"}, 0);
    EXPECT_EQ(view.ChosenAdapterItem(), 0);

    // 先升级: config.ini's value among the counts, the item chosen read back.
    view.SetUpgradeCanary({4, false});
    EXPECT_EQ(::SendDlgItemMessageW(view.Window(), app::IDC_CANARY, CB_GETCOUNT, 0, 0), 7);
    EXPECT_EQ(view.UpgradeCanary(), (Canary{4, false}));
    ::SendDlgItemMessageW(view.Window(), app::IDC_CANARY, CB_SETCURSEL, 6, 0);
    EXPECT_EQ(view.UpgradeCanary(), (Canary{0, true}));
    view.SetUpgradeCanary({});
    EXPECT_EQ(view.UpgradeCanary(), Canary{});

    view.SetFileEditText("Z:\\固件\\fw.bin");
    EXPECT_EQ(view.FileEditText(), "Z:\\固件\\fw.bin");
    for (app::ControlId box : {app::IDC_SELECT_ALL, app::IDC_SYNC_TIME, app::IDC_FORCE_UPGRADE}) {
        view.SetChecked(box, true);
        EXPECT_TRUE(view.IsChecked(box));
        view.SetChecked(box, false);
        EXPECT_FALSE(view.IsChecked(box));
    }
}

TEST_F(Win32View, ClosedOnlyWhenEnabled) {
    HWND hwnd = view.Window();
    view.EnableWindow(false);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    ::SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(::IsWindow(hwnd));
    view.EnableWindow(true);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(hwnd));
    Pump();  // the quit message the closing posted
}

TEST_F(Win32View, ReportsRunInPostingOrderEvenWhenOneWaits) {
    std::vector<std::string> ran;
    // The first report runs a message loop of its own, as a completion box
    // does: what comes after it runs inside, still in order.
    view.PostReport(WM_BATCH_DONE, [&] {
        ran.push_back("done:start");
        Pump();
        ran.push_back("done:end");
    });
    std::thread worker([&] {
        const unsigned kinds[] = {WM_TASK_RESULT, WM_TASK_PROGRESS, WM_LIVE_STATE, WM_TASK_PROOF};
        for (int i = 0; i < 30; ++i) {
            view.PostReport(kinds[i % 4], [&ran, i] { ran.push_back(std::to_string(i)); });
        }
    });
    worker.join();
    view.PostToUi([&] { ran.push_back("last"); });
    Pump();
    ASSERT_EQ(ran.size(), 33U);
    EXPECT_EQ(ran.front(), "done:start");
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(ran[static_cast<std::size_t>(i) + 1], std::to_string(i));
    }
    EXPECT_EQ(ran[31], "last");
    EXPECT_EQ(ran[32], "done:end");
}

// The one-line box of 按地址搜索, answered by a timer while it is modal.
UINT g_askCommand = IDOK;
void CALLBACK AnswerAskText(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = ::FindWindowW(L"#32770", L"按地址搜索");
    if (box == nullptr) {
        return;  // not up yet: the timer comes again
    }
    ::KillTimer(nullptr, timer);
    wchar_t initial[64] = {};
    ::GetDlgItemTextW(box, IDC_ASK_TEXT, initial, 64);
    if (std::wstring(initial) == L"10.77.1.9") {
        ::SetDlgItemTextW(box, IDC_ASK_TEXT, L"10.77.1.0/24");
    }
    ::SendMessageW(box, WM_COMMAND, g_askCommand, 0);
}

TEST_F(Win32View, TheOneLineBoxGivesWhatWasTypedOrNothing) {
    Pump();  // the quit message an earlier test's window posted as it went
    g_askCommand = IDOK;
    ::SetTimer(nullptr, 0, 100, &AnswerAskText);
    EXPECT_EQ(view.AskText("按地址搜索", "IP地址、范围或网段：", "10.77.1.9"),
              std::optional<std::string>("10.77.1.0/24"));
    g_askCommand = IDCANCEL;
    ::SetTimer(nullptr, 0, 100, &AnswerAskText);
    EXPECT_EQ(view.AskText("按地址搜索", "IP地址、范围或网段：", "x"), std::nullopt);
}

TEST_F(Win32View, WorkOffTheUiThreadLeavesTheWindowAnswering) {
    Pump();
    // The work ends only once the window has run a call posted after it began.
    std::atomic<bool> ran{false};
    bool onUiThread = false;
    const DWORD ui = ::GetCurrentThreadId();
    view.RunWhileResponsive([&] {
        view.PostToUi([&] {
            onUiThread = ::GetCurrentThreadId() == ui;
            ran = true;
        });
        for (int i = 0; i < 500 && !ran; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onUiThread);
}

}  // namespace
