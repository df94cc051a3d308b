#include "Options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <map>

#include "addressing/ScanRange.h"
#include "app/BatchReport.h"
#include "app/Decimal.h"
#include "app/IpBatch.h"
#include "app/WindowDescription.h"
#include "platform/TermText.h"
#include "platform/Version.h"

namespace cli {
namespace {

const char* const kFooter =
    "COLUMN is one of type, ip, mac, sw, hw, status. --config-dir DIR takes the place of\n"
    "the usual folders for config.ini, quorvane-net.conf and the logs (see quorvane-cli(1)).\n"
    "MAC is six hexadecimal bytes joined by ':' or '-', in either case. A --mac or --ip\n"
    "that matches no camera refuses the whole request before any camera is touched.\n"
    "Texts from cameras are printed with control characters escaped (\\t, \\n, \\xNN).\n"
    "Exit status: 0 every camera succeeded, 1 some failed, 2 the request was refused\n"
    "(malformed arguments, no such camera, a bad network configuration, another batch\n"
    "running on the same configuration folder, several cameras on one default address\n"
    "without --same-address, an older version without --allow-older, an address plan\n"
    "or an undo that does not pass its checks), 3 the operation\n"
    "log could not be opened or written (the outcome of the cameras is still printed),\n"
    "4 the batch or the --scan was stopped\n"
    "(Ctrl-C or a request to terminate), 5 the failure limit or a canary held the cameras\n"
    "not yet started.";

// --sort takes the columns a header click sorts by, by their console names.
const std::map<std::string, int> kColumns = [] {
    std::map<std::string, int> sortable;
    for (const app::ColumnSpec& c : app::kColumns) {
        if (c.sortable) {
            sortable.emplace(c.key, c.column);
        }
    }
    return sortable;
}();

class Refused : public std::exception {
  public:
    explicit Refused(std::string why) : why_(std::move(why)) {}
    const char* what() const noexcept override { return why_.c_str(); }

  private:
    std::string why_;
};

// The options a command shares with others, declared once.
struct Declare {
    Args& a;
    std::string sortName;

    void Sort(CLI::App& cmd) {
        auto* sort = cmd.add_option("--sort", sortName, "order the list by COLUMN (ascending)")
                         ->type_name("COLUMN")
                         ->check(CLI::IsMember(kColumns));
        cmd.add_flag("--descending", a.descending, "with --sort: descending")->needs(sort);
    }
    void Scan(CLI::App& cmd) {
        cmd.add_option("--scan", a.scan,
                       "after the search, ask each of these addresses by unicast too (cameras "
                       "that broadcasts do not reach): 10.77.1.20, 10.77.1.10-10.77.1.50 or "
                       "10.77.1.0/24, at most 1024")
            ->type_name("RANGE");
    }
    void Cameras(CLI::App& cmd) {
        auto* all = cmd.add_flag("--all", a.all, "every camera found");
        auto* mac = cmd.add_option("--mac", a.macs, "the cameras with these MAC addresses")
                        ->type_name("MAC...");
        auto* ip =
            cmd.add_option("--ip", a.ips, "the cameras at these addresses")->type_name("IP...");
        all->excludes(mac)->excludes(ip);
        mac->excludes(ip);
    }
};

// A number option: decimal digits only, in its range. CLI11 alone would read
// "010" as octal and take "0x5".
template <typename T>
CLI::Option* NumberOption(CLI::App& cmd, const char* name, std::optional<T>& out, long long low,
                          long long high, const char* type, const std::string& help) {
    return cmd
        .add_option_function<std::string>(
            name,
            [&out, name, low, high](const std::string& text) {
                const auto v = app::ParseDecimal(text, low, high);
                if (!v) {
                    throw Refused("not a decimal number from " + std::to_string(low) + " to " +
                                  std::to_string(high) + " for " + name + ": " + text);
                }
                out = static_cast<T>(*v);
            },
            help)
        ->type_name(type);
}

void Check(Args& a) {
    if (a.command == "interfaces") {
        return;
    }
    if (a.command == "history") {
        if (!a.historyId.empty() && !app::ValidReportId(a.historyId)) {
            throw Refused("not a batch id (YYYYMMDD-HHMMSS-mmm): " + a.historyId);
        }
        if ((a.json || a.csv) && a.historyId.empty()) {
            throw Refused("--json and --csv print one batch: give its ID");
        }
        return;
    }
    // Checked whole before anything is sent.
    if (!a.scan.empty()) {
        if (const auto range = addressing::ParseScanRange(a.scan); !range.ok()) {
            throw Refused("--scan: " + range.error);
        }
    }
    const bool byPlan = a.command == "modify-ip" && (!a.planFile.empty() || !a.undoId.empty());
    if (a.command == "modify-ip") {
        const int sources =
            (a.start.empty() ? 0 : 1) + (a.planFile.empty() ? 0 : 1) + (a.undoId.empty() ? 0 : 1);
        if (sources != 1) {
            throw Refused("give one of START, --plan-file or --undo");
        }
        if (!a.undoId.empty() && !app::ValidReportId(a.undoId)) {
            throw Refused("not a batch id (YYYYMMDD-HHMMSS-mmm): " + a.undoId);
        }
    }
    const int ways = (a.all ? 1 : 0) + (a.macs.empty() ? 0 : 1) + (a.ips.empty() ? 0 : 1) +
                     (a.retryFrom.empty() ? 0 : 1);
    if (byPlan) {
        if (ways != 0) {
            throw Refused("--plan-file and --undo name their cameras: no --all, --mac or --ip");
        }
        return;
    }
    if (a.command != "search" && ways != 1) {
        throw Refused(a.command == "upgrade"
                          ? "choose the cameras with one of --all, --mac, --ip or --retry-from"
                          : "choose the cameras with one of --all, --mac or --ip");
    }
    // Every camera argument is checked here, before the search.
    for (std::string& m : a.macs) {
        const auto mac = NormalMac(m);
        if (!mac) {
            throw Refused("not a MAC address: " + m);
        }
        m = *mac;
    }
    for (const std::string& ip : a.ips) {
        if (!app::ParseDottedIpv4(ip)) {
            throw Refused("not an IPv4 address: " + ip);
        }
    }
    if (a.command == "modify-ip" && !a.start.empty() && !app::ParseDottedIpv4(a.start)) {
        throw Refused("not an IPv4 address: " + a.start);
    }
}

}  // namespace

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

std::optional<int> ParseArgs(int argc, char** argv, Args& a) {
    CLI::App cli{"Find, upgrade and re-address car-park lane cameras from a console.",
                 "quorvane-cli"};
    cli.footer(kFooter);
    cli.set_version_flag("--version", std::string("quorvane-cli ") + platform::kVersion);
    cli.add_option("--config-dir", a.configDir, "folder of config.ini, quorvane-net.conf, logs")
        ->type_name("DIR");
    cli.add_option_function<std::string>(
           "--interface", [&a](const std::string& text) { a.adapter = text; },
           "search on this adapter only, by name or address (quorvane-net.conf interface, "
           "else every adapter); see the interfaces command")
        ->type_name("NAME|ADDRESS");
    cli.require_subcommand(1);
    // Options of the whole program may follow the command too.
    cli.fallthrough();
    Declare declare{a, {}};

    auto* search = cli.add_subcommand("search", "list the cameras on the LAN");
    declare.Sort(*search);
    declare.Scan(*search);
    search->add_flag("--json", a.json, "print the list as JSON");

    auto* modify = cli.add_subcommand(
        "modify-ip",
        "give cameras consecutive addresses from START, or each its own from an address plan");
    modify->add_option("START", a.start, "the first address");
    modify
        ->add_option("--plan-file", a.planFile,
                     "an address plan by MAC (CSV: mac,ip and optional mask, gateway, name), "
                     "checked whole; the cameras it names are changed")
        ->type_name("FILE");
    modify
        ->add_option("--undo", a.undoId,
                     "give every camera of IP batch ID (see history) back the address, mask "
                     "and gateway it had")
        ->type_name("ID");
    declare.Cameras(*modify);
    declare.Scan(*modify);
    declare.Sort(*modify);
    modify->add_flag("--plan", a.plan,
                     "check as a real run, print which camera gets which address, change nothing");

    auto* restore = cli.add_subcommand("restore-ip", "give cameras the default IP of config.ini");
    declare.Cameras(*restore);
    declare.Scan(*restore);
    declare.Sort(*restore);
    restore->add_flag("--same-address", a.sameAddress,
                      "give several cameras the one default address (refused without it)");

    auto* upgrade = cli.add_subcommand(
        "upgrade", "send FILE (an image or an update pack) to the chosen cameras");
    upgrade->footer(
        "The cameras are upgraded one after another (--parallel: that many at once); a\n"
        "progress line per finished camera goes to stderr. With --canary those cameras\n"
        "go first and the others wait for their proof. The first Ctrl-C starts no\n"
        "further camera and lets the transfers in progress finish; a second one abandons\n"
        "them (a camera drops a partial file).\n" +
        std::string(kFooter));
    upgrade->add_option("FILE", a.file, "the update file")->required();
    declare.Cameras(*upgrade);
    declare.Scan(*upgrade);
    upgrade->add_flag("--sync-time", a.syncTime, "set each camera's clock to this PC's");
    upgrade->add_flag("--force", a.force, "skip the device-type checks");
    upgrade->add_flag("--resend", a.resend,
                      "send the file to cameras that already run the version it names too");
    upgrade->add_flag("--allow-older", a.allowOlder,
                      "send the file to cameras that run a newer version than it names");
    NumberOption(*upgrade, "--parallel", a.settings.parallel, 1, 30, "N",
                 "cameras upgraded at once, 1 to 30 (config.ini upgrade_parallel, else 1)");
    NumberOption(*upgrade, "--max-failures", a.settings.maxFailures, 0, 100000, "N",
                 "after N failed cameras start no other (config.ini upgrade_max_failures; 0, "
                 "the default: no limit)");
    NumberOption(*upgrade, "--probe-ms", a.settings.probeMs, 0, 30000, "MS",
                 "a camera that takes no connection within MS fails at once (config.ini "
                 "upgrade_probe_ms, else 2000; 0: no probe)");
    upgrade
        ->add_option_function<std::string>(
            "--canary",
            [&a](const std::string& text) {
                const auto canary = app::ParseCanary(text);
                if (!canary) {
                    throw Refused("not a decimal number from 0 to " +
                                  std::to_string(Canary::kMaxCount) + " or " +
                                  app::kCanaryPerHardware + " for --canary: " + text);
                }
                a.settings.canary = *canary;
            },
            "upgrade these cameras first: the first N, or the first of each hardware version; "
            "the others start once every one has come back with a new version, and are held "
            "when one fails (config.ini upgrade_canary, else 0: off)")
        ->type_name("N|per-hardware");
    upgrade->add_flag("--plan", a.plan,
                      "check and prepare as a real run, print which file goes where, send "
                      "nothing");
    upgrade->add_flag("--json", a.json,
                      "print the plan (with --plan) or every camera's outcome as JSON on stdout");
    auto* verify = NumberOption(*upgrade, "--verify-timeout", a.verifyTimeoutS, 1, 3600, "S",
                                "wait up to S seconds for each upgraded camera to come back "
                                "with its new version (quorvane-net.conf verify_timeout_ms, "
                                "else 300)");
    upgrade->add_flag("--no-verify", a.noVerify, "do not wait for the cameras to come back")
        ->excludes(verify);

    auto* history = cli.add_subcommand("history", "list recent batches, or print one");
    history->add_option("ID", a.historyId, "the batch (YYYYMMDD-HHMMSS-mmm) to print");
    auto* hjson = history->add_flag("--json", a.json, "print the batch's report as stored");
    history->add_flag("--csv", a.csv, "print the batch's cameras as CSV")->excludes(hjson);
    upgrade
        ->add_option("--retry-from", a.retryFrom,
                     "the cameras a batch report says did not succeed (instead of --all, --mac "
                     "or --ip)")
        ->type_name("REPORT");

    declare.Sort(*upgrade);

    cli.add_subcommand("interfaces", "list this PC's IPv4 adapters")
        ->add_flag("--json", a.json, "print the list as JSON");

    try {
        cli.parse(argc, argv);
        a.command = cli.get_subcommands().front()->get_name();
        if (!declare.sortName.empty()) {
            a.sortColumn = kColumns.at(declare.sortName);
        }
        Check(a);
    } catch (const CLI::CallForHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return cli.exit(e);
    } catch (const CLI::Success& e) {
        return cli.exit(e);  // --version
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "quorvane-cli: %s\nRun with --help for more information.\n",
                     platform::EscapeForTerminal(e.what()).c_str());
        return kExitRefused;
    } catch (const Refused& e) {
        std::fprintf(stderr, "quorvane-cli: %s\nRun with --help for more information.\n",
                     platform::EscapeForTerminal(e.what()).c_str());
        return kExitRefused;
    }
    return std::nullopt;
}

}  // namespace cli
