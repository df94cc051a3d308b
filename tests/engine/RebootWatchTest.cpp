#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

enum class StopBy { None, Batch, Dispatcher };

// One batch of upgraded cameras through the watch after reboot.
struct WatchCase {
    const char* name;
    int cameras;
    int parallel;
    int backWhenFiles;  // cameras answer only once this many files went through
    int neverBack;      // the first n cameras never answer again
    bool probeMany;
    int verifyMs;
    StopBy stop;
    int proven;  // proofs with the named version
    int notBack;
    int stopped;
};

class RebootWatchTest : public ::testing::TestWithParam<WatchCase> {};

TEST_P(RebootWatchTest, EveryCameraGetsItsResultThenItsProofThenTheBatchEndsOnce) {
    const WatchCase& c = GetParam();
    NetScript script;
    script.reboots = true;
    script.probeMany = c.probeMany;
    script.backWhenFiles = c.backWhenFiles;
    for (int i = 0; i < c.neverBack; ++i) {
        script.neverBack.insert(Ip(i));
    }
    FakeNet::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = static_cast<uint32_t>(c.cameras),
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .parallel = c.parallel,
                  .verifyTimeoutMs = c.verifyMs,
                  .verifyTiming = {1, 5, 2, 0}});
    for (int i = 0; i < c.cameras; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "/nonexistent/app_V2.6_x.jffs2");
    }
    if (c.stop != StopBy::None) {
        // Every verdict is in and every camera is being watched.
        ASSERT_TRUE(Eventually([&] { return window.Results().size() == size_t(c.cameras); }));
        const auto stopAt = std::chrono::steady_clock::now();
        if (c.stop == StopBy::Batch) {
            d.StopBatch(false);
            ASSERT_TRUE(window.WaitForBatchDone(10s));
        } else {
            d.Stop();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 10s) << "the watch ends promptly";
    }
    if (c.stop != StopBy::Dispatcher) {
        ASSERT_TRUE(window.WaitForBatchDone());
    }
    d.Stop();

    const auto reports = window.Reports();
    std::map<std::string, size_t> resultAt;
    std::map<VerifyResult, int> verdicts;
    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& r = reports[i];
        if (r.type == Report::kResult) {
            EXPECT_EQ(r.result.result, 1);
            EXPECT_TRUE(r.result.outcome.proofFollows);
            EXPECT_TRUE(resultAt.emplace(r.result.aux, i).second) << "one result each";
        } else if (r.type == Report::kProof) {
            ASSERT_EQ(resultAt.count(r.result.aux), 1u) << "a proof after its result";
            EXPECT_FALSE(r.result.outcome.proofFollows);
            ++verdicts[r.result.outcome.verify];
        } else if (r.type == Report::kBatchDone) {
            EXPECT_EQ(i, reports.size() - 1) << "batch-done comes last";
        }
    }
    EXPECT_EQ(resultAt.size(), size_t(c.cameras));
    EXPECT_EQ(verdicts[VerifyResult::NamedVersion], c.proven);
    EXPECT_EQ(verdicts[VerifyResult::NotBack], c.notBack);
    EXPECT_EQ(verdicts[VerifyResult::Stopped], c.stopped);
    // Nothing is posted once the dispatcher stops: its batch never ends there.
    EXPECT_EQ(window.BatchDoneCount(), c.stop == StopBy::Dispatcher ? 0 : 1);
    if (c.stop == StopBy::None) {
        EXPECT_GT(FakeNet::Lookups(), 0);  // a stop may come before the first round
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RebootWatchTest,
    ::testing::Values(
        // More cameras than workers, none back before every file went through:
        // a worker held by its camera's reboot would never reach the last ones.
        WatchCase{"MoreCamerasThanWorkersAllProven", 75, 30, 75, 0, true, 60000, StopBy::None, 75,
                  0, 0},
        WatchCase{"ProbedOneAfterAnother", 40, 10, 40, 0, false, 60000, StopBy::None, 40, 0, 0},
        WatchCase{"ACameraNeverBack", 6, 2, 0, 1, true, 300, StopBy::None, 5, 1, 0},
        WatchCase{"StopDuringTheWatch", 35, 30, 0, 35, true, 60000, StopBy::Batch, 0, 0, 35},
        WatchCase{"DispatcherStoppedDuringTheWatch", 35, 30, 0, 35, true, 60000, StopBy::Dispatcher,
                  0, 0, 0}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
