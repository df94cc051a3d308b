#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/NeighbourProbe.h"

namespace platform {
namespace {

// The table of this thread's network namespace (a test's thread may have
// joined another one), whole up to a bound.
std::string ReadArpTable() {
    std::FILE* f = std::fopen("/proc/thread-self/net/arp", "re");
    if (f == nullptr) {
        f = std::fopen("/proc/net/arp", "re");
    }
    if (f == nullptr) {
        return {};
    }
    std::string text;
    char buf[8192];
    std::size_t n = 0;
    while (text.size() < (1u << 20) && (n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text.append(buf, n);
    }
    std::fclose(f);
    return text;
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
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        out.why = std::string("socket: ") + std::strerror(errno);
        return out;
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
    out.checked = true;
    for (;;) {
        const auto table = ParseArpTable(ReadArpTable());
        std::size_t found = 0;
        for (const std::uint32_t ip : targets) {
            if (const auto it = table.find(ip); it != table.end()) {
                out.answered[ip] = it->second;
                ++found;
            }
        }
        if (found == targets.size() || std::chrono::steady_clock::now() >= deadline) {
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace platform
