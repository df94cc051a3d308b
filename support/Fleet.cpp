#include "Fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "camsim/FleetModel.h"

extern char** environ;

#ifndef QV_CAMSIM_PATH
#define QV_CAMSIM_PATH "camsim"
#endif

namespace qvtest {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> g_fleetCounter{0};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// "key=value" from camsim's ready line.
std::uint16_t Field(const std::string& line, const std::string& key) {
    const auto at = line.find(key + "=");
    if (at == std::string::npos) {
        return 0;
    }
    return static_cast<std::uint16_t>(
        std::strtoul(line.c_str() + at + key.size() + 1, nullptr, 10));
}

}  // namespace

FleetOptions FleetOptions::Groups(const std::vector<FleetGroup>& groups, std::string sw) {
    FleetOptions o;
    if (!sw.empty()) {
        o.sw = std::move(sw);
    }
    nlohmann::json cams = nlohmann::json::array();
    for (const FleetGroup& g : groups) {
        nlohmann::json c = nlohmann::json::object();
        const std::pair<const char*, const std::string*> texts[] = {
            {"hw", &g.hw}, {"sw", &g.sw}, {"type", &g.type}};
        for (const auto& [key, value] : texts) {
            if (!value->empty()) {
                c[key] = *value;
            }
        }
        if (g.rebootMs) {
            c["reboot_ms"] = *g.rebootMs;
        }
        if (g.checkHw) {
            c["check_hw"] = *g.checkHw;
        }
        for (int i = 0; i < g.count; ++i) {
            cams.push_back(c);
        }
    }
    o.fleetJson = nlohmann::json{{"cameras", cams}}.dump();
    return o;
}

std::string Fleet::camsimPath() {
    if (const char* env = std::getenv("QUORVANE_CAMSIM"); env != nullptr && *env != '\0') {
        return env;
    }
    return QV_CAMSIM_PATH;
}

Fleet::ConfEnv::ConfEnv(const std::string& path) : ScopedEnv(wire::kNetConfEnv, path) {}

Fleet::Fleet(FleetOptions options) {
    std::error_code tec;
    std::string pattern = (fs::temp_directory_path(tec) / "qv-fleet-XXXXXX").string();
    if (tec || ::mkdtemp(pattern.data()) == nullptr) {
        error_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    dir_ = pattern;
    confPath_ = dir_ + "/" + wire::kNetConfFileName;

    // An address block of its own for each fleet of every test process: parallel
    // tests then never share an address, and their ports are free ones anyway.
    const unsigned pidPart = static_cast<unsigned>(::getpid()) % 224u;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const unsigned n = g_fleetCounter.fetch_add(1);
        const unsigned a = 16 + (pidPart + n / 32) % 224;
        const unsigned b = (n % 32) * 8;
        char ip[32];
        char mac[32];
        std::snprintf(ip, sizeof ip, "127.%u.%u.1", a, b);
        std::snprintf(mac, sizeof mac, "02:51:56:%02X:%02X:01", a, b);
        if (launch(options, ip, mac)) {
            return;
        }
    }
}

Fleet::~Fleet() {
    stop();
    if (!dir_.empty() && std::getenv("QV_KEEP_FLEET") == nullptr) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

bool Fleet::launch(const FleetOptions& options, const std::string& ipBase,
                   const std::string& macBase) {
    // What the cameras will be, computed as camsim computes it.
    camsim::CameraSpec templ;
    templ.ip = *camsim::ParseIpv4(ipBase);
    templ.mac = *camsim::ParseMac(macBase);
    templ.type = options.type;
    templ.sw = options.sw;
    templ.hw = options.hw;
    camsim::FleetSpec model;
    std::vector<std::string> args{camsimPath()};
    if (!options.fleetJson.empty()) {
        std::string why;
        auto parsed = camsim::ParseFleetJson(options.fleetJson, templ, why);
        if (!parsed) {
            error_ = "fleet JSON: " + why;
            return false;
        }
        model = *parsed;
        const std::string fleetFile = dir_ + "/fleet.json";
        if (!WriteAll(fleetFile, options.fleetJson)) {
            error_ = "cannot write " + fleetFile;
            return false;
        }
        args.insert(args.end(), {"--fleet", fleetFile});
    } else {
        model = camsim::MakeUniformFleet(options.count, templ.ip, templ.mac, templ);
        args.insert(args.end(), {"--count", std::to_string(options.count)});
    }
    cameras_.clear();
    for (const auto& c : model.cameras) {
        cameras_.push_back(
            {camsim::FormatIpv4(c.ip), camsim::FormatMac(c.mac), c.type, c.sw, c.hw});
    }

    config_ = wire::LoopbackDefaults();
    if (options.tune) {
        options.tune(config_);
    }
    config_.logFile = "korvel.log";
    const std::string baseConf = dir_ + "/camsim-base.conf";
    if (!WriteAll(baseConf, wire::FormatNetConfig(config_))) {
        error_ = "cannot write " + baseConf;
        return false;
    }
    args.insert(args.end(), {"--ip-base",
                             ipBase,
                             "--mac-base",
                             macBase,
                             "--type",
                             options.type,
                             "--sw",
                             options.sw,
                             "--hw",
                             options.hw,
                             "--flash-ms",
                             std::to_string(options.flashMs),
                             "--reboot-ms",
                             std::to_string(options.rebootMs),
                             "--conf",
                             baseConf,
                             "--discovery-port",
                             "0",
                             "--control-port",
                             "0",
                             "--ipset-port",
                             "0",
                             "--dir",
                             dir_ + "/files",
                             "--log",
                             dir_ + "/camsim.log",
                             "--write-conf",
                             confPath_});
    if (!options.checkHw) {
        args.push_back("--no-hw-check");
    }
    for (const auto& f : options.faults) {
        args.insert(args.end(), {"--fault", f});
    }
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string errFile = dir_ + "/camsim.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        error_ = "cannot start " + args[0] + ": " + std::strerror(rc);
        return false;
    }

    // Readiness is camsim's own line on stdout, printed once every socket is bound.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + options.readyTimeout;
    bool ready = false;
    while (!ready) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error_ =
                "camsim not ready within " + std::to_string(options.readyTimeout.count()) + " ms";
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int pr = ::poll(&p, 1, static_cast<int>(left.count()));
        if (pr < 0 && errno == EINTR) {
            continue;
        }
        if (pr <= 0) {
            continue;
        }
        char buf[256];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) {
            error_ = "camsim exited before it was ready: " + ReadAll(errFile);
            break;
        }
        line.append(buf, static_cast<std::size_t>(n));
        if (line.size() > 4096) {
            error_ = "camsim printed something unexpected: " + line.substr(0, 200);
            break;
        }
        ready =
            line.find("camsim ready") != std::string::npos && line.find('\n') != std::string::npos;
    }
    ::close(out[0]);
    if (!ready) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return false;
    }
    pid_ = pid;
    error_.clear();
    discoveryPort_ = Field(line, "discovery_port");
    controlPort_ = Field(line, "control_port");
    ipsetPort_ = Field(line, "ipset_port");
    config_.discoveryPort = discoveryPort_;
    config_.controlPort = controlPort_;
    config_.ipsetPort = ipsetPort_;
    return true;
}

void Fleet::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (r < 0 && errno != EINTR) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        // Polling a child's exit: there is no descriptor to wait on here.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

std::string Fleet::filesDir(const std::string& mac) const {
    std::string name = mac;
    for (char& c : name) {
        c = c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return dir_ + "/files/" + name;
}

FleetCameraState Fleet::state(const std::string& mac) const {
    FleetCameraState st;
    for (const auto& c : cameras_) {
        if (c.mac == mac) {
            st.sw = c.sw;
        }
    }
    const auto j = nlohmann::json::parse(ReadAll(filesDir(mac) + ".json"), nullptr, false);
    if (j.is_object()) {
        st.sw = j.value("sw", st.sw);
        st.accepted = j.value("accepted", std::uint64_t{0});
        st.refused = j.value("refused", std::uint64_t{0});
        st.lastFile = j.value("last_file", std::string());
        st.rebooting = j.value("rebooting", false);
    }
    return st;
}

std::optional<std::string> Fleet::keptFile(const std::string& mac) const {
    const FleetCameraState st = state(mac);
    if (st.lastFile.empty()) {
        return std::nullopt;
    }
    std::ifstream in(filesDir(mac) + "/" + st.lastFile, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Fleet::waitSettled(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool busy = false;
        for (const auto& c : cameras_) {
            busy = busy || state(c.mac).rebooting;
        }
        if (!busy) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        // The state files are camsim's only news: poll them.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string Fleet::log() const {
    return ReadAll(dir_ + "/camsim.log");
}

}  // namespace qvtest
