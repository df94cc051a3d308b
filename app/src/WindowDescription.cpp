#include "app/WindowDescription.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "app/QuorvaneDlg.h"
#include "platform/Paths.h"

namespace app {
namespace {

struct Wiring {
    int id;
    void (CQuorvaneDlg::*handler)();
};
// The button-to-handler wiring; the check boxes without one are read by the
// upgrade request.
constexpr Wiring kWiring[] = {
    {IDC_SEARCH, &CQuorvaneDlg::OnBnClickedSearch},
    {IDC_SELECT_ALL, &CQuorvaneDlg::OnBnClickedSelectAll},
    {IDC_UPGRADE_LOG, &CQuorvaneDlg::OnBnClickedUpgradeLog},
    {IDC_BROWSE, &CQuorvaneDlg::OnBnClickedBrowse},
    {IDC_MODIFY_IP, &CQuorvaneDlg::OnBnClickedModifyIp},
    {IDC_RESTORE_IP, &CQuorvaneDlg::OnBnClickedRestoreIp},
    {IDC_UPGRADE, &CQuorvaneDlg::OnBnClickedUpgrade},
    {IDC_STOP, &CQuorvaneDlg::OnBnClickedStop},
    // A choice made in the drop-down, not a click.
    {IDC_INTERFACE, &CQuorvaneDlg::OnCbnSelchangeInterface},
};

}  // namespace

std::optional<ListColumn> ColumnByKey(std::string_view key) {
    for (const ColumnSpec& c : kColumns) {
        if (key == c.key) {
            return c.column;
        }
    }
    return std::nullopt;
}

bool SortsBy(int column) {
    return column >= 0 && column < kColumnCount &&
           kColumns[static_cast<std::size_t>(column)].sortable;
}

const ControlSpec* FindControl(int id) {
    if (id == kLabelId) {
        return nullptr;
    }
    for (const ControlSpec& c : kControls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

std::vector<CanaryItem> CanaryItems(const Canary& shown) {
    std::vector<CanaryItem> items{{"无", {}}};
    bool listed = !shown.On() || shown.perHardware;
    for (const std::uint32_t count : {1u, 2u, 3u, 5u}) {
        if (!listed && shown.count < count) {
            items.push_back({std::to_string(shown.count) + "台", {shown.count, false}});
            listed = true;
        }
        items.push_back({std::to_string(count) + "台", {count, false}});
        listed = listed || shown.count == count;
    }
    if (!listed) {
        items.push_back({std::to_string(shown.count) + "台", {shown.count, false}});
    }
    items.push_back({"每种硬件1台", {0, true}});
    return items;
}

int CanaryItemIndex(const std::vector<CanaryItem>& items, const Canary& canary) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].canary == canary) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

bool Press(CQuorvaneDlg* dlg, int id) {
    for (const Wiring& w : kWiring) {
        if (w.id == id) {
            if (dlg != nullptr) {
                (dlg->*w.handler)();
            }
            return true;
        }
    }
    return false;
}

void RunMenuCommand(MenuCommand command, CQuorvaneDlg* dlg, const MenuSeat& seat) {
    switch (command) {
        case kMenuAbout:
            if (seat.showAbout) {
                seat.showAbout();
            }
            break;
        case kMenuRetry:
            if (dlg != nullptr) {
                dlg->TickRowsToRetry();
            }
            break;
        case kMenuExport:
            if (dlg != nullptr && seat.askExportPath) {
                if (const std::optional<std::string> path = seat.askExportPath()) {
                    dlg->ExportList(*path);
                }
            }
            break;
        case kMenuImportPlan:
            if (dlg != nullptr) {
                dlg->OnImportPlan();
            }
            break;
        case kMenuExportPlan:
            if (dlg != nullptr) {
                dlg->OnExportPlan();
            }
            break;
        case kMenuUndo:
            if (dlg != nullptr) {
                dlg->OnUndoIpBatch();
            }
            break;
        case kMenuScan:
            if (dlg != nullptr) {
                dlg->OnMenuScan();
            }
            break;
        case kMenuNone:
            break;
    }
}

KeyAnswer OnWindowKey(WindowKey key, bool keyDown, bool stopEnabled) {
    if (key == WindowKey::Other) {
        return {};
    }
    return {true, key == WindowKey::Escape && keyDown && stopEnabled};
}

bool TakesInput(bool windowEnabled, int controlId) {
    if (windowEnabled) {
        return true;
    }
    const ControlSpec* c = FindControl(controlId);
    return c != nullptr && c->usableWhileBusy;
}

std::string BrowseStartFolder(const std::string& fileBoxText) {
    const auto first = fileBoxText.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = fileBoxText.find_last_not_of(" \t");
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(
        platform::FsPath(fileBoxText.substr(first, last - first + 1)), ec);
    if (ec) {
        return {};
    }
    if (!std::filesystem::is_directory(p, ec)) {
        p = p.parent_path();
    }
    return std::filesystem::is_directory(p, ec) ? platform::Utf8Path(p) : std::string();
}

}  // namespace app
