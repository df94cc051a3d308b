#include "WireClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace camsimtest {

namespace {

sockaddr_in Address(const std::string& ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

int Ms(std::chrono::milliseconds d) {
    return static_cast<int>(d.count());
}

}  // namespace

TcpClient::~TcpClient() {
    close();
}

void TcpClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    decoder_.reset();
    pending_.clear();
}

int TcpClient::connect(const std::string& ip, std::uint16_t port,
                       std::chrono::milliseconds timeout) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        return errno;
    }
    const sockaddr_in a = Address(ip, port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 &&
        errno != EINPROGRESS) {
        const int e = errno;
        close();
        return e;
    }
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, Ms(timeout)) <= 0) {
        close();
        return ETIMEDOUT;
    }
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        close();
        return err;
    }
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return 0;
}

bool TcpClient::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 10000) <= 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

std::optional<Frame> TcpClient::read(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (!pending_.empty()) {
            const auto step = decoder_.put(pending_);
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(step.consumed));
            if (step.result == wire::Decoder::Result::Message) {
                Frame f;
                f.header = decoder_.header();
                f.payload.assign(decoder_.payload().begin(), decoder_.payload().end());
                if (f.type() == wire::MsgType::UpdateReason) {
                    reasons_.push_back(f);  // explains the refusal that comes next
                    continue;
                }
                return f;
            }
            if (step.result == wire::Decoder::Result::Error) {
                return std::nullopt;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (fd_ < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, Ms(left)) <= 0) {
            return std::nullopt;
        }
        std::uint8_t buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            return std::nullopt;
        }
        pending_.insert(pending_.end(), buf, buf + n);
    }
}

bool TcpClient::closedByPeer(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, Ms(left)) <= 0) {
            return false;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;
        }
    }
}

std::optional<Frame> TcpClient::call(const std::vector<std::uint8_t>& request,
                                     std::chrono::milliseconds timeout) {
    if (!send(request)) {
        return std::nullopt;
    }
    return read(timeout);
}

UdpClient::UdpClient() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    int big = 4 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    const sockaddr_in a = Address("127.0.0.1", 0);
    ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

UdpClient::~UdpClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool UdpClient::sendTo(const std::string& ip, std::uint16_t port,
                       const std::vector<std::uint8_t>& bytes) {
    const sockaddr_in a = Address(ip, port);
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a),
                    sizeof a) == static_cast<ssize_t>(bytes.size());
}

std::optional<UdpClient::Datagram> UdpClient::receiveOne(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, Ms(left)) <= 0) {
            return std::nullopt;
        }
        std::uint8_t buf[4096];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        return Datagram{text, std::vector<std::uint8_t>(buf, buf + n)};
    }
}

std::vector<UdpClient::Datagram> UdpClient::collect(std::chrono::milliseconds quiet,
                                                    std::chrono::milliseconds max) {
    std::vector<Datagram> out;
    const auto end = std::chrono::steady_clock::now() + max;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        auto d = receiveOne(std::min(quiet, left));
        if (!d) {
            break;
        }
        out.push_back(std::move(*d));
    }
    return out;
}

std::vector<UdpClient::Datagram> UdpClient::collectAtLeast(std::size_t count,
                                                           std::chrono::milliseconds max,
                                                           std::chrono::milliseconds extra) {
    std::vector<Datagram> out;
    const auto end = std::chrono::steady_clock::now() + max;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        auto d = left.count() > 0 ? receiveOne(left) : std::nullopt;
        if (!d) {
            return out;
        }
        out.push_back(std::move(*d));
    }
    auto tail = collect(extra, extra);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

}  // namespace camsimtest
