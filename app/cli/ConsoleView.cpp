#include "ConsoleView.h"

#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "platform/TermText.h"

namespace cli {

void ConsoleView::ReportProgress() {
    progress_ = true;
    tty_ = ::isatty(::fileno(stderr)) == 1;
    started_ = std::chrono::steady_clock::now();
}

void ConsoleView::ClearLiveLine() {
    if (liveShown_) {
        std::fprintf(stderr, "\r\x1b[K");
        liveShown_ = false;
    }
}

void ConsoleView::CameraChanged(const app::CameraRowUpdate& update) {
    MemoryView::CameraChanged(update);
    const std::string who = "[" + platform::EscapeForTerminal(update.mac) + "] " +
                            platform::EscapeForTerminal(update.ip) + " ";
    if (update.outcome != nullptr) {
        // A proof is said by its line in the pane; the count was the verdict's.
        if (!update.proof) {
            finishedLine_ = who + platform::EscapeForTerminal(update.status);
            if (!update.detail.empty()) {
                finishedLine_ += "，" + platform::EscapeForTerminal(update.detail);
            }
        }
        return;
    }
    if (!progress_ || update.live == nullptr) {
        return;
    }
    const std::string line = who + platform::EscapeForTerminal(update.status);
    if (tty_) {
        std::fprintf(stderr, "\r\x1b[K%s", line.c_str());
        liveShown_ = true;
    } else if (update.live->stage != lastStage_ || update.mac != lastMac_) {
        // A log file gets each stage once, not every percent.
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    lastStage_ = update.live->stage;
    lastMac_ = update.mac;
    std::fflush(stderr);
}

void ConsoleView::SetProgressPos(int pos) {
    MemoryView::SetProgressPos(pos);
    if (progress_ && pos > 0) {
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        ClearLiveLine();
        std::fprintf(stderr, "[%d/%d] %s (%.1f s)\n", pos, progressHigh,
                     (finishedLine_.empty() ? lastLine_ : finishedLine_).c_str(), s);
        std::fflush(stderr);
    }
}

void ConsoleView::MessageBox(const std::string& text) {
    MemoryView::MessageBox(text);
    ClearLiveLine();
    std::fprintf(stderr, "%s\n", platform::EscapeForTerminal(text).c_str());
    std::fflush(stderr);
}

void ConsoleView::AppendToLogPane(const std::string& text) {
    MemoryView::AppendToLogPane(text);
    ClearLiveLine();
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

void PrintTable(const app::MemoryView& view) {
    // 详情 only when a row has one (a camera outside its adapter's subnet).
    const bool detail = std::any_of(view.rows.begin(), view.rows.end(), [](const auto& row) {
        return !row.cells[app::kColDetail].empty();
    });
    const auto shown = [detail](const app::ColumnSpec& c) {
        return c.inTable || (detail && c.column == app::kColDetail);
    };
    std::string header;
    for (const app::ColumnSpec& c : app::kColumns) {
        if (shown(c)) {
            header += (header.empty() ? "" : "\t") + std::string(c.heading);
        }
    }
    std::printf("%s\n", header.c_str());
    for (const auto& row : view.rows) {
        std::string line;
        bool first = true;
        for (const app::ColumnSpec& c : app::kColumns) {
            if (shown(c)) {
                // A TAB or a newline in a camera's text must not make a row of its own.
                line += (first ? "" : "\t") +
                        platform::EscapeForTerminal(row.cells[static_cast<std::size_t>(c.column)]);
                first = false;
            }
        }
        std::printf("%s\n", line.c_str());
    }
}

namespace {

std::string Dotted(const std::uint8_t (&b)[4]) {
    if ((b[0] | b[1] | b[2] | b[3]) == 0) {
        return {};
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned{b[0]}, unsigned{b[1]}, unsigned{b[2]},
                  unsigned{b[3]});
    return text;
}

}  // namespace

void PrintJson(const app::MemoryView& view, const std::vector<tNetDeviceInfo>& records) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& row : view.rows) {
        nlohmann::json fields = nlohmann::json::object();
        for (const app::ColumnSpec& c : app::kColumns) {
            fields[c.key] = row.cells[static_cast<std::size_t>(c.column)];
        }
        for (const tNetDeviceInfo& r : records) {
            char mac[18];
            std::snprintf(mac, sizeof(mac), "%02X:%02X:%02X:%02X:%02X:%02X", r.ucMac[0], r.ucMac[1],
                          r.ucMac[2], r.ucMac[3], r.ucMac[4], r.ucMac[5]);
            if (row.cells[app::kColMac] == mac) {
                fields["mask"] = Dotted(r.ucMask);
                fields["gateway"] = Dotted(r.ucGateway);
                break;
            }
        }
        rows.push_back(std::move(fields));
    }
    // Texts from cameras may hold bytes that are not UTF-8; replace, never throw.
    std::cout << rows.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace cli
