#pragma once
// Frames of the camera network protocol (docs/protocol.md): the packed header and
// payload records, encoders, and a socket-free incremental decoder.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "korvel.h"

namespace wire {

static_assert(std::endian::native == std::endian::little,
              "records are copied as they are; the wire is little-endian");

inline constexpr std::array<uint8_t, 4> kMagic = {0x51, 0x56, 0x4E, 0x50};  // "QVNP"
inline constexpr uint8_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;
inline constexpr uint32_t kMaxDataPayload = 1024 * 1024;
inline constexpr uint32_t kMaxUnknownPayload = 4096;

enum class MsgType : uint8_t {
    DiscoverReq = 0x01,
    DiscoverRep = 0x02,
    HelloReq = 0x10,
    HelloRep = 0x11,
    TimeGetReq = 0x20,
    TimeGetRep = 0x21,
    TimeSetReq = 0x22,
    TimeSetRep = 0x23,
    UpdateBegin = 0x30,
    UpdateReady = 0x31,
    UpdateData = 0x32,
    UpdateEnd = 0x33,
    UpdateResult = 0x34,
    UpdateReason = 0x35,
    Bye = 0x40,
    IpSetReq = 0x50,
    IpSetRep = 0x51,
    IpSetExReq = 0x52,  // address, mask and gateway; older cameras answer NAK
    IpSetExRep = 0x53,
    Nak = 0x7F,
};

enum class UpdateReasonCode : uint32_t {
    None = 0,
    SizeMismatch = 1,    // fewer or more bytes arrived than announced
    DigestMismatch = 2,  // the MD5 of what arrived is not the tool's
    BadPack = 3,         // an update pack that is damaged (header, table, its own digest)
    Hardware = 4,        // the file is for another hardware version
    Write = 5,           // the camera could not store it
    Busy = 6,            // another update is in progress
    TooLarge = 7,        // the announced size is above the camera's capacity
    BadName = 8,         // the file name cannot be used
    Rejected = 9,        // the camera's own judgement (firmware rules, a fault)
};

enum class Status : uint32_t {
    Ok = 0,
    Refused = 1,
    BadRequest = 2,
    VerifyFailed = 3,
    Busy = 4,
    Internal = 5,
};

#pragma pack(push, 1)

struct FrameHeader {
    uint8_t magic[4];
    uint8_t version;
    uint8_t type;
    uint16_t flags;
    uint32_t txid;
    uint32_t length;
};

struct DiscoverReq {
    uint16_t spreadMs;  // each camera waits a random time below this before it answers
    uint16_t reserved;
};

// DISCOVER_REP carries a tNetDeviceInfo as it is.

struct HelloRep {
    uint32_t status;
    tNetDeviceInfo info;
};

struct TimeGetRep {
    uint32_t status;
    tNetTimeSetup time;
};

// TIME_SET_REQ carries a tNetTimeSetup as it is.

// TIME_SET_REP and UPDATE_READY.
struct StatusRep {
    uint32_t status;
};

struct UpdateBegin {
    uint16_t upgradeType;
    uint16_t reserved;
    uint64_t size;
    char name[256];  // base name only
};

struct UpdateEnd {
    uint8_t md5[16];
};

struct UpdateResult {
    uint32_t status;
    uint64_t received;
    uint8_t md5[16];  // what the camera computed
};

// Why the camera refuses, sent just before the UPDATE_READY or UPDATE_RESULT
// that carries the refusal. Peers that do not know it skip it.
struct UpdateReason {
    uint32_t status;  // the status of the refusal it explains
    uint32_t reason;  // UpdateReasonCode
    char text[120];   // the camera's own words
};

struct IpSetReq {
    uint8_t mac[6];
    uint16_t reserved;
    uint8_t ip[4];
    uint8_t mask[4];
    uint8_t gateway[4];  // 0.0.0.0: the camera chooses
};

struct IpSetRep {
    uint8_t mac[6];
    uint16_t reserved;
    uint32_t status;
    uint8_t ip[4];
    uint8_t mask[4];
};

// Same layout as IpSetReq; here 0.0.0.0 keeps the camera's gateway.
struct IpSetExReq {
    uint8_t mac[6];
    uint16_t reserved;
    uint8_t ip[4];
    uint8_t mask[4];
    uint8_t gateway[4];
};

struct IpSetExRep {
    uint8_t mac[6];
    uint16_t reserved;
    uint32_t status;
    uint8_t ip[4];
    uint8_t mask[4];
    uint8_t gateway[4];
};

struct Nak {
    uint32_t status;
    uint8_t rejectedType;
    uint8_t reserved[3];
};

#pragma pack(pop)

static_assert(sizeof(FrameHeader) == kHeaderSize);
static_assert(offsetof(FrameHeader, version) == 4);
static_assert(offsetof(FrameHeader, type) == 5);
static_assert(offsetof(FrameHeader, flags) == 6);
static_assert(offsetof(FrameHeader, txid) == 8);
static_assert(offsetof(FrameHeader, length) == 12);
static_assert(sizeof(DiscoverReq) == 4);
static_assert(sizeof(HelloRep) == 456);
static_assert(offsetof(HelloRep, info) == 4);
static_assert(sizeof(TimeGetRep) == 16);
static_assert(offsetof(TimeGetRep, time) == 4);
static_assert(sizeof(StatusRep) == 4);
static_assert(sizeof(UpdateBegin) == 268);
static_assert(offsetof(UpdateBegin, size) == 4);
static_assert(offsetof(UpdateBegin, name) == 12);
static_assert(sizeof(UpdateEnd) == 16);
static_assert(sizeof(UpdateResult) == 28);
static_assert(offsetof(UpdateResult, received) == 4);
static_assert(offsetof(UpdateResult, md5) == 12);
static_assert(sizeof(IpSetReq) == 20);
static_assert(offsetof(IpSetReq, ip) == 8);
static_assert(offsetof(IpSetReq, mask) == 12);
static_assert(offsetof(IpSetReq, gateway) == 16);
static_assert(sizeof(IpSetRep) == 20);
static_assert(offsetof(IpSetRep, status) == 8);
static_assert(offsetof(IpSetRep, ip) == 12);
static_assert(offsetof(IpSetRep, mask) == 16);
static_assert(sizeof(IpSetExReq) == 20);
static_assert(offsetof(IpSetExReq, gateway) == 16);
static_assert(sizeof(IpSetExRep) == 24);
static_assert(offsetof(IpSetExRep, gateway) == 20);
static_assert(sizeof(Nak) == 8);
static_assert(sizeof(UpdateReason) == 128);
static_assert(offsetof(UpdateReason, reason) == 4);
static_assert(offsetof(UpdateReason, text) == 8);

// Smallest and largest payload a frame of this type may carry. Unknown types get
// 0..kMaxUnknownPayload so that a newer peer's request can be answered with NAK.
struct PayloadBounds {
    uint32_t min;
    uint32_t max;
};
PayloadBounds BoundsFor(uint8_t type);
bool IsKnownType(uint8_t type);
const char* TypeName(uint8_t type);
const char* StatusName(uint32_t status);

// Header bytes of a frame; the caller sends the payload after it.
std::array<uint8_t, kHeaderSize> EncodeHeader(MsgType type, uint32_t txid, uint32_t length);

// A whole frame. The payload must fit the type's bounds (checked: an empty vector
// comes back otherwise).
std::vector<uint8_t> EncodeFrame(MsgType type, uint32_t txid,
                                 std::span<const uint8_t> payload = {});

template <class T>
requires(std::is_trivially_copyable_v<T> &&
         !std::is_convertible_v<const T&, std::span<const uint8_t>>)
    std::vector<uint8_t> EncodeFrame(MsgType type, uint32_t txid, const T& record) {
    return EncodeFrame(
        type, txid, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(&record), sizeof(T)));
}

// The payload as record T, or nothing when its size is not exactly sizeof(T).
template <class T>
std::optional<T> ParsePayload(std::span<const uint8_t> payload) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (payload.size() != sizeof(T)) {
        return std::nullopt;
    }
    T out;
    std::memcpy(&out, payload.data(), sizeof(T));
    return out;
}

// A frame that points into the bytes it was decoded from.
struct FrameView {
    FrameHeader header;
    std::span<const uint8_t> payload;
    MsgType type() const { return static_cast<MsgType>(header.type); }
};

// One UDP datagram must be exactly one well-formed frame; anything else gives nothing.
std::optional<FrameView> DecodeDatagram(std::span<const uint8_t> datagram);

// Incremental decoder for a byte stream. Feed it what arrived; it answers
//   NeedMore - every byte was taken, no frame is complete yet;
//   Message  - one frame is complete (header(), payload()); `consumed` may be
//              less than what was offered: offer the rest afterwards;
//   Error    - a bad header or garbage; `consumed` bytes were dropped and the
//              decoder is ready to look for the next frame (error() says why).
// The message stays valid until the next put() or reset().
class Decoder {
  public:
    enum class Result { NeedMore, Message, Error };
    struct Step {
        Result result;
        size_t consumed;
    };

    Step put(std::span<const uint8_t> bytes);
    void reset();

    const FrameHeader& header() const { return header_; }
    MsgType type() const { return static_cast<MsgType>(header_.type); }
    uint32_t txid() const { return header_.txid; }
    std::span<const uint8_t> payload() const {
        return borrowed_.data() != nullptr ? borrowed_
                                           : std::span<const uint8_t>(payload_.data(), payloadLen_);
    }
    const std::string& error() const { return error_; }
    // True while a frame has been started but not finished.
    bool midFrame() const { return headerHave_ > 0 || inPayload_; }

    // With borrowing on, a payload that arrives whole inside one put() is not
    // copied: payload() then points into the bytes given to put(), which the
    // caller must leave untouched until it has used the message. Saves a copy of
    // every byte of a file stream. Off by default.
    void setBorrow(bool on) { borrow_ = on; }

  private:
    Step fail(size_t consumed, std::string why);

    std::array<uint8_t, kHeaderSize> headerBuf_{};
    size_t headerHave_ = 0;
    FrameHeader header_{};
    bool inPayload_ = false;
    bool delivered_ = false;
    std::vector<uint8_t> payload_;
    size_t payloadLen_ = 0;
    size_t payloadHave_ = 0;
    bool borrow_ = false;
    std::span<const uint8_t> borrowed_;
    std::string error_;
};

}  // namespace wire
