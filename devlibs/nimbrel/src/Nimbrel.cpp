// The search helper library: IP change by MAC and a device list, loaded at run time.

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "nimbrel.h"
#include "platform/AppFolders.h"
#include "wire/Addr.h"
#include "wire/Discovery.h"
#include "wire/NetConfig.h"
#include "wire/Wire.h"

#ifdef _WIN32
#define NIMBREL_API extern "C" __declspec(dllexport)
#else
#define NIMBREL_API extern "C" __attribute__((visibility("default")))
#endif

namespace {

using SteadyClock = std::chrono::steady_clock;

void Say(const std::string& text) {
    const char* v = std::getenv("QUORVANE_LOG_STDERR");
    if (v != nullptr && std::strcmp(v, "1") == 0) {
        std::fprintf(stderr, "Nimbrel: %s\n", text.c_str());
    }
}

// Read on every call, so that a test may point the library at a new lab.
std::optional<wire::NetConfig> Config() {
    std::string error;
    const platform::AppFolders folders = platform::CurrentFolders();
    const auto loaded = wire::LoadNetConfigFrom(folders.configDirs, folders.stateDir, &error);
    if (!loaded) {
        Say(error);
        return std::nullopt;
    }
    return loaded->config;
}

bool ContiguousMask(const wire::Ipv4& m) {
    const uint32_t v =
        (uint32_t{m[0]} << 24) | (uint32_t{m[1]} << 16) | (uint32_t{m[2]} << 8) | m[3];
    return v != 0 && ((~v + 1) & ~v) == 0;
}

bool UsableHost(const wire::Ipv4& ip) {
    return ip[0] != 0 && ip[0] < 224;
}

}  // namespace

NIMBREL_API int ModifyDevIp(const char* mac, const char* ip, const char* mask) {
    if (mac == nullptr || ip == nullptr || mask == nullptr) {
        return 0;
    }
    const auto macBytes = wire::ParseMac(std::string_view(mac, strnlen(mac, 64)));
    const auto ipBytes = wire::ParseIpv4(std::string_view(ip, strnlen(ip, 64)));
    const auto maskBytes = wire::ParseIpv4(std::string_view(mask, strnlen(mask, 64)));
    if (!macBytes || !ipBytes || !maskBytes || !UsableHost(*ipBytes) ||
        !ContiguousMask(*maskBytes)) {
        Say("bad arguments to ModifyDevIp");
        return 0;
    }
    const auto config = Config();
    if (!config) {
        return 0;
    }

    asio::io_context io;
    asio::ip::udp::socket sock(io);
    asio::error_code ec;
    const auto bindAddr = asio::ip::make_address_v4(config->bindAddress, ec);
    const auto target = asio::ip::make_address_v4(config->discoveryAddress, ec);
    sock.open(asio::ip::udp::v4(), ec);
    if (!ec) {
        sock.set_option(asio::socket_base::broadcast(true), ec);
    }
    if (!ec) {
        sock.bind(asio::ip::udp::endpoint(bindAddr, 0), ec);
    }
    if (ec) {
        Say("cannot open a socket: " + ec.message());
        return 0;
    }

    // Each call has its own socket and transaction id, so thirty calls at once
    // never take one another's answers.
    const uint32_t txid = wire::RandomTxid();
    wire::IpSetReq req{};
    std::copy(macBytes->begin(), macBytes->end(), req.mac);
    std::copy(ipBytes->begin(), ipBytes->end(), req.ip);
    std::copy(maskBytes->begin(), maskBytes->end(), req.mask);
    const auto frame = wire::EncodeFrame(wire::MsgType::IpSetReq, txid, req);
    const asio::ip::udp::endpoint dest(target, config->ipsetPort);

    std::array<uint8_t, 2048> buf{};
    asio::ip::udp::endpoint from;
    for (int attempt = 0; attempt < config->ipsetAttempts; ++attempt) {
        asio::error_code sendEc;
        sock.send_to(asio::buffer(frame), dest, 0, sendEc);
        if (sendEc) {
            Say("cannot send to " + config->discoveryAddress + ": " + sendEc.message());
            return 0;
        }
        const auto deadline =
            SteadyClock::now() + std::chrono::milliseconds(config->ipsetTimeoutMs);
        for (;;) {
            const auto now = SteadyClock::now();
            if (now >= deadline) {
                break;
            }
            bool done = false;
            asio::error_code recvEc;
            size_t got = 0;
            sock.async_receive_from(asio::buffer(buf), from,
                                    [&](const asio::error_code& e, size_t n) {
                                        done = true;
                                        recvEc = e;
                                        got = n;
                                    });
            io.restart();
            io.run_for(deadline - now);
            if (!done) {
                asio::error_code ignored;
                sock.cancel(ignored);
                io.restart();
                io.run();
            }
            if (!done || recvEc) {
                if (recvEc && recvEc != asio::error::operation_aborted) {
                    continue;  // e.g. an ICMP error from an earlier send; keep listening
                }
                break;
            }
            const auto rep = wire::DecodeDatagram({buf.data(), got});
            if (!rep || rep->type() != wire::MsgType::IpSetRep || rep->header.txid != txid) {
                continue;
            }
            const auto body = wire::ParsePayload<wire::IpSetRep>(rep->payload);
            if (!body || !std::equal(macBytes->begin(), macBytes->end(), body->mac)) {
                continue;
            }
            if (body->status != 0) {
                Say(std::string("camera ") + mac + " refused " + ip + ": " +
                    wire::StatusName(body->status));
                return 0;
            }
            if (!std::equal(ipBytes->begin(), ipBytes->end(), body->ip)) {
                Say(std::string("camera ") + mac + " confirmed " + wire::FormatIpv4(body->ip) +
                    ", expected " + ip);
                return 0;
            }
            return 1;
        }
    }
    Say(std::string("no answer from camera ") + mac + " after " +
        std::to_string(config->ipsetAttempts) + " attempt(s)");
    return 0;
}

NIMBREL_API int GetDevList(tNetDeviceInfo* out, int capacity) {
    if (capacity < 0 || (capacity > 0 && out == nullptr)) {
        return -1;
    }
    const auto config = Config();
    if (!config) {
        return -1;
    }
    int count = 0;
    std::string error;
    const bool ok = wire::Discover(
        *config,
        [&](const tNetDeviceInfo& info) {
            if (count < capacity) {
                out[count] = info;
            }
            if (count < INT32_MAX) {
                ++count;
            }
        },
        nullptr, &error);
    if (!ok) {
        Say(error);
        return -1;
    }
    return count;
}

// The exports must match the types the tool looks them up as.
static_assert(std::is_same_v<decltype(&ModifyDevIp), ModifyDevIpFn>);
static_assert(std::is_same_v<decltype(&GetDevList), GetDevListFn>);
