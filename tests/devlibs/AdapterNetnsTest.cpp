// The PC's adapters and the search on every adapter, in network namespaces this
// test makes and removes (root only; skipped elsewhere). Nothing reaches the
// host's own interfaces: every socket is made inside a namespace of the test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/NetAdapters.h"
#include "wire/Discovery.h"
#include "wire/Wire.h"

namespace {

// Namespaces of the test: the PC, a far end for idle cables, two cameras.
class Namespaces : public ::testing::Test {
  public:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to make network namespaces";
        }
        const std::string id = "qva" + std::to_string(getpid()) + "_" + std::to_string(++serial_);
        for (const char* role : {"pc", "peer", "cam", "cam2"}) {
            const std::string ns = id + role;
            if (std::system(("ip netns add " + ns + " 2>/dev/null").c_str()) != 0) {
                GTEST_SKIP() << "'ip netns add' does not work here";
            }
            made_.push_back(ns);
        }
        Sh("ip -n $NS link set lo up");
    }
    void TearDown() override {
        // Removing a namespace removes its interfaces and the veth peers.
        for (const auto& ns : made_) {
            [[maybe_unused]] int rc = std::system(("ip netns del " + ns).c_str());
        }
    }
    const std::string& pc() const { return made_[0]; }

    void Sh(const std::string& line) {
        const std::string cmd = "NS=" + made_[0] + " PEER=" + made_[1] + " CAM=" + made_[2] +
                                " CAM2=" + made_[3] + "; " + line;
        ASSERT_EQ(std::system(("bash -c '" + cmd + "'").c_str()), 0) << line;
    }
    // A cable from the PC's adapter `dev` (with `addr`) to namespace `far`.
    void Cable(const std::string& dev, const std::string& addr, const std::string& far = "$PEER",
               const std::string& farAddr = "") {
        const std::string port = "p" + dev;
        Sh("ip -n $NS link add " + dev + " type veth peer name " + port + " netns " + far);
        Sh("ip -n " + far + " link set lo up && ip -n " + far + " link set " + port + " up");
        if (!farAddr.empty()) {
            Sh("ip -n " + far + " addr add " + farAddr + " dev " + port);
        }
        Sh("ip -n $NS addr add " + addr + " dev " + dev + " && ip -n $NS link set " + dev + " up");
        // The carrier of a veth comes up a moment after the link: wait for it.
        Sh("for i in $(seq 400); do ip -n $NS link show dev " + dev +
           " | grep -q LOWER_UP && exit 0; sleep 0.05; done; exit 1");
    }

    // Calls `f` on a thread that has joined namespace `ns`; sockets made there
    // belong to it.
    template <class F>
    void In(const std::string& ns, F&& f) {
        std::thread t([&] {
            const int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
            close(fd);
            f();
        });
        t.join();
    }

    std::vector<std::string> made_;
    static inline int serial_ = 0;
};

uint32_t Ip(const char* text) {
    in_addr a{};
    inet_pton(AF_INET, text, &a);
    return ntohl(a.s_addr);
}

// ---- the adapter listing ----

struct Seen {
    std::string name;
    const char* address;
    int prefix;
    bool up, broadcast, pointToPoint, loopback;
};

struct AdapterRow {
    const char* name;
    void (*setup)(Namespaces&);
    bool tun;  // a point-to-point adapter "ptp0" held open by the test
    std::vector<Seen> expected;
    std::set<std::string> searched;
};

class AdapterListing : public Namespaces, public ::testing::WithParamInterface<AdapterRow> {};

TEST_P(AdapterListing, ListsWhatTheSystemHas) {
    const AdapterRow& row = GetParam();
    row.setup(*this);
    std::vector<platform::NetAdapter> got;
    In(pc(), [&] {
        int tun = -1;
        if (row.tun) {
            // The carrier of a tun device is up while a process holds it.
            tun = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
            ASSERT_GE(tun, 0);
            ifreq ifr{};
            ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
            std::strncpy(ifr.ifr_name, "ptp0", IFNAMSIZ - 1);
            ASSERT_EQ(ioctl(tun, TUNSETIFF, &ifr), 0);
            Sh("ip -n $NS addr add 10.8.0.1 peer 10.8.0.2 dev ptp0 && ip -n $NS link set ptp0 up");
        }
        std::string error;
        auto list = platform::ListNetAdapters(&error);
        ASSERT_TRUE(list) << error;
        got = *list;
        if (tun >= 0) {
            close(tun);
        }
    });
    ASSERT_EQ(got.size(), row.expected.size());
    for (const Seen& want : row.expected) {
        auto it = std::find_if(got.begin(), got.end(), [&](const platform::NetAdapter& a) {
            return a.name == want.name && a.address == Ip(want.address);
        });
        ASSERT_NE(it, got.end()) << want.name << " " << want.address;
        EXPECT_EQ(it->prefix, want.prefix) << want.name;
        EXPECT_EQ(it->up, want.up) << want.name;
        EXPECT_EQ(it->broadcast, want.broadcast) << want.name;
        EXPECT_EQ(it->pointToPoint, want.pointToPoint) << want.name;
        EXPECT_EQ(it->loopback, want.loopback) << want.name;
    }
    std::set<std::string> searched;
    for (const auto& a : got) {
        if (platform::CarriesSearch(a)) {
            searched.insert(a.name);
        }
    }
    EXPECT_EQ(searched, row.searched);
}

const Seen kLo{"lo", "127.0.0.1", 8, true, false, false, true};
const Seen kEth0{"eth0", "10.77.0.1", 16, true, true, false, false};

INSTANTIATE_TEST_SUITE_P(
    Sets, AdapterListing,
    ::testing::Values(
        AdapterRow{"one",
                   [](Namespaces& n) { n.Cable("eth0", "10.77.0.1/16"); },
                   false,
                   {kLo, kEth0},
                   {"eth0"}},
        AdapterRow{"default_route_on_the_wrong_one",
                   [](Namespaces& n) {
                       n.Cable("eth0", "10.77.0.1/16");
                       n.Cable("wlan0", "192.168.50.20/24");
                       n.Sh("ip -n $NS route add default via 192.168.50.1");
                   },
                   false,
                   {kLo, kEth0, {"wlan0", "192.168.50.20", 24, true, true, false, false}},
                   {"eth0", "wlan0"}},
        AdapterRow{"one_down",
                   [](Namespaces& n) {
                       n.Cable("eth0", "10.77.0.1/16");
                       n.Cable("eth1", "10.78.0.1/16");
                       n.Sh("ip -n $NS link set eth1 down");
                   },
                   false,
                   {kLo, kEth0, {"eth1", "10.78.0.1", 16, false, true, false, false}},
                   {"eth0"}},
        AdapterRow{"point_to_point",
                   [](Namespaces& n) { n.Cable("eth0", "10.77.0.1/16"); },
                   true,
                   {kLo, kEth0, {"ptp0", "10.8.0.1", 32, true, false, true, false}},
                   {"eth0"}},
        // This kernel has no link type without broadcast that is neither a
        // loopback nor point-to-point: the loopback with a LAN-like address.
        AdapterRow{"without_broadcast",
                   [](Namespaces& n) { n.Sh("ip -n $NS addr add 10.9.0.1/24 dev lo"); },
                   false,
                   {kLo, {"lo", "10.9.0.1", 24, true, false, false, true}},
                   {}}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- the search on every adapter ----

// A camera of the test: answers every search request on `port` with its record
// and notes the addresses the requests were sent to.
class Camera {
  public:
    bool broadcastReply = false;  // no route back: answer by limited broadcast
    Camera(const uint8_t (&ip)[4], uint8_t macLast) {
        info_.uiRecordVersion = 1;
        const uint8_t mac[6] = {0x02, 0x77, 0x00, 0x00, 0x01, macLast};
        std::memcpy(info_.ucMac, mac, 6);
        std::memcpy(info_.ucIp, ip, 4);
        std::strcpy(info_.szDevType, "QV-TEST");
    }
    // On the thread of the camera's namespace: opens the socket, then serves
    // until stop().
    void Open(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        ready_ = bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
        if (broadcastReply) {
            // Bound to its own address, the limited broadcast leaves by its link
            // although no route leads back to the PC.
            out_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            setsockopt(out_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
            sockaddr_in own{};
            own.sin_family = AF_INET;
            std::memcpy(&own.sin_addr, info_.ucIp, 4);
            ready_ = ready_ && bind(out_, reinterpret_cast<sockaddr*>(&own), sizeof own) == 0;
        }
    }
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            uint8_t buf[2048];
            char control[256];
            sockaddr_in from{};
            iovec iov{buf, sizeof buf};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(fd_, &msg, 0);
            if (n <= 0) {
                continue;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo pi{};
                    std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
                    char text[INET_ADDRSTRLEN] = {};
                    inet_ntop(AF_INET, &pi.ipi_addr, text, sizeof text);
                    std::lock_guard lock(mutex_);
                    sentTo_.insert(text);
                }
            }
            const auto frame = wire::DecodeDatagram({buf, static_cast<size_t>(n)});
            if (!frame || frame->type() != wire::MsgType::DiscoverReq) {
                continue;
            }
            const auto reply =
                wire::EncodeFrame(wire::MsgType::DiscoverRep, frame->header.txid, info_);
            if (out_ >= 0) {
                from.sin_addr.s_addr = htonl(INADDR_BROADCAST);
            }
            sendto(out_ >= 0 ? out_ : fd_, reply.data(), reply.size(), 0,
                   reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        close(fd_);
        if (out_ >= 0) {
            close(out_);
        }
    }
    void Stop() { stop_ = true; }
    bool ready() const { return ready_; }
    std::set<std::string> sentTo() {
        std::lock_guard lock(mutex_);
        return sentTo_;
    }

  private:
    tNetDeviceInfo info_{};
    int fd_ = -1;
    int out_ = -1;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::set<std::string> sentTo_;
};

struct SearchRow {
    const char* name;
    const char* discoveryAddress;
    bool secondCable;  // eth1 to a second camera, 10.78.1.5/16
    // adapter each camera answered on ("" where one socket searched), in MAC order
    std::vector<std::string> answeredOn;
    std::set<std::string> firstCameraHeard;  // where the requests to camera 1 were sent
    size_t adaptersSearched;
    bool foreignCamera = false;  // camera 1 at 10.99.1.5/24, no route back
    const char* adapter = "";    // the configuration's `interface`
};

class SearchEveryAdapter : public Namespaces, public ::testing::WithParamInterface<SearchRow> {};

TEST_P(SearchEveryAdapter, FindsTheCamerasOnTheirCables) {
    const SearchRow& row = GetParam();
    // The laptop: Wi-Fi with the default route to an office without cameras,
    // the cable to the lane's camera.
    Cable("wlan0", "192.168.50.20/24");
    Sh("ip -n $NS route add default via 192.168.50.1");
    Cable("eth0", "10.77.0.1/16", "$CAM", row.foreignCamera ? "10.99.1.5/24" : "10.77.1.5/16");
    if (row.secondCable) {
        Cable("eth1", "10.78.0.1/16", "$CAM2", "10.78.1.5/16");
    }
    wire::NetConfig config = wire::LanDefaults();
    config.discoveryAddress = row.discoveryAddress;
    config.discoveryProbeIntervalMs = 100;
    config.discoveryQuietMs = 500;
    config.adapter = row.adapter;

    std::vector<std::unique_ptr<Camera>> cams;
    std::vector<std::thread> threads;
    const uint8_t ip1[4] = {10, row.foreignCamera ? uint8_t{99} : uint8_t{77}, 1, 5};
    const uint8_t ip2[4] = {10, 78, 1, 5};
    cams.push_back(std::make_unique<Camera>(ip1, 1));
    cams[0]->broadcastReply = row.foreignCamera;
    if (row.secondCable) {
        cams.push_back(std::make_unique<Camera>(ip2, 2));
    }
    std::atomic<int> opened{0};
    for (size_t i = 0; i < cams.size(); ++i) {
        threads.emplace_back([&, i] {
            const int fd = open(("/var/run/netns/" + made_[2 + i]).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
                ++opened;
                return;
            }
            close(fd);
            cams[i]->Open(config.discoveryPort);
            ++opened;
            cams[i]->Serve();
        });
    }
    while (opened < static_cast<int>(cams.size())) {
        std::this_thread::yield();
    }
    std::vector<std::pair<std::string, std::string>> found;  // MAC byte, adapter
    wire::DiscoveryStats stats;
    bool ok = false;
    std::string error;
    In(pc(), [&] {
        ok = wire::DiscoverOn(
            config,
            [&](const tNetDeviceInfo& info, const wire::AnsweredOn& on) {
                found.emplace_back(std::to_string(info.ucMac[5]), on.name);
            },
            &stats, &error);
    });
    for (auto& c : cams) {
        c->Stop();
    }
    for (auto& t : threads) {
        t.join();
    }
    for (auto& c : cams) {
        ASSERT_TRUE(c->ready());
    }
    ASSERT_TRUE(ok) << error;
    std::sort(found.begin(), found.end());
    std::vector<std::string> answeredOn;
    for (const auto& f : found) {
        answeredOn.push_back(f.second);
    }
    EXPECT_EQ(answeredOn, row.answeredOn);
    EXPECT_EQ(cams[0]->sentTo(), row.firstCameraHeard);
    EXPECT_EQ(stats.adapters.size(), row.adaptersSearched);
}

INSTANTIATE_TEST_SUITE_P(
    Laptop, SearchEveryAdapter,
    ::testing::Values(
        SearchRow{"installed_default",
                  "255.255.255.255",
                  false,
                  {"eth0"},
                  {"255.255.255.255", "10.77.255.255"},
                  2},
        SearchRow{"two_cables",
                  "255.255.255.255",
                  true,
                  {"eth0", "eth1"},
                  {"255.255.255.255", "10.77.255.255"},
                  3},
        SearchRow{"camera_without_route_back",
                  "255.255.255.255",
                  false,
                  {"eth0"},
                  {"255.255.255.255"},
                  2,
                  true},
        // One adapter chosen, by name or by address: the other cable hears nothing.
        SearchRow{"chosen_by_name",
                  "255.255.255.255",
                  true,
                  {"eth0"},
                  {"255.255.255.255", "10.77.255.255"},
                  1,
                  false,
                  "eth0"},
        SearchRow{
            "chosen_by_address", "255.255.255.255", true, {"eth1"}, {}, 1, false, "10.78.0.1"},
        // An explicit address: one socket, the system's route, as before.
        SearchRow{"explicit_address", "10.77.255.255", true, {""}, {"10.77.255.255"}, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// A chosen adapter that is not there fails the search instead of searching elsewhere.
TEST_F(Namespaces, ChosenAdapterThatIsNotThereFailsTheSearch) {
    Cable("eth0", "10.77.0.1/16");
    Cable("eth1", "10.78.0.1/16");
    Sh("ip -n $NS link set eth1 down");
    wire::NetConfig config = wire::LanDefaults();
    config.discoveryDeadlineMs = 300;
    // Down, absent, an address no adapter has.
    for (const char* choice : {"eth9", "eth1", "10.77.0.2"}) {
        config.adapter = choice;
        bool ok = true;
        std::string error;
        In(pc(), [&] {
            ok = wire::DiscoverOn(
                config, [](const tNetDeviceInfo&, const wire::AnsweredOn&) {}, nullptr, &error);
        });
        EXPECT_FALSE(ok) << choice;
        EXPECT_NE(error.find(choice), std::string::npos) << error;
    }
}

TEST(AdapterAddresses, DirectedBroadcastAndSearchRule) {
    struct Row {
        const char* address;
        int prefix;
        const char* directed;  // nullptr: none
    };
    for (const Row& r :
         {Row{"10.77.0.1", 16, "10.77.255.255"}, Row{"192.168.1.7", 24, "192.168.1.255"},
          Row{"10.0.0.1", 30, "10.0.0.3"}, Row{"10.0.0.1", 31, nullptr},
          Row{"10.0.0.1", 32, nullptr}, Row{"10.0.0.1", 0, nullptr}}) {
        platform::NetAdapter a;
        a.address = Ip(r.address);
        a.prefix = r.prefix;
        EXPECT_EQ(platform::DirectedBroadcast(a), r.directed ? Ip(r.directed) : 0u)
            << r.address << "/" << r.prefix;
    }
    EXPECT_EQ(platform::FormatIpv4(Ip("10.77.255.1")), "10.77.255.1");
    // Up and broadcast but not a loopback: only then does a search go out.
    platform::NetAdapter lan{"eth0", Ip("10.77.0.1"), 16, true, true, false, false};
    EXPECT_TRUE(platform::CarriesSearch(lan));
    auto down = lan, noBroadcast = lan, tunnel = lan, loop = lan;
    down.up = false;
    noBroadcast.broadcast = false;
    tunnel.pointToPoint = true;
    loop.loopback = true;
    for (const auto& a : {down, noBroadcast, tunnel, loop}) {
        EXPECT_FALSE(platform::CarriesSearch(a));
    }
}

}  // namespace

#ifdef QV_CLI_PATH
// The console's listing, by the same namespace: names, addresses and where a
// search goes, as JSON.
TEST_F(Namespaces, ConsoleListsTheAdapters) {
    Cable("eth0", "10.77.0.1/16");
    Cable("eth1", "10.78.0.1/16");
    Sh("ip -n $NS link set eth1 down");
    const std::string cmd = "ip netns exec " + pc() + " " QV_CLI_PATH " interfaces --json";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) {
        out.append(buf, n);
    }
    ASSERT_EQ(pclose(p), 0) << out;
    // One object per address; nlohmann writes the keys in order.
    auto has = [&](const std::string& text) { return out.find(text) != std::string::npos; };
    EXPECT_TRUE(has(R"("address": "10.77.0.1",)")) << out;
    EXPECT_TRUE(has(R"("name": "eth0",)")) << out;
    const auto eth1 = out.find(R"("address": "10.78.0.1")");
    ASSERT_NE(eth1, std::string::npos) << out;
    const auto eth1End = out.find('}', eth1);
    const std::string eth1Object = out.substr(eth1, eth1End - eth1);
    EXPECT_NE(eth1Object.find(R"("searched": false)"), std::string::npos) << eth1Object;
    EXPECT_NE(eth1Object.find(R"("up": false)"), std::string::npos) << eth1Object;
    const auto eth0 = out.find(R"("address": "10.77.0.1")");
    const std::string eth0Object = out.substr(eth0, out.find('}', eth0) - eth0);
    EXPECT_NE(eth0Object.find(R"("searched": true)"), std::string::npos) << eth0Object;
}

// --interface names an adapter of the PC, or the console refuses before it searches.
TEST_F(Namespaces, ConsoleRefusesAnAdapterThatIsNotThere) {
    Cable("eth0", "10.77.0.1/16");
    const std::string dir = "/tmp/" + pc() + "_cli";
    const std::string cmd = "ip netns exec " + pc() + " " QV_CLI_PATH " search --config-dir " +
                            dir + " --interface eth9 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) {
        out.append(buf, n);
    }
    const int status = pclose(p);
    [[maybe_unused]] int rc = std::system(("rm -rf " + dir).c_str());
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 2) << out;
    EXPECT_NE(out.find("没有网卡“eth9”，本机网卡：eth0 10.77.0.1/16"), std::string::npos) << out;
}
#endif
