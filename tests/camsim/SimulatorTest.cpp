// The simulator in-process, spoken to byte by byte through the wire codec.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "SimFixture.h"
#include "WireClient.h"
#include "camsim/Simulator.h"
#include "wire/Addr.h"
#include "wire/Md5.h"

namespace {

using namespace camsim;
using namespace camsimtest;
namespace fs = std::filesystem;
using wire::MsgType;
using wire::Status;

std::uint32_t St(Status s) {
    return static_cast<std::uint32_t>(s);
}

class SimTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        // An address block per test process: ctest runs them side by side.
        base_ = {127, 200, static_cast<std::uint8_t>(::getpid() % 250), 1};
    }

    CameraSpec Camera(int i) const {
        CameraSpec c;
        Ipv4 ip = base_;
        for (int k = 0; k < i; ++k) {
            ip = NextCameraAddress(ip);
        }
        c.ip = ip;
        c.mac = {0x02, 0xAA, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(i + 1)};
        c.type = "QV-T" + std::to_string(i);
        c.sw = "V1." + std::to_string(i);
        c.hw = "HW" + std::to_string(i);
        return c;
    }

    void Start(std::vector<CameraSpec> cams, std::uint64_t maxFile = 64ull << 20) {
        SimConfig cfg = Config(7);
        cfg.discoveryAddress = {127, 255, 255, 255};
        cfg.maxFileSize = maxFile;
        SimFixture::Start(std::move(cams), cfg);
    }

    // Connects to camera i and says hello.
    void Open(TcpClient& c, std::size_t i) {
        ASSERT_EQ(c.connect(Ip(i), sim_->ControlPort()), 0);
        auto rep = c.call(wire::EncodeFrame(MsgType::HelloReq, 1));
        ASSERT_TRUE(rep);
        ASSERT_EQ(rep->type(), MsgType::HelloRep);
    }

    std::vector<std::uint8_t> Probe(std::uint32_t txid, std::uint16_t spread = 0) {
        return wire::EncodeFrame(MsgType::DiscoverReq, txid, wire::DiscoverReq{spread, 0});
    }

    std::vector<std::uint8_t> IpSet(std::uint32_t txid, const Mac& mac, const std::string& ip,
                                    const std::string& mask = "255.255.255.0") {
        wire::IpSetReq r{};
        std::memcpy(r.mac, mac.data(), 6);
        std::memcpy(r.ip, wire::ParseIpv4(ip)->data(), 4);
        std::memcpy(r.mask, wire::ParseIpv4(mask)->data(), 4);
        return wire::EncodeFrame(MsgType::IpSetReq, txid, r);
    }

    // Sends a whole file update and returns UPDATE_READY's status, then the result frame.
    struct UpdateOutcome {
        std::uint32_t ready = 0xFFFFFFFF;
        std::optional<wire::UpdateResult> result;
    };
    UpdateOutcome Update(TcpClient& c, const std::string& name,
                         const std::vector<std::uint8_t>& data,
                         std::optional<wire::Digest> md5 = std::nullopt,
                         std::size_t piece = 64 * 1024) {
        UpdateOutcome out;
        wire::UpdateBegin b{};
        b.upgradeType = 0;
        b.size = data.size();
        wire::CopyText(b.name, sizeof b.name, name);
        auto ready = c.call(wire::EncodeFrame(MsgType::UpdateBegin, 9, b));
        if (!ready || ready->type() != MsgType::UpdateReady) {
            return out;
        }
        out.ready = ready->as<wire::StatusRep>()->status;
        if (out.ready != St(Status::Ok)) {
            return out;
        }
        for (std::size_t off = 0; off < data.size(); off += piece) {
            const std::size_t n = std::min(piece, data.size() - off);
            if (!c.send(wire::EncodeFrame(MsgType::UpdateData, 9, {data.data() + off, n}))) {
                return out;
            }
        }
        wire::UpdateEnd e{};
        const wire::Digest d = md5 ? *md5 : wire::Md5Of(data);
        std::memcpy(e.md5, d.data(), 16);
        auto res = c.call(wire::EncodeFrame(MsgType::UpdateEnd, 9, e), 20s);
        if (res && res->type() == MsgType::UpdateResult) {
            out.result = res->as<wire::UpdateResult>();
        }
        return out;
    }

    std::vector<std::string> FilesOf(std::size_t i) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(sim_->CameraDir(i), ec)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::vector<std::uint8_t> Bytes(std::size_t n, std::uint32_t seed = 1) {
        std::vector<std::uint8_t> v(n);
        std::mt19937 g(seed);
        for (auto& b : v) {
            b = static_cast<std::uint8_t>(g());
        }
        return v;
    }

    Ipv4 base_{};
};

// ------------------------------------------------------------------ discovery

TEST_F(SimTest, EveryCameraAnswersAProbeFromItsOwnAddressWithItsRecord) {
    Start({Camera(0), Camera(1), Camera(2)});
    UdpClient udp;
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), Probe(4242, 50)));
    auto got = udp.collectAtLeast(3);
    ASSERT_EQ(got.size(), 3u);
    std::set<std::string> sources;
    for (const auto& d : got) {
        auto f = wire::DecodeDatagram(d.bytes);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->type(), MsgType::DiscoverRep);
        EXPECT_EQ(f->header.txid, 4242u);
        auto rec = wire::ParsePayload<tNetDeviceInfo>(f->payload);
        ASSERT_TRUE(rec);
        const int i = rec->ucMac[5] - 1;
        ASSERT_GE(i, 0);
        ASSERT_LT(i, 3);
        const CameraSpec want = Camera(i);
        EXPECT_EQ(d.from, FormatIpv4(want.ip)) << "reply must come from the camera's address";
        EXPECT_EQ(wire::FormatIpv4(rec->ucIp), FormatIpv4(want.ip));
        EXPECT_EQ(rec->uiRecordVersion, 1u);
        EXPECT_EQ(wire::TextField(rec->szDevType, sizeof rec->szDevType), want.type);
        EXPECT_EQ(wire::TextField(rec->szSoftVersion, sizeof rec->szSoftVersion), want.sw);
        EXPECT_EQ(wire::TextField(rec->szHardVersion, sizeof rec->szHardVersion), want.hw);
        EXPECT_EQ(rec->usCtrlPort, sim_->ControlPort());
        sources.insert(d.from);
    }
    EXPECT_EQ(sources.size(), 3u);
}

TEST_F(SimTest, AThousandCamerasAnswerOneProbeEachFromItsOwnAddress) {
    CameraSpec templ = Camera(0);
    auto fleet = MakeUniformFleet(1000, templ.ip, templ.mac, templ);
    Start(fleet.cameras);
    UdpClient udp;
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), Probe(99, 1000)));
    std::set<std::string> sources;
    for (const auto& d : udp.collectAtLeast(1000, 30000ms)) {
        auto f = wire::DecodeDatagram(d.bytes);
        ASSERT_TRUE(f);
        auto rec = wire::ParsePayload<tNetDeviceInfo>(f->payload);
        ASSERT_TRUE(rec);
        EXPECT_EQ(wire::FormatIpv4(rec->ucIp), d.from);
        sources.insert(d.from);
    }
    EXPECT_EQ(sources.size(), 1000u);
}

struct DiscoveryFault {
    const char* fault;
    std::size_t replies;  // datagrams from the faulty camera
    bool wellFormed;
};

class DiscoveryFaultTest : public SimTest, public ::testing::WithParamInterface<DiscoveryFault> {};

TEST_P(DiscoveryFaultTest, FaultShapesTheAnswer) {
    CameraSpec bad = Camera(1);
    std::string error;
    ASSERT_TRUE(ApplyFault(bad.faults, GetParam().fault, error)) << error;
    Start({Camera(0), bad});
    UdpClient udp;
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), Probe(7)));
    auto got = udp.collectAtLeast(1 + GetParam().replies);
    std::size_t fromBad = 0;
    for (const auto& d : got) {
        if (d.from != FormatIpv4(bad.ip)) {
            continue;
        }
        ++fromBad;
        EXPECT_EQ(wire::DecodeDatagram(d.bytes).has_value(), GetParam().wellFormed);
    }
    EXPECT_EQ(fromBad, GetParam().replies);
    EXPECT_EQ(got.size() - fromBad, 1u) << "the healthy camera answers once";
}

INSTANTIATE_TEST_SUITE_P(Faults, DiscoveryFaultTest,
                         ::testing::Values(DiscoveryFault{"discovery-twice", 2, true},
                                           DiscoveryFault{"malformed", 1, false},
                                           DiscoveryFault{"silent", 0, true},
                                           DiscoveryFault{"refuse-connect", 1, true}));

TEST_F(SimTest, ProbesThatAreNotWellFormedAreIgnored) {
    Start({Camera(0)});
    UdpClient udp;
    auto probe = Probe(1);
    auto shortProbe = probe;
    shortProbe.pop_back();
    auto badVersion = probe;
    badVersion[4] = 2;
    auto trailing = probe;
    trailing.push_back(0);
    auto wrongType = wire::EncodeFrame(MsgType::HelloReq, 1);
    for (const auto& p : {shortProbe, badVersion, trailing, wrongType}) {
        ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), p));
    }
    EXPECT_TRUE(udp.collect(300ms).empty());
    // and the camera still answers a good one
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), probe));
    EXPECT_EQ(udp.collectAtLeast(1).size(), 1u);
}

TEST_F(SimTest, ReplyDelayHoldsEveryAnswerBack) {
    CameraSpec c = Camera(0);
    c.faults.replyDelayMs = 300;
    Start({c});
    UdpClient udp;
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), Probe(1)));
    auto got = udp.collectAtLeast(1, 5000ms);
    ASSERT_EQ(got.size(), 1u);
    TcpClient tcp;
    ASSERT_EQ(tcp.connect(Ip(0), sim_->ControlPort()), 0);
    const auto t1 = std::chrono::steady_clock::now();
    ASSERT_TRUE(tcp.call(wire::EncodeFrame(MsgType::HelloReq, 1)));
    EXPECT_GE(std::chrono::steady_clock::now() - t1, 290ms);
    EXPECT_GE(t1 - t0, 290ms);
}

// ------------------------------------------------------------ control session

TEST_F(SimTest, HelloCarriesTheDeviceRecord) {
    Start({Camera(0), Camera(1)});
    TcpClient c;
    ASSERT_EQ(c.connect(Ip(1), sim_->ControlPort()), 0);
    auto rep = c.call(wire::EncodeFrame(MsgType::HelloReq, 77));
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->header.txid, 77u);
    auto hello = rep->as<wire::HelloRep>();
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->status, St(Status::Ok));
    EXPECT_EQ(hello->info.ucMac[5], 2);
    EXPECT_EQ(wire::TextField(hello->info.szDevType, 128), "QV-T1");
}

TEST_F(SimTest, ClockSetIsWhatTheNextQueryReadsAndCameraBytesGoBack) {
    Start({Camera(0)});
    TcpClient c;
    Open(c, 0);
    auto q = c.call(wire::EncodeFrame(MsgType::TimeGetReq, 2));
    ASSERT_TRUE(q);
    auto now = q->as<wire::TimeGetRep>();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->status, St(Status::Ok));
    tNetTimeSetup set = now->time;
    set.usYear = 2031;
    set.ucMonth = 2;
    set.ucDay = 28;
    set.ucHour = 23;
    set.ucMinute = 59;
    set.ucSecond = 30;
    set.ucReserved[4] = 0x5A;
    auto s = c.call(wire::EncodeFrame(MsgType::TimeSetReq, 3, set));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->as<wire::StatusRep>()->status, St(Status::Ok));
    auto again = c.call(wire::EncodeFrame(MsgType::TimeGetReq, 4))->as<wire::TimeGetRep>();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->time.usYear, 2031);
    EXPECT_EQ(again->time.ucMonth, 2);
    EXPECT_EQ(again->time.ucDay, 28);
    EXPECT_EQ(again->time.ucReserved[4], 0x5A);
}

TEST_F(SimTest, ClockSetOutOfRangeIsABadRequest) {
    Start({Camera(0)});
    TcpClient c;
    Open(c, 0);
    const std::vector<std::function<void(tNetTimeSetup&)>> breakers = {
        [](tNetTimeSetup& t) { t.ucMonth = 13; },
        [](tNetTimeSetup& t) { t.ucMonth = 0; },
        [](tNetTimeSetup& t) { t.ucDay = 0; },
        [](tNetTimeSetup& t) { t.ucHour = 24; },
        [](tNetTimeSetup& t) { t.ucMinute = 60; },
        [](tNetTimeSetup& t) { t.ucSecond = 60; },
        [](tNetTimeSetup& t) { t.ucMonth = 2, t.ucDay = 30; },
    };
    for (std::size_t i = 0; i < breakers.size(); ++i) {
        tNetTimeSetup t{2030, 6, 15, 12, 0, 0, {}};
        breakers[i](t);
        auto s = c.call(wire::EncodeFrame(MsgType::TimeSetReq, 5, t));
        ASSERT_TRUE(s) << i;
        EXPECT_EQ(s->as<wire::StatusRep>()->status, St(Status::BadRequest)) << i;
    }
}

TEST_F(SimTest, RefusedClockQueryAndUnknownRequest) {
    CameraSpec cam = Camera(0);
    cam.faults.refuseClock = true;
    Start({cam});
    TcpClient c;
    Open(c, 0);
    auto q = c.call(wire::EncodeFrame(MsgType::TimeGetReq, 2));
    ASSERT_TRUE(q);
    EXPECT_EQ(q->as<wire::TimeGetRep>()->status, St(Status::Refused));
    // a request type this camera does not know
    auto header = wire::EncodeHeader(static_cast<MsgType>(0x66), 3, 2);
    std::vector<std::uint8_t> unknown(header.begin(), header.end());
    unknown.insert(unknown.end(), {1, 2});
    auto nak = c.call(unknown);
    ASSERT_TRUE(nak);
    ASSERT_EQ(nak->type(), MsgType::Nak);
    EXPECT_EQ(nak->as<wire::Nak>()->rejectedType, 0x66);
    EXPECT_EQ(nak->header.txid, 3u);
}

TEST_F(SimTest, GarbageBeforeAFrameIsSkipped) {
    Start({Camera(0)});
    TcpClient c;
    ASSERT_EQ(c.connect(Ip(0), sim_->ControlPort()), 0);
    std::vector<std::uint8_t> bytes = {'Q', 'V', 0, 1, 2, 3, 'x'};
    auto hello = wire::EncodeFrame(MsgType::HelloReq, 8);
    bytes.insert(bytes.end(), hello.begin(), hello.end());
    auto rep = c.call(bytes);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->type(), MsgType::HelloRep);
    EXPECT_EQ(rep->header.txid, 8u);
}

TEST_F(SimTest, ConnectionFaults) {
    CameraSpec refuse = Camera(0);
    refuse.faults.refuseConnect = true;
    CameraSpec hang = Camera(1);
    hang.faults.hang = true;
    CameraSpec garble = Camera(2);
    garble.faults.malformed = true;
    Start({refuse, hang, garble});
    TcpClient c;
    EXPECT_EQ(c.connect(Ip(0), sim_->ControlPort()), ECONNREFUSED);
    ASSERT_EQ(c.connect(Ip(1), sim_->ControlPort()), 0);
    EXPECT_FALSE(c.call(wire::EncodeFrame(MsgType::HelloReq, 1), 400ms)) << "hangs";
    ASSERT_EQ(c.connect(Ip(2), sim_->ControlPort()), 0);
    EXPECT_FALSE(c.call(wire::EncodeFrame(MsgType::HelloReq, 1), 2000ms)) << "malformed";
}

// ---------------------------------------------------------------- file update

TEST_F(SimTest, FileIsKeptAfterSizeAndMd5Check) {
    Start({Camera(0)});
    TcpClient c;
    Open(c, 0);
    const auto data = Bytes(300 * 1024 + 17);
    auto out = Update(c, "app.jffs2", data);
    ASSERT_EQ(out.ready, St(Status::Ok));
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.result->status, St(Status::Ok));
    EXPECT_EQ(out.result->received, data.size());
    const auto md5 = wire::Md5Of(data);
    EXPECT_EQ(0, std::memcmp(out.result->md5, md5.data(), 16));
    ASSERT_EQ(FilesOf(0), std::vector<std::string>{"app.jffs2"});
    std::ifstream in(fs::path(sim_->CameraDir(0)) / "app.jffs2", std::ios::binary);
    std::vector<std::uint8_t> kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, data);
    // the session stays usable for another request
    EXPECT_TRUE(c.call(wire::EncodeFrame(MsgType::TimeGetReq, 10)));
}

TEST_F(SimTest, RejectedFilesAreNotKept) {
    CameraSpec failing = Camera(1);
    failing.faults.failVerify = true;
    Start({Camera(0), failing});
    const auto data = Bytes(5000);
    {
        TcpClient c;
        Open(c, 0);
        wire::Digest wrong = wire::Md5Of(data);
        wrong[0] ^= 1;
        auto out = Update(c, "app.jffs2", data, wrong);
        ASSERT_TRUE(out.result);
        EXPECT_EQ(out.result->status, St(Status::VerifyFailed));
    }
    {
        TcpClient c;
        Open(c, 1);
        auto out = Update(c, "app.jffs2", data);
        ASSERT_TRUE(out.result);
        EXPECT_EQ(out.result->status, St(Status::VerifyFailed));
    }
    EXPECT_TRUE(FilesOf(0).empty());
    EXPECT_TRUE(FilesOf(1).empty());
}

// Every check the camera makes says why it refused, in an UPDATE_REASON just
// before the refusal; a camera playing an older firmware says nothing more.
struct ReasonRow {
    const char* name;
    const char* file;
    std::vector<std::uint8_t> data;
    bool wrongMd5;
    bool failVerify;
    bool noReasons;
    std::uint64_t capacity;
    Status status;
    wire::UpdateReasonCode code;  // None: no reason expected
};

class SimReason : public SimTest, public ::testing::WithParamInterface<ReasonRow> {};

TEST_P(SimReason, RefusalIsExplained) {
    const ReasonRow& r = GetParam();
    CameraSpec cam = Camera(0);
    cam.faults.failVerify = r.failVerify;
    cam.faults.noReasons = r.noReasons;
    Start({cam}, r.capacity);
    TcpClient c;
    Open(c, 0);
    std::optional<wire::Digest> md5;
    if (r.wrongMd5) {
        md5 = wire::Md5Of(r.data);
        (*md5)[3] ^= 0x40;
    }
    const auto out = Update(c, r.file, r.data, md5);
    const std::uint32_t status = out.result ? out.result->status : out.ready;
    EXPECT_EQ(status, St(r.status));
    if (r.code == wire::UpdateReasonCode::None) {
        EXPECT_TRUE(c.reasons().empty());
        return;
    }
    ASSERT_EQ(c.reasons().size(), 1u);
    const auto why = c.reasons()[0].as<wire::UpdateReason>();
    ASSERT_TRUE(why);
    EXPECT_EQ(why->reason, static_cast<std::uint32_t>(r.code));
    EXPECT_EQ(why->status, St(r.status));
    EXPECT_EQ(c.reasons()[0].header.txid, 9u);  // the update's transaction
    EXPECT_FALSE(wire::TextField(why->text, sizeof why->text).empty());
}

std::vector<std::uint8_t> BrokenPack() {
    std::vector<std::uint8_t> b(400, 0);
    b[0] = 0xEF;
    b[1] = 0xCD;
    b[2] = 0xAB;
    b[3] = 0x89;
    b[4] = 1;  // one entry, then nothing that holds
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, SimReason,
    ::testing::Values(
        ReasonRow{"Digest", "app.jffs2", std::vector<std::uint8_t>(5000, 7), true, false, false,
                  64ull << 20, Status::VerifyFailed, wire::UpdateReasonCode::DigestMismatch},
        ReasonRow{"DamagedPack", "fw.bin", BrokenPack(), false, false, false, 64ull << 20,
                  Status::VerifyFailed, wire::UpdateReasonCode::BadPack},
        ReasonRow{"CameraRule", "app.jffs2", std::vector<std::uint8_t>(100, 1), false, true, false,
                  64ull << 20, Status::VerifyFailed, wire::UpdateReasonCode::Rejected},
        ReasonRow{"TooLarge", "big.bin", std::vector<std::uint8_t>(1001, 1), false, false, false,
                  1000, Status::Refused, wire::UpdateReasonCode::TooLarge},
        ReasonRow{"BadName", "..", std::vector<std::uint8_t>(10, 1), false, false, false,
                  64ull << 20, Status::BadRequest, wire::UpdateReasonCode::BadName},
        ReasonRow{"OlderCameraSaysNothingMore", "app.jffs2", std::vector<std::uint8_t>(5000, 7),
                  true, false, true, 64ull << 20, Status::VerifyFailed,
                  wire::UpdateReasonCode::None},
        ReasonRow{"AcceptedNeedsNoReason", "app.jffs2", std::vector<std::uint8_t>(5000, 7), false,
                  false, false, 64ull << 20, Status::Ok, wire::UpdateReasonCode::None}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SimTest, FileNamesStayInsideTheCameraFolder) {
    Start({Camera(0)});
    TcpClient c;
    Open(c, 0);
    const auto data = Bytes(100);
    struct Case {
        const char* name;
        std::uint32_t ready;
    };
    for (const Case& k :
         {Case{"../../escape.bin", St(Status::Ok)}, Case{"C:\\fw\\win.bin", St(Status::Ok)},
          Case{"..", St(Status::BadRequest)}, Case{"dir/.", St(Status::BadRequest)},
          Case{"", St(Status::BadRequest)}, Case{"a\nb", St(Status::BadRequest)}}) {
        auto out = Update(c, k.name, data);
        EXPECT_EQ(out.ready, k.ready) << k.name;
    }
    EXPECT_EQ(FilesOf(0), (std::vector<std::string>{"escape.bin", "win.bin"}));
    EXPECT_FALSE(fs::exists(dir_ / "escape.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "files" / "escape.bin"));
}

TEST_F(SimTest, TooLargeAFileIsRefusedUpFront) {
    Start({Camera(0)}, 1000);
    TcpClient c;
    Open(c, 0);
    EXPECT_EQ(Update(c, "big.bin", Bytes(1001)).ready, St(Status::Refused));
    EXPECT_EQ(Update(c, "fits.bin", Bytes(1000)).ready, St(Status::Ok));
}

TEST_F(SimTest, MoreDataThanAnnouncedOrDataOutsideAnUpdateEndsTheSession) {
    Start({Camera(0)});
    {
        TcpClient c;
        Open(c, 0);
        auto res = c.call(wire::EncodeFrame(MsgType::UpdateData, 3, Bytes(10)));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->as<wire::UpdateResult>()->status, St(Status::BadRequest));
        EXPECT_TRUE(c.closedByPeer());
    }
    {
        TcpClient c;
        Open(c, 0);
        wire::UpdateBegin b{};
        b.size = 10;
        wire::CopyText(b.name, sizeof b.name, "x.bin");
        ASSERT_TRUE(c.call(wire::EncodeFrame(MsgType::UpdateBegin, 4, b)));
        auto res = c.call(wire::EncodeFrame(MsgType::UpdateData, 4, Bytes(11)));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->as<wire::UpdateResult>()->status, St(Status::BadRequest));
        EXPECT_TRUE(c.closedByPeer());
    }
    EXPECT_TRUE(FilesOf(0).empty()) << "no partial file is left behind";
}

// Drop after N bytes, for N across piece boundaries: the link closes, nothing is
// kept, and the camera takes the next update in full.
class DropAfterTest : public SimTest, public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(DropAfterTest, LinkDropsAndNothingIsKept) {
    CameraSpec cam = Camera(0);
    cam.faults.dropAfter = GetParam();
    Start({cam});
    TcpClient c;
    Open(c, 0);
    const auto data = Bytes(40000);
    auto out = Update(c, "app.jffs2", data, std::nullopt, 4096);
    EXPECT_EQ(out.ready, St(Status::Ok));
    EXPECT_FALSE(out.result);
    EXPECT_TRUE(c.closedByPeer(2000ms));
    // the abandoned transfer leaves no file, not even a partial one
    for (int i = 0; i < 100 && !FilesOf(0).empty(); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(FilesOf(0).empty());
}

INSTANTIATE_TEST_SUITE_P(Points, DropAfterTest, ::testing::Values(0, 1, 4095, 4096, 4097, 39999));

TEST_F(SimTest, ThrottledLinkTakesItsTime) {
    CameraSpec cam = Camera(0);
    cam.faults.throttleBps = 200 * 1024;
    Start({cam});
    TcpClient c;
    Open(c, 0);
    const auto t0 = std::chrono::steady_clock::now();
    auto out = Update(c, "slow.bin", Bytes(100 * 1024));
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.result->status, St(Status::Ok));
    // 100 KiB at 200 KiB/s: at least about half a second (an upper bound would be flaky)
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 400ms);
}

TEST_F(SimTest, VerdictComesAfterTheFlashTime) {
    CameraSpec cam = Camera(0);
    cam.flashMs = 400;
    Start({cam});
    TcpClient c;
    Open(c, 0);
    const auto t0 = std::chrono::steady_clock::now();
    auto out = Update(c, "a.bin", Bytes(10));
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.result->status, St(Status::Ok));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 390ms);
}

TEST_F(SimTest, SecondUpdateOfTheSameCameraIsBusy) {
    Start({Camera(0)});
    TcpClient a, b;
    Open(a, 0);
    Open(b, 0);
    wire::UpdateBegin begin{};
    begin.size = 100;
    wire::CopyText(begin.name, sizeof begin.name, "x.bin");
    auto r1 = a.call(wire::EncodeFrame(MsgType::UpdateBegin, 1, begin));
    ASSERT_TRUE(r1);
    EXPECT_EQ(r1->as<wire::StatusRep>()->status, St(Status::Ok));
    auto r2 = b.call(wire::EncodeFrame(MsgType::UpdateBegin, 1, begin));
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->as<wire::StatusRep>()->status, St(Status::Busy));
    a.close();  // the first session goes away mid-update
    for (int i = 0; i < 200; ++i) {
        auto r3 = b.call(wire::EncodeFrame(MsgType::UpdateBegin, 2, begin));
        ASSERT_TRUE(r3);
        if (r3->as<wire::StatusRep>()->status == St(Status::Ok)) {
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    FAIL() << "the camera stays busy after the updating session closed";
}

// --------------------------------------------------------------- update packs

std::vector<std::uint8_t> MakePack(std::uint32_t magic, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> pack(64 + 200, 0);
    std::memcpy(pack.data(), &magic, 4);
    const std::uint16_t count = 1;
    std::memcpy(pack.data() + 4, &count, 2);
    pack[6] = 1;
    const auto len = static_cast<std::uint32_t>(body.size());
    std::memcpy(pack.data() + 44, &len, 4);
    std::memcpy(pack.data() + 64, &len, 4);
    pack[68] = 4;
    std::memcpy(pack.data() + 72, "notes.txt", 9);
    pack.insert(pack.end(), body.begin(), body.end());
    const auto digest = wire::Md5Of(pack);
    pack.insert(pack.end(), digest.begin(), digest.end());
    return pack;
}

TEST(ReceiveCheck, PackDigestIsCheckedWhateverThePieces) {
    const auto good = MakePack(0x89ABCDEF, {1, 2, 3, 4, 5, 6, 7});
    auto corrupt = good;
    corrupt[64 + 200 + 3] ^= 0xFF;
    auto truncated = good;
    truncated.resize(truncated.size() - 5);
    auto badCount = good;
    badCount[4] = 100;
    auto withTail = good;
    withTail.push_back(9);  // bytes after the digest do not matter
    std::vector<std::uint8_t> plain(400, 0x11);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool fine;
    };
    const Case cases[] = {{"good", good, true},
                          {"multi", MakePack(0x01234567, {9}), true},
                          {"bundle", MakePack(0x88888888, {}), true},
                          {"corrupt", corrupt, false},
                          {"truncated", truncated, false},
                          {"bad count", badCount, false},
                          {"tail", withTail, true},
                          {"plain", plain, true}};
    for (const Case& k : cases) {
        // every split point of the stream in two pieces gives the same verdict
        for (std::size_t split = 0; split <= k.bytes.size(); ++split) {
            ReceiveCheck check;
            check.Feed(k.bytes.data(), split);
            check.Feed(k.bytes.data() + split, k.bytes.size() - split);
            ASSERT_EQ(check.PackProblem().empty(), k.fine)
                << k.what << " split at " << split << ": " << check.PackProblem();
            ASSERT_EQ(check.Md5(), wire::Md5Of(k.bytes));
        }
    }
}

TEST_F(SimTest, PackWithABrokenDigestIsRejected) {
    Start({Camera(0)});
    TcpClient c;
    Open(c, 0);
    auto pack = MakePack(0x89ABCDEF, Bytes(3000));
    auto out = Update(c, "Pack.bin", pack);
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.result->status, St(Status::Ok));
    pack[100] ^= 1;  // sent intact (MD5 of the transfer holds), but the pack is broken
    out = Update(c, "Pack1.bin", pack);
    ASSERT_TRUE(out.result);
    EXPECT_EQ(out.result->status, St(Status::VerifyFailed));
    EXPECT_EQ(FilesOf(0), std::vector<std::string>{"Pack.bin"});
}

// ------------------------------------------------------------------ IP change

TEST_F(SimTest, IpChangeMovesTheCameraOnLoopback) {
    Start({Camera(0), Camera(1)});
    const Mac mac = Camera(0).mac;
    const std::string old = Ip(0);
    const std::string fresh = "127.201." + std::to_string(::getpid() % 250) + ".77";
    UdpClient udp;
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->IpsetPort(), IpSet(31, mac, fresh)));
    auto got = udp.collectAtLeast(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].from, fresh) << "answers from its new address";
    auto f = wire::DecodeDatagram(got[0].bytes);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->header.txid, 31u);
    auto rep = wire::ParsePayload<wire::IpSetRep>(f->payload);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->status, St(Status::Ok));
    EXPECT_EQ(wire::FormatIpv4(rep->ip), fresh);
    EXPECT_EQ(0, std::memcmp(rep->mac, mac.data(), 6));

    TcpClient c;
    EXPECT_EQ(c.connect(old, sim_->ControlPort()), ECONNREFUSED) << "gone from the old address";
    EXPECT_EQ(c.connect(fresh, sim_->ControlPort()), 0);
    // discovery now lists it at the new address
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->DiscoveryPort(), Probe(5)));
    bool seen = false;
    for (const auto& d : udp.collectAtLeast(2)) {
        auto rec = wire::ParsePayload<tNetDeviceInfo>(wire::DecodeDatagram(d.bytes)->payload);
        if (rec && std::memcmp(rec->ucMac, mac.data(), 6) == 0) {
            seen = true;
            EXPECT_EQ(wire::FormatIpv4(rec->ucIp), fresh);
        }
    }
    EXPECT_TRUE(seen);
    // the same request again is answered OK again
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->IpsetPort(), IpSet(32, mac, fresh)));
    got = udp.collectAtLeast(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(
        wire::ParsePayload<wire::IpSetRep>(wire::DecodeDatagram(got[0].bytes)->payload)->status,
        St(Status::Ok));
    // counted once, and the state file has the address for other processes
    EXPECT_EQ(sim_->State(0).ipChanges, 1u);
    EXPECT_EQ(sim_->State(0).ipRefused, 0u);
    std::ifstream in(sim_->StatePath(0));
    const auto j = nlohmann::json::parse(in, nullptr, false);
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j["ip"], fresh);
    EXPECT_EQ(j["ip_changes"], 1);
}

struct IpCase {
    const char* ip;
    const char* mask;
    Status status;
};

class IpRefusalTest : public SimTest, public ::testing::WithParamInterface<IpCase> {};

TEST_P(IpRefusalTest, CameraStaysWhereItWas) {
    Start({Camera(0), Camera(1)});
    const std::string old = Ip(0);
    std::string ip = GetParam().ip;
    if (ip == "other") {
        ip = Ip(1);
    }
    UdpClient udp;
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->IpsetPort(),
                           IpSet(3, Camera(0).mac, ip, GetParam().mask)));
    auto got = udp.collectAtLeast(1);
    ASSERT_EQ(got.size(), 1u);
    auto rep = wire::ParsePayload<wire::IpSetRep>(wire::DecodeDatagram(got[0].bytes)->payload);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->status, St(GetParam().status));
    EXPECT_EQ(wire::FormatIpv4(rep->ip), old);
    EXPECT_EQ(Ip(0), old);
    TcpClient c;
    EXPECT_EQ(c.connect(old, sim_->ControlPort()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, IpRefusalTest,
    ::testing::Values(IpCase{"192.168.1.50", "255.255.255.0", Status::Refused},  // off loopback
                      IpCase{"other", "255.255.255.0", Status::Refused},         // another camera's
                      IpCase{"127.9.9.0", "255.255.255.0", Status::BadRequest},
                      IpCase{"127.9.9.255", "255.255.255.0", Status::BadRequest},
                      IpCase{"127.9.9.9", "255.0.255.0", Status::BadRequest},
                      IpCase{"127.9.9.9", "0.0.0.0", Status::BadRequest}));

TEST_F(SimTest, IpChangeFaults) {
    CameraSpec refusing = Camera(0);
    refusing.faults.refuseIpChange = true;
    CameraSpec garbling = Camera(1);
    garbling.faults.malformed = true;
    Start({refusing, garbling});
    UdpClient udp;
    ASSERT_TRUE(
        udp.sendTo("127.255.255.255", sim_->IpsetPort(), IpSet(1, refusing.mac, "127.202.0.5")));
    auto got = udp.collectAtLeast(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(
        wire::ParsePayload<wire::IpSetRep>(wire::DecodeDatagram(got[0].bytes)->payload)->status,
        St(Status::Refused));
    EXPECT_EQ(sim_->State(0).ipRefused, 1u);
    EXPECT_EQ(sim_->State(0).ipChanges, 0u);
    EXPECT_EQ(Ip(0), FormatIpv4(refusing.ip));
    ASSERT_TRUE(
        udp.sendTo("127.255.255.255", sim_->IpsetPort(), IpSet(2, garbling.mac, "127.202.0.6")));
    got = udp.collectAtLeast(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(wire::DecodeDatagram(got[0].bytes)) << "malformed answer";
    // a MAC nobody has: silence
    ASSERT_TRUE(udp.sendTo("127.255.255.255", sim_->IpsetPort(),
                           IpSet(3, {0x02, 0xBB, 0, 0, 0, 9}, "127.202.0.7")));
    EXPECT_TRUE(udp.collect(300ms).empty());
}

}  // namespace
