#include "Session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "Acked.h"
#include "Log.h"
#include "platform/FileIo.h"
#include "wire/Addr.h"

namespace korvel {

using SteadyClock = std::chrono::steady_clock;

namespace {
// Pieces of the file per UPDATE_DATA frame: large enough that the header and the
// system calls cost nothing, small enough to keep memory low.
constexpr size_t kPiece = 256 * 1024;

// Digests of files, keyed by what changes whenever a file's content does. A
// batch sends one file to many cameras, several at once: the first transfer
// to ask starts the digest on a thread of its own, reading the file apart from
// any camera's pace, and every transfer of the batch shares it. A stale entry
// could only make a camera reject the file, never accept a wrong one: the
// camera checks its own digest of what it received.
struct FileKey {
    std::uint64_t device, index, size;
    std::int64_t modifiedNs, changedNs;
    bool operator==(const FileKey&) const = default;
};

FileKey KeyOf(const platform::FileInfo& st) {
    return {st.device, st.index, st.size, st.modifiedNs, st.changedNs};
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};

// The digest of the file at `path`, when it is still the file `key` names
// before and after the reading; nothing when it cannot be read or changed.
std::optional<wire::Digest> HashFile(FileKey key, std::string path) {
    try {
        std::unique_ptr<std::FILE, FileCloser> file(platform::OpenStream(path, "rb"));
        if (!file || !(KeyOf(platform::InfoOf(file.get())) == key)) {
            return std::nullopt;
        }
        wire::Md5 md5;
        std::vector<uint8_t> buf(1 << 20);
        uint64_t total = 0;
        for (size_t got; (got = std::fread(buf.data(), 1, buf.size(), file.get())) > 0;) {
            md5.update({buf.data(), got});
            total += got;
        }
        if (std::ferror(file.get()) != 0 || total != key.size ||
            !(KeyOf(platform::InfoOf(file.get())) == key)) {
            return std::nullopt;
        }
        return md5.finish();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

class DigestCache {
  public:
    using Result = std::shared_future<std::optional<wire::Digest>>;
    Result get(const FileKey& key, const std::string& path) {
        std::optional<Entry> dropped;  // destroyed after the lock: it may wait for its thread
        std::lock_guard lock(mutex_);
        for (const auto& [k, d] : entries_) {
            if (k == key) {
                return d;
            }
        }
        Result digest;
        try {
            digest = std::async(std::launch::async, HashFile, key, path).share();
        } catch (const std::system_error&) {
            // No thread to be had: computed by the first transfer that waits for it.
            digest = std::async(std::launch::deferred, HashFile, key, path).share();
        }
        if (entries_.size() >= 16) {
            dropped = std::move(entries_.front());
            entries_.erase(entries_.begin());
        }
        entries_.emplace_back(key, digest);
        return digest;
    }
    // A digest that could not be had is asked for again next time.
    void forget(const FileKey& key) {
        std::optional<Entry> dropped;
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == key) {
                dropped = std::move(*it);
                entries_.erase(it);
                return;
            }
        }
    }

  private:
    using Entry = std::pair<FileKey, Result>;
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

DigestCache& Digests() {
    static DigestCache* cache = new DigestCache;  // outlives every session
    return *cache;
}

}  // namespace

void Session::run(Duration timeout) {
    io_.restart();
    if (timeout > Duration::zero()) {
        io_.run_for(timeout);
    }
    if (!io_.stopped()) {
        countAcked();
        asio::error_code ignored;
        socket_.close(ignored);
        io_.restart();
        io_.run();
    }
}

void Session::abort() {
    aborted_ = true;
    // The socket belongs to the thread running the io_context: the close is
    // handed to it, and ends whatever it is waiting for.
    asio::post(io_, [this] {
        if (socket_.is_open()) {
            detail_.flags |= NET_DETAIL_ABORTED;
        }
        reset();
    });
}

void Session::reset() {
    if (!socket_.is_open()) {
        return;
    }
    countAcked();
    // A reset, not a close: a close would let the system deliver the rest of
    // an abandoned file, and a camera that got it whole would flash it.
    asio::error_code ignored;
    socket_.set_option(asio::socket_base::linger(true, 0), ignored);
    socket_.close(ignored);
}

void Session::countAcked() {
    if (!streaming_ || !socket_.is_open()) {
        return;
    }
    uint64_t onWire = 0;
    switch (AckedBytes(static_cast<std::uintptr_t>(socket_.native_handle()), written_, &onWire)) {
        case AckState::Gone:
            return;  // the last count stands
        case AckState::Unsupported:
            // Without the system's count, what was handed over may all have arrived.
            detail_.flags &= ~static_cast<uint32_t>(NET_DETAIL_ACK_COUNT);
            detail_.acked = detail_.sent;
            if (fileWireEnd_ != 0 && written_ >= fileWireEnd_) {
                detail_.flags |= NET_DETAIL_END_ACKED;
            }
            return;
        case AckState::Counted:
            break;
    }
    detail_.flags |= NET_DETAIL_ACK_COUNT;
    // Every UPDATE_DATA frame is a header and one piece, the last one shorter.
    const uint64_t into = onWire > fileWireStart_ ? onWire - fileWireStart_ : 0;
    const uint64_t frame = wire::kHeaderSize + pieceSize_;
    const uint64_t rest = into % frame;
    const uint64_t file =
        into / frame * pieceSize_ + (rest > wire::kHeaderSize ? rest - wire::kHeaderSize : 0);
    detail_.acked = std::min(file, detail_.sent);
    if (fileWireEnd_ != 0 && onWire >= fileWireEnd_) {
        detail_.flags |= NET_DETAIL_END_ACKED;
    }
}

int Session::fail(int code) {
    if (aborted_ && code != KORVEL_OK) {
        code = KORVEL_E_IO;
    }
    asio::error_code ignored;
    if (aborted_) {
        reset();
    }
    countAcked();
    socket_.close(ignored);
    decoder_.reset();
    inStart_ = inEnd_ = 0;
    held_ = -1;
    return code;
}

void Session::close() {
    if (socket_.is_open() && !aborted_) {
        // A courtesy; the camera copes without it.
        const auto bye = wire::EncodeFrame(wire::MsgType::Bye, ++txid_);
        asio::error_code ignored;
        socket_.non_blocking(true, ignored);
        socket_.send(asio::buffer(bye), 0, ignored);
    }
    fail(KORVEL_OK);
}

int Session::statusToCode(uint32_t status) {
    switch (static_cast<wire::Status>(status)) {
        case wire::Status::Ok:
            return KORVEL_OK;
        case wire::Status::BadRequest:
            return KORVEL_E_PROTOCOL;
        case wire::Status::VerifyFailed:
            return KORVEL_E_VERIFY;
        case wire::Status::Internal:
            return KORVEL_E_IO;
        case wire::Status::Refused:
        case wire::Status::Busy:
            break;
    }
    return KORVEL_E_REFUSED;
}

int Session::writeAll(const std::vector<asio::const_buffer>& buffers, Duration timeout) {
    // Each write may take `timeout` to make progress, so a slow but moving link
    // (a throttled camera) is not mistaken for a dead one.
    std::vector<asio::const_buffer> rest(buffers);
    size_t first = 0;
    while (first < rest.size()) {
        if (rest[first].size() == 0) {
            ++first;
            continue;
        }
        bool done = false;
        asio::error_code result;
        size_t wrote = 0;
        socket_.async_write_some(
            std::span<const asio::const_buffer>(rest.data() + first, rest.size() - first),
            [&](const asio::error_code& e, size_t n) {
                done = true;
                result = e;
                wrote = n;
            });
        run(timeout);
        if (!done || result == asio::error::operation_aborted) {
            return fail(KORVEL_E_TIMEOUT);
        }
        if (result) {
            return KORVEL_E_IO;  // the caller may still read what the camera said
        }
        written_ += wrote;
        for (size_t i = first; i < rest.size() && wrote > 0; ++i) {
            const size_t take = std::min(wrote, rest[i].size());
            rest[i] += take;
            wrote -= take;
        }
    }
    return KORVEL_OK;
}

void Session::tell(uint32_t stage, uint32_t attempt, uint32_t attempts) {
    detail_.stage = stage;
    if (progress_) {
        tNetProgress p{};
        p.uiStage = stage;
        p.uiAttempt = attempt;
        p.uiAttempts = attempts;
        p.ullDone = detail_.sent;
        p.ullTotal = detail_.size;
        progress_(p);
    }
}

bool Session::takeReason() {
    if (decoder_.type() != wire::MsgType::UpdateReason) {
        return false;
    }
    if (const auto why = wire::ParsePayload<wire::UpdateReason>(decoder_.payload())) {
        detail_.cameraReason = why->reason;
        detail_.reasonText = wire::TextField(why->text, sizeof(why->text));
        Logf("Korvel: camera %s explains its refusal: reason %u, \"%s\"", peer_.c_str(),
             why->reason, detail_.reasonText.c_str());
    }
    return true;
}

void Session::cameraSaid(uint32_t status) {
    detail_.cameraStatus = status;
    if (status == 0) {
        detail_.cameraReason = 0;
        detail_.reasonText.clear();
    }
}

void Session::skipUnknown() {
    if (!unknownLogged_) {
        unknownLogged_ = true;
        Logf("Korvel: camera %s sent a message of unknown type 0x%02X; skipped", peer_.c_str(),
             decoder_.header().type);
    }
}

bool Session::frameArrived() {
    for (;;) {
        if (inStart_ == inEnd_) {
            asio::error_code ec;
            if (socket_.available(ec) == 0 || ec) {
                return false;
            }
            socket_.non_blocking(true, ec);
            const size_t n = socket_.read_some(asio::buffer(inbuf_), ec);
            asio::error_code ignored;
            socket_.non_blocking(false, ignored);
            if (ec || n == 0) {
                return true;  // readFrame sees the closed or broken link itself
            }
            inStart_ = 0;
            inEnd_ = n;
        }
        const auto step = decoder_.put({inbuf_.data() + inStart_, inEnd_ - inStart_});
        inStart_ += step.consumed;
        if (step.result == wire::Decoder::Result::Message) {
            if (!wire::IsKnownType(decoder_.header().type)) {
                skipUnknown();
                continue;
            }
            if (takeReason()) {
                continue;
            }
            held_ = KORVEL_OK;
            return true;
        }
        if (step.result == wire::Decoder::Result::Error) {
            Logf("Korvel: malformed data from camera %s: %s", peer_.c_str(),
                 decoder_.error().c_str());
            held_ = KORVEL_E_PROTOCOL;
            return true;
        }
    }
}

int Session::readFrame(SteadyClock::time_point deadline) {
    if (held_ != -1) {
        const int rc = held_;
        held_ = -1;
        return rc == KORVEL_OK ? rc : fail(rc);
    }
    for (;;) {
        if (inStart_ < inEnd_) {
            const auto step = decoder_.put({inbuf_.data() + inStart_, inEnd_ - inStart_});
            inStart_ += step.consumed;
            if (step.result == wire::Decoder::Result::Message) {
                if (!wire::IsKnownType(decoder_.header().type)) {
                    skipUnknown();
                    continue;
                }
                if (takeReason()) {
                    continue;
                }
                return KORVEL_OK;
            }
            if (step.result == wire::Decoder::Result::Error) {
                Logf("Korvel: malformed data from camera %s: %s", peer_.c_str(),
                     decoder_.error().c_str());
                return fail(KORVEL_E_PROTOCOL);
            }
            continue;
        }
        const auto now = SteadyClock::now();
        if (now >= deadline || !socket_.is_open()) {
            return fail(socket_.is_open() ? KORVEL_E_TIMEOUT : KORVEL_E_NOT_CONNECTED);
        }
        bool done = false;
        asio::error_code result;
        size_t got = 0;
        socket_.async_read_some(asio::buffer(inbuf_), [&](const asio::error_code& e, size_t n) {
            done = true;
            result = e;
            got = n;
        });
        run(deadline - now);
        if (!done || result == asio::error::operation_aborted) {
            return fail(KORVEL_E_TIMEOUT);
        }
        if (result) {
            return fail(KORVEL_E_IO);
        }
        inStart_ = 0;
        inEnd_ = got;
    }
}

int Session::open(const std::string& ip, uint16_t port, Duration timeout) {
    close();
    if (aborted_) {
        return KORVEL_E_IO;
    }
    const auto deadline = SteadyClock::now() + timeout;
    asio::error_code ec;
    const auto addr = asio::ip::make_address_v4(ip, ec);
    if (ec) {
        return KORVEL_E_PARAM;
    }
    peer_ = ip + ":" + std::to_string(port);
    hello_ = {};
    helloKnown_ = false;
    written_ = 0;
    streaming_ = false;
    bool done = false;
    asio::error_code result;
    socket_.async_connect(asio::ip::tcp::endpoint(addr, port), [&](const asio::error_code& e) {
        done = true;
        result = e;
    });
    run(timeout);
    if (!done || result == asio::error::operation_aborted) {
        return fail(KORVEL_E_TIMEOUT);
    }
    if (result) {
        fail(KORVEL_OK);
        return KORVEL_E_CONNECT;
    }
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    tell(NET_STAGE_HELLO);

    const uint32_t tx = ++txid_;
    const auto hello = wire::EncodeFrame(wire::MsgType::HelloReq, tx);
    const auto left = deadline - SteadyClock::now();
    if (int rc = writeAll({asio::buffer(hello)}, left); rc != KORVEL_OK) {
        return fail(rc == KORVEL_E_TIMEOUT ? rc : KORVEL_E_CONNECT);
    }
    if (int rc = readFrame(deadline); rc != KORVEL_OK) {
        if (aborted_) {
            return KORVEL_E_IO;
        }
        return rc == KORVEL_E_TIMEOUT || rc == KORVEL_E_PROTOCOL ? rc : KORVEL_E_CONNECT;
    }
    if (decoder_.type() == wire::MsgType::Nak) {
        const auto nak = wire::ParsePayload<wire::Nak>(decoder_.payload());
        if (nak) {
            cameraSaid(nak->status);
        }
        return fail(nak ? statusToCode(nak->status) : KORVEL_E_PROTOCOL);
    }
    if (decoder_.type() != wire::MsgType::HelloRep || decoder_.txid() != tx) {
        Logf("Korvel: camera %s answered the hello with %s", peer_.c_str(),
             wire::TypeName(static_cast<uint8_t>(decoder_.type())));
        return fail(KORVEL_E_PROTOCOL);
    }
    const auto rep = wire::ParsePayload<wire::HelloRep>(decoder_.payload());
    if (!rep) {
        return fail(KORVEL_E_PROTOCOL);
    }
    if (rep->status != 0) {
        Logf("Korvel: camera %s refused the session: %s", peer_.c_str(),
             wire::StatusName(rep->status));
        cameraSaid(rep->status);
        return fail(statusToCode(rep->status));
    }
    hello_ = rep->info;
    helloKnown_ = true;
    return KORVEL_OK;
}

int Session::probe(const std::string& ip, uint16_t port, Duration timeout) {
    close();
    if (aborted_) {
        return KORVEL_E_IO;
    }
    asio::error_code ec;
    const auto addr = asio::ip::make_address_v4(ip, ec);
    if (ec) {
        return KORVEL_E_PARAM;
    }
    bool done = false;
    asio::error_code result;
    socket_.async_connect(asio::ip::tcp::endpoint(addr, port), [&](const asio::error_code& e) {
        done = true;
        result = e;
    });
    run(timeout);
    const int rc = !done || result == asio::error::operation_aborted ? KORVEL_E_TIMEOUT
                   : result                                          ? KORVEL_E_CONNECT
                                                                     : KORVEL_OK;
    fail(KORVEL_OK);  // closes without a BYE: no session was opened
    return aborted_ ? KORVEL_E_IO : rc;
}

int Session::request(wire::MsgType type, std::span<const uint8_t> payload, wire::MsgType replyType,
                     Duration timeout, std::vector<uint8_t>* reply) {
    if (!socket_.is_open()) {
        return KORVEL_E_NOT_CONNECTED;
    }
    const auto deadline = SteadyClock::now() + timeout;
    const uint32_t tx = ++txid_;
    const auto frame = wire::EncodeFrame(type, tx, payload);
    if (frame.empty()) {
        return KORVEL_E_PARAM;
    }
    if (int rc = writeAll({asio::buffer(frame)}, timeout); rc != KORVEL_OK) {
        return fail(rc);
    }
    if (int rc = readFrame(deadline); rc != KORVEL_OK) {
        return rc;
    }
    if (decoder_.txid() != tx) {
        Logf("Korvel: camera %s answered transaction %u, expected %u", peer_.c_str(),
             decoder_.txid(), tx);
        return fail(KORVEL_E_PROTOCOL);
    }
    if (decoder_.type() == wire::MsgType::Nak) {
        const auto nak = wire::ParsePayload<wire::Nak>(decoder_.payload());
        return nak ? statusToCode(nak->status) : fail(KORVEL_E_PROTOCOL);
    }
    if (decoder_.type() != replyType) {
        Logf("Korvel: camera %s answered %s with %s", peer_.c_str(),
             wire::TypeName(static_cast<uint8_t>(type)),
             wire::TypeName(static_cast<uint8_t>(decoder_.type())));
        return fail(KORVEL_E_PROTOCOL);
    }
    const auto p = decoder_.payload();
    reply->assign(p.begin(), p.end());
    return KORVEL_OK;
}

int Session::updateResult(const std::vector<uint8_t>& payload, const wire::Digest& sent,
                          uint64_t size) {
    const auto res = wire::ParsePayload<wire::UpdateResult>(payload);
    if (!res) {
        return fail(KORVEL_E_PROTOCOL);
    }
    wire::Digest got{};
    std::copy(std::begin(res->md5), std::end(res->md5), got.begin());
    cameraSaid(res->status);
    if (res->status == 0 && (res->received != size || got != sent)) {
        Logf(
            "Korvel: camera %s accepted a file it did not receive whole: expected %llu bytes "
            "MD5 %s, camera got %llu bytes MD5 %s",
            peer_.c_str(), static_cast<unsigned long long>(size), wire::DigestHex(sent).c_str(),
            static_cast<unsigned long long>(res->received), wire::DigestHex(got).c_str());
        return KORVEL_E_VERIFY;
    }
    if (res->status != 0) {
        Logf(
            "Korvel: camera %s rejected the file: %s; sent %llu bytes MD5 %s, camera got %llu "
            "bytes MD5 %s",
            peer_.c_str(), wire::StatusName(res->status), static_cast<unsigned long long>(size),
            wire::DigestHex(sent).c_str(), static_cast<unsigned long long>(res->received),
            wire::DigestHex(got).c_str());
    }
    return statusToCode(res->status);
}

int Session::fileUpdate(uint16_t upgradeType, const std::string& path, Duration timeout,
                        Duration verdictTimeout) {
    detail_.cameraStatus = 0;
    detail_.cameraReason = 0;
    detail_.reasonText.clear();
    detail_.sent = 0;
    detail_.size = 0;
    detail_.acked = 0;
    detail_.flags = 0;
    detail_.stage = NET_STAGE_NONE;
    streaming_ = false;
    fileWireEnd_ = 0;
    if (!socket_.is_open()) {
        return KORVEL_E_NOT_CONNECTED;
    }
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenStream(path, "rb"));
    const platform::FileInfo st = platform::InfoOf(file.get());
    if (!file || !st.Regular()) {
        Logf("Korvel: cannot read the update file \"%s\"", path.c_str());
        return KORVEL_E_IO;
    }
    const uint64_t size = st.size;
    detail_.size = size;
    const auto slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name.size() > 255) {
        Logf("Korvel: unusable update file name in \"%s\"", path.c_str());
        return KORVEL_E_PARAM;
    }

    wire::UpdateBegin begin{};
    begin.upgradeType = upgradeType;
    begin.size = size;
    wire::CopyText(begin.name, sizeof(begin.name), name);
    std::vector<uint8_t> reply;
    const uint32_t tx = txid_ + 1;
    {
        const auto deadline = SteadyClock::now() + timeout;
        const uint32_t sentTx = ++txid_;
        const auto frame = wire::EncodeFrame(wire::MsgType::UpdateBegin, sentTx, begin);
        if (int rc = writeAll({asio::buffer(frame)}, timeout); rc != KORVEL_OK) {
            return fail(rc);
        }
        if (int rc = readFrame(deadline); rc != KORVEL_OK) {
            return rc;
        }
        if (decoder_.txid() != tx) {
            return fail(KORVEL_E_PROTOCOL);
        }
        if (decoder_.type() == wire::MsgType::Nak) {
            const auto nak = wire::ParsePayload<wire::Nak>(decoder_.payload());
            if (nak) {
                cameraSaid(nak->status);
            }
            return nak ? statusToCode(nak->status) : fail(KORVEL_E_PROTOCOL);
        }
        if (decoder_.type() != wire::MsgType::UpdateReady) {
            return fail(KORVEL_E_PROTOCOL);
        }
        const auto ready = wire::ParsePayload<wire::StatusRep>(decoder_.payload());
        if (!ready) {
            return fail(KORVEL_E_PROTOCOL);
        }
        cameraSaid(ready->status);
        if (ready->status != 0) {
            Logf("Korvel: camera %s will not take \"%s\" (%llu bytes): %s", peer_.c_str(),
                 name.c_str(), static_cast<unsigned long long>(size),
                 wire::StatusName(ready->status));
            return statusToCode(ready->status);
        }
    }

    // Streams without waiting for any answer; the digest is the batch's, made
    // once beside the transfers.
    const FileKey key = KeyOf(st);
    const DigestCache::Result digestOf = Digests().get(key, path);
    const size_t pieceSize = static_cast<size_t>(std::min<uint64_t>(kPiece, size ? size : 1));
    std::vector<uint8_t> buffer(pieceSize);
    // For the log of an early verdict: the digest, when it is there yet.
    auto sentDigest = [&] {
        const bool ready = digestOf.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        return ready ? digestOf.get().value_or(wire::Digest{}) : wire::Digest{};
    };
    uint64_t sent = 0;
    fileWireStart_ = written_;
    pieceSize_ = pieceSize;
    streaming_ = true;
    tell(NET_STAGE_SENDING);
    auto earlyVerdict = [&](Duration wait) -> int {
        // The camera may stop the stream with a verdict of its own.
        if (int rc = readFrame(SteadyClock::now() + wait); rc != KORVEL_OK) {
            return rc == KORVEL_E_TIMEOUT ? KORVEL_E_IO : rc;
        }
        if (decoder_.type() != wire::MsgType::UpdateResult) {
            return fail(KORVEL_E_PROTOCOL);
        }
        const auto p = decoder_.payload();
        const int rc = updateResult({p.begin(), p.end()}, sentDigest(), size);
        fail(rc);
        return rc == KORVEL_OK ? KORVEL_E_PROTOCOL : rc;
    };
    while (sent < size) {
        const std::span<uint8_t> piece(buffer);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - sent));
        const size_t got = std::fread(piece.data(), 1, want, file.get());
        if (got == 0) {
            Logf("Korvel: \"%s\" ended after %llu of %llu bytes", path.c_str(),
                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(size));
            return fail(KORVEL_E_IO);
        }
        const auto head =
            wire::EncodeHeader(wire::MsgType::UpdateData, tx, static_cast<uint32_t>(got));
        const int rc = writeAll({asio::buffer(head), asio::buffer(piece.data(), got)}, timeout);
        if (rc == KORVEL_E_IO) {
            Logf("Korvel: link to camera %s broke after %llu of %llu bytes", peer_.c_str(),
                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(size));
            return earlyVerdict(std::min<Duration>(timeout, std::chrono::seconds(2)));
        }
        if (rc != KORVEL_OK) {
            Logf("Korvel: camera %s stopped reading after %llu of %llu bytes", peer_.c_str(),
                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(size));
            return rc;
        }
        sent += got;
        detail_.sent = sent;
        countAcked();
        tell(NET_STAGE_SENDING);
        if (frameArrived()) {
            return earlyVerdict(timeout);
        }
    }
    // A file that changed while it was sent is not vouched for.
    const bool same = KeyOf(platform::InfoOf(file.get())) == key;
    file.reset();
    const std::optional<wire::Digest> known = digestOf.get();
    if (!known || !same) {
        Digests().forget(key);
        Logf("Korvel: \"%s\" changed or could not be read again while it was sent", path.c_str());
        return fail(KORVEL_E_PARAM);  // the file is at fault, not the link
    }
    const wire::Digest digest = *known;
    wire::UpdateEnd end{};
    std::copy(digest.begin(), digest.end(), end.md5);
    const auto endFrame = wire::EncodeFrame(wire::MsgType::UpdateEnd, tx, end);
    if (int rc = writeAll({asio::buffer(endFrame)}, timeout); rc != KORVEL_OK) {
        return rc == KORVEL_E_IO ? earlyVerdict(std::chrono::seconds(2)) : rc;
    }
    fileWireEnd_ = written_;
    countAcked();
    tell(NET_STAGE_VERDICT);
    if (int rc = readFrame(SteadyClock::now() + verdictTimeout); rc != KORVEL_OK) {
        Logf("Korvel: no verdict from camera %s on \"%s\"", peer_.c_str(), name.c_str());
        return rc;
    }
    if (decoder_.txid() != tx || decoder_.type() != wire::MsgType::UpdateResult) {
        return fail(KORVEL_E_PROTOCOL);
    }
    const auto p = decoder_.payload();
    countAcked();
    streaming_ = false;  // the verdict came: the camera has had every byte
    detail_.acked = size;
    detail_.flags |= NET_DETAIL_END_ACKED;
    return updateResult({p.begin(), p.end()}, digest, size);
}

}  // namespace korvel
