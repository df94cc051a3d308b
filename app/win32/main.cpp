// quorvane.exe: the Windows window on the dialog logic.
#include <string>

#include "MainDialog.h"
// After windows.h.
#include <commctrl.h>

#include "app/WindowStart.h"
#include "platform/Args.h"
#include "platform/Version.h"
#include "platform/WideText.h"

namespace {

// The application object: prepares the window system, runs the main dialog
// and ends the program when it closes.
class CQuorvaneApp {
  public:
    int InitInstance(int argc, char** argv) {
        app::StartOptions opt;
        switch (app::ParseStartOptions(platform::Utf8Args(argc, argv), false, opt)) {
            case app::StartAction::Refused:
                Notice(app::kWindowUsage);
                return 2;
            case app::StartAction::Help:
                Notice(app::kWindowUsage);
                return 0;
            case app::StartAction::Version:
                Notice(std::string("quorvane ") + platform::kVersion);
                return 0;
            case app::StartAction::Run:
                break;
        }
        app::ApplyStartOptions(opt);

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
        return app::RunMainDialog(window, opt, [&](app::CQuorvaneDlg&) {
            window.RunModalLoop();
            return 0;
        });
    }

  private:
    static void Notice(const std::string& text) {
        ::MessageBoxW(nullptr, platform::Wide(text).c_str(), L"提示", MB_OK);
    }
};

}  // namespace

int main(int argc, char** argv) {
    CQuorvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
