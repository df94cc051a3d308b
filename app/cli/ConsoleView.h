#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "app/MemoryView.h"

namespace cli {

// The console screen: message boxes on stderr, log pane lines on a stream.
class ConsoleView : public app::MemoryView {
  public:
    explicit ConsoleView(std::FILE* out) : pane_(out) {}

    // From now on every step of the progress bar prints the camera that
    // finished with it (the pane's last line) on stderr.
    void ReportProgress();

    void SetProgressPos(int pos) override;
    void MessageBox(const std::string& text) override;
    void AppendToLogPane(const std::string& text) override;
    bool OpenInEditor(const std::string& path) override;
    std::optional<std::string> BrowseForFile() override { return std::nullopt; }

  private:
    std::FILE* pane_;
    std::string lastLine_;
    bool progress_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace cli
