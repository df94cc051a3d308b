#pragma once
// What the main window shows and how it answers, for every view of it: the
// list's columns, the template's controls, the context menu, the keys, the
// closing rule and which handler each control runs. The Qt window, the
// Windows window and the console read it; a view adds presentation only.
// A new control is one row of kControls plus one line in each view.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DialogView.h"

namespace app {

class CQuorvaneDlg;

// ---- the device list ----

// The seven columns of the list, then ours: why a camera failed, or what the
// check after its reboot found.
enum ListColumn : int {
    kColNumber,
    kColType,
    kColIp,
    kColMac,
    kColSoft,
    kColHard,
    kColStatus,
    kColDetail,
    kColumnCount
};

struct ColumnSpec {
    ListColumn column;
    const char* key;      // the console's name of it: --sort, the JSON fields
    const char* heading;  // the header, the CSV export's heading
    int width;            // pixels
    bool sortable;        // a header click sorts by it
    // The console's table prints it; 详情, only when a search marked a camera.
    bool inTable;
};

inline constexpr std::array<ColumnSpec, kColumnCount> kColumns{{
    {kColNumber, "number", "序号", 50, false, true},
    {kColType, "type", "设备类型", 120, true, true},
    {kColIp, "ip", "IP地址", 120, true, true},
    {kColMac, "mac", "MAC地址", 120, true, true},
    {kColSoft, "sw", "软件版本", 250, true, true},
    {kColHard, "hw", "硬件版本", 60, true, true},
    {kColStatus, "status", "状态", 110, true, true},
    {kColDetail, "detail", "详情", 220, false, false},
}};

// The column of that console name, or nothing.
std::optional<ListColumn> ColumnByKey(std::string_view key);
// A header click on `column` sorts the list.
bool SortsBy(int column);

// ---- the template's controls ----

struct DuBox {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

inline constexpr int kLabelId = -1;           // the template's unnamed statics
inline constexpr int kParallelSpinId = 1032;  // the arrows of the upgrades-at-once box

enum class ControlKind {
    List,
    CheckBox,
    Progress,
    Button,
    Label,
    IpAddress,
    Number,
    Arrows,
    Edit,
    LogPane,
    DropDown
};

struct ControlSpec {
    int id;  // a ControlId, kLabelId or kParallelSpinId
    ControlKind kind;
    const char* text;
    DuBox box;
    // Drawn by another control's own widget where a toolkit has one (the
    // number box's arrows and its unit): the id of that control, else 0.
    int partOf = 0;
    bool disabledAtStart = false;
    bool usableWhileBusy = false;  // takes input while a batch runs
    const char* tip = nullptr;
};

inline constexpr DuBox kTemplateSize{0, 0, 571, 389};
// Where the band's right-hand column starts: those controls keep their
// distance to the right edge when the window grows.
inline constexpr int kRightColumnX = 419;
inline constexpr int kParallelMin = 1;
inline constexpr int kParallelMax = 30;
// A drop-down's box is its closed height; the Windows template gives the
// height of its open list instead.
inline constexpr int kDropListHeight = 120;

// In the template's (tab) order.
inline constexpr std::array<ControlSpec, 30> kControls{{
    {IDC_DEVICE_LIST, ControlKind::List, "", {1, 1, 570, 218}},
    {IDC_SELECT_ALL, ControlKind::CheckBox, "全选", {3, 223, 32, 10}},
    {kLabelId, ControlKind::Label, "网卡", {39, 225, 18, 8}},
    {IDC_INTERFACE,
     ControlKind::DropDown,
     "",
     {59, 222, 151, 14},
     0,
     false,
     false,
     "搜索设备所用的网卡"},
    {IDC_PROGRESS, ControlKind::Progress, "", {212, 223, 200, 14}},
    {IDC_UPGRADE_LOG, ControlKind::Button, "升级日志", {419, 222, 44, 16}},
    {IDC_RESEND,
     ControlKind::CheckBox,
     "仍然发送",
     {467, 225, 48, 10},
     0,
     false,
     false,
     "已是目标版本的设备也发送升级文件"},
    {IDC_SEARCH, ControlKind::Button, "搜索设备", {523, 221, 48, 28}},
    {kLabelId, ControlKind::Label, "起始IP", {3, 243, 25, 8}},
    {IDC_START_IP, ControlKind::IpAddress, "", {39, 240, 100, 15}},
    {IDC_MODIFY_IP, ControlKind::Button, "批量修改IP", {142, 240, 68, 15}},
    {IDC_RESTORE_IP, ControlKind::Button, "批量恢复默认IP", {212, 240, 68, 15}},
    {kLabelId, ControlKind::Label, "同时升级", {300, 243, 36, 8}},
    {IDC_PARALLEL,
     ControlKind::Number,
     "1",
     {338, 240, 40, 15},
     0,
     false,
     false,
     "同时升级的设备数（1到30台）"},
    {kParallelSpinId, ControlKind::Arrows, "", {378, 240, 10, 15}, IDC_PARALLEL},
    {kLabelId, ControlKind::Label, "台", {380, 243, 10, 8}, IDC_PARALLEL},
    {IDC_STOP,
     ControlKind::Button,
     "停止",
     {419, 240, 44, 15},
     0,
     true,
     true,
     "停止批量任务（Esc）"},
    {IDC_FORCE_UPGRADE, ControlKind::CheckBox, "强制升级", {467, 243, 48, 10}},
    {IDC_UPGRADE, ControlKind::Button, "升级", {523, 249, 48, 28}},
    {kLabelId, ControlKind::Label, "升级文件", {3, 260, 33, 8}},
    {IDC_FILE_EDIT, ControlKind::Edit, "", {39, 258, 373, 14}},
    {IDC_BROWSE, ControlKind::Button, "浏览", {419, 257, 44, 15}},
    {IDC_SYNC_TIME, ControlKind::CheckBox, "同步时间", {467, 260, 44, 10}},
    {kLabelId, ControlKind::Label, "子网掩码", {3, 279, 33, 8}},
    {IDC_MASK,
     ControlKind::IpAddress,
     "",
     {39, 276, 100, 15},
     0,
     false,
     false,
     "批量修改IP发送的子网掩码；不填为255.255.255.0"},
    {kLabelId, ControlKind::Label, "网关", {142, 279, 18, 8}},
    {IDC_GATEWAY,
     ControlKind::IpAddress,
     "",
     {162, 276, 100, 15},
     0,
     false,
     false,
     "批量修改IP发送的网关；不填则设备保留原网关"},
    {kLabelId, ControlKind::Label, "先升级", {300, 279, 26, 8}},
    {IDC_CANARY,
     ControlKind::DropDown,
     "",
     {338, 276, 74, 14},
     0,
     false,
     false,
     "先升级并验证这些设备，都成功后才升级其余设备"},
    {IDC_LOG_PANE, ControlKind::LogPane, "", {0, 294, 571, 92}},
}};

// The control of that id (a ControlId or the arrows), or null.
const ControlSpec* FindControl(int id);

// The items of 先升级, in order: none, a few counts, one per hardware version,
// and `shown` among the counts when it is none of them (a config.ini value).
struct CanaryItem {
    std::string text;
    Canary canary;
};
std::vector<CanaryItem> CanaryItems(const Canary& shown);
// The item of `canary` (the first, none, when it is not there).
int CanaryItemIndex(const std::vector<CanaryItem>& items, const Canary& canary);

// ---- what the controls do ----

// Runs the handler of control `id` (a button, a check box, or a choice made in
// a drop-down); false when it has none. Nothing happens without a dialog.
bool Press(CQuorvaneDlg* dlg, int id);

// The context menu, in order; kNone is a separator.
enum MenuCommand : unsigned {
    kMenuNone = 0,
    kMenuRetry = 1,
    kMenuExport = 2,
    kMenuAbout = 3,
    kMenuScan = 4,
    kMenuImportPlan = 5,
    kMenuExportPlan = 6,
    kMenuUndo = 7,
};
struct MenuEntry {
    MenuCommand command;
    const char* text;
};
inline constexpr const char* kAboutMenuText = "关于 Quorvane(&A)...";
inline constexpr std::array<MenuEntry, 8> kContextMenu{{
    {kMenuRetry, "只勾选失败和未升级的设备"},
    {kMenuExport, "导出列表"},
    {kMenuScan, "按地址搜索…"},
    {kMenuImportPlan, "导入地址表…"},
    {kMenuExportPlan, "导出地址表"},
    {kMenuUndo, "恢复到批次前的地址"},
    {kMenuNone, nullptr},
    {kMenuAbout, kAboutMenuText},
}};

// The save dialog of "导出列表".
using ExportDialogText = FileDialogText;
inline constexpr ExportDialogText kExportDialog{"导出列表", "quorvane-list.csv", "CSV (*.csv)",
                                                "*.csv", "csv"};
// The open dialog of "导入地址表…" and the save dialog of "导出地址表".
inline constexpr FileDialogText kImportPlanDialog{"导入地址表", "", "CSV (*.csv)", "*.csv", "csv"};
inline constexpr FileDialogText kExportPlanDialog{"导出地址表", "quorvane-plan.csv", "CSV (*.csv)",
                                                  "*.csv", "csv"};

// What a view supplies to the menu: its About box and its save dialog.
struct MenuSeat {
    std::function<void()> showAbout;
    std::function<std::optional<std::string>()> askExportPath;
};
// Runs the chosen entry: the About box, or the dialog's handler of it.
void RunMenuCommand(MenuCommand command, CQuorvaneDlg* dlg, const MenuSeat& seat);

// ---- keys, input and closing ----

enum class WindowKey { Enter, Escape, Other };
struct KeyAnswer {
    bool swallow = false;    // the key goes nowhere
    bool pressStop = false;  // and stops the batch
};
// A key anywhere in the main window (its message boxes and About box are
// other windows and keep their keys). Enter and Escape do nothing; while a
// batch runs, Escape pressed down is the stop control's key.
KeyAnswer OnWindowKey(WindowKey key, bool keyDown, bool stopEnabled);

// While a batch runs the window takes no keys or clicks but on the controls
// usable while busy, shows no menu and cannot be closed.
bool TakesInput(bool windowEnabled, int controlId);
constexpr bool MayClose(bool windowEnabled) {
    return windowEnabled;
}
constexpr bool MenuOpens(bool windowEnabled) {
    return windowEnabled;
}

// Where 浏览 opens: the folder of what the file box holds (or the folder it
// names), when that exists; empty (the dialog's own choice) otherwise.
std::string BrowseStartFolder(const std::string& fileBoxText);

// The smallest step the progress bar keeps: an empty range would show a busy bar.
constexpr int ProgressHigh(int low, int high) {
    return high > low ? high : low + 1;
}

}  // namespace app
