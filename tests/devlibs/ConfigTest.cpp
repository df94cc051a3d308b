#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wire/Addr.h"
#include "wire/NetConfig.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("qv-devlibs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return path_ / name;
    }

  private:
    static inline int counter_ = 0;
    fs::path path_;
};

// Sets or clears QUORVANE_NET_CONF for one test.
class EnvGuard {
  public:
    explicit EnvGuard(const char* value) {
        if (value) {
            ::setenv(wire::kNetConfEnv, value, 1);
        } else {
            ::unsetenv(wire::kNetConfEnv);
        }
    }
    ~EnvGuard() { ::unsetenv(wire::kNetConfEnv); }
};

TEST(NetConfig, EveryKeyIsRead) {
    const std::string text =
        "# lab\n"
        "discovery_address = 127.255.255.255\n"
        "discovery_port=1001\n"
        "  control_port =  1002  \r\n"
        "ipset_port = 1003\n"
        "; another comment\n"
        "bind_address = 127.0.0.1\n"
        "discovery_probes = 5\n"
        "discovery_probe_interval_ms = 50\n"
        "discovery_spread_ms = 0\n"
        "discovery_quiet_ms = 150\n"
        "discovery_deadline_ms = 2000\n"
        "ipset_timeout_ms = 250\n"
        "ipset_attempts = 2\n"
        "update_result_timeout_ms = 9000\n"
        "log_file = /tmp/x.log\n"
        "interface = 以太网 2\n";
    std::vector<std::string> warnings;
    const auto c = wire::ParseNetConfig(text, wire::LanDefaults(), &warnings);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(c.discoveryAddress, "127.255.255.255");
    EXPECT_EQ(c.discoveryPort, 1001);
    EXPECT_EQ(c.controlPort, 1002);
    EXPECT_EQ(c.ipsetPort, 1003);
    EXPECT_EQ(c.bindAddress, "127.0.0.1");
    EXPECT_EQ(c.discoveryProbes, 5);
    EXPECT_EQ(c.discoveryProbeIntervalMs, 50);
    EXPECT_EQ(c.discoverySpreadMs, 0);
    EXPECT_EQ(c.discoveryQuietMs, 150);
    EXPECT_EQ(c.discoveryDeadlineMs, 2000);
    EXPECT_EQ(c.ipsetTimeoutMs, 250);
    EXPECT_EQ(c.ipsetAttempts, 2);
    EXPECT_EQ(c.updateResultTimeoutMs, 9000);
    EXPECT_EQ(c.logFile, "/tmp/x.log");
    EXPECT_EQ(c.adapter, "以太网 2");
}

TEST(NetConfig, BadLinesWarnAndKeepTheDefault) {
    const std::string lines[] = {
        "discovery_port = 0",
        "discovery_port = 65536",
        "control_port = 12ab",
        "ipset_port = -5",
        "discovery_address = 192.168.1",
        "discovery_address = 1.2.3.4.5",
        "bind_address = localhost",
        "discovery_quiet_ms = 5",
        "discovery_deadline_ms = 99999999999999999999",
        "ipset_attempts = 0",
        "log_file =",
        "interface = eth0\x01",
        "interface = " + std::string(256, 'e'),
        "colour = blue",
        "just some words",
    };
    for (const auto& line : lines) {
        std::vector<std::string> warnings;
        const auto c = wire::ParseNetConfig(line + "\n", wire::LanDefaults(), &warnings);
        EXPECT_EQ(c, wire::LanDefaults()) << line;
        ASSERT_EQ(warnings.size(), 1u) << line;
        EXPECT_NE(warnings[0].find("line 1"), std::string::npos) << warnings[0];
    }
}

TEST(NetConfig, FormatReadsBackUnchanged) {
    wire::NetConfig chosen = wire::LanDefaults();
    chosen.adapter = "Wi-Fi 2";
    for (const auto& c : {wire::LanDefaults(), wire::LoopbackDefaults(), chosen}) {
        std::vector<std::string> warnings;
        EXPECT_EQ(wire::ParseNetConfig(wire::FormatNetConfig(c), wire::NetConfig{}, &warnings), c);
        EXPECT_TRUE(warnings.empty());
    }
}

TEST(NetConfig, BuildTreeDefaultsStayOnLoopback) {
    EXPECT_EQ(wire::BuiltInDefaults().discoveryAddress, "127.255.255.255");
    EXPECT_EQ(wire::LanDefaults().discoveryAddress, "255.255.255.255");
}

TEST(NetConfig, EnvironmentWinsOverTheFileBesideTheExecutable) {
    TempDir exe;
    exe.write(wire::kNetConfFileName, "discovery_port = 2001\n");
    TempDir other;
    const auto envFile = other.write("lab.conf", "discovery_port = 3001\nbogus = 1\n");

    {
        EnvGuard env(envFile.c_str());
        std::string error;
        const auto loaded = wire::LoadNetConfig(exe.path().string(), &error);
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(loaded->config.discoveryPort, 3001);
        EXPECT_EQ(loaded->path, envFile.string());
        EXPECT_EQ(loaded->dir, other.path().string());
        EXPECT_EQ(loaded->warnings.size(), 1u);
    }
    {
        EnvGuard env(nullptr);
        std::string error;
        const auto loaded = wire::LoadNetConfig(exe.path().string(), &error);
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(loaded->config.discoveryPort, 2001);
    }
}

TEST(NetConfig, MissingEnvironmentFileIsAnErrorNotAFallBack) {
    TempDir exe;
    exe.write(wire::kNetConfFileName, "discovery_port = 2001\n");
    EnvGuard env((exe.path() / "missing.conf").c_str());
    std::string error;
    EXPECT_FALSE(wire::LoadNetConfig(exe.path().string(), &error));
    EXPECT_NE(error.find("missing.conf"), std::string::npos) << error;
}

TEST(NetConfig, NoFileGivesTheBuiltInDefaults) {
    TempDir exe;
    EnvGuard env(nullptr);
    std::string error;
    const auto loaded = wire::LoadNetConfig(exe.path().string(), &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_TRUE(loaded->path.empty());
    EXPECT_EQ(loaded->config, wire::BuiltInDefaults());
    EXPECT_EQ(loaded->dir, exe.path().string());
}

TEST(NetConfig, FirstFolderHoldingAFileWinsAndLogsGoToTheStateFolder) {
    TempDir user, system, state;
    EnvGuard env(nullptr);
    system.write(wire::kNetConfFileName, "discovery_port = 2001\n");
    const std::vector<std::string> dirs{user.path().string(), system.path().string()};
    std::string error;
    auto loaded = wire::LoadNetConfigFrom(dirs, state.path().string(), &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->config.discoveryPort, 2001);
    EXPECT_EQ(loaded->logDir, state.path().string());

    user.write(wire::kNetConfFileName, "discovery_port = 3001\n");
    loaded = wire::LoadNetConfigFrom(dirs, state.path().string(), &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->config.discoveryPort, 3001);
    EXPECT_EQ(loaded->path, (user.path() / wire::kNetConfFileName).string());
}

// The files the Debian package and the Windows installer and zip ship state
// exactly the LAN defaults; the Windows copies are written with CRLF.
TEST(NetConfig, InstalledFileHoldsTheLanDefaults) {
    struct Row {
        const char* file;
        bool crlf;
    };
    const Row rows[] = {
        {QV_SOURCE_DIR "/packaging/quorvane-net.conf", false},
        {QV_SOURCE_DIR "/packaging/windows/quorvane-net.conf.in", false},
        {QV_SOURCE_DIR "/packaging/windows/quorvane-net.conf.in", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.file) + (r.crlf ? " (CRLF)" : ""));
        std::string error;
        const auto loaded = wire::LoadNetConfigFile(r.file, &error);
        ASSERT_TRUE(loaded) << error;
        EXPECT_EQ(loaded->config, wire::LanDefaults());
        std::ifstream in(r.file, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::size_t at = 0; r.crlf && (at = text.find('\n', at)) != std::string::npos;
             at += 2) {
            text.insert(at, 1, '\r');
        }
        std::vector<std::string> warnings;
        EXPECT_EQ(wire::ParseNetConfig(text, wire::BuiltInDefaults(), &warnings),
                  wire::LanDefaults());
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    }
}

TEST(NetConfig, OversizedFileIsRefused) {
    TempDir dir;
    const auto f = dir.write("big.conf", std::string(wire::kMaxNetConfBytes + 1, '#'));
    std::string error;
    EXPECT_FALSE(wire::LoadNetConfigFile(f.string(), &error));
    EXPECT_NE(error.find("at most"), std::string::npos) << error;
}

TEST(Addr, MacTexts) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"02:51:56:00:00:01", true},  {"aa-bb-cc-dd-ee-ff", true},
        {"AA:BB:CC:DD:EE:F", false},  {"AA:BB:CC:DD:EE:FF:", false},
        {"AA:BB:CC:DD:EE:GG", false}, {"AABBCCDDEEFF", false},
        {"AA.BB.CC.DD.EE.FF", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wire::ParseMac(c.text).has_value(), c.ok) << c.text;
    }
    const auto mac = wire::ParseMac("aa-bb-cc-0d-ee-ff");
    ASSERT_TRUE(mac);
    EXPECT_EQ(wire::FormatMac(mac->data()), "AA:BB:CC:0D:EE:FF");
}

TEST(Addr, Ipv4Texts) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"127.0.0.1", true}, {"255.255.255.255", true}, {"0.0.0.0", true},   {"256.0.0.1", false},
        {"1.2.3", false},    {"1.2.3.4.", false},       {"1.2.3.4 ", false}, {" 1.2.3.4", false},
        {"1..2.3", false},   {"1.2.3.0004", false},     {"a.b.c.d", false},  {"", false},
        {"-1.2.3.4", false}, {"1.2.3.4/24", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wire::ParseIpv4(c.text).has_value(), c.ok) << c.text;
    }
    const auto ip = wire::ParseIpv4("10.0.200.7");
    ASSERT_TRUE(ip);
    EXPECT_EQ(wire::FormatIpv4(ip->data()), "10.0.200.7");
}

TEST(Addr, FixedTextFields) {
    char field[8];
    std::memset(field, 'x', sizeof(field));
    wire::CopyText(field, sizeof(field), "abcdefghij");
    EXPECT_EQ(std::string(field), "abcdefg");
    wire::CopyText(field, sizeof(field), "ab");
    EXPECT_EQ(field[2], '\0');
    EXPECT_EQ(field[7], '\0');
    // A sender that filled the whole field without a terminator.
    std::memset(field, 'y', sizeof(field));
    EXPECT_EQ(wire::TextField(field, sizeof(field)), "yyyyyyy");
}

}  // namespace
