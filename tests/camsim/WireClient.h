#pragma once
// A plain blocking client for talking to camsim byte by byte in tests: every
// wait has a time-out, so a silent simulator fails a test instead of hanging it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/Wire.h"

namespace camsimtest {

using namespace std::chrono_literals;

struct Frame {
    wire::FrameHeader header{};
    std::vector<std::uint8_t> payload;
    wire::MsgType type() const { return static_cast<wire::MsgType>(header.type); }
    template <class T>
    std::optional<T> as() const {
        return wire::ParsePayload<T>(payload);
    }
};

class TcpClient {
  public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // 0 on success, else the errno of the failed connect (ECONNREFUSED, ETIMEDOUT...).
    int connect(const std::string& ip, std::uint16_t port,
                std::chrono::milliseconds timeout = 5000ms);
    bool send(const std::vector<std::uint8_t>& bytes);
    // The next whole frame, or nothing on time-out, close or garbage.
    std::optional<Frame> read(std::chrono::milliseconds timeout = 5000ms);
    // True when the peer closed (or reset) the connection within the time-out.
    bool closedByPeer(std::chrono::milliseconds timeout = 5000ms);
    // Sends the request and reads its reply.
    std::optional<Frame> call(const std::vector<std::uint8_t>& request,
                              std::chrono::milliseconds timeout = 5000ms);
    void close();
    // The UPDATE_REASON frames read() has passed over, oldest first.
    const std::vector<Frame>& reasons() const { return reasons_; }

  private:
    int fd_ = -1;
    wire::Decoder decoder_;
    std::vector<Frame> reasons_;
    std::vector<std::uint8_t> pending_;
};

// One UDP socket on 127.0.0.1 that sends probes and collects whatever comes back.
class UdpClient {
  public:
    UdpClient();
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    bool sendTo(const std::string& ip, std::uint16_t port, const std::vector<std::uint8_t>& bytes);
    struct Datagram {
        std::string from;  // source address
        std::vector<std::uint8_t> bytes;
    };
    // Everything that arrives until `quiet` passes without a datagram (or `max` passes).
    std::vector<Datagram> collect(std::chrono::milliseconds quiet,
                                  std::chrono::milliseconds max = 10000ms);
    // Waits up to `max` for `count` datagrams, then a short `extra` for any more
    // (so that a duplicate is still seen), without a long quiet wait on a slow machine.
    std::vector<Datagram> collectAtLeast(std::size_t count, std::chrono::milliseconds max = 10000ms,
                                         std::chrono::milliseconds extra = 200ms);

  private:
    std::optional<Datagram> receiveOne(std::chrono::milliseconds timeout);
    int fd_ = -1;
};

}  // namespace camsimtest
