#include "ConsoleView.h"

#include "platform/TermText.h"

namespace cli {

void ConsoleView::ReportProgress() {
    progress_ = true;
    started_ = std::chrono::steady_clock::now();
}

void ConsoleView::SetProgressPos(int pos) {
    MemoryView::SetProgressPos(pos);
    if (progress_ && pos > 0) {
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        std::fprintf(stderr, "[%d/%d] %s (%.1f s)\n", pos, progressHigh, lastLine_.c_str(), s);
        std::fflush(stderr);
    }
}

void ConsoleView::MessageBox(const std::string& text) {
    MemoryView::MessageBox(text);
    std::fprintf(stderr, "%s\n", platform::EscapeForTerminal(text).c_str());
    std::fflush(stderr);
}

void ConsoleView::AppendToLogPane(const std::string& text) {
    MemoryView::AppendToLogPane(text);
    std::string line = text;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.erase(line.size() - 2);
    }
    lastLine_ = platform::EscapeForTerminal(line);
    std::fprintf(pane_, "%s\n", lastLine_.c_str());
    std::fflush(pane_);
}

bool ConsoleView::OpenInEditor(const std::string& path) {
    MemoryView::OpenInEditor(path);
    std::fprintf(stderr, "%s\n", path.c_str());
    return true;  // the path is said; there is nothing to open on a console
}

}  // namespace cli
