// wire::Decoder on a byte stream cut into pieces at random places.
// Input: one byte of seed for the cuts, then the stream.
// Property: the messages (header and payload) are the same whatever the cuts,
// with payload borrowing on or off, as when the stream is offered whole.

#include <vector>

#include "FuzzUtil.h"
#include "wire/Wire.h"

namespace {

struct Message {
    wire::FrameHeader header;
    std::vector<std::uint8_t> payload;
    bool operator==(const Message& o) const {
        return std::memcmp(&header, &o.header, sizeof header) == 0 && payload == o.payload;
    }
};

// Feeds `stream` in pieces whose lengths come from `next`.
template <class Next>
std::vector<Message> Decode(const std::vector<std::uint8_t>& stream, bool borrow, Next next) {
    wire::Decoder d;
    d.setBorrow(borrow);
    std::vector<Message> out;
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t len = std::min(next(), stream.size() - at);
        std::span<const std::uint8_t> piece(stream.data() + at, len);
        at += len;
        while (!piece.empty()) {
            const auto step = d.put(piece);
            FUZZ_CHECK(step.consumed <= piece.size());
            if (step.result == wire::Decoder::Result::Message) {
                const auto p = d.payload();
                FUZZ_CHECK(p.size() == d.header().length);
                const auto b = wire::BoundsFor(d.header().type);
                FUZZ_CHECK(p.size() >= b.min && p.size() <= b.max);
                out.push_back({d.header(), {p.begin(), p.end()}});
            } else if (step.result == wire::Decoder::Result::NeedMore) {
                FUZZ_CHECK(step.consumed == piece.size());
            } else {
                FUZZ_CHECK(!d.error().empty());
            }
            // Every step but a message of an empty payload makes progress.
            FUZZ_CHECK(step.consumed > 0 || step.result == wire::Decoder::Result::Message);
            piece = piece.subspan(step.consumed);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::uint32_t seed = data[0] * 2654435761u + 1u;
    const std::vector<std::uint8_t> stream(data + 1, data + size);
    const auto whole = Decode(stream, false, [&] { return stream.size(); });
    const auto bytewise = Decode(stream, false, [] { return std::size_t{1}; });
    FUZZ_CHECK(bytewise == whole);
    auto cuts = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return std::size_t{1} + seed % 600;
    };
    FUZZ_CHECK(Decode(stream, false, cuts) == whole);
    FUZZ_CHECK(Decode(stream, true, cuts) == whole);
    FUZZ_CHECK(Decode(stream, true, [&] { return stream.size(); }) == whole);
    return 0;
}
