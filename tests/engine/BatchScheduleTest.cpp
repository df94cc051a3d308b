// Upgrade batches in slots: how many run at once, in what order they start,
// and what a stop or the failure limit does to the cameras not yet started.
// One table; every row is checked for the reports' order and completeness.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

enum class Stop { None, Finish, Abandon, FinishThenAbandon };

struct ScheduleCase {
    const char* name;
    int parallel;
    int cameras;
    std::vector<int> failing;  // cameras whose file is rejected
    std::vector<int> dead;     // cameras that take no connection
    uint32_t maxFailures;
    // Transfers that are held at once before anything is released or stopped
    // (0: none is held): proof that this many run side by side.
    int heldAtOnce;
    Stop stop;
    int ok, failed, stopped, held;
    int failedSlack = 0;  // with several slots, cameras in flight at the limit may fail too
};

void PrintTo(const ScheduleCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<int> All(int n) {
    std::vector<int> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        v[static_cast<size_t>(i)] = i;
    }
    return v;
}

class BatchScheduleTest : public ::testing::TestWithParam<ScheduleCase> {
  protected:
    void TearDown() override { FakeNet::ReleaseFileUpdate(); }
};

TEST_P(BatchScheduleTest, SlotsStartInOrderAndEveryCameraIsReportedOnce) {
    const ScheduleCase& c = GetParam();
    NetScript script;
    for (int i : c.failing) {
        script.failFile.insert(Ip(i));
    }
    for (int i : c.dead) {
        script.deadProbe.insert(Ip(i));
    }
    script.holdEveryFile = c.heldAtOnce > 0;
    script.fileTime = c.heldAtOnce > 0 ? 0ms : 2ms;
    FakeNet::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = static_cast<uint32_t>(c.cameras),
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .parallel = c.parallel,
                  .maxFailures = c.maxFailures});
    for (int i = 0; i < c.cameras; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "/work/app.bin");
    }

    if (c.heldAtOnce > 0) {
        ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience, c.heldAtOnce));
        if (c.stop == Stop::Finish || c.stop == Stop::FinishThenAbandon) {
            d.StopBatch(false);
        }
        if (c.stop == Stop::Abandon || c.stop == Stop::FinishThenAbandon) {
            d.StopBatch(true);
        } else {
            FakeNet::ReleaseFileUpdate();
        }
    }
    ASSERT_TRUE(window.WaitForBatchDone(60s));

    // Reports: a result and its progress per camera, counting up, then one batch-done.
    const auto reports = window.Reports();
    ASSERT_EQ(reports.size(), static_cast<size_t>(2 * c.cameras + 1));
    int ok = 0, failed = 0, stopped = 0, held = 0;
    std::set<std::string> reported, skipped;
    for (int k = 0; k < c.cameras; ++k) {
        const Report& r = reports[static_cast<size_t>(2 * k)];
        const Report& p = reports[static_cast<size_t>(2 * k + 1)];
        ASSERT_EQ(r.type, Report::kResult);
        ASSERT_EQ(p.type, Report::kProgress);
        EXPECT_EQ(p.finished, static_cast<uint32_t>(k + 1));
        EXPECT_TRUE(reported.insert(r.result.aux).second) << "reported twice: " << r.result.aux;
        const ReasonCode why = r.result.outcome.reason;
        const bool notRun = why == ReasonCode::NotStarted || why == ReasonCode::Held;
        ok += r.result.result == 1 ? 1 : 0;
        failed += r.result.result == 0 && !notRun ? 1 : 0;
        stopped += why == ReasonCode::NotStarted ? 1 : 0;
        held += why == ReasonCode::Held ? 1 : 0;
        if (notRun) {
            EXPECT_EQ(r.result.result, 0);
            EXPECT_EQ(r.result.outcome.result, OutcomeResult::None);
            skipped.insert(r.result.ip);
        }
    }
    EXPECT_EQ(reports.back().type, Report::kBatchDone);
    EXPECT_EQ(window.BatchDoneCount(), 1);
    EXPECT_EQ(d.Batch().finished, static_cast<uint32_t>(c.cameras));

    EXPECT_EQ(ok, c.ok);
    EXPECT_GE(failed, c.failed);
    EXPECT_LE(failed, c.failed + c.failedSlack);
    EXPECT_EQ(stopped, c.stopped);
    EXPECT_EQ(held, c.failedSlack > 0 ? c.cameras - ok - failed : c.held);
    EXPECT_EQ(d.Batch().stopped, c.stop != Stop::None);
    EXPECT_EQ(d.Batch().held, held > 0 || (c.held > 0 && c.failedSlack > 0));

    // Never more at once than the slots; cameras start in the order queued;
    // a camera not started is never touched.
    EXPECT_LE(FakeNet::MaxOpenSessions(), c.parallel);
    if (c.heldAtOnce > 0) {
        EXPECT_EQ(FakeNet::MaxOpenSessions(), c.heldAtOnce);
    }
    std::set<std::string> started;
    for (const auto& call : FakeNet::Calls()) {
        if (call.fn == "Add") {
            EXPECT_TRUE(started.insert(call.text).second) << call.text << " started twice";
            EXPECT_EQ(skipped.count(call.text), 0u) << call.text << " was touched";
        }
    }
    ASSERT_EQ(started.size() + skipped.size(), static_cast<size_t>(c.cameras));
    for (size_t i = 0; i < started.size(); ++i) {
        EXPECT_EQ(started.count(Ip(static_cast<int>(i))), 1u) << "camera " << i << " skipped";
    }
    const bool abandoned = c.stop == Stop::Abandon || c.stop == Stop::FinishThenAbandon;
    EXPECT_EQ(FakeNet::Count("Abort"), abandoned ? c.heldAtOnce : 0);
    EXPECT_EQ(FakeNet::Count("Del"), static_cast<int>(started.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchScheduleTest,
    ::testing::Values(
        // name, N, cameras, failing, dead, max failures, held at once, stop,
        // ok, failed, stopped, held (, failed slack)
        ScheduleCase{"OneAtATime", 1, 5, {}, {}, 0, 1, Stop::None, 5, 0, 0, 0},
        ScheduleCase{"TwoAtOnce", 2, 8, {}, {}, 0, 2, Stop::None, 8, 0, 0, 0},
        ScheduleCase{"ThirtyAtOnce", 30, 100, {}, {}, 0, 30, Stop::None, 100, 0, 0, 0},
        ScheduleCase{"MoreSlotsThanCameras", 30, 3, {}, {}, 0, 3, Stop::None, 3, 0, 0, 0},
        ScheduleCase{"FailingOneAtATime", 1, 6, {1, 4}, {2}, 0, 0, Stop::None, 3, 3, 0, 0},
        ScheduleCase{"FailingTwoAtOnce", 2, 10, {1, 4, 7}, {2}, 0, 0, Stop::None, 6, 4, 0, 0},
        ScheduleCase{"FailingThirtyAtOnce", 30, 90, All(45), {60}, 0, 0, Stop::None, 44, 46, 0, 0},
        ScheduleCase{"StopOneAtATime", 1, 6, {}, {}, 0, 1, Stop::Finish, 1, 0, 5, 0},
        ScheduleCase{"StopTwoAtOnce", 2, 6, {}, {}, 0, 2, Stop::Finish, 2, 0, 4, 0},
        ScheduleCase{"StopThirtyAtOnce", 30, 45, {}, {}, 0, 30, Stop::Finish, 30, 0, 15, 0},
        ScheduleCase{"AbandonTwoAtOnce", 2, 6, {}, {}, 0, 2, Stop::Abandon, 0, 2, 4, 0},
        ScheduleCase{
            "StopThenAbandonThirty", 30, 40, {}, {}, 0, 30, Stop::FinishThenAbandon, 0, 30, 10, 0},
        ScheduleCase{"LimitOneAtATime", 1, 10, {1, 2, 5}, {}, 2, 0, Stop::None, 1, 2, 0, 7},
        ScheduleCase{"LimitCountsDeadCameras", 1, 8, {}, {0, 3}, 2, 0, Stop::None, 2, 2, 0, 4},
        ScheduleCase{"LimitNotReached", 2, 6, {0}, {}, 2, 0, Stop::None, 5, 1, 0, 0},
        ScheduleCase{"LimitTwoAtOnce", 2, 12, All(12), {}, 3, 0, Stop::None, 0, 3, 0, 9, 1},
        ScheduleCase{"LimitThirtyAtOnce", 30, 60, {}, All(60), 5, 0, Stop::None, 0, 5, 0, 55, 29}),
    [](const ::testing::TestParamInfo<ScheduleCase>& p) { return p.param.name; });

// Queued after a stop: never started, reported as stopped.
TEST(BatchStopTest, TaskQueuedAfterTheStopIsNotStarted) {
    NetScript script;
    script.holdEveryFile = true;
    FakeNet::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE, .total = 2, .upgrade = UpgradeRecord(NET_UPGRADE_APP)});
    d.Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));
    d.StopBatch(false);
    d.Enqueue(Ip(1).c_str(), Mac(1).c_str(), "/work/app.bin");
    FakeNet::ReleaseFileUpdate();
    ASSERT_TRUE(window.WaitForBatchDone());
    const auto results = window.Results();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].outcome.reason, ReasonCode::NotStarted);
    EXPECT_STREQ(results[0].aux, Mac(1).c_str());
    EXPECT_EQ(results[1].result, 1);
    EXPECT_EQ(FakeNet::Count("Add"), 1);
}

// The next batch starts afresh: not stopped, its limit counted from zero.
TEST(BatchStopTest, NextBatchIsNotStopped) {
    FakeNet::Reset();
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE, .total = 1});
    d.StopBatch(true);
    EXPECT_TRUE(d.Batch().stopped);
    d.BeginBatch({.kind = TASK_UPGRADE, .total = 1, .upgrade = UpgradeRecord(NET_UPGRADE_APP)});
    EXPECT_FALSE(d.Batch().stopped);
    EXPECT_EQ(d.Batch().failures, 0u);
    d.Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    ASSERT_TRUE(window.WaitForBatchDone());
    EXPECT_EQ(window.Results().at(0).result, 1);
}

TEST(BatchSettingsTest, ParallelProbeAndVerifyAreClamped) {
    FakeNet::Reset();
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    EXPECT_EQ(d.Batch().settings.parallel, 1);
    EXPECT_EQ(d.Batch().settings.maxFailures, 0u);
    EXPECT_EQ(d.Batch().settings.probeMs, TaskDispatcher::kDefaultProbeMs);
    struct Row {
        int parallel, probeMs, verifyMs;
        int parallelAfter, probeAfter, verifyAfter;
    };
    const Row rows[] = {
        {0, -5, -1, 1, 0, 0},
        {31, 10'000'000, 5000, 30, TaskDispatcher::kMaxProbeMs, 5000},
        {7, 250, 0, 7, 250, 0},
    };
    for (const Row& r : rows) {
        d.BeginBatch({.kind = TASK_UPGRADE,
                      .parallel = r.parallel,
                      .probeMs = r.probeMs,
                      .verifyTimeoutMs = r.verifyMs});
        const BatchSettings s = d.Batch().settings;
        EXPECT_EQ(s.parallel, r.parallelAfter) << r.parallel;
        EXPECT_EQ(s.probeMs, r.probeAfter) << r.probeMs;
        EXPECT_EQ(s.verifyTimeoutMs, r.verifyAfter) << r.verifyMs;
    }
}

// The failure limit belongs to its batch: the IP batch after a held upgrade
// batch runs every camera.
TEST(BatchSettingsTest, NextBatchDoesNotInheritTheFailureLimit) {
    NetScript script;
    script.deadProbe = {Ip(0), Ip(1)};
    FakeNet::Reset(script);
    HelperScript refuse;
    refuse.refuse = {Mac(2), Mac(3)};
    FakeHelper::Reset(refuse);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), FakeHelper::Api());
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 2,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .maxFailures = 1});
    d.Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    d.Enqueue(Ip(1).c_str(), Mac(1).c_str(), "/work/app.bin");
    ASSERT_TRUE(window.WaitForBatchDone());
    EXPECT_TRUE(d.Batch().held);

    RecordingReportWindow next;
    d.SetReportWindow(&next);
    d.BeginBatch({.kind = TASK_MODIFY_IP, .total = 3});
    for (int i = 2; i < 5; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(next.WaitForBatchDone());
    EXPECT_FALSE(d.Batch().held);
    EXPECT_EQ(FakeHelper::Calls().size(), 3u) << "no camera of the IP batch was held";
}

}  // namespace
