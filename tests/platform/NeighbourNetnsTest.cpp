// The LAN probe in network namespaces this test makes and removes (root only;
// skipped elsewhere): the PC at 10.77.1.100/24 and a server at 10.77.1.20.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/NeighbourProbe.h"

namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

class NeighbourNetns : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to make network namespaces";
        }
        const std::string id = "qvn" + std::to_string(getpid());
        for (const char* role : {"pc", "srv"}) {
            const std::string ns = id + role;
            if (std::system(("ip netns add " + ns + " 2>/dev/null").c_str()) != 0) {
                GTEST_SKIP() << "'ip netns add' does not work here";
            }
            made_.push_back(ns);
        }
        Sh("ip -n $PC link set lo up && ip -n $SRV link set lo up");
        Sh("ip -n $PC link add eth0 type veth peer name eth0 netns $SRV");
        Sh("ip -n $PC addr add 10.77.1.100/24 dev eth0 && ip -n $PC link set eth0 up");
        Sh("ip -n $SRV addr add 10.77.1.20/24 dev eth0 && ip -n $SRV link set eth0 up");
        Sh("for i in $(seq 400); do ip -n $PC link show dev eth0 | grep -q LOWER_UP && exit 0; "
           "sleep 0.05; done; exit 1");
    }
    void TearDown() override {
        for (const auto& ns : made_) {
            [[maybe_unused]] int rc = std::system(("ip netns del " + ns).c_str());
        }
    }
    void Sh(const std::string& line) {
        const std::string cmd = "PC=" + made_[0] + " SRV=" + made_[1] + "; " + line;
        ASSERT_EQ(std::system(("bash -c '" + cmd + "'").c_str()), 0) << line;
    }
    std::string ServerMac() {
        const std::string cmd = "ip -n " + made_[1] + " -br link show dev eth0";
        std::FILE* p = ::popen(cmd.c_str(), "r");
        char line[256] = {};
        const bool read = p != nullptr && std::fgets(line, sizeof line, p) != nullptr;
        if (p != nullptr) {
            ::pclose(p);
        }
        if (!read) {
            return "";
        }
        // "eth0@if2  UP  02:aa:bb:cc:dd:ee <...>"
        std::string text(line), mac;
        const auto colon = text.find(':', text.find(' '));
        if (colon != std::string::npos && colon >= 2) {
            for (char c : text.substr(colon - 2, 17)) {
                mac += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        return mac;
    }
    // Runs `f` on a thread that has joined the PC's namespace.
    template <class F>
    void InPc(F&& f) {
        std::thread t([&] {
            const int fd = open(("/var/run/netns/" + made_[0]).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
            close(fd);
            f();
        });
        t.join();
    }

    std::vector<std::string> made_;
};

TEST_F(NeighbourNetns, TheServerAndThisPcAnswerOfAWholeSubnetWithinTheGoal) {
    std::vector<std::uint32_t> targets;
    for (unsigned d = 1; d <= 254; ++d) {
        targets.push_back(Ip(10, 77, 1, d));
    }
    targets.push_back(Ip(127, 0, 0, 9));  // never asked for
    platform::NeighbourProbe probe;
    std::chrono::steady_clock::duration took{};
    InPc([&] {
        const auto t0 = std::chrono::steady_clock::now();
        probe = platform::ProbeNeighbours(targets, std::chrono::milliseconds(1500));
        took = std::chrono::steady_clock::now() - t0;
    });
    const double s = std::chrono::duration<double>(took).count();
    std::printf("LAN probe of 254 addresses: %.2f s (goal <= 2 s)\n", s);
    ASSERT_TRUE(probe.checked) << probe.why;
    EXPECT_LE(s, 2.0);
    EXPECT_EQ(probe.answered, (std::map<std::uint32_t, std::string>{
                                  {Ip(10, 77, 1, 20), ServerMac()}, {Ip(10, 77, 1, 100), ""}}));
}

TEST_F(NeighbourNetns, AnswersComeAtOnceWhenEveryAddressIsThere) {
    platform::NeighbourProbe probe;
    std::chrono::steady_clock::duration took{};
    InPc([&] {
        const auto t0 = std::chrono::steady_clock::now();
        probe = platform::ProbeNeighbours({Ip(10, 77, 1, 20)}, std::chrono::milliseconds(1500));
        took = std::chrono::steady_clock::now() - t0;
    });
    ASSERT_TRUE(probe.checked) << probe.why;
    EXPECT_EQ(probe.answered.count(Ip(10, 77, 1, 20)), 1u);
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

}  // namespace
