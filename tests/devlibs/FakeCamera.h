#pragma once
// A scripted camera on 127.0.0.1 for protocol corner cases the simulator does not
// play: each TCP connection and each discovery probe is answered by a test's script.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "wire/NetConfig.h"
#include "wire/Wire.h"

namespace qvtest {

using Bytes = std::vector<uint8_t>;

struct Frame {
    wire::FrameHeader header{};
    Bytes payload;
    wire::MsgType type() const { return static_cast<wire::MsgType>(header.type); }
};

// One accepted control connection, as the script sees it.
class FakeConn {
  public:
    explicit FakeConn(int fd) : fd_(fd) {}
    // The next frame from the tool, or nothing on time-out, close or garbage.
    std::optional<Frame> read(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void send(const Bytes& bytes);
    // Sends one byte at a time, as a slow or fragmenting link would.
    void sendBytewise(const Bytes& bytes);
    // Waits until the tool closes its end (or the time is up).
    void awaitClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  private:
    int fd_;
    wire::Decoder decoder_;
    Bytes pending_;
};

// How the answers to one probe go out: `burst` datagrams, then a pause of
// `gap`, and so on (0: all at once). A trickle is a burst of 1 with a long gap.
struct UdpPace {
    int burst = 0;
    std::chrono::microseconds gap{0};
};

class FakeCamera {
  public:
    using TcpScript = std::function<void(FakeConn&)>;
    // Datagrams to answer a probe with, given the probe's txid.
    using UdpScript = std::function<std::vector<Bytes>(uint32_t txid)>;

    using UdpPace = qvtest::UdpPace;

    FakeCamera(TcpScript tcp, UdpScript udp = {}, UdpPace pace = {});
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    bool ok() const { return tcpFd_ >= 0 && udpFd_ >= 0 && !confPath_.empty(); }
    // A configuration that points the libraries at this camera (unicast, 127.0.0.1).
    const std::string& confPath() const { return confPath_; }
    const std::string& dir() const { return dir_; }
    int connections() const { return connections_.load(); }

  private:
    void tcpLoop();
    void udpLoop();

    TcpScript tcp_;
    UdpScript udp_;
    UdpPace pace_;
    int tcpFd_ = -1;
    int udpFd_ = -1;
    std::string dir_;
    std::string confPath_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread tcpThread_;
    std::thread udpThread_;
};

// A well-formed device record.
tNetDeviceInfo MakeRecord(uint8_t lastMacByte, const char* type = "QV-FAKE");

}  // namespace qvtest
