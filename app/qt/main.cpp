// quorvane: the Qt main window on the dialog logic.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "QuorvaneWindow.h"
#include "app/WindowStart.h"
#include "platform/SafeFile.h"
#include "platform/Version.h"

namespace {

bool DisplayAvailable() {
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName != nullptr && *platformName != '\0' &&
        std::strncmp(platformName, "xcb", 3) != 0 &&
        std::strncmp(platformName, "wayland", 7) != 0) {
        return true;  // offscreen, vnc, ... need no display server
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The application object: prepares the toolkit, runs the main dialog modally
// and ends the program when it closes.
class CQuorvaneApp {
  public:
    int InitInstance(int argc, char** argv) {
        app::StartOptions opt;
        switch (app::ParseStartOptions(std::vector<std::string>(argv, argv + argc), true, opt)) {
            case app::StartAction::Refused:
                std::fputs(app::kWindowUsageWithSteps, stderr);
                return 2;
            case app::StartAction::Help:
                std::fputs(app::kWindowUsageWithSteps, stdout);
                return 0;
            case app::StartAction::Version:
                std::printf("quorvane %s\n", platform::kVersion);
                return 0;
            case app::StartAction::Run:
                break;
        }
        // Without a display the toolkit cannot create the dialog; say so
        // instead of ending without a word.
        if (!DisplayAvailable()) {
            std::fprintf(stderr,
                         "quorvane: cannot create the main window: no display (DISPLAY and "
                         "WAYLAND_DISPLAY are not set).\n"
                         "Run it in a desktop session, under xvfb-run, or use quorvane-cli.\n");
            return 1;
        }
        app::ApplyStartOptions(opt);

        QApplication qapp(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Quorvane"));
        if (!qtview::InstallQtTranslations()) {
            std::fprintf(stderr,
                         "quorvane: Qt's Chinese translations are not installed "
                         "(qt6-translations-l10n); Qt's own texts stay English.\n");
        }
        qtview::QuorvaneWindow window;
        int rc = 0;
        app::RunMainDialog(window, opt, [&](app::CQuorvaneDlg& dlg) {
            window.show();
            if (opt.search || !opt.screenshot.empty() || !opt.upgradeFile.empty()) {
                QTimer::singleShot(0, &window, [&] {
                    if (opt.search) {
                        dlg.OnBnClickedSearch();
                    }
                    if (opt.selectAll) {
                        window.SetChecked(app::IDC_SELECT_ALL, true);
                        dlg.OnBnClickedSelectAll();
                    }
                    if (!opt.upgradeFile.empty()) {
                        std::error_code ec;
                        const auto file = std::filesystem::absolute(opt.upgradeFile, ec);
                        window.SetFileEditText(ec ? opt.upgradeFile : file.string());
                        dlg.OnBnClickedUpgrade();
                    }
                    if (!opt.screenshot.empty() && !opt.upgradeFile.empty() &&
                        !window.WindowEnabled()) {
                        // The batch runs: the picture is of the window after it,
                        // taken once the completion message would show.
                        window.SetMessageBoxHook([&](const std::string&) {
                            QTimer::singleShot(0, &window, [&] {
                                QApplication::processEvents();
                                if (!window.grab().save(QString::fromStdString(opt.screenshot),
                                                        "PNG")) {
                                    std::fprintf(stderr, "quorvane: cannot write %s\n",
                                                 opt.screenshot.c_str());
                                    rc = 1;
                                }
                                window.done(0);
                            });
                        });
                    } else if (!opt.screenshot.empty()) {
                        QApplication::processEvents();
                        if (!window.grab().save(QString::fromStdString(opt.screenshot), "PNG")) {
                            std::fprintf(stderr, "quorvane: cannot write %s\n",
                                         opt.screenshot.c_str());
                            rc = 1;
                        }
                        window.done(0);
                    }
                });
            }
            return window.exec();
        });
        return rc;
    }
};

}  // namespace

int main(int argc, char** argv) {
    platform::IgnoreFileSizeSignal();
    CQuorvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
