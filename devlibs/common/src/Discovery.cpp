#include "wire/Discovery.h"

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>

#include "platform/NetAdapters.h"
#include "wire/Addr.h"
#include "wire/UdpSocket.h"
#include "wire/Wire.h"

namespace wire {

using SteadyClock = std::chrono::steady_clock;

void TerminateTexts(tNetDeviceInfo& info) {
    info.szDevType[sizeof(info.szDevType) - 1] = '\0';
    info.szSoftVersion[sizeof(info.szSoftVersion) - 1] = '\0';
    info.szHardVersion[sizeof(info.szHardVersion) - 1] = '\0';
}

uint32_t RandomTxid() {
    static std::mutex mutex;
    static std::mt19937 rng{std::random_device{}()};
    std::lock_guard lock(mutex);
    uint32_t v = 0;
    while (v == 0) {
        v = static_cast<uint32_t>(rng());
    }
    return v;
}

bool SearchesEveryAdapter(const NetConfig& config) {
    return config.discoveryAddress == "255.255.255.255" && config.bindAddress == "0.0.0.0";
}

namespace {

// A receiving socket and its buffer.
struct Port {
    explicit Port(asio::io_context& io) : sock(io) {}
    asio::ip::udp::socket sock;
    std::array<uint8_t, 4096> buf{};
    asio::ip::udp::endpoint from;
};

// One way out of a search: where its probes go and the adapter it stands for.
struct Leg {
    explicit Leg(asio::io_context& io) : main(io) {}
    Port main;
    // Bound to the wildcard address at main's port: Linux gives a socket bound
    // to one address no broadcasts, and a camera without a route back answers
    // by limited broadcast to the probe's source port.
    std::unique_ptr<Port> wide;
    std::vector<asio::ip::udp::endpoint> dests;
    AnsweredOn on;
};

bool OpenPort(Port& port, const asio::ip::udp::endpoint& at, bool shared, asio::error_code& ec) {
    // A thousand answers may arrive within a few milliseconds.
    return OpenUdp(port.sock, at, shared, 4 * 1024 * 1024, ec);
}

}  // namespace

bool Discover(const NetConfig& config, const std::function<void(const tNetDeviceInfo&)>& onDevice,
              DiscoveryStats* stats, std::string* error, int maxCameras,
              const std::function<void()>& onLimit) {
    return DiscoverOn(
        config, [&](const tNetDeviceInfo& info, const AnsweredOn&) { onDevice(info); }, stats,
        error, maxCameras, onLimit);
}

bool DiscoverOn(const NetConfig& config,
                const std::function<void(const tNetDeviceInfo&, const AnsweredOn&)>& onDevice,
                DiscoveryStats* stats, std::string* error, int maxCameras,
                const std::function<void()>& onLimit) {
    DiscoveryStats local;
    DiscoveryStats& st = stats ? *stats : local;
    st = {};
    const auto start = SteadyClock::now();

    asio::io_context io;
    asio::error_code ec;
    const auto bindAddr = asio::ip::make_address_v4(config.bindAddress, ec);
    const auto target = asio::ip::make_address_v4(config.discoveryAddress, ec);
    if (ec) {
        if (error) {
            *error = "bad discovery address " + config.discoveryAddress;
        }
        return false;
    }
    // The adapters a chosen `interface` names, up; a choice that names none
    // fails the search rather than search elsewhere.
    std::vector<platform::NetAdapter> chosen;
    if (!config.adapter.empty()) {
        std::string why;
        const auto adapters = platform::ListNetAdapters(&why);
        for (const auto& a : adapters ? platform::ChosenAdapters(*adapters, config.adapter)
                                      : std::vector<platform::NetAdapter>{}) {
            if (a.up && a.address != 0) {
                chosen.push_back(a);
            }
        }
        if (chosen.empty()) {
            if (error) {
                *error = "no adapter that is up is named " + config.adapter +
                         (why.empty() ? "" : " (" + why + ")");
            }
            return false;
        }
    }
    std::vector<std::unique_ptr<Leg>> legs;
    if (SearchesEveryAdapter(config)) {
        // A limited broadcast leaves only by the preferred route's adapter
        // unless the socket is bound to another adapter's address: Linux and
        // Windows then send it out of that adapter. The directed broadcast
        // follows the subnet's route on its own.
        // A listing the system refuses leaves the one socket below.
        std::vector<platform::NetAdapter> adapters = chosen;
        if (config.adapter.empty()) {
            auto listed = platform::ListNetAdapters(nullptr);
            for (const auto& a : listed ? *listed : std::vector<platform::NetAdapter>{}) {
                if (platform::CarriesSearch(a)) {
                    adapters.push_back(a);
                }
            }
        }
        std::set<uint32_t> bound;
        for (const auto& a : adapters) {
            if (!bound.insert(a.address).second) {
                continue;
            }
            auto leg = std::make_unique<Leg>(io);
            if (!OpenPort(leg->main, {asio::ip::address_v4(a.address), 0}, true, ec)) {
                continue;  // an address that vanished since the listing
            }
            const auto port = leg->main.sock.local_endpoint(ec).port();
            leg->wide = std::make_unique<Port>(io);
            if (ec || !OpenPort(*leg->wide, {asio::ip::address_v4::any(), port}, true, ec)) {
                leg->wide.reset();  // unicast answers still arrive
            }
            leg->dests.emplace_back(target, config.discoveryPort);
            if (const uint32_t directed = platform::DirectedBroadcast(a); directed != 0) {
                leg->dests.emplace_back(asio::ip::address_v4(directed), config.discoveryPort);
            }
            leg->on = {a.name, a.address, a.prefix};
            st.adapters.push_back(platform::DescribeAdapter(a));
            legs.push_back(std::move(leg));
        }
    }
    if (legs.empty()) {
        // An explicit address, or no adapter to stand for: one socket, the
        // system picks the way out. A chosen adapter gives the socket its
        // address when the configuration names none.
        auto leg = std::make_unique<Leg>(io);
        auto from = bindAddr;
        if (!chosen.empty() && bindAddr.is_unspecified()) {
            from = asio::ip::address_v4(chosen.front().address);
            leg->on = {chosen.front().name, chosen.front().address, chosen.front().prefix};
            st.adapters.push_back(platform::DescribeAdapter(chosen.front()));
        }
        if (!OpenPort(leg->main, {from, 0}, false, ec)) {
            if (error) {
                *error = "cannot open the discovery socket: " + ec.message();
            }
            return false;
        }
        leg->dests.emplace_back(target, config.discoveryPort);
        legs.push_back(std::move(leg));
    }

    const uint32_t txid = RandomTxid();
    DiscoverReq req{};
    req.spreadMs = static_cast<uint16_t>(config.discoverySpreadMs);
    const auto probe = EncodeFrame(MsgType::DiscoverReq, txid, req);

    const auto interval = std::chrono::milliseconds(config.discoveryProbeIntervalMs);
    const auto quiet = std::chrono::milliseconds(config.discoveryQuietMs);
    const auto deadline = start + std::chrono::milliseconds(config.discoveryDeadlineMs);
    auto nextProbe = start;
    auto lastEvent = start;  // last probe sent or new camera seen
    std::set<Mac> seen;
    bool stopping = false;

    const auto take = [&](const Port& port, const Leg& leg, size_t size) {
        ++st.datagrams;
        const auto frame = DecodeDatagram({port.buf.data(), size});
        if (!frame || frame->type() != MsgType::DiscoverRep || frame->header.txid != txid) {
            ++st.dropped;
            return;
        }
        auto info = ParsePayload<tNetDeviceInfo>(frame->payload);
        if (!info || info->uiRecordVersion != 1) {
            ++st.dropped;
            return;
        }
        Mac mac{};
        std::copy(std::begin(info->ucMac), std::end(info->ucMac), mac.begin());
        if (st.cameras >= maxCameras && !seen.contains(mac)) {
            if (st.beyondLimit++ == 0 && onLimit) {
                onLimit();
            }
            return;
        }
        // A camera seen on two adapters (or by both broadcasts) is one camera;
        // it stays with the adapter that heard it first.
        if (!seen.insert(mac).second) {
            ++st.duplicates;
            return;
        }
        TerminateTexts(*info);
        ++st.cameras;
        lastEvent = SteadyClock::now();
        onDevice(*info, leg.on);
    };
    std::function<void(Port&, const Leg&)> receive = [&](Port& port, const Leg& leg) {
        port.sock.async_receive_from(
            asio::buffer(port.buf), port.from,
            [&receive, &take, &stopping, p = &port, l = &leg](const asio::error_code& e, size_t n) {
                if (stopping || e == asio::error::operation_aborted) {
                    return;
                }
                if (!e) {
                    take(*p, *l, n);
                }
                receive(*p, *l);
            });
    };
    for (auto& leg : legs) {
        receive(leg->main, *leg);
        if (leg->wide) {
            receive(*leg->wide, *leg);
        }
    }

    for (;;) {
        auto now = SteadyClock::now();
        if (st.probesSent < config.discoveryProbes && now >= nextProbe) {
            bool anySent = false;
            std::string sendError;
            for (auto& leg : legs) {
                for (const auto& dest : leg->dests) {
                    asio::error_code sendEc;
                    leg->main.sock.send_to(asio::buffer(probe), dest, 0, sendEc);
                    if (sendEc) {
                        sendError = dest.address().to_string() + ": " + sendEc.message();
                    } else {
                        anySent = true;
                    }
                }
            }
            if (!anySent && st.probesSent == 0 && st.datagrams == 0) {
                if (error) {
                    *error = "cannot send the discovery probe to " + config.discoveryAddress +
                             ": " + sendError;
                }
                stopping = true;
                break;
            }
            ++st.probesSent;
            nextProbe += interval;
            lastEvent = now;
        }
        if (now >= deadline) {
            break;
        }
        if (st.probesSent >= config.discoveryProbes && now - lastEvent >= quiet) {
            break;
        }
        auto wakeAt = std::min(deadline, lastEvent + quiet);
        if (st.probesSent < config.discoveryProbes) {
            wakeAt = std::min(wakeAt, nextProbe);
        }
        io.restart();
        if (wakeAt > now) {
            io.run_for(wakeAt - now);
        } else {
            io.poll();
        }
    }
    const bool failed = stopping;
    stopping = true;
    for (auto& leg : legs) {
        asio::error_code ignored;
        leg->main.sock.cancel(ignored);
        if (leg->wide) {
            leg->wide->sock.cancel(ignored);
        }
    }
    io.restart();
    io.run();
    st.elapsedMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
    return !failed;
}

int ProbeOne(const NetConfig& config, const std::string& ip, int timeoutMs, tNetDeviceInfo* info,
             std::string* error) {
    asio::io_context io;
    asio::ip::udp::socket sock(io);
    asio::error_code ec;
    const auto bindAddr = asio::ip::make_address_v4(config.bindAddress, ec);
    const auto target = ec ? asio::ip::address_v4() : asio::ip::make_address_v4(ip, ec);
    if (ec) {
        if (error) {
            *error = "bad address " + ip;
        }
        return -1;
    }
    sock.open(asio::ip::udp::v4(), ec);
    if (!ec) {
        sock.bind(asio::ip::udp::endpoint(bindAddr, 0), ec);
    }
    const uint32_t txid = RandomTxid();
    const auto probe = EncodeFrame(MsgType::DiscoverReq, txid, DiscoverReq{});
    if (!ec) {
        sock.send_to(asio::buffer(probe), asio::ip::udp::endpoint(target, config.discoveryPort), 0,
                     ec);
    }
    if (ec) {
        if (error) {
            *error = ec.message();
        }
        return -1;
    }
    const auto want = target.to_bytes();
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    std::array<uint8_t, 4096> buf{};
    asio::ip::udp::endpoint from;
    for (;;) {
        const auto now = SteadyClock::now();
        if (now >= deadline) {
            return 0;
        }
        bool arrived = false;
        size_t size = 0;
        asio::error_code recvEc;
        sock.async_receive_from(asio::buffer(buf), from, [&](const asio::error_code& e, size_t n) {
            arrived = true;
            recvEc = e;
            size = n;
        });
        io.restart();
        io.run_for(deadline - now);
        if (!arrived) {
            asio::error_code ignored;
            sock.cancel(ignored);
            io.restart();
            io.run();
            return 0;
        }
        if (recvEc) {
            continue;
        }
        const auto frame = DecodeDatagram({buf.data(), size});
        if (!frame || frame->type() != MsgType::DiscoverRep || frame->header.txid != txid) {
            continue;
        }
        auto rec = ParsePayload<tNetDeviceInfo>(frame->payload);
        // Where one socket answers for several cameras, only the one asked counts.
        if (!rec || rec->uiRecordVersion != 1 ||
            !std::equal(std::begin(rec->ucIp), std::end(rec->ucIp), want.begin())) {
            continue;
        }
        TerminateTexts(*rec);
        *info = *rec;
        return 1;
    }
}

}  // namespace wire

namespace wire {
namespace {

// The adapter the system sends to `target` by: a socket connected there (no
// packet leaves) names the local address, which an adapter holds or whose
// subnet holds it. Empty when the listing names none.
AnsweredOn RouteAdapter(asio::io_context& io, uint32_t target, uint16_t port,
                        const std::vector<platform::NetAdapter>& adapters) {
    asio::ip::udp::socket sock(io);
    asio::error_code ec;
    sock.open(asio::ip::udp::v4(), ec);
    if (!ec) {
        sock.connect({asio::ip::address_v4(target), port}, ec);
    }
    const uint32_t local = ec ? 0 : sock.local_endpoint(ec).address().to_v4().to_uint();
    if (ec || local == 0) {
        return {};
    }
    const platform::NetAdapter* holder = nullptr;
    for (const auto& a : adapters) {
        if (a.address == local) {
            return {a.name, a.address, a.prefix};
        }
        if (holder == nullptr && a.up && platform::InSubnet(a, local)) {
            holder = &a;
        }
    }
    return holder ? AnsweredOn{holder->name, holder->address, holder->prefix} : AnsweredOn{};
}

}  // namespace

bool Scan(const NetConfig& config, const std::vector<uint32_t>& addresses,
          const std::function<void(const tNetDeviceInfo&, const AnsweredOn&)>& onDevice,
          ScanStats* stats, std::string* error, const std::function<bool()>& cancelled) {
    ScanStats local;
    ScanStats& st = stats ? *stats : local;
    st = {};
    const auto start = SteadyClock::now();
    const auto fail = [&](std::string why) {
        if (error) {
            *error = std::move(why);
        }
        return false;
    };
    if (addresses.empty() || addresses.size() > static_cast<size_t>(kMaxScanAddresses)) {
        return fail("a scan asks 1 to " + std::to_string(kMaxScanAddresses) + " addresses");
    }
    st.asked = static_cast<int>(addresses.size());

    asio::io_context io;
    asio::error_code ec;
    auto from = asio::ip::make_address_v4(config.bindAddress, ec);
    if (ec) {
        return fail("bad bind address " + config.bindAddress);
    }
    std::string why;
    const auto listed = platform::ListNetAdapters(&why);
    const std::vector<platform::NetAdapter> adapters =
        listed ? *listed : std::vector<platform::NetAdapter>{};
    // A chosen adapter gives the socket its address; the system still routes
    // each probe, as it routes any unicast.
    AnsweredOn chosenOn;
    if (!config.adapter.empty()) {
        for (const auto& a : platform::ChosenAdapters(adapters, config.adapter)) {
            if (a.up && a.address != 0) {
                chosenOn = {a.name, a.address, a.prefix};
                break;
            }
        }
        if (chosenOn.address == 0) {
            return fail("no adapter that is up is named " + config.adapter +
                        (why.empty() ? "" : " (" + why + ")"));
        }
        if (from.is_unspecified()) {
            from = asio::ip::address_v4(chosenOn.address);
        }
    }
    Port main(io);
    if (!OpenPort(main, {from, 0}, true, ec)) {
        return fail("cannot open the scan socket: " + ec.message());
    }
    // Bound to one address, the socket misses the limited broadcast by which
    // a camera without a route back answers; the wildcard one at its port does not.
    std::unique_ptr<Port> wide;
    if (!from.is_unspecified() && !from.is_loopback()) {
        wide = std::make_unique<Port>(io);
        const auto port = main.sock.local_endpoint(ec).port();
        if (ec || !OpenPort(*wide, {asio::ip::address_v4::any(), port}, true, ec)) {
            wide.reset();
        }
    }

    const uint32_t txid = RandomTxid();
    const auto probe = EncodeFrame(MsgType::DiscoverReq, txid, DiscoverReq{});
    const std::set<uint32_t> asked(addresses.begin(), addresses.end());
    std::set<uint32_t> answered;
    std::set<Mac> seen;
    std::map<uint32_t, AnsweredOn> routes;  // by the camera's address
    auto lastEvent = start;
    bool stopping = false;

    const auto take = [&](const Port& port, size_t size) {
        ++st.datagrams;
        const auto frame = DecodeDatagram({port.buf.data(), size});
        if (!frame || frame->type() != MsgType::DiscoverRep || frame->header.txid != txid) {
            ++st.dropped;
            return;
        }
        auto info = ParsePayload<tNetDeviceInfo>(frame->payload);
        const uint32_t ip = info ? (uint32_t{info->ucIp[0]} << 24) |
                                       (uint32_t{info->ucIp[1]} << 16) |
                                       (uint32_t{info->ucIp[2]} << 8) | info->ucIp[3]
                                 : 0;
        if (!info || info->uiRecordVersion != 1 || !asked.contains(ip)) {
            ++st.dropped;
            return;
        }
        answered.insert(ip);
        Mac mac{};
        std::copy(std::begin(info->ucMac), std::end(info->ucMac), mac.begin());
        if (st.cameras >= kMaxCamerasPerSearch || !seen.insert(mac).second) {
            return;
        }
        TerminateTexts(*info);
        ++st.cameras;
        lastEvent = SteadyClock::now();
        AnsweredOn on = chosenOn;
        if (on.address == 0) {
            auto it = routes.find(ip);
            if (it == routes.end()) {
                it = routes.emplace(ip, RouteAdapter(io, ip, config.discoveryPort, adapters)).first;
            }
            on = it->second;
        }
        onDevice(*info, on);
    };
    std::function<void(Port&)> receive = [&](Port& port) {
        port.sock.async_receive_from(
            asio::buffer(port.buf), port.from,
            [&receive, &take, &stopping, p = &port](const asio::error_code& e, size_t n) {
                if (stopping || e == asio::error::operation_aborted) {
                    return;
                }
                if (!e) {
                    take(*p, n);
                }
                // Other errors (an ICMP refusal reported on Windows) end no scan.
                receive(*p);
            });
    };
    receive(main);
    if (wide) {
        receive(*wide);
    }

    // Probes leave in small bursts every few milliseconds, at the configured
    // rate on average.
    const auto tick = std::chrono::milliseconds(5);
    const double perMs = config.scanRate / 1000.0;
    const auto pause = std::chrono::milliseconds(config.discoveryProbeIntervalMs);
    const auto quiet = std::chrono::milliseconds(config.discoveryQuietMs);
    std::string sendError;
    for (int round = 0; round < kScanRounds && !st.cancelled; ++round) {
        std::vector<uint32_t> todo;
        for (const uint32_t ip : addresses) {
            if (!answered.contains(ip)) {
                todo.push_back(ip);
            }
        }
        if (todo.empty()) {
            break;
        }
        const auto roundStart = SteadyClock::now();
        size_t sent = 0;
        while (sent < todo.size()) {
            if (cancelled && cancelled()) {
                st.cancelled = true;
                break;
            }
            const auto now = SteadyClock::now();
            const double ms = std::chrono::duration<double, std::milli>(now - roundStart).count();
            const size_t due = std::min(todo.size(), static_cast<size_t>(ms * perMs) + 1);
            for (; sent < due; ++sent) {
                asio::error_code sendEc;
                main.sock.send_to(asio::buffer(probe),
                                  {asio::ip::address_v4(todo[sent]), config.discoveryPort}, 0,
                                  sendEc);
                if (sendEc) {
                    ++st.sendErrors;
                    sendError =
                        asio::ip::address_v4(todo[sent]).to_string() + ": " + sendEc.message();
                } else {
                    ++st.probesSent;
                }
            }
            lastEvent = SteadyClock::now();
            io.restart();
            io.run_for(tick);
        }
        if (st.probesSent == 0 && round == 0 && !st.cancelled) {
            stopping = true;
            break;
        }
        // The next round, or the end: a wait for the answers still on their way.
        const auto wait = round + 1 < kScanRounds ? pause : quiet;
        for (;;) {
            if (cancelled && cancelled()) {
                st.cancelled = true;
                break;
            }
            const auto now = SteadyClock::now();
            if (answered.size() == asked.size() || now - lastEvent >= wait) {
                break;
            }
            io.restart();
            io.run_for(std::min<SteadyClock::duration>(tick * 4, lastEvent + wait - now));
        }
    }
    const bool failed = st.probesSent == 0 && !st.cancelled;
    stopping = true;
    asio::error_code ignored;
    main.sock.cancel(ignored);
    if (wide) {
        wide->sock.cancel(ignored);
    }
    io.restart();
    io.run();
    st.elapsedMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
    if (failed) {
        return fail("cannot send the scan's probes: " + sendError);
    }
    return true;
}

}  // namespace wire
