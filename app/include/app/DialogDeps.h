#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/TaskDispatcher.h"
#include "korvel.h"
#include "platform/AppFolders.h"
#include "platform/LocalTime.h"
#include "platform/NeighbourProbe.h"
#include "platform/NetAdapters.h"

namespace app {

// The camera library calls the dialog makes itself; tests replace them.
struct SearchApi {
    int (*Init)() = nullptr;
    int (*UNinit)() = nullptr;
    int (*FindDevice)(NetFindDeviceCallback callback, void* user) = nullptr;
    int (*Log)(const char* format, ...) = nullptr;  // where pack diagnostics go
    // Why Init failed (Net_GetInitError); without it a failed Init is named by its code.
    int (*GetInitError)(char* text, int size) = nullptr;
    // The configured wait for a camera to come back after an upgrade (ms, 0 off).
    int (*GetVerifyTimeout)() = nullptr;
    // Where a search goes, said when it finds nothing.
    int (*GetSearchTarget)(char* address, int size, int* ports) = nullptr;
    // The adapter searches go out on; the adapter each camera answered on.
    int (*SetInterface)(const char* nameOrAddress) = nullptr;
    int (*GetAnsweredOn)(const uint8_t* mac, tNetAdapterInfo* info) = nullptr;
    // The search by address, and its stop (callable from any thread).
    int (*ScanDevice)(const uint8_t (*addresses)[4], int count, NetFindDeviceCallback callback,
                      void* user) = nullptr;
    int (*CancelScan)() = nullptr;

    static SearchApi Real();  // the Korvel functions
};

// How long a re-addressed camera is looked for at its new address, and the
// pace of it. The helper returns once the camera has confirmed the change, so
// it answers there at once: a few probes and searches are enough, not the
// upgrade's wait for a reboot.
inline constexpr int kIpProofMs = 5000;
inline constexpr engine::VerifyTiming kIpProofPace{.probeTimeoutMs = 500, .pauseMs = 250};

// What the dialog is built on. The defaults are the real libraries and folders.
struct DialogDeps {
    SearchApi search = SearchApi::Real();
    NetApi net = NetApi::Real();
    // When set, replaces the search helper library (tests); otherwise it is
    // loaded from `libDir`.
    std::optional<HelperApi> helper;
    // Folder of config.ini and the daily log; the folder rule decides when empty.
    std::string configDir;
    // What the folder rule looks at; the running process when not given (tests).
    std::optional<platform::FolderInputs> folders;
    // Folder the search helper library is loaded from; the executable's when empty.
    std::string libDir;
    platform::Clock clock = platform::Now;
    // The PC's adapters, for the choice of one (tests give their own).
    std::function<std::optional<std::vector<platform::NetAdapter>>()> adapters = [] {
        return platform::ListNetAdapters(nullptr);
    };
    // Who answers on the LAN for addresses an IP batch would give (ARP).
    // Unset, nothing is asked and only the cameras of the list hold
    // addresses; the window and the console set platform::ProbeNeighbours.
    std::function<platform::NeighbourProbe(const std::vector<std::uint32_t>&,
                                           std::chrono::milliseconds)>
        probeLan;
    // The look for re-addressed cameras at their new address; 0: none.
    int ipProofMs = kIpProofMs;
};

// The dialog's dispatcher on the libraries of `deps`.
TaskDispatcher MakeDispatcher(const DialogDeps& deps);

}  // namespace app
