// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

#include <vector>

#include "platform/NetAdapters.h"
#include "platform/WideText.h"

namespace platform {

std::optional<std::vector<NetAdapter>> ListNetAdapters(std::string* error) {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list can grow between the size query and the call: a few rounds.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buf;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int round = 0; round < 4 && rc == ERROR_BUFFER_OVERFLOW; ++round) {
        buf.assign(size, 0);
        rc = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
    }
    std::vector<NetAdapter> out;
    if (rc == ERROR_NO_DATA) {
        return out;
    }
    if (rc != NO_ERROR) {
        if (error) {
            *error = "GetAdaptersAddresses: error " + std::to_string(rc);
        }
        return std::nullopt;
    }
    for (auto* ad = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); ad != nullptr;
         ad = ad->Next) {
        for (auto* ua = ad->FirstUnicastAddress; ua != nullptr; ua = ua->Next) {
            const SOCKADDR* sa = ua->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET ||
                ua->Address.iSockaddrLength < static_cast<INT>(sizeof(sockaddr_in))) {
                continue;
            }
            NetAdapter a;
            a.name = ad->FriendlyName ? Utf8(ad->FriendlyName) : std::string();
            a.address = ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
            a.prefix = ua->OnLinkPrefixLength <= 32 ? ua->OnLinkPrefixLength : 32;
            a.up = ad->OperStatus == IfOperStatusUp;
            a.loopback = ad->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            a.pointToPoint = ad->IfType == IF_TYPE_PPP || ad->IfType == IF_TYPE_TUNNEL;
            // Windows names no broadcast flag; every link but these carries them.
            a.broadcast = !a.loopback && !a.pointToPoint;
            out.push_back(std::move(a));
        }
    }
    return out;
}

}  // namespace platform
