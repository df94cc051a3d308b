// The fleet launcher as other test folders use it, with the real camera library.
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "Fleet.h"
#include "WireClient.h"
#include "korvel.h"
#include "pack/UpdatePack.h"
#include "wire/Addr.h"
#include "wire/Md5.h"

namespace {

using namespace std::chrono_literals;

std::set<std::string> DiscoverMacs(const qvtest::Fleet& fleet,
                                   std::map<std::string, std::string>* ipOf = nullptr) {
    auto env = fleet.useConf();
    EXPECT_EQ(Net_Init(), 0);
    struct Seen {
        std::set<std::string> macs;
        std::map<std::string, std::string> ips;
    } seen;
    Net_FindDevice(
        [](const tNetDeviceInfo* info, void* user) {
            auto* s = static_cast<Seen*>(user);
            const std::string mac = wire::FormatMac(info->ucMac);
            s->macs.insert(mac);
            s->ips[mac] = wire::FormatIpv4(info->ucIp);
        },
        &seen);
    Net_UNinit();
    if (ipOf != nullptr) {
        *ipOf = seen.ips;
    }
    return seen.macs;
}

TEST(Fleet, TwoFleetsSideBySideEachSeeOnlyTheirOwnCameras) {
    qvtest::Fleet a(qvtest::FleetOptions::Cameras(3));
    qvtest::Fleet b(qvtest::FleetOptions::Cameras(2));
    ASSERT_TRUE(a.ok()) << a.error();
    ASSERT_TRUE(b.ok()) << b.error();
    EXPECT_NE(a.dir(), b.dir());
    EXPECT_NE(a.discoveryPort(), b.discoveryPort());
    EXPECT_NE(a.cameras()[0].ip, b.cameras()[0].ip);
    for (const qvtest::Fleet* f : {&a, &b}) {
        std::map<std::string, std::string> ips;
        const auto macs = DiscoverMacs(*f, &ips);
        std::set<std::string> want;
        for (const auto& c : f->cameras()) {
            want.insert(c.mac);
            EXPECT_EQ(ips[c.mac], c.ip);
        }
        EXPECT_EQ(macs, want) << f->log();
    }
}

TEST(Fleet, ConfEnvIsPutBackAndTheFleetIsGoneAfterwards) {
    ::setenv("QUORVANE_NET_CONF", "/nonexistent/before.conf", 1);
    std::string dir;
    std::string ip;
    std::uint16_t port = 0;
    {
        qvtest::Fleet f(qvtest::FleetOptions::Cameras(1));
        ASSERT_TRUE(f.ok()) << f.error();
        {
            auto env = f.useConf();
            EXPECT_EQ(std::string(std::getenv("QUORVANE_NET_CONF")), f.confPath());
        }
        EXPECT_EQ(std::string(std::getenv("QUORVANE_NET_CONF")), "/nonexistent/before.conf");
        std::ifstream conf(f.confPath());
        std::string text((std::istreambuf_iterator<char>(conf)), {});
        EXPECT_NE(text.find("discovery_port = " + std::to_string(f.discoveryPort())),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("127.255.255.255"), std::string::npos);
        dir = f.dir();
        ip = f.cameras()[0].ip;
        port = f.controlPort();
        camsimtest::TcpClient c;
        EXPECT_EQ(c.connect(ip, port), 0);
        f.stop();
        EXPECT_EQ(f.exitCode(), 0) << "camsim did not shut down cleanly: " << f.log();
    }
    ::unsetenv("QUORVANE_NET_CONF");
    EXPECT_FALSE(std::filesystem::exists(dir));
    camsimtest::TcpClient c;
    EXPECT_NE(c.connect(ip, port, 2000ms), 0) << "camsim still runs";
}

TEST(Fleet, JsonFleetWithFaultsAndAFileUpdateThroughTheLibrary) {
    qvtest::Fleet f(qvtest::FleetOptions::Json(
        R"({"cameras": [{"hw": "YJ2"}, {"faults": {"refuse-connect": true}}]})"));
    ASSERT_TRUE(f.ok()) << f.error();
    ASSERT_EQ(f.cameras().size(), 2u);
    const std::string payload(70000, 'q');
    const std::string file = f.dir() + "/app_V1.2.jffs2";
    std::ofstream(file, std::ios::binary) << payload;

    auto env = f.useConf();
    ASSERT_EQ(Net_Init(), 0);
    char task[320] = {};
    wire::CopyText(task, 32, f.cameras()[0].ip);
    const int h = Net_AddCamera(task);
    ASSERT_GE(h, 0);
    ASSERT_EQ(Net_ConnCamera(h, 5000, 2), 0);
    tNetFileUpdate up{};
    up.UpgradeType = 0;
    wire::CopyText(up.szFilePath, sizeof up.szFilePath, file);
    EXPECT_EQ(Net_FileUpdate(h, &up), 0) << f.log();
    Net_DisConnCamera(h);
    Net_DelCamera(h);

    wire::CopyText(task, 32, f.cameras()[1].ip);
    const int h2 = Net_AddCamera(task);
    ASSERT_GE(h2, 0);
    EXPECT_NE(Net_ConnCamera(h2, 2000, 1), 0);
    Net_DisConnCamera(h2);
    Net_DelCamera(h2);
    Net_UNinit();

    std::ifstream kept(f.filesDir(f.cameras()[0].mac) + "/app_V1.2.jffs2", std::ios::binary);
    std::string got((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(got, payload);
}

// One file update through the camera library; Net_FileUpdate's result.
int SendFile(const qvtest::Fleet& fleet, const std::string& ip, const std::string& file,
             std::uint16_t type) {
    auto env = fleet.useConf();
    EXPECT_EQ(Net_Init(), 0);
    char task[320] = {};
    wire::CopyText(task, 32, ip);
    const int h = Net_AddCamera(task);
    int rc = -1;
    if (h >= 0 && Net_ConnCamera(h, 5000, 2) == 0) {
        tNetFileUpdate up{};
        up.UpgradeType = type;
        wire::CopyText(up.szFilePath, sizeof up.szFilePath, file);
        rc = Net_FileUpdate(h, &up);
    }
    if (h >= 0) {
        Net_DisConnCamera(h);
        Net_DelCamera(h);
    }
    Net_UNinit();
    return rc;
}

TEST(Fleet, CamerasCheckKeepRebootAndReportTheirNewVersion) {
    // per group: hardware version, whether it checks packs
    qvtest::FleetOptions o = qvtest::FleetOptions::Groups(
        {{1, "101"}, {1, "102"}, qvtest::FleetGroup(1, "102").noHwCheck()}, "2.3.1_180101");
    o.rebootMs = 300;
    qvtest::Fleet f(o);
    ASSERT_TRUE(f.ok()) << f.error();
    ASSERT_EQ(f.cameras().size(), 3u);
    EXPECT_EQ(f.cameras()[1].hw, "102");

    // a pack with a kernel and the application image for hardware code 101
    const std::string app = f.dir() + "/qzt1a2.jffs2_V2.6_YJ101_";
    std::ofstream(f.dir() + "/uImage", std::ios::binary) << std::string(4000, 'k');
    std::ofstream(app, std::ios::binary) << std::string(9000, 'a');
    PackPathSlot slots[2] = {};
    wire::CopyText(slots[0], PACK_PATH_SLOT, f.dir() + "/uImage");
    wire::CopyText(slots[1], PACK_PATH_SLOT, app);
    tPackHead head{};
    head.uiPackMagic = PACK_MAGIC_SINGLE;
    head.uifileNum = 2;
    head.PackType = 1;
    const std::string pack = f.dir() + "/Pack.bin";
    ASSERT_EQ(UpdatePack(slots, pack.c_str(), &head, 2), 0);
    std::ifstream in(pack, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
    std::string hex = wire::DigestHex(wire::Md5Of(raw)).substr(0, 8);
    for (char& c : hex) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string newSw = "2.6.0_" + hex;

    const bool accepts[] = {true, false, true};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(SendFile(f, f.cameras()[i].ip, pack, 0) == 0, accepts[i]) << i << f.log();
    }
    ASSERT_TRUE(f.waitSettled());
    std::map<std::string, std::string> swOf;
    {
        auto env = f.useConf();
        ASSERT_EQ(Net_Init(), 0);
        Net_FindDevice(
            [](const tNetDeviceInfo* info, void* user) {
                (*static_cast<std::map<std::string, std::string>*>(
                    user))[wire::FormatMac(info->ucMac)] =
                    wire::TextField(info->szSoftVersion, 132);
            },
            &swOf);
        Net_UNinit();
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& mac = f.cameras()[i].mac;
        const auto st = f.state(mac);
        const std::string sw = accepts[i] ? newSw : "2.3.1_180101";
        EXPECT_EQ(st.sw, sw) << i;
        EXPECT_EQ(swOf[mac], sw) << i << " on discovery";
        EXPECT_EQ(st.accepted, accepts[i] ? 1u : 0u) << i;
        EXPECT_EQ(st.refused, accepts[i] ? 0u : 1u) << i;
        EXPECT_EQ(f.keptFile(mac), accepts[i] ? std::optional(bytes) : std::nullopt) << i;
    }
}

TEST(Fleet, ReportsWhyCamsimDidNotStart) {
    qvtest::Fleet f(qvtest::FleetOptions::Json(R"([{"faults": {"no-such-fault": true}}])"));
    EXPECT_FALSE(f.ok());
    EXPECT_NE(f.error().find("no-such-fault"), std::string::npos) << f.error();
}

}  // namespace
