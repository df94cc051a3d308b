#include "DeviceJobs.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "FixedText.h"
#include "pack/PackInfo.h"

namespace engine {
namespace {

constexpr int kFailedCall = -1;

// The camera's clock fields take the PC's local time; the camera's own bytes
// after the second go back as they came.
void CopyPcTime(const platform::LocalTime& now, tNetTimeSetup& time) {
    time.usYear = static_cast<uint16_t>(now.year);
    time.ucMonth = static_cast<uint8_t>(now.month);
    time.ucDay = static_cast<uint8_t>(now.day);
    time.ucHour = static_cast<uint8_t>(now.hour);
    time.ucMinute = static_cast<uint8_t>(now.minute);
    time.ucSecond = static_cast<uint8_t>(now.second);
}

void SyncClock(const NetApi& net, const platform::Clock& clock, int handle) {
    if (net.QueryTimeSetup == nullptr) {
        return;
    }
    tNetTimeSetup time{};
    if (net.QueryTimeSetup(handle, &time) != 0) {
        return;  // a camera that will not tell its clock keeps it
    }
    CopyPcTime(clock ? clock() : platform::Now(), time);
    if (net.TimeSetup != nullptr) {
        (void)net.TimeSetup(handle, &time);  // a failed clock set never fails the upgrade
    }
}

using SteadyClock = std::chrono::steady_clock;

int64_t MsSince(SteadyClock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - from).count();
}

template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string MacText(const uint8_t (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

// Tells the live state, the sending percentage no more than a few times a second.
class LiveTeller {
  public:
    LiveTeller(const LiveFn& live, const DeviceTask& task) : live_(live) {
        state_.ip = FieldText(task.ip);
        state_.mac = FieldText(task.aux);
    }
    void Tell(LiveStage stage, int attempt = 0, int attempts = 0, int percent = -1) {
        if (!live_) {
            return;
        }
        const auto now = SteadyClock::now();
        if (stage == state_.stage && attempt == state_.attempt && percent == state_.percent) {
            return;
        }
        if (stage == LiveStage::Sending && state_.stage == LiveStage::Sending &&
            now - last_ < std::chrono::milliseconds(250) && percent < 100) {
            return;
        }
        state_.stage = stage;
        state_.attempt = attempt;
        state_.attempts = attempts;
        state_.percent = percent;
        last_ = now;
        live_(state_);
    }

  private:
    const LiveFn& live_;
    LiveState state_;
    SteadyClock::time_point last_{};
};

struct ProgressContext {
    LiveTeller* teller = nullptr;
    uint64_t sent = 0;
    uint64_t total = 0;
    uint32_t stage = NET_STAGE_NONE;
    int attempt = 0;
};

void OnProgress(int /*handle*/, const tNetProgress* p, void* user) {
    if (p == nullptr || user == nullptr) {
        return;
    }
    auto& ctx = *static_cast<ProgressContext*>(user);
    ctx.stage = p->uiStage;
    switch (p->uiStage) {
        case NET_STAGE_CONNECTING:
        case NET_STAGE_HELLO:
            ctx.attempt = static_cast<int>(p->uiAttempt);
            ctx.teller->Tell(LiveStage::Connecting, static_cast<int>(p->uiAttempt),
                             static_cast<int>(p->uiAttempts));
            break;
        case NET_STAGE_SENDING: {
            ctx.sent = p->ullDone;
            ctx.total = p->ullTotal;
            const int percent =
                p->ullTotal == 0 ? 100 : static_cast<int>(p->ullDone * 100 / p->ullTotal);
            ctx.teller->Tell(LiveStage::Sending, 0, 0, percent);
            break;
        }
        case NET_STAGE_VERDICT:
            ctx.sent = p->ullDone;
            ctx.total = p->ullTotal;
            ctx.teller->Tell(LiveStage::AwaitingVerdict);
            break;
        default:
            break;
    }
}

// The camera's reason codes (docs/protocol.md, UPDATE_REASON) to ours.
ReasonCode FromCameraReason(uint32_t reason) {
    switch (reason) {
        case 1:
            return ReasonCode::RefusedSize;
        case 2:
            return ReasonCode::RefusedDigest;
        case 3:
            return ReasonCode::RefusedFile;
        case 4:
            return ReasonCode::RefusedHardware;
        case 5:
            return ReasonCode::RefusedWrite;
        case 6:
            return ReasonCode::RefusedBusy;
        case 7:
            return ReasonCode::RefusedSize;
        case 8:
            return ReasonCode::RefusedFile;
        default:
            return ReasonCode::Refused;
    }
}

int Percent(uint64_t done, uint64_t total) {
    if (total == 0) {
        return 0;
    }
    return static_cast<int>(std::min<uint64_t>(done, total) * 100 / total);
}

// Why the connection failed, from the library's code.
void ConnectFailure(int code, const tNetCallDetail& detail, CameraOutcome& out) {
    out.result = OutcomeResult::Failed;
    switch (code) {
        case KORVEL_E_REFUSED:
            out.result = OutcomeResult::Refused;
            out.reason = ReasonCode::RefusedBusy;
            break;
        case KORVEL_E_PROTOCOL:
            out.reason = ReasonCode::Protocol;
            break;
        default:
            // A link that opened but brought no hello is another fault than silence.
            out.reason =
                detail.uiStage == NET_STAGE_HELLO ? ReasonCode::NoHello : ReasonCode::NoConnect;
            break;
    }
}

// Why the transfer failed, from the library's code and what it saw.
void SendFailure(int code, const tNetCallDetail& detail, const ProgressContext& ctx,
                 CameraOutcome& out) {
    out.percent = Percent(out.bytesAcked, out.fileBytes);
    if (detail.uiCameraStatus != 0 || code == KORVEL_E_VERIFY || code == KORVEL_E_REFUSED) {
        out.result = OutcomeResult::Refused;
        out.reason = detail.uiCameraReason != 0   ? FromCameraReason(detail.uiCameraReason)
                     : code == KORVEL_E_VERIFY    ? ReasonCode::RefusedFile
                     : detail.uiCameraStatus == 5 ? ReasonCode::RefusedWrite
                     : detail.uiCameraStatus == 4 ? ReasonCode::RefusedBusy
                                                  : ReasonCode::Refused;
        out.reasonText = FieldText(detail.szCameraReason);
        return;
    }
    out.result = OutcomeResult::Failed;
    // Abandoned after every byte arrived, before the verdict: whether it
    // flashes is the camera's. (A camera that drops the link itself may also
    // have had every byte acknowledged by its system, unread: not this case.)
    const uint32_t abandonedWhole = NET_DETAIL_ABORTED | NET_DETAIL_END_ACKED;
    if ((detail.uiFlags & abandonedWhole) == abandonedWhole) {
        out.reason = ReasonCode::MayHaveFile;
        return;
    }
    switch (code) {
        case KORVEL_E_IO:
            // Nothing went out and the link was never used: the file is at fault here.
            out.reason = detail.uiStage == NET_STAGE_NONE && out.bytesSent == 0 &&
                                 ctx.stage == NET_STAGE_NONE
                             ? ReasonCode::LocalFile
                             : ReasonCode::LinkDropped;
            break;
        case KORVEL_E_PARAM:
            out.reason = ReasonCode::LocalFile;
            break;
        case KORVEL_E_TIMEOUT:
            out.reason = detail.uiStage == NET_STAGE_VERDICT || ctx.stage == NET_STAGE_VERDICT
                             ? ReasonCode::Timeout
                             : ReasonCode::LinkDropped;
            break;
        case KORVEL_E_PROTOCOL:
            out.reason = ReasonCode::Protocol;
            break;
        default:
            out.reason = ReasonCode::LinkDropped;
            break;
    }
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Who answered the hello, when it is not the camera that was queued and
// judged: "<MAC>", or "<MAC> <type>" / "<MAC> <type> <hw>" when the MAC is the
// same but what it is differs. Empty when it is the one.
std::string Impostor(const tNetDeviceInfo& hello, const DeviceTask& task,
                     const TaskDispatcher::Expectation& expected) {
    const std::string mac = MacText(hello.ucMac);
    const std::string type = FieldText(hello.szDevType);
    const std::string hw = FieldText(hello.szHardVersion);
    if (!SameText(mac, FieldText(task.aux))) {
        return type.empty() ? mac : mac + " " + type;
    }
    if (!expected.type.empty() && type != expected.type) {
        return mac + " " + type;
    }
    if (!expected.hw.empty() && hw != expected.hw) {
        return mac + " " + type + " " + hw;
    }
    return {};
}

// A camera that does not take a TCP connection within the probe is not worth
// the specified attempts; one that takes it and then says nothing still gets them.
int Probe(const NetApi& net, const BatchFields& batch, int handle) {
    if (batch.probeMs <= 0 || net.ProbeCamera == nullptr) {
        return 0;
    }
    return net.ProbeCamera(handle, batch.probeMs);
}

}  // namespace

bool RunningSessions::Add(int handle) {
    std::lock_guard lock(mutex_);
    if (abandoned_) {
        return false;
    }
    handles_.insert(handle);
    return true;
}

void RunningSessions::Remove(int handle) {
    std::lock_guard lock(mutex_);
    handles_.erase(handle);
}

void RunningSessions::Abandon(const NetApi& net) {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    if (net.AbortCamera == nullptr) {
        return;
    }
    for (const int handle : handles_) {
        (void)net.AbortCamera(handle);
    }
}

void RunningSessions::Reset() {
    std::lock_guard lock(mutex_);
    abandoned_ = false;
    handles_.clear();
}

int RunUpgradeJob(const NetApi& net, const BatchFields& batch, const platform::Clock& clock,
                  DeviceTask& task, CameraOutcome& out, const LiveFn& live,
                  RunningSessions* sessions) {
    const auto started = SteadyClock::now();
    out.file = FieldText(task.path);
    LiveTeller teller(live, task);
    ProgressContext progress;
    progress.teller = &teller;
    auto finish = [&](int result) {
        out.totalMs = MsSince(started);
        if (result == 1 && out.reason != ReasonCode::AlreadyCurrent) {
            out.result = OutcomeResult::Succeeded;
            out.reason = ReasonCode::None;
        }
        return result;
    };
    if (batch.upgrade.UpgradeType == NET_UPGRADE_UNKNOWN) {
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::UnknownFileType;
        return finish(0);
    }
    const int handle = net.AddCamera != nullptr ? net.AddCamera(&task) : kFailedCall;
    if (handle == -1) {
        out.result = OutcomeResult::Failed;
        out.reason = net.AddCamera != nullptr ? ReasonCode::BadAddress : ReasonCode::NoLibrary;
        return finish(0);
    }
    if (net.SetProgressCallback != nullptr) {
        (void)net.SetProgressCallback(handle, &OnProgress, &progress);
    }
    auto detail = [&] {
        tNetCallDetail d{};
        if (net.GetCallDetail != nullptr) {
            (void)net.GetCallDetail(handle, &d);
        }
        return d;
    };
    int result = 1;
    teller.Tell(LiveStage::Connecting, 1, TaskDispatcher::kConnectAttempts);
    const auto connectStart = SteadyClock::now();
    const bool going = sessions == nullptr || sessions->Add(handle);
    const int probed = going ? Probe(net, batch, handle) : kFailedCall;
    const int connected = !going || probed != 0 ? kFailedCall
                          : net.ConnCamera != nullptr
                              ? net.ConnCamera(handle, TaskDispatcher::kConnectTimeoutMs,
                                               TaskDispatcher::kConnectAttempts)
                              : kFailedCall;
    out.connectMs = MsSince(connectStart);
    tNetCallDetail d = detail();
    out.attempts = static_cast<int>(d.uiAttempts);
    out.versionBefore = FieldText(d.szSoftVersion);
    // Who answered: an address is where a camera was at the search, not who
    // is there now. Nothing is sent, the clock included, to anyone else.
    tNetDeviceInfo hello{};
    std::string other;
    if (connected == 0 && net.GetHelloInfo != nullptr) {
        if (net.GetHelloInfo(handle, &hello) != 0) {
            other = "?";  // who answered cannot be told: not worth the risk
        } else {
            other = Impostor(hello, task, batch.expected);
            out.versionBefore = FieldText(hello.szSoftVersion);
        }
    }
    const std::string named =
        connected == 0 && other.empty() ? PackNamedVersion(FieldText(task.path)) : std::string();
    out.versionNamed = named;
    if (connected == 0 && !other.empty()) {
        result = 0;
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::OtherDevice;
        out.otherMac = other;
    } else if (batch.expected.checkVersion && !named.empty() &&
               SoftVersionKey(out.versionBefore) == named) {
        // Done before: a retried camera that took the file, or a re-run batch.
        out.result = OutcomeResult::Succeeded;
        out.reason = ReasonCode::AlreadyCurrent;
        out.versionAfter = out.versionBefore;
        out.verify = VerifyResult::NamedVersion;
    } else if (!batch.expected.allowOlder &&
               CompareVersionKeys(SoftVersionKey(out.versionBefore), named).value_or(0) > 0) {
        // Newer than the list said when the request was judged: not asked about.
        result = 0;
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::Newer;
    } else if (connected != 0) {
        result = 0;
        out.result = OutcomeResult::Failed;
        if (!going) {
            out.reason = ReasonCode::None;  // given up by a stop before it began
        } else if (probed != 0) {
            out.reason = ReasonCode::NoConnect;  // not even a bare connection
        } else if (net.ConnCamera == nullptr) {
            out.reason = ReasonCode::NoLibrary;
        } else {
            ConnectFailure(connected, d, out);
        }
    } else {
        if (batch.syncTime) {
            SyncClock(net, clock, handle);
        }
        tNetFileUpdate update = batch.upgrade;
        static_assert(sizeof(update.szFilePath) == sizeof(task.path));
        std::memcpy(update.szFilePath, task.path, sizeof(update.szFilePath));
        update.szFilePath[sizeof(update.szFilePath) - 1] = '\0';
        teller.Tell(LiveStage::Sending, 0, 0, 0);
        progress.stage = NET_STAGE_NONE;  // what the transfer reaches, not the connection
        const auto sendStart = SteadyClock::now();
        const int sent = net.FileUpdate != nullptr ? net.FileUpdate(handle, &update) : kFailedCall;
        out.sendMs = MsSince(sendStart);
        d = detail();
        out.fileBytes = d.ullSize != 0 ? d.ullSize : progress.total;
        out.bytesSent = std::max<uint64_t>(d.ullSent, progress.sent);
        // What the camera has is what its system acknowledged; a library that
        // does not tell leaves what was handed over.
        out.bytesAcked = (d.uiFlags & NET_DETAIL_ACK_COUNT) != 0 ? d.ullAcked : out.bytesSent;
        if (sent != 0) {
            result = 0;
            if (net.FileUpdate == nullptr) {
                out.result = OutcomeResult::Failed;
                out.reason = ReasonCode::NoLibrary;
            } else {
                SendFailure(sent, d, progress, out);
            }
        }
    }
    if (sessions != nullptr) {
        sessions->Remove(handle);
    }
    if (net.SetProgressCallback != nullptr) {
        (void)net.SetProgressCallback(handle, nullptr, nullptr);
    }
    if (net.DisConnCamera != nullptr) {
        (void)net.DisConnCamera(handle);
    }
    if (net.DelCamera != nullptr) {
        (void)net.DelCamera(handle);
    }
    return finish(result);
}

namespace {

struct SearchHit {
    std::string mac;
    bool found = false;
    tNetDeviceInfo info{};
};

void OnSearchHit(const tNetDeviceInfo* info, void* user) {
    auto& hit = *static_cast<SearchHit*>(user);
    if (info != nullptr && !hit.found && MacText(info->ucMac) == hit.mac) {
        hit.info = *info;
        hit.found = true;
    }
}

// One round of a check after a change: the camera looked for at `ip` by the
// directed probe, or by a search for `mac` every few rounds (or always without
// a probe). True when something answered; `info` is what it said. `bySearch`
// tells which way it was found.
bool LookFor(const NetApi& net, const VerifyTiming& timing, int round, const std::string& ip,
             const std::string& mac, tNetDeviceInfo* info, bool* bySearch) {
    *bySearch = net.ProbeDevice == nullptr ||
                (net.FindDevice != nullptr && round > 0 && timing.searchEveryRounds > 0 &&
                 round % timing.searchEveryRounds == 0);
    if (*bySearch) {
        SearchHit hit;
        hit.mac = mac;
        (void)net.FindDevice(&OnSearchHit, &hit);
        *info = hit.info;
        return hit.found;
    }
    return net.ProbeDevice(ip.c_str(), timing.probeTimeoutMs, info) == 0;
}

// The pause between two rounds, cut short by a stop; never past `deadline`.
void PauseRound(SteadyClock::time_point deadline, const std::atomic<bool>& checking,
                const VerifyTiming& timing) {
    const auto pauseEnd =
        std::min(deadline, SteadyClock::now() + std::chrono::milliseconds(timing.pauseMs));
    while (checking && SteadyClock::now() < pauseEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// A version that can be compared: something besides blanks, and no control
// characters (a field of garbage is no version).
bool Readable(const std::string& version) {
    bool seen = false;
    for (const char ch : version) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        seen = seen || c != ' ';
    }
    return seen;
}

}  // namespace

void VerifyAfterReboot(const NetApi& net, const BatchFields& batch, const DeviceTask& task,
                       CameraOutcome& out, const LiveFn& live, const std::atomic<bool>& checking,
                       const VerifyTiming& timing) {
    if (out.result != OutcomeResult::Succeeded || out.verify != VerifyResult::NotChecked ||
        batch.verifyTimeoutMs <= 0 || (net.ProbeDevice == nullptr && net.FindDevice == nullptr)) {
        return;
    }
    const auto started = SteadyClock::now();
    const auto deadline = started + std::chrono::milliseconds(batch.verifyTimeoutMs);
    const std::string ip = FieldText(task.ip);
    const std::string mac = FieldText(task.aux);
    out.versionNamed = PackNamedVersion(FieldText(task.path));
    LiveTeller teller(live, task);
    // Only for the live stage: an unanswered probe may be a lost datagram, so
    // it is never taken for the camera having gone away.
    bool seenGone = false;
    const bool beforeKnown = Readable(out.versionBefore);
    std::string lastOld;         // the old version, answered before the grace ran out
    bool answeredBlank = false;  // answered, but with no readable version
    std::string lastOther;
    std::string lastUnknown;  // a version while the old one is unknown, before the grace
    auto settle = [&](VerifyResult v) {
        out.verify = v;
        out.verifyMs = MsSince(started);
        out.totalMs += out.verifyMs;
    };
    auto settleNew = [&](const std::string& now) {
        out.versionAfter = now;
        if (out.versionNamed.empty()) {
            // Without a version before, nothing says this one is new.
            settle(beforeKnown ? VerifyResult::NewVersion : VerifyResult::NoVersion);
            return;
        }
        // The version key of the new version is what the tag names.
        std::string key = now.substr(0, now.find('_'));
        key = key.substr(0, key.find_last_of('.'));
        while (!key.empty() && std::isalpha(static_cast<unsigned char>(key[0]))) {
            key.erase(0, 1);
        }
        settle(key == out.versionNamed ? VerifyResult::NamedVersion : VerifyResult::OtherVersion);
    };
    for (int round = 0; checking; ++round) {
        teller.Tell(seenGone || round > 0 ? LiveStage::Rebooting : LiveStage::Checking);
        tNetDeviceInfo info{};
        bool bySearch = false;
        bool answered = LookFor(net, timing, round, ip, mac, &info, &bySearch);
        if (answered && MacText(info.ucMac) != mac) {
            lastOther = MacText(info.ucMac);  // someone else holds the address now
            answered = false;
        } else if (!answered) {
            seenGone = true;
        }
        if (answered) {
            teller.Tell(LiveStage::Checking);
            const std::string now = FieldText(info.szSoftVersion);
            // Until the grace has run out the camera may not have begun to
            // reboot: its old version, or any version when the old one is
            // unknown, may still be the one it had.
            const bool graceOver =
                SteadyClock::now() - started >= std::chrono::milliseconds(timing.unchangedGraceMs);
            if (!Readable(now)) {
                answeredBlank = true;
                if (graceOver) {
                    out.versionAfter = now;
                    settle(VerifyResult::NoVersion);
                    return;
                }
            } else if (beforeKnown && now == out.versionBefore) {
                lastOld = now;
                if (graceOver) {
                    out.versionAfter = now;
                    settle(VerifyResult::Unchanged);
                    return;
                }
            } else if (beforeKnown || graceOver) {
                settleNew(now);
                return;
            } else {
                lastUnknown = now;
            }
        }
        if (SteadyClock::now() >= deadline) {
            break;
        }
        PauseRound(deadline, checking, timing);
    }
    if (!checking) {
        settle(VerifyResult::Stopped);  // not a finding about the camera
        return;
    }
    // The whole wait is over: what the camera itself last said counts.
    if (!lastOld.empty()) {
        out.versionAfter = lastOld;
        settle(VerifyResult::Unchanged);
        return;
    }
    if (!lastUnknown.empty()) {
        settleNew(lastUnknown);
        return;
    }
    if (answeredBlank) {
        settle(VerifyResult::NoVersion);
        return;
    }
    if (!lastOther.empty()) {
        out.otherMac = lastOther;
        settle(VerifyResult::OtherDevice);
        return;
    }
    settle(VerifyResult::NotBack);
}

void VerifyAtNewAddress(const NetApi& net, const BatchFields& batch, const DeviceTask& task,
                        CameraOutcome& out, const std::atomic<bool>& checking,
                        const VerifyTiming& timing) {
    if (out.result != OutcomeResult::Succeeded || out.verify != VerifyResult::NotChecked ||
        batch.verifyTimeoutMs <= 0 || (net.ProbeDevice == nullptr && net.FindDevice == nullptr)) {
        return;
    }
    const auto started = SteadyClock::now();
    const auto deadline = started + std::chrono::milliseconds(batch.verifyTimeoutMs);
    const std::string ip = FieldText(task.ip);
    const std::string mac = FieldText(task.aux);
    std::string lastOther;
    auto settle = [&](VerifyResult v) {
        out.verify = v;
        out.verifyMs = MsSince(started);
        out.totalMs += out.verifyMs;
    };
    for (int round = 0; checking; ++round) {
        tNetDeviceInfo info{};
        bool bySearch = false;
        bool answered = LookFor(net, timing, round, ip, mac, &info, &bySearch);
        if (answered && bySearch) {
            char seen[16];
            std::snprintf(seen, sizeof(seen), "%u.%u.%u.%u", unsigned{info.ucIp[0]},
                          unsigned{info.ucIp[1]}, unsigned{info.ucIp[2]}, unsigned{info.ucIp[3]});
            // Found elsewhere is not found at the address it was given.
            answered = ip == seen;
        } else if (answered && MacText(info.ucMac) != mac) {
            lastOther = MacText(info.ucMac);
            answered = false;
        }
        if (answered) {
            out.addressSeen = ip;
            settle(VerifyResult::AtNewAddress);
            return;
        }
        if (SteadyClock::now() >= deadline) {
            break;
        }
        PauseRound(deadline, checking, timing);
    }
    if (!checking) {
        settle(VerifyResult::Stopped);
        return;
    }
    if (!lastOther.empty()) {
        out.otherMac = lastOther;
        settle(VerifyResult::OtherDevice);
        return;
    }
    settle(VerifyResult::NotAtNewAddress);
}

int RunModifyIpJob(const HelperApi& helper, DeviceTask& task, CameraOutcome& out,
                   const std::optional<TaskDispatcher::CameraAddress>& address) {
    const char* mask =
        !address || address->mask.empty() ? TaskDispatcher::kSubnetMask : address->mask.c_str();
    // A plan's camera keeps its gateway unless told one: only the new request can.
    const bool extended = address && helper.ModifyDevIpEx != nullptr;
    const bool gateway = address && !address->gateway.empty();
    if (!extended && (gateway || helper.ModifyDevIp == nullptr)) {
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::NoLibrary;
        return 0;
    }
    const bool ok =
        extended ? helper.ModifyDevIpEx(task.aux, task.ip, mask, address->gateway.c_str()) != 0
                 : helper.ModifyDevIp(task.aux, task.ip, mask) != 0;
    out.result = ok ? OutcomeResult::Succeeded : OutcomeResult::Failed;
    out.reason = ok ? ReasonCode::None : ReasonCode::NotTaken;
    return ok ? 1 : 0;
}

int RunRestoreIpJob(const HelperApi& helper, const std::string& defaultIp, DeviceTask& task,
                    CameraOutcome& out) {
    if (helper.ModifyDevIp == nullptr) {
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::NoLibrary;
        return 0;
    }
    if (helper.ModifyDevIp(task.aux, defaultIp.c_str(), TaskDispatcher::kSubnetMask) == 0) {
        out.result = OutcomeResult::Failed;
        out.reason = ReasonCode::NotTaken;
        return 0;  // the result keeps the address the camera still has
    }
    CopyFixedText(task.ip, defaultIp.c_str());
    out.result = OutcomeResult::Succeeded;
    return 1;
}

}  // namespace engine
