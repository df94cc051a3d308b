// Control sessions: accepting connections per camera, hello and clock requests,
// and the ordered, optionally delayed replies. The file update is in FileReceiver.cpp.
#include "ControlSession.h"

#include <algorithm>
#include <ctime>
#include <optional>

namespace camsim {

using asio::ip::tcp;

namespace {

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

}  // namespace

// -------------------------------------------------------------- accepting

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
            return;  // closed: the camera moved, reboots, or the simulator stops
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
        auto session = std::make_shared<Session>(*this, cam, std::move(socket), nextSessionId_++);
        std::erase_if(cam.sessions, [](const auto& w) { return w.expired(); });
        cam.sessions.push_back(session);
        session->Start();
        if (cam.acceptor.get() == acc) {
            Accept(cam);
        }
    });
}

// ------------------------------------------------------------------ Session

Simulator::Session::Session(Simulator& sim, Camera& cam, tcp::socket socket, std::uint64_t id)
    : sim_(sim), cam_(cam), socket_(std::move(socket)), id_(id), buf_(1024 * 1024) {
    throttleStart_ = Clock::now();
    // Frames that arrive whole are used in place: buf_ stays untouched until
    // every frame of a read has been handled.
    decoder_.setBorrow(true);
}

Simulator::Session::~Session() {
    AbortUpdate(false);
}

void Simulator::Session::Start() {
    asio::error_code ec;
    auto peer = socket_.remote_endpoint(ec);
    sim_.log_.Line("%s session %llu from %s:%u%s", Who().c_str(),
                   static_cast<unsigned long long>(id_), peer.address().to_string().c_str(),
                   peer.port(), cam_.model.faults.hang ? " (hangs)" : "");
    Read();
}

void Simulator::Session::Read() {
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

void Simulator::Session::ReadSome(std::size_t chunk) {
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

void Simulator::Session::OnBytes(std::size_t n) {
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

void Simulator::Session::Handle() {
    const std::uint32_t txid = decoder_.txid();
    const auto payload = decoder_.payload();
    if (F().hang || cam_.rebooting) {
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
                    sim_.log_.Line("%s clock set to %04u-%02u-%02u %02u:%02u:%02u", Who().c_str(),
                                   req->usYear, req->ucMonth, req->ucDay, req->ucHour,
                                   req->ucMinute, req->ucSecond);
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

void Simulator::Session::Reply(std::vector<std::uint8_t> frame, const char* closeWhy) {
    if (F().malformed) {
        Spoil(frame);
    }
    const std::uint32_t delay = F().replyDelayMs;
    if (delay == 0) {
        Write(std::move(frame), closeWhy);
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(sim_.io_, std::chrono::milliseconds(delay));
    timer->async_wait([self = shared_from_this(), timer, closeWhy,
                       frame = std::move(frame)](const asio::error_code& ec) mutable {
        if (!ec) {
            self->Write(std::move(frame), closeWhy);
        }
    });
}

void Simulator::Session::Write(std::vector<std::uint8_t> frame, const char* closeWhy) {
    if (closed_) {
        return;
    }
    queue_.push_back({std::move(frame), closeWhy});
    if (queue_.size() == 1) {
        WriteNext();
    }
}

void Simulator::Session::WriteNext() {
    asio::async_write(socket_, asio::buffer(queue_.front().bytes),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                          if (self->closed_) {
                              return;
                          }
                          const char* closeWhy = self->queue_.front().closeWhy;
                          self->queue_.pop_front();
                          if (ec || closeWhy != nullptr) {
                              self->Close(ec ? ec.message().c_str() : closeWhy);
                              return;
                          }
                          if (!self->queue_.empty()) {
                              self->WriteNext();
                          }
                      });
}

void Simulator::Session::Close(const char* why) {
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
    sim_.log_.Line("%s session %llu ends: %s", Who().c_str(), static_cast<unsigned long long>(id_),
                   why);
    asio::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
}

}  // namespace camsim
