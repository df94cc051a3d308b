#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The view's method of that name, not the system's macro.
#undef MessageBox

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "app/WindowLayout.h"

namespace app {
class CQuorvaneDlg;
}

namespace win32view {

// The About box: the program icon, its name and the full version number.
void ShowAboutBox(HINSTANCE instance, HWND owner);

// The main dialog's window, made from its resource template, implementing the
// DialogView that the dialog logic works through.
class MainDialog : public app::DialogView {
  public:
    explicit MainDialog(HINSTANCE instance);
    ~MainDialog() override;
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Creates the window, hidden; false when the template could not be made
    // into a window (the rich edit library missing, for one).
    bool Create();
    // Connects the controls to the dialog's handlers; null disconnects.
    void Attach(app::CQuorvaneDlg* dlg) { dlg_ = dlg; }
    // Shows the window and dispatches messages until it is closed.
    void RunModalLoop();
    HWND Window() const { return hwnd_; }

    // DialogView
    void SetCaption(const std::string& text) override;
    int RowCount() const override;
    void DeleteAllRows() override;
    int InsertRow() override;
    void SetCellText(int row, int column, const std::string& text) override;
    std::string CellText(int row, int column) const override;
    bool RowChecked(int row) const override;
    void SetRowChecked(int row, bool checked) override;
    void SetItemData(int row, std::intptr_t data) override;
    std::intptr_t ItemData(int row) const override;
    void ReorderRows(const std::vector<int>& order) override;
    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int pos) override;
    std::string FileEditText() const override;
    void SetFileEditText(const std::string& text) override;
    bool StartIpBlank() const override;
    bool StartIpComplete() const override;
    std::array<std::uint8_t, 4> StartIp() const override;
    void SetStartIp(const std::array<std::uint8_t, 4>& octets) override;
    bool IsChecked(app::ControlId id) const override;
    void SetChecked(app::ControlId id, bool checked) override;
    void ShowControl(app::ControlId id, bool visible) override;
    void EnableWindow(bool enable) override;
    void EnableControl(app::ControlId id, bool enable) override;
    void MessageBox(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    int UpgradeParallel() const override;
    void SetUpgradeParallel(int count) override;
    void AppendToLogPane(const std::string& text) override;
    void SetWaitCursor(bool wait) override;
    bool OpenInEditor(const std::string& path) override;
    std::optional<std::string> BrowseForFile() override;
    void CameraChanged(const app::CameraRowUpdate& update) override;
    void PostToUi(std::function<void()> fn) override;
    void PostReport(unsigned message, std::function<void()> fn) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    void OnContextMenu(LPARAM lParam);
    std::optional<std::string> AskExportPath();
    void Relayout();
    void RunQueued();
    // True when the message loop must not hand `msg` on: Enter and Escape
    // anywhere in the window, and input while the window is disabled.
    bool Swallow(const MSG& msg);
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    bool ValidRow(int row) const { return row >= 0 && row < RowCount(); }

    struct Placed {
        HWND hwnd;
        app::Box base;
        app::Anchor anchor;
    };

    HINSTANCE instance_;
    std::atomic<HWND> hwnd_{nullptr};
    HWND list_ = nullptr;
    HWND pane_ = nullptr;
    HICON iconBig_ = nullptr;
    HICON iconSmall_ = nullptr;
    app::CQuorvaneDlg* dlg_ = nullptr;
    bool windowEnabled_ = true;
    int waitDepth_ = 0;
    std::vector<Placed> placed_;
    app::Extent templateClient_;
    app::Extent minimumWindow_;

    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace win32view
