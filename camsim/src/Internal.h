#pragma once
// What the simulator's parts (discovery, control session, file receiver, IP
// change) share: the camera as the simulator holds it, and small helpers.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <asio.hpp>

#include "camsim/Simulator.h"

namespace camsim {

struct Simulator::Camera {
    std::size_t index = 0;
    CameraSpec model;  // model.sw is the version it reports now
    Ipv4 ip{};
    Ipv4 mask{};
    Ipv4 gateway{};
    std::array<std::uint8_t, 5> clockExtra{0x08, 0, 0, 0, 0};  // the camera's own clock bytes
    std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
    // On loopback: a discovery socket at the camera's own address, so that a
    // probe sent to that address alone is answered by this camera alone.
    std::unique_ptr<asio::ip::udp::socket> probe;
    std::array<std::uint8_t, 2048> probeBuf{};
    asio::ip::udp::endpoint probeFrom;
    std::vector<std::weak_ptr<Session>> sessions;  // open control sessions, to end on reboot
    bool updating = false;
    bool rebooting = false;  // silent: no discovery answers, no sessions, no IP change
    std::uint64_t accepted = 0;
    std::uint64_t refused = 0;
    std::uint64_t begun = 0;      // updates begun (UPDATE_BEGIN answered OK)
    std::uint64_t received = 0;   // file bytes taken in, whole and partial updates alike
    int flashing = 0;             // kept files whose verdict is still to come
    std::uint64_t ipChanges = 0;  // IP changes taken
    std::uint64_t ipRefused = 0;  // IP changes refused
    std::string lastFile;
    std::string dir;
    std::string statePath;
};

inline bool IsLoopback(const Ipv4& ip) {
    return ip[0] == 127;
}

inline asio::ip::address_v4 ToAsio(const Ipv4& ip) {
    return asio::ip::address_v4(ip);
}

// True when this process sits in a network namespace of its own (IpChange.cpp).
bool InOwnNetworkNamespace();

// A reply that no client can accept: the version byte is wrong.
inline void Spoil(std::vector<std::uint8_t>& frame) {
    if (frame.size() > 4) {
        frame[4] = 0x7E;
    }
}

}  // namespace camsim
