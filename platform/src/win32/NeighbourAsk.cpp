// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <set>
#include <string>
#include <thread>

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

NeighbourProbe ProbeNeighbours(const std::vector<std::uint32_t>& addresses,
                               std::chrono::milliseconds budget) {
    NeighbourProbe out;
    const auto deadline = std::chrono::steady_clock::now() + budget;
    auto adapters = ListNetAdapters(&out.why);
    if (!adapters) {
        return out;
    }
    std::vector<std::uint32_t> own;
    const std::vector<std::uint32_t> targets = OnLinkTargets(*adapters, addresses, &own);
    for (const std::uint32_t ip : own) {
        out.answered[ip] = "";
    }
    if (targets.empty()) {
        out.checked = true;
        return out;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
        out.why = "WSAStartup";
        return out;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        out.why = "socket: " + std::to_string(WSAGetLastError());
        WSACleanup();
        return out;
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
    const std::set<std::uint32_t> wanted(targets.begin(), targets.end());
    for (;;) {
        MIB_IPNET_TABLE2* table = nullptr;
        const DWORD rc = GetIpNetTable2(AF_INET, &table);
        if (rc != NO_ERROR) {
            out.why = "GetIpNetTable2: " + std::to_string(rc);
            out.answered.clear();
            return out;
        }
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IPNET_ROW2& row = table->Table[i];
            const std::uint32_t ip = ntohl(row.Address.Ipv4.sin_addr.s_addr);
            if (wanted.count(ip) != 0 && Answered(row)) {
                out.answered[ip] = MacText(row.PhysicalAddress);
            }
        }
        FreeMibTable(table);
        out.checked = true;
        if (out.answered.size() >= wanted.size() + own.size() ||
            std::chrono::steady_clock::now() >= deadline) {
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace platform
