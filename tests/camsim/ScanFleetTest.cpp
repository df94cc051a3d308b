// The search by address against a camsim fleet on loopback, through the real
// camera library: what it finds, what it leaves out, how it is stopped.
#include <array>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <memory>

#include "Fleet.h"
#include "korvel.h"
#include "wire/Addr.h"

namespace {

using namespace std::chrono_literals;
using Address = std::array<std::uint8_t, 4>;

struct Found {
    std::set<std::string> macs;
    std::set<std::string> ips;
};

void Collect(const tNetDeviceInfo* info, void* user) {
    auto* f = static_cast<Found*>(user);
    f->macs.insert(wire::FormatMac(info->ucMac));
    f->ips.insert(wire::FormatIpv4(info->ucIp));
}

int Scan(const std::vector<Address>& asked, Found* found) {
    return Net_ScanDevice(reinterpret_cast<const std::uint8_t(*)[4]>(asked.data()),
                          static_cast<int>(asked.size()), &Collect, found);
}

// Hosts `from`..`to` of the /24 that holds `ip`.
std::vector<Address> Hosts(const std::string& ip, int from, int to) {
    const auto base = wire::ParseIpv4(ip).value();
    std::vector<Address> out;
    for (int h = from; h <= to; ++h) {
        out.push_back({base[0], base[1], base[2], static_cast<std::uint8_t>(h)});
    }
    return out;
}

// Four cameras from .1 of the fleet's block; the fourth sits behind a router.
class ScanFleet : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        auto options = qvtest::FleetOptions::Json(
            R"({"cameras": [{}, {}, {}, {"faults": {"routed": true}}]})");
        fleet_ = new qvtest::Fleet(options);
    }
    static void TearDownTestSuite() {
        delete fleet_;
        fleet_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(fleet_->ok()) << fleet_->error();
        env_ = std::make_unique<qvtest::ScopedEnv>("QUORVANE_NET_CONF", fleet_->confPath());
        ASSERT_EQ(Net_Init(), KORVEL_OK);
    }
    void TearDown() override {
        Net_UNinit();
        env_.reset();
    }
    const std::vector<qvtest::FleetCamera>& Cameras() const { return fleet_->cameras(); }

    static qvtest::Fleet* fleet_;
    std::unique_ptr<qvtest::ScopedEnv> env_;
};
qvtest::Fleet* ScanFleet::fleet_ = nullptr;

TEST_F(ScanFleet, FindsTheCameraBroadcastsDoNotReach) {
    Found searched;
    ASSERT_EQ(Net_FindDevice(&Collect, &searched), KORVEL_OK);
    EXPECT_EQ(searched.macs.size(), 3u) << fleet_->log();
    EXPECT_EQ(searched.macs.count(Cameras()[3].mac), 0u);

    Found scanned;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(Scan(Hosts(Cameras()[0].ip, 1, 254), &scanned), KORVEL_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
    std::set<std::string> all;
    for (const auto& c : Cameras()) {
        all.insert(c.mac);
        EXPECT_EQ(scanned.ips.count(c.ip), 1u) << c.ip;
    }
    EXPECT_EQ(scanned.macs, all) << fleet_->log();
    // Its adapter is the one the system routes the address by: the loopback.
    const auto mac = wire::ParseMac(Cameras()[3].mac).value();
    tNetAdapterInfo on{};
    ASSERT_EQ(Net_GetAnsweredOn(mac.data(), &on), KORVEL_OK);
    EXPECT_EQ(on.ucAddress[0], 127);
    // The search's cameras keep theirs beside it.
    const auto first = wire::ParseMac(Cameras()[0].mac).value();
    EXPECT_EQ(Net_GetAnsweredOn(first.data(), &on), KORVEL_OK);
}

struct Asked {
    int from;
    int to;
    std::size_t cameras;  // of the four, those inside
};

TEST_F(ScanFleet, OnlyTheAddressesAskedAnswer) {
    for (const Asked& a :
         {Asked{1, 4, 4}, Asked{2, 2, 1}, Asked{4, 4, 1}, Asked{3, 30, 2}, Asked{10, 20, 0}}) {
        SCOPED_TRACE("hosts " + std::to_string(a.from) + ".." + std::to_string(a.to));
        Found f;
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(Scan(Hosts(Cameras()[0].ip, a.from, a.to), &f), KORVEL_OK);
        EXPECT_EQ(f.macs.size(), a.cameras);
        for (const auto& ip : f.ips) {
            const int host = wire::ParseIpv4(ip).value()[3];
            EXPECT_TRUE(host >= a.from && host <= a.to) << ip;
        }
        if (a.cameras == static_cast<std::size_t>(a.to - a.from + 1)) {
            // Every address answered: no quiet period waited out.
            EXPECT_LT(std::chrono::steady_clock::now() - t0, 600ms);
        }
    }
}

TEST_F(ScanFleet, ArgumentsOutOfRangeAreRefused) {
    Found f;
    const std::vector<Address> many(NET_SCAN_MAX + 1, Address{127, 0, 0, 1});
    EXPECT_EQ(Net_ScanDevice(nullptr, 1, &Collect, &f), KORVEL_E_PARAM);
    EXPECT_EQ(Scan({}, &f), KORVEL_E_PARAM);
    EXPECT_EQ(Scan(many, &f), KORVEL_E_PARAM);
    const std::uint8_t one[1][4] = {{127, 0, 0, 1}};
    EXPECT_EQ(Net_ScanDevice(one, 1, nullptr, &f), KORVEL_E_PARAM);
    Net_UNinit();
    EXPECT_EQ(Net_ScanDevice(one, 1, &Collect, &f), KORVEL_E_NOT_INIT);
    EXPECT_TRUE(f.macs.empty());
}

TEST(ScanStop, ASlowScanEndsSoonAfterItIsCancelled) {
    auto options = qvtest::FleetOptions::Cameras(2);
    options.tune = [](wire::NetConfig& c) { c.scanRate = 50; };  // 254 addresses: 10 s
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    auto env = fleet.useConf();
    ASSERT_EQ(Net_Init(), KORVEL_OK);
    std::thread stopper([] {
        std::this_thread::sleep_for(500ms);
        Net_CancelScan();
    });
    Found f;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Scan(Hosts(fleet.cameras()[0].ip, 1, 254), &f), KORVEL_E_CANCELLED);
    const auto took = std::chrono::steady_clock::now() - t0;
    stopper.join();
    EXPECT_LT(took, 3s);
    // The first addresses were asked before the stop: those cameras are kept.
    EXPECT_EQ(f.macs.size(), 2u);
    // The next scan is not stopped by the old request.
    Found again;
    EXPECT_EQ(Scan(Hosts(fleet.cameras()[0].ip, 1, 2), &again), KORVEL_OK);
    EXPECT_EQ(again.macs.size(), 2u);
    Net_UNinit();
}

}  // namespace
