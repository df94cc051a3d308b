#include "camsim/Simulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>

#include "wire/Addr.h"
#include "wire/Wire.h"

extern char** environ;

namespace camsim {

namespace fs = std::filesystem;
using asio::ip::tcp;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

struct Simulator::Camera {
    std::size_t index = 0;
    CameraSpec model;
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv4 gateway{};
    std::array<std::uint8_t, 5> clockExtra{0x08, 0, 0, 0, 0};  // the camera's own clock bytes
    std::unique_ptr<tcp::acceptor> acceptor;
    bool updating = false;
    std::string dir;
};

namespace {

bool IsLoopback(const Ipv4& ip) {
    return ip[0] == 127;
}

asio::ip::address_v4 ToAsio(const Ipv4& ip) {
    return asio::ip::address_v4(ip);
}

std::uint32_t PrefixLength(const Ipv4& mask) {
    std::uint32_t m = ToU32(mask);
    std::uint32_t n = 0;
    while ((m & 0x80000000u) != 0) {
        ++n;
        m <<= 1;
    }
    return n;
}

bool ContiguousMask(const Ipv4& mask) {
    const std::uint32_t m = ToU32(mask);
    return m != 0 && ((~m + 1) & ~m) == 0;
}

std::string MacDirName(const Mac& mac) {
    std::string s = FormatMac(mac);
    std::replace(s.begin(), s.end(), ':', '-');
    return s;
}

// Runs `ip` with these arguments and waits for it; true when it exits with 0.
bool RunIp(const std::vector<std::string>& args, std::string& error) {
    std::vector<char*> argv;
    std::vector<std::string> all{"ip"};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) {
        error = "cannot run ip";
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& a : all) {
            line += a + " ";
        }
        error = "'" + line + "' failed";
        return false;
    }
    return true;
}

// True when this process sits in a network namespace of its own, not the host's:
// re-addressing an interface is only ever done there. A namespace made with
// "ip netns add" is bind-mounted under /run/netns (as "ip netns identify" finds it);
// otherwise it must differ from init's, where that can be read.
bool InOwnNetworkNamespace() {
    struct stat self {};
    if (::stat("/proc/self/ns/net", &self) != 0) {
        return false;
    }
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/run/netns", ec)) {
        struct stat named {};
        if (::stat(e.path().c_str(), &named) == 0 && named.st_dev == self.st_dev &&
            named.st_ino == self.st_ino) {
            return true;
        }
    }
    struct stat init {};
    return ::stat("/proc/1/ns/net", &init) == 0 &&
           (init.st_dev != self.st_dev || init.st_ino != self.st_ino);
}

// Camera clock fields for a moment of local time.
tNetTimeSetup ClockRecord(std::time_t t, const std::array<std::uint8_t, 5>& extra) {
    std::tm tm{};
    localtime_r(&t, &tm);
    tNetTimeSetup r{};
    r.usYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    r.ucMonth = static_cast<std::uint8_t>(tm.tm_mon + 1);
    r.ucDay = static_cast<std::uint8_t>(tm.tm_mday);
    r.ucHour = static_cast<std::uint8_t>(tm.tm_hour);
    r.ucMinute = static_cast<std::uint8_t>(tm.tm_min);
    r.ucSecond = static_cast<std::uint8_t>(tm.tm_sec);
    std::copy(extra.begin(), extra.end(), r.ucReserved);
    return r;
}

int DaysIn(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// Seconds from now to the moment in `r`, or nothing when a field is out of range.
std::optional<std::int64_t> OffsetOf(const tNetTimeSetup& r) {
    if (r.usYear < 1970 || r.usYear > 2200 || r.ucMonth < 1 || r.ucMonth > 12 || r.ucDay < 1 ||
        r.ucDay > DaysIn(r.usYear, r.ucMonth) || r.ucHour > 23 || r.ucMinute > 59 ||
        r.ucSecond > 59) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = r.usYear - 1900;
    tm.tm_mon = r.ucMonth - 1;
    tm.tm_mday = r.ucDay;
    tm.tm_hour = r.ucHour;
    tm.tm_min = r.ucMinute;
    tm.tm_sec = r.ucSecond;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t) - static_cast<std::int64_t>(std::time(nullptr));
}

// A reply that no client can accept: the version byte is wrong.
void Spoil(std::vector<std::uint8_t>& frame) {
    if (frame.size() > 4) {
        frame[4] = 0x7E;
    }
}

// Base name of a file name from the wire; empty when it is not acceptable.
std::string SafeName(const std::string& raw) {
    std::string name = raw;
    if (auto slash = name.find_last_of("/\\"); slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    if (name.empty() || name == "." || name == "..") {
        return {};
    }
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            return {};
        }
    }
    return name;
}

}  // namespace

// ---------------------------------------------------------------- ReceiveCheck

void ReceiveCheck::Feed(const std::uint8_t* data, std::size_t size) {
    md5_.update({data, size});
    std::uint64_t off = offset_;
    std::size_t i = 0;
    // The pack header: its first bytes say whether the file is a pack at all.
    while (i < size && off < head_.size()) {
        head_[static_cast<std::size_t>(off)] = data[i];
        ++i;
        ++off;
        if (off == head_.size()) {
            static const std::uint8_t kMagics[3][4] = {
                {0xEF, 0xCD, 0xAB, 0x89}, {0x67, 0x45, 0x23, 0x01}, {0x88, 0x88, 0x88, 0x88}};
            for (const auto& m : kMagics) {
                isPack_ = isPack_ || std::equal(m, m + 4, head_.begin());
            }
            if (isPack_) {
                const std::uint16_t count = static_cast<std::uint16_t>(head_[4] | (head_[5] << 8));
                const std::uint8_t packType = head_[6];
                const std::uint32_t dataLen =
                    static_cast<std::uint32_t>(head_[44]) | (std::uint32_t{head_[45]} << 8) |
                    (std::uint32_t{head_[46]} << 16) | (std::uint32_t{head_[47]} << 24);
                if (count < 1 || count > 99 || packType > 1) {
                    badHeader_ = true;
                } else {
                    digestAt_ = 64 + 200ull * count + dataLen;
                    packMd5_.update(head_);
                }
            }
        }
    }
    if (isPack_ && digestAt_ != 0) {
        // Bytes up to the digest are digested; the 16 after it are the stored digest.
        if (off < digestAt_ && i < size) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - i, digestAt_ - off));
            packMd5_.update({data + i, n});
            i += n;
            off += n;
            if (off == digestAt_) {
                computed_ = packMd5_.finish();
                haveComputed_ = true;
            }
        }
        while (i < size && off >= digestAt_ && off < digestAt_ + 16) {
            stored_[storedHave_++] = data[i];
            ++i;
            ++off;
        }
    }
    offset_ += size;
}

std::string ReceiveCheck::PackProblem() const {
    if (!isPack_) {
        return {};
    }
    if (badHeader_) {
        return "pack header holds a bad file count or pack type";
    }
    if (!haveComputed_ || storedHave_ < 16) {
        return "pack is shorter than its header says (" + std::to_string(offset_) + " bytes, " +
               std::to_string(digestAt_ + 16) + " expected)";
    }
    if (computed_ != stored_) {
        return "pack digest mismatch: expected " + wire::DigestHex(stored_) + ", got " +
               wire::DigestHex(computed_);
    }
    return {};
}

// --------------------------------------------------------------------- Session

class Simulator::Session : public std::enable_shared_from_this<Simulator::Session> {
  public:
    Session(Simulator& sim, Camera& cam, tcp::socket socket, std::uint64_t id)
        : sim_(sim), cam_(cam), socket_(std::move(socket)), id_(id), buf_(1024 * 1024) {
        throttleStart_ = Clock::now();
        // Frames that arrive whole are used in place: buf_ stays untouched until
        // every frame of a read has been handled.
        decoder_.setBorrow(true);
    }
    ~Session() { AbortUpdate(); }

    void Start() {
        asio::error_code ec;
        auto peer = socket_.remote_endpoint(ec);
        sim_.log_.Line("%s session %llu from %s:%u%s", Who().c_str(),
                       static_cast<unsigned long long>(id_), peer.address().to_string().c_str(),
                       peer.port(), cam_.model.faults.hang ? " (hangs)" : "");
        Read();
    }

  private:
    std::string Who() const { return FormatMac(cam_.model.mac) + " " + FormatIpv4(cam_.ip); }
    const Faults& F() const { return cam_.model.faults; }

    void Read() {
        if (closed_) {
            return;
        }
        std::size_t chunk = buf_.size();
        if (F().throttleBps != 0) {
            // Tokens at the link's rate: wait until the bytes read so far are due.
            chunk = static_cast<std::size_t>(
                std::clamp<std::uint64_t>(F().throttleBps / 50, 512, buf_.size()));
            const auto due =
                throttleStart_ + std::chrono::microseconds(static_cast<std::int64_t>(
                                     throttled_ / F().throttleBps * 1000000 +
                                     throttled_ % F().throttleBps * 1000000 / F().throttleBps));
            if (due > Clock::now()) {
                auto timer = std::make_shared<asio::steady_timer>(sim_.io_, due);
                timer->async_wait(
                    [self = shared_from_this(), timer, chunk](const asio::error_code& ec) {
                        if (!ec) {
                            self->ReadSome(chunk);
                        }
                    });
                return;
            }
        }
        ReadSome(chunk);
    }

    void ReadSome(std::size_t chunk) {
        socket_.async_read_some(
            asio::buffer(buf_.data(), chunk),
            [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                if (ec) {
                    self->Close(ec == asio::error::eof ? "peer closed" : ec.message().c_str());
                    return;
                }
                self->throttled_ += n;
                self->OnBytes(n);
                self->Read();
            });
    }

    void OnBytes(std::size_t n) {
        std::span<const std::uint8_t> rest(buf_.data(), n);
        while (!rest.empty() && !closed_) {
            const auto step = decoder_.put(rest);
            rest = rest.subspan(step.consumed);
            if (step.result == wire::Decoder::Result::Message) {
                Handle();
            } else if (step.result == wire::Decoder::Result::Error) {
                // Garbage: skip to the next frame, as the decoder already did.
                sim_.log_.Line("%s bad frame: %s", Who().c_str(), decoder_.error().c_str());
            }
        }
    }

    void Handle() {
        const std::uint32_t txid = decoder_.txid();
        const auto payload = decoder_.payload();
        if (F().hang) {
            return;
        }
        switch (decoder_.type()) {
            case wire::MsgType::HelloReq: {
                wire::HelloRep rep{};
                rep.status = static_cast<std::uint32_t>(wire::Status::Ok);
                rep.info = sim_.Record(cam_);
                Reply(wire::EncodeFrame(wire::MsgType::HelloRep, txid, rep));
                return;
            }
            case wire::MsgType::TimeGetReq: {
                wire::TimeGetRep rep{};
                if (F().refuseClock) {
                    rep.status = static_cast<std::uint32_t>(wire::Status::Refused);
                    sim_.log_.Line("%s clock query refused", Who().c_str());
                } else {
                    rep.status = static_cast<std::uint32_t>(wire::Status::Ok);
                    rep.time =
                        ClockRecord(std::time(nullptr) + cam_.model.clockOffset, cam_.clockExtra);
                }
                Reply(wire::EncodeFrame(wire::MsgType::TimeGetRep, txid, rep));
                return;
            }
            case wire::MsgType::TimeSetReq: {
                auto req = wire::ParsePayload<tNetTimeSetup>(payload);
                wire::StatusRep rep{static_cast<std::uint32_t>(wire::Status::BadRequest)};
                if (req) {
                    if (auto off = OffsetOf(*req)) {
                        cam_.model.clockOffset = *off;
                        std::copy(req->ucReserved, req->ucReserved + 5, cam_.clockExtra.begin());
                        rep.status = static_cast<std::uint32_t>(wire::Status::Ok);
                        sim_.log_.Line("%s clock set to %04u-%02u-%02u %02u:%02u:%02u",
                                       Who().c_str(), req->usYear, req->ucMonth, req->ucDay,
                                       req->ucHour, req->ucMinute, req->ucSecond);
                    } else {
                        sim_.log_.Line("%s clock set refused: field out of range", Who().c_str());
                    }
                }
                Reply(wire::EncodeFrame(wire::MsgType::TimeSetRep, txid, rep));
                return;
            }
            case wire::MsgType::UpdateBegin:
                Begin(txid, payload);
                return;
            case wire::MsgType::UpdateData:
                Data(txid, payload);
                return;
            case wire::MsgType::UpdateEnd:
                End(txid, payload);
                return;
            case wire::MsgType::Bye:
                Close("bye");
                return;
            default: {
                wire::Nak nak{};
                nak.status = static_cast<std::uint32_t>(wire::Status::BadRequest);
                nak.rejectedType = decoder_.header().type;
                Reply(wire::EncodeFrame(wire::MsgType::Nak, txid, nak));
                return;
            }
        }
    }

    void Begin(std::uint32_t txid, std::span<const std::uint8_t> payload) {
        auto req = wire::ParsePayload<wire::UpdateBegin>(payload);
        auto ready = [&](wire::Status s) {
            Reply(wire::EncodeFrame(wire::MsgType::UpdateReady, txid,
                                    wire::StatusRep{static_cast<std::uint32_t>(s)}));
        };
        if (!req || update_) {
            ready(wire::Status::BadRequest);
            return;
        }
        const std::string raw = wire::TextField(req->name, sizeof req->name);
        const std::string name = SafeName(raw);
        if (name.empty()) {
            sim_.log_.Line("%s update refused: unusable file name '%s'", Who().c_str(),
                           raw.c_str());
            ready(wire::Status::BadRequest);
            return;
        }
        if (req->size > sim_.config_.maxFileSize) {
            sim_.log_.Line("%s update refused: %llu bytes, capacity %llu", Who().c_str(),
                           static_cast<unsigned long long>(req->size),
                           static_cast<unsigned long long>(sim_.config_.maxFileSize));
            ready(wire::Status::Refused);
            return;
        }
        if (cam_.updating) {
            ready(wire::Status::Busy);
            return;
        }
        std::error_code fec;
        fs::create_directories(cam_.dir, fec);
        auto u = std::make_unique<Update>();
        u->txid = txid;
        u->type = req->upgradeType;
        u->size = req->size;
        u->finalPath = (fs::path(cam_.dir) / name).string();
        u->partPath = (fs::path(cam_.dir) / (".part-" + std::to_string(id_) + "-" + name)).string();
        u->fd = ::open(u->partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (u->fd < 0) {
            sim_.log_.Line("%s update refused: cannot create %s", Who().c_str(),
                           u->partPath.c_str());
            ready(wire::Status::Internal);
            return;
        }
        cam_.updating = true;
        update_ = std::move(u);
        sim_.log_.Line("%s update begins: '%s', %llu bytes, type %u", Who().c_str(), name.c_str(),
                       static_cast<unsigned long long>(req->size), req->upgradeType);
        ready(wire::Status::Ok);
    }

    void Data(std::uint32_t txid, std::span<const std::uint8_t> payload) {
        if (!update_) {
            Fail(txid, wire::Status::BadRequest, "data outside an update");
            return;
        }
        Update& u = *update_;
        if (payload.size() > u.size - u.check.Received()) {
            Fail(txid, wire::Status::BadRequest, "more data than announced");
            return;
        }
        std::size_t take = payload.size();
        bool drop = false;
        if (F().dropAfter >= 0) {
            const auto limit = static_cast<std::uint64_t>(F().dropAfter);
            if (u.check.Received() + take >= limit) {
                take = static_cast<std::size_t>(limit - std::min(limit, u.check.Received()));
                drop = true;
            }
        }
        u.check.Feed(payload.data(), take);
        // Straight from the frame to the file: pieces are large, a stdio buffer only copies.
        for (std::size_t done = 0; done < take && !u.writeFailed;) {
            const ssize_t w = ::write(u.fd, payload.data() + done, take - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
            } else if (w < 0 && errno != EINTR) {
                u.writeFailed = true;
            }
        }
        if (drop) {
            Close("link dropped on purpose");
        }
    }

    void End(std::uint32_t txid, std::span<const std::uint8_t> payload) {
        auto req = wire::ParsePayload<wire::UpdateEnd>(payload);
        if (!update_ || !req) {
            Fail(txid, wire::Status::BadRequest, "end outside an update");
            return;
        }
        std::unique_ptr<Update> u = std::move(update_);
        cam_.updating = false;
        const bool closedOk = ::close(u->fd) == 0;
        u->fd = -1;
        wire::UpdateResult res{};
        res.received = u->check.Received();
        const wire::Digest md5 = u->check.Md5();
        std::copy(md5.begin(), md5.end(), res.md5);
        wire::Digest theirs{};
        std::copy(req->md5, req->md5 + 16, theirs.begin());
        std::string why;
        wire::Status status = wire::Status::Ok;
        if (u->writeFailed || !closedOk) {
            status = wire::Status::Internal;
            why = "cannot write " + u->partPath;
        } else if (res.received != u->size) {
            status = wire::Status::VerifyFailed;
            why = "size mismatch: expected " + std::to_string(u->size) + ", got " +
                  std::to_string(res.received);
        } else if (md5 != theirs) {
            status = wire::Status::VerifyFailed;
            why = "MD5 mismatch: expected " + wire::DigestHex(theirs) + ", got " +
                  wire::DigestHex(md5);
        } else if (auto p = u->check.PackProblem(); !p.empty()) {
            status = wire::Status::VerifyFailed;
            why = p;
        } else if (F().failVerify) {
            status = wire::Status::VerifyFailed;
            why = "verification fails on purpose";
        }
        std::error_code ec;
        if (status == wire::Status::Ok) {
            fs::rename(u->partPath, u->finalPath, ec);
            if (ec) {
                status = wire::Status::Internal;
                why = "cannot keep " + u->finalPath + ": " + ec.message();
            }
        }
        if (status != wire::Status::Ok) {
            fs::remove(u->partPath, ec);
            sim_.log_.Line("%s update rejected: %s", Who().c_str(), why.c_str());
        } else {
            sim_.log_.Line("%s update accepted: %s (%llu bytes, MD5 %s); flashing %u ms",
                           Who().c_str(), u->finalPath.c_str(),
                           static_cast<unsigned long long>(res.received),
                           wire::DigestHex(md5).c_str(), cam_.model.flashMs);
        }
        res.status = static_cast<std::uint32_t>(status);
        auto frame = wire::EncodeFrame(wire::MsgType::UpdateResult, txid, res);
        const std::uint32_t flash = status == wire::Status::Ok ? cam_.model.flashMs : 0;
        if (flash == 0) {
            Reply(std::move(frame));
            return;
        }
        auto timer =
            std::make_shared<asio::steady_timer>(sim_.io_, std::chrono::milliseconds(flash));
        timer->async_wait([self = shared_from_this(), timer,
                           frame = std::move(frame)](const asio::error_code& ec2) mutable {
            if (!ec2) {
                self->Reply(std::move(frame));
            }
        });
    }

    // An early result with a failure, then the session ends.
    void Fail(std::uint32_t txid, wire::Status status, const char* why) {
        sim_.log_.Line("%s update failed: %s", Who().c_str(), why);
        wire::UpdateResult res{};
        res.status = static_cast<std::uint32_t>(status);
        if (update_) {
            res.received = update_->check.Received();
        }
        AbortUpdate();
        Reply(wire::EncodeFrame(wire::MsgType::UpdateResult, txid, res), true);
    }

    void Reply(std::vector<std::uint8_t> frame, bool closeAfter = false) {
        if (F().malformed) {
            Spoil(frame);
        }
        const std::uint32_t delay = F().replyDelayMs;
        if (delay == 0) {
            Write(std::move(frame), closeAfter);
            return;
        }
        auto timer =
            std::make_shared<asio::steady_timer>(sim_.io_, std::chrono::milliseconds(delay));
        timer->async_wait([self = shared_from_this(), timer, closeAfter,
                           frame = std::move(frame)](const asio::error_code& ec) mutable {
            if (!ec) {
                self->Write(std::move(frame), closeAfter);
            }
        });
    }

    void Write(std::vector<std::uint8_t> frame, bool closeAfter) {
        if (closed_) {
            return;
        }
        queue_.push_back({std::move(frame), closeAfter});
        if (queue_.size() == 1) {
            WriteNext();
        }
    }

    void WriteNext() {
        asio::async_write(socket_, asio::buffer(queue_.front().bytes),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                              if (self->closed_) {
                                  return;
                              }
                              const bool closeAfter = self->queue_.front().closeAfter;
                              self->queue_.pop_front();
                              if (ec || closeAfter) {
                                  self->Close(ec ? ec.message().c_str() : "after failure");
                                  return;
                              }
                              if (!self->queue_.empty()) {
                                  self->WriteNext();
                              }
                          });
    }

    void AbortUpdate() {
        if (!update_) {
            return;
        }
        if (update_->fd >= 0) {
            ::close(update_->fd);
        }
        std::error_code ec;
        fs::remove(update_->partPath, ec);
        update_.reset();
        cam_.updating = false;
    }

    void Close(const char* why) {
        if (closed_) {
            return;
        }
        closed_ = true;
        if (update_) {
            sim_.log_.Line("%s update abandoned after %llu of %llu bytes", Who().c_str(),
                           static_cast<unsigned long long>(update_->check.Received()),
                           static_cast<unsigned long long>(update_->size));
        }
        AbortUpdate();
        sim_.log_.Line("%s session %llu ends: %s", Who().c_str(),
                       static_cast<unsigned long long>(id_), why);
        asio::error_code ec;
        socket_.shutdown(tcp::socket::shutdown_both, ec);
        socket_.close(ec);
    }

    struct Update {
        std::uint32_t txid = 0;
        std::uint16_t type = 0;
        std::uint64_t size = 0;
        std::string partPath;
        std::string finalPath;
        int fd = -1;
        bool writeFailed = false;
        ReceiveCheck check;
    };
    struct Outgoing {
        std::vector<std::uint8_t> bytes;
        bool closeAfter = false;
    };

    Simulator& sim_;
    Camera& cam_;
    tcp::socket socket_;
    std::uint64_t id_;
    std::vector<std::uint8_t> buf_;
    wire::Decoder decoder_;
    std::deque<Outgoing> queue_;
    std::unique_ptr<Update> update_;
    bool closed_ = false;
    Clock::time_point throttleStart_;
    std::uint64_t throttled_ = 0;
};

// ------------------------------------------------------------------- Simulator

Simulator::Simulator(FleetSpec fleet, SimConfig config, Log& log)
    : config_(std::move(config)), log_(log) {
    rng_.seed(config_.seed != 0 ? config_.seed : std::random_device{}());
    for (std::size_t i = 0; i < fleet.cameras.size(); ++i) {
        auto cam = std::make_unique<Camera>();
        cam->index = i;
        cam->model = fleet.cameras[i];
        cam->ip = cam->model.ip;
        cam->mask = cam->model.mask;
        cam->gateway = cam->model.gateway;
        cam->dir = (fs::path(config_.filesDir) / MacDirName(cam->model.mac)).string();
        cams_.push_back(std::move(cam));
    }
}

Simulator::~Simulator() {
    io_.stop();
    asio::error_code ec;
    for (auto& cam : cams_) {
        if (cam->acceptor) {
            cam->acceptor->close(ec);
            cam->acceptor.reset();
        }
    }
    // Destroying io_ (declared after cams_) releases the sessions and timers
    // that pending handlers still hold, while the cameras are still there.
}

std::size_t Simulator::CameraCount() const {
    return cams_.size();
}

Ipv4 Simulator::CurrentIp(std::size_t index) const {
    std::lock_guard lock(ipMutex_);
    return cams_.at(index)->ip;
}

std::string Simulator::CameraDir(std::size_t index) const {
    return cams_.at(index)->dir;
}

std::uint32_t Simulator::Random(std::uint32_t below) {
    if (below <= 1) {
        return 0;
    }
    return std::uniform_int_distribution<std::uint32_t>(0, below - 1)(rng_);
}

tNetDeviceInfo Simulator::Record(const Camera& cam) const {
    tNetDeviceInfo r{};
    r.uiRecordVersion = 1;
    std::copy(cam.model.mac.begin(), cam.model.mac.end(), r.ucMac);
    wire::CopyText(r.szDevType, sizeof r.szDevType, cam.model.type);
    wire::CopyText(r.szSoftVersion, sizeof r.szSoftVersion, cam.model.sw);
    wire::CopyText(r.szHardVersion, sizeof r.szHardVersion, cam.model.hw);
    std::copy(cam.ip.begin(), cam.ip.end(), r.ucIp);
    std::copy(cam.mask.begin(), cam.mask.end(), r.ucMask);
    std::copy(cam.gateway.begin(), cam.gateway.end(), r.ucGateway);
    r.usCtrlPort = controlPort_;
    return r;
}

bool Simulator::OpenAcceptor(Camera& cam, const Ipv4& ip, std::string& error) {
    auto acc = std::make_unique<tcp::acceptor>(io_);
    asio::error_code ec;
    const tcp::endpoint ep(ToAsio(ip), controlPort_);
    acc->open(tcp::v4(), ec);
    if (!ec) {
        acc->set_option(tcp::acceptor::reuse_address(true), ec);
    }
    if (!ec) {
        acc->bind(ep, ec);
    }
    if (!ec) {
        acc->listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        error = "cannot listen on " + FormatIpv4(ip) + ":" + std::to_string(controlPort_) + ": " +
                ec.message();
        return false;
    }
    if (controlPort_ == 0) {
        controlPort_ = acc->local_endpoint().port();
    }
    if (cam.acceptor) {
        cam.acceptor->close(ec);
    }
    cam.acceptor = std::move(acc);
    Accept(cam);
    return true;
}

void Simulator::Accept(Camera& cam) {
    tcp::acceptor* acc = cam.acceptor.get();
    acc->async_accept([this, &cam, acc](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || cam.acceptor.get() != acc) {
            return;  // closed: the camera moved or the simulator stops
        }
        if (ec) {
            // Out of descriptors or the like: try again shortly rather than go deaf.
            log_.Line("%s accept failed: %s", FormatIpv4(cam.ip).c_str(), ec.message().c_str());
            auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
            timer->async_wait([this, &cam, acc, timer](const asio::error_code& tec) {
                if (!tec && cam.acceptor.get() == acc) {
                    Accept(cam);
                }
            });
            return;
        }
        asio::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Session>(*this, cam, std::move(socket), nextSessionId_++)->Start();
        if (cam.acceptor.get() == acc) {
            Accept(cam);
        }
    });
}

bool Simulator::Start(std::string& error) {
    if (cams_.empty()) {
        error = "no camera to simulate";
        return false;
    }
    if (config_.iface.empty()) {
        // Loopback mode: nothing may listen or answer outside 127.0.0.0/8.
        for (const auto& cam : cams_) {
            if (!IsLoopback(cam->ip)) {
                error = "camera address " + FormatIpv4(cam->ip) +
                        " is not on loopback; other addresses need --iface inside a network "
                        "namespace";
                return false;
            }
        }
        if (!IsLoopback(config_.discoveryAddress) && !config_.listenAddress) {
            error = "discovery address " + FormatIpv4(config_.discoveryAddress) +
                    " is not on loopback; use --iface inside a network namespace";
            return false;
        }
    } else {
        if (cams_.size() != 1) {
            error = "--iface plays exactly one camera (one per network namespace)";
            return false;
        }
        if (!InOwnNetworkNamespace()) {
            error = "--iface re-addresses " + config_.iface +
                    ": only inside a network namespace (see lab/netns-lab.sh)";
            return false;
        }
        ifindex_ = static_cast<int>(if_nametoindex(config_.iface.c_str()));
        if (ifindex_ == 0) {
            error = "no interface " + config_.iface;
            return false;
        }
        if (!Readdress(cams_[0]->ip, cams_[0]->mask, cams_[0]->gateway, error)) {
            return false;
        }
    }

    const Ipv4 listen = config_.listenAddress                  ? *config_.listenAddress
                        : IsLoopback(config_.discoveryAddress) ? config_.discoveryAddress
                                                               : Ipv4{0, 0, 0, 0};
    auto bindUdp = [&](udp::socket& s, std::uint16_t port, std::uint16_t& actual,
                       const char* what) {
        asio::error_code ec;
        s.open(udp::v4(), ec);
        if (!ec) {
            s.set_option(udp::socket::reuse_address(true), ec);
        }
        if (!ec) {
            s.bind(udp::endpoint(ToAsio(listen), port), ec);
        }
        if (ec) {
            error = std::string("cannot bind the ") + what + " socket to " + FormatIpv4(listen) +
                    ":" + std::to_string(port) + ": " + ec.message();
            return false;
        }
        s.set_option(asio::socket_base::receive_buffer_size(1 << 20), ec);
        actual = s.local_endpoint().port();
        return true;
    };
    if (!bindUdp(discovery_, config_.discoveryPort, discoveryPort_, "discovery") ||
        !bindUdp(ipset_, config_.ipsetPort, ipsetPort_, "IP change")) {
        return false;
    }
    asio::error_code ec;
    sender_.open(udp::v4(), ec);
    if (!ec) {
        sender_.set_option(asio::socket_base::broadcast(true), ec);
    }
    if (ec) {
        error = "cannot open the reply socket: " + ec.message();
        return false;
    }
    sender_.set_option(asio::socket_base::send_buffer_size(4 << 20), ec);
    sender_.non_blocking(true, ec);

    controlPort_ = config_.controlPort;
    for (auto& cam : cams_) {
        if (!cam->model.faults.refuseConnect && !OpenAcceptor(*cam, cam->ip, error)) {
            return false;
        }
    }
    if (controlPort_ == 0) {
        // Every camera refuses connections: still name a port nobody listens on.
        tcp::acceptor probe(io_, tcp::endpoint(ToAsio(cams_[0]->ip), 0));
        controlPort_ = probe.local_endpoint().port();
    }
    discoveryBuf_.resize(2048);
    ipsetBuf_.resize(2048);
    ReceiveDiscovery();
    ReceiveIpset();
    log_.Line("camsim: %zu cameras, discovery %s:%u, IP change port %u, control port %u%s%s",
              cams_.size(), FormatIpv4(listen).c_str(), discoveryPort_, ipsetPort_, controlPort_,
              config_.iface.empty() ? "" : ", interface ", config_.iface.c_str());
    return true;
}

void Simulator::Run() {
    io_.run();
}

void Simulator::Stop() {
    asio::post(io_, [this] { io_.stop(); });
}

void Simulator::ReceiveDiscovery() {
    discovery_.async_receive_from(
        asio::buffer(discoveryBuf_), discoveryFrom_,
        [this](const asio::error_code& ec, std::size_t n) {
            if (ec == asio::error::operation_aborted) {
                return;
            }
            if (!ec) {
                auto frame = wire::DecodeDatagram({discoveryBuf_.data(), n});
                if (frame && frame->type() == wire::MsgType::DiscoverReq) {
                    auto req = wire::ParsePayload<wire::DiscoverReq>(frame->payload);
                    OnDiscover(discoveryFrom_, frame->header.txid,
                               std::min<std::uint16_t>(req ? req->spreadMs : 0, 10000));
                }
            }
            ReceiveDiscovery();
        });
}

void Simulator::ReceiveIpset() {
    ipset_.async_receive_from(asio::buffer(ipsetBuf_), ipsetFrom_,
                              [this](const asio::error_code& ec, std::size_t n) {
                                  if (ec == asio::error::operation_aborted) {
                                      return;
                                  }
                                  if (!ec) {
                                      auto frame = wire::DecodeDatagram({ipsetBuf_.data(), n});
                                      if (frame && frame->type() == wire::MsgType::IpSetReq) {
                                          OnIpset(ipsetFrom_, frame->header.txid,
                                                  {frame->payload.begin(), frame->payload.end()});
                                      }
                                  }
                                  ReceiveIpset();
                              });
}

void Simulator::OnDiscover(const udp::endpoint& from, std::uint32_t txid, std::uint16_t spreadMs) {
    for (auto& cam : cams_) {
        const Faults& f = cam->model.faults;
        if (f.silent) {
            continue;
        }
        const int times = f.discoveryTwice ? 2 : 1;
        for (int t = 0; t < times; ++t) {
            auto frame = wire::EncodeFrame(wire::MsgType::DiscoverRep, txid, Record(*cam));
            if (f.malformed) {
                Spoil(frame);
            }
            SendUdp(cam->index, std::move(frame), from, Random(spreadMs) + f.replyDelayMs);
        }
    }
}

void Simulator::OnIpset(const udp::endpoint& from, std::uint32_t txid,
                        const std::vector<std::uint8_t>& payload) {
    auto req = wire::ParsePayload<wire::IpSetReq>(payload);
    if (!req) {
        return;
    }
    Mac mac{};
    std::copy(req->mac, req->mac + 6, mac.begin());
    auto it = std::find_if(cams_.begin(), cams_.end(),
                           [&](const auto& c) { return c->model.mac == mac; });
    if (it == cams_.end()) {
        return;  // another camera's request
    }
    Camera& cam = **it;
    Ipv4 ip{}, mask{}, gateway{};
    std::copy(req->ip, req->ip + 4, ip.begin());
    std::copy(req->mask, req->mask + 4, mask.begin());
    std::copy(req->gateway, req->gateway + 4, gateway.begin());
    const std::string who = FormatMac(mac) + " " + FormatIpv4(cam.ip);

    wire::Status status = wire::Status::Ok;
    std::string why;
    const std::uint32_t host = ToU32(ip) & ~ToU32(mask);
    if (cam.model.faults.refuseIpChange) {
        status = wire::Status::Refused;
        why = "refuses IP changes on purpose";
    } else if (ip == cam.ip && mask == cam.mask) {
        status = wire::Status::Ok;  // a repeated request
    } else if (!ContiguousMask(mask) || host == 0 || host == ~ToU32(mask)) {
        status = wire::Status::BadRequest;
        why = FormatIpv4(ip) + "/" + FormatIpv4(mask) + " is not a host address";
    } else if (config_.iface.empty() && !IsLoopback(ip)) {
        status = wire::Status::Refused;
        why = FormatIpv4(ip) + " is outside 127.0.0.0/8";
    } else if (std::any_of(cams_.begin(), cams_.end(),
                           [&](const auto& c) { return c.get() != &cam && c->ip == ip; })) {
        status = wire::Status::Refused;
        why = FormatIpv4(ip) + " belongs to another camera";
    } else {
        if (ToU32(gateway) == 0) {
            gateway = FromU32((ToU32(ip) & ToU32(mask)) | 1u);
        }
        if (!config_.iface.empty() && !Readdress(ip, mask, gateway, why)) {
            status = wire::Status::Internal;
        } else if (!cam.model.faults.refuseConnect && !OpenAcceptor(cam, ip, why)) {
            status = wire::Status::Refused;
        } else {
            std::lock_guard lock(ipMutex_);
            cam.ip = ip;
            cam.mask = mask;
            cam.gateway = gateway;
        }
    }
    if (status == wire::Status::Ok) {
        log_.Line("%s IP change to %s/%s accepted", who.c_str(), FormatIpv4(ip).c_str(),
                  FormatIpv4(mask).c_str());
    } else {
        log_.Line("%s IP change to %s refused: %s", who.c_str(), FormatIpv4(ip).c_str(),
                  why.c_str());
    }
    wire::IpSetRep rep{};
    std::copy(mac.begin(), mac.end(), rep.mac);
    rep.status = static_cast<std::uint32_t>(status);
    std::copy(cam.ip.begin(), cam.ip.end(), rep.ip);
    std::copy(cam.mask.begin(), cam.mask.end(), rep.mask);
    auto frame = wire::EncodeFrame(wire::MsgType::IpSetRep, txid, rep);
    if (cam.model.faults.malformed) {
        Spoil(frame);
    }
    SendUdp(cam.index, std::move(frame), from, cam.model.faults.replyDelayMs);
}

void Simulator::SendUdp(std::size_t cam, std::vector<std::uint8_t> frame, const udp::endpoint& to,
                        std::uint32_t delayMs) {
    if (delayMs == 0) {
        SendUdpNow(cam, frame, to);
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(delayMs));
    timer->async_wait([this, timer, cam, to, frame = std::move(frame)](const asio::error_code& ec) {
        if (!ec) {
            SendUdpNow(cam, frame, to);
        }
    });
}

// Sends from the camera's own address (IP_PKTINFO), so that each reply comes from
// the camera it speaks for although one socket sends them all.
void Simulator::SendUdpNow(std::size_t index, const std::vector<std::uint8_t>& frame,
                           const udp::endpoint& to) {
    const Camera& cam = *cams_[index];
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(to.port());
    dst.sin_addr.s_addr = htonl(to.address().to_v4().to_uint());

    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    in_pktinfo info{};
    info.ipi_ifindex = ifindex_;
    info.ipi_spec_dst.s_addr = htonl(ToU32(cam.ip));
    cmsghdr cm{};
    cm.cmsg_level = IPPROTO_IP;
    cm.cmsg_type = IP_PKTINFO;
    cm.cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    std::memcpy(control, &cm, sizeof cm);
    std::memcpy(control + CMSG_LEN(0), &info, sizeof info);

    iovec iov{};
    iov.iov_base = const_cast<std::uint8_t*>(frame.data());
    iov.iov_len = frame.size();
    msghdr msg{};
    msg.msg_name = &dst;
    msg.msg_namelen = sizeof dst;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (sendmsg(sender_.native_handle(), &msg, 0) >= 0) {
        return;
    }
    const int err = errno;
    if (err == ENETUNREACH || err == EHOSTUNREACH) {
        // No route back (the camera sits on another subnet now): broadcast on its link.
        const std::uint32_t bcast =
            ifindex_ != 0 ? 0xFFFFFFFFu : (ToU32(cam.ip) | ~ToU32(cam.mask));
        dst.sin_addr.s_addr = htonl(bcast);
        if (sendmsg(sender_.native_handle(), &msg, 0) >= 0) {
            return;
        }
    }
    log_.Line("%s reply to %s:%u not sent: %s", FormatIpv4(cam.ip).c_str(),
              to.address().to_string().c_str(), to.port(), std::strerror(err));
}

bool Simulator::Readdress(const Ipv4& ip, const Ipv4& mask, const Ipv4& gateway,
                          std::string& error) {
    (void)gateway;
    const std::string& dev = config_.iface;
    const std::string cidr = FormatIpv4(ip) + "/" + std::to_string(PrefixLength(mask));
    // The on-link default route lets the camera answer a PC on any subnet of the link.
    return RunIp({"addr", "flush", "dev", dev, "scope", "global"}, error) &&
           RunIp({"addr", "add", cidr, "dev", dev}, error) &&
           RunIp({"link", "set", dev, "up"}, error) &&
           RunIp({"route", "replace", "default", "dev", dev}, error);
}

}  // namespace camsim
