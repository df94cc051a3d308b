// One UDP datagram: DecodeDatagram, then the discovery and IP-change records
// as the tool and the cameras read them.
// Properties: an accepted datagram is exactly one frame within its type's
// bounds and encodes back to the same bytes (flags aside, which receivers
// ignore); a record parses only at its exact size; a received device record's
// texts end inside their fields; addresses format and parse back unchanged.

#include <cstring>

#include "FuzzUtil.h"
#include "wire/Addr.h"
#include "wire/Discovery.h"
#include "wire/Wire.h"

namespace {

template <class T>
void ParsesOnlyAtItsSize(std::span<const std::uint8_t> payload) {
    const auto rec = wire::ParsePayload<T>(payload);
    FUZZ_CHECK(rec.has_value() == (payload.size() == sizeof(T)));
}

void CheckAddresses(const std::uint8_t* mac, const std::uint8_t* ip) {
    const auto m = wire::ParseMac(wire::FormatMac(mac));
    FUZZ_CHECK(m && std::memcmp(m->data(), mac, 6) == 0);
    const auto a = wire::ParseIpv4(wire::FormatIpv4(ip));
    FUZZ_CHECK(a && std::memcmp(a->data(), ip, 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> datagram(data, size);
    // Texts typed by hand or sent as text parse strictly or not at all.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto ip = wire::ParseIpv4(text)) {
        FUZZ_CHECK(wire::ParseIpv4(wire::FormatIpv4(ip->data())) == ip);
    }
    if (const auto mac = wire::ParseMac(text)) {
        FUZZ_CHECK(wire::ParseMac(wire::FormatMac(mac->data())) == mac);
    }

    const auto frame = wire::DecodeDatagram(datagram);
    if (!frame) {
        return 0;
    }
    FUZZ_CHECK(size == wire::kHeaderSize + frame->header.length);
    FUZZ_CHECK(frame->payload.size() == frame->header.length);
    const auto bounds = wire::BoundsFor(frame->header.type);
    FUZZ_CHECK(frame->payload.size() >= bounds.min && frame->payload.size() <= bounds.max);
    const auto again =
        wire::EncodeFrame(frame->type(), frame->header.txid, std::span(frame->payload));
    FUZZ_CHECK(again.size() == size);
    FUZZ_CHECK(std::memcmp(again.data(), data, 6) == 0);
    FUZZ_CHECK(std::memcmp(again.data() + 8, data + 8, size - 8) == 0);

    ParsesOnlyAtItsSize<wire::DiscoverReq>(frame->payload);
    ParsesOnlyAtItsSize<wire::IpSetReq>(frame->payload);
    ParsesOnlyAtItsSize<wire::IpSetRep>(frame->payload);
    if (auto info = wire::ParsePayload<tNetDeviceInfo>(frame->payload)) {
        wire::TerminateTexts(*info);
        FUZZ_CHECK(strnlen(info->szDevType, sizeof info->szDevType) < sizeof info->szDevType);
        FUZZ_CHECK(strnlen(info->szSoftVersion, sizeof info->szSoftVersion) <
                   sizeof info->szSoftVersion);
        FUZZ_CHECK(strnlen(info->szHardVersion, sizeof info->szHardVersion) <
                   sizeof info->szHardVersion);
        FUZZ_CHECK(wire::TextField(info->szDevType, sizeof info->szDevType) ==
                   std::string(info->szDevType));
        CheckAddresses(info->ucMac, info->ucIp);
    }
    if (const auto req = wire::ParsePayload<wire::IpSetReq>(frame->payload)) {
        CheckAddresses(req->mac, req->ip);
    }
    if (const auto rep = wire::ParsePayload<wire::IpSetRep>(frame->payload)) {
        CheckAddresses(rep->mac, rep->ip);
        FUZZ_CHECK(wire::StatusName(rep->status) != nullptr);
    }
    return 0;
}
