#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogView.h"
#include "app/WindowDescription.h"

namespace app {

// A DialogView that keeps the screen in memory: the console front end prints
// from it and the tests read it. Queued calls run when the owner pumps them.
class MemoryView : public DialogView {
  public:
    struct Row {
        std::vector<std::string> cells = std::vector<std::string>(kColumnCount);
        bool checked = false;
        std::intptr_t data = 0;
    };

    void SetCaption(const std::string& text) override { caption = text; }

    int RowCount() const override { return static_cast<int>(rows.size()); }
    void DeleteAllRows() override { rows.clear(); }
    int InsertRow() override;
    void SetCellText(int row, int column, const std::string& text) override;
    std::string CellText(int row, int column) const override;
    bool RowChecked(int row) const override;
    void SetRowChecked(int row, bool checked) override;
    void SetItemData(int row, std::intptr_t data) override;
    std::intptr_t ItemData(int row) const override;
    void ReorderRows(const std::vector<int>& order) override;

    void SetProgressRange(int low, int high) override;
    void SetProgressPos(int pos) override { progressPos = pos; }

    std::string FileEditText() const override { return fileText; }
    void SetFileEditText(const std::string& text) override { fileText = text; }

    bool StartIpBlank() const override { return startIpBlank; }
    bool StartIpComplete() const override { return !startIpBlank && !startIpPartlyBlank; }
    std::array<std::uint8_t, 4> StartIp() const override { return startIp; }
    void SetStartIp(const std::array<std::uint8_t, 4>& octets) override;

    std::string AddressText(ControlId id) const override {
        const auto it = addressTexts.find(id);
        return it == addressTexts.end() ? std::string() : it->second;
    }
    void SetAddressText(ControlId id, const std::string& text) override { addressTexts[id] = text; }

    bool IsChecked(ControlId id) const override;
    void SetChecked(ControlId id, bool checked) override { checks[id] = checked; }
    void ShowControl(ControlId id, bool visible) override { shown[id] = visible; }

    void EnableWindow(bool enable) override { windowEnabled = enable; }
    void EnableControl(ControlId id, bool enable) override { enabled[id] = enable; }

    void MessageBox(const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string& text) override {
        questions.push_back(text);
        return answer ? answer(text) : confirmAnswer;
    }
    int UpgradeParallel() const override { return parallel; }
    void SetUpgradeParallel(int count) override { parallel = count; }
    Canary UpgradeCanary() const override { return canary; }
    void SetUpgradeCanary(const Canary& c) override { canary = c; }
    void SetAdapterItems(const std::vector<std::string>& items, int selected) override {
        adapterItems = items;
        adapterItem = selected;
    }
    int ChosenAdapterItem() const override { return adapterItem; }
    void AppendToLogPane(const std::string& text) override { pane += text; }
    void SetWaitCursor(bool wait) override { waitCursor = wait; }
    bool OpenInEditor(const std::string& path) override {
        opened.push_back(path);
        return openWorks;
    }
    std::optional<std::string> BrowseForFile() override { return nextBrowse; }
    std::optional<std::string> AskSavePath(const FileDialogText& dialog) override {
        fileDialogs.push_back(dialog.title);
        return nextSavePath;
    }
    std::optional<std::string> AskOpenPath(const FileDialogText& dialog) override {
        fileDialogs.push_back(dialog.title);
        return nextOpenPath;
    }
    std::optional<std::string> AskText(const std::string& title, const std::string& prompt,
                                       const std::string& initial) override {
        asked.push_back(title + "|" + prompt + "|" + initial);
        return nextText;
    }

    // Keeps every update, the live state and outcome copied.
    struct CameraRecord {
        CameraRowUpdate update;
        std::optional<LiveState> live;
        std::optional<CameraOutcome> outcome;
    };
    void CameraChanged(const CameraRowUpdate& update) override;

    void PostToUi(std::function<void()> fn) override;
    // Runs the calls queued so far, in order; returns how many ran.
    std::size_t RunPending();
    // Runs queued calls as they arrive until `done` holds or `timeout` passes.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // The screen, readable and settable by the owner.
    std::string caption;
    std::vector<Row> rows;
    int progressLow = 0;
    int progressHigh = 100;
    int progressPos = 0;
    std::string fileText;
    bool startIpBlank = true;
    bool startIpPartlyBlank = false;
    std::array<std::uint8_t, 4> startIp{};
    std::map<ControlId, std::string> addressTexts;  // IDC_MASK, IDC_GATEWAY
    std::map<ControlId, bool> checks;
    std::map<ControlId, bool> shown;
    std::map<ControlId, bool> enabled;
    bool windowEnabled = true;
    bool waitCursor = false;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    // The address plan's file dialogs: what they answer, and their titles asked.
    std::optional<std::string> nextSavePath;
    std::optional<std::string> nextOpenPath;
    std::vector<std::string> fileDialogs;
    bool confirmAnswer = true;
    std::function<bool(const std::string&)> answer;  // by question, when set
    int parallel = 1;
    Canary canary;
    std::vector<std::string> adapterItems;  // the drop-down "网卡"
    int adapterItem = 0;
    std::string pane;
    std::vector<std::string> opened;
    std::vector<std::string> asked;       // "title|prompt|initial" of each AskText
    std::optional<std::string> nextText;  // AskText's answer
    bool openWorks = true;                // what OpenInEditor answers
    std::optional<std::string> nextBrowse;
    std::vector<CameraRecord> cameras;

  private:
    Row* At(int row);
    const Row* At(int row) const;

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
};

}  // namespace app
