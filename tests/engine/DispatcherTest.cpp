#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"
#include "platform/Paths.h"

using namespace enginetest;

namespace {

class DispatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeNet::Reset();
        FakeHelper::Reset();
    }

    // A dispatcher with the scripted libraries and a recording report window.
    std::unique_ptr<TaskDispatcher> Make(HelperApi helper = FakeHelper::Api()) {
        auto d = std::make_unique<TaskDispatcher>(FakeNet::Api(), helper);
        d->SetReportWindow(&window_);
        return d;
    }

    RecordingReportWindow window_;
};

TEST_F(DispatcherTest, StartsWithTheInitialBatchFields) {
    auto d = Make();
    EXPECT_EQ(d->RunningWorkers(), TaskDispatcher::kWorkerCount);
    const BatchStatus batch = d->Batch();
    EXPECT_EQ(batch.settings.kind, TASK_NONE);
    EXPECT_EQ(batch.settings.total, 0u);
    EXPECT_EQ(batch.finished, 0u);
    EXPECT_FALSE(batch.settings.syncTime);
    EXPECT_EQ(d->NextWorker(), 0);
    EXPECT_EQ(batch.settings.defaultIp, "192.168.0.10");
    ASSERT_FALSE(d->Helper().Folder().empty());
    EXPECT_EQ(d->Helper().Folder().back(), platform::kPathSeparator);
}

struct OneTaskCase {
    TaskKind kind;
    const char* reportedIp;
};

void PrintTo(const OneTaskCase& c, std::ostream* os) {
    *os << "kind " << c.kind;
}

class OneTaskTest : public DispatcherTest, public ::testing::WithParamInterface<OneTaskCase> {};

TEST_P(OneTaskTest, ReportsResultThenProgressOneThenBatchDone) {
    const auto& c = GetParam();
    auto d = Make();
    d->BeginBatch({.kind = c.kind,
                   .total = 1,
                   .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                   .defaultIp = "10.9.9.9"});
    d->Enqueue("10.0.0.5", "00:11:22:33:44:55", c.kind == TASK_UPGRADE ? "/tmp/fw.bin" : "");
    ASSERT_TRUE(window_.WaitForBatchDone());

    const auto reports = window_.Reports();
    ASSERT_EQ(reports.size(), 3u);
    ASSERT_EQ(reports[0].type, Report::kResult);
    EXPECT_STREQ(reports[0].result.ip, c.reportedIp);
    EXPECT_STREQ(reports[0].result.aux, "00:11:22:33:44:55");
    EXPECT_EQ(reports[0].result.kind, c.kind);
    EXPECT_EQ(reports[0].result.result, 1);
    EXPECT_EQ(reports[0].result.reserved, -1);
    ASSERT_EQ(reports[1].type, Report::kProgress);
    EXPECT_EQ(reports[1].finished, 1u);
    ASSERT_EQ(reports[2].type, Report::kBatchDone);
    EXPECT_EQ(reports[2].kind, c.kind);
    EXPECT_EQ(d->Batch().finished, 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OneTaskTest,
                         ::testing::Values(OneTaskCase{TASK_MODIFY_IP, "10.0.0.5"},
                                           OneTaskCase{TASK_RESTORE_IP, "10.9.9.9"},
                                           OneTaskCase{TASK_UPGRADE, "10.0.0.5"}));

TEST_F(DispatcherTest, ManyTasksEachReportInOrderAndBatchDoneOnceAfterTheLast) {
    constexpr int kTasks = 75;
    auto d = Make();
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = kTasks});
    for (int i = 0; i < kTasks; ++i) {
        d->Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(window_.WaitForBatchDone());

    const auto reports = window_.Reports();
    ASSERT_EQ(reports.size(), 2u * kTasks + 1);
    std::set<std::string> macs;
    for (int i = 0; i < kTasks; ++i) {
        const auto& result = reports[2 * static_cast<size_t>(i)];
        const auto& progress = reports[2 * static_cast<size_t>(i) + 1];
        ASSERT_EQ(result.type, Report::kResult) << i;
        ASSERT_EQ(progress.type, Report::kProgress) << i;
        EXPECT_EQ(progress.finished, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(result.result.result, 1);
        macs.insert(result.result.aux);
    }
    EXPECT_EQ(macs.size(), static_cast<size_t>(kTasks));
    EXPECT_EQ(reports.back().type, Report::kBatchDone);
    EXPECT_EQ(window_.BatchDoneCount(), 1);
}

// Whether the cameras of the proof test answer again after their reboot.
std::atomic<bool> g_cameraBack{false};

int ProbeAfterReboot(const char* ip, int, tNetDeviceInfo* info) {
    if (!g_cameraBack) {
        return static_cast<int>(KORVEL_E_TIMEOUT);
    }
    *info = {};
    const std::string text = ip;
    const uint8_t mac[6] = {
        0x02, 0x51, 0x56, 0, 0, static_cast<uint8_t>(std::stoi(text.substr(text.rfind('.') + 1)))};
    std::memcpy(info->ucMac, mac, sizeof(mac));
    std::snprintf(info->szSoftVersion, sizeof(info->szSoftVersion), "%s", "2.6.0_1a2b");
    return 0;
}

// The result is the verdict's, posted when the camera gives it; its proof after
// reboot follows, and the batch ends only after every proof.
TEST_F(DispatcherTest, TheResultComesAtTheVerdictAndTheProofBeforeBatchDone) {
    g_cameraBack = false;
    NetApi net = FakeNet::Api();
    net.ProbeDevice = ProbeAfterReboot;
    TaskDispatcher d(net, HelperApi{});
    d.SetReportWindow(&window_);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 2,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .verifyTimeoutMs = 60000,
                  .verifyTiming = {1, 5, 0, 0}});
    d.Enqueue("10.0.0.5", "02:51:56:00:00:05", "/nonexistent/app_V2.6_x.jffs2");
    d.Enqueue("10.0.0.6", "02:51:56:00:00:06", "/nonexistent/app_V2.6_x.jffs2");
    // Both verdicts, while neither camera is back yet.
    ASSERT_TRUE(window_.WaitForReports(4, std::chrono::seconds(20)));
    EXPECT_EQ(window_.BatchDoneCount(), 0);
    EXPECT_TRUE(window_.Proofs().empty());
    g_cameraBack = true;
    ASSERT_TRUE(window_.WaitForBatchDone());
    d.Stop();

    const auto reports = window_.Reports();
    ASSERT_EQ(reports.size(), 7u);
    const Report::Type order[] = {Report::kResult,   Report::kProgress, Report::kResult,
                                  Report::kProgress, Report::kProof,    Report::kProof,
                                  Report::kBatchDone};
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].type, order[i]) << i;
    }
    EXPECT_EQ(reports[3].finished, 2u);
    for (size_t i : {0u, 2u}) {
        EXPECT_TRUE(reports[i].result.outcome.proofFollows);
        EXPECT_EQ(reports[i].result.outcome.verify, VerifyResult::NotChecked);
    }
    for (size_t i : {4u, 5u}) {
        EXPECT_FALSE(reports[i].result.outcome.proofFollows);
        EXPECT_EQ(reports[i].result.outcome.verify, VerifyResult::NamedVersion);
    }
    EXPECT_NE(std::string(reports[4].result.aux), reports[5].result.aux);
    EXPECT_EQ(window_.BatchDoneCount(), 1);
}

TEST_F(DispatcherTest, ThirtyFirstTaskGoesToTheFirstWorkerAndTheTurnCarriesAcrossBatches) {
    auto d = Make();
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 31});
    for (int i = 0; i < 31; ++i) {
        d->Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(window_.WaitForBatchDone());
    EXPECT_EQ(d->NextWorker(), 1);

    std::vector<std::thread::id> threadOf(31);
    for (const auto& call : FakeHelper::Calls()) {
        for (int i = 0; i < 31; ++i) {
            if (call.mac == Mac(i)) {
                threadOf[static_cast<size_t>(i)] = call.thread;
            }
        }
    }
    const std::set<std::thread::id> firstThirty(threadOf.begin(), threadOf.begin() + 30);
    EXPECT_EQ(firstThirty.size(), 30u) << "each of the first 30 tasks has a worker of its own";
    EXPECT_EQ(threadOf[30], threadOf[0]);

    // The next batch goes on from worker 1.
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d->Enqueue("10.2.0.1", "AA:AA:AA:AA:AA:AA", "");
    EXPECT_EQ(d->NextWorker(), 2);
}

struct TextCase {
    size_t ipLen, auxLen, pathLen;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.ipLen << "/" << c.auxLen << "/" << c.pathLen << " characters";
}

class TextCutTest : public DispatcherTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextCutTest, TextsAreCutToTheFieldAndStayTerminated) {
    const auto& c = GetParam();
    const std::string ip(c.ipLen, '1');
    const std::string aux(c.auxLen, 'A');
    const std::string path(c.pathLen, 'p');
    auto d = Make();
    d->BeginBatch({.kind = TASK_UPGRADE, .total = 1, .upgrade = UpgradeRecord(NET_UPGRADE_KERNEL)});
    d->Enqueue(ip.c_str(), aux.c_str(), path.c_str());
    ASSERT_TRUE(window_.WaitForBatchDone());

    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(std::string(results[0].ip), ip.substr(0, 31));
    EXPECT_EQ(std::string(results[0].aux), aux.substr(0, 31));
    const auto calls = FakeNet::Calls();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, ip.substr(0, 31)) << "what the camera library was given";
    const auto update = FakeNet::LastFileUpdate();
    EXPECT_EQ(update.UpgradeType, NET_UPGRADE_KERNEL);
    EXPECT_EQ(std::string(update.szFilePath), path.substr(0, 255));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TextCutTest,
                         ::testing::Values(TextCase{0, 0, 0}, TextCase{31, 31, 255},
                                           TextCase{32, 32, 256}, TextCase{200, 90, 1000}));

TEST_F(DispatcherTest, NullTextsBecomeEmptyTexts) {
    auto d = Make();
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d->Enqueue(nullptr, nullptr, nullptr);
    ASSERT_TRUE(window_.WaitForBatchDone());
    const auto calls = FakeHelper::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].mac, "");
    EXPECT_EQ(calls[0].ip, "");
}

TEST_F(DispatcherTest, WithoutReportWindowTasksStillRunAndCount) {
    auto d = Make();
    d->SetReportWindow(nullptr);
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 5});
    for (int i = 0; i < 5; ++i) {
        d->Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(Eventually([&] { return d->Batch().finished == 5; }));
    EXPECT_EQ(FakeHelper::Calls().size(), 5u);
    EXPECT_TRUE(window_.Reports().empty());
}

TEST_F(DispatcherTest, UnknownKindReportsFailureCountsAndCallsNothing) {
    auto d = Make();
    d->BeginBatch({.kind = static_cast<TaskKind>(7), .total = 2});
    d->Enqueue("10.0.0.1", "00:00:00:00:00:01", "");
    d->Enqueue("10.0.0.2", "00:00:00:00:00:02", "");
    ASSERT_TRUE(window_.WaitForBatchDone());
    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 2u);
    for (const auto& r : results) {
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.kind, 7);
    }
    EXPECT_EQ(window_.Reports().back().kind, 7);
    EXPECT_TRUE(FakeNet::Calls().empty());
    EXPECT_TRUE(FakeHelper::Calls().empty());
}

TEST_F(DispatcherTest, TaskThatCannotBeHandedToAWorkerIsReportedAsFailedAndCompletesTheBatch) {
    auto d = Make();
    d->Stop();
    EXPECT_EQ(d->RunningWorkers(), 0);
    d->SetReportWindow(&window_);  // Stop detached it
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 2});
    d->Enqueue("10.0.0.1", "00:00:00:00:00:01", "");
    d->Enqueue("10.0.0.2", "00:00:00:00:00:02", "");

    // Reported at once, on this thread.
    const auto reports = window_.Reports();
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0].type, Report::kResult);
    EXPECT_EQ(reports[0].result.result, 0);
    EXPECT_STREQ(reports[0].result.aux, "00:00:00:00:00:01");
    EXPECT_EQ(reports[1].finished, 1u);
    EXPECT_EQ(reports[2].result.result, 0);
    EXPECT_EQ(reports[3].finished, 2u);
    EXPECT_EQ(reports[4].type, Report::kBatchDone);
    EXPECT_EQ(reports[4].kind, TASK_MODIFY_IP);
    EXPECT_TRUE(FakeHelper::Calls().empty());
}

// A window whose first result is held inside the post until released.
class SlowWindow : public RecordingReportWindow {
  public:
    void PostTaskResult(std::unique_ptr<TaskResult> result) override {
        {
            std::unique_lock lock(mutex_);
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
        }
        RecordingReportWindow::PostTaskResult(std::move(result));
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return entered_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool Ended() {
        std::lock_guard lock(mutex_);
        return ended_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false, released_ = false, ended_ = false;
};

TEST_F(DispatcherTest, DetachingWaitsForAPostInProgress) {
    SlowWindow slow;
    auto d = Make();
    d->SetReportWindow(&slow);
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d->Enqueue("10.0.0.1", "00:00:00:00:00:01", "");
    ASSERT_TRUE(slow.WaitEntered());

    auto detach = std::async(std::launch::async, [&] { d->SetReportWindow(nullptr); });
    const bool early = detach.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready;
    slow.Release();
    detach.wait();
    EXPECT_FALSE(early) << "detached while a report was being posted";
    EXPECT_TRUE(slow.Ended());
    EXPECT_EQ(slow.Reports().size(), 3u) << "the task's reports are posted together";
}

TEST_F(DispatcherTest, StopCanBeCalledTwice) {
    auto d = Make();
    d->Stop();
    d->Stop();
    EXPECT_EQ(d->RunningWorkers(), 0);
}

struct RestoreCase {
    bool cameraAccepts;
    int result;
    const char* reportedIp;
};

void PrintTo(const RestoreCase& c, std::ostream* os) {
    *os << (c.cameraAccepts ? "accepted" : "refused");
}

class RestoreTest : public DispatcherTest, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(RestoreTest, ReportsTheAddressTheCameraHasAfterwards) {
    const auto& c = GetParam();
    HelperScript script;
    if (!c.cameraAccepts) {
        script.refuse.insert("00:11:22:33:44:55");
    }
    FakeHelper::Reset(script);
    auto d = Make();
    d->BeginBatch({.kind = TASK_RESTORE_IP, .total = 1, .defaultIp = "192.168.7.7"});
    d->Enqueue("10.0.0.5", "00:11:22:33:44:55", "");
    ASSERT_TRUE(window_.WaitForBatchDone());

    const auto calls = FakeHelper::Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].mac, "00:11:22:33:44:55");
    EXPECT_EQ(calls[0].ip, "192.168.7.7");
    EXPECT_EQ(calls[0].mask, "255.255.255.0");
    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, c.result);
    EXPECT_STREQ(results[0].ip, c.reportedIp);
    EXPECT_TRUE(FakeNet::Calls().empty()) << "IP jobs never use the camera library";
}

INSTANTIATE_TEST_SUITE_P(Answers, RestoreTest,
                         ::testing::Values(RestoreCase{true, 1, "192.168.7.7"},
                                           RestoreCase{false, 0, "10.0.0.5"}));

TEST_F(DispatcherTest, ModifyIpGivesTheNewAddressByMacAndReportsTheAnswer) {
    HelperScript script;
    script.refuse.insert(Mac(1));
    FakeHelper::Reset(script);
    auto d = Make();
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 2});
    d->Enqueue("10.0.0.100", Mac(0).c_str(), "");
    d->Enqueue("10.0.0.101", Mac(1).c_str(), "");
    ASSERT_TRUE(window_.WaitForBatchDone());

    for (const auto& call : FakeHelper::Calls()) {
        EXPECT_EQ(call.mask, "255.255.255.0");
        EXPECT_EQ(call.ip, call.mac == Mac(0) ? "10.0.0.100" : "10.0.0.101");
    }
    for (const auto& r : window_.Results()) {
        const bool first = std::string(r.aux) == Mac(0);
        EXPECT_EQ(r.result, first ? 1 : 0);
        EXPECT_STREQ(r.ip, first ? "10.0.0.100" : "10.0.0.101") << "the new address either way";
    }
}

class MissingHelperTest : public DispatcherTest, public ::testing::WithParamInterface<TaskKind> {};

TEST_P(MissingHelperTest, IpJobsFailWithoutCallingAnything) {
    HelperApi none;
    auto d = Make(none);
    EXPECT_FALSE(d->Helper().Loaded());
    d->BeginBatch({.kind = GetParam(), .total = 3});
    for (int i = 0; i < 3; ++i) {
        d->Enqueue(Ip(i).c_str(), Mac(i).c_str(), "");
    }
    ASSERT_TRUE(window_.WaitForBatchDone());
    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 3u);
    for (const auto& r : results) {
        EXPECT_EQ(r.result, 0);
    }
    EXPECT_TRUE(FakeHelper::Calls().empty());
    EXPECT_TRUE(FakeNet::Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(IpKinds, MissingHelperTest,
                         ::testing::Values(TASK_MODIFY_IP, TASK_RESTORE_IP));

// ---- an address plan: each camera its own mask and gateway ----

std::mutex g_exMutex;
std::vector<std::string> g_exCalls;  // "mac ip mask gateway"

int RecordModifyDevIpEx(const char* mac, const char* ip, const char* mask, const char* gateway) {
    std::lock_guard lock(g_exMutex);
    g_exCalls.push_back(std::string(mac) + " " + ip + " " + mask + " " + gateway);
    return 1;
}

struct PlannedCase {
    const char* name;
    std::optional<TaskDispatcher::CameraAddress> address;  // none: not handed over
    bool withEx;                                           // the helper has ModifyDevIpEx
    const char* specified;  // the mask of the ModifyDevIp call, or "" for none
    const char* extended;   // the ModifyDevIpEx call, or "" for none
    ReasonCode reason;
};

class PlannedAddress : public DispatcherTest, public ::testing::WithParamInterface<PlannedCase> {};

TEST_P(PlannedAddress, GoesByTheRequestThatCanCarryIt) {
    const PlannedCase& c = GetParam();
    {
        std::lock_guard lock(g_exMutex);
        g_exCalls.clear();
    }
    HelperApi helper = FakeHelper::Api();
    if (c.withEx) {
        helper.ModifyDevIpEx = &RecordModifyDevIpEx;
    }
    auto d = Make(helper);
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    if (c.address) {
        d->AddressCamera("00:00:00:00:00:01", *c.address);
    }
    d->AddressCamera("00:00:00:00:00:09", {"255.0.0.0", "10.0.0.1"});  // another camera's
    d->Enqueue("10.77.5.1", "00:00:00:00:00:01", "");
    ASSERT_TRUE(window_.WaitForBatchDone());
    const auto calls = FakeHelper::Calls();
    if (c.specified[0] != '\0') {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].mask, c.specified);
    } else {
        EXPECT_TRUE(calls.empty());
    }
    {
        std::lock_guard lock(g_exMutex);
        EXPECT_EQ(g_exCalls, c.extended[0] != '\0' ? std::vector<std::string>{c.extended}
                                                   : std::vector<std::string>{});
    }
    const auto results = window_.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].outcome.reason, c.reason);
    EXPECT_EQ(results[0].result, c.reason == ReasonCode::None ? 1 : 0);
}

using CA = TaskDispatcher::CameraAddress;
INSTANTIATE_TEST_SUITE_P(
    Plans, PlannedAddress,
    ::testing::Values(
        PlannedCase{"not_planned", std::nullopt, true, "255.255.255.0", "", ReasonCode::None},
        PlannedCase{"a_mask_alone_keeps_the_gateway", CA{"255.255.254.0", ""}, true, "",
                    "00:00:00:00:00:01 10.77.5.1 255.255.254.0 ", ReasonCode::None},
        PlannedCase{"mask_and_gateway", CA{"255.255.0.0", "10.77.0.1"}, true, "",
                    "00:00:00:00:00:01 10.77.5.1 255.255.0.0 10.77.0.1", ReasonCode::None},
        PlannedCase{"a_gateway_with_the_default_mask", CA{"", "10.77.5.254"}, true, "",
                    "00:00:00:00:00:01 10.77.5.1 255.255.255.0 10.77.5.254", ReasonCode::None},
        PlannedCase{"an_older_helper_takes_a_mask", CA{"255.255.254.0", ""}, false, "255.255.254.0",
                    "", ReasonCode::None},
        PlannedCase{"an_older_helper_cannot_set_a_gateway", CA{"255.255.0.0", "10.77.0.1"}, false,
                    "", "", ReasonCode::NoLibrary}),
    [](const ::testing::TestParamInfo<PlannedCase>& p) { return std::string(p.param.name); });

TEST_F(DispatcherTest, ACameraAddressLastsOneBatch) {
    auto d = Make();
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d->AddressCamera("00:00:00:00:00:01", {"255.255.0.0", ""});
    d->Enqueue("10.77.5.1", "00:00:00:00:00:01", "");
    ASSERT_TRUE(window_.WaitForBatchDone());
    d->BeginBatch({.kind = TASK_MODIFY_IP, .total = 1});
    d->Enqueue("10.77.5.2", "00:00:00:00:00:01", "");
    ASSERT_TRUE(Eventually([] { return FakeHelper::Calls().size() == 2u; }));
    const auto calls = FakeHelper::Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].mask, "255.255.0.0");
    EXPECT_EQ(calls[1].mask, "255.255.255.0");
}

}  // namespace
