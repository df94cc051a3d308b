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
#include "app/WindowDescription.h"
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
    QV_DIALOG_VIEW_OVERRIDES;
    void RunWhileResponsive(const std::function<void()>& work) override;
    void PostReport(unsigned message, std::function<void()> fn) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code);
    void OnContextMenu(LPARAM lParam);
    std::optional<std::string> AskExportPath();
    // The system's save (or open) dialog for one kind of file.
    std::optional<std::string> AskFile(const app::FileDialogText& dialog, bool save);
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
    std::vector<app::CanaryItem> canaryItems_;  // what each item of 先升级 stands for
    app::Extent templateClient_;
    app::Extent minimumWindow_;

    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace win32view
