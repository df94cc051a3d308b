#pragma once

// The search helper library, loaded at run time from the executable's folder
// (or the private library folder when installed). Its two entries are what the
// IP jobs call; a missing library or export leaves an entry null.

#include <string>

#include "korvel.h"
#include "platform/DynLib.h"

// The search helper's entry points the IP jobs use; null when missing.
struct HelperApi {
    int (*ModifyDevIp)(const char* mac, const char* ip, const char* mask) = nullptr;
    int (*GetDevList)(tNetDeviceInfo* out, int capacity) = nullptr;
    // The adapter IP changes leave by; a helper without it leaves by the system's way.
    int (*SetInterface)(const char* nameOrAddress) = nullptr;
    // Address, mask and gateway by MAC; a helper without it cannot set a gateway.
    int (*ModifyDevIpEx)(const char* mac, const char* ip, const char* mask,
                         const char* gateway) = nullptr;
};

namespace engine {

class HelperLibrary {
  public:
    // Loads the helper from `folder`, the executable's folder when empty. A
    // library that does not load leaves both entries null; nothing fails.
    explicit HelperLibrary(std::string folder);
    // Entries given instead of loaded (tests); the folder is the executable's.
    explicit HelperLibrary(HelperApi given);
    HelperLibrary(const HelperLibrary&) = delete;
    HelperLibrary& operator=(const HelperLibrary&) = delete;

    // True when the library was loaded or its modify entry was given.
    bool Loaded() const;
    const HelperApi& Api() const { return api_; }
    // The folder it was looked for in, ending with a separator.
    const std::string& Folder() const { return folder_; }
    // Clears the entries first; only once no job can call them any more.
    void Unload();

  private:
    platform::DynLib lib_;
    HelperApi api_;
    bool given_ = false;
    std::string folder_;
};

}  // namespace engine
