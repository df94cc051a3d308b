// Nimbrel, loaded as the tool loads it, against a simulated fleet on loopback.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "Fleet.h"
#include "nimbrel.h"
#include "platform/DynLib.h"
#include "wire/Addr.h"

namespace {

using Clock = std::chrono::steady_clock;

// Searches that compare exact sets wait longer than the lab does, so that a
// simulator starved by a loaded machine is not mistaken for a missing camera.
void PatientDiscovery(wire::NetConfig& c) {
    c.discoveryQuietMs = 1500;
    c.discoveryDeadlineMs = 8000;
}

class NimbrelLib {
  public:
    NimbrelLib() : lib_(QV_NIMBREL_PATH) {
        modify = reinterpret_cast<ModifyDevIpFn>(lib_.Symbol(NIMBREL_MODIFY_DEV_IP));
        list = reinterpret_cast<GetDevListFn>(lib_.Symbol(NIMBREL_GET_DEV_LIST));
        modifyEx = reinterpret_cast<ModifyDevIpExFn>(lib_.Symbol(NIMBREL_MODIFY_DEV_IP_EX));
    }
    bool ok() const { return modify != nullptr && list != nullptr && modifyEx != nullptr; }
    ModifyDevIpFn modify = nullptr;
    ModifyDevIpExFn modifyEx = nullptr;
    GetDevListFn list = nullptr;

  private:
    platform::DynLib lib_;
};

std::set<std::string> Addresses(GetDevListFn list) {
    std::vector<tNetDeviceInfo> out(64);
    const int n = list(out.data(), static_cast<int>(out.size()));
    EXPECT_GE(n, 0);
    std::set<std::string> ips;
    for (int i = 0; i < std::min(n, 64); ++i) {
        ips.insert(wire::FormatIpv4(out[static_cast<size_t>(i)].ucIp));
    }
    return ips;
}

// An address in the same 127.x block, far above the fleet's own.
std::string Moved(const std::string& ip, int index) {
    auto a = *wire::ParseIpv4(ip);
    a[2] = static_cast<uint8_t>(a[2] + 4);
    a[3] = static_cast<uint8_t>(100 + index);
    return wire::FormatIpv4(a.data());
}

TEST(Nimbrel, ExportsAreFound) {
    NimbrelLib lib;
    EXPECT_TRUE(lib.ok());
}

TEST(Nimbrel, ThirtyChangesAtOnce) {
    NimbrelLib lib;
    ASSERT_TRUE(lib.ok());
    qvtest::FleetOptions o;
    o.count = 30;
    o.tune = PatientDiscovery;
    qvtest::Fleet fleet(o);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();

    std::vector<std::string> targets;
    for (size_t i = 0; i < fleet.cameras().size(); ++i) {
        targets.push_back(Moved(fleet.cameras()[i].ip, static_cast<int>(i)));
    }
    std::vector<int> results(targets.size(), -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < targets.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] =
                lib.modify(fleet.cameras()[i].mac.c_str(), targets[i].c_str(), "255.255.255.0");
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_NE(results[i], 0) << fleet.cameras()[i].mac;
    }
    EXPECT_EQ(Addresses(lib.list), std::set<std::string>(targets.begin(), targets.end()))
        << fleet.log();

    // Asking again for the address a camera already has is confirmed too.
    EXPECT_NE(lib.modify(fleet.cameras()[0].mac.c_str(), targets[0].c_str(), "255.255.255.0"), 0);
}

TEST(Nimbrel, FailuresGiveZeroWithinTheAttempts) {
    NimbrelLib lib;
    ASSERT_TRUE(lib.ok());
    qvtest::FleetOptions o;
    o.fleetJson = R"([{}, {"faults": {"refuse-ip-change": true}}])";
    o.tune = [](wire::NetConfig& c) {
        PatientDiscovery(c);
        c.ipsetTimeoutMs = 300;
        c.ipsetAttempts = 2;
    };
    qvtest::Fleet fleet(o);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();
    const auto& good = fleet.cameras().at(0);
    const auto& refusing = fleet.cameras().at(1);

    struct Case {
        const char* what;
        std::string mac;
        std::string ip;
        std::string mask;
    };
    const Case cases[] = {
        {"refused by the camera", refusing.mac, Moved(refusing.ip, 1), "255.255.255.0"},
        {"nobody has this MAC", "0A:0B:0C:0D:0E:0F", Moved(good.ip, 2), "255.255.255.0"},
        {"camera refuses a non-loopback address", good.mac, "192.0.2.77", "255.255.255.0"},
        {"bad MAC text", "02:51:56", Moved(good.ip, 3), "255.255.255.0"},
        {"bad address", good.mac, "127.0.0.300", "255.255.255.0"},
        {"network 0", good.mac, "0.1.2.3", "255.255.255.0"},
        {"bad mask", good.mac, Moved(good.ip, 4), "255.0.255.0"},
    };
    for (const auto& c : cases) {
        const auto started = Clock::now();
        EXPECT_EQ(lib.modify(c.mac.c_str(), c.ip.c_str(), c.mask.c_str()), 0) << c.what;
        EXPECT_LT(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count(),
            3000)
            << c.what;
    }
    EXPECT_EQ(lib.modify(nullptr, "127.0.0.1", "255.255.255.0"), 0);
    EXPECT_EQ(Addresses(lib.list), (std::set<std::string>{good.ip, refusing.ip}));
}

TEST(Nimbrel, DeviceListCountsBeyondItsCapacity) {
    NimbrelLib lib;
    ASSERT_TRUE(lib.ok());
    qvtest::FleetOptions o;
    o.count = 4;
    o.tune = PatientDiscovery;
    qvtest::Fleet fleet(o);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();
    tNetDeviceInfo two[2];
    EXPECT_EQ(lib.list(two, 2), 4);
    EXPECT_EQ(lib.list(nullptr, 0), 4);
    EXPECT_EQ(lib.list(nullptr, 3), -1);
    EXPECT_EQ(lib.list(two, -1), -1);
}

// The record the search gives for `mac`, if it answered.
std::optional<tNetDeviceInfo> Found(GetDevListFn list, const std::string& mac) {
    std::vector<tNetDeviceInfo> out(64);
    const int n = list(out.data(), static_cast<int>(out.size()));
    for (int i = 0; i < std::min(n, 64); ++i) {
        const auto& r = out[static_cast<size_t>(i)];
        if (wire::FormatMac(r.ucMac) == mac) {
            return r;
        }
    }
    return std::nullopt;
}

// An address in the fleet's /16, far above its own: third octet `c`, host `d`.
std::string In16(const std::string& ip, int c, int d) {
    auto a = *wire::ParseIpv4(ip);
    a[2] = static_cast<uint8_t>(c);
    a[3] = static_cast<uint8_t>(d);
    return wire::FormatIpv4(a.data());
}

TEST(Nimbrel, MaskAndGatewayByMac) {
    NimbrelLib lib;
    ASSERT_TRUE(lib.ok());
    qvtest::FleetOptions o;
    o.fleetJson = R"([{}, {"faults": {"old-ipset": true}}])";
    o.tune = [](wire::NetConfig& c) {
        PatientDiscovery(c);
        // Long enough that a loaded simulator still answers within the first
        // attempt: a late answer would read as an older camera's.
        c.ipsetTimeoutMs = 2000;
        c.ipsetAttempts = 2;
    };
    qvtest::Fleet fleet(o);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();
    const std::string fresh = fleet.cameras().at(0).mac;
    const std::string old = fleet.cameras().at(1).mac;
    const std::string base = fleet.cameras().at(0).ip;

    // Rows that reach the camera, in order: what the search reads back after each.
    const std::string gw16 = In16(base, 0, 254);
    const std::string gw8 = In16(base, 50, 254);
    struct Row {
        const char* what;
        std::string mac;
        std::string ip;
        std::string mask;
        std::string gateway;  // empty: keep
        int result;
        std::string wantGateway;
    };
    const Row rows[] = {
        {"address, mask and gateway", fresh, In16(base, 40, 10), "255.255.0.0", gw16, 1, gw16},
        {"empty gateway keeps it", fresh, In16(base, 41, 10), "255.255.0.0", "", 1, gw16},
        {"a /20 with a new gateway", fresh, In16(base, 50, 10), "255.255.240.0", gw8, 1, gw8},
        {"an older camera: IPSET_REQ, gateway sent", old, In16(base, 42, 20), "255.255.0.0", gw16,
         2, gw16},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(lib.modifyEx(r.mac.c_str(), r.ip.c_str(), r.mask.c_str(), r.gateway.c_str()),
                  r.result)
            << r.what << "\n"
            << fleet.log();
        const auto rec = Found(lib.list, r.mac);
        ASSERT_TRUE(rec.has_value()) << r.what;
        EXPECT_EQ(wire::FormatIpv4(rec->ucIp), r.ip) << r.what;
        EXPECT_EQ(wire::FormatIpv4(rec->ucMask), r.mask) << r.what;
        EXPECT_EQ(wire::FormatIpv4(rec->ucGateway), r.wantGateway) << r.what;
    }

    // Refused before a byte goes out: the simulator never hears of these addresses.
    const std::string ip = In16(base, 60, 10);
    struct Bad {
        const char* what;
        const char* mask;
        std::string gateway;
        std::string ip;
    };
    const Bad bads[] = {
        {"mask with a hole", "255.0.255.0", "", ip},
        {"mask 0", "0.0.0.0", "", ip},
        {"gateway outside the subnet", "255.255.255.0", In16(base, 61, 1), ip},
        {"gateway is the network address", "255.255.255.0", In16(base, 60, 0), ip},
        {"gateway is the broadcast address", "255.255.255.0", In16(base, 60, 255), ip},
        {"gateway is the camera itself", "255.255.255.0", ip, ip},
        {"gateway text", "255.255.255.0", "127.0.0", ip},
        {"address is the subnet's broadcast", "255.255.255.0", "", In16(base, 60, 255)},
        {"address is the subnet's network", "255.255.240.0", "", In16(base, 64, 0)},
    };
    for (const auto& b : bads) {
        EXPECT_EQ(lib.modifyEx(fresh.c_str(), b.ip.c_str(), b.mask, b.gateway.c_str()), 0)
            << b.what;
    }
    for (const auto& never : {ip, In16(base, 60, 255), In16(base, 64, 0)}) {
        EXPECT_EQ(fleet.log().find("IP change to " + never), std::string::npos) << fleet.log();
    }
}

}  // namespace
