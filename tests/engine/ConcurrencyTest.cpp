#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"

using namespace enginetest;
using namespace std::chrono_literals;

namespace {

TEST(ConcurrencyTest, UpgradesRunOneCameraAtATime) {
    NetScript script;
    script.fileTime = 15ms;  // long enough for overlapping jobs to be caught
    script.failFile = {Ip(3)};
    FakeNet::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(FakeNet::Api(), HelperApi{});
    d.SetReportWindow(&window);
    constexpr int kCameras = 12;
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = kCameras,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .syncTime = true});
    for (int i = 0; i < kCameras; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "/work/app.bin");
    }
    ASSERT_TRUE(window.WaitForBatchDone());
    EXPECT_EQ(FakeNet::MaxOpenSessions(), 1);
    EXPECT_EQ(FakeNet::Count("Add"), kCameras);
    EXPECT_EQ(FakeNet::Count("Del"), kCameras);
    int ok = 0;
    for (const auto& r : window.Results()) {
        ok += r.result;
    }
    EXPECT_EQ(ok, kCameras - 1);
    EXPECT_EQ(window.BatchDoneCount(), 1);
}

TEST(ConcurrencyTest, IpJobsRunOnAllWorkersAtOnce) {
    HelperScript script;
    script.rendezvous = TaskDispatcher::kWorkerCount;
    FakeHelper::Reset(script);
    RecordingReportWindow window;
    TaskDispatcher d(NetApi{}, FakeHelper::Api());
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_MODIFY_IP, .total = TaskDispatcher::kWorkerCount});
    for (int i = 0; i < TaskDispatcher::kWorkerCount; ++i) {
        d.Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(window.WaitForBatchDone(60s));
    EXPECT_EQ(FakeHelper::MaxConcurrent(), TaskDispatcher::kWorkerCount);
}

class HeldUpgradeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NetScript script;
        script.holdFileOf = Ip(0);
        FakeNet::Reset(script);
        FakeHelper::Reset();
        d_ = std::make_unique<TaskDispatcher>(FakeNet::Api(), FakeHelper::Api());
        d_->SetReportWindow(&window_);
    }
    void TearDown() override {
        FakeNet::ReleaseFileUpdate();  // never leave a worker stuck
        d_.reset();
    }

    RecordingReportWindow window_;
    std::unique_ptr<TaskDispatcher> d_;
};

TEST_F(HeldUpgradeTest, EnqueueReturnsWhileAnUpgradeIsInProgress) {
    d_->BeginBatch({.kind = TASK_UPGRADE, .total = 3, .upgrade = UpgradeRecord(NET_UPGRADE_APP)});
    d_->Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));

    // The camera is still receiving its file; queueing the rest must not wait for it.
    auto rest = std::async(std::launch::async, [&] {
        d_->Enqueue(Ip(1).c_str(), Mac(1).c_str(), "/work/app.bin");
        d_->Enqueue(Ip(2).c_str(), Mac(2).c_str(), "/work/app.bin");
    });
    const bool returned = rest.wait_for(kPatience) == std::future_status::ready;
    EXPECT_TRUE(returned) << "Enqueue waited for the camera";
    EXPECT_EQ(FakeNet::Count("Add"), 1) << "the next upgrade waits for its turn";
    EXPECT_TRUE(window_.Reports().empty());

    FakeNet::ReleaseFileUpdate();
    rest.wait();
    ASSERT_TRUE(window_.WaitForBatchDone());
    EXPECT_EQ(window_.Results().size(), 3u);
    EXPECT_EQ(FakeNet::MaxOpenSessions(), 1);
}

TEST_F(HeldUpgradeTest, OtherJobsReportWhileAnUpgradeIsInProgress) {
    d_->BeginBatch({.kind = TASK_UPGRADE, .total = 1, .upgrade = UpgradeRecord(NET_UPGRADE_APP)});
    d_->Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));

    d_->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d_->Enqueue("10.7.0.1", Mac(9).c_str(), "");
    ASSERT_TRUE(window_.WaitForBatchDone()) << "a report waited for the camera";
    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_STREQ(results[0].aux, Mac(9).c_str());
}

TEST_F(HeldUpgradeTest, StopLetsTheRunningUpgradeEndAndStartsNoOther) {
    d_->BeginBatch({.kind = TASK_UPGRADE, .total = 2, .upgrade = UpgradeRecord(NET_UPGRADE_APP)});
    d_->Enqueue(Ip(0).c_str(), Mac(0).c_str(), "/work/app.bin");
    ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));
    // Upgrades take turns in no set order, so this one is queued behind the held one.
    d_->Enqueue(Ip(1).c_str(), Mac(1).c_str(), "/work/app.bin");

    auto stopping = std::async(std::launch::async, [&] { d_->Stop(); });
    ASSERT_TRUE(Eventually([&] { return d_->RunningWorkers() == 0; }));
    FakeNet::ReleaseFileUpdate();  // the camera finishes of its own accord
    ASSERT_EQ(stopping.wait_for(kPatience), std::future_status::ready);

    EXPECT_EQ(FakeNet::Count("Add"), 1);
    EXPECT_EQ(FakeNet::Count("DisConn"), 1) << "the running job ended normally";
    EXPECT_EQ(FakeNet::Count("Del"), 1);
    EXPECT_EQ(d_->Batch().finished, 2u);
    EXPECT_TRUE(window_.Reports().empty()) << "nothing is posted once Stop has begun";
}

}  // namespace
