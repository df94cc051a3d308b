// Korvel against a scripted camera: hostile, broken and slow answers.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "FakeCamera.h"
#include "korvel.h"
#include "wire/Addr.h"
#include "wire/Discovery.h"
#include "wire/Md5.h"

namespace {

using qvtest::Bytes;
using qvtest::FakeCamera;
using qvtest::FakeConn;
using wire::MsgType;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// The library started against one fake camera.
class OnFake {
  public:
    explicit OnFake(FakeCamera::TcpScript tcp, FakeCamera::UdpScript udp = {},
                    FakeCamera::UdpPace pace = {})
        : cam(std::move(tcp), std::move(udp), pace) {
        ::setenv(wire::kNetConfEnv, cam.confPath().c_str(), 1);
        initRc = Net_Init();
    }
    ~OnFake() {
        Net_UNinit();
        ::unsetenv(wire::kNetConfEnv);
    }
    int add() {
        char task[320] = "127.0.0.1";
        return Net_AddCamera(task);
    }
    FakeCamera cam;
    int initRc = -1;
};

Bytes Status(MsgType type, uint32_t tx, wire::Status s) {
    wire::StatusRep r{static_cast<uint32_t>(s)};
    return wire::EncodeFrame(type, tx, r);
}

Bytes HelloRep(uint32_t tx, wire::Status s = wire::Status::Ok) {
    wire::HelloRep r{};
    r.status = static_cast<uint32_t>(s);
    r.info = qvtest::MakeRecord(1);
    return wire::EncodeFrame(MsgType::HelloRep, tx, r);
}

// Answers the hello; false when the tool did not say it.
bool Hello(FakeConn& c) {
    const auto f = c.read();
    if (!f || f->type() != MsgType::HelloReq) {
        return false;
    }
    c.send(HelloRep(f->header.txid));
    return true;
}

struct ConnectCase {
    const char* what;
    void (*script)(FakeConn&);
    int expected;
    int connections;  // of 3 attempts
};

const ConnectCase kConnectCases[] = {
    {"answers byte by byte",
     [](FakeConn& c) {
         const auto f = c.read();
         c.sendBytewise(HelloRep(f ? f->header.txid : 0));
         c.awaitClose();
     },
     KORVEL_OK, 1},
    {"refuses the session",
     [](FakeConn& c) {
         const auto f = c.read();
         c.send(HelloRep(f ? f->header.txid : 0, wire::Status::Refused));
     },
     KORVEL_E_REFUSED, 1},
    {"announces a 4 GiB reply",
     [](FakeConn& c) {
         const auto f = c.read();
         const auto h = wire::EncodeHeader(MsgType::HelloRep, f ? f->header.txid : 0, 0xFFFFFFFFu);
         c.send(Bytes(h.begin(), h.end()));
         c.awaitClose();
     },
     KORVEL_E_PROTOCOL, 3},
    {"sends garbage",
     [](FakeConn& c) {
         c.read();
         c.send(Bytes(100, 0xAB));
         c.awaitClose();
     },
     KORVEL_E_PROTOCOL, 3},
    {"answers another transaction",
     [](FakeConn& c) {
         const auto f = c.read();
         c.send(HelloRep(f ? f->header.txid + 7 : 0));
         c.awaitClose();
     },
     KORVEL_E_PROTOCOL, 3},
    {"answers with another message",
     [](FakeConn& c) {
         const auto f = c.read();
         c.send(Status(MsgType::TimeSetRep, f ? f->header.txid : 0, wire::Status::Ok));
         c.awaitClose();
     },
     KORVEL_E_PROTOCOL, 3},
    // Unknown types are skipped within their bounds (docs/protocol.md, section 1).
    {"sends a message of unknown type first",
     [](FakeConn& c) {
         const auto f = c.read();
         c.send(wire::EncodeFrame(static_cast<MsgType>(0x60), 1, Bytes(100, 0x60)));
         c.send(HelloRep(f ? f->header.txid : 0));
         c.awaitClose();
     },
     KORVEL_OK, 1},
    {"sends an unknown type beyond its bounds",
     [](FakeConn& c) {
         c.read();
         const auto h = wire::EncodeHeader(static_cast<MsgType>(0x60), 1, 4097);
         c.send(Bytes(h.begin(), h.end()));
         c.awaitClose();
     },
     KORVEL_E_PROTOCOL, 3},
    {"stalls inside its answer",
     [](FakeConn& c) {
         const auto f = c.read();
         const Bytes hello = HelloRep(f ? f->header.txid : 0);
         c.send(Bytes(hello.begin(), hello.begin() + 30));
         c.awaitClose();
     },
     KORVEL_E_TIMEOUT, 3},
    {"hangs up at once", [](FakeConn&) {}, KORVEL_E_CONNECT, 3},
    {"never answers", [](FakeConn& c) { c.awaitClose(); }, KORVEL_E_TIMEOUT, 3},
};

class KorvelConnect : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(KorvelConnect, GivesItsCodeAfterItsAttempts) {
    const ConnectCase& cc = GetParam();
    OnFake lib(cc.script);
    ASSERT_TRUE(lib.cam.ok());
    ASSERT_EQ(lib.initRc, KORVEL_OK);
    const int h = lib.add();
    ASSERT_GE(h, 0);
    const auto started = Clock::now();
    EXPECT_EQ(Net_ConnCamera(h, 400, 3), cc.expected) << cc.what;
    // Three attempts of 400 ms and two pauses, with room for a loaded machine.
    EXPECT_LT(ElapsedMs(started), 4000) << cc.what;
    Net_DisConnCamera(h);
    Net_DelCamera(h);
    EXPECT_EQ(lib.cam.connections(), cc.connections) << cc.what;
}

INSTANTIATE_TEST_SUITE_P(Hello, KorvelConnect, ::testing::ValuesIn(kConnectCases),
                         [](const auto& p) {
                             std::string n = p.param.what;
                             for (char& ch : n) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return n;
                         });

// What a scripted camera saw of one update.
struct Seen {
    std::mutex mutex;
    uint16_t type = 0;
    uint64_t size = 0;
    std::string name;
    Bytes data;
    wire::Digest endMd5{};
};

std::string WriteFile(const std::string& dir, const std::string& name, size_t size) {
    const std::string path = dir + "/" + name;
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 31 + 5);
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Answers the hello, takes an update's start and says it is ready; the
// update's transaction, or nothing when the link ended first.
std::optional<uint32_t> ReadyForUpdate(FakeConn& c) {
    if (!Hello(c)) {
        return std::nullopt;
    }
    const auto begin = c.read();
    if (!begin) {
        return std::nullopt;
    }
    c.send(Status(MsgType::UpdateReady, begin->header.txid, wire::Status::Ok));
    return begin->header.txid;
}

// Answers the hello and then reads one update up to its end; `verdict` decides the answer.
void ServeUpdate(FakeConn& c, Seen& seen,
                 const std::function<Bytes(uint32_t tx, const Seen&)>& verdict) {
    if (!Hello(c)) {
        return;
    }
    const auto begin = c.read();
    if (!begin || begin->type() != MsgType::UpdateBegin) {
        return;
    }
    const auto b = wire::ParsePayload<wire::UpdateBegin>(begin->payload);
    {
        std::lock_guard lock(seen.mutex);
        seen.type = b->upgradeType;
        seen.size = b->size;
        seen.name = wire::TextField(b->name, sizeof(b->name));
    }
    const uint32_t tx = begin->header.txid;
    c.send(Status(MsgType::UpdateReady, tx, wire::Status::Ok));
    for (;;) {
        const auto f = c.read();
        if (!f || f->header.txid != tx) {
            return;
        }
        std::lock_guard lock(seen.mutex);
        if (f->type() == MsgType::UpdateData) {
            seen.data.insert(seen.data.end(), f->payload.begin(), f->payload.end());
            continue;
        }
        if (f->type() == MsgType::UpdateEnd) {
            std::memcpy(seen.endMd5.data(), f->payload.data(), 16);
            break;
        }
        return;
    }
    const Bytes reply = verdict(tx, seen);
    if (!reply.empty()) {
        c.send(reply);
    }
    c.awaitClose();
}

Bytes Verdict(uint32_t tx, wire::Status s, uint64_t received, const wire::Digest& md5) {
    wire::UpdateResult r{};
    r.status = static_cast<uint32_t>(s);
    r.received = received;
    std::copy(md5.begin(), md5.end(), r.md5);
    return wire::EncodeFrame(MsgType::UpdateResult, tx, r);
}

int Update(OnFake& lib, const std::string& path, uint16_t type = NET_UPGRADE_APP) {
    const int h = lib.add();
    if (Net_ConnCamera(h, 2000, 1) != KORVEL_OK) {
        return -100;
    }
    tNetFileUpdate up{};
    up.UpgradeType = type;
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
    const int rc = Net_FileUpdate(h, &up);
    Net_DisConnCamera(h);
    Net_DelCamera(h);
    return rc;
}

TEST(KorvelUpdate, CameraSeesTypeBaseNameSizeBytesAndDigest) {
    Seen seen;
    OnFake lib([&](FakeConn& c) {
        ServeUpdate(c, seen, [](uint32_t tx, const Seen& s) {
            return Verdict(tx, wire::Status::Ok, s.data.size(), wire::Md5Of(s.data));
        });
    });
    ASSERT_TRUE(lib.cam.ok());
    const auto path = WriteFile(lib.cam.dir(), "uImage", 700001);
    EXPECT_EQ(Update(lib, path, NET_UPGRADE_KERNEL), KORVEL_OK);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.type, NET_UPGRADE_KERNEL);
    EXPECT_EQ(seen.name, "uImage");  // never the folder
    EXPECT_EQ(seen.size, 700001u);
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(seen.data, file);
    EXPECT_EQ(seen.endMd5, wire::Md5Of(file));
}

TEST(KorvelUpdate, VerdictsAndTheirCodes) {
    struct Case {
        const char* what;
        std::function<Bytes(uint32_t, const Seen&)> verdict;
        int expected;
    };
    const Case cases[] = {
        {"rejected",
         [](uint32_t tx, const Seen& s) {
             return Verdict(tx, wire::Status::VerifyFailed, s.data.size(), wire::Md5Of(s.data));
         },
         KORVEL_E_VERIFY},
        {"accepted with another digest",
         [](uint32_t tx, const Seen& s) {
             return Verdict(tx, wire::Status::Ok, s.data.size(), wire::Digest{});
         },
         KORVEL_E_VERIFY},
        {"accepted with fewer bytes",
         [](uint32_t tx, const Seen& s) {
             return Verdict(tx, wire::Status::Ok, s.data.size() - 1, wire::Md5Of(s.data));
         },
         KORVEL_E_VERIFY},
        {"flash failed",
         [](uint32_t tx, const Seen& s) {
             return Verdict(tx, wire::Status::Internal, s.data.size(), wire::Md5Of(s.data));
         },
         KORVEL_E_IO},
        {"verdict for another transaction",
         [](uint32_t tx, const Seen& s) {
             return Verdict(tx + 1, wire::Status::Ok, s.data.size(), wire::Md5Of(s.data));
         },
         KORVEL_E_PROTOCOL},
        {"no verdict at all", [](uint32_t, const Seen&) { return Bytes{}; }, KORVEL_E_TIMEOUT},
    };
    for (const auto& c : cases) {
        Seen seen;
        OnFake lib([&](FakeConn& conn) { ServeUpdate(conn, seen, c.verdict); });
        ASSERT_TRUE(lib.cam.ok());
        const auto path = WriteFile(lib.cam.dir(), "App.bin", 300000);
        const auto started = Clock::now();
        EXPECT_EQ(Update(lib, path), c.expected) << c.what;
        EXPECT_LT(ElapsedMs(started), 4000) << c.what;
    }
}

TEST(KorvelUpdate, EarlyVerdictStopsTheStream) {
    OnFake lib([](FakeConn& c) {
        const auto tx = ReadyForUpdate(c);
        if (!tx) {
            return;
        }
        c.read();  // the first piece, then the camera's storage is "full"
        c.send(Verdict(*tx, wire::Status::VerifyFailed, 1, wire::Digest{}));
    });
    ASSERT_TRUE(lib.cam.ok());
    // Larger than every socket buffer on the way, so the stream cannot finish first.
    const auto path = WriteFile(lib.cam.dir(), "Big.bin", 40'000'000);
    const auto started = Clock::now();
    EXPECT_EQ(Update(lib, path), KORVEL_E_VERIFY);
    EXPECT_LT(ElapsedMs(started), 5000);
}

TEST(KorvelUpdate, RefusalBeforeTheStreamKeepsTheSession) {
    OnFake lib([](FakeConn& c) {
        if (!Hello(c)) {
            return;
        }
        for (;;) {
            const auto f = c.read();
            if (!f) {
                return;
            }
            if (f->type() == MsgType::UpdateBegin) {
                c.send(Status(MsgType::UpdateReady, f->header.txid, wire::Status::Busy));
            } else if (f->type() == MsgType::TimeGetReq) {
                wire::TimeGetRep r{};
                r.time = {2030, 1, 2, 3, 4, 5, {9, 8, 7, 6, 5}};
                c.send(wire::EncodeFrame(MsgType::TimeGetRep, f->header.txid, r));
            } else {
                wire::Nak nak{};
                nak.status = static_cast<uint32_t>(wire::Status::BadRequest);
                nak.rejectedType = f->header.type;
                c.send(wire::EncodeFrame(MsgType::Nak, f->header.txid, nak));
            }
        }
    });
    ASSERT_TRUE(lib.cam.ok());
    const int h = lib.add();
    ASSERT_EQ(Net_ConnCamera(h, 2000, 1), KORVEL_OK);
    tNetFileUpdate up{};
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), WriteFile(lib.cam.dir(), "App.bin", 1000));
    EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_E_REFUSED);
    tNetTimeSetup t{};
    EXPECT_EQ(Net_QueryTimeSetup(h, &t), KORVEL_OK);
    EXPECT_EQ(t.usYear, 2030);
    EXPECT_EQ(t.ucReserved[0], 9);
    // A request the camera does not know: NAK with BAD_REQUEST.
    t.ucMonth = 6;
    EXPECT_EQ(Net_TimeSetup(h, &t), KORVEL_E_PROTOCOL);
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

TEST(KorvelDiscoveryHostile, OnlyWellFormedAnswersOfThisSearchCount) {
    OnFake lib(
        [](FakeConn&) {},
        [](uint32_t tx) {
            std::vector<Bytes> out;
            const auto good = qvtest::MakeRecord(1);
            out.push_back(wire::EncodeFrame(MsgType::DiscoverRep, tx, good));
            out.push_back(wire::EncodeFrame(MsgType::DiscoverRep, tx, good));  // again
            auto v2 = qvtest::MakeRecord(2);
            v2.uiRecordVersion = 2;
            out.push_back(wire::EncodeFrame(MsgType::DiscoverRep, tx, v2));
            out.push_back(wire::EncodeFrame(MsgType::DiscoverRep, tx + 1, qvtest::MakeRecord(3)));
            auto longer = wire::EncodeFrame(MsgType::DiscoverRep, tx, qvtest::MakeRecord(4));
            longer.push_back(0);
            out.push_back(longer);
            auto shorter = wire::EncodeFrame(MsgType::DiscoverRep, tx, qvtest::MakeRecord(5));
            shorter.pop_back();
            out.push_back(shorter);
            out.push_back(Bytes(452, 0x51));
            // Every text field filled to the brim, no terminator anywhere.
            auto full = qvtest::MakeRecord(6);
            std::memset(full.szDevType, 'T', sizeof(full.szDevType));
            std::memset(full.szSoftVersion, 'S', sizeof(full.szSoftVersion));
            std::memset(full.szHardVersion, 'H', sizeof(full.szHardVersion));
            out.push_back(wire::EncodeFrame(MsgType::DiscoverRep, tx, full));
            return out;
        });
    ASSERT_TRUE(lib.cam.ok());
    ASSERT_EQ(lib.initRc, KORVEL_OK);
    struct Got {
        std::vector<tNetDeviceInfo> records;
    } got;
    EXPECT_EQ(Net_FindDevice([](const tNetDeviceInfo* info,
                                void* user) { static_cast<Got*>(user)->records.push_back(*info); },
                             &got),
              KORVEL_OK);
    std::set<int> macs;
    for (const auto& r : got.records) {
        macs.insert(r.ucMac[5]);
        EXPECT_LT(std::strlen(r.szDevType), sizeof(r.szDevType));
        EXPECT_LT(std::strlen(r.szSoftVersion), sizeof(r.szSoftVersion));
        EXPECT_LT(std::strlen(r.szHardVersion), sizeof(r.szHardVersion));
    }
    EXPECT_EQ(macs, (std::set<int>{1, 6}));
    EXPECT_EQ(got.records.size(), 2u);
}

// ------------------------------------------------------------ hostile cameras

std::string ReadLog(const OnFake& lib) {
    std::ifstream in(lib.cam.dir() + "/korvel.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes Unknown(uint8_t type, uint32_t tx, size_t len) {
    return wire::EncodeFrame(static_cast<MsgType>(type), tx, Bytes(len, type));
}

// Messages of types the library does not know come before replies and in the
// middle of a file stream; each is skipped and the work goes on.
TEST(KorvelHostile, UnknownMessagesAreSkippedInRepliesAndDuringTheStream) {
    OnFake lib([](FakeConn& c) {
        if (!Hello(c)) {
            return;
        }
        wire::Md5 md5;
        uint64_t got = 0;
        bool streamed = false;
        for (;;) {
            const auto f = c.read();
            if (!f) {
                return;
            }
            const uint32_t tx = f->header.txid;
            switch (f->type()) {
                case MsgType::TimeGetReq: {
                    c.send(Unknown(0x60, tx, 0));
                    c.send(Unknown(0xEE, tx, wire::kMaxUnknownPayload));
                    wire::TimeGetRep r{};
                    r.time = {2031, 2, 3, 4, 5, 6, {}};
                    c.send(wire::EncodeFrame(MsgType::TimeGetRep, tx, r));
                    break;
                }
                case MsgType::UpdateBegin:
                    c.send(Unknown(0x61, tx, 12));
                    c.send(Status(MsgType::UpdateReady, tx, wire::Status::Ok));
                    break;
                case MsgType::UpdateData:
                    md5.update(f->payload);
                    got += f->payload.size();
                    if (!streamed) {
                        streamed = true;
                        c.send(Unknown(0x62, tx, 300));
                    }
                    break;
                case MsgType::UpdateEnd:
                    c.send(Verdict(tx, wire::Status::Ok, got, md5.finish()));
                    break;
                default:
                    return;
            }
        }
    });
    ASSERT_TRUE(lib.cam.ok());
    const int h = lib.add();
    ASSERT_EQ(Net_ConnCamera(h, 2000, 1), KORVEL_OK);
    tNetTimeSetup t{};
    EXPECT_EQ(Net_QueryTimeSetup(h, &t), KORVEL_OK);
    EXPECT_EQ(t.usYear, 2031);
    tNetFileUpdate up{};
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath),
                   WriteFile(lib.cam.dir(), "App.bin", 3'000'000));
    const auto started = Clock::now();
    EXPECT_EQ(Net_FileUpdate(h, &up), KORVEL_OK);
    EXPECT_LT(ElapsedMs(started), 4000);
    Net_DisConnCamera(h);
    Net_DelCamera(h);
    const std::string log = ReadLog(lib);
    // Said once per session, not once per message.
    const std::string line = "sent a message of unknown type 0x60; skipped";
    const auto first = log.find(line);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("of unknown type", first + line.size()), std::string::npos) << log;
}

// A camera that stops reading in the middle of a file is given up after the
// session's time-out, not waited for.
TEST(KorvelHostile, CameraThatStallsMidStreamTimesOut) {
    OnFake lib([](FakeConn& c) {
        if (!ReadyForUpdate(c)) {
            return;
        }
        c.read();
        std::this_thread::sleep_for(5s);  // connected, but reading nothing more
    });
    ASSERT_TRUE(lib.cam.ok());
    const auto path = WriteFile(lib.cam.dir(), "Big.bin", 40'000'000);
    const auto started = Clock::now();
    EXPECT_EQ(Update(lib, path), KORVEL_E_TIMEOUT);
    EXPECT_LT(ElapsedMs(started), 4500);  // the 2000 ms time-out, with room for a busy machine
}

// Control characters in a camera's texts are data: handed on byte for byte,
// and escaped where the library writes them into its log.
TEST(KorvelHostile, ControlCharactersInTextsStayDataAndCannotForgeLogLines) {
    const std::string evil = "QV\x1b[2J\r\nforged\x07\x7f";
    OnFake lib([](FakeConn&) {},
               [&](uint32_t tx) {
                   auto r = qvtest::MakeRecord(9);
                   wire::CopyText(r.szDevType, sizeof(r.szDevType), evil);
                   wire::CopyText(r.szHardVersion, sizeof(r.szHardVersion), "\t\x01");
                   return std::vector<Bytes>{wire::EncodeFrame(MsgType::DiscoverRep, tx, r)};
               });
    ASSERT_TRUE(lib.cam.ok());
    std::vector<tNetDeviceInfo> got;
    ASSERT_EQ(Net_FindDevice(
                  [](const tNetDeviceInfo* info, void* user) {
                      static_cast<std::vector<tNetDeviceInfo>*>(user)->push_back(*info);
                  },
                  &got),
              KORVEL_OK);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::string(got[0].szDevType), evil);
    EXPECT_EQ(std::string(got[0].szHardVersion), "\t\x01");
    Net_Log("DecUpdatePack name:%s,file size %d\n", evil.c_str(), 5);
    // Entry names from a pack: bytes that are no UTF-8 are escaped, Chinese is kept.
    Net_Log("bin file[%d]:%s\n", 1, "\xC3(\xFF_\xE5\x8D\x87\xE7\xBA\xA7.jffs2");
    const std::string log = ReadLog(lib);
    EXPECT_NE(log.find("DecUpdatePack name:QV\\x1b[2J\\r\\nforged\\x07\\x7f,file size 5\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("bin file[1]:\\xc3(\\xff_升级.jffs2\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("\nforged"), std::string::npos);
}

Bytes Answer(uint32_t tx, int i) {
    auto r = qvtest::MakeRecord(static_cast<uint8_t>(i));
    r.ucMac[4] = static_cast<uint8_t>(i >> 8);
    return wire::EncodeFrame(MsgType::DiscoverRep, tx, r);
}

std::vector<Bytes> Answers(uint32_t tx, int count) {
    std::vector<Bytes> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(Answer(tx, i));
    }
    return out;
}

// One host posing as thousands of cameras: the search still ends within its
// deadline and reports each camera once.
TEST(KorvelHostile, FloodOfAnswersEndsInTimeWithEachCameraOnce) {
    OnFake lib([](FakeConn&) {}, [](uint32_t tx) { return Answers(tx, 3000); },
               {100, std::chrono::microseconds(1500)});
    ASSERT_TRUE(lib.cam.ok());
    std::vector<tNetDeviceInfo> got;
    const auto started = Clock::now();
    ASSERT_EQ(Net_FindDevice(
                  [](const tNetDeviceInfo* info, void* user) {
                      static_cast<std::vector<tNetDeviceInfo>*>(user)->push_back(*info);
                  },
                  &got),
              KORVEL_OK);
    EXPECT_LT(ElapsedMs(started), 3000 + 1500);  // the fake's deadline, with room
    std::set<std::pair<int, int>> macs;
    for (const auto& r : got) {
        macs.insert({r.ucMac[4], r.ucMac[5]});
    }
    EXPECT_EQ(macs.size(), got.size());
    EXPECT_GT(got.size(), 100u);
    EXPECT_LE(got.size(), 3000u);
}

// Past the limit of one search, cameras are counted and not kept; the limit
// is announced once.
TEST(KorvelHostile, SearchKeepsAtMostItsLimitOfCameras) {
    FakeCamera cam([](FakeConn&) {}, [](uint32_t tx) { return Answers(tx, 400); },
                   {50, std::chrono::microseconds(2000)});
    ASSERT_TRUE(cam.ok());
    std::string error;
    const auto loaded = wire::LoadNetConfigFile(cam.confPath(), &error);
    ASSERT_TRUE(loaded) << error;
    int reported = 0;
    int limits = 0;
    wire::DiscoveryStats stats;
    ASSERT_TRUE(wire::Discover(
        loaded->config, [&](const tNetDeviceInfo&) { ++reported; }, &stats, &error, 60,
        [&] { ++limits; }));
    EXPECT_EQ(reported, 60);
    EXPECT_EQ(stats.cameras, 60);
    EXPECT_EQ(limits, 1);
    EXPECT_GT(stats.beyondLimit, 0);
    EXPECT_EQ(wire::kMaxCamerasPerSearch, 10000);
}

// A camera that keeps answering, slowly, does not keep the search open past
// its deadline.
TEST(KorvelHostile, TrickleOfAnswersEndsAtTheDeadline) {
    OnFake lib([](FakeConn&) {}, [](uint32_t tx) { return Answers(tx, 100); },
               {1, std::chrono::microseconds(150'000)});
    ASSERT_TRUE(lib.cam.ok());
    std::vector<tNetDeviceInfo> got;
    const auto started = Clock::now();
    ASSERT_EQ(Net_FindDevice(
                  [](const tNetDeviceInfo* info, void* user) {
                      static_cast<std::vector<tNetDeviceInfo>*>(user)->push_back(*info);
                  },
                  &got),
              KORVEL_OK);
    const long ms = ElapsedMs(started);
    EXPECT_GE(ms, 2900);         // the deadline, 3000 ms after the probe
    EXPECT_LT(ms, 3000 + 1500);  // and not the 15 s the trickle would take
    EXPECT_GT(got.size(), 5u);
    EXPECT_LT(got.size(), 100u);
}

// ---- closing the library while a camera keeps it waiting ----

struct Stalled {
    const char* where;
    void (*script)(FakeConn&);
    // The call that waits: connect, clock query or file update.
    int (*call)(int handle, const std::string& file);
};

int ConnectOnly(int handle, const std::string&) {
    return Net_ConnCamera(handle, 30000, 5);
}
int QueryClock(int handle, const std::string&) {
    if (int rc = Net_ConnCamera(handle, 30000, 1); rc != KORVEL_OK) {
        return -rc;
    }
    tNetTimeSetup t{};
    return Net_QueryTimeSetup(handle, &t);
}
int SendFile(int handle, const std::string& file) {
    if (int rc = Net_ConnCamera(handle, 30000, 1); rc != KORVEL_OK) {
        return -rc;
    }
    tNetFileUpdate u{};
    std::snprintf(u.szFilePath, sizeof(u.szFilePath), "%s", file.c_str());
    return Net_FileUpdate(handle, &u);
}

const Stalled kStalled[] = {
    {"hello", [](FakeConn& c) { c.awaitClose(std::chrono::seconds(40)); }, &ConnectOnly},
    {"clock",
     [](FakeConn& c) {
         Hello(c);
         c.awaitClose(std::chrono::seconds(40));
     },
     &QueryClock},
    {"update",
     [](FakeConn& c) {
         Hello(c);
         c.awaitClose(std::chrono::seconds(40));
     },
     &SendFile},
};

class KorvelTeardown : public ::testing::TestWithParam<Stalled> {};

TEST_P(KorvelTeardown, UNinitEndsACallInProgressAtOnce) {
    const Stalled& st = GetParam();
    OnFake lib(st.script);
    ASSERT_EQ(lib.initRc, KORVEL_OK);
    const std::string file = lib.cam.dir() + "/fw.bin";
    std::ofstream(file) << std::string(1000, 'f');
    const int h = lib.add();
    std::atomic<int> rc{1000};
    std::thread caller([&] { rc = st.call(h, file); });
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(rc.load(), 1000) << "the call should still be waiting";
    const auto closing = Clock::now();
    Net_UNinit();
    caller.join();
    EXPECT_LT(ElapsedMs(closing), 3000);
    EXPECT_EQ(rc.load(), KORVEL_E_IO) << st.where;
    EXPECT_EQ(Net_DelCamera(h), KORVEL_E_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(Stages, KorvelTeardown, ::testing::ValuesIn(kStalled),
                         [](const ::testing::TestParamInfo<Stalled>& p) {
                             return std::string(p.param.where);
                         });

TEST(KorvelStart, SaysWhyItsConfigurationCannotBeReadAndNeverWaitsOnAFifo) {
    FakeCamera cam([](FakeConn&) {});
    ASSERT_TRUE(cam.ok());
    const std::string missing = cam.dir() + "/missing.conf";
    ::setenv(wire::kNetConfEnv, missing.c_str(), 1);
    EXPECT_EQ(Net_Init(), KORVEL_E_PARAM);
    char why[256] = {};
    EXPECT_GT(Net_GetInitError(why, sizeof(why)), 0);
    EXPECT_EQ(std::string(why).rfind("cannot read network configuration " + missing, 0), 0u) << why;
    char tiny[8] = {};
    Net_GetInitError(tiny, sizeof(tiny));
    EXPECT_EQ(std::strlen(tiny), 7u);

    // A FIFO in place of korvel.log neither stops the start nor a log line.
    ASSERT_EQ(::mkfifo((cam.dir() + "/korvel.log").c_str(), 0600), 0);
    ::setenv(wire::kNetConfEnv, cam.confPath().c_str(), 1);
    const auto started = Clock::now();
    EXPECT_EQ(Net_Init(), KORVEL_OK);
    EXPECT_EQ(Net_Log("a line for %s", "nobody"), KORVEL_OK);
    EXPECT_LT(ElapsedMs(started), 2000);
    EXPECT_EQ(Net_GetInitError(why, sizeof(why)), 0);
    EXPECT_STREQ(why, "");
    Net_UNinit();
    ::unsetenv(wire::kNetConfEnv);
}

}  // namespace

// ---- The camera's reason for a refusal, its stage and bytes, through Net_GetCallDetail ----

Bytes ReasonFrame(uint32_t tx, wire::Status s, wire::UpdateReasonCode code, const char* text) {
    wire::UpdateReason r{};
    r.status = static_cast<uint32_t>(s);
    r.reason = static_cast<uint32_t>(code);
    wire::CopyText(r.text, sizeof(r.text), text);
    return wire::EncodeFrame(MsgType::UpdateReason, tx, r);
}

struct ReasonCase {
    const char* name;
    bool beforeStream;  // the refusal answers UPDATE_BEGIN, else UPDATE_END
    wire::Status status;
    bool sendsReason;  // a camera of before the message sends none
    wire::UpdateReasonCode code;
    const char* text;
    int rc;
};

class KorvelReason : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(KorvelReason, RefusalCarriesTheCamerasReasonAndOldCamerasStillRefusePlainly) {
    const ReasonCase& rc = GetParam();
    OnFake lib([&](FakeConn& c) {
        if (!Hello(c)) {
            return;
        }
        const auto begin = c.read();
        if (!begin) {
            return;
        }
        const uint32_t tx = begin->header.txid;
        auto refuse = [&](MsgType type) {
            if (rc.sendsReason) {
                c.send(ReasonFrame(tx, rc.status, rc.code, rc.text));
            }
            if (type == MsgType::UpdateReady) {
                c.send(Status(type, tx, rc.status));
            } else {
                c.send(Verdict(tx, rc.status, 5000, wire::Digest{}));
            }
        };
        if (rc.beforeStream) {
            refuse(MsgType::UpdateReady);
            c.awaitClose();
            return;
        }
        c.send(Status(MsgType::UpdateReady, tx, wire::Status::Ok));
        for (auto f = c.read(); f && f->type() != MsgType::UpdateEnd; f = c.read()) {
        }
        refuse(MsgType::UpdateResult);
        c.awaitClose();
    });
    ASSERT_TRUE(lib.cam.ok());
    const auto path = WriteFile(lib.cam.dir(), "App.bin", 5000);
    const int h = lib.add();
    std::vector<uint32_t> stages;
    NetProgressCallback cb = [](int, const tNetProgress* p, void* user) {
        static_cast<std::vector<uint32_t>*>(user)->push_back(p->uiStage);
    };
    ASSERT_EQ(Net_SetProgressCallback(h, cb, &stages), KORVEL_OK);
    ASSERT_EQ(Net_ConnCamera(h, 2000, 3), KORVEL_OK);
    tNetFileUpdate up{};
    wire::CopyText(up.szFilePath, sizeof(up.szFilePath), path);
    EXPECT_EQ(Net_FileUpdate(h, &up), rc.rc);
    tNetCallDetail d{};
    ASSERT_EQ(Net_GetCallDetail(h, &d), KORVEL_OK);
    EXPECT_EQ(d.uiCameraStatus, static_cast<uint32_t>(rc.status));
    EXPECT_EQ(d.uiCameraReason, rc.sendsReason ? static_cast<uint32_t>(rc.code) : 0u);
    EXPECT_STREQ(d.szCameraReason, rc.sendsReason ? rc.text : "");
    EXPECT_STREQ(d.szSoftVersion, "V1.0.0");  // from the hello
    EXPECT_EQ(d.uiAttempts, 1u);
    EXPECT_EQ(d.ullSize, 5000u);
    EXPECT_EQ(d.ullSent, rc.beforeStream ? 0u : 5000u);
    ASSERT_FALSE(stages.empty());
    EXPECT_EQ(stages.front(), static_cast<uint32_t>(NET_STAGE_CONNECTING));
    EXPECT_EQ(stages.back(),
              static_cast<uint32_t>(rc.beforeStream ? NET_STAGE_HELLO : NET_STAGE_VERDICT));
    Net_DisConnCamera(h);
    Net_DelCamera(h);
}

const ReasonCase kReasonCases[] = {
    {"WrongHardware", false, wire::Status::VerifyFailed, true, wire::UpdateReasonCode::Hardware,
     "entry YJ202 for hardware 101", KORVEL_E_VERIFY},
    {"Digest", false, wire::Status::VerifyFailed, true, wire::UpdateReasonCode::DigestMismatch,
     "MD5 mismatch", KORVEL_E_VERIFY},
    {"CannotWrite", false, wire::Status::Internal, true, wire::UpdateReasonCode::Write, "disk full",
     KORVEL_E_IO},
    {"TooLarge", true, wire::Status::Refused, true, wire::UpdateReasonCode::TooLarge,
     "capacity 64 MiB", KORVEL_E_REFUSED},
    {"Busy", true, wire::Status::Busy, true, wire::UpdateReasonCode::Busy, "updating",
     KORVEL_E_REFUSED},
    {"ReasonOfALaterVersion", false, wire::Status::VerifyFailed, true,
     static_cast<wire::UpdateReasonCode>(77), "new rule", KORVEL_E_VERIFY},
    {"OldCameraRejects", false, wire::Status::VerifyFailed, false, wire::UpdateReasonCode::None, "",
     KORVEL_E_VERIFY},
    {"OldCameraRefusesUpFront", true, wire::Status::Refused, false, wire::UpdateReasonCode::None,
     "", KORVEL_E_REFUSED},
};

INSTANTIATE_TEST_SUITE_P(Refusals, KorvelReason, ::testing::ValuesIn(kReasonCases),
                         [](const auto& row) { return std::string(row.param.name); });
