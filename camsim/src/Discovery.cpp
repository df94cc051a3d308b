// Discovery: every camera answers every probe with its device record, from its
// own address, after a random part of the probe's spread. On loopback a
// probe sent to one camera's address reaches that camera only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Internal.h"
#include "wire/Addr.h"
#include "wire/Wire.h"

namespace camsim {

using asio::ip::udp;

void Simulator::ReceiveDiscovery() {
    discovery_.async_receive_from(
        asio::buffer(discoveryBuf_), discoveryFrom_,
        [this](const asio::error_code& ec, std::size_t n) {
            if (ec == asio::error::operation_aborted) {
                return;
            }
            if (!ec) {
                auto frame = wire::DecodeDatagram({discoveryBuf_.data(), n});
                if (frame && frame->type() == wire::MsgType::DiscoverReq) {
                    auto req = wire::ParsePayload<wire::DiscoverReq>(frame->payload);
                    OnDiscover(discoveryFrom_, frame->header.txid,
                               std::min<std::uint16_t>(req ? req->spreadMs : 0, 10000));
                }
            }
            ReceiveDiscovery();
        });
}

void Simulator::OnDiscover(const udp::endpoint& from, std::uint32_t txid, std::uint16_t spreadMs) {
    for (auto& cam : cams_) {
        // The shared socket takes broadcasts, which do not cross a router.
        if (!cam->model.faults.routed || !cam->probe) {
            AnswerDiscover(*cam, from, txid, spreadMs);
        }
    }
}

void Simulator::AnswerDiscover(Camera& cam, const udp::endpoint& from, std::uint32_t txid,
                               std::uint16_t spreadMs) {
    const Faults& f = cam.model.faults;
    if (f.silent || cam.rebooting) {
        return;
    }
    const int times = f.discoveryTwice ? 2 : 1;
    for (int t = 0; t < times; ++t) {
        auto frame = wire::EncodeFrame(wire::MsgType::DiscoverRep, txid, Record(cam));
        if (f.malformed) {
            Spoil(frame);
        }
        SendUdp(cam.index, std::move(frame), from, Random(spreadMs) + f.replyDelayMs);
    }
}

void Simulator::OpenProbe(Camera& cam, const Ipv4& ip) {
    auto sock = std::make_unique<udp::socket>(io_);
    asio::error_code ec;
    sock->open(udp::v4(), ec);
    if (!ec) {
        sock->set_option(udp::socket::reuse_address(true), ec);
    }
    if (!ec) {
        sock->bind(udp::endpoint(ToAsio(ip), discoveryPort_), ec);
    }
    if (cam.probe) {
        cam.probe->close(ec);
    }
    cam.probe.reset();
    if (ec) {
        // It still answers broadcasts; only a search by address misses it.
        log_.Line("%s no probe socket: %s", FormatIpv4(ip).c_str(), ec.message().c_str());
        return;
    }
    cam.probe = std::move(sock);
    ReceiveProbe(cam);
}

void Simulator::ReceiveProbe(Camera& cam) {
    udp::socket* sock = cam.probe.get();
    sock->async_receive_from(
        asio::buffer(cam.probeBuf), cam.probeFrom,
        [this, &cam, sock](const asio::error_code& ec, std::size_t n) {
            if (ec == asio::error::operation_aborted || cam.probe.get() != sock) {
                return;  // closed: the camera moved or the simulator stops
            }
            if (!ec) {
                auto frame = wire::DecodeDatagram({cam.probeBuf.data(), n});
                if (frame && frame->type() == wire::MsgType::DiscoverReq) {
                    auto req = wire::ParsePayload<wire::DiscoverReq>(frame->payload);
                    AnswerDiscover(cam, cam.probeFrom, frame->header.txid,
                                   std::min<std::uint16_t>(req ? req->spreadMs : 0, 10000));
                }
            }
            ReceiveProbe(cam);
        });
}

tNetDeviceInfo Simulator::Record(const Camera& cam) const {
    tNetDeviceInfo r{};
    r.uiRecordVersion = 1;
    std::copy(cam.model.mac.begin(), cam.model.mac.end(), r.ucMac);
    wire::CopyText(r.szDevType, sizeof r.szDevType, cam.model.type);
    wire::CopyText(r.szSoftVersion, sizeof r.szSoftVersion, cam.model.sw);
    wire::CopyText(r.szHardVersion, sizeof r.szHardVersion, cam.model.hw);
    std::copy(cam.ip.begin(), cam.ip.end(), r.ucIp);
    std::copy(cam.mask.begin(), cam.mask.end(), r.ucMask);
    std::copy(cam.gateway.begin(), cam.gateway.end(), r.ucGateway);
    r.usCtrlPort = controlPort_;
    return r;
}

std::uint32_t Simulator::Random(std::uint32_t below) {
    if (below <= 1) {
        return 0;
    }
    return std::uniform_int_distribution<std::uint32_t>(0, below - 1)(rng_);
}

// Discovery and IP-change answers leave through one socket.
void Simulator::SendUdp(std::size_t cam, std::vector<std::uint8_t> frame, const udp::endpoint& to,
                        std::uint32_t delayMs) {
    if (delayMs == 0) {
        SendUdpNow(cam, frame, to);
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(delayMs));
    timer->async_wait([this, timer, cam, to, frame = std::move(frame)](const asio::error_code& ec) {
        if (!ec) {
            SendUdpNow(cam, frame, to);
        }
    });
}

// Sends from the camera's own address (IP_PKTINFO), so that each reply comes from
// the camera it speaks for although one socket sends them all.
void Simulator::SendUdpNow(std::size_t index, const std::vector<std::uint8_t>& frame,
                           const udp::endpoint& to) {
    const Camera& cam = *cams_[index];
    sockaddr_in dst{};
    dst.sin_family = AF_INET;
    dst.sin_port = htons(to.port());
    dst.sin_addr.s_addr = htonl(to.address().to_v4().to_uint());

    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    in_pktinfo info{};
    info.ipi_ifindex = ifindex_;
    info.ipi_spec_dst.s_addr = htonl(ToU32(cam.ip));
    cmsghdr cm{};
    cm.cmsg_level = IPPROTO_IP;
    cm.cmsg_type = IP_PKTINFO;
    cm.cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    std::memcpy(control, &cm, sizeof cm);
    std::memcpy(control + CMSG_LEN(0), &info, sizeof info);

    iovec iov{};
    iov.iov_base = const_cast<std::uint8_t*>(frame.data());
    iov.iov_len = frame.size();
    msghdr msg{};
    msg.msg_name = &dst;
    msg.msg_namelen = sizeof dst;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    // Without a route back the first send fails as it would on such a camera.
    if (!cam.model.faults.noRoute && sendmsg(sender_.native_handle(), &msg, 0) >= 0) {
        return;
    }
    const int err = cam.model.faults.noRoute ? ENETUNREACH : errno;
    if (err == ENETUNREACH || err == EHOSTUNREACH) {
        // No route back (the camera sits on another subnet now): broadcast on its link.
        const std::uint32_t bcast =
            ifindex_ != 0 ? 0xFFFFFFFFu : (ToU32(cam.ip) | ~ToU32(cam.mask));
        dst.sin_addr.s_addr = htonl(bcast);
        if (sendmsg(sender_.native_handle(), &msg, 0) >= 0) {
            return;
        }
    }
    log_.Line("%s reply to %s:%u not sent: %s", FormatIpv4(cam.ip).c_str(),
              to.address().to_string().c_str(), to.port(), std::strerror(err));
}

}  // namespace camsim
