// quorvane.exe: the Windows window on the dialog logic.
#include <string>
#include <vector>

#include "MainDialog.h"
// After windows.h.
#include <commctrl.h>

#include "app/QuorvaneDlg.h"
#include "platform/AppFolders.h"
#include "platform/Args.h"

namespace {

struct Options {
    std::string configDir;
    bool service = false;
};

bool ParseOptions(const std::vector<std::string>& args, Options& opt) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--config-dir" && i + 1 < args.size()) {
            opt.configDir = args[++i];
        } else if (args[i] == "--service") {
            opt.service = true;
        } else {
            return false;
        }
    }
    return true;
}

// The application object: prepares the window system, runs the main dialog
// and ends the program when it closes.
class CQuorvaneApp {
  public:
    int InitInstance(int argc, char** argv) {
        Options opt;
        if (!ParseOptions(platform::Utf8Args(argc, argv), opt)) {
            ::MessageBoxW(nullptr, L"用法：quorvane [--config-dir 目录] [--service]", L"提示",
                          MB_OK);
            return 2;
        }
        // The device libraries follow the same folder.
        platform::SetConfigDirOverride(opt.configDir);

        INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF | ICC_INTERNET_CLASSES};
        ::InitCommonControlsEx(&controls);
        // The log pane's class.
        if (::LoadLibraryW(L"Riched20.dll") == nullptr) {
            return 1;
        }
        const HINSTANCE instance = ::GetModuleHandleW(nullptr);
        win32view::MainDialog window(instance);
        if (!window.Create()) {
            return 1;
        }
        app::DialogDeps deps;
        deps.configDir = opt.configDir;
        {
            app::CQuorvaneDlg dlg(window, deps);
            window.Attach(&dlg);
            dlg.OnInitDialog();
            // The force box stays hidden unless a service technician asks for it.
            if (opt.service) {
                window.ShowControl(app::IDC_FORCE_UPGRADE, true);
            }
            window.RunModalLoop();
            window.Attach(nullptr);
        }
        return 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    CQuorvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
