#pragma once
// The start-up both window programs share: their options, one parser, and
// the dialog's life on the window from OnInitDialog to the close.

#include <string>
#include <vector>

#include "app/QuorvaneDlg.h"

namespace app {

struct StartOptions {
    std::string configDir;  // config.ini, quorvane-net.conf and the logs
    bool service = false;   // show the force-upgrade box (service technicians)
    // The Qt window's steps for demos and screenshots, once it is up.
    bool search = false;
    bool selectAll = false;
    std::string upgradeFile;
    std::string screenshot;
};

enum class StartAction { Run, Help, Version, Refused };

// Reads `args` (the program name first). `withSteps`: the demo steps above
// are taken too; without it they are refused like any unknown option.
StartAction ParseStartOptions(const std::vector<std::string>& args, bool withSteps,
                              StartOptions& opt);

// The usage of the Windows window, shown in a box.
inline constexpr const char* kWindowUsage = "用法：quorvane [--config-dir 目录] [--service]";
// The usage of the Qt window with its steps, on the terminal.
extern const char* const kWindowUsageWithSteps;

// The device libraries follow the folder of the options.
void ApplyStartOptions(const StartOptions& opt);

// Makes the dialog on `window`, attaches and initialises it (the force box
// shown to a service technician), runs `run` until the window closes and
// detaches it again; returns what `run` returns.
template <typename Window, typename Run>
int RunMainDialog(Window& window, const StartOptions& opt, Run run) {
    DialogDeps deps;
    deps.configDir = opt.configDir;
    deps.probeLan = platform::ProbeNeighbours;
    CQuorvaneDlg dlg(window, deps);
    window.Attach(&dlg);
    dlg.OnInitDialog();
    // The force box stays hidden unless a service technician asks for it.
    if (opt.service) {
        window.ShowControl(IDC_FORCE_UPGRADE, true);
    }
    const int rc = run(dlg);
    window.Attach(nullptr);
    return rc;
}

}  // namespace app
