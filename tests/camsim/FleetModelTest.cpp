#include <gtest/gtest.h>

#include "camsim/FleetModel.h"

namespace {

using namespace camsim;

TEST(FleetModel, UniformFleetSkipsNetworkAndBroadcastAddresses) {
    CameraSpec templ;
    auto fleet =
        MakeUniformFleet(5, *ParseIpv4("127.0.1.253"), *ParseMac("02:00:00:00:00:FE"), templ);
    ASSERT_EQ(fleet.cameras.size(), 5u);
    const char* ips[] = {"127.0.1.253", "127.0.1.254", "127.0.2.1", "127.0.2.2", "127.0.2.3"};
    const char* macs[] = {"02:00:00:00:00:FE", "02:00:00:00:00:FF", "02:00:00:00:01:00",
                          "02:00:00:00:01:01", "02:00:00:00:01:02"};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(FormatIpv4(fleet.cameras[i].ip), ips[i]);
        EXPECT_EQ(FormatMac(fleet.cameras[i].mac), macs[i]);
    }
    std::string error;
    EXPECT_TRUE(ValidateFleet(fleet, error)) << error;
    // a thousand cameras stay distinct
    auto big =
        MakeUniformFleet(1000, *ParseIpv4("127.0.1.1"), *ParseMac("02:00:00:00:00:01"), templ);
    EXPECT_TRUE(ValidateFleet(big, error)) << error;
}

TEST(FleetModel, JsonWithDefaultsFaultsAndNumbering) {
    const char* text = R"({
      "defaults": {"type": "QV-X", "sw": "V9", "flash_ms": 250, "faults": {"reply-delay": 5}},
      "cameras": [
        {"ip": "127.3.0.10", "mac": "02-AA-00-00-00-01", "hw": "YJ7"},
        {"faults": {"drop_after": 4096, "hang": true, "throttle": 1000}},
        {"ip": "127.3.0.20", "clock": "2030-01-02 03:04:05", "faults": {"reply-delay": 0}}
      ]})";
    std::string error;
    auto fleet = ParseFleetJson(text, CameraSpec{}, error);
    ASSERT_TRUE(fleet) << error;
    ASSERT_EQ(fleet->cameras.size(), 3u);
    const auto& a = fleet->cameras[0];
    const auto& b = fleet->cameras[1];
    const auto& c = fleet->cameras[2];
    EXPECT_EQ(a.type, "QV-X");
    EXPECT_EQ(a.hw, "YJ7");
    EXPECT_EQ(a.flashMs, 250u);
    EXPECT_EQ(a.faults.replyDelayMs, 5u);
    EXPECT_EQ(FormatMac(a.mac), "02:AA:00:00:00:01");
    // no address or MAC of its own: the ones after the previous camera's
    EXPECT_EQ(FormatIpv4(b.ip), "127.3.0.11");
    EXPECT_EQ(FormatMac(b.mac), "02:AA:00:00:00:02");
    EXPECT_EQ(b.faults.dropAfter, 4096);
    EXPECT_TRUE(b.faults.hang);
    EXPECT_EQ(b.faults.throttleBps, 1000u);
    EXPECT_EQ(c.faults.replyDelayMs, 0u);
    EXPECT_GT(c.clockOffset, 0);
    EXPECT_TRUE(ValidateFleet(*fleet, error)) << error;
    // a bare array is a fleet too
    auto bare = ParseFleetJson(R"([{"ip":"127.0.0.5"}])", CameraSpec{}, error);
    ASSERT_TRUE(bare) << error;
    EXPECT_EQ(FormatIpv4(bare->cameras[0].ip), "127.0.0.5");
}

TEST(FleetModel, BadJsonSaysWhatIsWrong) {
    struct Case {
        const char* text;
        const char* mentions;
    };
    const Case cases[] = {
        {"{", "not valid JSON"},
        {"{}", "no \"cameras\""},
        {R"({"cameras": {}})", "must be an array"},
        {"[]", "no camera"},
        {"[5]", "must be an object"},
        {R"([{"ip": "127.0.0.256"}])", "\"ip\""},
        {R"([{"mac": "02:00:00:00:00"}])", "\"mac\""},
        {R"([{"type": 7}])", "\"type\""},
        {R"([{"clock": "2030-13-01 00:00:00"}])", "\"clock\""},
        {R"([{"flash_ms": -1}])", "flash_ms"},
        {R"([{"faults": {"explode": true}}])", "unknown fault"},
        {R"([{"faults": {"drop-after": "many"}}])", "drop-after"},
        {R"([{"faults": {"hang": 2}}])", "hang"},
        {R"({"defaults": {"ip": "x"}, "cameras": [{}]})", "defaults"},
    };
    for (const Case& k : cases) {
        std::string error;
        EXPECT_FALSE(ParseFleetJson(k.text, CameraSpec{}, error)) << k.text;
        EXPECT_NE(error.find(k.mentions), std::string::npos) << k.text << " -> " << error;
    }
}

TEST(FleetModel, FaultOptions) {
    Faults f;
    std::string error;
    for (const char* faultText :
         {"refuse-connect", "hang", "fail-verify", "refuse-clock", "refuse_ip_change",
          "discovery-twice", "silent", "malformed", "drop-after=10", "throttle=12500000",
          "reply-delay=1", "no-route", "never-back", "drop-at-percent=40"}) {
        EXPECT_TRUE(ApplyFault(f, faultText, error)) << faultText << ": " << error;
    }
    EXPECT_TRUE(f.refuseConnect && f.hang && f.failVerify && f.refuseClock && f.refuseIpChange &&
                f.discoveryTwice && f.silent && f.malformed && f.noRoute && f.neverBack);
    EXPECT_EQ(f.dropAtPercent, 40);
    EXPECT_EQ(f.dropAfter, 10);
    EXPECT_EQ(f.throttleBps, 12500000u);
    EXPECT_EQ(f.replyDelayMs, 1u);
    EXPECT_TRUE(ApplyFault(f, "hang=false", error));
    EXPECT_FALSE(f.hang);
    for (const char* faultText :
         {"drop-after", "drop-after=-1", "reply-delay=600001", "hang=maybe", "nonsense",
          "throttle=1e6", "drop-at-percent=101", "drop-at-percent"}) {
        EXPECT_FALSE(ApplyFault(f, faultText, error)) << faultText;
    }
}

TEST(FleetModel, ValidationCatchesWhatTheWireCannotCarry) {
    CameraSpec templ;
    auto fleet =
        MakeUniformFleet(2, *ParseIpv4("127.0.0.1"), *ParseMac("02:00:00:00:00:01"), templ);
    std::string error;
    auto dupMac = fleet;
    dupMac.cameras[1].mac = dupMac.cameras[0].mac;
    EXPECT_FALSE(ValidateFleet(dupMac, error));
    EXPECT_NE(error.find("MAC"), std::string::npos);
    auto dupIp = fleet;
    dupIp.cameras[1].ip = dupIp.cameras[0].ip;
    EXPECT_FALSE(ValidateFleet(dupIp, error));
    auto longType = fleet;
    longType.cameras[0].type.assign(128, 'x');
    EXPECT_FALSE(ValidateFleet(longType, error));
    longType.cameras[0].type.assign(127, 'x');
    EXPECT_TRUE(ValidateFleet(longType, error)) << error;
    auto control = fleet;
    control.cameras[0].hw = "a\tb";
    EXPECT_FALSE(ValidateFleet(control, error));
    auto netAddr = fleet;
    netAddr.cameras[0].ip = *ParseIpv4("127.0.0.0");
    EXPECT_FALSE(ValidateFleet(netAddr, error));
}

}  // namespace
