#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/NetAdapters.h"

namespace platform {

std::optional<std::vector<NetAdapter>> ListNetAdapters(std::string* error) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        if (error) {
            *error = std::string("getifaddrs: ") + std::strerror(errno);
        }
        return std::nullopt;
    }
    std::vector<NetAdapter> out;
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        NetAdapter a;
        a.name = it->ifa_name ? it->ifa_name : "";
        sockaddr_in sin{};
        std::memcpy(&sin, it->ifa_addr, sizeof sin);
        a.address = ntohl(sin.sin_addr.s_addr);
        if (it->ifa_netmask != nullptr) {
            sockaddr_in mask{};
            std::memcpy(&mask, it->ifa_netmask, sizeof mask);
            a.prefix = std::popcount(ntohl(mask.sin_addr.s_addr));
        }
        // Up and running: an adapter without carrier sends nothing.
        a.up = (it->ifa_flags & IFF_UP) != 0 && (it->ifa_flags & IFF_RUNNING) != 0;
        a.broadcast = (it->ifa_flags & IFF_BROADCAST) != 0;
        a.pointToPoint = (it->ifa_flags & IFF_POINTOPOINT) != 0;
        a.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(std::move(a));
    }
    freeifaddrs(list);
    return out;
}

}  // namespace platform
