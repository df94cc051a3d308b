// The Windows window's resource template against the window's description
// (app/WindowDescription.h), and the arithmetic that places the controls when the
// window is resized. Both run without a display, on either system.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/WindowDescription.h"
#include "app/WindowLayout.h"
#include "resource.h"

namespace {

struct Control {
    std::string id;  // as the template writes it: a number or a name
    std::string text;
    std::string cls;
    std::string style;
    int x, y, w, h;
};

// The template's class of each kind of control, and one style it must have.
struct KindInTemplate {
    app::ControlKind kind;
    const char* cls;
    const char* style;
};
constexpr KindInTemplate kKinds[] = {
    {app::ControlKind::List, "SysListView32", "LVS_REPORT"},
    {app::ControlKind::CheckBox, "Button", "BS_AUTOCHECKBOX"},
    {app::ControlKind::Progress, "msctls_progress32", "WS_BORDER"},
    {app::ControlKind::Button, "Button", "BS_PUSHBUTTON"},
    {app::ControlKind::Label, "Static", "SS_LEFT"},
    {app::ControlKind::IpAddress, "SysIPAddress32", "WS_TABSTOP"},
    {app::ControlKind::Number, "Edit", "ES_NUMBER"},
    {app::ControlKind::Arrows, "msctls_updown32", "UDS_AUTOBUDDY"},
    {app::ControlKind::Edit, "Edit", "ES_AUTOHSCROLL"},
    {app::ControlKind::LogPane, "RichEdit20W", "ES_READONLY"},
    {app::ControlKind::DropDown, "ComboBox", "CBS_DROPDOWNLIST"},
};

const KindInTemplate* InTemplate(app::ControlKind kind) {
    for (const KindInTemplate& k : kKinds) {
        if (k.kind == kind) {
            return &k;
        }
    }
    return nullptr;
}

// The template's id of a control: resource.h names those the code sends to.
int IdOf(const std::string& text) {
    if (text == "IDC_PARALLEL_SPIN") {
        return IDC_PARALLEL_SPIN;
    }
    return text.find_first_not_of("-0123456789") == std::string::npos && !text.empty()
               ? std::stoi(text)
               : 0;
}

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
        controls.push_back({f[1], f[0], f[2], f[3], std::stoi(f[4]), std::stoi(f[5]),
                            std::stoi(f[6]), std::stoi(f[7])});
    }
    return controls;
}

TEST(Win32Template, MainDialogIsTheDescription) {
    const std::string rc = ReadTemplate();
    ASSERT_FALSE(rc.empty()) << QV_WIN32_RC;
    const std::vector<Control> got = ControlsOf(rc, "IDD_QUORVANE_DIALOG");
    ASSERT_EQ(got.size(), app::kControls.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const app::ControlSpec& w = app::kControls[i];
        const Control& g = got[i];
        SCOPED_TRACE("control " + std::to_string(i) + " " + w.text);
        const KindInTemplate* kind = InTemplate(w.kind);
        ASSERT_NE(kind, nullptr);
        EXPECT_EQ(IdOf(g.id), w.id) << g.id;
        EXPECT_EQ(g.text, w.text);
        EXPECT_EQ(g.cls, kind->cls);
        EXPECT_NE(g.style.find(kind->style), std::string::npos) << g.style;
        EXPECT_EQ(g.style.find("WS_DISABLED") != std::string::npos, w.disabledAtStart) << g.style;
        const int h = w.kind == app::ControlKind::DropDown ? app::kDropListHeight : w.box.h;
        EXPECT_EQ((std::vector<int>{g.x, g.y, g.w, g.h}),
                  (std::vector<int>{w.box.x, w.box.y, w.box.w, h}));
    }
    // The arrows sit on their box: the template makes them its buddy.
    const app::ControlSpec* arrows = app::FindControl(app::kParallelSpinId);
    ASSERT_NE(arrows, nullptr);
    EXPECT_EQ(arrows->partOf, app::IDC_PARALLEL);
    EXPECT_EQ(IDC_PARALLEL_SPIN, app::kParallelSpinId);
}

TEST(Win32Template, DialogsCaptionsFontAndMenuText) {
    const std::string rc = ReadTemplate();
    const std::vector<std::string> pieces = {
        "#pragma code_page(65001)",
        "IDD_QUORVANE_DIALOG DIALOGEX 0, 0, " + std::to_string(app::kTemplateSize.w) + ", " +
            std::to_string(app::kTemplateSize.h),
        "IDD_ABOUTBOX DIALOGEX 0, 0, 235, 55",
        "CAPTION \"关于 Quorvane\"",
        "FONT 9, \"宋体\"",
        std::string("IDS_ABOUTBOX \"") + app::kAboutMenuText + "\"",
        "\"Quorvane 1.0 版\"",
        "CONTROL \"确定\", IDOK, \"Button\", BS_DEFPUSHBUTTON",
        "ICON IDR_MAINFRAME, -1, 11, 14, 21, 20",
    };
    for (const std::string& piece : pieces) {
        EXPECT_NE(rc.find(piece), std::string::npos) << piece;
    }
}

struct Move {
    app::Anchor anchor;
    int dx, dy;
    app::Box want;
};

TEST(Win32Layout, ControlsFollowTheWindow) {
    using app::Anchor;
    const app::Box base{100, 200, 50, 30};
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
        EXPECT_EQ(app::Place(base, m.anchor, m.dx, m.dy), m.want);
    }
    // The band's parts move together: list and pane share the height exactly.
    for (int dy = -7; dy <= 7; ++dy) {
        const auto list = app::Place({0, 0, 10, 100}, Anchor::List, 0, dy);
        const auto pane = app::Place({0, 150, 10, 100}, Anchor::Pane, 0, dy);
        EXPECT_EQ(list.h + pane.h, 200 + dy);
        EXPECT_EQ(pane.y - (list.y + list.h), 50);
    }
}

TEST(Win32Layout, AnchorsAndOpeningSize) {
    using app::Anchor;
    EXPECT_EQ(app::AnchorOf(1000, 2, 700), Anchor::List);
    EXPECT_EQ(app::AnchorOf(1009, 0, 700), Anchor::Pane);
    EXPECT_EQ(app::AnchorOf(1016, 60, 700), Anchor::BandStretch);
    EXPECT_EQ(app::AnchorOf(1004, 60, 700), Anchor::BandStretch);
    EXPECT_EQ(app::AnchorOf(1001, 900, 700), Anchor::BandRight);
    EXPECT_EQ(app::AnchorOf(1031, 700, 700), Anchor::BandRight);
    EXPECT_EQ(app::AnchorOf(-1, 5, 700), Anchor::Band);

    const app::Extent window{1000, 800};
    const app::Extent minimum{1000, 400};
    EXPECT_EQ(app::FitToWorkArea(window, minimum, {1920, 1040}), window);
    EXPECT_EQ(app::FitToWorkArea(window, minimum, {1366, 728}), (app::Extent{1000, 728}));
    EXPECT_EQ(app::FitToWorkArea(window, minimum, {800, 300}), minimum);
    // Base units 7 x 16: the template is 1000 x 778, its band 158 high.
    const app::DialogUnits du(7, 16);
    EXPECT_EQ(app::TemplateClient(du), (app::Extent{999, 778}));
    EXPECT_EQ(app::MinimumClient(du), (app::Extent{999, 378}));
}

}  // namespace
