// quorvane: the Qt main window on the dialog logic.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "QuorvaneWindow.h"
#include "app/QuorvaneDlg.h"
#include "platform/AppFolders.h"
#include "platform/SafeFile.h"
#include "platform/Version.h"

namespace {

struct Options {
    std::string configDir;
    std::string screenshot;
    std::string upgradeFile;
    bool search = false;
    bool service = false;
    bool selectAll = false;
    bool help = false;
    bool version = false;
};

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: quorvane [--config-dir DIR] [--service] [--search] [--select-all] "
                 "[--upgrade FILE] [--screenshot FILE.png]\n"
                 "  --config-dir DIR   config.ini, quorvane-net.conf and the logs in DIR\n"
                 "  --service          show the force-upgrade box (service technicians)\n"
                 "  --search           press the search button once the window is up\n"
                 "  --select-all       then tick every row\n"
                 "  --upgrade FILE     then choose FILE and press the upgrade button\n"
                 "  --screenshot FILE  save the window as a PNG and quit\n"
                 "  --version          print the version and quit\n");
}

bool ParseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--config-dir" || arg == "--screenshot") && i + 1 < argc) {
            (arg == "--config-dir" ? opt.configDir : opt.screenshot) = argv[++i];
        } else if (arg == "--upgrade" && i + 1 < argc) {
            opt.upgradeFile = argv[++i];
        } else if (arg == "--service") {
            opt.service = true;
        } else if (arg == "--search") {
            opt.search = true;
        } else if (arg == "--select-all") {
            opt.selectAll = true;
        } else if (arg == "--help" || arg == "-h") {
            opt.help = true;
        } else if (arg == "--version") {
            opt.version = true;
        } else {
            return false;
        }
    }
    return true;
}

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
        Options opt;
        if (!ParseOptions(argc, argv, opt)) {
            Usage(stderr);
            return 2;
        }
        if (opt.help || opt.version) {
            if (opt.help) {
                Usage(stdout);
            } else {
                std::printf("quorvane %s\n", platform::kVersion);
            }
            return 0;
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
        // The device libraries follow the same folder.
        platform::SetConfigDirOverride(opt.configDir);

        QApplication qapp(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Quorvane"));
        if (!qtview::InstallQtTranslations()) {
            std::fprintf(stderr,
                         "quorvane: Qt's Chinese translations are not installed "
                         "(qt6-translations-l10n); Qt's own texts stay English.\n");
        }
        qtview::QuorvaneWindow window;
        app::DialogDeps deps;
        deps.configDir = opt.configDir;
        int rc = 0;
        {
            app::CQuorvaneDlg dlg(window, deps);
            window.Attach(&dlg);
            dlg.OnInitDialog();
            // The force box stays hidden unless a service technician asks for it.
            if (opt.service) {
                window.ShowControl(app::IDC_FORCE_UPGRADE, true);
            }
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
            window.exec();
            window.Attach(nullptr);
        }
        return rc;
    }
};

}  // namespace

int main(int argc, char** argv) {
    platform::IgnoreFileSizeSignal();
    CQuorvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
