/* Korvel: the camera network library. C interface, linked at load time.
 *
 * Every function may be called from several threads at once. Handles are small
 * non-negative integers; -1 is never a valid handle. Unless stated otherwise a
 * function returns 0 on success and a non-zero KORVEL_E_* code on failure.
 */
#ifndef QUORVANE_KORVEL_H
#define QUORVANE_KORVEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
/* Korvel.dll: exported when the library is built, imported by its users. */
#ifdef KORVEL_BUILDING
#define KORVEL_API __declspec(dllexport)
#else
#define KORVEL_API __declspec(dllimport)
#endif
#define KORVEL_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define KORVEL_API __attribute__((visibility("default")))
#define KORVEL_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KORVEL_API
#define KORVEL_PRINTF(f, a)
#endif

enum {
    KORVEL_OK = 0,
    KORVEL_E_PARAM = 1,    /* a null pointer or an out-of-range argument */
    KORVEL_E_HANDLE = 2,   /* no camera with this handle */
    KORVEL_E_NOT_INIT = 3, /* Net_Init has not been called */
    KORVEL_E_CONNECT = 4,  /* no session could be opened within the attempts */
    KORVEL_E_TIMEOUT = 5,  /* the camera did not answer in time */
    KORVEL_E_IO = 6,       /* the link broke or a local file could not be read */
    KORVEL_E_PROTOCOL = 7, /* the camera sent something malformed */
    KORVEL_E_REFUSED = 8,  /* the camera answered with a refusal */
    KORVEL_E_VERIFY = 9,   /* the camera rejected the file it received */
    KORVEL_E_NOT_CONNECTED = 10,
    KORVEL_E_CANCELLED = 11 /* ended early by Net_CancelScan */
};

#pragma pack(push, 1)

/* One camera as discovery reports it. 452 bytes. */
typedef struct tNetDeviceInfo {
    uint32_t uiRecordVersion; /*   0: wire record version, 1 */
    uint8_t ucMac[6];         /*   4: MAC address, raw bytes */
    uint8_t ucReserved1[70];  /*  10 */
    char szDevType[128];      /*  80: device type (model), NUL-terminated */
    char szSoftVersion[132];  /* 208: software version, NUL-terminated */
    uint8_t ucIp[4];          /* 340: IPv4 address, first octet first */
    uint8_t ucMask[4];        /* 344: subnet mask, first octet first */
    uint8_t ucGateway[4];     /* 348: gateway, first octet first */
    uint16_t usCtrlPort;      /* 352: TCP control port, little-endian; 0 = default */
    uint8_t ucReserved2[32];  /* 354 */
    char szHardVersion[66];   /* 386: hardware version, NUL-terminated */
} tNetDeviceInfo;

/* A camera clock. 12 bytes; bytes 7 to 11 belong to the camera and go back unchanged. */
typedef struct tNetTimeSetup {
    uint16_t usYear;       /* 0 */
    uint8_t ucMonth;       /* 2: 1..12 */
    uint8_t ucDay;         /* 3: 1..31 */
    uint8_t ucHour;        /* 4: 0..23 */
    uint8_t ucMinute;      /* 5: 0..59 */
    uint8_t ucSecond;      /* 6: 0..59 */
    uint8_t ucReserved[5]; /* 7 */
} tNetTimeSetup;

/* Upgrade types carried by tNetFileUpdate.UpgradeType. */
enum {
    NET_UPGRADE_APP = 0,    /* name-matched application image */
    NET_UPGRADE_FORCED = 1, /* forced image */
    NET_UPGRADE_KERNEL = 2, /* kernel image */
    NET_UPGRADE_FS = 3,     /* file-system image */
    NET_UPGRADE_UNKNOWN = 0xFFFF
};

/* A file to send. 258 bytes. */
typedef struct tNetFileUpdate {
    uint16_t UpgradeType; /* 0 */
    char szFilePath[256]; /* 2: local path of the file, NUL-terminated */
} tNetFileUpdate;

/* Where a call on a handle is, told to a progress callback while it runs. */
enum {
    NET_STAGE_NONE = 0,
    NET_STAGE_CONNECTING = 1, /* attempt uiAttempt of uiAttempts */
    NET_STAGE_HELLO = 2,      /* connected, waiting for the camera's hello */
    NET_STAGE_SENDING = 3,    /* ullDone of ullTotal bytes of the file are out */
    NET_STAGE_VERDICT = 4,    /* every byte is out; the camera checks and flashes */
    NET_STAGE_DONE = 5
};

/* 32 bytes. */
typedef struct tNetProgress {
    uint32_t uiStage;    /*  0: NET_STAGE_* */
    uint32_t uiAttempt;  /*  4: 1-based, while connecting */
    uint32_t uiAttempts; /*  8 */
    uint32_t uiReserved; /* 12 */
    uint64_t ullDone;    /* 16: bytes sent, while sending */
    uint64_t ullTotal;   /* 24: file size */
} tNetProgress;

/* Bits of tNetCallDetail.uiFlags. */
enum {
    NET_DETAIL_ABORTED = 1,   /* the session was cut by Net_AbortCamera (reset, not closed) */
    NET_DETAIL_END_ACKED = 2, /* the camera's system acknowledged every byte, UPDATE_END too */
    NET_DETAIL_ACK_COUNT = 4  /* ullAcked is the system's own count, not the bytes handed over */
};

/* What the last call on a handle found out beyond its return code. 308 bytes. */
typedef struct tNetCallDetail {
    int32_t iLastError;       /*   0: KORVEL_* of the last call that failed, 0 none */
    uint32_t uiStage;         /*   4: NET_STAGE_* it was in when it ended */
    uint32_t uiAttempts;      /*   8: connection attempts made by Net_ConnCamera */
    uint32_t uiCameraStatus;  /*  12: the camera's status word, 0 when it sent none */
    uint32_t uiCameraReason;  /*  16: the camera's reason code (docs/protocol.md), 0 none */
    uint32_t uiFlags;         /*  20: NET_DETAIL_* of the last file update */
    uint64_t ullSent;         /*  24: bytes of the file that went out */
    uint64_t ullSize;         /*  32: size of the file */
    char szCameraReason[128]; /*  40: the camera's own words, NUL-terminated */
    char szSoftVersion[132];  /* 168: software version from the camera's hello */
    uint64_t ullAcked;        /* 300: bytes of the file the camera's system acknowledged */
} tNetCallDetail;

/* The PC's adapter a camera answered a search on. 264 bytes. */
typedef struct tNetAdapterInfo {
    char szName[256];     /*   0: the adapter's name, NUL-terminated */
    uint8_t ucAddress[4]; /* 256: its IPv4 address, first octet first */
    uint8_t ucPrefix;     /* 260: its prefix length, 0..32 */
    uint8_t ucReserved[3];
} tNetAdapterInfo;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tNetDeviceInfo) == 452, "tNetDeviceInfo is 452 bytes");
static_assert(offsetof(tNetDeviceInfo, ucMac) == 4, "MAC at 4");
static_assert(offsetof(tNetDeviceInfo, szDevType) == 80, "type at 80");
static_assert(offsetof(tNetDeviceInfo, szSoftVersion) == 208, "software version at 208");
static_assert(offsetof(tNetDeviceInfo, ucIp) == 340, "IP at 340");
static_assert(offsetof(tNetDeviceInfo, ucMask) == 344, "mask at 344");
static_assert(offsetof(tNetDeviceInfo, ucGateway) == 348, "gateway at 348");
static_assert(offsetof(tNetDeviceInfo, usCtrlPort) == 352, "port at 352");
static_assert(offsetof(tNetDeviceInfo, szHardVersion) == 386, "hardware version at 386");
static_assert(sizeof(tNetTimeSetup) == 12, "tNetTimeSetup is 12 bytes");
static_assert(offsetof(tNetTimeSetup, ucSecond) == 6, "second at 6");
static_assert(offsetof(tNetTimeSetup, ucReserved) == 7, "camera bytes at 7");
static_assert(sizeof(tNetFileUpdate) == 258, "tNetFileUpdate is 258 bytes");
static_assert(offsetof(tNetFileUpdate, szFilePath) == 2, "path at 2");
static_assert(sizeof(tNetProgress) == 32, "tNetProgress is 32 bytes");
static_assert(offsetof(tNetProgress, ullDone) == 16, "done at 16");
static_assert(sizeof(tNetCallDetail) == 308, "tNetCallDetail is 308 bytes");
static_assert(sizeof(tNetAdapterInfo) == 264, "tNetAdapterInfo is 264 bytes");
static_assert(offsetof(tNetCallDetail, uiFlags) == 20, "flags at 20");
static_assert(offsetof(tNetCallDetail, ullAcked) == 300, "acknowledged at 300");
static_assert(offsetof(tNetCallDetail, ullSent) == 24, "sent at 24");
static_assert(offsetof(tNetCallDetail, szCameraReason) == 40, "reason at 40");
static_assert(offsetof(tNetCallDetail, szSoftVersion) == 168, "version at 168");
#else
_Static_assert(sizeof(tNetDeviceInfo) == 452, "tNetDeviceInfo is 452 bytes");
_Static_assert(sizeof(tNetTimeSetup) == 12, "tNetTimeSetup is 12 bytes");
_Static_assert(sizeof(tNetFileUpdate) == 258, "tNetFileUpdate is 258 bytes");
_Static_assert(sizeof(tNetProgress) == 32, "tNetProgress is 32 bytes");
_Static_assert(sizeof(tNetCallDetail) == 308, "tNetCallDetail is 308 bytes");
#endif

/* Called once per camera found, on the thread that called Net_FindDevice. The
 * record is valid only during the call. Calls never overlap. */
typedef void (*NetFindDeviceCallback)(const tNetDeviceInfo* info, void* user);

/* Reads the network configuration (QUORVANE_NET_CONF, else quorvane-net.conf beside
 * the executable, else built-in defaults) and prepares the library. May be called
 * again to re-read it; handles stay valid. KORVEL_E_PARAM when QUORVANE_NET_CONF
 * names a file that cannot be read. */
KORVEL_API int Net_Init(void);
/* Why the last Net_Init failed, as a NUL-terminated text cut to `size` bytes;
 * empty after a Net_Init that succeeded. Returns the text's full length. */
KORVEL_API int Net_GetInitError(char* text, int size);
/* Closes every session and releases every handle. Calls in progress on other
 * threads end at once with KORVEL_E_IO. */
KORVEL_API int Net_UNinit(void);

/* Broadcasts a discovery probe (repeated against loss) and calls `callback` once
 * per distinct camera (by MAC) that answers. Returns after a quiet period with no
 * new answer, or at the overall deadline, after the last callback has returned. */
KORVEL_API int Net_FindDevice(NetFindDeviceCallback callback, void* user);

/* `camera` points to a record that begins with the camera's IPv4 address as a
 * 32-byte NUL-terminated dotted-decimal text (a DeviceTask qualifies). Returns a
 * new handle, or -1 when the record is null or the address is not valid. No
 * packet is sent. */
KORVEL_API int Net_AddCamera(const void* camera);

/* Opens the control session: up to `attempts` tries (at least 1, at most 100),
 * each waiting at most `timeout_ms` milliseconds (1 .. 600000) for the connection
 * and the camera's hello. Later calls on this handle wait at most `timeout_ms` for
 * each reply. KORVEL_E_CONNECT (refused), KORVEL_E_TIMEOUT (no answer),
 * KORVEL_E_PROTOCOL (garbage) or KORVEL_E_REFUSED after the last attempt. */
KORVEL_API int Net_ConnCamera(int handle, int timeout_ms, int attempts);

/* Quorvane's own: a bare TCP connect to the camera's control port, closed at
 * once without a word, waiting at most `timeout_ms` (1 .. 600000). It tells a
 * camera that is off or unreachable (KORVEL_E_TIMEOUT, KORVEL_E_CONNECT) from
 * one that listens, without the attempts of Net_ConnCamera. */
KORVEL_API int Net_ProbeCamera(int handle, int timeout_ms);

/* Quorvane's own: callable from any thread. The handle's call in progress
 * (a transfer included) and every later one end at once with KORVEL_E_IO. The
 * session is reset, not closed: what the system still holds for the camera is
 * dropped, so the camera drops what it received of an unfinished file.
 * Net_GetCallDetail then tells what the camera had acknowledged. The handle
 * stays valid until Net_DelCamera. */
KORVEL_API int Net_AbortCamera(int handle);

/* Reads the camera clock into *time. */
KORVEL_API int Net_QueryTimeSetup(int handle, tNetTimeSetup* time);
/* Sets the camera clock from *time. */
KORVEL_API int Net_TimeSetup(int handle, const tNetTimeSetup* time);

/* Sends the file named in update->szFilePath with its type, name, size and MD5,
 * streams it, and returns the camera's verdict after it has checked what it got:
 * KORVEL_E_VERIFY (wrong size or MD5), KORVEL_E_REFUSED, KORVEL_E_IO (the file
 * cannot be read, or the link broke), KORVEL_E_TIMEOUT (no progress within the
 * connection's time-out, or no verdict within update_result_timeout_ms). */
KORVEL_API int Net_FileUpdate(int handle, const tNetFileUpdate* update);

/* Closes the control session; the handle stays valid until Net_DelCamera. */
KORVEL_API int Net_DisConnCamera(int handle);
/* Releases the handle. */
KORVEL_API int Net_DelCamera(int handle);

/* ---- Beyond the camera library's specified calls ---- */

/* Called on the thread of the call in progress (Net_ConnCamera, Net_FileUpdate)
 * whenever its stage changes and as the file goes out; it must return quickly. */
typedef void (*NetProgressCallback)(int handle, const tNetProgress* progress, void* user);
/* Sets (or, with a null callback, clears) the progress callback of a handle. */
KORVEL_API int Net_SetProgressCallback(int handle, NetProgressCallback callback, void* user);
/* Fills *detail with what the handle's calls found out: the stage the last
 * failing call ended in, the camera's status and reason, the bytes sent, the
 * software version the camera's hello gave. */
KORVEL_API int Net_GetCallDetail(int handle, tNetCallDetail* detail);
/* Fills *info with the device record of the camera's hello on the open session:
 * who answered at the address (MAC, type, hardware and software version).
 * KORVEL_E_NOT_CONNECTED when no hello has been received. */
KORVEL_API int Net_GetHelloInfo(int handle, tNetDeviceInfo* info);
/* Sends one discovery probe to `ip` alone and waits up to `timeout_ms` (1 ..
 * 60000) for its answer: 0 with *info filled, KORVEL_E_TIMEOUT when nothing
 * answered. */
KORVEL_API int Net_ProbeDevice(const char* ip, int timeout_ms, tNetDeviceInfo* info);
/* The configured wait for a camera to come back after an upgrade, in
 * milliseconds (verify_timeout_ms; 0: no check). */
KORVEL_API int Net_GetVerifyTimeout(void);
/* Where a search goes: the discovery address as dotted text (cut to `size`),
 * and in ports[0..2] the discovery, control and IP-change ports. */
KORVEL_API int Net_GetSearchTarget(char* address, int size, int* ports);
/* The one adapter searches go out on, by name or dotted address, in place of
 * the configuration's `interface`; "" every adapter; NULL the configuration's
 * choice again. Kept across Net_Init. KORVEL_E_PARAM for a text longer than 255
 * bytes or holding control characters. A search on an adapter that is not
 * there (or down) fails with KORVEL_E_IO and says so in the log. */
KORVEL_API int Net_SetInterface(const char* name_or_address);
/* The adapter the last search (or a Net_ScanDevice after it) heard the camera
 * with these six MAC bytes on:
 * KORVEL_OK with *info filled; KORVEL_E_PARAM when that search did not hear it
 * or went out by one socket the system routed (an explicit discovery address). */
KORVEL_API int Net_GetAnsweredOn(const uint8_t* mac, tNetAdapterInfo* info);

/* Quorvane's own: a search by address, where broadcasts do not pass (a routed
 * VLAN, a switch that drops them). `addresses` holds `count` IPv4 addresses
 * (1 .. NET_SCAN_MAX), four bytes each, first octet first. One discovery probe
 * goes by unicast to each, at most `scan_rate` a second, and once more to
 * those that gave no answer; `callback` is called once per distinct camera (by
 * MAC) whose record carries one of those addresses, as Net_FindDevice calls
 * it. Net_GetAnsweredOn then tells each one's adapter (the one the system
 * routes its address by), beside the cameras of the last search. Returns after
 * the last answer's quiet period, at once when every address answered, or
 * KORVEL_E_CANCELLED soon after Net_CancelScan (cameras found by then have
 * been reported). KORVEL_E_PARAM for a null argument or a count out of range;
 * KORVEL_E_IO when no probe could leave. */
enum { NET_SCAN_MAX = 1024 };
KORVEL_API int Net_ScanDevice(const uint8_t (*addresses)[4], int count,
                              NetFindDeviceCallback callback, void* user);
/* Ends every Net_ScanDevice in progress within a few milliseconds. Callable
 * from any thread; it only sets a flag. */
KORVEL_API int Net_CancelScan(void);

/* printf-style diagnostics, one time-stamped line per call in the library's log
 * file, and on stderr when QUORVANE_LOG_STDERR=1. */
KORVEL_API int Net_Log(const char* format, ...) KORVEL_PRINTF(1, 2);

#ifdef __cplusplus
}
#endif

#endif
