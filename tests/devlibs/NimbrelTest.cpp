// Nimbrel, loaded as the tool loads it, against a simulated fleet on loopback.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    }
    bool ok() const { return modify != nullptr && list != nullptr; }
    ModifyDevIpFn modify = nullptr;
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

}  // namespace
