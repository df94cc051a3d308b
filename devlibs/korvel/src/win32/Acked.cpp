// SIO_TCP_INFO came with Windows 10 1703; its record is declared only for that.
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x0A000003
#endif
#include <winsock2.h>
// after winsock2.h, whose types it uses
#include <mstcpip.h>

#include "../Acked.h"

namespace korvel {

AckState AckedBytes(std::uintptr_t socket, std::uint64_t written, std::uint64_t* acked) {
    DWORD version = 0;
    TCP_INFO_v0 info{};
    DWORD got = 0;
    if (WSAIoctl(static_cast<SOCKET>(socket), SIO_TCP_INFO, &version, sizeof(version), &info,
                 sizeof(info), &got, nullptr, nullptr) != 0 ||
        got < sizeof(info)) {
        return AckState::Unsupported;  // older Windows, or Wine
    }
    if (info.State != TCPSTATE_ESTABLISHED && info.State != TCPSTATE_CLOSE_WAIT) {
        return AckState::Gone;
    }
    // What went out on the wire less what is still in flight; bytes still in
    // Winsock's buffer have not gone out and so are not counted either.
    const std::uint64_t out = info.BytesOut;
    const std::uint64_t done = out > info.BytesInFlight ? out - info.BytesInFlight : 0;
    *acked = done < written ? done : written;
    return AckState::Counted;
}

}  // namespace korvel
