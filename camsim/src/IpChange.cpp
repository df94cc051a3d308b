// IP change by MAC: the camera named in the request moves to its new address
// (in a network namespace, by re-addressing the interface).
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "Internal.h"
#include "wire/Wire.h"

extern char** environ;

namespace camsim {

namespace fs = std::filesystem;
using asio::ip::udp;

namespace {

std::uint32_t PrefixLength(const Ipv4& mask) {
    std::uint32_t m = ToU32(mask);
    std::uint32_t n = 0;
    while ((m & 0x80000000u) != 0) {
        ++n;
        m <<= 1;
    }
    return n;
}

bool ContiguousMask(const Ipv4& mask) {
    const std::uint32_t m = ToU32(mask);
    return m != 0 && ((~m + 1) & ~m) == 0;
}

// Runs `ip` with these arguments and waits for it; true when it exits with 0.
bool RunIp(const std::vector<std::string>& args, std::string& error) {
    std::vector<char*> argv;
    std::vector<std::string> all{"ip"};
    all.insert(all.end(), args.begin(), args.end());
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) {
        error = "cannot run ip";
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& a : all) {
            line += a + " ";
        }
        error = "'" + line + "' failed";
        return false;
    }
    return true;
}

}  // namespace

// True when this process sits in a network namespace of its own, not the host's:
// re-addressing an interface is only ever done there. A namespace made with
// "ip netns add" is bind-mounted under /run/netns (as "ip netns identify" finds it);
// otherwise it must differ from init's, where that can be read.
bool InOwnNetworkNamespace() {
    struct stat self {};
    if (::stat("/proc/self/ns/net", &self) != 0) {
        return false;
    }
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/run/netns", ec)) {
        struct stat named {};
        if (::stat(e.path().c_str(), &named) == 0 && named.st_dev == self.st_dev &&
            named.st_ino == self.st_ino) {
            return true;
        }
    }
    struct stat init {};
    return ::stat("/proc/1/ns/net", &init) == 0 &&
           (init.st_dev != self.st_dev || init.st_ino != self.st_ino);
}

void Simulator::ReceiveIpset() {
    ipset_.async_receive_from(asio::buffer(ipsetBuf_), ipsetFrom_,
                              [this](const asio::error_code& ec, std::size_t n) {
                                  if (ec == asio::error::operation_aborted) {
                                      return;
                                  }
                                  if (!ec) {
                                      auto frame = wire::DecodeDatagram({ipsetBuf_.data(), n});
                                      if (frame && (frame->type() == wire::MsgType::IpSetReq ||
                                                    frame->type() == wire::MsgType::IpSetExReq)) {
                                          OnIpset(ipsetFrom_, frame->header.txid,
                                                  {frame->payload.begin(), frame->payload.end()},
                                                  frame->type() == wire::MsgType::IpSetExReq);
                                      }
                                  }
                                  ReceiveIpset();
                              });
}

void Simulator::OnIpset(const udp::endpoint& from, std::uint32_t txid,
                        const std::vector<std::uint8_t>& payload, bool extended) {
    // Both requests share one layout; only the meaning of gateway 0.0.0.0 differs.
    static_assert(sizeof(wire::IpSetReq) == sizeof(wire::IpSetExReq));
    auto req = wire::ParsePayload<wire::IpSetReq>(payload);
    if (!req) {
        return;
    }
    if (extended) {
        // A camera that predates the request cannot read it, so every such
        // camera on the link answers NAK, whichever MAC it names.
        for (const auto& c : cams_) {
            if (c->model.faults.oldIpset && !c->rebooting) {
                wire::Nak nak{};
                nak.status = static_cast<std::uint32_t>(wire::Status::BadRequest);
                nak.rejectedType = static_cast<std::uint8_t>(wire::MsgType::IpSetExReq);
                SendUdp(c->index, wire::EncodeFrame(wire::MsgType::Nak, txid, nak), from,
                        c->model.faults.replyDelayMs);
            }
        }
    }
    Mac mac{};
    std::copy(req->mac, req->mac + 6, mac.begin());
    auto it = std::find_if(cams_.begin(), cams_.end(),
                           [&](const auto& c) { return c->model.mac == mac; });
    if (it == cams_.end() || (*it)->rebooting || (extended && (*it)->model.faults.oldIpset)) {
        return;  // another camera's request, or this one does not listen now
    }
    Camera& cam = **it;
    Ipv4 ip{}, mask{}, gateway{};
    std::copy(req->ip, req->ip + 4, ip.begin());
    std::copy(req->mask, req->mask + 4, mask.begin());
    std::copy(req->gateway, req->gateway + 4, gateway.begin());
    const std::string who = FormatMac(mac) + " " + FormatIpv4(cam.ip);

    wire::Status status = wire::Status::Ok;
    std::string why;
    const std::uint32_t host = ToU32(ip) & ~ToU32(mask);
    const std::uint32_t gwHost = ToU32(gateway) & ~ToU32(mask);
    const bool keepGateway = extended && ToU32(gateway) == 0;
    if (keepGateway) {
        gateway = cam.gateway;
    }
    if (cam.model.faults.refuseIpChange) {
        status = wire::Status::Refused;
        why = "refuses IP changes on purpose";
    } else if (ip == cam.ip && mask == cam.mask && (!extended || gateway == cam.gateway)) {
        status = wire::Status::Ok;  // a repeated request
    } else if (!ContiguousMask(mask) || host == 0 || host == ~ToU32(mask)) {
        status = wire::Status::BadRequest;
        why = FormatIpv4(ip) + "/" + FormatIpv4(mask) + " is not a host address";
    } else if (extended && !keepGateway &&
               ((ToU32(gateway) & ToU32(mask)) != (ToU32(ip) & ToU32(mask)) || gwHost == 0 ||
                gwHost == ~ToU32(mask) || gateway == ip)) {
        status = wire::Status::BadRequest;
        why = "gateway " + FormatIpv4(gateway) + " is not a host of " + FormatIpv4(ip) + "/" +
              FormatIpv4(mask);
    } else if (config_.iface.empty() && !IsLoopback(ip)) {
        status = wire::Status::Refused;
        why = FormatIpv4(ip) + " is outside 127.0.0.0/8";
    } else if (std::any_of(cams_.begin(), cams_.end(),
                           [&](const auto& c) { return c.get() != &cam && c->ip == ip; })) {
        status = wire::Status::Refused;
        why = FormatIpv4(ip) + " belongs to another camera";
    } else {
        if (ToU32(gateway) == 0) {
            gateway = FromU32((ToU32(ip) & ToU32(mask)) | 1u);
        }
        if (!config_.iface.empty() && !Readdress(ip, mask, gateway, why)) {
            status = wire::Status::Internal;
        } else if (!cam.model.faults.refuseConnect && ip != cam.ip && !OpenAcceptor(cam, ip, why)) {
            status = wire::Status::Refused;
        } else {
            std::lock_guard lock(stateMutex_);
            cam.ip = ip;
            cam.mask = mask;
            cam.gateway = gateway;
            ++cam.ipChanges;  // a repeated request is not counted again
        }
        if (status == wire::Status::Ok && cam.probe) {
            OpenProbe(cam, ip);
        }
    }
    if (status != wire::Status::Ok) {
        std::lock_guard lock(stateMutex_);
        ++cam.ipRefused;
    }
    SaveState(cam);
    if (status == wire::Status::Ok) {
        log_.Line("%s IP change to %s/%s gateway %s accepted", who.c_str(), FormatIpv4(ip).c_str(),
                  FormatIpv4(mask).c_str(), FormatIpv4(cam.gateway).c_str());
    } else {
        log_.Line("%s IP change to %s refused: %s", who.c_str(), FormatIpv4(ip).c_str(),
                  why.c_str());
    }
    std::vector<std::uint8_t> frame;
    if (extended) {
        wire::IpSetExRep rep{};
        std::copy(mac.begin(), mac.end(), rep.mac);
        rep.status = static_cast<std::uint32_t>(status);
        std::copy(cam.ip.begin(), cam.ip.end(), rep.ip);
        std::copy(cam.mask.begin(), cam.mask.end(), rep.mask);
        std::copy(cam.gateway.begin(), cam.gateway.end(), rep.gateway);
        frame = wire::EncodeFrame(wire::MsgType::IpSetExRep, txid, rep);
    } else {
        wire::IpSetRep rep{};
        std::copy(mac.begin(), mac.end(), rep.mac);
        rep.status = static_cast<std::uint32_t>(status);
        std::copy(cam.ip.begin(), cam.ip.end(), rep.ip);
        std::copy(cam.mask.begin(), cam.mask.end(), rep.mask);
        frame = wire::EncodeFrame(wire::MsgType::IpSetRep, txid, rep);
    }
    if (cam.model.faults.malformed) {
        Spoil(frame);
    }
    SendUdp(cam.index, std::move(frame), from, cam.model.faults.replyDelayMs);
}

bool Simulator::Readdress(const Ipv4& ip, const Ipv4& mask, const Ipv4& gateway,
                          std::string& error) {
    (void)gateway;
    const std::string& dev = config_.iface;
    const std::string cidr = FormatIpv4(ip) + "/" + std::to_string(PrefixLength(mask));
    // The on-link default route lets the camera answer a PC on any subnet of the link.
    return RunIp({"addr", "flush", "dev", dev, "scope", "global"}, error) &&
           RunIp({"addr", "add", cidr, "dev", dev}, error) &&
           RunIp({"link", "set", dev, "up"}, error) &&
           RunIp({"route", "replace", "default", "dev", dev}, error);
}

}  // namespace camsim
