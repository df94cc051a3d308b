// A stand-in for the search helper library, loaded by file name like the real
// one. Built twice: with both exports and with GetDevList only.

#include <cstring>

#include "nimbrel.h"

extern "C" {

#ifdef WITH_MODIFY_DEV_IP
__attribute__((visibility("default"))) int ModifyDevIp(const char* mac, const char* ip,
                                                       const char* mask) {
    // Accepts exactly one camera, so a test can tell the answer came from here.
    return std::strcmp(mac, "02:00:00:00:00:01") == 0 && std::strcmp(mask, "255.255.255.0") == 0 &&
                   ip[0] != '\0'
               ? 1
               : 0;
}
#endif

__attribute__((visibility("default"))) int GetDevList(tNetDeviceInfo* out, int capacity) {
    return out == nullptr || capacity < 0 ? -1 : 0;
}
}
