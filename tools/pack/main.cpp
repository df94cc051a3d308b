// quorvane-pack: the update pack routines from the command line, for firmware
// engineers and for tests. Diagnostics go to stderr, results to stdout.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "pack/PackLog.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"
#include "platform/Args.h"
#include "platform/FileIo.h"
#include "platform/TermText.h"
#include "platform/Version.h"

namespace {

constexpr int kUsageExit = 64;

constexpr const char* kUsage =
    "usage: quorvane-pack create PACK FILE... [--magic single|multi|bundle]\n"
    "       quorvane-pack verify PACK\n"
    "       quorvane-pack list PACK [--json]\n"
    "       quorvane-pack unpack PACK DIR\n"
    "       quorvane-pack retype PACK DIR NAME\n"
    "       quorvane-pack inspect FILE... [--json]\n"
    "       quorvane-pack fit NAME --type TYPE [--version-key MAJOR.MINOR] [--hw HW]... "
    "[--json]\n"
    "       quorvane-pack --version\n";

int Usage(const std::string& why) {
    if (!why.empty()) {
        std::cerr << "quorvane-pack: " << platform::EscapeForTerminal(why) << "\n";
    }
    std::cerr << kUsage;
    return kUsageExit;
}

// Names from a pack are untrusted bytes; invalid UTF-8 must not abort output.
void PrintJson(const nlohmann::json& j) {
    std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

struct Args {
    std::vector<std::string> positional;
    bool json = false;
    std::optional<std::string> magic;
    std::optional<std::string> type;
    std::optional<std::string> versionKey;
    std::vector<std::string> hw;
};

// The words after the command. The options are declared once; they may stand
// anywhere, and "--" ends them. Every other word, one that begins with a single
// '-' included, is a positional argument in the order given.
std::optional<Args> Parse(int argc, char** argv, std::string* error) {
    Args a;
    std::string magic, type, versionKey;
    CLI::App cli{"update pack routines", "quorvane-pack"};
    cli.set_help_flag();  // --help is a command of its own, before any other word
    cli.allow_extras();   // positional words come back in order, unknown options with them
    cli.add_flag("--json", a.json);
    auto* magicOpt = cli.add_option("--magic", magic);
    auto* typeOpt = cli.add_option("--type", type);
    auto* keyOpt = cli.add_option("--version-key", versionKey);
    cli.add_option("--hw", a.hw)->allow_extra_args(false);
    for (CLI::Option* o : {magicOpt, typeOpt, keyOpt}) {
        o->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
    try {
        cli.parse(argc - 1, argv + 1);  // argv[1] is the command
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string what = e.what();
        *error =
            what.rfind("--", 0) == 0 ? what.substr(0, what.find(':')) + " needs a value" : what;
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return std::nullopt;
    }
    bool optionsDone = false;
    for (const std::string& word : cli.remaining()) {
        if (!optionsDone && word == "--") {
            optionsDone = true;
        } else if (!optionsDone && word.size() >= 2 && word.compare(0, 2, "--") == 0) {
            *error = "unknown option " + word;
            return std::nullopt;
        } else {
            a.positional.push_back(word);
        }
    }
    auto given = [](CLI::Option* o, const std::string& v) {
        return o->count() > 0 ? std::optional<std::string>(v) : std::nullopt;
    };
    a.magic = given(magicOpt, magic);
    a.type = given(typeOpt, type);
    a.versionKey = given(keyOpt, versionKey);
    return a;
}

// "2.10" -> 2, 10; anything else (signs, blanks, overflow) is refused.
bool ParseVersionKey(const std::string& text, int* major, int* minor) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos) {
        return false;
    }
    auto number = [](const std::string& s, int* out) {
        if (s.empty() || s.size() > 9) {
            return false;
        }
        int v = 0;
        for (char c : s) {
            if (c < '0' || c > '9') {
                return false;
            }
            v = v * 10 + (c - '0');
        }
        *out = v;
        return true;
    };
    return number(text.substr(0, dot), major) && number(text.substr(dot + 1), minor);
}

std::string MagicName(std::uint32_t magic) {
    switch (magic) {
        case PACK_MAGIC_SINGLE:
            return "single";
        case PACK_MAGIC_MULTI:
            return "multi";
        case PACK_MAGIC_BUNDLE:
            return "bundle";
        default:
            return "unknown";
    }
}

std::string Hex32(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int Create(const Args& a) {
    if (a.positional.size() < 2) {
        return Usage("create needs PACK and at least one FILE");
    }
    std::uint32_t magic = PACK_MAGIC_SINGLE;
    if (a.magic) {
        if (*a.magic == "single") {
            magic = PACK_MAGIC_SINGLE;
        } else if (*a.magic == "multi") {
            magic = PACK_MAGIC_MULTI;
        } else if (*a.magic == "bundle") {
            magic = PACK_MAGIC_BUNDLE;
        } else {
            return Usage("--magic takes single, multi or bundle");
        }
    }
    const std::size_t count = a.positional.size() - 1;
    auto slots = std::make_unique<PackPathSlot[]>(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& path = a.positional[i + 1];
        if (path.size() >= PACK_PATH_SLOT) {
            std::cerr << "quorvane-pack: source path longer than " << PACK_PATH_SLOT - 1
                      << " bytes: " << path << "\n";
            return 4;
        }
        std::memcpy(slots[i], path.data(), path.size());
    }
    tPackHead head{};
    head.uiPackMagic = magic;
    head.uifileNum = static_cast<std::uint16_t>(count);
    head.PackType = 1;
    const int count32 = count > 0x7fffffff ? 0x7fffffff : static_cast<int>(count);
    return UpdatePack(slots.get(), a.positional[0].c_str(), &head, count32);
}

int Verify(const Args& a) {
    if (a.positional.size() != 1) {
        return Usage("verify needs exactly one PACK");
    }
    tPackHead head{};
    if (!CheckFileMD5(a.positional[0].c_str(), &head)) {
        std::cerr << "quorvane-pack: " << platform::EscapeForTerminal(a.positional[0])
                  << ": not a valid update pack\n";
        return 1;
    }
    std::cout << platform::EscapeForTerminal(a.positional[0]) << ": OK\n";
    return 0;
}

int List(const Args& a) {
    if (a.positional.size() != 1) {
        return Usage("list needs exactly one PACK");
    }
    tPackHead head{};
    const auto table = CheckFileMD5(a.positional[0].c_str(), &head);
    if (!table) {
        std::cerr << "quorvane-pack: " << platform::EscapeForTerminal(a.positional[0])
                  << ": not a valid update pack\n";
        return 1;
    }
    if (a.json) {
        nlohmann::json j;
        j["magic"] = head.uiPackMagic;
        j["magic_hex"] = Hex32(head.uiPackMagic);
        j["role"] = MagicName(head.uiPackMagic);
        j["file_count"] = head.uifileNum;
        j["pack_type"] = head.PackType;
        j["data_length"] = head.uiDataLen;
        j["files"] = nlohmann::json::array();
        for (unsigned i = 0; i < head.uifileNum; ++i) {
            j["files"].push_back({{"name", PackEntryName(table[i])},
                                  {"type", table[i].ucFileType},
                                  {"size", table[i].uiFileSize},
                                  {"path", PackEntryPath(table[i])}});
        }
        PrintJson(j);
        return 0;
    }
    std::printf("magic        %s (%s)\n", Hex32(head.uiPackMagic).c_str(),
                MagicName(head.uiPackMagic).c_str());
    std::printf("file count   %u\n", static_cast<unsigned>(head.uifileNum));
    std::printf("pack type    %u\n", static_cast<unsigned>(head.PackType));
    std::printf("data length  %u\n", static_cast<unsigned>(head.uiDataLen));
    std::printf("%4s %4s %10s  %s\n", "#", "type", "size", "name");
    for (unsigned i = 0; i < head.uifileNum; ++i) {
        std::printf("%4u %4u %10u  %s\n", i, static_cast<unsigned>(table[i].ucFileType),
                    static_cast<unsigned>(table[i].uiFileSize),
                    platform::EscapeForTerminal(PackEntryName(table[i])).c_str());
    }
    return 0;
}

int Unpack(const Args& a) {
    if (a.positional.size() != 2) {
        return Usage("unpack needs PACK and DIR");
    }
    const std::string& dir = a.positional[1];
    const int rc = DecUpdatePack(a.positional[0].c_str(), dir.c_str());
    if (rc == 5) {
        // The routine does not say why an output could not be created; the
        // usual reason is the folder itself.
        if (const std::string problem = platform::FolderProblem(dir); !problem.empty()) {
            std::cerr << "quorvane-pack: cannot unpack into " << dir << ": " << problem << "\n";
        } else {
            std::cerr << "quorvane-pack: a file could not be written into " << dir
                      << " (a folder or link of its name, or a full disk)\n";
        }
    }
    return rc;
}

int Retype(const Args& a) {
    if (a.positional.size() != 3) {
        return Usage("retype needs PACK, DIR and NAME");
    }
    return BinUpdateAppFileType(a.positional[0].c_str(), a.positional[1].c_str(),
                                a.positional[2].c_str());
}

int Inspect(const Args& a) {
    if (a.positional.empty()) {
        return Usage("inspect needs at least one FILE");
    }
    CUpdataFileCheck check;
    nlohmann::json all = nlohmann::json::array();
    for (const std::string& path : a.positional) {
        const int cls = check.GetFileType(BaseName(path));
        const int kind = check.GetPackKind(path);
        const int size = check.CheckFileSize(path);
        if (a.json) {
            all.push_back({{"file", path}, {"class", cls}, {"kind", kind}, {"size_check", size}});
        } else {
            std::printf("%s: class %d, kind %d, size check %d\n",
                        platform::EscapeForTerminal(path).c_str(), cls, kind, size);
        }
    }
    if (a.json) {
        PrintJson(all);
    }
    return 0;
}

int Fit(const Args& a) {
    if (a.positional.size() != 1) {
        return Usage("fit needs exactly one NAME");
    }
    if (!a.type) {
        return Usage("fit needs --type TYPE");
    }
    int major = 0;
    int minor = 0;
    if (a.versionKey && !ParseVersionKey(*a.versionKey, &major, &minor)) {
        return Usage("--version-key takes MAJOR.MINOR");
    }
    CUpdataFileCheck check;
    const std::string& name = a.positional[0];
    const bool app = check.IsAppFileOfDevType(name, *a.type);
    const bool series = check.MatchSeriesCode(name, *a.type);
    std::optional<bool> version;
    if (a.versionKey) {
        version = check.HasVersionTag(name, major, minor);
    }
    std::vector<std::pair<std::string, bool>> hw;
    for (const std::string& h : a.hw) {
        hw.emplace_back(h, check.MatchHardVersion(name, h));
    }
    if (a.json) {
        nlohmann::json j;
        j["name"] = name;
        j["type"] = *a.type;
        j["app_file_of_dev_type"] = app;
        j["series_code"] = series;
        if (version) {
            j["version_key"] = *a.versionKey;
            j["version_tag"] = *version;
        }
        j["hard_version"] = nlohmann::json::object();
        for (const auto& [h, ok] : hw) {
            j["hard_version"][h] = ok;
        }
        PrintJson(j);
        return 0;
    }
    auto yn = [](bool b) { return b ? "yes" : "no"; };
    std::printf("app file of dev type  %s\n", yn(app));
    std::printf("series code           %s\n", yn(series));
    if (version) {
        std::printf("version tag %-9s %s\n", platform::EscapeForTerminal(*a.versionKey).c_str(),
                    yn(*version));
    }
    for (const auto& [h, ok] : hw) {
        std::printf("hardware %-12s %s\n", platform::EscapeForTerminal(h).c_str(), yn(ok));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // UTF-8 arguments on every system (Windows hands argv over in its ANSI code page).
    std::vector<std::string> utf8 = platform::Utf8Args(argc, argv);
    std::vector<char*> args8;
    for (auto& a : utf8) {
        args8.push_back(a.data());
    }
    args8.push_back(nullptr);
    argv = args8.data();
    // Diagnostics name pack entries: escaped, so that a name cannot forge lines
    // or drive the terminal.
    SetPackLogSink([](const std::string& line) {
        std::string text = line;
        const bool newline = !text.empty() && text.back() == '\n';
        if (newline) {
            text.pop_back();
        }
        std::fprintf(stderr, "%s%s", platform::EscapeForTerminal(text).c_str(),
                     newline ? "\n" : "");
    });
    if (argc < 2) {
        return Usage("");
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << "quorvane-pack " << platform::kVersion << "\n";
        return 0;
    }
    std::string error;
    const std::optional<Args> args = Parse(argc, argv, &error);
    if (!args) {
        return Usage(error);
    }
    const bool jsonAllowed = command == "list" || command == "inspect" || command == "fit";
    if (args->json && !jsonAllowed) {
        return Usage("--json is not available for " + command);
    }
    if (args->magic && command != "create") {
        return Usage("--magic belongs to create");
    }
    if ((args->type || args->versionKey || !args->hw.empty()) && command != "fit") {
        return Usage("--type, --version-key and --hw belong to fit");
    }
    if (command == "create") {
        return Create(*args);
    }
    if (command == "verify") {
        return Verify(*args);
    }
    if (command == "list") {
        return List(*args);
    }
    if (command == "unpack") {
        return Unpack(*args);
    }
    if (command == "retype") {
        return Retype(*args);
    }
    if (command == "inspect") {
        return Inspect(*args);
    }
    if (command == "fit") {
        return Fit(*args);
    }
    return Usage("unknown command " + command);
}
