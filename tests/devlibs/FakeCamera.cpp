#include "FakeCamera.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "wire/Addr.h"

namespace qvtest {

namespace {

int Bound(int type, uint16_t* port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 8) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

}  // namespace

std::optional<Frame> FakeConn::read(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (!pending_.empty()) {
            const auto step = decoder_.put(pending_);
            if (step.result == wire::Decoder::Result::Message) {
                Frame f;
                f.header = decoder_.header();
                f.payload.assign(decoder_.payload().begin(), decoder_.payload().end());
                pending_.erase(pending_.begin(),
                               pending_.begin() + static_cast<std::ptrdiff_t>(step.consumed));
                return f;
            }
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(step.consumed));
            if (step.result == wire::Decoder::Result::Error) {
                return std::nullopt;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Readable(fd_, static_cast<int>(left.count()))) {
            return std::nullopt;
        }
        uint8_t buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
        if (n <= 0) {
            return std::nullopt;
        }
        pending_.insert(pending_.end(), buf, buf + n);
    }
}

void FakeConn::send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void FakeConn::sendBytewise(const Bytes& bytes) {
    for (uint8_t b : bytes) {
        if (::send(fd_, &b, 1, MSG_NOSIGNAL) != 1) {
            return;
        }
    }
}

void FakeConn::awaitClose(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Readable(fd_, static_cast<int>(left.count()))) {
            return;
        }
        uint8_t buf[65536];
        if (::recv(fd_, buf, sizeof(buf), 0) <= 0) {
            return;
        }
    }
}

FakeCamera::FakeCamera(TcpScript tcp, UdpScript udp, UdpPace pace)
    : tcp_(std::move(tcp)), udp_(std::move(udp)), pace_(pace) {
    uint16_t tcpPort = 0;
    uint16_t udpPort = 0;
    tcpFd_ = Bound(SOCK_STREAM, &tcpPort);
    udpFd_ = Bound(SOCK_DGRAM, &udpPort);
    char pattern[] = "/tmp/qv-fakecam-XXXXXX";
    if (tcpFd_ < 0 || udpFd_ < 0 || ::mkdtemp(pattern) == nullptr) {
        return;
    }
    dir_ = pattern;
    wire::NetConfig c = wire::LoopbackDefaults();
    // Unicast to the fake itself: nothing else on the machine hears the probe.
    c.discoveryAddress = "127.0.0.1";
    c.discoveryPort = udpPort;
    c.controlPort = tcpPort;
    c.ipsetPort = udpPort;
    c.discoveryProbes = 1;
    c.discoverySpreadMs = 0;
    c.discoveryQuietMs = 1000;  // the fake answers at once, unless the machine is busy
    c.discoveryDeadlineMs = 3000;
    c.updateResultTimeoutMs = 500;
    c.logFile = "korvel.log";
    confPath_ = dir_ + "/" + wire::kNetConfFileName;
    std::ofstream(confPath_) << wire::FormatNetConfig(c);
    tcpThread_ = std::thread([this] { tcpLoop(); });
    udpThread_ = std::thread([this] { udpLoop(); });
}

FakeCamera::~FakeCamera() {
    stop_ = true;
    if (tcpThread_.joinable()) {
        tcpThread_.join();
    }
    if (udpThread_.joinable()) {
        udpThread_.join();
    }
    if (tcpFd_ >= 0) {
        ::close(tcpFd_);
    }
    if (udpFd_ >= 0) {
        ::close(udpFd_);
    }
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

void FakeCamera::tcpLoop() {
    while (!stop_) {
        // Short polls only so that the destructor is not kept waiting.
        if (!Readable(tcpFd_, 50)) {
            continue;
        }
        const int fd = ::accept4(tcpFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++connections_;
        {
            FakeConn conn(fd);
            if (tcp_) {
                tcp_(conn);
            }
        }
        ::close(fd);
    }
}

void FakeCamera::udpLoop() {
    while (!stop_) {
        if (!Readable(udpFd_, 50)) {
            continue;
        }
        uint8_t buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        const ssize_t n =
            ::recvfrom(udpFd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n <= 0) {
            continue;
        }
        const auto probe = wire::DecodeDatagram({buf, static_cast<size_t>(n)});
        if (!probe || !udp_) {
            continue;
        }
        int inBurst = 0;
        for (const auto& d : udp_(probe->header.txid)) {
            if (stop_) {
                break;
            }
            ::sendto(udpFd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
            if (pace_.burst > 0 && ++inBurst == pace_.burst) {
                inBurst = 0;
                std::this_thread::sleep_for(pace_.gap);
            }
        }
    }
}

tNetDeviceInfo MakeRecord(uint8_t lastMacByte, const char* type) {
    tNetDeviceInfo r{};
    r.uiRecordVersion = 1;
    const uint8_t mac[6] = {0x02, 0x51, 0x56, 0xFE, 0x00, lastMacByte};
    std::memcpy(r.ucMac, mac, sizeof(mac));
    wire::CopyText(r.szDevType, sizeof(r.szDevType), type);
    wire::CopyText(r.szSoftVersion, sizeof(r.szSoftVersion), "V1.0.0");
    wire::CopyText(r.szHardVersion, sizeof(r.szHardVersion), "YJ1");
    const uint8_t ip[4] = {127, 0, 0, 1};
    std::memcpy(r.ucIp, ip, sizeof(ip));
    return r;
}

}  // namespace qvtest
