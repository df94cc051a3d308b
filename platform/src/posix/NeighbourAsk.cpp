#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/NeighbourProbe.h"

namespace platform {

bool AskNeighbours(const std::vector<std::uint32_t>& targets, std::string* why) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    // An empty datagram to the discard port: the kernel asks for the neighbour
    // before it can send, for every address at once, as a normal user.
    for (const std::uint32_t ip : targets) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = htonl(ip);
        [[maybe_unused]] const auto sent =
            ::sendto(fd, "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ::close(fd);
    return true;
}

bool ReadNeighbours(std::map<std::uint32_t, std::string>* table, std::string* why) {
    // The table of this thread's network namespace (a test's thread may have
    // joined another one), whole up to a bound.
    std::FILE* f = std::fopen("/proc/thread-self/net/arp", "re");
    if (f == nullptr) {
        f = std::fopen("/proc/net/arp", "re");
    }
    if (f == nullptr) {
        *why = std::string("/proc/net/arp: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[8192];
    std::size_t n = 0;
    while (text.size() < (1u << 20) && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    std::fclose(f);
    *table = ParseArpTable(text);
    return true;
}

}  // namespace platform
