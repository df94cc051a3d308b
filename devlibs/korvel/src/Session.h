#pragma once
// One TCP control session with a camera. Every blocking step has a time-out.

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvel.h"
#include "wire/Md5.h"
#include "wire/Wire.h"

namespace korvel {

class Session {
  public:
    using Duration = std::chrono::steady_clock::duration;

    Session() : socket_(io_) {}
    ~Session() { close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects and exchanges the hello, all within `timeout`. KORVEL_* code.
    int open(const std::string& ip, uint16_t port, Duration timeout);
    // Connects and closes at once, without a word, all within `timeout`.
    int probe(const std::string& ip, uint16_t port, Duration timeout);
    bool isOpen() const { return socket_.is_open(); }
    // Sends BYE when the session is still usable, then closes.
    void close();
    // Callable from any thread: the call in progress, and every later one,
    // ends at once with KORVEL_E_IO instead of waiting out its time-out.
    void abort();
    bool aborted() const { return aborted_; }

    // One request and its reply. On success `reply` holds the reply payload.
    int request(wire::MsgType type, std::span<const uint8_t> payload, wire::MsgType replyType,
                Duration timeout, std::vector<uint8_t>* reply);

    // The file update: begin, stream, end, verdict.
    int fileUpdate(uint16_t upgradeType, const std::string& path, Duration timeout,
                   Duration verdictTimeout);

    // The KORVEL_* code of a camera's status word, as the protocol's table gives it.
    static int statusToCode(uint32_t status);

    // What the calls found out beyond their codes (Net_GetCallDetail).
    struct Detail {
        uint32_t stage = NET_STAGE_NONE;
        uint32_t attempts = 0;
        uint32_t cameraStatus = 0;
        uint32_t cameraReason = 0;
        std::string reasonText;
        uint64_t sent = 0;
        uint64_t size = 0;
        uint64_t acked = 0;  // of the file, as the camera's system acknowledged it
        uint32_t flags = 0;  // NET_DETAIL_*
    };
    Detail& detail() { return detail_; }
    const Detail& detail() const { return detail_; }
    // Told of every change of stage and of the bytes sent.
    void setProgress(std::function<void(const tNetProgress&)> fn) { progress_ = std::move(fn); }
    // Records the stage and tells it.
    void tell(uint32_t stage, uint32_t attempt = 0, uint32_t attempts = 0);

    const tNetDeviceInfo& helloInfo() const { return hello_; }
    // Whether the last open() received a hello (helloInfo() is then its record).
    bool helloKnown() const { return helloKnown_; }
    const std::string& peer() const { return peer_; }

  private:
    // Outcome of waiting for one frame. Frames of types this library does not
    // know are skipped, so that a newer camera's messages need no new version.
    int readFrame(std::chrono::steady_clock::time_point deadline);
    // Takes what has arrived during a stream without waiting: true when a
    // frame for readFrame (or garbage) is there, false when nothing is or
    // only frames of unknown types were, which are skipped.
    bool frameArrived();
    void skipUnknown();
    int writeAll(const std::vector<asio::const_buffer>& buffers, Duration timeout);
    // Runs the io_context until the pending operation has finished or the time is
    // up; at time-up the socket is closed, which ends the operation.
    void run(Duration timeout);
    int fail(int code);  // closes the socket and returns `code`
    // Reads what the camera's system has acknowledged of the file so far into
    // detail_; only while the socket is open, on the session's thread.
    void countAcked();
    // Closes with a reset: what the system still holds for the camera is dropped.
    void reset();
    int updateResult(const std::vector<uint8_t>& payload, const wire::Digest& sent, uint64_t size);
    // A frame that explains a refusal to come; kept, not returned.
    bool takeReason();
    // The camera's status word of a refusal.
    void cameraSaid(uint32_t status);

    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    wire::Decoder decoder_;
    std::vector<uint8_t> inbuf_ = std::vector<uint8_t>(64 * 1024);
    size_t inStart_ = 0;
    size_t inEnd_ = 0;
    int held_ = -1;  // outcome of a frame frameArrived() took; -1: none
    bool unknownLogged_ = false;
    uint32_t txid_ = 0;
    tNetDeviceInfo hello_{};
    bool helloKnown_ = false;
    // Bytes handed to the socket since the connection, and where the file's
    // frames begin and end among them, to map the system's count to the file.
    uint64_t written_ = 0;
    uint64_t fileWireStart_ = 0;
    uint64_t fileWireEnd_ = 0;  // after UPDATE_END; 0 while it has not gone
    size_t pieceSize_ = 0;
    bool streaming_ = false;
    std::string peer_;
    std::atomic<bool> aborted_{false};
    Detail detail_;
    std::function<void(const tNetProgress&)> progress_;
};

}  // namespace korvel
