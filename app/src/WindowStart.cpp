#include "app/WindowStart.h"

#include "platform/AppFolders.h"

namespace app {

const char* const kWindowUsageWithSteps =
    "usage: quorvane [--config-dir DIR] [--service] [--search] [--select-all] "
    "[--upgrade FILE] [--screenshot FILE.png]\n"
    "  --config-dir DIR   config.ini, quorvane-net.conf and the logs in DIR\n"
    "  --service          show the force-upgrade box (service technicians)\n"
    "  --search           press the search button once the window is up\n"
    "  --select-all       then tick every row\n"
    "  --upgrade FILE     then choose FILE and press the upgrade button\n"
    "  --screenshot FILE  save the window as a PNG and quit\n"
    "  --version          print the version and quit\n";

StartAction ParseStartOptions(const std::vector<std::string>& args, bool withSteps,
                              StartOptions& opt) {
    bool help = false;
    bool version = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool valued =
            arg == "--config-dir" || (withSteps && (arg == "--screenshot" || arg == "--upgrade"));
        if (valued && i + 1 < args.size()) {
            const std::string& value = args[++i];
            (arg == "--config-dir"   ? opt.configDir
             : arg == "--screenshot" ? opt.screenshot
                                     : opt.upgradeFile) = value;
        } else if (arg == "--service") {
            opt.service = true;
        } else if (withSteps && arg == "--search") {
            opt.search = true;
        } else if (withSteps && arg == "--select-all") {
            opt.selectAll = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else {
            return StartAction::Refused;
        }
    }
    return help ? StartAction::Help : version ? StartAction::Version : StartAction::Run;
}

void ApplyStartOptions(const StartOptions& opt) {
    platform::SetConfigDirOverride(opt.configDir);
}

}  // namespace app
