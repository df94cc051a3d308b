#pragma once
// One control session: a TCP connection to one camera, carrying hello, clock
// and file-update requests (the file receiver's half is in FileReceiver.cpp).

#include <fcntl.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <asio.hpp>

#include "Internal.h"
#include "wire/Wire.h"

namespace camsim {

class Simulator::Session : public std::enable_shared_from_this<Simulator::Session> {
  public:
    using Clock = std::chrono::steady_clock;

    Session(Simulator& sim, Camera& cam, asio::ip::tcp::socket socket, std::uint64_t id);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Start();
    // Ends the session from outside (the camera reboots).
    void Drop(const char* why) { Close(why); }

  private:
    std::string Who() const { return FormatMac(cam_.model.mac) + " " + FormatIpv4(cam_.ip); }
    const Faults& F() const { return cam_.model.faults; }

    // ControlSession.cpp: the connection and the small requests.
    void Read();
    void ReadSome(std::size_t chunk);
    void OnBytes(std::size_t n);
    void Handle();
    // Sends a frame (after the camera's reply delay); closeWhy, when set, ends
    // the session once the frame is out.
    void Reply(std::vector<std::uint8_t> frame, const char* closeWhy = nullptr);
    void Write(std::vector<std::uint8_t> frame, const char* closeWhy);
    void WriteNext();
    void Close(const char* why);

    // FileReceiver.cpp: the file update.
    void Begin(std::uint32_t txid, std::span<const std::uint8_t> payload);
    void Data(std::uint32_t txid, std::span<const std::uint8_t> payload);
    void End(std::uint32_t txid, std::span<const std::uint8_t> payload);
    // An early result with a failure, then the session ends.
    void Fail(std::uint32_t txid, wire::Status status, const char* why);
    // Says why, just before the refusal it explains (UPDATE_REASON).
    void Explain(std::uint32_t txid, wire::Status status, wire::UpdateReasonCode code,
                 const std::string& why);
    // Drops a partial file; `save`: the state file says so (not while the
    // simulator itself goes away).
    void AbortUpdate(bool save = true);

    struct Update {
        std::uint32_t txid = 0;
        std::uint16_t type = 0;
        std::uint64_t size = 0;
        std::string name;
        std::string partPath;
        std::string finalPath;
        int fd = -1;
        bool writeFailed = false;
        ReceiveCheck check;
    };
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        const char* closeWhy = nullptr;
    };

    Simulator& sim_;
    Camera& cam_;
    asio::ip::tcp::socket socket_;
    std::uint64_t id_;
    std::vector<std::uint8_t> buf_;
    wire::Decoder decoder_;
    std::deque<Outgoing> queue_;
    std::unique_ptr<Update> update_;
    bool closed_ = false;
    Clock::time_point throttleStart_;
    std::uint64_t throttled_ = 0;
};

}  // namespace camsim
