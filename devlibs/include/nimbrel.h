/* Nimbrel: the device search helper library, loaded at run time from the
 * executable's folder with dlopen and looked up by export name. */
#ifndef QUORVANE_NIMBREL_H
#define QUORVANE_NIMBREL_H

#include "korvel.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef _WIN32
#define NIMBREL_LIBRARY_NAME "Nimbrel.dll"
#else
#define NIMBREL_LIBRARY_NAME "libNimbrel.so"
#endif
#define NIMBREL_MODIFY_DEV_IP "ModifyDevIp"
#define NIMBREL_GET_DEV_LIST "GetDevList"
#define NIMBREL_MODIFY_DEV_IP_EX "ModifyDevIpEx"
#define NIMBREL_SET_INTERFACE "SetInterface"

/* Asks the camera with MAC `mac` ("%02X:%02X:%02X:%02X:%02X:%02X") to take the
 * IPv4 address `ip` with subnet mask `mask` (both dotted decimal). Addressed by
 * MAC over UDP broadcast, so it works across subnets. Returns non-zero only after
 * the camera has confirmed; 0 on refusal, time-out or bad arguments. Safe to call
 * from many threads at once. */
typedef int (*ModifyDevIpFn)(const char* mac, const char* ip, const char* mask);

/* Like ModifyDevIp, and also sets the gateway `gateway` (dotted decimal; NULL or
 * "" keeps the camera's gateway). Checked before anything is sent: the mask is
 * contiguous, `ip` is neither the network nor the broadcast address of its
 * subnet, and the gateway is a host of that subnet other than `ip`. Sends the
 * extended request; when an older camera on the link answers that it does not
 * know it, falls back to ModifyDevIp's request, where an empty gateway is the
 * camera's choice. Returns 1 after the camera confirmed address, mask and
 * gateway; 2 after it confirmed address and mask by the older request (the
 * gateway is sent but not confirmed: a search shows it); 0 on refusal, time-out
 * or bad arguments. Safe to call from many threads at once. */
typedef int (*ModifyDevIpExFn)(const char* mac, const char* ip, const char* mask,
                               const char* gateway);

/* The one adapter IP-change requests leave by (bound to its address, so that
 * the limited broadcast leaves by it), by name or dotted address, in place of
 * the configuration's `interface`; "" the system's way; NULL the
 * configuration's choice again. Returns 1, or 0 for a text longer than 255
 * bytes or holding control characters. */
typedef int (*SetInterfaceFn)(const char* name_or_address);

/* Runs a discovery and writes up to `capacity` records to `out`. Returns the
 * number of cameras found (which may exceed `capacity`), or -1 on bad arguments. */
typedef int (*GetDevListFn)(tNetDeviceInfo* out, int capacity);

#ifdef __cplusplus
}
#endif

#endif
