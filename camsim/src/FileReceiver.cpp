// The file receiver: a file update from UPDATE_BEGIN to the verdict, the checks
// a camera makes on what it received, and the version it reports afterwards.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ControlSession.h"
#include "pack/UpdataFileCheck.h"
#include "wire/Addr.h"

namespace camsim {

namespace fs = std::filesystem;

namespace {

// Room for the software version in the device record, less its terminator.
constexpr std::size_t kMaxSw = 131;

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

// Digits at `at`: at most nine, at least one. Moves `at` past them.
bool ReadNumber(const std::string& text, std::size_t& at, unsigned& value) {
    std::size_t n = 0;
    value = 0;
    while (at < text.size() && n < 10 && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
        ++n;
    }
    return n >= 1 && n <= 9;
}

// The first "_V<major>.<minor>" of a name, as "<major>.<minor>"; empty when none.
std::string VersionTag(const std::string& name) {
    for (std::size_t at = name.find("_V"); at != std::string::npos; at = name.find("_V", at + 1)) {
        std::size_t p = at + 2;
        unsigned major = 0;
        unsigned minor = 0;
        if (ReadNumber(name, p, major) && p < name.size() && name[p] == '.' &&
            ReadNumber(name, ++p, minor)) {
            return std::to_string(major) + "." + std::to_string(minor);
        }
    }
    return {};
}

// The tool's version key: the text before the first '_', then before its last '.'.
std::string VersionKey(const std::string& sw) {
    const auto underscore = sw.find('_');
    if (underscore == std::string::npos) {
        return {};
    }
    const std::string head = sw.substr(0, underscore);
    const auto dot = head.rfind('.');
    return dot == std::string::npos ? std::string() : head.substr(0, dot);
}

}  // namespace

// ------------------------------------------------------------- ReceiveCheck

void ReceiveCheck::Feed(const std::uint8_t* data, std::size_t size) {
    md5_.update({data, size});
    std::uint64_t off = offset_;
    std::size_t i = 0;
    // The pack header: its first bytes say whether the file is a pack at all.
    while (i < size && off < headBytes_.size()) {
        headBytes_[static_cast<std::size_t>(off)] = data[i];
        ++i;
        ++off;
        if (off == headBytes_.size()) {
            std::memcpy(&head_, headBytes_.data(), sizeof head_);
            isPack_ = head_.uiPackMagic == PACK_MAGIC_SINGLE ||
                      head_.uiPackMagic == PACK_MAGIC_MULTI ||
                      head_.uiPackMagic == PACK_MAGIC_BUNDLE;
            if (isPack_) {
                if (head_.uifileNum < 1 || head_.uifileNum > PACK_MAX_FILES || head_.PackType > 1) {
                    badHeader_ = true;
                } else {
                    digestAt_ = sizeof(tPackHead) + sizeof(tPackFileInfo) * head_.uifileNum +
                                std::uint64_t{head_.uiDataLen};
                    packMd5_.update(headBytes_);
                }
            }
        }
    }
    if (isPack_ && digestAt_ != 0) {
        // The file table is digested and kept, entry by entry (at most 99 of them).
        const std::uint64_t tableEnd = sizeof(tPackHead) + sizeof(tPackFileInfo) * head_.uifileNum;
        while (i < size && off < tableEnd) {
            const std::size_t within =
                static_cast<std::size_t>((off - sizeof(tPackHead)) % sizeof(tPackFileInfo));
            const std::size_t n = std::min(size - i, entryBytes_.size() - within);
            std::memcpy(entryBytes_.data() + within, data + i, n);
            packMd5_.update({data + i, n});
            i += n;
            off += n;
            if (within + n == entryBytes_.size()) {
                tPackFileInfo entry{};
                std::memcpy(&entry, entryBytes_.data(), sizeof entry);
                entries_.push_back(entry);
            }
        }
        // Bytes up to the digest are digested; the 16 after it are the stored digest.
        if (off < digestAt_ && i < size) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(size - i, digestAt_ - off));
            packMd5_.update({data + i, n});
            i += n;
            off += n;
        }
        if (off == digestAt_ && !haveComputed_) {
            computed_ = packMd5_.finish();
            haveComputed_ = true;
        }
        while (i < size && off >= digestAt_ && off < digestAt_ + PACK_DIGEST_LEN) {
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
    if (!haveComputed_ || storedHave_ < PACK_DIGEST_LEN) {
        return "pack is shorter than its header says (" + std::to_string(offset_) + " bytes, " +
               std::to_string(digestAt_ + PACK_DIGEST_LEN) + " expected)";
    }
    if (computed_ != stored_) {
        return "pack digest mismatch: expected " + wire::DigestHex(stored_) + ", got " +
               wire::DigestHex(computed_);
    }
    return {};
}

// ---------------------------------------------------------- what it accepts

bool IsAppEntry(const tPackFileInfo& entry) {
    return entry.ucFileType == PACK_FILE_APP || entry.ucFileType == PACK_FILE_BIN;
}

std::string HardwareMismatch(const ReceiveCheck& check, const std::string& hw) {
    if (!check.IsPack() || check.PackMagic() != PACK_MAGIC_SINGLE || !check.PackProblem().empty()) {
        return {};
    }
    // The tool's own rule, so that the camera and the tool agree on every name;
    // an image named for no hardware code is made for every hardware version.
    CUpdataFileCheck rule;
    for (const tPackFileInfo& e : check.Entries()) {
        const std::string name = PackEntryName(e);
        if (IsAppEntry(e) && !rule.HardwareCode(name).empty() && !rule.MatchHardVersion(name, hw)) {
            return "application entry '" + EscapeText(name) + "' (type " +
                   std::to_string(e.ucFileType) + ") is for another hardware code than '" +
                   EscapeText(hw) + "'";
        }
    }
    return {};
}

std::string VersionSource(const ReceiveCheck& check, const std::string& fileName) {
    if (!check.IsPack() || !check.PackProblem().empty()) {
        return fileName;
    }
    for (const tPackFileInfo& e : check.Entries()) {
        if (IsAppEntry(e)) {
            return PackEntryName(e);
        }
    }
    return {};
}

std::string NewSoftwareVersion(const std::string& oldSw, const std::string& source,
                               const wire::Digest& md5) {
    std::size_t letters = 0;
    while (letters < oldSw.size() &&
           std::isalpha(static_cast<unsigned char>(oldSw[letters])) != 0) {
        ++letters;
    }
    std::string numbers = VersionTag(source);
    if (numbers.empty()) {
        const std::string key = VersionKey(oldSw);
        numbers = key.size() > letters ? key.substr(letters) : std::string();
    }
    if (numbers.empty()) {
        numbers = "0.0";
    }
    std::string hex = wire::DigestHex(md5).substr(0, 8);
    for (char& c : hex) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string sw = oldSw.substr(0, letters) + numbers + ".0_" + hex;
    if (sw.size() > kMaxSw) {
        sw.resize(kMaxSw);
    }
    return sw;
}

std::string EscapeText(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

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
    cam_.updating = true;
    update_ = std::move(u);
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

void Simulator::Session::End(std::uint32_t txid, std::span<const std::uint8_t> payload) {
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
    auto finish = [self = shared_from_this(), name = u->name, newSw,
                   frame = std::move(frame)]() mutable {
        // The reboot (or the new version) starts before the verdict leaves, so
        // that whoever reads the verdict finds the camera rebooting already.
        self->sim_.Verdict(self->cam_, true, name, newSw, self.get());
        self->Reply(std::move(frame), self->cam_.model.rebootMs > 0 ? "camera reboots" : nullptr);
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

void Simulator::Session::AbortUpdate() {
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

}  // namespace camsim
