#include "wire/Wire.h"

#include <algorithm>

namespace wire {

PayloadBounds BoundsFor(uint8_t type) {
    switch (static_cast<MsgType>(type)) {
        case MsgType::DiscoverReq:
            return {sizeof(DiscoverReq), sizeof(DiscoverReq)};
        case MsgType::DiscoverRep:
            return {sizeof(tNetDeviceInfo), sizeof(tNetDeviceInfo)};
        case MsgType::HelloReq:
        case MsgType::TimeGetReq:
        case MsgType::Bye:
            return {0, 0};
        case MsgType::HelloRep:
            return {sizeof(HelloRep), sizeof(HelloRep)};
        case MsgType::TimeGetRep:
            return {sizeof(TimeGetRep), sizeof(TimeGetRep)};
        case MsgType::TimeSetReq:
            return {sizeof(tNetTimeSetup), sizeof(tNetTimeSetup)};
        case MsgType::TimeSetRep:
        case MsgType::UpdateReady:
            return {sizeof(StatusRep), sizeof(StatusRep)};
        case MsgType::UpdateBegin:
            return {sizeof(UpdateBegin), sizeof(UpdateBegin)};
        case MsgType::UpdateData:
            return {1, kMaxDataPayload};
        case MsgType::UpdateEnd:
            return {sizeof(UpdateEnd), sizeof(UpdateEnd)};
        case MsgType::UpdateResult:
            return {sizeof(UpdateResult), sizeof(UpdateResult)};
        case MsgType::UpdateReason:
            return {sizeof(UpdateReason), sizeof(UpdateReason)};
        case MsgType::IpSetReq:
            return {sizeof(IpSetReq), sizeof(IpSetReq)};
        case MsgType::IpSetRep:
            return {sizeof(IpSetRep), sizeof(IpSetRep)};
        case MsgType::IpSetExReq:
            return {sizeof(IpSetExReq), sizeof(IpSetExReq)};
        case MsgType::IpSetExRep:
            return {sizeof(IpSetExRep), sizeof(IpSetExRep)};
        case MsgType::Nak:
            return {sizeof(Nak), sizeof(Nak)};
    }
    return {0, kMaxUnknownPayload};
}

bool IsKnownType(uint8_t type) {
    return std::string_view(TypeName(type)) != "UNKNOWN";
}

const char* TypeName(uint8_t type) {
    switch (static_cast<MsgType>(type)) {
        case MsgType::DiscoverReq:
            return "DISCOVER_REQ";
        case MsgType::DiscoverRep:
            return "DISCOVER_REP";
        case MsgType::HelloReq:
            return "HELLO_REQ";
        case MsgType::HelloRep:
            return "HELLO_REP";
        case MsgType::TimeGetReq:
            return "TIME_GET_REQ";
        case MsgType::TimeGetRep:
            return "TIME_GET_REP";
        case MsgType::TimeSetReq:
            return "TIME_SET_REQ";
        case MsgType::TimeSetRep:
            return "TIME_SET_REP";
        case MsgType::UpdateBegin:
            return "UPDATE_BEGIN";
        case MsgType::UpdateReady:
            return "UPDATE_READY";
        case MsgType::UpdateData:
            return "UPDATE_DATA";
        case MsgType::UpdateEnd:
            return "UPDATE_END";
        case MsgType::UpdateResult:
            return "UPDATE_RESULT";
        case MsgType::UpdateReason:
            return "UPDATE_REASON";
        case MsgType::Bye:
            return "BYE";
        case MsgType::IpSetReq:
            return "IPSET_REQ";
        case MsgType::IpSetRep:
            return "IPSET_REP";
        case MsgType::IpSetExReq:
            return "IPSET_EX_REQ";
        case MsgType::IpSetExRep:
            return "IPSET_EX_REP";
        case MsgType::Nak:
            return "NAK";
    }
    return "UNKNOWN";
}

const char* StatusName(uint32_t status) {
    switch (static_cast<Status>(status)) {
        case Status::Ok:
            return "OK";
        case Status::Refused:
            return "REFUSED";
        case Status::BadRequest:
            return "BAD_REQUEST";
        case Status::VerifyFailed:
            return "VERIFY_FAILED";
        case Status::Busy:
            return "BUSY";
        case Status::Internal:
            return "INTERNAL";
    }
    return "UNKNOWN_STATUS";
}

std::array<uint8_t, kHeaderSize> EncodeHeader(MsgType type, uint32_t txid, uint32_t length) {
    FrameHeader h{};
    std::copy(kMagic.begin(), kMagic.end(), h.magic);
    h.version = kVersion;
    h.type = static_cast<uint8_t>(type);
    h.flags = 0;
    h.txid = txid;
    h.length = length;
    std::array<uint8_t, kHeaderSize> out{};
    std::memcpy(out.data(), &h, sizeof(h));
    return out;
}

std::vector<uint8_t> EncodeFrame(MsgType type, uint32_t txid, std::span<const uint8_t> payload) {
    const PayloadBounds b = BoundsFor(static_cast<uint8_t>(type));
    if (payload.size() < b.min || payload.size() > b.max) {
        return {};
    }
    const auto head = EncodeHeader(type, txid, static_cast<uint32_t>(payload.size()));
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + payload.size());
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

namespace {
// Checks everything in a complete header but the magic; empty text when good.
std::string CheckHeader(const FrameHeader& h) {
    if (h.version != kVersion) {
        return "unsupported version " + std::to_string(h.version) + ", expected " +
               std::to_string(kVersion);
    }
    const PayloadBounds b = BoundsFor(h.type);
    if (h.length < b.min || h.length > b.max) {
        return std::string("payload length ") + std::to_string(h.length) + " out of " +
               std::to_string(b.min) + ".." + std::to_string(b.max) + " for " + TypeName(h.type);
    }
    return {};
}
}  // namespace

std::optional<FrameView> DecodeDatagram(std::span<const uint8_t> datagram) {
    if (datagram.size() < kHeaderSize) {
        return std::nullopt;
    }
    FrameView v{};
    std::memcpy(&v.header, datagram.data(), kHeaderSize);
    if (!std::equal(kMagic.begin(), kMagic.end(), v.header.magic)) {
        return std::nullopt;
    }
    if (!CheckHeader(v.header).empty()) {
        return std::nullopt;
    }
    if (datagram.size() - kHeaderSize != v.header.length) {
        return std::nullopt;
    }
    v.payload = datagram.subspan(kHeaderSize);
    return v;
}

void Decoder::reset() {
    borrowed_ = {};
    headerHave_ = 0;
    header_ = {};
    inPayload_ = false;
    delivered_ = false;
    payloadLen_ = 0;
    payloadHave_ = 0;
    error_.clear();
}

Decoder::Step Decoder::fail(size_t consumed, std::string why) {
    headerHave_ = 0;
    inPayload_ = false;
    payloadLen_ = 0;
    payloadHave_ = 0;
    error_ = std::move(why);
    return {Result::Error, consumed};
}

Decoder::Step Decoder::put(std::span<const uint8_t> bytes) {
    borrowed_ = {};
    if (delivered_) {
        delivered_ = false;
        header_ = {};
        payloadLen_ = 0;
        payloadHave_ = 0;
    }
    size_t used = 0;
    while (used < bytes.size()) {
        if (!inPayload_) {
            const uint8_t c = bytes[used];
            if (headerHave_ < kMagic.size() && c != kMagic[headerHave_]) {
                // Garbage: drop it up to the next byte that may start a frame. The
                // magic has no repeated prefix, so a mismatch never hides a start
                // inside the bytes already taken.
                const bool restart = c == kMagic[0];
                size_t skip = used + 1;
                while (!restart && skip < bytes.size() && bytes[skip] != kMagic[0]) {
                    ++skip;
                }
                Step step = fail(skip, "bytes outside a frame dropped");
                if (restart) {
                    headerBuf_[0] = c;
                    headerHave_ = 1;
                }
                return step;
            }
            headerBuf_[headerHave_++] = c;
            ++used;
            if (headerHave_ < kHeaderSize) {
                continue;
            }
            std::memcpy(&header_, headerBuf_.data(), kHeaderSize);
            headerHave_ = 0;
            if (std::string why = CheckHeader(header_); !why.empty()) {
                return fail(used, std::move(why));
            }
            payloadLen_ = header_.length;
            payloadHave_ = 0;
            if (borrow_ && payloadLen_ > 0 && bytes.size() - used >= payloadLen_) {
                borrowed_ = bytes.subspan(used, payloadLen_);
                used += payloadLen_;
                delivered_ = true;
                return {Result::Message, used};
            }
            if (payload_.size() < payloadLen_) {
                payload_.resize(payloadLen_);
            }
            if (payloadLen_ == 0) {
                delivered_ = true;
                return {Result::Message, used};
            }
            inPayload_ = true;
            continue;
        }
        const size_t take = std::min(bytes.size() - used, payloadLen_ - payloadHave_);
        std::memcpy(payload_.data() + payloadHave_, bytes.data() + used, take);
        payloadHave_ += take;
        used += take;
        if (payloadHave_ == payloadLen_) {
            inPayload_ = false;
            delivered_ = true;
            return {Result::Message, used};
        }
    }
    return {Result::NeedMore, used};
}

}  // namespace wire
