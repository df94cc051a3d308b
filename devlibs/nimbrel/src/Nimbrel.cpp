// The search helper library: IP change by MAC and a device list, loaded at run time.

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "nimbrel.h"
#include "platform/AppFolders.h"
#include "platform/NetAdapters.h"
#include "wire/Addr.h"
#include "wire/Discovery.h"
#include "wire/NetConfig.h"
#include "wire/UdpSocket.h"
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

// The front end's adapter choice (SetInterface), over the configuration's.
std::mutex g_choiceMutex;
std::optional<std::string> g_choice;

// Read on every call, so that a test may point the library at a new lab.
std::optional<wire::NetConfig> Config() {
    std::string error;
    const platform::AppFolders folders = platform::CurrentFolders();
    const auto loaded = wire::LoadNetConfigFrom(folders.configDirs, folders.stateDir, &error);
    if (!loaded) {
        Say(error);
        return std::nullopt;
    }
    wire::NetConfig config = loaded->config;
    std::lock_guard lock(g_choiceMutex);
    if (g_choice) {
        config.adapter = *g_choice;
    }
    return config;
}

// Where the request leaves from: the configured address, else the chosen
// adapter's (bound to it, a limited broadcast leaves by that adapter), else
// the system's choice. Nothing when the chosen adapter is not there.
std::optional<asio::ip::address_v4> SourceAddress(const wire::NetConfig& config) {
    asio::error_code ec;
    const auto bindAddr = asio::ip::make_address_v4(config.bindAddress, ec);
    if (ec) {
        return std::nullopt;
    }
    if (config.adapter.empty() || !bindAddr.is_unspecified()) {
        return bindAddr;
    }
    const auto adapters = platform::ListNetAdapters(nullptr);
    for (const auto& a : adapters ? platform::ChosenAdapters(*adapters, config.adapter)
                                  : std::vector<platform::NetAdapter>{}) {
        if (a.up && a.address != 0) {
            return asio::ip::address_v4(a.address);
        }
    }
    Say("no adapter that is up is named " + config.adapter);
    return std::nullopt;
}

bool ContiguousMask(const wire::Ipv4& m) {
    const uint32_t v =
        (uint32_t{m[0]} << 24) | (uint32_t{m[1]} << 16) | (uint32_t{m[2]} << 8) | m[3];
    return v != 0 && ((~v + 1) & ~v) == 0;
}

bool UsableHost(const wire::Ipv4& ip) {
    return ip[0] != 0 && ip[0] < 224;
}

uint32_t U32(const wire::Ipv4& a) {
    return (uint32_t{a[0]} << 24) | (uint32_t{a[1]} << 16) | (uint32_t{a[2]} << 8) | a[3];
}

struct Change {
    wire::Mac mac{};
    wire::Ipv4 ip{};
    wire::Ipv4 mask{};
    wire::Ipv4 gateway{};  // 0.0.0.0: keep the camera's (IPSET_EX_REQ) or its choice (IPSET_REQ)
    std::string text;      // "MAC -> IP", for the diagnostics
};

std::optional<wire::Ipv4> Ip(const char* text) {
    return wire::ParseIpv4(std::string_view(text, strnlen(text, 64)));
}

// A socket of one IP change: `sends` when the request leaves by it.
struct Port {
    Port(asio::io_context& io, bool sending) : sock(io), sends(sending) {}
    asio::ip::udp::socket sock;
    bool sends;
    std::array<uint8_t, 2048> buf{};
    asio::ip::udp::endpoint from;
};

bool OpenPort(Port& port, const asio::ip::udp::endpoint& at, bool shared, asio::error_code& ec) {
    return wire::OpenUdp(port.sock, at, shared, 0, ec);
}

// The addresses a request leaves from. With the installed defaults, every
// adapter a search goes out on: a limited broadcast from 0.0.0.0 leaves only
// by the preferred route's adapter, and a camera on the cable of a laptop
// whose Wi-Fi holds that route would never hear it.
std::vector<asio::ip::address_v4> Sources(const wire::NetConfig& config) {
    const auto chosen = SourceAddress(config);
    if (!chosen) {
        return {};
    }
    if (!chosen->is_unspecified() || !wire::SearchesEveryAdapter(config)) {
        return {*chosen};
    }
    std::vector<asio::ip::address_v4> out;
    const auto adapters = platform::ListNetAdapters(nullptr);
    for (const auto& a : adapters ? *adapters : std::vector<platform::NetAdapter>{}) {
        const asio::ip::address_v4 address(a.address);
        if (platform::CarriesSearch(a) && std::find(out.begin(), out.end(), address) == out.end()) {
            out.push_back(address);
        }
    }
    if (out.empty()) {
        out.push_back(*chosen);
    }
    return out;
}

// Sends the request and waits for the named camera's answer. `extended` starts
// with IPSET_EX_REQ; a NAK of it within an attempt (a camera on the link that
// predates it) turns the remaining attempts, at least one, into the original
// IPSET_REQ, which every camera takes. Returns 1 when the camera confirmed the
// extended request, 2 when it confirmed the original one, 0 otherwise.
int Exchange(const Change& c, bool extended) {
    const auto config = Config();
    if (!config) {
        return 0;
    }

    asio::io_context io;
    asio::error_code ec;
    const auto target = asio::ip::make_address_v4(config->discoveryAddress, ec);
    if (ec) {
        Say("bad discovery address " + config->discoveryAddress);
        return 0;
    }
    const auto sources = Sources(*config);
    if (sources.empty()) {
        return 0;
    }
    // One socket per address the request leaves from; beside each bound to an
    // adapter's address, one bound to 0.0.0.0 at its port takes the answers a
    // camera without a route back broadcasts (Linux gives those to no socket
    // bound to one address).
    std::vector<std::unique_ptr<Port>> ports;
    for (const auto& from : sources) {
        auto port = std::make_unique<Port>(io, true);
        if (!OpenPort(*port, {from, 0}, !from.is_unspecified(), ec)) {
            Say("cannot open a socket on " + from.to_string() + ": " + ec.message());
            continue;
        }
        const auto at = port->sock.local_endpoint(ec);
        ports.push_back(std::move(port));
        if (!ec && !from.is_unspecified()) {
            auto wide = std::make_unique<Port>(io, false);
            if (OpenPort(*wide, {asio::ip::address_v4::any(), at.port()}, true, ec)) {
                ports.push_back(std::move(wide));
            }
        }
    }
    if (ports.empty()) {
        return 0;
    }
    std::deque<std::vector<uint8_t>> arrived;
    std::function<void(Port&)> receive = [&](Port& port) {
        port.sock.async_receive_from(
            asio::buffer(port.buf), port.from, [&, p = &port](const asio::error_code& e, size_t n) {
                if (e == asio::error::operation_aborted) {
                    return;
                }
                if (!e && arrived.size() < 256) {
                    arrived.emplace_back(p->buf.begin(), p->buf.begin() + n);
                }
                io.stop();  // one to look at
                receive(*p);
            });
    };
    for (auto& port : ports) {
        receive(*port);
    }
    struct Drain {
        asio::io_context& io;
        std::vector<std::unique_ptr<Port>>& ports;
        ~Drain() {
            for (auto& port : ports) {
                asio::error_code ignored;
                port->sock.cancel(ignored);
            }
            io.restart();
            io.run();
        }
    } drain{io, ports};

    // Each call has its own socket and transaction id, so thirty calls at once
    // never take one another's answers.
    const uint32_t txid = wire::RandomTxid();
    wire::IpSetReq req{};
    std::copy(c.mac.begin(), c.mac.end(), req.mac);
    std::copy(c.ip.begin(), c.ip.end(), req.ip);
    std::copy(c.mask.begin(), c.mask.end(), req.mask);
    std::copy(c.gateway.begin(), c.gateway.end(), req.gateway);
    const auto original = wire::EncodeFrame(wire::MsgType::IpSetReq, txid, req);
    wire::IpSetExReq exReq{};
    std::memcpy(&exReq, &req, sizeof exReq);
    const auto ex = wire::EncodeFrame(wire::MsgType::IpSetExReq, txid, exReq);
    const asio::ip::udp::endpoint dest(target, config->ipsetPort);

    bool useEx = extended;
    bool nakSeen = false;
    int attempts = config->ipsetAttempts;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        bool sent = false;
        std::string sendError;
        for (auto& port : ports) {
            asio::error_code sendEc;
            if (port->sends) {
                port->sock.send_to(asio::buffer(useEx ? ex : original), dest, 0, sendEc);
                sent = sent || !sendEc;
                if (sendEc) {
                    sendError = sendEc.message();
                }
            }
        }
        if (!sent) {
            Say("cannot send to " + config->discoveryAddress + ": " + sendError);
            return 0;
        }
        const auto deadline =
            SteadyClock::now() + std::chrono::milliseconds(config->ipsetTimeoutMs);
        for (;;) {
            const auto now = SteadyClock::now();
            if (arrived.empty()) {
                if (now >= deadline) {
                    break;
                }
                io.restart();
                io.run_for(deadline - now);
                continue;
            }
            const std::vector<uint8_t> datagram = std::move(arrived.front());
            arrived.pop_front();
            const auto rep = wire::DecodeDatagram(datagram);
            if (!rep || rep->header.txid != txid) {
                continue;
            }
            if (rep->type() == wire::MsgType::Nak) {
                // A NAK names no camera: any older camera on the link sends one.
                // The named camera may still answer within this attempt.
                const auto nak = wire::ParsePayload<wire::Nak>(rep->payload);
                if (nak && nak->rejectedType == static_cast<uint8_t>(wire::MsgType::IpSetExReq)) {
                    nakSeen = true;
                }
                continue;
            }
            uint32_t status = 0;
            const uint8_t* repMac = nullptr;
            const uint8_t* repIp = nullptr;
            const uint8_t* repMask = nullptr;
            const uint8_t* repGateway = nullptr;
            std::optional<wire::IpSetRep> old;
            std::optional<wire::IpSetExRep> neu;
            if (rep->type() == wire::MsgType::IpSetRep &&
                (old = wire::ParsePayload<wire::IpSetRep>(rep->payload))) {
                status = old->status;
                repMac = old->mac;
                repIp = old->ip;
                repMask = old->mask;
            } else if (rep->type() == wire::MsgType::IpSetExRep &&
                       (neu = wire::ParsePayload<wire::IpSetExRep>(rep->payload))) {
                status = neu->status;
                repMac = neu->mac;
                repIp = neu->ip;
                repMask = neu->mask;
                repGateway = neu->gateway;
            } else {
                continue;
            }
            if (!std::equal(c.mac.begin(), c.mac.end(), repMac)) {
                continue;
            }
            if (status != 0) {
                Say("camera " + c.text + " refused: " + wire::StatusName(status));
                return 0;
            }
            if (!std::equal(c.ip.begin(), c.ip.end(), repIp)) {
                Say("camera " + c.text + " confirmed " + wire::FormatIpv4(repIp) + " instead");
                return 0;
            }
            if (extended && !std::equal(c.mask.begin(), c.mask.end(), repMask)) {
                Say("camera " + c.text + " confirmed mask " + wire::FormatIpv4(repMask));
                return 0;
            }
            if (repGateway != nullptr && U32(c.gateway) != 0 &&
                !std::equal(c.gateway.begin(), c.gateway.end(), repGateway)) {
                Say("camera " + c.text + " confirmed gateway " + wire::FormatIpv4(repGateway));
                return 0;
            }
            return repGateway != nullptr ? 1 : 2;
        }
        if (useEx && nakSeen) {
            Say("camera " + c.text + ": IPSET_EX_REQ refused by an older camera, using IPSET_REQ");
            useEx = false;
            attempts = std::max(attempts, attempt + 2);
        }
    }
    Say("no answer from camera " + c.text + " after " + std::to_string(attempts) + " attempt(s)");
    return 0;
}

}  // namespace

NIMBREL_API int ModifyDevIp(const char* mac, const char* ip, const char* mask) {
    if (mac == nullptr || ip == nullptr || mask == nullptr) {
        return 0;
    }
    const auto macBytes = wire::ParseMac(std::string_view(mac, strnlen(mac, 64)));
    const auto ipBytes = Ip(ip);
    const auto maskBytes = Ip(mask);
    if (!macBytes || !ipBytes || !maskBytes || !UsableHost(*ipBytes) ||
        !ContiguousMask(*maskBytes)) {
        Say("bad arguments to ModifyDevIp");
        return 0;
    }
    Change c;
    c.mac = *macBytes;
    c.ip = *ipBytes;
    c.mask = *maskBytes;
    c.text = std::string(mac) + " -> " + ip;
    return Exchange(c, false) != 0 ? 1 : 0;
}

NIMBREL_API int ModifyDevIpEx(const char* mac, const char* ip, const char* mask,
                              const char* gateway) {
    if (mac == nullptr || ip == nullptr || mask == nullptr) {
        return 0;
    }
    const auto macBytes = wire::ParseMac(std::string_view(mac, strnlen(mac, 64)));
    const auto ipBytes = Ip(ip);
    const auto maskBytes = Ip(mask);
    const bool keepGateway = gateway == nullptr || gateway[0] == '\0';
    const auto gatewayBytes = keepGateway ? std::optional<wire::Ipv4>(wire::Ipv4{}) : Ip(gateway);
    if (!macBytes || !ipBytes || !maskBytes || !gatewayBytes || !UsableHost(*ipBytes) ||
        !ContiguousMask(*maskBytes)) {
        Say("bad arguments to ModifyDevIpEx");
        return 0;
    }
    const uint32_t m = U32(*maskBytes);
    const uint32_t host = U32(*ipBytes) & ~m;
    const uint32_t gwHost = U32(*gatewayBytes) & ~m;
    if (host == 0 || host == ~m) {
        Say("ModifyDevIpEx: " + std::string(ip) + " is the subnet's network or broadcast address");
        return 0;
    }
    if (!keepGateway && ((U32(*gatewayBytes) & m) != (U32(*ipBytes) & m) || gwHost == 0 ||
                         gwHost == ~m || *gatewayBytes == *ipBytes)) {
        Say("ModifyDevIpEx: gateway " + std::string(gateway) + " is not a host of the new subnet");
        return 0;
    }
    Change c;
    c.mac = *macBytes;
    c.ip = *ipBytes;
    c.mask = *maskBytes;
    c.gateway = *gatewayBytes;
    c.text = std::string(mac) + " -> " + ip;
    return Exchange(c, true);
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
static_assert(std::is_same_v<decltype(&ModifyDevIpEx), ModifyDevIpExFn>);

// As Net_SetInterface: the one adapter IP changes leave by, "" the system's
// way, NULL the configuration's choice again. 0 for a text that cannot be an
// adapter's (too long, control characters), else 1.
NIMBREL_API int SetInterface(const char* nameOrAddress) {
    std::optional<std::string> choice;
    if (!wire::ReadAdapterChoice(nameOrAddress, &choice)) {
        return 0;
    }
    std::lock_guard lock(g_choiceMutex);
    g_choice = choice;
    return 1;
}
