// Korvel against a simulated fleet on loopback.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "Fleet.h"
#include "korvel.h"
#include "wire/Addr.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// What a DeviceTask offers Net_AddCamera: the address text first.
struct TaskRecord {
    char ip[32];
    char aux[32];
    char path[256];
};

TaskRecord Task(const std::string& ip) {
    TaskRecord t{};
    wire::CopyText(t.ip, sizeof(t.ip), ip);
    return t;
}

// Searches that compare exact sets wait longer than the lab does, so that a
// simulator starved by a loaded machine is not mistaken for a missing camera.
void PatientDiscovery(wire::NetConfig& c) {
    c.discoveryQuietMs = 1500;
    c.discoveryDeadlineMs = 8000;
}

qvtest::FleetOptions Patient(qvtest::FleetOptions o) {
    if (!o.tune) {
        o.tune = PatientDiscovery;
    }
    return o;
}

// One fleet with the library started against it.
class LibraryOn {
  public:
    explicit LibraryOn(qvtest::FleetOptions options = {}) : fleet_(Patient(std::move(options))) {
        if (fleet_.ok()) {
            env_.emplace(fleet_.confPath());
            initRc_ = Net_Init();
        }
    }
    ~LibraryOn() {
        Net_UNinit();
        env_.reset();
    }
    bool ok() const { return fleet_.ok() && initRc_ == KORVEL_OK; }
    std::string why() const { return fleet_.error() + " init " + std::to_string(initRc_); }
    qvtest::Fleet& fleet() { return fleet_; }

  private:
    qvtest::Fleet fleet_;
    std::optional<qvtest::Fleet::ConfEnv> env_;
    int initRc_ = -1;
};

std::string TempFile(const std::string& dir, const std::string& name, size_t size) {
    const std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary);
    std::string block(4096, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i * 131 + 7);
    }
    for (size_t left = size; left > 0;) {
        const size_t n = std::min(left, block.size());
        out.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Found {
    std::mutex mutex;
    std::vector<tNetDeviceInfo> records;
    std::atomic<int> inside{0};
    bool overlapped = false;
    std::thread::id caller;
    bool otherThread = false;
};

void Collect(const tNetDeviceInfo* info, void* user) {
    auto* f = static_cast<Found*>(user);
    if (f->inside.fetch_add(1) != 0) {
        f->overlapped = true;
    }
    if (std::this_thread::get_id() != f->caller) {
        f->otherThread = true;
    }
    {
        std::lock_guard lock(f->mutex);
        f->records.push_back(*info);
    }
    f->inside.fetch_sub(1);
}

std::vector<tNetDeviceInfo> Search() {
    Found f;
    f.caller = std::this_thread::get_id();
    EXPECT_EQ(Net_FindDevice(Collect, &f), KORVEL_OK);
    EXPECT_FALSE(f.overlapped);
    EXPECT_FALSE(f.otherThread);
    return f.records;
}

TEST(KorvelDiscovery, ListsExactlyTheFleetOnce) {
    qvtest::FleetOptions o;
    o.count = 12;
    o.type = "QV-LPR300";
    o.sw = "V3.0.1_20250101";
    o.hw = "YJ2";
    o.faults = {"discovery-twice"};
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();

    const auto records = Search();
    std::map<std::string, std::string> byMac;
    for (const auto& r : records) {
        EXPECT_EQ(r.uiRecordVersion, 1u);
        EXPECT_STREQ(r.szDevType, "QV-LPR300");
        EXPECT_STREQ(r.szSoftVersion, "V3.0.1_20250101");
        EXPECT_STREQ(r.szHardVersion, "YJ2");
        EXPECT_TRUE(byMac.emplace(wire::FormatMac(r.ucMac), wire::FormatIpv4(r.ucIp)).second)
            << "reported twice: " << wire::FormatMac(r.ucMac);
    }
    std::map<std::string, std::string> expected;
    for (const auto& c : lib.fleet().cameras()) {
        expected.emplace(c.mac, c.ip);
    }
    EXPECT_EQ(byMac, expected);
}

TEST(KorvelDiscovery, MalformedAndSilentCamerasAreLeftOut) {
    qvtest::FleetOptions o;
    o.fleetJson = R"([{}, {"faults": {"malformed": true}}, {}, {"faults": {"silent": true}}, {}])";
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const auto& cams = lib.fleet().cameras();
    ASSERT_EQ(cams.size(), 5u);

    const auto started = Clock::now();
    const auto records = Search();
    EXPECT_LT(ElapsedMs(started), lib.fleet().config().discoveryDeadlineMs + 2000);
    std::set<std::string> macs;
    for (const auto& r : records) {
        macs.insert(wire::FormatMac(r.ucMac));
    }
    EXPECT_EQ(macs, (std::set<std::string>{cams[0].mac, cams[2].mac, cams[4].mac}));
}

TEST(KorvelDiscovery, NeedsInitAndACallback) {
    Net_UNinit();
    Found f;
    EXPECT_EQ(Net_FindDevice(Collect, &f), KORVEL_E_NOT_INIT);
    EXPECT_EQ(Net_FindDevice(nullptr, nullptr), KORVEL_E_PARAM);
}

TEST(KorvelSession, ClockAndFileUpdate) {
    qvtest::FleetOptions o;
    o.count = 1;
    o.rebootMs = 0;  // several files in one session: the camera must not go quiet
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const auto& cam = lib.fleet().cameras().at(0);

    auto task = Task(cam.ip);
    const int h = Net_AddCamera(&task);
    ASSERT_GE(h, 0);
    ASSERT_EQ(Net_ConnCamera(h, 5000, 2), KORVEL_OK);

    tNetTimeSetup t{};
    ASSERT_EQ(Net_QueryTimeSetup(h, &t), KORVEL_OK);
    EXPECT_GE(t.usYear, 2000);
    EXPECT_GE(t.ucMonth, 1);
    EXPECT_LE(t.ucMonth, 12);
    tNetTimeSetup set = t;
    set.usYear = 2031;
    set.ucMonth = 7;
    set.ucDay = 15;
    set.ucHour = 10;
    set.ucMinute = 20;
    set.ucSecond = 30;
    EXPECT_EQ(Net_TimeSetup(h, &set), KORVEL_OK);
    tNetTimeSetup back{};
    ASSERT_EQ(Net_QueryTimeSetup(h, &back), KORVEL_OK);
    EXPECT_EQ(back.usYear, 2031);
    EXPECT_EQ(back.ucMonth, 7);
    EXPECT_EQ(back.ucDay, 15);
    EXPECT_EQ(std::memcmp(back.ucReserved, t.ucReserved, sizeof(t.ucReserved)), 0);

    set.ucMonth = 13;
    EXPECT_EQ(Net_TimeSetup(h, &set), KORVEL_E_PARAM);

    // Sizes around the piece size and an empty file.
    for (size_t size : {size_t{0}, size_t{1}, size_t{262144}, size_t{262145}, size_t{3000000}}) {
        const std::string name = "App_" + std::to_string(size) + ".bin";
        const auto path = TempFile(lib.fleet().dir(), name, size);
        tNetFileUpdate up{};
        up.UpgradeType = NET_UPGRADE_APP;
        wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
        EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_OK) << size << "\n" << lib.fleet().log();
        EXPECT_EQ(ReadFile(lib.fleet().filesDir(cam.mac) + "/" + name), ReadFile(path)) << size;
    }

    // A file that cannot be read fails alone; the session goes on.
    tNetFileUpdate missing{};
    wire::CopyText(missing.szFilePath, sizeof(missing.szFilePath),
                   lib.fleet().dir() + "/no-such-file.bin");
    EXPECT_EQ(Net_FileUpdate(h, &missing), KORVEL_E_IO);
    EXPECT_EQ(Net_QueryTimeSetup(h, &back), KORVEL_OK);

    EXPECT_EQ(Net_DisConnCamera(h), KORVEL_OK);
    EXPECT_EQ(Net_QueryTimeSetup(h, &back), KORVEL_E_NOT_CONNECTED);
    EXPECT_EQ(Net_DelCamera(h), KORVEL_OK);
    EXPECT_EQ(Net_QueryTimeSetup(h, &back), KORVEL_E_HANDLE);
    EXPECT_EQ(Net_DelCamera(h), KORVEL_E_HANDLE);
}

TEST(KorvelSession, HandlesAndArguments) {
    EXPECT_EQ(Net_AddCamera(nullptr), -1);
    for (const char* bad : {"", "127.0.0", "127.0.0.1 ", "camera", "300.1.1.1"}) {
        auto t = Task(bad);
        EXPECT_EQ(Net_AddCamera(&t), -1) << bad;
    }
    // A 32-byte address field with no terminator at all.
    TaskRecord full{};
    std::memset(full.ip, '1', sizeof(full.ip));
    EXPECT_EQ(Net_AddCamera(&full), -1);

    auto t = Task("127.0.0.1");
    const int a = Net_AddCamera(&t);
    const int b = Net_AddCamera(&t);
    EXPECT_GE(a, 0);
    EXPECT_GE(b, 0);
    EXPECT_NE(a, b);
    tNetTimeSetup time{};
    EXPECT_EQ(Net_QueryTimeSetup(a, &time), KORVEL_E_NOT_CONNECTED);
    EXPECT_EQ(Net_QueryTimeSetup(a, nullptr), KORVEL_E_PARAM);
    EXPECT_EQ(Net_FileUpdate(a, nullptr), KORVEL_E_PARAM);
    EXPECT_EQ(Net_ConnCamera(-1, 1000, 1), KORVEL_E_NOT_INIT);
    EXPECT_EQ(Net_DelCamera(a), KORVEL_OK);
    EXPECT_EQ(Net_DelCamera(b), KORVEL_OK);
}

struct FaultCase {
    const char* fault;
    const char* step;  // where the failure shows: "connect", "clock" or "update"
    int expected;
};

class KorvelFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(KorvelFault, GivesItsCodeInBoundedTime) {
    const FaultCase& fc = GetParam();
    qvtest::FleetOptions o;
    o.count = 1;
    o.faults = {fc.fault};
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    auto task = Task(lib.fleet().cameras().at(0).ip);
    const int h = Net_AddCamera(&task);
    ASSERT_GE(h, 0);

    // Two attempts of 700 ms: even a silent camera is given up within a few seconds.
    const auto started = Clock::now();
    int rc = Net_ConnCamera(h, 700, 2);
    if (std::string(fc.step) != "connect") {
        ASSERT_EQ(rc, KORVEL_OK) << lib.fleet().log();
        if (std::string(fc.step) == "clock") {
            tNetTimeSetup t{};
            rc = Net_QueryTimeSetup(h, &t);
        } else {
            const auto path = TempFile(lib.fleet().dir(), "Fault.bin", 2'000'000);
            tNetFileUpdate up{};
            up.UpgradeType = NET_UPGRADE_KERNEL;
            wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
            rc = Net_FileUpdate(h, &up);
        }
    }
    EXPECT_EQ(rc, fc.expected) << fc.fault << "\n" << lib.fleet().log();
    EXPECT_LT(ElapsedMs(started), 6000) << fc.fault;
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

INSTANTIATE_TEST_SUITE_P(Faults, KorvelFault,
                         ::testing::Values(FaultCase{"refuse-connect", "connect", KORVEL_E_CONNECT},
                                           FaultCase{"hang", "connect", KORVEL_E_TIMEOUT},
                                           FaultCase{"malformed", "connect", KORVEL_E_PROTOCOL},
                                           FaultCase{"refuse-clock", "clock", KORVEL_E_REFUSED},
                                           FaultCase{"fail-verify", "update", KORVEL_E_VERIFY},
                                           FaultCase{"drop-after=100000", "update", KORVEL_E_IO}),
                         [](const auto& p) {
                             std::string n = p.param.fault;
                             for (char& c : n) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return n;
                         });

struct ProbeCase {
    const char* fault;
    int expected;
};

class KorvelProbe : public ::testing::TestWithParam<ProbeCase> {};

// The probe answers at once for a camera that listens, even one that then
// says nothing, and for one that refuses; it never opens a session.
TEST_P(KorvelProbe, TellsAListeningCameraFromAnAbsentOne) {
    const ProbeCase& pc = GetParam();
    qvtest::FleetOptions o;
    o.count = 1;
    if (pc.fault[0] != '\0') {
        o.faults = {pc.fault};
    }
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    auto task = Task(lib.fleet().cameras().at(0).ip);
    const int h = Net_AddCamera(&task);
    ASSERT_GE(h, 0);
    const auto started = Clock::now();
    EXPECT_EQ(Net_ProbeCamera(h, 3000), pc.expected) << lib.fleet().log();
    EXPECT_LT(ElapsedMs(started), 2000);
    tNetTimeSetup t{};
    EXPECT_EQ(Net_QueryTimeSetup(h, &t), KORVEL_E_NOT_CONNECTED) << "the probe left a session";
    EXPECT_EQ(Net_ProbeCamera(h, 0), KORVEL_E_PARAM);
    EXPECT_EQ(Net_ProbeCamera(h + 1000, 100), KORVEL_E_HANDLE);
    Net_DelCamera(h);
}

INSTANTIATE_TEST_SUITE_P(Cameras, KorvelProbe,
                         ::testing::Values(ProbeCase{"", KORVEL_OK}, ProbeCase{"hang", KORVEL_OK},
                                           ProbeCase{"refuse-connect", KORVEL_E_CONNECT}),
                         [](const auto& p) {
                             std::string n = p.param.fault[0] != '\0' ? p.param.fault : "listening";
                             for (char& c : n) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return n;
                         });

TEST(KorvelSession, AbortCutsATransferAndTheCameraKeepsNothing) {
    qvtest::FleetOptions o;
    o.count = 1;
    o.faults = {"throttle=250000"};  // 2 MB take eight seconds
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const auto& cam = lib.fleet().cameras().at(0);
    auto task = Task(cam.ip);
    const int h = Net_AddCamera(&task);
    ASSERT_EQ(Net_ConnCamera(h, 5000, 1), KORVEL_OK);
    const auto path = TempFile(lib.fleet().dir(), "Abandoned.bin", 2'000'000);
    tNetFileUpdate up{};
    up.UpgradeType = NET_UPGRADE_FS;
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
    std::thread stopper([h] {
        std::this_thread::sleep_for(milliseconds(500));
        EXPECT_EQ(Net_AbortCamera(h), KORVEL_OK);
    });
    const auto started = Clock::now();
    EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_E_IO);
    EXPECT_LT(ElapsedMs(started), 4000);
    stopper.join();
    EXPECT_EQ(Net_ConnCamera(h, 1000, 1), KORVEL_E_IO) << "an abandoned handle stays cut";
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(fs::exists(lib.fleet().filesDir(cam.mac) + "/Abandoned.bin"));
    EXPECT_EQ(Net_AbortCamera(-1), KORVEL_E_HANDLE);
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

TEST(KorvelSession, SameFileTwiceThenRewrittenInPlace) {
    // A batch sends one file to camera after camera; a file rewritten between two
    // sends must go with the digest of its new content.
    qvtest::FleetOptions o;
    o.count = 1;
    o.rebootMs = 0;  // several files in one session: the camera must not go quiet
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const auto& cam = lib.fleet().cameras().at(0);
    auto task = Task(cam.ip);
    const int h = Net_AddCamera(&task);
    ASSERT_EQ(Net_ConnCamera(h, 5000, 1), KORVEL_OK);
    const std::string path = lib.fleet().dir() + "/Same.bin";
    tNetFileUpdate up{};
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
    const std::string received = lib.fleet().filesDir(cam.mac) + "/Same.bin";
    auto write = [&](char fill) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(300000, fill);
    };
    write('a');
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_OK) << round << "\n" << lib.fleet().log();
        EXPECT_EQ(ReadFile(received), std::string(300000, 'a'));
    }
    write('b');  // same size, same name
    EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_OK) << lib.fleet().log();
    EXPECT_EQ(ReadFile(received), std::string(300000, 'b'));
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

TEST(KorvelSession, SlowLinkIsNotTakenForADeadOne) {
    // 250 kB/s: one 256 KiB piece takes about a second, longer than the 700 ms
    // time-out, yet the link keeps moving.
    qvtest::FleetOptions o;
    o.count = 1;
    o.faults = {"throttle=250000"};
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const auto& cam = lib.fleet().cameras().at(0);
    auto task = Task(cam.ip);
    const int h = Net_AddCamera(&task);
    ASSERT_EQ(Net_ConnCamera(h, 700, 1), KORVEL_OK);
    const auto path = TempFile(lib.fleet().dir(), "Slow.bin", 600'000);
    tNetFileUpdate up{};
    up.UpgradeType = NET_UPGRADE_FS;
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
    EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_OK) << lib.fleet().log();
    EXPECT_EQ(ReadFile(lib.fleet().filesDir(cam.mac) + "/Slow.bin"), ReadFile(path));
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

TEST(KorvelSession, SeveralThreadsOnTheirOwnCameras) {
    qvtest::FleetOptions o;
    o.count = 6;
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (const auto& cam : lib.fleet().cameras()) {
        threads.emplace_back([&, ip = cam.ip] {
            auto task = Task(ip);
            const int h = Net_AddCamera(&task);
            if (h < 0 || Net_ConnCamera(h, 5000, 2) != KORVEL_OK) {
                ++failures;
                return;
            }
            for (int i = 0; i < 20; ++i) {
                tNetTimeSetup t{};
                if (Net_QueryTimeSetup(h, &t) != KORVEL_OK) {
                    ++failures;
                }
            }
            Net_DisConnCamera(h);
            Net_DelCamera(h);
        });
    }
    // And searches at the same time.
    threads.emplace_back([&] {
        Found f;
        f.caller = std::this_thread::get_id();
        if (Net_FindDevice(Collect, &f) != KORVEL_OK || f.records.size() != 6u) {
            ++failures;
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0) << lib.fleet().log();
}

TEST(KorvelLog, TimeStampedLinesInTheLogFile) {
    qvtest::FleetOptions o;
    o.count = 1;
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    EXPECT_EQ(Net_Log("%s: %d files\n", "DecUpdatePack", 3), KORVEL_OK);
    EXPECT_EQ(Net_Log("no newline %s", "here"), KORVEL_OK);
    const std::string big(10000, 'z');
    EXPECT_EQ(Net_Log("%s", big.c_str()), KORVEL_OK);
    EXPECT_EQ(Net_Log(nullptr), KORVEL_OK);
    const std::string log = ReadFile(lib.fleet().dir() + "/korvel.log");
    EXPECT_NE(log.find("] DecUpdatePack: 3 files\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] no newline here\n"), std::string::npos) << log;
    EXPECT_NE(log.find(big + "\n"), std::string::npos);
    // "[YYYY-MM-DD HH:MM:SS.mmm] "
    const auto at = log.find("] DecUpdatePack");
    ASSERT_NE(at, std::string::npos);
    const auto open = log.rfind('[', at);
    EXPECT_EQ(at - open, 24u);
}

}  // namespace

TEST(KorvelSession, OneFileToSeveralCamerasAtOnceThenRewritten) {
    // The digest is made once per content and shared by every transfer of it:
    // each camera must still get the file with the digest of what it holds.
    qvtest::FleetOptions o;
    o.count = 4;
    o.rebootMs = 0;
    LibraryOn lib(o);
    ASSERT_TRUE(lib.ok()) << lib.why();
    const std::string path = lib.fleet().dir() + "/Shared.bin";
    auto sendToAll = [&](char fill) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(700000, fill);
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (const auto& cam : lib.fleet().cameras()) {
            threads.emplace_back([&, ip = cam.ip] {
                auto task = Task(ip);
                const int h = Net_AddCamera(&task);
                tNetFileUpdate up{};
                wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
                if (h < 0 || Net_ConnCamera(h, 5000, 2) != KORVEL_OK ||
                    Net_FileUpdate(h, &up) != KORVEL_OK) {
                    ++failures;
                }
                Net_DisConnCamera(h);
                Net_DelCamera(h);
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        EXPECT_EQ(failures.load(), 0) << lib.fleet().log();
        for (const auto& cam : lib.fleet().cameras()) {
            EXPECT_EQ(ReadFile(lib.fleet().filesDir(cam.mac) + "/Shared.bin"),
                      std::string(700000, fill));
        }
    };
    sendToAll('a');
    sendToAll('b');  // same size, same name, new content
}
