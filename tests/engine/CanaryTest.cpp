// Canary first: the cameras picked go first, and the others start only once
// every one of them has taken the file and come back with a new version; a
// canary that fails or is not proven holds them. One table; every row is
// checked for which cameras ran, which were held, and that no other camera
// was touched before the canaries' verdicts were in.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
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

std::string CamIp(int i) {
    return "10.0.0." + std::to_string(i + 1);
}

std::string CamMac(int i) {
    char text[32];
    std::snprintf(text, sizeof(text), "02:51:56:00:00:%02X", i + 1);
    return text;
}

// One clock for the reports and the cameras' first calls, so that "before"
// means before across threads.
std::atomic<int> g_tick{0};
std::mutex g_mutex;
std::map<std::string, int> g_addedAt;  // camera address -> tick of its first call
std::set<std::string> g_neverBack;     // cameras that do not come back after reboot
int (*g_realAdd)(const void*) = nullptr;

// The cameras called so far, read without holding the lock afterwards.
std::map<std::string, int> Added() {
    const std::lock_guard lock(g_mutex);
    return g_addedAt;
}

int AddAndNote(const void* camera) {
    {
        const std::lock_guard lock(g_mutex);
        g_addedAt.emplace(static_cast<const DeviceTask*>(camera)->ip, g_tick++);
    }
    return g_realAdd(camera);
}

// A camera answers after its reboot with the version the file names, from its
// own MAC (the last octet of its address), unless it is never back.
int ProbeBack(const char* ip, int, tNetDeviceInfo* info) {
    {
        const std::lock_guard lock(g_mutex);
        if (g_neverBack.count(ip) != 0) {
            return static_cast<int>(KORVEL_E_TIMEOUT);
        }
    }
    *info = {};
    const std::string text = ip;
    const int last = std::stoi(text.substr(text.rfind('.') + 1));
    const uint8_t mac[6] = {0x02, 0x51, 0x56, 0, 0, static_cast<uint8_t>(last)};
    std::memcpy(info->ucMac, mac, sizeof(mac));
    std::snprintf(info->szSoftVersion, sizeof(info->szSoftVersion), "%s", "2.6.0_1a2b");
    return 0;
}

// Keeps every report and the tick at which each camera's last one came.
class TickingWindow : public RecordingReportWindow {
  public:
    void PostTaskResult(std::unique_ptr<TaskResult> result) override {
        if (!result->outcome.proofFollows) {
            Note(result->aux);
        }
        RecordingReportWindow::PostTaskResult(std::move(result));
    }
    void PostTaskProof(std::unique_ptr<TaskResult> proof) override {
        Note(proof->aux);
        RecordingReportWindow::PostTaskProof(std::move(proof));
    }
    int JudgedAt(const std::string& mac) const {
        const std::lock_guard lock(g_mutex);
        const auto it = judgedAt_.find(mac);
        return it != judgedAt_.end() ? it->second : -1;
    }

  private:
    void Note(const char* aux) {
        const std::lock_guard lock(g_mutex);
        judgedAt_[aux] = g_tick++;
    }
    std::map<std::string, int> judgedAt_;
};

// Every case starts the clock again and wraps the scripted library.
class CanaryFixture {
  protected:
    NetApi Start(const NetScript& script, const std::set<int>& neverBack) {
        g_tick = 0;
        FakeNet::Reset(script);
        {
            const std::lock_guard lock(g_mutex);
            g_addedAt.clear();
            g_neverBack.clear();
            for (int i : neverBack) {
                g_neverBack.insert(CamIp(i));
            }
        }
        NetApi net = FakeNet::Api();
        g_realAdd = net.AddCamera;
        net.AddCamera = AddAndNote;
        net.ProbeDevice = ProbeBack;
        return net;
    }
};

enum class End { Ok, Failed, Held };

struct CanaryCase {
    const char* name;
    Canary canary;
    std::vector<std::string> hw;  // one per camera: its hardware version
    int parallel;
    bool verify;
    std::set<int> refused;    // the camera rejects the file
    std::set<int> neverBack;  // not seen again after its reboot
    std::set<int> canaries;   // the cameras expected to go first
    std::vector<End> ends;    // what each camera's result says
    int heldBy;               // the canary that held the batch, or -1
};

void PrintTo(const CanaryCase& c, std::ostream* os) {
    *os << c.name;
}

class CanaryTest : public ::testing::TestWithParam<CanaryCase>, protected CanaryFixture {};

TEST_P(CanaryTest, TheRestStartOnlyAfterEveryCanaryIsProven) {
    const CanaryCase& c = GetParam();
    const int n = static_cast<int>(c.hw.size());
    NetScript script;
    script.fileTime = 2ms;
    for (int i : c.refused) {
        script.failFile.insert(CamIp(i));
    }
    TickingWindow window;
    TaskDispatcher d(Start(script, c.neverBack), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = static_cast<uint32_t>(n),
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .parallel = c.parallel,
                  .verifyTimeoutMs = c.verify ? 300 : 0,
                  .verifyTiming = {1, 5, 0, 0},
                  .canary = c.canary});
    for (int i = 0; i < n; ++i) {
        TaskDispatcher::Expectation expected;
        expected.hw = c.hw[static_cast<size_t>(i)];
        d.ExpectCamera(CamMac(i), expected);
        d.Enqueue(CamIp(i).c_str(), CamMac(i).c_str(), "/nonexistent/app_V2.6_x.jffs2");
    }
    ASSERT_TRUE(window.WaitForBatchDone(60s));
    d.Stop();

    const auto reports = window.Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().type, Report::kBatchDone);
    EXPECT_EQ(window.BatchDoneCount(), 1);
    std::map<std::string, TaskResult> byMac;
    for (const TaskResult& r : window.Results()) {
        EXPECT_TRUE(byMac.emplace(r.aux, r).second) << "reported twice: " << r.aux;
    }
    ASSERT_EQ(byMac.size(), static_cast<size_t>(n));

    // The canaries' last report, before any other camera was first called.
    int lastCanary = -1;
    for (int i : c.canaries) {
        lastCanary = std::max(lastCanary, window.JudgedAt(CamMac(i)));
    }
    const std::map<std::string, int> added = Added();
    for (int i = 0; i < n; ++i) {
        const TaskResult& r = byMac.at(CamMac(i));
        const End end = c.ends[static_cast<size_t>(i)];
        const bool ran = added.count(CamIp(i)) != 0;
        EXPECT_EQ(ran, end != End::Held) << "camera " << i;
        EXPECT_EQ(r.result, end == End::Ok ? 1 : 0) << "camera " << i;
        EXPECT_EQ(r.outcome.reason == ReasonCode::Held, end == End::Held) << "camera " << i;
        if (ran && c.canaries.count(i) == 0) {
            EXPECT_GT(added.at(CamIp(i)), lastCanary) << "camera " << i << " went early";
        }
    }
    for (int i : c.canaries) {
        EXPECT_TRUE(added.count(CamIp(i)) != 0 || c.heldBy >= 0) << "canary " << i;
    }
    const BatchStatus status = d.Batch();
    EXPECT_EQ(status.heldByCanary, c.heldBy >= 0);
    EXPECT_EQ(status.held, c.heldBy >= 0);
    EXPECT_EQ(status.canaryPassed, c.canary.On() && c.heldBy < 0);
    if (c.heldBy >= 0) {
        EXPECT_EQ(status.canaryIp, CamIp(c.heldBy));
        EXPECT_EQ(status.canaryMac, CamMac(c.heldBy));
    }
    EXPECT_EQ(status.finished, static_cast<uint32_t>(n));
}

constexpr End O = End::Ok;
constexpr End F = End::Failed;
constexpr End H = End::Held;
const std::vector<std::string> kFour{"A", "A", "A", "A"};
const std::vector<std::string> kSix{"A", "A", "A", "A", "A", "A"};

INSTANTIATE_TEST_SUITE_P(
    Cases, CanaryTest,
    ::testing::Values(
        CanaryCase{
            "ProvenThenTheRestRun", {1, false}, kFour, 1, true, {}, {}, {0}, {O, O, O, O}, -1},
        CanaryCase{
            "RefusedHoldsTheRest", {1, false}, kFour, 2, true, {0}, {}, {0}, {F, H, H, H}, 0},
        CanaryCase{
            "NotBackHoldsTheRest", {1, false}, kFour, 2, true, {}, {0}, {0}, {O, H, H, H}, 0},
        CanaryCase{"SecondOfTwoRefused",
                   {2, false},
                   kSix,
                   2,
                   true,
                   {1},
                   {},
                   {0, 1},
                   {O, F, H, H, H, H},
                   1},
        // Later cameras that would fail never get the chance to.
        CanaryCase{
            "RestFailOnTheirOwn", {2, false}, kFour, 4, true, {2, 3}, {}, {0, 1}, {O, O, F, F}, -1},
        CanaryCase{"OnePerHardwareVersion",
                   {0, true},
                   {"A", "A", "B", "A", "B", "C"},
                   3,
                   true,
                   {},
                   {},
                   {0, 2, 5},
                   {O, O, O, O, O, O},
                   -1},
        CanaryCase{"PerHardwareOneNotBack",
                   {0, true},
                   {"A", "B", "A", "B", ""},
                   1,
                   true,
                   {},
                   {1},
                   {0, 1, 4},
                   {O, O, H, H, O},
                   1},
        // A camera without a hardware version is a version of its own.
        CanaryCase{"PerHardwareUnknownVersionGoesFirst",
                   {0, true},
                   {"", "A", "", "A"},
                   1,
                   true,
                   {},
                   {},
                   {0, 1},
                   {O, O, O, O},
                   -1},
        CanaryCase{"LargerThanTheBatch",
                   {10, false},
                   {"A", "A", "A"},
                   3,
                   true,
                   {},
                   {},
                   {0, 1, 2},
                   {O, O, O},
                   -1},
        // One at a time, every camera is a canary: the first failure holds the others.
        CanaryCase{"LargerThanTheBatchOneFails",
                   {10, false},
                   {"A", "A", "A"},
                   1,
                   false,
                   {0},
                   {},
                   {0, 1, 2},
                   {F, H, H},
                   0},
        // Without the check the verdict is all there is.
        CanaryCase{
            "NoVerifyVerdictDecides", {1, false}, kFour, 1, false, {}, {0}, {0}, {O, O, O, O}, -1},
        CanaryCase{
            "NoVerifyRefusedHolds", {1, false}, kFour, 1, false, {0}, {}, {0}, {F, H, H, H}, 0},
        CanaryCase{"OffNothingHeld", {0, false}, kFour, 1, true, {0}, {}, {}, {F, O, O, O}, -1}));

// A stop while the canary is still in its transfer or its check ends the
// batch: the cameras after it are never started, and batch-done comes once.
struct StopCase {
    const char* name;
    bool abandon;
    bool duringCheck;  // stopped while the canary is awaited after its reboot
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class CanaryStopTest : public ::testing::TestWithParam<StopCase>, protected CanaryFixture {
  protected:
    void TearDown() override { FakeNet::ReleaseFileUpdate(); }
};

TEST_P(CanaryStopTest, AStopDuringTheCanaryStartsNoOther) {
    const StopCase& c = GetParam();
    NetScript script;
    script.holdFileOf = CamIp(0);
    TickingWindow window;
    TaskDispatcher d(Start(script, {0}), HelperApi{});
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = 4,
                  .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                  .parallel = 4,
                  .verifyTimeoutMs = 600000,
                  .verifyTiming = {1, 5, 0, 0},
                  .canary = {1, false}});
    for (int i = 0; i < 4; ++i) {
        d.Enqueue(CamIp(i).c_str(), CamMac(i).c_str(), "/nonexistent/app_V2.6_x.jffs2");
    }
    ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));
    if (c.duringCheck) {
        FakeNet::ReleaseFileUpdate();
        ASSERT_TRUE(window.WaitForReports(2));  // the canary's verdict
    }
    const auto stopped = std::chrono::steady_clock::now();
    d.StopBatch(c.abandon);
    if (!c.abandon) {
        FakeNet::ReleaseFileUpdate();
    }
    ASSERT_TRUE(window.WaitForBatchDone(60s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 20s);
    EXPECT_EQ(window.BatchDoneCount(), 1);

    const auto results = window.Results();
    ASSERT_EQ(results.size(), 4u);
    for (const TaskResult& r : results) {
        if (std::string(r.aux) == CamMac(0)) {
            EXPECT_EQ(r.result, c.abandon && !c.duringCheck ? 0 : 1);
        } else {
            EXPECT_EQ(r.outcome.reason, ReasonCode::NotStarted) << r.aux;
        }
    }
    EXPECT_EQ(Added().size(), 1u);
    EXPECT_TRUE(d.Batch().stopped);
    EXPECT_FALSE(d.Batch().heldByCanary);
}

INSTANTIATE_TEST_SUITE_P(Cases, CanaryStopTest,
                         ::testing::Values(StopCase{"FinishDuringTransfer", false, false},
                                           StopCase{"AbandonDuringTransfer", true, false},
                                           StopCase{"FinishDuringCheck", false, true}));

// The dispatcher going away while the others wait for their canary: the
// waiting tasks are let go with it and nothing is left running.
TEST(CanaryShutdown, StoppingTheDispatcherWhileTheRestWaitEndsAtOnce) {
    NetScript script;
    script.holdFileOf = CamIp(0);
    FakeNet::Reset(script);
    RecordingReportWindow window;
    {
        TaskDispatcher d(FakeNet::Api(), HelperApi{});
        d.SetReportWindow(&window);
        d.BeginBatch({.kind = TASK_UPGRADE,
                      .total = 3,
                      .upgrade = UpgradeRecord(NET_UPGRADE_APP),
                      .canary = {1, false}});
        for (int i = 0; i < 3; ++i) {
            d.Enqueue(CamIp(i).c_str(), CamMac(i).c_str(), "/nonexistent/app.jffs2");
        }
        ASSERT_TRUE(FakeNet::WaitUntilHeld(kPatience));
        std::thread release([] {
            std::this_thread::sleep_for(50ms);
            FakeNet::ReleaseFileUpdate();
        });
        d.Stop();
        release.join();
        EXPECT_EQ(d.Batch().finished, 3u);
    }
    EXPECT_EQ(FakeNet::Count("Add"), 1);
}

}  // namespace
