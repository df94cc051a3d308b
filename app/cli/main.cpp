// quorvane-cli: the main dialog's logic behind a console. Each command runs a
// search, picks rows, presses the button, waits for the batch to end and
// prints what the window would show.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/IpBatch.h"
#include "app/MemoryView.h"
#include "app/QuorvaneDlg.h"
#include "platform/AppFolders.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"
#include "platform/Version.h"

namespace {

constexpr int kExitAllOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitRefused = 2;
constexpr int kExitLogFailed = 3;

const char* const kUsage =
    "usage: quorvane-cli [--config-dir DIR] COMMAND ...\n"
    "  search     [--sort COLUMN [--descending]] [--json]\n"
    "  modify-ip  START (--all | --mac MAC... | --ip IP...) [--sort COLUMN [--descending]]\n"
    "  restore-ip (--all | --mac MAC... | --ip IP...) [--sort COLUMN [--descending]]\n"
    "  upgrade    FILE (--all | --mac MAC... | --ip IP...) [--sync-time] [--force]\n"
    "             [--sort COLUMN [--descending]]\n"
    "COLUMN is one of type, ip, mac, sw, hw, status. --config-dir DIR takes the place of\n"
    "the usual folders for config.ini, quorvane-net.conf and the logs (see quorvane-cli(1)).\n"
    "upgrade sends FILE (an image or an update pack) to the chosen cameras one after\n"
    "another and prints a progress line per finished camera on stderr.\n"
    "MAC is six hexadecimal bytes joined by ':' or '-', in either case. A --mac or --ip\n"
    "that matches no camera refuses the whole request before any camera is touched.\n"
    "Texts from cameras are printed with control characters escaped (\\t, \\n, \\xNN).\n"
    "Exit status: 0 every camera succeeded, 1 some failed, 2 the request was refused\n"
    "(malformed arguments, no such camera, a bad network configuration, another batch\n"
    "running on the same configuration folder), 3 the operation log could not be opened\n"
    "or written (the outcome of the cameras is still printed).\n"
    "quorvane-cli --version prints the version.\n";

// The console screen: message boxes on stderr, log pane lines on a stream.
class ConsoleView : public app::MemoryView {
  public:
    explicit ConsoleView(std::FILE* out) : pane_(out) {}
    // From now on every step of the progress bar prints the camera that
    // finished with it (the pane's last line) on stderr.
    void ReportProgress() {
        progress_ = true;
        started_ = std::chrono::steady_clock::now();
    }
    void SetProgressPos(int pos) override {
        MemoryView::SetProgressPos(pos);
        if (progress_ && pos > 0) {
            const double s =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
            std::fprintf(stderr, "[%d/%d] %s (%.1f s)\n", pos, progressHigh, lastLine_.c_str(), s);
            std::fflush(stderr);
        }
    }
    void MessageBox(const std::string& text) override {
        MemoryView::MessageBox(text);
        std::fprintf(stderr, "%s\n", platform::EscapeForTerminal(text).c_str());
        std::fflush(stderr);
    }
    void AppendToLogPane(const std::string& text) override {
        MemoryView::AppendToLogPane(text);
        std::string line = text;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
            line.erase(line.size() - 2);
        }
        lastLine_ = platform::EscapeForTerminal(line);
        std::fprintf(pane_, "%s\n", lastLine_.c_str());
        std::fflush(pane_);
    }
    void OpenInEditor(const std::string& path) override {
        MemoryView::OpenInEditor(path);
        std::fprintf(stderr, "%s\n", path.c_str());
    }
    std::optional<std::string> BrowseForFile() override { return std::nullopt; }

  private:
    std::FILE* pane_;
    std::string lastLine_;
    bool progress_ = false;
    std::chrono::steady_clock::time_point started_;
};

struct Args {
    std::string configDir;
    std::string command;
    std::string start;  // modify-ip's start address, upgrade's file
    bool all = false;
    bool syncTime = false;
    bool force = false;
    std::vector<std::string> macs;
    std::vector<std::string> ips;
    int sortColumn = -1;
    bool descending = false;
    bool json = false;
};

int ColumnByName(const std::string& name) {
    static const std::vector<std::string> names{"", "type", "ip", "mac", "sw", "hw", "status"};
    for (std::size_t i = 1; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool Fail(const std::string& why) {
    std::fprintf(stderr, "quorvane-cli: %s\n%s", platform::EscapeForTerminal(why).c_str(), kUsage);
    return false;
}

// "aa-bb-cc-dd-ee-ff" or "AA:BB:..." in any case, as the list shows it.
std::optional<std::string> NormalMac(const std::string& text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if ((c != ':' && c != '-') || c != text[2]) {
                return std::nullopt;
            }
            out += ':';
        } else if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool Parse(int argc, char** argv, Args& a) {
    std::vector<std::string> v(argv + 1, argv + argc);
    std::vector<std::string>* list = nullptr;  // collecting MACs or IPs
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::string& s = v[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= v.size()) {
                return false;
            }
            out = v[++i];
            return true;
        };
        if (s == "--config-dir") {
            if (!next(a.configDir)) {
                return Fail("--config-dir needs a folder");
            }
            list = nullptr;
        } else if (s == "--sort") {
            std::string name;
            if (!next(name) || (a.sortColumn = ColumnByName(name)) < 0) {
                return Fail("--sort needs one of type, ip, mac, sw, hw, status");
            }
            list = nullptr;
        } else if (s == "--descending") {
            a.descending = true;
        } else if (s == "--json") {
            a.json = true;
        } else if (s == "--sync-time") {
            a.syncTime = true;
        } else if (s == "--force") {
            a.force = true;
        } else if (s == "--all") {
            a.all = true;
            list = nullptr;
        } else if (s == "--mac") {
            list = &a.macs;
        } else if (s == "--ip") {
            list = &a.ips;
        } else if (s == "-h" || s == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (s == "--version") {
            std::printf("quorvane-cli %s\n", platform::kVersion);
            std::exit(0);
        } else if (!s.empty() && s[0] == '-') {
            return Fail("unknown option " + s);
        } else if (list != nullptr) {
            list->push_back(s);
        } else if (a.command.empty()) {
            a.command = s;
        } else if ((a.command == "modify-ip" || a.command == "upgrade") && a.start.empty()) {
            a.start = s;
        } else {
            return Fail("unexpected argument " + s);
        }
    }
    if (a.command != "search" && a.command != "modify-ip" && a.command != "restore-ip" &&
        a.command != "upgrade") {
        return Fail(a.command.empty() ? "no command" : "unknown command " + a.command);
    }
    if (a.command != "search") {
        const int ways = (a.all ? 1 : 0) + (a.macs.empty() ? 0 : 1) + (a.ips.empty() ? 0 : 1);
        if (ways != 1) {
            return Fail("choose the cameras with one of --all, --mac or --ip");
        }
    }
    if (a.command == "modify-ip" && a.start.empty()) {
        return Fail("modify-ip needs a start address");
    }
    if (a.command == "upgrade" && a.start.empty()) {
        return Fail("upgrade needs an update file");
    }
    if ((a.syncTime || a.force) && a.command != "upgrade") {
        return Fail("--sync-time and --force go with upgrade");
    }
    if (a.descending && a.sortColumn < 0) {
        return Fail("--descending goes with --sort");
    }
    // Every camera argument is checked here, before the search.
    for (std::string& m : a.macs) {
        const auto mac = NormalMac(m);
        if (!mac) {
            return Fail("not a MAC address: " + m);
        }
        m = *mac;
    }
    for (const std::string& ip : a.ips) {
        if (!app::ParseDottedIpv4(ip)) {
            return Fail("not an IPv4 address: " + ip);
        }
    }
    if (a.command == "modify-ip" && !app::ParseDottedIpv4(a.start)) {
        return Fail("not an IPv4 address: " + a.start);
    }
    return true;
}

void PrintTable(const app::MemoryView& view) {
    std::printf("序号\t设备类型\tIP地址\tMAC地址\t软件版本\t硬件版本\t状态\n");
    for (const auto& row : view.rows) {
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
            // A TAB or a newline in a camera's text must not make a row of its own.
            std::printf("%s%c", platform::EscapeForTerminal(row.cells[c]).c_str(),
                        c + 1 < row.cells.size() ? '\t' : '\n');
        }
    }
}

void PrintJson(const app::MemoryView& view) {
    nlohmann::json rows = nlohmann::json::array();
    for (const auto& row : view.rows) {
        rows.push_back({{"number", row.cells[0]},
                        {"type", row.cells[1]},
                        {"ip", row.cells[2]},
                        {"mac", row.cells[3]},
                        {"sw", row.cells[4]},
                        {"hw", row.cells[5]},
                        {"status", row.cells[6]}});
    }
    // Texts from cameras may hold bytes that are not UTF-8; replace, never throw.
    std::cout << rows.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

int Run(const Args& a) {
    // The device libraries follow the same folder.
    platform::SetConfigDirOverride(a.configDir);
    // For search, stdout carries the list only; the log lines go to stderr.
    ConsoleView view(a.command == "search" ? stderr : stdout);
    app::DialogDeps deps;
    deps.configDir = a.configDir;
    app::CQuorvaneDlg dlg(view, deps);
    dlg.OnInitDialog();
    // Said once on stderr at the end, whatever else happened.
    struct LogFailureNote {
        const app::CQuorvaneDlg& dlg;
        bool paneOnStderr;
        ~LogFailureNote() {
            if (!dlg.LogFailure().empty() && !paneOnStderr) {
                std::fprintf(stderr, "quorvane-cli: %s\n", dlg.LogFailure().c_str());
            }
        }
    } note{dlg, a.command == "search"};
    if (!dlg.NetInitError().empty()) {
        std::fprintf(stderr, "quorvane-cli: %s\n",
                     platform::EscapeForTerminal(dlg.NetInitError()).c_str());
        return kExitRefused;
    }
    dlg.OnBnClickedSearch();
    if (a.sortColumn > 0) {
        // Header clicks: the first sorts descending, the second ascending.
        dlg.OnLvnColumnclickDeviceList(a.sortColumn);
        if (!a.descending) {
            dlg.OnLvnColumnclickDeviceList(a.sortColumn);
        }
    }

    if (a.command == "search") {
        if (a.json) {
            PrintJson(view);
        } else {
            PrintTable(view);
        }
        return dlg.LogFailure().empty() ? kExitAllOk : kExitLogFailed;
    }

    const std::set<std::string> macs(a.macs.begin(), a.macs.end());
    const std::set<std::string> ips(a.ips.begin(), a.ips.end());
    std::set<std::string> seen;
    for (int r = 0; r < view.RowCount(); ++r) {
        const std::string ip = view.CellText(r, 2);
        const std::string mac = view.CellText(r, 3);
        const bool pick = a.all || macs.count(mac) != 0 || ips.count(ip) != 0;
        view.SetRowChecked(r, pick);
        if (pick) {
            seen.insert(macs.count(mac) != 0 ? mac : ip);
        }
    }
    // A camera asked for but not found refuses the whole request: the others
    // are not changed without it.
    bool missing = false;
    for (const auto& m : macs) {
        if (seen.count(m) == 0) {
            std::fprintf(stderr, "quorvane-cli: no camera with MAC %s; nothing was changed\n",
                         m.c_str());
            missing = true;
        }
    }
    for (const auto& ip : ips) {
        if (seen.count(ip) == 0) {
            std::fprintf(stderr, "quorvane-cli: no camera at %s; nothing was changed\n",
                         ip.c_str());
            missing = true;
        }
    }
    if (missing) {
        return kExitRefused;
    }

    if (a.command == "modify-ip") {
        view.SetStartIp(*app::ParseDottedIpv4(a.start));
        dlg.OnBnClickedModifyIp();
    } else if (a.command == "upgrade") {
        // Relative to where the command was given, as a file dialog would give it.
        std::error_code ec;
        const auto file = std::filesystem::absolute(a.start, ec);
        view.SetFileEditText(ec ? a.start : file.string());
        view.SetChecked(app::IDC_SYNC_TIME, a.syncTime);
        view.SetChecked(app::IDC_FORCE_UPGRADE, a.force);
        view.ReportProgress();
        dlg.OnBnClickedUpgrade();
    } else {
        dlg.OnBnClickedRestoreIp();
    }
    if (view.windowEnabled) {
        return kExitRefused;  // refused: the message is on stderr
    }
    // The window is enabled again once the completion message has been shown.
    if (!view.RunUntil([&] { return view.windowEnabled; }, std::chrono::hours(1))) {
        std::fprintf(stderr, "quorvane-cli: the batch did not end\n");
        return kExitSomeFailed;
    }
    const char* ok = a.command == "modify-ip" ? "修改IP成功"
                     : a.command == "upgrade" ? "升级成功"
                                              : "恢复默认IP成功";
    bool allOk = true;
    for (int r = 0; r < view.RowCount(); ++r) {
        if (view.RowChecked(r) && view.CellText(r, 6) != ok) {
            allOk = false;
        }
    }
    if (!dlg.LogFailure().empty()) {
        return kExitLogFailed;
    }
    return allOk ? kExitAllOk : kExitSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
    platform::IgnoreFileSizeSignal();
    Args args;
    if (!Parse(argc, argv, args)) {
        return kExitRefused;
    }
    return Run(args);
}
