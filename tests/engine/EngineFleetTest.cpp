// The engine with the real camera library and search helper against a camsim
// fleet on loopback.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Fleet.h"
#include "RecordingReportWindow.h"
#include "nimbrel.h"

using namespace enginetest;
namespace fs = std::filesystem;

namespace {

constexpr auto kBatchPatience = std::chrono::seconds(120);

// Brings the camera library up against one fleet and down again.
class FleetSession {
  public:
    explicit FleetSession(const qvtest::Fleet& fleet) : env_(fleet.useConf()) { Net_Init(); }
    ~FleetSession() { Net_UNinit(); }
    FleetSession(const FleetSession&) = delete;
    FleetSession& operator=(const FleetSession&) = delete;

  private:
    qvtest::Fleet::ConfEnv env_;
};

std::map<std::string, TaskResult> ByMac(const std::vector<TaskResult>& results) {
    std::map<std::string, TaskResult> out;
    for (const auto& r : results) {
        out[r.aux] = r;
    }
    return out;
}

// The three octets before the last of a fleet camera's address, with a new last one.
std::string SameBlock(const std::string& ip, int last) {
    return ip.substr(0, ip.rfind('.') + 1) + std::to_string(last);
}

// What discovery now says each camera's address is, by MAC.
std::map<std::string, std::string> Discover(const HelperApi& helper) {
    std::vector<tNetDeviceInfo> found(64);
    std::map<std::string, std::string> out;
    if (helper.GetDevList == nullptr) {
        return out;
    }
    const int n = helper.GetDevList(found.data(), static_cast<int>(found.size()));
    for (int i = 0; i < n && i < static_cast<int>(found.size()); ++i) {
        const auto& d = found[static_cast<size_t>(i)];
        char mac[32];
        std::snprintf(mac, sizeof(mac), "%02X:%02X:%02X:%02X:%02X:%02X", d.ucMac[0], d.ucMac[1],
                      d.ucMac[2], d.ucMac[3], d.ucMac[4], d.ucMac[5]);
        out[mac] = std::to_string(d.ucIp[0]) + "." + std::to_string(d.ucIp[1]) + "." +
                   std::to_string(d.ucIp[2]) + "." + std::to_string(d.ucIp[3]);
    }
    return out;
}

TEST(EngineFleetTest, UpgradeBatchSendsTheFileToEveryCameraThatTakesIt) {
    qvtest::FleetOptions options;
    options.fleetJson =
        R"([{}, {"faults": {"fail-verify": true}}, {}, {"faults": {"refuse-connect": true}}])";
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    FleetSession session(fleet);

    const std::string image = fleet.dir() + "/QV-LPR200_app_V2.1.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (int i = 0; i < 20000; ++i) {
            out.put(static_cast<char>(i * 7));
        }
    }

    RecordingReportWindow window;
    TaskDispatcher d(NetApi::Real());
    d.SetReportWindow(&window);
    const auto& cams = fleet.cameras();
    tNetFileUpdate info{};
    info.UpgradeType = NET_UPGRADE_APP;
    d.BeginBatch({.kind = TASK_UPGRADE,
                  .total = static_cast<uint32_t>(cams.size()),
                  .upgrade = info,
                  .syncTime = true});
    for (const auto& cam : cams) {
        d.Enqueue(cam.ip.c_str(), cam.mac.c_str(), image.c_str());
    }
    ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();

    auto results = ByMac(window.Results());
    ASSERT_EQ(results.size(), cams.size());
    const int expected[] = {1, 0, 1, 0};
    for (size_t i = 0; i < cams.size(); ++i) {
        EXPECT_EQ(results[cams[i].mac].result, expected[i]) << cams[i].ip << "\n" << fleet.log();
        EXPECT_EQ(std::string(results[cams[i].mac].ip), cams[i].ip);
    }
    for (size_t i : {size_t{0}, size_t{2}}) {
        const fs::path received = fleet.filesDir(cams[i].mac);
        bool found = false;
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(received, ec)) {
            found = found || (e.is_regular_file() && e.file_size() == 20000);
        }
        EXPECT_TRUE(found) << "no file of the right size in " << received;
    }
    EXPECT_NE(fleet.log().find("clock set to"), std::string::npos) << fleet.log();
    EXPECT_EQ(window.Reports().back().type, Report::kBatchDone);
}

TEST(EngineFleetTest, ModifyIpBatchMovesEveryCameraThatAgrees) {
    qvtest::FleetOptions options;
    options.fleetJson = R"([{}, {"faults": {"refuse-ip-change": true}}, {}])";
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();

    RecordingReportWindow window;
    TaskDispatcher d(NetApi::Real());
    ASSERT_TRUE(d.Helper().Loaded()) << "libNimbrel.so beside the test in " << d.Helper().Folder();
    d.SetReportWindow(&window);
    const auto& cams = fleet.cameras();
    d.BeginBatch({.kind = TASK_MODIFY_IP, .total = static_cast<uint32_t>(cams.size())});
    std::vector<std::string> wanted;
    for (size_t i = 0; i < cams.size(); ++i) {
        wanted.push_back(SameBlock(cams[i].ip, 100 + static_cast<int>(i)));
        d.Enqueue(wanted[i].c_str(), cams[i].mac.c_str(), "");
    }
    ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();

    auto results = ByMac(window.Results());
    const auto now = Discover(d.Helper().Api());
    const int expected[] = {1, 0, 1};
    for (size_t i = 0; i < cams.size(); ++i) {
        const auto& r = results[cams[i].mac];
        EXPECT_EQ(r.result, expected[i]) << cams[i].mac << "\n" << fleet.log();
        EXPECT_EQ(std::string(r.ip), wanted[i]) << "the address asked for, either way";
        ASSERT_EQ(now.count(cams[i].mac), 1u) << cams[i].mac;
        EXPECT_EQ(now.at(cams[i].mac), expected[i] == 1 ? wanted[i] : cams[i].ip);
    }
}

TEST(EngineFleetTest, RestoreBatchReportsTheDefaultOrTheOldAddress) {
    qvtest::FleetOptions options;
    options.fleetJson = R"([{"faults": {"refuse-ip-change": true}}, {}])";
    qvtest::Fleet fleet(options);
    ASSERT_TRUE(fleet.ok()) << fleet.error();
    const auto env = fleet.useConf();

    RecordingReportWindow window;
    TaskDispatcher d(NetApi::Real());
    d.SetReportWindow(&window);
    const auto& cams = fleet.cameras();
    const std::string defaultIp = SameBlock(cams[0].ip, 200);
    d.BeginBatch({.kind = TASK_RESTORE_IP,
                  .total = static_cast<uint32_t>(cams.size()),
                  .defaultIp = defaultIp});
    for (const auto& cam : cams) {
        d.Enqueue(cam.ip.c_str(), cam.mac.c_str(), "");
    }
    ASSERT_TRUE(window.WaitForBatchDone(kBatchPatience)) << fleet.log();

    auto results = ByMac(window.Results());
    EXPECT_EQ(results[cams[0].mac].result, 0);
    EXPECT_EQ(std::string(results[cams[0].mac].ip), cams[0].ip);
    EXPECT_EQ(results[cams[1].mac].result, 1) << fleet.log();
    EXPECT_EQ(std::string(results[cams[1].mac].ip), defaultIp);
    EXPECT_EQ(Discover(d.Helper().Api())[cams[1].mac], defaultIp);
}

}  // namespace
