#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/MemoryView.h"
#include "korvel.h"

namespace cli {

// The console screen: message boxes on stderr, log pane lines on a stream.
class ConsoleView : public app::MemoryView {
  public:
    explicit ConsoleView(std::FILE* out) : pane_(out) {}

    // From now on every step of the progress bar prints the camera that
    // finished with it on stderr, with its status and detail, and a camera
    // being worked on shows where it is: one line rewritten in place on a
    // terminal, a plain line per stage otherwise.
    void ReportProgress();

    void SetProgressPos(int pos) override;
    void MessageBox(const std::string& text) override;
    void AppendToLogPane(const std::string& text) override;
    bool OpenInEditor(const std::string& path) override;
    std::optional<std::string> BrowseForFile() override { return std::nullopt; }
    void CameraChanged(const app::CameraRowUpdate& update) override;

  private:
    void ClearLiveLine();

    std::FILE* pane_;
    std::string lastLine_;
    std::string finishedLine_;  // the camera that finished last, for its progress line
    bool tty_ = false;
    bool liveShown_ = false;  // a rewritable line is on the terminal
    LiveStage lastStage_ = LiveStage::Finished;
    std::string lastMac_;
    bool progress_ = false;
    std::chrono::steady_clock::time_point started_;
};

// The list as the console prints it on stdout: a table of the columns the
// table shows, a header over its rows, or a JSON array of every column.
void PrintTable(const app::MemoryView& view);
// With the search's records, each row also gets the mask and gateway its
// camera reports ("" when it reports none).
void PrintJson(const app::MemoryView& view, const std::vector<tNetDeviceInfo>& records = {});

}  // namespace cli
