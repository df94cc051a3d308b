// The camera at the address must be the one queued and judged: a table of
// address swaps against the scripted library.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"

using namespace enginetest;

namespace {

constexpr const char* kIp = "10.0.0.5";
constexpr const char* kMac = "02:51:56:00:00:01";

struct SwapCase {
    const char* name;
    NetScript::Hello hello;                // who answers at kIp
    TaskDispatcher::Expectation expected;  // handed over before queueing
    bool expect = true;                    // false: no expectation (an old caller)
    const char* aux = kMac;
    int result;
    ReasonCode reason;
    const char* other;  // who the outcome names
    bool sent;          // whether the clock and the file went out
};

void PrintTo(const SwapCase& c, std::ostream* os) {
    *os << c.name;
}

TaskDispatcher::Expectation Judged(const char* type, const char* hw, bool retry = false) {
    TaskDispatcher::Expectation e;
    e.type = type;
    e.hw = hw;
    e.checkVersion = retry;
    return e;
}

class AddressCheckTest : public ::testing::TestWithParam<SwapCase> {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qv-address-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "app_V2.6_KQM-RVT3305.jffs2").string();
        std::ofstream(file_) << "image";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
    std::string file_;
};

TEST_P(AddressCheckTest, NothingGoesToAnotherCamera) {
    const auto& c = GetParam();
    NetScript script;
    script.helloAt[kIp] = c.hello;
    FakeNet::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 1,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .syncTime = true,
                  .probeMs = 0});
    if (c.expect) {
        d.ExpectCamera(c.aux, c.expected);
    }
    d.Enqueue(kIp, c.aux, file_.c_str());
    ASSERT_TRUE(window.WaitForBatchDone());

    const auto results = window.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, c.result);
    EXPECT_EQ(results[0].outcome.reason, c.reason);
    EXPECT_EQ(results[0].outcome.otherMac, c.other);
    EXPECT_EQ(FakeNet::Count("File"), c.sent ? 1 : 0);
    EXPECT_EQ(FakeNet::Count("Query") + FakeNet::Count("TimeSet"), c.sent ? 2 : 0);
    EXPECT_EQ(FakeNet::Count("DisConn"), 1);  // the session is closed all the same
}

// The fleet of the outside review: .3 was a KQM-RVT3305, an LWZ484-MOE took its address.
constexpr const char* kOther = "02:51:56:00:00:02";
const auto kJudged = Judged("KQM-RVT3305", "101");
const auto kRetry = Judged("KQM-RVT3305", "101", true);
// clang-format off
INSTANTIATE_TEST_SUITE_P(Swaps, AddressCheckTest, ::testing::Values(
    SwapCase{"AnotherMac", {kOther, "LWZ484-MOE", "202B", ""}, kJudged, true, kMac,
             0, ReasonCode::OtherDevice, "02:51:56:00:00:02 LWZ484-MOE", false},
    SwapCase{"AnotherMacWithoutExpectation", {kOther, "", "", ""}, {}, false, kMac,
             0, ReasonCode::OtherDevice, kOther, false},
    SwapCase{"AnotherType", {kMac, "LWZ484-MOE", "101", ""}, kJudged, true, kMac,
             0, ReasonCode::OtherDevice, "02:51:56:00:00:01 LWZ484-MOE", false},
    SwapCase{"AnotherHardware", {kMac, "KQM-RVT3305", "202B", ""}, kJudged, true, kMac,
             0, ReasonCode::OtherDevice, "02:51:56:00:00:01 KQM-RVT3305 202B", false},
    SwapCase{"TheRightOne", {kMac, "KQM-RVT3305", "101", "2.5.0_1"}, kJudged, true, kMac,
             1, ReasonCode::None, "", true},
    SwapCase{"MacTextInLowerCase", {"02:51:56:00:00:0A", "KQM-RVT3305", "101", ""}, kJudged,
             true, "02:51:56:00:00:0a", 1, ReasonCode::None, "", true},
    SwapCase{"OnlyTheMacWithoutExpectation", {kMac, "LWZ484-MOE", "202B", ""}, {}, false, kMac,
             1, ReasonCode::None, "", true},
    SwapCase{"RetryOfACameraAtTheFilesVersion", {kMac, "KQM-RVT3305", "101", "V2.6.0_1a2b"},
             kRetry, true, kMac, 1, ReasonCode::AlreadyCurrent, "", false},
    SwapCase{"RetryOfACameraAtAnotherVersion", {kMac, "KQM-RVT3305", "101", "V2.5.0_1a2b"},
             kRetry, true, kMac, 1, ReasonCode::None, "", true}),
    [](const auto& row) { return std::string(row.param.name); });
// clang-format on

}  // namespace
