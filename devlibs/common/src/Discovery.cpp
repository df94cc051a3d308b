#include "wire/Discovery.h"

#include <asio.hpp>
#include <chrono>
#include <mutex>
#include <random>
#include <set>

#include "wire/Addr.h"
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

bool Discover(const NetConfig& config, const std::function<void(const tNetDeviceInfo&)>& onDevice,
              DiscoveryStats* stats, std::string* error, int maxCameras,
              const std::function<void()>& onLimit) {
    DiscoveryStats local;
    DiscoveryStats& st = stats ? *stats : local;
    st = {};
    const auto start = SteadyClock::now();

    asio::io_context io;
    asio::ip::udp::socket sock(io);
    asio::error_code ec;
    const auto bindAddr = asio::ip::make_address_v4(config.bindAddress, ec);
    const auto target = asio::ip::make_address_v4(config.discoveryAddress, ec);
    if (ec) {
        if (error) {
            *error = "bad discovery address " + config.discoveryAddress;
        }
        return false;
    }
    sock.open(asio::ip::udp::v4(), ec);
    if (!ec) {
        sock.set_option(asio::socket_base::broadcast(true), ec);
    }
    if (!ec) {
        // A thousand answers may arrive within a few milliseconds.
        asio::error_code ignored;
        sock.set_option(asio::socket_base::receive_buffer_size(4 * 1024 * 1024), ignored);
        sock.bind(asio::ip::udp::endpoint(bindAddr, 0), ec);
    }
    if (ec) {
        if (error) {
            *error = "cannot open the discovery socket: " + ec.message();
        }
        return false;
    }

    const uint32_t txid = RandomTxid();
    DiscoverReq req{};
    req.spreadMs = static_cast<uint16_t>(config.discoverySpreadMs);
    const auto probe = EncodeFrame(MsgType::DiscoverReq, txid, req);
    const asio::ip::udp::endpoint dest(target, config.discoveryPort);

    const auto interval = std::chrono::milliseconds(config.discoveryProbeIntervalMs);
    const auto quiet = std::chrono::milliseconds(config.discoveryQuietMs);
    const auto deadline = start + std::chrono::milliseconds(config.discoveryDeadlineMs);
    auto nextProbe = start;
    auto lastEvent = start;  // last probe sent or new camera seen
    std::set<Mac> seen;

    std::array<uint8_t, 4096> buf{};
    asio::ip::udp::endpoint from;
    bool pending = false;
    bool arrived = false;
    size_t arrivedSize = 0;
    asio::error_code recvEc;

    for (;;) {
        auto now = SteadyClock::now();
        if (st.probesSent < config.discoveryProbes && now >= nextProbe) {
            asio::error_code sendEc;
            sock.send_to(asio::buffer(probe), dest, 0, sendEc);
            if (sendEc && st.probesSent == 0 && st.datagrams == 0) {
                if (error) {
                    *error = "cannot send the discovery probe to " + config.discoveryAddress +
                             ": " + sendEc.message();
                }
                return false;
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
        if (!pending) {
            pending = true;
            arrived = false;
            sock.async_receive_from(asio::buffer(buf), from,
                                    [&](const asio::error_code& e, size_t n) {
                                        pending = false;
                                        arrived = true;
                                        recvEc = e;
                                        arrivedSize = n;
                                    });
        }
        io.restart();
        if (wakeAt > now) {
            io.run_for(wakeAt - now);
        } else {
            io.poll();
        }
        if (!arrived) {
            continue;  // time for the next probe or the end; the receive stays posted
        }
        arrived = false;
        if (recvEc) {
            continue;
        }
        ++st.datagrams;
        const auto frame = DecodeDatagram({buf.data(), arrivedSize});
        if (!frame || frame->type() != MsgType::DiscoverRep || frame->header.txid != txid) {
            ++st.dropped;
            continue;
        }
        auto info = ParsePayload<tNetDeviceInfo>(frame->payload);
        if (!info || info->uiRecordVersion != 1) {
            ++st.dropped;
            continue;
        }
        Mac mac{};
        std::copy(std::begin(info->ucMac), std::end(info->ucMac), mac.begin());
        if (st.cameras >= maxCameras && !seen.contains(mac)) {
            if (st.beyondLimit++ == 0 && onLimit) {
                onLimit();
            }
            continue;
        }
        if (!seen.insert(mac).second) {
            ++st.duplicates;
            continue;
        }
        TerminateTexts(*info);
        ++st.cameras;
        lastEvent = SteadyClock::now();
        onDevice(*info);
    }
    if (pending) {
        asio::error_code ignored;
        sock.cancel(ignored);
        io.restart();
        io.run();
    }
    st.elapsedMs = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count());
    return true;
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
