// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <string>

#include "platform/NeighbourProbe.h"

namespace platform {
namespace {

std::string MacText(const UCHAR* mac) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            out += ':';
        }
        out += kHex[mac[i] >> 4];
        out += kHex[mac[i] & 0xF];
    }
    return out;
}

bool Answered(const MIB_IPNET_ROW2& row) {
    if (row.PhysicalAddressLength != 6) {
        return false;
    }
    bool zero = true;
    for (int i = 0; i < 6; ++i) {
        zero = zero && row.PhysicalAddress[i] == 0;
    }
    return !zero && row.State != NlnsUnreachable && row.State != NlnsIncomplete;
}

}  // namespace

bool AskNeighbours(const std::vector<std::uint32_t>& targets, std::string* why) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        *why = "WSAStartup";
        return false;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        *why = "socket: " + std::to_string(WSAGetLastError());
        WSACleanup();
        return false;
    }
    // An empty datagram to the discard port: the system asks for the
    // neighbour before it can send, for every address at once.
    for (const std::uint32_t ip : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = htonl(ip);
        ::sendto(s, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ::closesocket(s);
    WSACleanup();
    return true;
}

bool ReadNeighbours(std::map<std::uint32_t, std::string>* table, std::string* why) {
    MIB_IPNET_TABLE2* rows = nullptr;
    const DWORD rc = GetIpNetTable2(AF_INET, &rows);
    if (rc != NO_ERROR) {
        *why = "GetIpNetTable2: " + std::to_string(rc);
        return false;
    }
    table->clear();
    for (ULONG i = 0; i < rows->NumEntries && table->size() < 4096; ++i) {
        const MIB_IPNET_ROW2& row = rows->Table[i];
        if (Answered(row)) {
            (*table)[ntohl(row.Address.Ipv4.sin_addr.s_addr)] = MacText(row.PhysicalAddress);
        }
    }
    FreeMibTable(rows);
    return true;
}

}  // namespace platform
