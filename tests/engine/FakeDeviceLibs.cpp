#include "FakeDeviceLibs.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace enginetest {
namespace {

struct NetState {
    std::mutex mutex;
    std::condition_variable changed;
    NetScript script;
    std::vector<NetCall> calls;
    std::map<int, std::string> cameras;  // handle -> address
    std::map<int, std::string> macs;     // handle -> the task's MAC
    int nextHandle = 100;
    int open = 0;
    int maxOpen = 0;
    int held = 0;
    bool released = false;
    std::set<int> aborted;
    tNetTimeSetup lastTimeSet{};
    tNetFileUpdate lastFile{};
    std::map<std::string, std::string> flashed;  // address -> MAC, files gone through
    int lookups = 0;
};

NetState& Net() {
    static NetState state;
    return state;
}

void Record(NetState& s, const char* fn, int handle, int a1 = 0, int a2 = 0,
            std::string text = {}) {
    s.calls.push_back(NetCall{fn, handle, a1, a2, std::move(text)});
}

int Add(const void* camera) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    const auto* task = static_cast<const DeviceTask*>(camera);
    const std::string ip = task->ip;
    Record(s, "Add", -1, 0, 0, ip);
    if (s.script.refuseAdd.count(ip) != 0) {
        return -1;
    }
    const int handle = s.nextHandle++;
    s.cameras[handle] = ip;
    s.macs[handle] = std::string(task->aux, strnlen(task->aux, sizeof(task->aux)));
    s.maxOpen = std::max(s.maxOpen, ++s.open);
    return handle;
}

int Conn(int handle, int timeoutMs, int attempts) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "Conn", handle, timeoutMs, attempts);
    return s.script.refuseConnect.count(s.cameras[handle]) != 0 ? KORVEL_E_CONNECT : 0;
}

int Hello(int handle, tNetDeviceInfo* info) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    *info = {};
    NetScript::Hello who{s.macs[handle], "", "", ""};
    if (const auto it = s.script.helloAt.find(s.cameras[handle]); it != s.script.helloAt.end()) {
        who = it->second;
    }
    unsigned b[6] = {};
    if (std::sscanf(who.mac.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5]) == 6) {
        for (int i = 0; i < 6; ++i) {
            info->ucMac[i] = static_cast<uint8_t>(b[i]);
        }
    }
    std::snprintf(info->szDevType, sizeof(info->szDevType), "%s", who.type.c_str());
    std::snprintf(info->szHardVersion, sizeof(info->szHardVersion), "%s", who.hw.c_str());
    std::snprintf(info->szSoftVersion, sizeof(info->szSoftVersion), "%s", who.sw.c_str());
    return 0;
}

int Probe(int handle, int timeoutMs) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "Probe", handle, timeoutMs);
    return s.script.deadProbe.count(s.cameras[handle]) != 0 ? KORVEL_E_TIMEOUT : 0;
}

int Abort(int handle) {
    auto& s = Net();
    {
        std::lock_guard lock(s.mutex);
        Record(s, "Abort", handle);
        s.aborted.insert(handle);
    }
    s.changed.notify_all();
    return 0;
}

int Query(int handle, tNetTimeSetup* time) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "Query", handle);
    *time = s.script.cameraClock;
    return s.script.queryAnswer;
}

int TimeSet(int handle, const tNetTimeSetup* time) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "TimeSet", handle);
    s.lastTimeSet = *time;
    return 0;
}

int File(int handle, const tNetFileUpdate* update) {
    auto& s = Net();
    std::unique_lock lock(s.mutex);
    Record(s, "File", handle, update->UpgradeType, 0, update->szFilePath);
    s.lastFile = *update;
    const std::string ip = s.cameras[handle];
    if (s.script.holdEveryFile || (!s.script.holdFileOf.empty() && ip == s.script.holdFileOf)) {
        ++s.held;
        s.changed.notify_all();
        s.changed.wait(lock, [&] { return s.released || s.aborted.count(handle) != 0; });
    }
    if (s.aborted.count(handle) != 0) {
        return KORVEL_E_IO;
    }
    const auto fileTime = s.script.fileTime;
    const bool fail = s.script.failFile.count(ip) != 0;
    lock.unlock();
    if (fileTime.count() > 0) {
        std::this_thread::sleep_for(fileTime);  // a transfer takes time
    }
    if (!fail) {
        lock.lock();
        s.flashed[ip] = s.macs[handle];
    }
    return fail ? KORVEL_E_VERIFY : 0;
}

// The record a camera back from its reboot answers with; false while it is not.
bool BackAt(NetState& s, const std::string& ip, tNetDeviceInfo* info) {
    const auto it = s.flashed.find(ip);
    if (it == s.flashed.end() || s.script.neverBack.count(ip) != 0 ||
        static_cast<int>(s.flashed.size()) < s.script.backWhenFiles) {
        return false;
    }
    *info = {};
    unsigned b[6] = {};
    if (std::sscanf(it->second.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3],
                    &b[4], &b[5]) == 6) {
        for (int i = 0; i < 6; ++i) {
            info->ucMac[i] = static_cast<uint8_t>(b[i]);
        }
    }
    unsigned a[4] = {};
    if (std::sscanf(ip.c_str(), "%u.%u.%u.%u", &a[0], &a[1], &a[2], &a[3]) == 4) {
        for (int i = 0; i < 4; ++i) {
            info->ucIp[i] = static_cast<uint8_t>(a[i]);
        }
    }
    std::snprintf(info->szSoftVersion, sizeof(info->szSoftVersion), "%s",
                  s.script.backVersion.c_str());
    return true;
}

int ProbeOne(const char* ip, int, tNetDeviceInfo* info) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    ++s.lookups;
    return BackAt(s, ip, info) ? 0 : KORVEL_E_TIMEOUT;
}

int ProbeMany(const char* const* ips, int count, int, NetFindDeviceCallback cb, void* user) {
    std::vector<tNetDeviceInfo> answers;
    {
        auto& s = Net();
        std::lock_guard lock(s.mutex);
        ++s.lookups;
        for (int i = 0; i < count; ++i) {
            tNetDeviceInfo info{};
            if (BackAt(s, ips[i], &info)) {
                answers.push_back(info);
            }
        }
    }
    for (const auto& info : answers) {
        cb(&info, user);  // as the library does: on the caller's thread, no lock of ours held
    }
    return 0;
}

int Search(NetFindDeviceCallback cb, void* user) {
    std::vector<tNetDeviceInfo> answers;
    {
        auto& s = Net();
        std::lock_guard lock(s.mutex);
        ++s.lookups;
        for (const auto& [ip, mac] : s.flashed) {
            tNetDeviceInfo info{};
            if (BackAt(s, ip, &info)) {
                answers.push_back(info);
            }
        }
    }
    for (const auto& info : answers) {
        cb(&info, user);
    }
    return 0;
}

int DisConn(int handle) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "DisConn", handle);
    return 0;
}

int Del(int handle) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    Record(s, "Del", handle);
    if (s.cameras.erase(handle) != 0) {
        --s.open;
    }
    return 0;
}

struct HelperState {
    std::mutex mutex;
    std::condition_variable changed;
    HelperScript script;
    std::vector<HelperCall> calls;
    int inside = 0;
    int maxInside = 0;
};

HelperState& Helper() {
    static HelperState state;
    return state;
}

int ModifyDevIp(const char* mac, const char* ip, const char* mask) {
    auto& s = Helper();
    std::unique_lock lock(s.mutex);
    s.calls.push_back(HelperCall{mac, ip, mask, std::this_thread::get_id()});
    s.maxInside = std::max(s.maxInside, ++s.inside);
    s.changed.notify_all();
    if (s.script.rendezvous > 1) {
        s.changed.wait_for(lock, std::chrono::seconds(20),
                           [&] { return s.maxInside >= s.script.rendezvous; });
    }
    --s.inside;
    return s.script.refuse.count(mac) != 0 ? 0 : 1;
}

}  // namespace

void FakeNet::Reset(NetScript script) {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    s.script = std::move(script);
    s.calls.clear();
    s.cameras.clear();
    s.macs.clear();
    s.nextHandle = 100;
    s.open = 0;
    s.maxOpen = 0;
    s.held = 0;
    s.released = false;
    s.aborted.clear();
    s.lastTimeSet = {};
    s.lastFile = {};
    s.flashed.clear();
    s.lookups = 0;
}

NetApi FakeNet::Api() {
    NetApi api;
    api.AddCamera = Add;
    api.ConnCamera = Conn;
    api.ProbeCamera = Probe;
    api.AbortCamera = Abort;
    api.QueryTimeSetup = Query;
    api.TimeSetup = TimeSet;
    api.FileUpdate = File;
    api.DisConnCamera = DisConn;
    api.DelCamera = Del;
    // Only a script that says who answers has the call: older tests queue
    // texts that are no MAC, for cameras of no type.
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    if (!s.script.helloAt.empty()) {
        api.GetHelloInfo = Hello;
    }
    if (s.script.reboots) {
        api.ProbeDevice = ProbeOne;
        api.ProbeDevices = s.script.probeMany ? ProbeMany : nullptr;
        api.FindDevice = s.script.search ? Search : nullptr;
    }
    return api;
}

std::vector<NetCall> FakeNet::Calls() {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    return s.calls;
}

std::vector<std::string> FakeNet::CallNames() {
    std::vector<std::string> names;
    for (const auto& c : Calls()) {
        names.push_back(c.fn);
    }
    return names;
}

int FakeNet::Count(const std::string& fn) {
    const auto calls = Calls();
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [&](const NetCall& c) { return c.fn == fn; }));
}

tNetTimeSetup FakeNet::LastTimeSet() {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    return s.lastTimeSet;
}

tNetFileUpdate FakeNet::LastFileUpdate() {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    return s.lastFile;
}

int FakeNet::MaxOpenSessions() {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    return s.maxOpen;
}

bool FakeNet::WaitUntilHeld(std::chrono::milliseconds patience, int count) {
    auto& s = Net();
    std::unique_lock lock(s.mutex);
    return s.changed.wait_for(lock, patience, [&] { return s.held >= count; });
}

void FakeNet::ReleaseFileUpdate() {
    auto& s = Net();
    {
        std::lock_guard lock(s.mutex);
        s.released = true;
    }
    s.changed.notify_all();
}

int FakeNet::Lookups() {
    auto& s = Net();
    std::lock_guard lock(s.mutex);
    return s.lookups;
}

void FakeHelper::Reset(HelperScript script) {
    auto& s = Helper();
    std::lock_guard lock(s.mutex);
    s.script = std::move(script);
    s.calls.clear();
    s.inside = 0;
    s.maxInside = 0;
}

HelperApi FakeHelper::Api() {
    HelperApi api;
    api.ModifyDevIp = ModifyDevIp;
    return api;
}

std::vector<HelperCall> FakeHelper::Calls() {
    auto& s = Helper();
    std::lock_guard lock(s.mutex);
    return s.calls;
}

int FakeHelper::MaxConcurrent() {
    auto& s = Helper();
    std::lock_guard lock(s.mutex);
    return s.maxInside;
}

}  // namespace enginetest
