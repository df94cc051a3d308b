// The real camera library against camsim: no queued MAC is ever sent to
// another camera, and an abandoned transfer never reaches the camera.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Fleet.h"
#include "RecordingReportWindow.h"

using namespace enginetest;

namespace {

using namespace std::chrono_literals;
constexpr auto kBatchPatience = std::chrono::seconds(120);

class LibraryUp {
  public:
    explicit LibraryUp(const qvtest::Fleet& fleet) : env_(fleet.useConf()) { Net_Init(); }
    ~LibraryUp() { Net_UNinit(); }
    LibraryUp(const LibraryUp&) = delete;
    LibraryUp& operator=(const LibraryUp&) = delete;

  private:
    qvtest::Fleet::ConfEnv env_;
};

std::string WriteImage(const qvtest::Fleet& fleet, const std::string& name, size_t bytes) {
    const std::string path = fleet.dir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < bytes; ++i) {
        out.put(static_cast<char>(i * 131 + 7));
    }
    return path;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds patience = 60s) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// Also counts the cameras whose every byte has been handed to the system.
class LiveWindow : public RecordingReportWindow {
  public:
    void PostLiveState(const LiveState& state) override {
        std::lock_guard lock(mutex_);
        if (state.stage == LiveStage::AwaitingVerdict) {
            handedOver_.insert(state.mac);
        }
    }
    size_t HandedOver() const {
        std::lock_guard lock(mutex_);
        return handedOver_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::set<std::string> handedOver_;
};

void StartUpgrade(TaskDispatcher& d, uint32_t total, int parallel) {
    tNetFileUpdate info{};
    info.UpgradeType = NET_UPGRADE_APP;
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = total,
                  .upgrade = info,
                  .parallel = parallel,
                  .probeMs = 0});
}

// Queued MACs at addresses shuffled among the fleet: a file goes only where
// the queued camera itself answers, round after round.
TEST(FleetSafetyTest, NoQueuedMacIsEverSentToAnotherCamera) {
    qvtest::FleetOptions options;
    options.count = 6;
    options.rebootMs = 0;
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    LibraryUp up(fleet);
    const std::string image = WriteImage(fleet, "QV-LPR200_app_V2.1.bin", 5000);
    const auto& cams = fleet.cameras();

    std::mt19937 random(static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed()));
    std::map<std::string, uint64_t> expected;
    for (int round = 0; round < 4; ++round) {
        std::vector<size_t> at(cams.size());
        for (size_t i = 0; i < at.size(); ++i) {
            at[i] = i;
        }
        // Half of the cameras swap addresses among themselves.
        std::shuffle(at.begin(), at.begin() + static_cast<long>(at.size() / 2), random);
        std::shuffle(at.begin(), at.end(), random);
        RecordingReportWindow window;
        TaskDispatcher d(NetApi::Real());
        d.SetReportWindow(&window);
        StartUpgrade(d, static_cast<uint32_t>(cams.size()), 3);
        for (size_t i = 0; i < cams.size(); ++i) {
            TaskDispatcher::Expectation e;
            e.type = cams[i].type;
            e.hw = cams[i].hw;
            d.ExpectCamera(cams[i].mac, e);
            d.Enqueue(cams[at[i]].ip.c_str(), cams[i].mac.c_str(), image.c_str());
            expected[cams[i].mac] += at[i] == i ? 1u : 0u;
        }
        ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();
        for (const auto& r : window.Results()) {
            const size_t i =
                static_cast<size_t>(std::find_if(cams.begin(), cams.end(),
                                                 [&](const auto& c) { return c.mac == r.aux; }) -
                                    cams.begin());
            ASSERT_LT(i, cams.size());
            EXPECT_EQ(r.result, at[i] == i ? 1 : 0) << "round " << round << " " << r.aux;
            if (at[i] != i) {
                EXPECT_EQ(r.outcome.reason, ReasonCode::OtherDevice);
                EXPECT_EQ(r.outcome.otherMac.substr(0, 17), cams[at[i]].mac);
            }
        }
    }
    ASSERT_TRUE(fleet.waitSettled());
    for (const auto& cam : cams) {
        EXPECT_EQ(fleet.state(cam.mac).accepted, expected[cam.mac]) << cam.mac << "\n"
                                                                    << fleet.log();
    }
}

// Two presses of stop during transfers on slow links: every camera drops what
// it had and flashes nothing, whatever the PC's system still held for it.
class AbandonTest : public ::testing::TestWithParam<int> {};

TEST_P(AbandonTest, AnAbandonedTransferNeverReachesTheCamera) {
    const int parallel = GetParam();
    qvtest::FleetOptions options;
    options.count = 6;
    options.faults = {"throttle=65536"};
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    LibraryUp up(fleet);
    // What the systems' buffers take at once, far more than the link carries
    // in the test: every byte is handed over while the camera has a fraction.
    const std::string image = WriteImage(fleet, "QV-LPR200_app_V2.1.bin", 1u << 20);
    const auto& cams = fleet.cameras();

    LiveWindow window;
    TaskDispatcher d(NetApi::Real());
    d.SetReportWindow(&window);
    StartUpgrade(d, static_cast<uint32_t>(cams.size()), parallel);
    for (const auto& cam : cams) {
        d.Enqueue(cam.ip.c_str(), cam.mac.c_str(), image.c_str());
    }
    const size_t running = static_cast<size_t>(std::min<int>(parallel, 6));
    ASSERT_TRUE(WaitFor([&] { return Occurrences(fleet.log(), "update begins") >= running; }))
        << fleet.log();
    // Best when the PC's system holds the rest of every file: a close would deliver it.
    (void)WaitFor([&] { return window.HandedOver() >= running; }, 5s);
    d.StopBatch(false);
    d.StopBatch(true);
    ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();

    // camsim saw every connection end before the file did, and kept nothing.
    ASSERT_TRUE(WaitFor([&] { return Occurrences(fleet.log(), "update abandoned") >= running; }))
        << fleet.log();
    for (const auto& r : window.Results()) {
        EXPECT_EQ(r.result, 0) << r.aux;
        EXPECT_NE(r.outcome.reason, ReasonCode::MayHaveFile) << r.aux;
        EXPECT_LT(r.outcome.percent, 100) << r.aux;
        EXPECT_LE(r.outcome.bytesAcked, r.outcome.bytesSent) << r.aux;
    }
    for (const auto& cam : cams) {
        EXPECT_EQ(fleet.state(cam.mac).accepted, 0u) << cam.mac << "\n" << fleet.log();
        EXPECT_FALSE(fleet.keptFile(cam.mac).has_value()) << cam.mac;
        EXPECT_EQ(fleet.state(cam.mac).sw, cam.sw) << cam.mac;
    }
    EXPECT_EQ(Occurrences(fleet.log(), "update accepted"), 0u) << fleet.log();
}

INSTANTIATE_TEST_SUITE_P(Parallel, AbandonTest, ::testing::Values(1, 5));

// Abandoned while the camera flashes: it had every byte, so the tool cannot
// say it failed; and the camera does take the file.
TEST(FleetSafetyTest, AbandonedAfterTheLastByteMayHaveTheFile) {
    qvtest::FleetOptions options;
    options.count = 1;
    options.flashMs = 8000;
    options.rebootMs = 0;
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    LibraryUp up(fleet);
    const std::string image = WriteImage(fleet, "QV-LPR200_app_V2.1.bin", 20000);
    const auto& cam = fleet.cameras().at(0);

    RecordingReportWindow window;
    TaskDispatcher d(NetApi::Real());
    d.SetReportWindow(&window);
    StartUpgrade(d, 1, 1);
    d.Enqueue(cam.ip.c_str(), cam.mac.c_str(), image.c_str());
    ASSERT_TRUE(WaitFor([&] { return fleet.log().find("update accepted") != std::string::npos; }))
        << fleet.log();
    // The camera's system acknowledges what camsim has read within its delayed-ACK time.
    std::this_thread::sleep_for(1s);
    d.StopBatch(true);
    ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();
    const auto results = window.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, 0);
    EXPECT_EQ(results[0].outcome.reason, ReasonCode::MayHaveFile);
    EXPECT_EQ(results[0].outcome.bytesAcked, 20000u);
    EXPECT_TRUE(WaitFor([&] { return fleet.state(cam.mac).accepted == 1; })) << fleet.log();
}

}  // namespace
