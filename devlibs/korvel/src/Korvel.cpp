// The C entry points of the camera network library.

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Log.h"
#include "Session.h"
#include "korvel.h"
#include "platform/AppFolders.h"
#include "platform/Paths.h"
#include "wire/Addr.h"
#include "wire/Discovery.h"
#include "wire/NetConfig.h"

namespace {

// Arguments beyond these are taken as mistakes rather than waited out.
constexpr int kMaxTimeoutMs = 10 * 60 * 1000;
constexpr int kMaxAttempts = 100;
// Pause between connection attempts, so a refusing camera is not hammered.
constexpr int kRetryPauseMs = 100;

struct Camera {
    std::mutex mutex;  // one operation at a time on a handle
    std::string ip;
    korvel::Session session;
    std::chrono::milliseconds timeout{30000};
    NetProgressCallback progress = nullptr;
    void* progressUser = nullptr;
};

// Hands the session's progress to the handle's callback, when it has one.
void WireProgress(int handle, Camera& cam) {
    if (cam.progress == nullptr) {
        cam.session.setProgress({});
        return;
    }
    cam.session.setProgress([handle, fn = cam.progress, user = cam.progressUser](
                                const tNetProgress& p) { fn(handle, &p, user); });
}

struct State {
    std::mutex mutex;
    bool initialised = false;
    wire::NetConfig config;
    std::map<int, std::shared_ptr<Camera>> cameras;
    int nextHandle = 0;
    // Control ports the last searches reported, by IP text.
    std::map<std::string, uint16_t> ports;
    std::string initError;  // why the last Net_Init failed
    // The front end's adapter choice, over the configuration's `interface`.
    std::optional<std::string> adapterChoice;
    // The adapter each camera of the last search answered on, by MAC.
    std::map<wire::Mac, wire::AnsweredOn> answeredOn;
};

State& S() {
    static State* s = new State;  // never destroyed: callers may race process exit
    return *s;
}

// Moved on by Net_CancelScan; a scan ends when it differs from its value at
// the start. Lock-free, so that a stop request's thread may call it any time.
std::atomic<unsigned>& ScanEpoch() {
    static std::atomic<unsigned> epoch{0};
    return epoch;
}

std::shared_ptr<Camera> Find(int handle) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    const auto it = s.cameras.find(handle);
    return it == s.cameras.end() ? nullptr : it->second;
}

bool Initialised(wire::NetConfig* config = nullptr) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (config) {
        *config = s.config;
        if (s.adapterChoice) {
            config->adapter = *s.adapterChoice;
        }
    }
    return s.initialised;
}

std::string LogPathFor(const wire::LoadedNetConfig& loaded) {
    std::filesystem::path p = platform::FsPath(loaded.config.logFile);
    if (p.is_relative()) {
        p = platform::FsPath(loaded.logDir) / p;
    }
    return platform::Utf8Path(p);
}

// The control port the last search reported for this address, else the configured one.
uint16_t PortOf(const std::string& ip, uint16_t configured) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    const auto it = s.ports.find(ip);
    return it != s.ports.end() ? it->second : configured;
}

bool ValidTime(const tNetTimeSetup& t) {
    return t.ucMonth >= 1 && t.ucMonth <= 12 && t.ucDay >= 1 && t.ucDay <= 31 && t.ucHour <= 23 &&
           t.ucMinute <= 59 && t.ucSecond <= 59;
}

// One request and its status-bearing reply on a camera's session: KORVEL_OK with
// the reply in *out, or the code of whatever went wrong.
template <class Rep>
int Exchange(int handle, wire::MsgType type, std::span<const uint8_t> payload,
             wire::MsgType replyType, Rep* out) {
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    std::vector<uint8_t> reply;
    const int rc = cam->session.request(type, payload, replyType, cam->timeout, &reply);
    if (rc != KORVEL_OK) {
        return rc;
    }
    const auto rep = wire::ParsePayload<Rep>(reply);
    if (!rep) {
        return KORVEL_E_PROTOCOL;
    }
    if (rep->status != 0) {
        return korvel::Session::statusToCode(rep->status);
    }
    *out = *rep;
    return KORVEL_OK;
}

}  // namespace

extern "C" {

KORVEL_API int Net_Init(void) {
    std::string error;
    const platform::AppFolders folders = platform::CurrentFolders();
    if (!platform::MakeStateDir(folders, &error)) {
        korvel::LogLine("Korvel: " + error);
    }
    const auto loaded = wire::LoadNetConfigFrom(folders.configDirs, folders.stateDir, &error);
    if (!loaded) {
        korvel::LogLine("Korvel: " + error);
        State& s = S();
        std::lock_guard lock(s.mutex);
        s.initError = error;
        return KORVEL_E_PARAM;
    }
    korvel::SetLogPath(LogPathFor(*loaded));
    {
        State& s = S();
        std::lock_guard lock(s.mutex);
        s.config = loaded->config;
        s.initialised = true;
        s.initError.clear();
    }
    for (const auto& w : loaded->warnings) {
        korvel::LogLine("Korvel: " + loaded->path + " " + w);
    }
    korvel::Logf("Korvel: started; configuration %s, discovery to %s:%u, control port %u",
                 loaded->path.empty() ? "built in" : loaded->path.c_str(),
                 loaded->config.discoveryAddress.c_str(), loaded->config.discoveryPort,
                 loaded->config.controlPort);
    return KORVEL_OK;
}

KORVEL_API int Net_GetInitError(char* text, int size) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (text != nullptr && size > 0) {
        const size_t n = std::min(s.initError.size(), static_cast<size_t>(size) - 1);
        std::memcpy(text, s.initError.data(), n);
        text[n] = '\0';
    }
    return static_cast<int>(std::min<size_t>(s.initError.size(), INT_MAX));
}

KORVEL_API int Net_UNinit(void) {
    std::map<int, std::shared_ptr<Camera>> cameras;
    {
        State& s = S();
        std::lock_guard lock(s.mutex);
        if (!s.initialised) {
            return KORVEL_OK;
        }
        s.initialised = false;
        cameras.swap(s.cameras);
        s.ports.clear();
    }
    // Calls in progress end at once with an I/O error, so that closing the
    // tool never waits out a camera's time-outs; idle sessions are closed here.
    for (auto& [handle, cam] : cameras) {
        cam->session.abort();
    }
    for (auto& [handle, cam] : cameras) {
        std::unique_lock lock(cam->mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            cam->session.close();
        }
    }
    korvel::Logf("Korvel: stopped");
    korvel::CloseLog();
    return KORVEL_OK;
}

KORVEL_API int Net_FindDevice(NetFindDeviceCallback callback, void* user) {
    if (callback == nullptr) {
        return KORVEL_E_PARAM;
    }
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    std::map<std::string, uint16_t> found;
    std::map<wire::Mac, wire::AnsweredOn> heardOn;
    wire::DiscoveryStats stats;
    std::string error;
    const bool ok = wire::DiscoverOn(
        config,
        [&](const tNetDeviceInfo& info, const wire::AnsweredOn& on) {
            if (info.usCtrlPort != 0) {
                found[wire::FormatIpv4(info.ucIp)] = info.usCtrlPort;
            }
            if (on.address != 0) {
                wire::Mac mac{};
                std::copy(std::begin(info.ucMac), std::end(info.ucMac), mac.begin());
                heardOn[mac] = on;
            }
            callback(&info, user);
        },
        &stats, &error, wire::kMaxCamerasPerSearch,
        [] {
            korvel::Logf(
                "Korvel: search reached its limit of %d cameras; further answers are not kept",
                wire::kMaxCamerasPerSearch);
        });
    {
        State& s = S();
        std::lock_guard lock(s.mutex);
        s.answeredOn = std::move(heardOn);
        for (const auto& [ip, port] : found) {
            s.ports[ip] = port;
        }
    }
    if (!ok) {
        korvel::LogLine("Korvel: search failed: " + error);
        return KORVEL_E_IO;
    }
    korvel::Logf(
        "Korvel: search found %d cameras in %ld ms (%d probes, %d answers, %d "
        "repeated, %d dropped, %d past the limit)",
        stats.cameras, stats.elapsedMs, stats.probesSent, stats.datagrams, stats.duplicates,
        stats.dropped, stats.beyondLimit);
    if (!stats.adapters.empty()) {
        std::string on;
        for (const auto& a : stats.adapters) {
            on += (on.empty() ? "" : ", ") + a;
        }
        korvel::LogLine("Korvel: searched on " + on);
    }
    return KORVEL_OK;
}

KORVEL_API int Net_AddCamera(const void* camera) {
    if (camera == nullptr) {
        return -1;
    }
    const std::string ip = wire::TextField(static_cast<const char*>(camera), 32);
    if (!wire::ParseIpv4(ip)) {
        return -1;
    }
    auto cam = std::make_shared<Camera>();
    cam->ip = ip;
    State& s = S();
    std::lock_guard lock(s.mutex);
    // Handles are not reused while a camera holds one.
    for (int tries = 0; tries < INT_MAX; ++tries) {
        const int h = s.nextHandle;
        s.nextHandle = s.nextHandle == INT_MAX ? 0 : s.nextHandle + 1;
        if (!s.cameras.contains(h)) {
            s.cameras.emplace(h, std::move(cam));
            return h;
        }
    }
    return -1;
}

KORVEL_API int Net_ConnCamera(int handle, int timeout_ms, int attempts) {
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    if (timeout_ms <= 0 || timeout_ms > kMaxTimeoutMs || attempts > kMaxAttempts) {
        return KORVEL_E_PARAM;
    }
    attempts = attempts < 1 ? 1 : attempts;
    const uint16_t port = PortOf(cam->ip, config.controlPort);
    std::lock_guard lock(cam->mutex);
    cam->timeout = std::chrono::milliseconds(timeout_ms);
    WireProgress(handle, *cam);
    cam->session.detail() = {};
    int rc = KORVEL_E_CONNECT;
    for (int i = 0; i < attempts; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min(kRetryPauseMs, timeout_ms)));
        }
        cam->session.detail().attempts = static_cast<uint32_t>(i + 1);
        cam->session.tell(NET_STAGE_CONNECTING, static_cast<uint32_t>(i + 1),
                          static_cast<uint32_t>(attempts));
        rc = cam->session.open(cam->ip, port, cam->timeout);
        if (rc == KORVEL_OK || rc == KORVEL_E_REFUSED || rc == KORVEL_E_PARAM ||
            cam->session.aborted()) {
            break;
        }
    }
    if (rc != KORVEL_OK) {
        korvel::Logf("Korvel: no session with camera %s:%u after %d attempt(s) of %d ms: error %d",
                     cam->ip.c_str(), port, attempts, timeout_ms, rc);
    }
    return rc;
}

KORVEL_API int Net_ProbeCamera(int handle, int timeout_ms) {
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    if (timeout_ms <= 0 || timeout_ms > kMaxTimeoutMs) {
        return KORVEL_E_PARAM;
    }
    const uint16_t port = PortOf(cam->ip, config.controlPort);
    std::lock_guard lock(cam->mutex);
    const int rc = cam->session.probe(cam->ip, port, std::chrono::milliseconds(timeout_ms));
    if (rc != KORVEL_OK) {
        korvel::Logf("Korvel: camera %s:%u does not take a connection within %d ms: error %d",
                     cam->ip.c_str(), port, timeout_ms, rc);
    }
    return rc;
}

KORVEL_API int Net_AbortCamera(int handle) {
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    // Not under the camera's lock: the call to be cut holds it.
    cam->session.abort();
    korvel::Logf("Korvel: session with camera %s abandoned", cam->ip.c_str());
    return KORVEL_OK;
}

KORVEL_API int Net_QueryTimeSetup(int handle, tNetTimeSetup* time) {
    if (time == nullptr) {
        return KORVEL_E_PARAM;
    }
    wire::TimeGetRep rep{};
    const int rc = Exchange(handle, wire::MsgType::TimeGetReq, {}, wire::MsgType::TimeGetRep, &rep);
    if (rc == KORVEL_OK) {
        *time = rep.time;
    }
    return rc;
}

KORVEL_API int Net_TimeSetup(int handle, const tNetTimeSetup* time) {
    if (time == nullptr || !ValidTime(*time)) {
        return KORVEL_E_PARAM;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(time);
    wire::StatusRep rep{};
    return Exchange(handle, wire::MsgType::TimeSetReq, {bytes, sizeof(*time)},
                    wire::MsgType::TimeSetRep, &rep);
}

KORVEL_API int Net_FileUpdate(int handle, const tNetFileUpdate* update) {
    if (update == nullptr) {
        return KORVEL_E_PARAM;
    }
    const std::string path = wire::TextField(update->szFilePath, sizeof(update->szFilePath));
    if (path.empty() || update->UpgradeType > NET_UPGRADE_FS) {
        return KORVEL_E_PARAM;
    }
    wire::NetConfig config;
    Initialised(&config);
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    WireProgress(handle, *cam);
    const auto started = std::chrono::steady_clock::now();
    const int rc = cam->session.fileUpdate(update->UpgradeType, path, cam->timeout,
                                           std::chrono::milliseconds(config.updateResultTimeoutMs));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    korvel::Logf("Korvel: update of camera %s with \"%s\" (type %u) %s after %lld ms",
                 cam->ip.c_str(), path.c_str(), update->UpgradeType,
                 rc == KORVEL_OK ? "succeeded" : "failed", static_cast<long long>(ms));
    return rc;
}

KORVEL_API int Net_DisConnCamera(int handle) {
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    cam->session.close();
    return KORVEL_OK;
}

KORVEL_API int Net_DelCamera(int handle) {
    std::shared_ptr<Camera> cam;
    {
        State& s = S();
        std::lock_guard lock(s.mutex);
        const auto it = s.cameras.find(handle);
        if (it == s.cameras.end()) {
            return KORVEL_E_HANDLE;
        }
        cam = std::move(it->second);
        s.cameras.erase(it);
    }
    std::lock_guard lock(cam->mutex);
    cam->session.close();
    return KORVEL_OK;
}

KORVEL_API int Net_SetProgressCallback(int handle, NetProgressCallback callback, void* user) {
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    cam->progress = callback;
    cam->progressUser = callback != nullptr ? user : nullptr;
    WireProgress(handle, *cam);
    return KORVEL_OK;
}

KORVEL_API int Net_GetCallDetail(int handle, tNetCallDetail* detail) {
    if (detail == nullptr) {
        return KORVEL_E_PARAM;
    }
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    const korvel::Session::Detail& d = cam->session.detail();
    *detail = {};
    detail->uiStage = d.stage;
    detail->uiAttempts = d.attempts;
    detail->uiCameraStatus = d.cameraStatus;
    detail->uiCameraReason = d.cameraReason;
    detail->ullSent = d.sent;
    detail->ullSize = d.size;
    detail->ullAcked = d.acked;
    detail->uiFlags = d.flags;
    const size_t n = std::min(d.reasonText.size(), sizeof(detail->szCameraReason) - 1);
    std::memcpy(detail->szCameraReason, d.reasonText.data(), n);
    std::memcpy(detail->szSoftVersion, cam->session.helloInfo().szSoftVersion,
                sizeof(detail->szSoftVersion));
    detail->szSoftVersion[sizeof(detail->szSoftVersion) - 1] = '\0';
    return KORVEL_OK;
}

KORVEL_API int Net_GetHelloInfo(int handle, tNetDeviceInfo* info) {
    if (info == nullptr) {
        return KORVEL_E_PARAM;
    }
    const auto cam = Find(handle);
    if (!cam) {
        return KORVEL_E_HANDLE;
    }
    std::lock_guard lock(cam->mutex);
    if (!cam->session.helloKnown()) {
        return KORVEL_E_NOT_CONNECTED;
    }
    *info = cam->session.helloInfo();
    return KORVEL_OK;
}

KORVEL_API int Net_ProbeDevice(const char* ip, int timeout_ms, tNetDeviceInfo* info) {
    if (ip == nullptr || info == nullptr || timeout_ms < 1 || timeout_ms > 60000) {
        return KORVEL_E_PARAM;
    }
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    const std::string address = wire::TextField(ip, 32);
    if (!wire::ParseIpv4(address)) {
        return KORVEL_E_PARAM;
    }
    std::string error;
    const int rc = wire::ProbeOne(config, address, timeout_ms, info, &error);
    if (rc < 0) {
        korvel::LogLine("Korvel: probe of " + address + " failed: " + error);
        return KORVEL_E_IO;
    }
    return rc == 1 ? KORVEL_OK : KORVEL_E_TIMEOUT;
}

KORVEL_API int Net_GetVerifyTimeout(void) {
    wire::NetConfig config;
    Initialised(&config);
    return config.verifyTimeoutMs;
}

KORVEL_API int Net_GetSearchTarget(char* address, int size, int* ports) {
    if (address == nullptr || size <= 0 || ports == nullptr) {
        return KORVEL_E_PARAM;
    }
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    const size_t n = std::min(config.discoveryAddress.size(), static_cast<size_t>(size) - 1);
    std::memcpy(address, config.discoveryAddress.data(), n);
    address[n] = '\0';
    ports[0] = config.discoveryPort;
    ports[1] = config.controlPort;
    ports[2] = config.ipsetPort;
    return KORVEL_OK;
}

KORVEL_API int Net_SetInterface(const char* nameOrAddress) {
    std::optional<std::string> choice;
    if (!wire::ReadAdapterChoice(nameOrAddress, &choice)) {
        return KORVEL_E_PARAM;
    }
    State& s = S();
    std::lock_guard lock(s.mutex);
    s.adapterChoice = choice;
    return KORVEL_OK;
}

KORVEL_API int Net_GetAnsweredOn(const uint8_t* mac, tNetAdapterInfo* info) {
    if (mac == nullptr || info == nullptr) {
        return KORVEL_E_PARAM;
    }
    wire::Mac key{};
    std::copy(mac, mac + key.size(), key.begin());
    State& s = S();
    std::lock_guard lock(s.mutex);
    const auto it = s.answeredOn.find(key);
    if (it == s.answeredOn.end()) {
        return KORVEL_E_PARAM;
    }
    *info = {};
    const size_t n = std::min(it->second.name.size(), sizeof(info->szName) - 1);
    std::memcpy(info->szName, it->second.name.data(), n);
    const uint32_t a = it->second.address;
    info->ucAddress[0] = static_cast<uint8_t>(a >> 24);
    info->ucAddress[1] = static_cast<uint8_t>(a >> 16);
    info->ucAddress[2] = static_cast<uint8_t>(a >> 8);
    info->ucAddress[3] = static_cast<uint8_t>(a);
    info->ucPrefix = static_cast<uint8_t>(std::clamp(it->second.prefix, 0, 32));
    return KORVEL_OK;
}

KORVEL_API int Net_ScanDevice(const uint8_t (*addresses)[4], int count,
                              NetFindDeviceCallback callback, void* user) {
    if (addresses == nullptr || callback == nullptr || count < 1 || count > NET_SCAN_MAX) {
        return KORVEL_E_PARAM;
    }
    wire::NetConfig config;
    if (!Initialised(&config)) {
        return KORVEL_E_NOT_INIT;
    }
    std::vector<uint32_t> asked;
    asked.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t* a = addresses[i];
        asked.push_back((uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) | (uint32_t{a[2]} << 8) |
                        a[3]);
    }
    const unsigned epoch = ScanEpoch().load();
    std::map<std::string, uint16_t> found;
    std::map<wire::Mac, wire::AnsweredOn> heardOn;
    wire::ScanStats stats;
    std::string error;
    const bool ok = wire::Scan(
        config, asked,
        [&](const tNetDeviceInfo& info, const wire::AnsweredOn& on) {
            if (info.usCtrlPort != 0) {
                found[wire::FormatIpv4(info.ucIp)] = info.usCtrlPort;
            }
            if (on.address != 0) {
                wire::Mac mac{};
                std::copy(std::begin(info.ucMac), std::end(info.ucMac), mac.begin());
                heardOn[mac] = on;
            }
            callback(&info, user);
        },
        &stats, &error, [epoch] { return ScanEpoch().load() != epoch; });
    {
        // Beside the last search's cameras: the scan adds to its list.
        State& s = S();
        std::lock_guard lock(s.mutex);
        for (auto& [mac, on] : heardOn) {
            s.answeredOn.insert_or_assign(mac, std::move(on));
        }
        for (const auto& [ip, port] : found) {
            s.ports[ip] = port;
        }
    }
    if (!ok) {
        korvel::LogLine("Korvel: scan failed: " + error);
        return KORVEL_E_IO;
    }
    korvel::Logf(
        "Korvel: scan of %d addresses found %d cameras in %ld ms (%d probes, %d not sent, %d "
        "answers, %d dropped)%s",
        stats.asked, stats.cameras, stats.elapsedMs, stats.probesSent, stats.sendErrors,
        stats.datagrams, stats.dropped, stats.cancelled ? ", cancelled" : "");
    return stats.cancelled ? KORVEL_E_CANCELLED : KORVEL_OK;
}

KORVEL_API int Net_CancelScan(void) {
    ScanEpoch().fetch_add(1);
    return KORVEL_OK;
}

KORVEL_API int Net_Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    korvel::LogV(format, args);
    va_end(args);
    return KORVEL_OK;
}

}  // extern "C"
