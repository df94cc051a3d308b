#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/CameraOutcome.h"
#include "engine/Canary.h"

namespace app {

// Control ids of the main dialog's template.
enum ControlId : int {
    IDC_DEVICE_LIST = 1000,
    IDC_SEARCH = 1001,
    IDC_FILE_EDIT = 1004,
    IDC_UPGRADE = 1005,
    IDC_BROWSE = 1006,
    IDC_LOG_PANE = 1009,
    IDC_UPGRADE_LOG = 1011,
    IDC_SELECT_ALL = 1015,
    IDC_PROGRESS = 1016,
    IDC_SYNC_TIME = 1018,
    IDC_START_IP = 1019,
    IDC_MODIFY_IP = 1020,
    IDC_RESTORE_IP = 1021,
    IDC_FORCE_UPGRADE = 1022,
    // Ours, beside the template's: upgrades at once, and the stop of a batch.
    IDC_PARALLEL = 1030,
    IDC_STOP = 1031,
    IDC_INTERFACE = 1033,  // the adapter searches go out on
    IDC_RESEND = 1034,     // send to cameras already on the file's version
    // The mask and gateway an IP change sends (empty: 255.255.255.0, and the
    // camera's own gateway kept).
    IDC_MASK = 1036,
    IDC_GATEWAY = 1037,
    IDC_CANARY = 1040,  // the cameras upgraded and proven before the others
};

// One camera's row, just written by the dialog: while a worker is on it, its
// live state; once finished, its outcome. The texts are those the dialog put
// into the status and detail cells.
struct CameraRowUpdate {
    int row = -1;
    std::int32_t kind = 0;  // TaskKind of the batch
    std::string mac;
    std::string ip;
    const LiveState* live = nullptr;         // set while in progress
    const CameraOutcome* outcome = nullptr;  // set when finished
    std::int32_t result = 0;                 // when finished: 1 success, 0 failure
    std::string status;
    std::string detail;
    // The upgraded camera's proof after reboot, after its result (outcome set).
    bool proof = false;
};

// A save or open dialog for one kind of file.
struct FileDialogText {
    const char* title;
    const char* suggestedName;
    const char* filterName;
    const char* pattern;
    const char* extension;
};

// The most a view's one-line text box holds (bytes on Windows, characters in Qt).
inline constexpr int kAskTextMax = 256;

// Everything the dialog logic does on the screen. The Qt window, the console
// front end and the tests' recording view implement it. Every call except
// PostToUi is made on the UI thread.
class DialogView {
  public:
    virtual ~DialogView() = default;

    virtual void SetCaption(const std::string& text) = 0;

    // The device list: rows of seven texts, a check box and an item data value.
    virtual int RowCount() const = 0;
    virtual void DeleteAllRows() = 0;
    virtual int InsertRow() = 0;  // an empty, unticked row at the end; its position
    virtual void SetCellText(int row, int column, const std::string& text) = 0;
    virtual std::string CellText(int row, int column) const = 0;
    virtual bool RowChecked(int row) const = 0;
    virtual void SetRowChecked(int row, bool checked) = 0;
    virtual void SetItemData(int row, std::intptr_t data) = 0;
    virtual std::intptr_t ItemData(int row) const = 0;
    // Puts the rows into a new order: row i afterwards is the row that was at
    // order[i], with its texts, check box and item data.
    virtual void ReorderRows(const std::vector<int>& order) = 0;

    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int pos) = 0;

    virtual std::string FileEditText() const = 0;
    virtual void SetFileEditText(const std::string& text) = 0;

    // The start-IP control: blank, or four octets (blank fields read 0).
    virtual bool StartIpBlank() const = 0;
    // Every one of the four fields filled in (a partly blank address is not).
    virtual bool StartIpComplete() const { return !StartIpBlank(); }
    virtual std::array<std::uint8_t, 4> StartIp() const = 0;
    virtual void SetStartIp(const std::array<std::uint8_t, 4>& octets) = 0;

    // The other address boxes (IDC_MASK, IDC_GATEWAY) as text: "" when blank,
    // dotted decimal when complete, and with an empty part ("255.255..0") when
    // partly blank, so that it is refused. A view without them: blank.
    virtual std::string AddressText(ControlId id) const {
        (void)id;
        return {};
    }
    virtual void SetAddressText(ControlId id, const std::string& text) {
        (void)id;
        (void)text;
    }

    virtual bool IsChecked(ControlId id) const = 0;
    virtual void SetChecked(ControlId id, bool checked) = 0;
    virtual void ShowControl(ControlId id, bool visible) = 0;

    // The whole window: disabled, it takes no input and cannot be closed.
    virtual void EnableWindow(bool enable) = 0;
    virtual void EnableControl(ControlId id, bool enable) = 0;

    // A modal box with the caption "提示" and an OK button; returns when closed.
    virtual void MessageBox(const std::string& text) = 0;
    // A modal question with the caption "提示": true for yes.
    virtual bool Confirm(const std::string& text) = 0;

    // The control beside the upgrade button: how many cameras are upgraded at once.
    virtual int UpgradeParallel() const = 0;
    virtual void SetUpgradeParallel(int count) = 0;
    // The setting below it (先升级): the cameras upgraded and proven first.
    virtual Canary UpgradeCanary() const = 0;
    virtual void SetUpgradeCanary(const Canary& canary) = 0;
    // The adapter drop-down: its items (the first, every adapter) and the one
    // shown. A view without one (the console) keeps nothing.
    virtual void SetAdapterItems(const std::vector<std::string>& items, int selected) {
        (void)items;
        (void)selected;
    }
    virtual int ChosenAdapterItem() const { return 0; }
    // Appends `text` (already ending in "\r\n") to the log pane, showing the end.
    virtual void AppendToLogPane(const std::string& text) = 0;
    virtual void SetWaitCursor(bool wait) = 0;
    // False when no program could open it.
    virtual bool OpenInEditor(const std::string& path) = 0;
    // The open-file dialog: the chosen full path, or nothing when cancelled.
    virtual std::optional<std::string> BrowseForFile() = 0;
    // The save and open dialogs of the address plan: the chosen full path,
    // or nothing when cancelled. A view without them (the console) gives nothing.
    virtual std::optional<std::string> AskSavePath(const FileDialogText& dialog) {
        (void)dialog;
        return std::nullopt;
    }
    virtual std::optional<std::string> AskOpenPath(const FileDialogText& dialog) {
        (void)dialog;
        return std::nullopt;
    }

    // A modal box with the caption `title` that asks for one line of text
    // (`prompt` above it, `initial` filled in): the text, or nothing when
    // cancelled. A view without one (the console) asks nothing.
    virtual std::optional<std::string> AskText(const std::string& title, const std::string& prompt,
                                               const std::string& initial) {
        (void)title;
        (void)prompt;
        (void)initial;
        return std::nullopt;
    }

    // Runs `work` (seconds of waiting on the network) off the UI thread while
    // the window goes on taking the controls usable while busy (the stop and
    // its key); returns once it is done. A view without an event loop of its
    // own (the console, the tests' views) runs it in place.
    virtual void RunWhileResponsive(const std::function<void()>& work) { work(); }

    // A camera's row has changed (above). Views that show or print more than
    // the cells (the console's progress lines, its JSON) take it from here.
    virtual void CameraChanged(const CameraRowUpdate& update) = 0;

    // Runs `fn` on the UI thread later, in posting order. Callable from any thread.
    virtual void PostToUi(std::function<void()> fn) = 0;
    // PostToUi for a worker report; a Windows view posts it as `message`
    // (WM_TASK_RESULT, WM_TASK_PROGRESS, WM_BATCH_DONE, WM_LIVE_STATE,
    // WM_TASK_PROOF).
    virtual void PostReport(unsigned message, std::function<void()> fn) {
        (void)message;
        PostToUi(std::move(fn));
    }
};

}  // namespace app

// The declarations of a window view that implements every DialogView call
// (the Qt window, the Windows window), written once beside the interface:
// class SomeWindow : public app::DialogView { public: QV_DIALOG_VIEW_OVERRIDES ... };
#define QV_DIALOG_VIEW_OVERRIDES                                                            \
    void SetCaption(const std::string& text) override;                                      \
    int RowCount() const override;                                                          \
    void DeleteAllRows() override;                                                          \
    int InsertRow() override;                                                               \
    void SetCellText(int row, int column, const std::string& text) override;                \
    std::string CellText(int row, int column) const override;                               \
    bool RowChecked(int row) const override;                                                \
    void SetRowChecked(int row, bool checked) override;                                     \
    void SetItemData(int row, std::intptr_t data) override;                                 \
    std::intptr_t ItemData(int row) const override;                                         \
    void ReorderRows(const std::vector<int>& order) override;                               \
    void SetProgressRange(int low, int high) override;                                      \
    void SetProgressPos(int pos) override;                                                  \
    std::string FileEditText() const override;                                              \
    void SetFileEditText(const std::string& text) override;                                 \
    bool StartIpBlank() const override;                                                     \
    bool StartIpComplete() const override;                                                  \
    std::array<std::uint8_t, 4> StartIp() const override;                                   \
    void SetStartIp(const std::array<std::uint8_t, 4>& octets) override;                    \
    std::string AddressText(app::ControlId id) const override;                              \
    void SetAddressText(app::ControlId id, const std::string& text) override;               \
    bool IsChecked(app::ControlId id) const override;                                       \
    void SetChecked(app::ControlId id, bool checked) override;                              \
    void ShowControl(app::ControlId id, bool visible) override;                             \
    void EnableWindow(bool enable) override;                                                \
    void EnableControl(app::ControlId id, bool enable) override;                            \
    void MessageBox(const std::string& text) override;                                      \
    bool Confirm(const std::string& text) override;                                         \
    int UpgradeParallel() const override;                                                   \
    void SetUpgradeParallel(int count) override;                                            \
    Canary UpgradeCanary() const override;                                                  \
    void SetUpgradeCanary(const Canary& canary) override;                                   \
    void SetAdapterItems(const std::vector<std::string>& items, int selected) override;     \
    int ChosenAdapterItem() const override;                                                 \
    void AppendToLogPane(const std::string& text) override;                                 \
    void SetWaitCursor(bool wait) override;                                                 \
    bool OpenInEditor(const std::string& path) override;                                    \
    std::optional<std::string> BrowseForFile() override;                                    \
    std::optional<std::string> AskSavePath(const app::FileDialogText& dialog) override;     \
    std::optional<std::string> AskOpenPath(const app::FileDialogText& dialog) override;     \
    std::optional<std::string> AskText(const std::string& title, const std::string& prompt, \
                                       const std::string& initial) override;                \
    void CameraChanged(const app::CameraRowUpdate& update) override;                        \
    void PostToUi(std::function<void()> fn) override
