// Run by lab/netns-lab.sh inside the PC's namespace: discovery over the lab's
// bridge, and an IP change that really moves a camera to another subnet.
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WireClient.h"
#include "korvel.h"
#include "nimbrel.h"
#include "platform/DynLib.h"
#include "platform/ExeDir.h"
#include "wire/Addr.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Words(const char* env) {
    std::vector<std::string> out;
    std::istringstream in(std::getenv(env) != nullptr ? std::getenv(env) : "");
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

// MAC -> address, as one search finds them.
std::map<std::string, std::string> Search() {
    std::map<std::string, std::string> found;
    EXPECT_EQ(Net_FindDevice(
                  [](const tNetDeviceInfo* info, void* user) {
                      (*static_cast<std::map<std::string, std::string>*>(
                          user))[wire::FormatMac(info->ucMac)] = wire::FormatIpv4(info->ucIp);
                  },
                  &found),
              0);
    return found;
}

class NetnsLab : public ::testing::Test {
  protected:
    void SetUp() override {
        ips_ = Words("QV_LAB_IPS");
        macs_ = Words("QV_LAB_MACS");
        ASSERT_GE(ips_.size(), 2u) << "run me through lab/netns-lab.sh --cameras 2 or more";
        ASSERT_EQ(ips_.size(), macs_.size());
        ASSERT_EQ(Net_Init(), 0);
    }
    void TearDown() override { Net_UNinit(); }
    std::vector<std::string> ips_, macs_;
};

TEST_F(NetnsLab, DiscoveryOverTheBridgeThenAnIpChangeToAnotherSubnet) {
    auto found = Search();
    ASSERT_EQ(found.size(), ips_.size());
    for (std::size_t i = 0; i < ips_.size(); ++i) {
        EXPECT_EQ(found[macs_[i]], ips_[i]) << macs_[i];
    }

    platform::DynLib nimbrel(platform::ExeDir() + "/" + NIMBREL_LIBRARY_NAME);
    ASSERT_TRUE(nimbrel.Loaded()) << nimbrel.Error();
    auto modify = reinterpret_cast<ModifyDevIpFn>(nimbrel.Symbol(NIMBREL_MODIFY_DEV_IP));
    ASSERT_NE(modify, nullptr);
    const std::string moved = "192.168.1.50";
    ASSERT_NE(modify(macs_[0].c_str(), moved.c_str(), "255.255.255.0"), 0);

    // found again by MAC, now on the other subnet; the other camera stays
    found = Search();
    EXPECT_EQ(found[macs_[0]], moved);
    EXPECT_EQ(found[macs_[1]], ips_[1]);

    // the old address is gone, the new one takes a control session
    camsimtest::TcpClient tcp;
    EXPECT_NE(tcp.connect(ips_[0], 48621, 3000ms), 0) << "still answers at " << ips_[0];
    char task[320] = {};
    wire::CopyText(task, 32, moved);
    const int h = Net_AddCamera(task);
    ASSERT_GE(h, 0);
    EXPECT_EQ(Net_ConnCamera(h, 5000, 2), 0);
    tNetTimeSetup t{};
    EXPECT_EQ(Net_QueryTimeSetup(h, &t), 0);
    Net_DisConnCamera(h);
    Net_DelCamera(h);

    // and back, by MAC again, from the other subnet
    ASSERT_NE(modify(macs_[0].c_str(), ips_[0].c_str(), "255.255.0.0"), 0);
    found = Search();
    EXPECT_EQ(found[macs_[0]], ips_[0]);
}

}  // namespace
