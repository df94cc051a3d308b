#pragma once
// The UDP socket of a search or an IP change: broadcasts allowed, bound to one
// address of the PC (or every one).

#include <asio.hpp>
#include <cstddef>

namespace wire {

// Opens and binds `sock` at `at`; `shared` lets other sockets bind the same
// port; a `receiveBuffer` above 0 asks for that much (a refusal is no error).
inline bool OpenUdp(asio::ip::udp::socket& sock, const asio::ip::udp::endpoint& at, bool shared,
                    std::size_t receiveBuffer, asio::error_code& ec) {
    sock.open(asio::ip::udp::v4(), ec);
    if (!ec && shared) {
        sock.set_option(asio::socket_base::reuse_address(true), ec);
    }
    if (!ec) {
        sock.set_option(asio::socket_base::broadcast(true), ec);
    }
    if (!ec && receiveBuffer > 0) {
        asio::error_code ignored;
        sock.set_option(asio::socket_base::receive_buffer_size(static_cast<int>(receiveBuffer)),
                        ignored);
    }
    if (!ec) {
        sock.bind(at, ec);
    }
    return !ec;
}

}  // namespace wire
