#include "../Acked.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace korvel {

AckState AckedBytes(std::uintptr_t socket, std::uint64_t written, std::uint64_t* acked) {
    const int fd = static_cast<int>(socket);
    tcp_info info{};
    socklen_t len = sizeof(info);
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
        return AckState::Unsupported;
    }
    // After a reset the queue is purged: its length would claim everything arrived.
    if (info.tcpi_state != TCP_ESTABLISHED && info.tcpi_state != TCP_CLOSE_WAIT) {
        return AckState::Gone;
    }
    // Written but not yet acknowledged. tcpi_bytes_acked would count the SYN on
    // some kernels; the queue's length is exact against what we wrote.
    int queued = 0;
    if (ioctl(fd, SIOCOUTQ, &queued) != 0 || queued < 0) {
        return AckState::Unsupported;
    }
    const auto unacked = static_cast<std::uint64_t>(queued);
    *acked = unacked < written ? written - unacked : 0;
    return AckState::Counted;
}

}  // namespace korvel
