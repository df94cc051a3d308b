#include <gtest/gtest.h>

#include <array>
#include <asio.hpp>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "korvel.h"
#include "wire/Discovery.h"
#include "wire/Md5.h"
#include "wire/Wire.h"

namespace {

using wire::Decoder;
using wire::MsgType;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return b;
}

// One well-formed frame of every type, with a payload that uses every byte.
std::vector<std::tuple<MsgType, uint32_t, Bytes>> SampleFrames() {
    std::vector<std::tuple<MsgType, uint32_t, Bytes>> out;
    const MsgType types[] = {
        MsgType::DiscoverReq, MsgType::DiscoverRep, MsgType::HelloReq,   MsgType::HelloRep,
        MsgType::TimeGetReq,  MsgType::TimeGetRep,  MsgType::TimeSetReq, MsgType::TimeSetRep,
        MsgType::UpdateBegin, MsgType::UpdateReady, MsgType::UpdateEnd,  MsgType::UpdateResult,
        MsgType::Bye,         MsgType::IpSetReq,    MsgType::IpSetRep,   MsgType::Nak,
        MsgType::IpSetExReq,  MsgType::IpSetExRep,
    };
    uint32_t tx = 1;
    for (MsgType t : types) {
        const auto b = wire::BoundsFor(static_cast<uint8_t>(t));
        out.emplace_back(t, tx * 0x01010101u, Pattern(b.max, static_cast<uint8_t>(tx)));
        ++tx;
    }
    out.emplace_back(MsgType::UpdateData, 77u, Pattern(1, 3));
    out.emplace_back(MsgType::UpdateData, 78u, Pattern(5000, 9));
    return out;
}

// Feeds `bytes` in the given pieces and collects every message.
struct Collected {
    std::vector<std::tuple<MsgType, uint32_t, Bytes>> messages;
    int errors = 0;
};

Collected Feed(Decoder& d, const Bytes& bytes, const std::vector<size_t>& cuts) {
    Collected c;
    size_t from = 0;
    auto pieces = cuts;
    pieces.push_back(bytes.size());
    for (size_t to : pieces) {
        std::span<const uint8_t> rest(bytes.data() + from, to - from);
        while (!rest.empty()) {
            const auto step = d.put(rest);
            EXPECT_GT(step.consumed, 0u) << "the decoder must always make progress";
            if (step.consumed == 0) {
                return c;
            }
            rest = rest.subspan(step.consumed);
            if (step.result == Decoder::Result::Message) {
                const auto p = d.payload();
                c.messages.emplace_back(d.type(), d.txid(), Bytes(p.begin(), p.end()));
            } else if (step.result == Decoder::Result::Error) {
                ++c.errors;
            }
        }
        from = to;
    }
    return c;
}

TEST(WireFrame, GoldenBytes) {
    wire::DiscoverReq req{};
    req.spreadMs = 0x0164;
    const Bytes expected = {0x51, 0x56, 0x4E, 0x50, 0x01, 0x01, 0x00, 0x00, 0x04, 0x03,
                            0x02, 0x01, 0x04, 0x00, 0x00, 0x00, 0x64, 0x01, 0x00, 0x00};
    EXPECT_EQ(wire::EncodeFrame(MsgType::DiscoverReq, 0x01020304u, req), expected);

    const auto head = wire::EncodeHeader(MsgType::UpdateData, 0xAABBCCDDu, 0x00040000u);
    const Bytes headExpected = {0x51, 0x56, 0x4E, 0x50, 0x01, 0x32, 0x00, 0x00,
                                0xDD, 0xCC, 0xBB, 0xAA, 0x00, 0x00, 0x04, 0x00};
    EXPECT_EQ(Bytes(head.begin(), head.end()), headExpected);
}

TEST(WireFrame, EncodeRefusesPayloadOutsideBounds) {
    EXPECT_TRUE(wire::EncodeFrame(MsgType::HelloReq, 1, Pattern(1, 0)).empty());
    EXPECT_TRUE(wire::EncodeFrame(MsgType::DiscoverRep, 1, Pattern(451, 0)).empty());
    EXPECT_TRUE(wire::EncodeFrame(MsgType::UpdateData, 1, Bytes{}).empty());
    EXPECT_TRUE(
        wire::EncodeFrame(MsgType::UpdateData, 1, Pattern(wire::kMaxDataPayload + 1, 0)).empty());
    EXPECT_EQ(wire::EncodeFrame(MsgType::UpdateData, 1, Pattern(wire::kMaxDataPayload, 0)).size(),
              wire::kHeaderSize + wire::kMaxDataPayload);
}

TEST(WireDecoder, EveryMessageSplitAtEveryByte) {
    for (const auto& [type, tx, payload] : SampleFrames()) {
        const Bytes frame = wire::EncodeFrame(type, tx, payload);
        ASSERT_FALSE(frame.empty()) << wire::TypeName(static_cast<uint8_t>(type));
        const size_t last = type == MsgType::UpdateData && payload.size() > 100 ? 40 : frame.size();
        for (size_t cut = 0; cut <= last; ++cut) {
            Decoder d;
            const auto c = Feed(d, frame, {cut});
            ASSERT_EQ(c.errors, 0) << wire::TypeName(static_cast<uint8_t>(type)) << " cut " << cut;
            ASSERT_EQ(c.messages.size(), 1u)
                << wire::TypeName(static_cast<uint8_t>(type)) << " cut " << cut;
            EXPECT_EQ(std::get<0>(c.messages[0]), type);
            EXPECT_EQ(std::get<1>(c.messages[0]), tx);
            EXPECT_EQ(std::get<2>(c.messages[0]), payload);
        }
    }
}

TEST(WireDecoder, BorrowingGivesTheSameMessagesWithoutCopies) {
    Bytes stream;
    const auto samples = SampleFrames();
    for (const auto& [type, tx, payload] : samples) {
        const auto f = wire::EncodeFrame(type, tx, payload);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (size_t cut = 0; cut <= stream.size(); cut += 97) {
        Decoder d;
        d.setBorrow(true);
        const auto c = Feed(d, stream, {cut});
        EXPECT_EQ(c.errors, 0);
        ASSERT_EQ(c.messages.size(), samples.size()) << cut;
        for (size_t i = 0; i < samples.size(); ++i) {
            EXPECT_EQ(c.messages[i], samples[i]) << cut;
        }
    }
    // A payload that arrived whole points into the caller's bytes.
    const Bytes frame = wire::EncodeFrame(MsgType::UpdateData, 1, Pattern(1000, 4));
    Decoder d;
    d.setBorrow(true);
    ASSERT_EQ(d.put(frame).result, Decoder::Result::Message);
    EXPECT_EQ(d.payload().data(), frame.data() + wire::kHeaderSize);
    EXPECT_EQ(d.payload().size(), 1000u);
    d.reset();
    EXPECT_TRUE(d.payload().empty());
}

TEST(WireDecoder, ByteByByteStreamOfAllMessages) {
    Bytes stream;
    const auto samples = SampleFrames();
    for (const auto& [type, tx, payload] : samples) {
        const auto f = wire::EncodeFrame(type, tx, payload);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::vector<size_t> cuts;
    for (size_t i = 1; i < stream.size(); ++i) {
        cuts.push_back(i);
    }
    Decoder d;
    const auto c = Feed(d, stream, cuts);
    EXPECT_EQ(c.errors, 0);
    ASSERT_EQ(c.messages.size(), samples.size());
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(c.messages[i], samples[i]);
    }
    // All at once: one message per put, each put stopping at the frame's end.
    Decoder whole;
    EXPECT_EQ(Feed(whole, stream, {}).messages, c.messages);
}

TEST(WireDecoder, GarbageIsDroppedAndTheNextFrameSurvives) {
    const Bytes frame = wire::EncodeFrame(MsgType::TimeSetRep, 9, Pattern(4, 1));
    const std::vector<Bytes> garbage = {
        {0x00},
        {0x51},                    // a lone first magic byte
        {0x51, 0x56},              // a partial magic
        {0x51, 0x56, 0x4E},        // almost the whole magic
        {0x51, 0x51, 0x56, 0x51},  // starts over and over
        Pattern(300, 0x80),
    };
    for (const auto& g : garbage) {
        Bytes stream = g;
        stream.insert(stream.end(), frame.begin(), frame.end());
        for (size_t cut = 0; cut <= stream.size(); ++cut) {
            Decoder d;
            const auto c = Feed(d, stream, {cut});
            EXPECT_GE(c.errors, 1) << "garbage of " << g.size() << " bytes, cut " << cut;
            ASSERT_EQ(c.messages.size(), 1u) << "garbage of " << g.size() << " bytes, cut " << cut;
            EXPECT_EQ(std::get<2>(c.messages[0]), Pattern(4, 1));
        }
    }
}

TEST(WireDecoder, BadHeadersAreErrorsBeforeAnyPayloadIsAwaited) {
    struct Case {
        const char* what;
        uint8_t version;
        uint8_t type;
        uint32_t length;
    };
    const Case cases[] = {
        {"version 0", 0, 0x10, 0},
        {"version 2", 2, 0x10, 0},
        {"record one byte long", 1, 0x02, 453},
        {"record one byte short", 1, 0x02, 451},
        {"hello with payload", 1, 0x10, 1},
        {"empty data", 1, 0x32, 0},
        {"data above the limit", 1, 0x32, wire::kMaxDataPayload + 1},
        {"huge length", 1, 0x32, 0xFFFFFFFFu},
        {"unknown type, too long", 1, 0x99, wire::kMaxUnknownPayload + 1},
    };
    for (const auto& c : cases) {
        auto h = wire::EncodeHeader(static_cast<MsgType>(c.type), 5, c.length);
        h[4] = c.version;
        Decoder d;
        const auto step = d.put({h.data(), h.size()});
        EXPECT_EQ(step.result, Decoder::Result::Error) << c.what;
        EXPECT_EQ(step.consumed, h.size()) << c.what;
        EXPECT_FALSE(d.error().empty()) << c.what;
        EXPECT_FALSE(d.midFrame()) << c.what;
        // The decoder is usable again at once.
        const Bytes good = wire::EncodeFrame(MsgType::Bye, 6);
        EXPECT_EQ(d.put(good).result, Decoder::Result::Message) << c.what;
    }
}

TEST(WireDecoder, UnknownTypeWithinBoundsIsDelivered) {
    auto h = wire::EncodeHeader(static_cast<MsgType>(0x99), 5, 3);
    Bytes f(h.begin(), h.end());
    f.insert(f.end(), {1, 2, 3});
    Decoder d;
    const auto step = d.put(f);
    EXPECT_EQ(step.result, Decoder::Result::Message);
    EXPECT_FALSE(wire::IsKnownType(0x99));
    EXPECT_EQ(d.payload().size(), 3u);
}

TEST(WireDecoder, TruncatedFrameWaitsForMore) {
    const Bytes frame = wire::EncodeFrame(MsgType::DiscoverRep, 1, Pattern(452, 0));
    for (size_t n : {size_t{1}, size_t{4}, size_t{15}, size_t{16}, size_t{100}, frame.size() - 1}) {
        Decoder d;
        const auto step = d.put({frame.data(), n});
        EXPECT_EQ(step.result, Decoder::Result::NeedMore) << n;
        EXPECT_EQ(step.consumed, n);
        EXPECT_TRUE(d.midFrame());
        d.reset();
        EXPECT_FALSE(d.midFrame());
        EXPECT_EQ(d.put(frame).result, Decoder::Result::Message);
    }
}

TEST(WireDecoder, RandomBytesNeverCrashAndValidFramesStillPass) {
    std::mt19937 rng(12345);
    const auto samples = SampleFrames();
    for (int round = 0; round < 300; ++round) {
        Bytes stream;
        size_t expected = 0;
        for (int k = 0; k < 6; ++k) {
            if (rng() % 2) {
                Bytes junk(rng() % 64);
                for (auto& b : junk) {
                    b = static_cast<uint8_t>(rng() % 3 == 0 ? 0x51 : rng());
                }
                stream.insert(stream.end(), junk.begin(), junk.end());
            }
            const auto& [t, tx, p] = samples[rng() % samples.size()];
            auto f = wire::EncodeFrame(t, tx, p);
            if (rng() % 4 == 0) {
                f[rng() % f.size()] ^= static_cast<uint8_t>(1 + rng() % 255);  // damaged
            } else {
                ++expected;
            }
            stream.insert(stream.end(), f.begin(), f.end());
        }
        std::vector<size_t> cuts;
        for (size_t at = rng() % 50; at < stream.size(); at += 1 + rng() % 200) {
            cuts.push_back(at);
        }
        Decoder d;
        const auto c = Feed(d, stream, cuts);
        // Damaged frames may swallow their neighbours, but never make up messages
        // out of thin air beyond one per frame sent.
        EXPECT_LE(c.messages.size(), 6u);
        if (expected == 6) {
            EXPECT_EQ(c.messages.size(), 6u);
        }
    }
}

TEST(WireDatagram, ExactlyOneFrame) {
    const Bytes frame = wire::EncodeFrame(MsgType::IpSetRep, 42, Pattern(20, 2));
    const auto v = wire::DecodeDatagram(frame);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type(), MsgType::IpSetRep);
    EXPECT_EQ(v->header.txid, 42u);
    EXPECT_EQ(Bytes(v->payload.begin(), v->payload.end()), Pattern(20, 2));

    Bytes longer = frame;
    longer.push_back(0);
    EXPECT_FALSE(wire::DecodeDatagram(longer));
    EXPECT_FALSE(wire::DecodeDatagram({frame.data(), frame.size() - 1}));
    EXPECT_FALSE(wire::DecodeDatagram({frame.data(), 3}));
    Bytes badMagic = frame;
    badMagic[0] = 'q';
    EXPECT_FALSE(wire::DecodeDatagram(badMagic));
    Bytes badVersion = frame;
    badVersion[4] = 7;
    EXPECT_FALSE(wire::DecodeDatagram(badVersion));
    // A length that agrees with the datagram but not with the type.
    Bytes wrongType = frame;
    wrongType[5] = static_cast<uint8_t>(MsgType::DiscoverRep);
    EXPECT_FALSE(wire::DecodeDatagram(wrongType));
}

TEST(WirePayload, ParseNeedsTheExactSize) {
    EXPECT_TRUE(wire::ParsePayload<wire::StatusRep>(Pattern(4, 0)));
    EXPECT_FALSE(wire::ParsePayload<wire::StatusRep>(Pattern(3, 0)));
    EXPECT_FALSE(wire::ParsePayload<wire::StatusRep>(Pattern(5, 0)));
    const auto rep = wire::ParsePayload<wire::IpSetRep>(
        Bytes{1, 2, 3, 4, 5, 6, 0, 0, 3, 0, 0, 0, 127, 0, 0, 9, 255, 255, 255, 0});
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->status, 3u);
    EXPECT_EQ(rep->ip[3], 9);
    EXPECT_STREQ(wire::StatusName(rep->status), "VERIFY_FAILED");
}

TEST(WireMd5, KnownDigestsWholeAndInPieces) {
    const std::string abc = "abc";
    EXPECT_EQ(wire::DigestHex(wire::Md5Of({reinterpret_cast<const uint8_t*>(abc.data()), 3})),
              "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(wire::DigestHex(wire::Md5Of({})), "d41d8cd98f00b204e9800998ecf8427e");
    const Bytes big = Pattern(100000, 5);
    wire::Md5 m;
    for (size_t at = 0; at < big.size(); at += 777) {
        m.update({big.data() + at, std::min<size_t>(777, big.size() - at)});
    }
    EXPECT_EQ(m.finish(), wire::Md5Of(big));
}

#define EXPECT_OFFSET(type, field, off) EXPECT_EQ(offsetof(type, field), size_t{off}) << #field

TEST(Records, SizesAndOffsets) {
    EXPECT_EQ(sizeof(tNetDeviceInfo), 452u);
    EXPECT_OFFSET(tNetDeviceInfo, uiRecordVersion, 0);
    EXPECT_OFFSET(tNetDeviceInfo, ucMac, 4);
    EXPECT_OFFSET(tNetDeviceInfo, ucReserved1, 10);
    EXPECT_OFFSET(tNetDeviceInfo, szDevType, 80);
    EXPECT_OFFSET(tNetDeviceInfo, szSoftVersion, 208);
    EXPECT_OFFSET(tNetDeviceInfo, ucIp, 340);
    EXPECT_OFFSET(tNetDeviceInfo, ucMask, 344);
    EXPECT_OFFSET(tNetDeviceInfo, ucGateway, 348);
    EXPECT_OFFSET(tNetDeviceInfo, usCtrlPort, 352);
    EXPECT_OFFSET(tNetDeviceInfo, ucReserved2, 354);
    EXPECT_OFFSET(tNetDeviceInfo, szHardVersion, 386);
    EXPECT_EQ(sizeof(tNetDeviceInfo::szDevType), 128u);
    EXPECT_EQ(sizeof(tNetDeviceInfo::szSoftVersion), 132u);
    EXPECT_EQ(sizeof(tNetDeviceInfo::szHardVersion), 66u);

    EXPECT_EQ(sizeof(tNetTimeSetup), 12u);
    EXPECT_OFFSET(tNetTimeSetup, usYear, 0);
    EXPECT_OFFSET(tNetTimeSetup, ucMonth, 2);
    EXPECT_OFFSET(tNetTimeSetup, ucDay, 3);
    EXPECT_OFFSET(tNetTimeSetup, ucHour, 4);
    EXPECT_OFFSET(tNetTimeSetup, ucMinute, 5);
    EXPECT_OFFSET(tNetTimeSetup, ucSecond, 6);
    EXPECT_OFFSET(tNetTimeSetup, ucReserved, 7);

    EXPECT_EQ(sizeof(tNetFileUpdate), 258u);
    EXPECT_OFFSET(tNetFileUpdate, UpgradeType, 0);
    EXPECT_OFFSET(tNetFileUpdate, szFilePath, 2);
}

TEST(Records, DeviceRecordBytesAreLittleEndianAtTheirOffsets) {
    tNetDeviceInfo info{};
    info.uiRecordVersion = 1;
    info.usCtrlPort = 0x1234;
    info.ucIp[0] = 127;
    const auto f = wire::EncodeFrame(MsgType::DiscoverRep, 1, info);
    const uint8_t* p = f.data() + wire::kHeaderSize;
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(p[352], 0x34);
    EXPECT_EQ(p[353], 0x12);
    EXPECT_EQ(p[340], 127);
}

}  // namespace

// Probes to many addresses at once: each asked address counts once, with its
// own record; answers for addresses not asked, and repeats, are not reported.
TEST(WireProbeMany, EachAskedAddressAnswersOnce) {
    asio::io_context io;
    asio::ip::udp::socket camera(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    wire::NetConfig config;
    config.bindAddress = "127.0.0.1";
    config.discoveryPort = camera.local_endpoint().port();
    std::thread responder([&] {
        std::array<uint8_t, 2048> buf{};
        asio::ip::udp::endpoint from;
        asio::error_code ec;
        const size_t n = camera.receive_from(asio::buffer(buf), from, 0, ec);
        const auto frame = wire::DecodeDatagram({buf.data(), n});
        ASSERT_TRUE(frame);
        for (const int k : {9, 1, 1}) {  // a stranger, then the camera twice
            const auto last = static_cast<uint8_t>(k);
            tNetDeviceInfo info{};
            info.uiRecordVersion = 1;
            info.ucIp[0] = 127;
            info.ucIp[3] = last;
            info.ucMac[5] = last;
            camera.send_to(asio::buffer(wire::EncodeFrame(wire::MsgType::DiscoverRep,
                                                          frame->header.txid, info)),
                           from, 0, ec);
        }
    });
    std::vector<int> heard;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    // 127.0.0.2 has nobody at the port: its wait is the whole time-out.
    const int answered = wire::ProbeMany(
        config, {"127.0.0.1", "127.0.0.2", "not an address"}, 400,
        [&](const tNetDeviceInfo& info) { heard.push_back(info.ucMac[5]); }, &error);
    responder.join();
    EXPECT_EQ(answered, 1) << error;
    EXPECT_EQ(heard, std::vector<int>{1});
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(350));
}
