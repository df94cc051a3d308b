#pragma once

// quorvane-cli's command line: every command and option is declared once, in
// Options.cpp, which also writes --help.

#include <optional>
#include <string>
#include <vector>

#include "app/QuorvaneDlg.h"

namespace cli {

enum ExitStatus : int {
    kExitAllOk = 0,
    kExitSomeFailed = 1,
    kExitRefused = 2,
    kExitLogFailed = 3,
    kExitStopped = 4,  // stopped by Ctrl-C or a request to terminate
    kExitHeld = 5,     // the failure limit or a canary held the cameras not yet started
};

struct Args {
    std::string configDir;
    // --interface: the one adapter searched on; none, quorvane-net.conf's choice.
    std::optional<std::string> adapter;
    // --scan: the addresses asked one by one after the search (one, a range, a prefix).
    std::string scan;
    std::string command;   // search, modify-ip, restore-ip, upgrade, history, interfaces
    std::string start;     // modify-ip's start address
    std::string planFile;  // modify-ip --plan-file: an address plan by MAC
    std::string undoId;    // modify-ip --undo: the IP batch to undo
    std::string file;      // upgrade's update file
    bool all = false;
    std::vector<std::string> macs;  // as the list shows them: upper case, ':'
    std::vector<std::string> ips;
    int sortColumn = -1;  // list column, or -1 for the search's own order
    bool descending = false;
    bool json = false;
    bool syncTime = false;
    bool force = false;
    bool resend = false;            // upgrade: cameras already on the named version too
    bool allowOlder = false;        // upgrade: cameras on a newer version than the file names
    app::UpgradeSettings settings;  // --parallel, --max-failures, --probe-ms, --canary
    bool plan = false;
    bool sameAddress = false;  // restore-ip: several cameras may share the default
    std::string retryFrom;     // a batch report: its cameras that did not succeed
    // The wait for upgraded cameras to come back: seconds, or none to take
    // quorvane-net.conf's verify_timeout_ms; --no-verify gives 0.
    std::optional<int> verifyTimeoutS;
    bool noVerify = false;
    // history: one batch by its id, and how to print it.
    std::string historyId;
    bool csv = false;
};

// Parses and checks the whole command line before anything is searched or
// sent. Returns an exit status when the program ends here (help, version, a
// malformed request, said on stdout or stderr), nothing when it goes on.
std::optional<int> ParseArgs(int argc, char** argv, Args& args);

// "aa-bb-cc-dd-ee-ff" or "AA:BB:..." in any case, as the list shows it.
std::optional<std::string> NormalMac(const std::string& text);

}  // namespace cli
