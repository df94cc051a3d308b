// The file receiver: a file update from UPDATE_BEGIN to the verdict. What the
// camera makes of the file is judged in FileJudge.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ControlSession.h"
#include "wire/Addr.h"

namespace camsim {

namespace fs = std::filesystem;

namespace {

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

// --------------------------------------------------------- the file update

void Simulator::Session::Begin(std::uint32_t txid, std::span<const std::uint8_t> payload) {
    auto req = wire::ParsePayload<wire::UpdateBegin>(payload);
    auto ready = [&](wire::Status s) {
        Reply(wire::EncodeFrame(wire::MsgType::UpdateReady, txid,
                                wire::StatusRep{static_cast<std::uint32_t>(s)}));
    };
    if (!req || update_) {
        Explain(txid, wire::Status::BadRequest, wire::UpdateReasonCode::Busy,
                "an update is in progress on this session");
        ready(wire::Status::BadRequest);
        return;
    }
    const std::string raw = wire::TextField(req->name, sizeof req->name);
    const std::string name = SafeName(raw);
    if (name.empty()) {
        sim_.log_.Line("%s update refused: unusable file name '%s'", Who().c_str(),
                       EscapeText(raw).c_str());
        Explain(txid, wire::Status::BadRequest, wire::UpdateReasonCode::BadName,
                "unusable file name");
        ready(wire::Status::BadRequest);
        return;
    }
    if (req->size > sim_.config_.maxFileSize) {
        sim_.log_.Line("%s update refused: %llu bytes, capacity %llu", Who().c_str(),
                       static_cast<unsigned long long>(req->size),
                       static_cast<unsigned long long>(sim_.config_.maxFileSize));
        Explain(txid, wire::Status::Refused, wire::UpdateReasonCode::TooLarge,
                std::to_string(req->size) + " bytes, capacity " +
                    std::to_string(sim_.config_.maxFileSize));
        ready(wire::Status::Refused);
        return;
    }
    if (cam_.updating) {
        Explain(txid, wire::Status::Busy, wire::UpdateReasonCode::Busy,
                "another update is in progress");
        ready(wire::Status::Busy);
        return;
    }
    std::error_code fec;
    fs::create_directories(cam_.dir, fec);
    auto u = std::make_unique<Update>();
    u->txid = txid;
    u->type = req->upgradeType;
    u->size = req->size;
    u->name = name;
    u->finalPath = (fs::path(cam_.dir) / name).string();
    u->partPath = (fs::path(cam_.dir) / (".part-" + std::to_string(id_) + "-" + name)).string();
    u->fd = ::open(u->partPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (u->fd < 0) {
        sim_.log_.Line("%s update refused: cannot create %s", Who().c_str(),
                       EscapeText(u->partPath).c_str());
        Explain(txid, wire::Status::Internal, wire::UpdateReasonCode::Write,
                "cannot create the file");
        ready(wire::Status::Internal);
        return;
    }
    {
        std::lock_guard lock(sim_.stateMutex_);
        cam_.updating = true;
        ++cam_.begun;
    }
    update_ = std::move(u);
    sim_.SaveState(cam_);
    sim_.log_.Line("%s update begins: '%s', %llu bytes, type %u", Who().c_str(),
                   EscapeText(name).c_str(), static_cast<unsigned long long>(req->size),
                   req->upgradeType);
    ready(wire::Status::Ok);
}

void Simulator::Session::Data(std::uint32_t txid, std::span<const std::uint8_t> payload) {
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
    if (F().dropAfter >= 0 || F().dropAtPercent >= 0) {
        // The nearer of the two limits; a share of the file rounds down.
        std::uint64_t limit = UINT64_MAX;
        if (F().dropAfter >= 0) {
            limit = static_cast<std::uint64_t>(F().dropAfter);
        }
        if (F().dropAtPercent >= 0) {
            limit = std::min(
                limit, u.size / 100 * static_cast<std::uint64_t>(F().dropAtPercent) +
                           u.size % 100 * static_cast<std::uint64_t>(F().dropAtPercent) / 100);
        }
        if (u.check.Received() + take >= limit) {
            take = static_cast<std::size_t>(limit - std::min(limit, u.check.Received()));
            drop = true;
        }
    }
    u.check.Feed(payload.data(), take);
    {
        std::lock_guard lock(sim_.stateMutex_);
        cam_.received += take;
    }
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

void Simulator::Session::End(std::uint32_t txid, std::span<const std::uint8_t> payload) {
    auto req = wire::ParsePayload<wire::UpdateEnd>(payload);
    if (!update_ || !req) {
        Fail(txid, wire::Status::BadRequest, "end outside an update");
        return;
    }
    std::unique_ptr<Update> u = std::move(update_);
    {
        std::lock_guard lock(sim_.stateMutex_);
        cam_.updating = false;
    }
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
    wire::UpdateReasonCode code = wire::UpdateReasonCode::None;
    if (u->writeFailed || !closedOk) {
        status = wire::Status::Internal;
        code = wire::UpdateReasonCode::Write;
        why = "cannot write " + u->partPath;
    } else if (res.received != u->size) {
        status = wire::Status::VerifyFailed;
        code = wire::UpdateReasonCode::SizeMismatch;
        why = "size mismatch: expected " + std::to_string(u->size) + ", got " +
              std::to_string(res.received);
    } else if (md5 != theirs) {
        status = wire::Status::VerifyFailed;
        code = wire::UpdateReasonCode::DigestMismatch;
        why = "MD5 mismatch: expected " + wire::DigestHex(theirs) + ", got " + wire::DigestHex(md5);
    } else if (auto p = u->check.PackProblem(); !p.empty()) {
        status = wire::Status::VerifyFailed;
        code = wire::UpdateReasonCode::BadPack;
        why = p;
    } else if (auto hw =
                   cam_.model.checkHw ? HardwareMismatch(u->check, cam_.model.hw) : std::string();
               !hw.empty()) {
        status = wire::Status::VerifyFailed;
        code = wire::UpdateReasonCode::Hardware;
        why = hw;
    } else if (F().failVerify) {
        status = wire::Status::VerifyFailed;
        code = wire::UpdateReasonCode::Rejected;
        why = "verification fails on purpose";
    }
    std::error_code ec;
    if (status == wire::Status::Ok) {
        fs::rename(u->partPath, u->finalPath, ec);
        if (ec) {
            status = wire::Status::Internal;
            code = wire::UpdateReasonCode::Write;
            why = "cannot keep " + u->finalPath + ": " + ec.message();
        }
    }
    res.status = static_cast<std::uint32_t>(status);
    auto frame = wire::EncodeFrame(wire::MsgType::UpdateResult, txid, res);
    if (status != wire::Status::Ok) {
        fs::remove(u->partPath, ec);
        sim_.log_.Line("%s update rejected: %s", Who().c_str(), EscapeText(why).c_str());
        // Counted before the verdict leaves: whoever reads it finds the count there.
        sim_.Verdict(cam_, false, u->name, {}, this);
        Explain(txid, status, code, why);
        Reply(std::move(frame));
        return;
    }
    // A camera whose flash did not take comes back as it was.
    const std::string newSw =
        F().keepVersion ? cam_.model.sw
                        : NewSoftwareVersion(cam_.model.sw, VersionSource(u->check, u->name), md5);
    sim_.log_.Line("%s update accepted: %s (%llu bytes, MD5 %s); flashing %u ms", Who().c_str(),
                   EscapeText(u->finalPath).c_str(), static_cast<unsigned long long>(res.received),
                   wire::DigestHex(md5).c_str(), cam_.model.flashMs);
    // The verdict comes once the file is flashed; the camera takes on its new
    // version then, or at the end of its reboot when it has a reboot time.
    {
        std::lock_guard lock(sim_.stateMutex_);
        ++cam_.flashing;
    }
    // A flash goes on to its verdict even when the tool has gone meanwhile.
    auto finish = [self = shared_from_this(), name = u->name, newSw,
                   frame = std::move(frame)]() mutable {
        {
            std::lock_guard lock(self->sim_.stateMutex_);
            --self->cam_.flashing;
        }
        // The reboot (or the new version) starts before the verdict leaves, so
        // that whoever reads the verdict finds the camera rebooting already.
        self->sim_.Verdict(self->cam_, true, name, newSw, self.get());
        self->Reply(std::move(frame), self->cam_.rebooting ? "camera reboots" : nullptr);
    };
    if (cam_.model.flashMs == 0) {
        finish();
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(
        sim_.io_, std::chrono::milliseconds(cam_.model.flashMs));
    timer->async_wait([timer, finish = std::move(finish)](const asio::error_code& ec2) mutable {
        if (!ec2) {
            finish();
        }
    });
}

void Simulator::Session::Fail(std::uint32_t txid, wire::Status status, const char* why) {
    sim_.log_.Line("%s update failed: %s", Who().c_str(), why);
    wire::UpdateResult res{};
    res.status = static_cast<std::uint32_t>(status);
    if (update_) {
        res.received = update_->check.Received();
    }
    AbortUpdate();
    Reply(wire::EncodeFrame(wire::MsgType::UpdateResult, txid, res), "after failure");
}

void Simulator::Session::Explain(std::uint32_t txid, wire::Status status,
                                 wire::UpdateReasonCode code, const std::string& why) {
    if (F().noReasons) {
        return;  // plays a camera that predates the reason message
    }
    wire::UpdateReason r{};
    r.status = static_cast<std::uint32_t>(status);
    r.reason = static_cast<std::uint32_t>(code);
    wire::CopyText(r.text, sizeof r.text, why);
    Reply(wire::EncodeFrame(wire::MsgType::UpdateReason, txid, r));
}

void Simulator::Session::AbortUpdate(bool save) {
    if (!update_) {
        return;
    }
    if (update_->fd >= 0) {
        ::close(update_->fd);
    }
    std::error_code ec;
    fs::remove(update_->partPath, ec);
    update_.reset();
    {
        std::lock_guard lock(sim_.stateMutex_);
        cam_.updating = false;
    }
    if (save) {
        sim_.SaveState(cam_);
    }
}

}  // namespace camsim
