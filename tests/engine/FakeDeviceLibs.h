#pragma once

// Scripted stand-ins for the camera library and the search helper's
// ModifyDevIp. They are plain functions (the engine takes function pointers),
// so their state is global; every test starts with Reset().

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/TaskDispatcher.h"

namespace enginetest {

struct NetCall {
    // "Add", "Probe", "Conn", "Query", "TimeSet", "File", "Abort", "DisConn", "Del"
    std::string fn;
    int handle = -1;
    int arg1 = 0;
    int arg2 = 0;
    std::string text;  // the camera address for Add, the path for File
};

struct NetScript {
    std::set<std::string> refuseAdd;      // addresses whose Add answers -1
    std::set<std::string> refuseConnect;  // addresses whose connect fails
    std::set<std::string> failFile;       // addresses whose file update fails
    std::set<std::string> deadProbe;      // addresses whose probe times out
    int queryAnswer = 0;
    tNetTimeSetup cameraClock{2000, 1, 1, 0, 0, 0, {11, 22, 33, 44, 55}};
    // Time each file update takes, so overlapping upgrades would be seen.
    std::chrono::milliseconds fileTime{0};
    // When set, the update of this address waits until ReleaseFileUpdate().
    std::string holdFileOf;
    // When set, every update waits until ReleaseFileUpdate() or its abort.
    bool holdEveryFile = false;
    // Who answers the hello at an address: MAC text, type, hardware version.
    // Absent: the camera queued there, of no type or hardware version. Empty:
    // the library has no Net_GetHelloInfo (nothing is compared).
    struct Hello {
        std::string mac, type, hw, sw;
    };
    std::map<std::string, Hello> helloAt;
    // The check after reboot: with `reboots`, Api() has the probes and the
    // search. A camera whose file went through answers them with
    // `backVersion` once `backWhenFiles` files in all have gone through (0: at
    // once); those in `neverBack` never do. `probeMany` false: no ProbeDevices.
    bool reboots = false;
    bool probeMany = true;
    bool search = true;
    int backWhenFiles = 0;
    std::string backVersion = "2.6.0_1a2b";
    std::set<std::string> neverBack;
};

class FakeNet {
  public:
    static void Reset(NetScript script = {});
    static NetApi Api();
    static std::vector<NetCall> Calls();
    static std::vector<std::string> CallNames();
    static int Count(const std::string& fn);
    static tNetTimeSetup LastTimeSet();
    static tNetFileUpdate LastFileUpdate();
    // Most camera sessions (Add to Del) open at one time.
    static int MaxOpenSessions();
    static bool WaitUntilHeld(std::chrono::milliseconds patience, int count = 1);
    static void ReleaseFileUpdate();
    // Calls of ProbeDevice, ProbeDevices and FindDevice (not in Calls()).
    static int Lookups();
};

struct HelperCall {
    std::string mac;
    std::string ip;
    std::string mask;
    std::thread::id thread;
};

struct HelperScript {
    std::set<std::string> refuse;  // MAC texts whose change fails
    // When above 1, every call waits (with a generous limit) until this many
    // calls are in progress at once: proof that the IP jobs run in parallel.
    int rendezvous = 0;
};

class FakeHelper {
  public:
    static void Reset(HelperScript script = {});
    static HelperApi Api();
    static std::vector<HelperCall> Calls();
    static int MaxConcurrent();
};

}  // namespace enginetest
