#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"

using namespace enginetest;

namespace {

constexpr const char* kCamera = "10.0.0.5";

struct UpgradeCase {
    const char* name;
    NetScript script;
    uint16_t upgradeType;
    bool syncTime;
    int result;
    std::vector<std::string> calls;
    int probeMs = TaskDispatcher::kDefaultProbeMs;
};

void PrintTo(const UpgradeCase& c, std::ostream* os) {
    *os << c.name;
}

NetScript Refusing(std::set<std::string> NetScript::*which, int queryAnswer = 0) {
    NetScript s;
    s.*which = {kCamera};
    s.queryAnswer = queryAnswer;
    return s;
}

NetScript QueryFails() {
    NetScript s;
    s.queryAnswer = KORVEL_E_TIMEOUT;
    return s;
}

class UpgradeJobTest : public ::testing::TestWithParam<UpgradeCase> {
  protected:
    RecordingReportWindow window_;
};

TEST_P(UpgradeJobTest, CallsTheCameraLibraryInOrderAndReportsTheOutcome) {
    const auto& c = GetParam();
    FakeNet::Reset(c.script);
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window_);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 1,
                  .upgrade = UpgradeRecord(c.upgradeType),
                  .syncTime = c.syncTime,
                  .probeMs = c.probeMs});
    d.Enqueue(kCamera, "00:11:22:33:44:55", "/work/Pack1.bin");
    ASSERT_TRUE(window_.WaitForBatchDone());

    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, c.result);
    EXPECT_EQ(results[0].kind, TASK_UPGRADE);
    EXPECT_EQ(FakeNet::CallNames(), c.calls);

    // Every call after Add uses the handle Add gave; connect gets 30000 and 5.
    const auto calls = FakeNet::Calls();
    for (const auto& call : calls) {
        if (call.fn == "Add") {
            EXPECT_EQ(call.text, kCamera);
        } else {
            EXPECT_EQ(call.handle, 100) << call.fn;
        }
        if (call.fn == "Conn") {
            EXPECT_EQ(call.arg1, 30000);
            EXPECT_EQ(call.arg2, 5);
        }
        if (call.fn == "Probe") {
            EXPECT_EQ(call.arg1, c.probeMs);
        }
        if (call.fn == "File") {
            EXPECT_EQ(call.arg1, c.upgradeType);
            EXPECT_EQ(call.text, "/work/Pack1.bin");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UpgradeJobTest,
    ::testing::Values(
        UpgradeCase{"AllGood",
                    {},
                    NET_UPGRADE_APP,
                    false,
                    1,
                    {"Add", "Probe", "Conn", "File", "DisConn", "Del"}},
        UpgradeCase{"ForcedType",
                    {},
                    NET_UPGRADE_FORCED,
                    false,
                    1,
                    {"Add", "Probe", "Conn", "File", "DisConn", "Del"}},
        UpgradeCase{"NotAdded", Refusing(&NetScript::refuseAdd), NET_UPGRADE_APP, true, 0, {"Add"}},
        UpgradeCase{"NotConnected",
                    Refusing(&NetScript::refuseConnect),
                    NET_UPGRADE_APP,
                    true,
                    0,
                    {"Add", "Probe", "Conn", "DisConn", "Del"}},
        UpgradeCase{"FileRejected",
                    Refusing(&NetScript::failFile),
                    NET_UPGRADE_FS,
                    false,
                    0,
                    {"Add", "Probe", "Conn", "File", "DisConn", "Del"}},
        UpgradeCase{"ClockSet",
                    {},
                    NET_UPGRADE_APP,
                    true,
                    1,
                    {"Add", "Probe", "Conn", "Query", "TimeSet", "File", "DisConn", "Del"}},
        UpgradeCase{"ClockQueryFails",
                    QueryFails(),
                    NET_UPGRADE_APP,
                    true,
                    1,
                    {"Add", "Probe", "Conn", "Query", "File", "DisConn", "Del"}},
        UpgradeCase{"UnknownType", {}, NET_UPGRADE_UNKNOWN, true, 0, {}},
        // Off or unreachable: failed at the probe, without the specified attempts.
        UpgradeCase{"DeadCamera",
                    Refusing(&NetScript::deadProbe),
                    NET_UPGRADE_APP,
                    true,
                    0,
                    {"Add", "Probe", "DisConn", "Del"}},
        UpgradeCase{"ProbeOff",
                    Refusing(&NetScript::deadProbe),
                    NET_UPGRADE_APP,
                    false,
                    1,
                    {"Add", "Conn", "File", "DisConn", "Del"},
                    0},
        UpgradeCase{"ShortProbe",
                    {},
                    NET_UPGRADE_APP,
                    false,
                    1,
                    {"Add", "Probe", "Conn", "File", "DisConn", "Del"},
                    250}),
    [](const ::testing::TestParamInfo<UpgradeCase>& p) { return p.param.name; });

TEST(UpgradeClockTest, CameraGetsThePcDateAndTimeAndKeepsItsOwnBytes) {
    FakeNet::Reset();
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 1,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .syncTime = true,
                  .clock = [] { return platform::LocalTime{2031, 12, 24, 23, 58, 59, 987}; }});
    d.Enqueue(kCamera, "00:11:22:33:44:55", "/work/app.bin");
    ASSERT_TRUE(window.WaitForBatchDone());

    const auto t = FakeNet::LastTimeSet();
    EXPECT_EQ(t.usYear, 2031);
    EXPECT_EQ(t.ucMonth, 12);
    EXPECT_EQ(t.ucDay, 24);
    EXPECT_EQ(t.ucHour, 23);
    EXPECT_EQ(t.ucMinute, 58);
    EXPECT_EQ(t.ucSecond, 59);
    const uint8_t cameraBytes[5] = {11, 22, 33, 44, 55};
    EXPECT_EQ(0, std::memcmp(t.ucReserved, cameraBytes, sizeof(cameraBytes)));
}

TEST(UpgradeBatchTest, UnknownTypeFailsEveryCameraWithoutAddingOne) {
    FakeNet::Reset();
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE, .total = 4, .upgrade = UpgradeRecord(NET_UPGRADE_UNKNOWN)});
    for (int i = 0; i < 4; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "/work/x.bin");
    }
    ASSERT_TRUE(window.WaitForBatchDone());
    const auto results = window.Results();
    ASSERT_EQ(results.size(), 4u);
    for (const auto& r : results) {
        EXPECT_EQ(r.result, 0);
    }
    EXPECT_EQ(FakeNet::Count("Add"), 0);
}

TEST(UpgradeBatchTest, MissingLibraryEntriesFailTheUpgradeWithoutCrashing) {
    RecordingReportWindow window;
    TaskDispatcher d(NetApi{}, HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 1,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .syncTime = true});
    d.Enqueue(kCamera, "00:11:22:33:44:55", "/work/x.bin");
    ASSERT_TRUE(window.WaitForBatchDone());
    ASSERT_EQ(window.Results().size(), 1u);
    EXPECT_EQ(window.Results()[0].result, 0);
}

}  // namespace
