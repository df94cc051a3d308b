// The Windows window's resource template against the dialog it must be, and
// the arithmetic that places its controls when the window is resized. Both
// run without a display, on either system.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "WindowLayout.h"

namespace {

struct Control {
    int id;
    std::string text;
    std::string cls;
    std::string style;  // one flag the control must have
    int x, y, w, h;
};

std::string ReadTemplate() {
    std::ifstream in(QV_WIN32_RC, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Fields of a CONTROL line, split at the commas outside quotes, trimmed.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    for (std::string& f : out) {
        const auto b = f.find_first_not_of(' ');
        const auto e = f.find_last_not_of(' ');
        f = b == std::string::npos ? std::string() : f.substr(b, e - b + 1);
        if (f.size() >= 2 && f.front() == '"' && f.back() == '"') {
            f = f.substr(1, f.size() - 2);
        }
    }
    return out;
}

// The CONTROL lines of the dialog `name`, in template (tab) order.
std::vector<Control> ControlsOf(const std::string& rc, const std::string& name) {
    std::vector<Control> controls;
    const auto start = rc.find("\n" + name + " DIALOGEX");
    if (start == std::string::npos) {
        return controls;
    }
    std::istringstream lines(rc.substr(rc.find("\nBEGIN", start)));
    std::string line;
    while (std::getline(lines, line) && line.rfind("END", 0) != 0) {
        const auto at = line.find("CONTROL ");
        if (at == std::string::npos) {
            continue;
        }
        const std::vector<std::string> f = Fields(line.substr(at + 8));
        if (f.size() != 8) {
            ADD_FAILURE() << "unreadable control line: " << line;
            continue;
        }
        const bool numeric = f[1].find_first_not_of("-0123456789") == std::string::npos;
        controls.push_back({numeric ? std::stoi(f[1]) : 0, f[0], f[2], f[3], std::stoi(f[4]),
                            std::stoi(f[5]), std::stoi(f[6]), std::stoi(f[7])});
    }
    return controls;
}

TEST(Win32Template, MainDialogControlsInTabOrder) {
    // Ids 0 are named in resource.h; -1 are labels.
    const std::vector<Control> want = {
        {1000, "", "SysListView32", "LVS_REPORT", 1, 1, 570, 218},
        {1015, "全选", "Button", "BS_AUTOCHECKBOX", 3, 223, 32, 10},
        {1016, "", "msctls_progress32", "WS_BORDER", 39, 223, 373, 14},
        {1011, "升级日志", "Button", "BS_PUSHBUTTON", 419, 222, 44, 16},
        {1001, "搜索设备", "Button", "BS_PUSHBUTTON", 523, 221, 48, 28},
        {-1, "起始IP", "Static", "SS_LEFT", 3, 243, 25, 8},
        {1019, "", "SysIPAddress32", "WS_TABSTOP", 39, 240, 100, 15},
        {1020, "批量修改IP", "Button", "BS_PUSHBUTTON", 142, 240, 68, 15},
        {1021, "批量恢复默认IP", "Button", "BS_PUSHBUTTON", 212, 240, 68, 15},
        {-1, "同时升级", "Static", "SS_LEFT", 300, 243, 36, 8},
        {1030, "1", "Edit", "ES_NUMBER", 338, 240, 40, 15},
        {0, "", "msctls_updown32", "UDS_AUTOBUDDY", 378, 240, 10, 15},
        {-1, "台", "Static", "SS_LEFT", 380, 243, 10, 8},
        {1031, "停止", "Button", "WS_DISABLED", 419, 240, 44, 15},
        {1022, "强制升级", "Button", "BS_AUTOCHECKBOX", 467, 243, 48, 10},
        {1005, "升级", "Button", "BS_PUSHBUTTON", 523, 249, 48, 28},
        {-1, "升级文件", "Static", "SS_LEFT", 3, 260, 33, 8},
        {1004, "", "Edit", "ES_AUTOHSCROLL", 39, 258, 373, 14},
        {1006, "浏览", "Button", "BS_PUSHBUTTON", 419, 257, 44, 15},
        {1018, "同步时间", "Button", "BS_AUTOCHECKBOX", 467, 260, 44, 10},
        {1009, "", "RichEdit20W", "ES_READONLY", 0, 278, 571, 108},
    };
    const std::string rc = ReadTemplate();
    ASSERT_FALSE(rc.empty()) << QV_WIN32_RC;
    const std::vector<Control> got = ControlsOf(rc, "IDD_QUORVANE_DIALOG");
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const Control& w = want[i];
        const Control& g = got[i];
        SCOPED_TRACE("control " + std::to_string(i) + " " + w.text + " " + w.cls);
        EXPECT_EQ(g.id, w.id);
        EXPECT_EQ(g.text, w.text);
        EXPECT_EQ(g.cls, w.cls);
        EXPECT_NE(g.style.find(w.style), std::string::npos) << g.style;
        EXPECT_EQ((std::vector<int>{g.x, g.y, g.w, g.h}), (std::vector<int>{w.x, w.y, w.w, w.h}));
    }
}

TEST(Win32Template, DialogsCaptionsFontAndMenuText) {
    const std::string rc = ReadTemplate();
    for (const char* piece : {
             "#pragma code_page(65001)",
             "IDD_QUORVANE_DIALOG DIALOGEX 0, 0, 571, 389",
             "IDD_ABOUTBOX DIALOGEX 0, 0, 235, 55",
             "CAPTION \"关于 Quorvane\"",
             "FONT 9, \"宋体\"",
             "IDS_ABOUTBOX \"关于 Quorvane(&A)...\"",
             "\"Quorvane 1.0 版\"",
             "CONTROL \"确定\", IDOK, \"Button\", BS_DEFPUSHBUTTON",
             "ICON IDR_MAINFRAME, -1, 11, 14, 21, 20",
         }) {
        EXPECT_NE(rc.find(piece), std::string::npos) << piece;
    }
}

struct Move {
    win32view::Anchor anchor;
    int dx, dy;
    win32view::Box want;
};

TEST(Win32Layout, ControlsFollowTheWindow) {
    using win32view::Anchor;
    const win32view::Box base{100, 200, 50, 30};
    const Move moves[] = {
        {Anchor::List, 0, 0, {100, 200, 50, 30}},
        {Anchor::List, 40, 90, {100, 200, 90, 90}},  // two thirds of the height
        {Anchor::Pane, 40, 90, {100, 260, 90, 60}},  // the third left
        {Anchor::Band, 40, 90, {100, 260, 50, 30}},
        {Anchor::BandRight, 40, 90, {140, 260, 50, 30}},
        {Anchor::BandStretch, 40, 90, {100, 260, 90, 30}},
        {Anchor::Pane, 0, -90, {100, 140, 50, 0}},  // smaller: never a negative size
        {Anchor::List, -80, -60, {100, 200, 0, 0}},
        {Anchor::BandRight, -20, -3, {80, 198, 50, 30}},
    };
    for (const Move& m : moves) {
        SCOPED_TRACE(std::to_string(static_cast<int>(m.anchor)) + " dx " + std::to_string(m.dx) +
                     " dy " + std::to_string(m.dy));
        EXPECT_EQ(win32view::Place(base, m.anchor, m.dx, m.dy), m.want);
    }
    // The band's parts move together: list and pane share the height exactly.
    for (int dy = -7; dy <= 7; ++dy) {
        const auto list = win32view::Place({0, 0, 10, 100}, Anchor::List, 0, dy);
        const auto pane = win32view::Place({0, 150, 10, 100}, Anchor::Pane, 0, dy);
        EXPECT_EQ(list.h + pane.h, 200 + dy);
        EXPECT_EQ(pane.y - (list.y + list.h), 50);
    }
}

TEST(Win32Layout, AnchorsAndOpeningSize) {
    using win32view::Anchor;
    EXPECT_EQ(win32view::AnchorOf(1000, 2, 700), Anchor::List);
    EXPECT_EQ(win32view::AnchorOf(1009, 0, 700), Anchor::Pane);
    EXPECT_EQ(win32view::AnchorOf(1016, 60, 700), Anchor::BandStretch);
    EXPECT_EQ(win32view::AnchorOf(1004, 60, 700), Anchor::BandStretch);
    EXPECT_EQ(win32view::AnchorOf(1001, 900, 700), Anchor::BandRight);
    EXPECT_EQ(win32view::AnchorOf(1031, 700, 700), Anchor::BandRight);
    EXPECT_EQ(win32view::AnchorOf(-1, 5, 700), Anchor::Band);

    const win32view::Extent window{1000, 800};
    const win32view::Extent minimum{1000, 400};
    EXPECT_EQ(win32view::FitToWorkArea(window, minimum, {1920, 1040}), window);
    EXPECT_EQ(win32view::FitToWorkArea(window, minimum, {1366, 728}),
              (win32view::Extent{1000, 728}));
    EXPECT_EQ(win32view::FitToWorkArea(window, minimum, {800, 300}), minimum);
    EXPECT_EQ(win32view::MinimumClient({1000, 778}, 126, 16), (win32view::Extent{1000, 346}));
}

}  // namespace
