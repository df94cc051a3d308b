// The dialog's two IP batches: the plan of a modify-IP press, the questions
// before either batch, and their start.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "addressing/Address.h"
#include "app/AdapterChoice.h"
#include "app/DialogConfig.h"
#include "app/IpBatch.h"
#include "app/QuorvaneDlg.h"
#include "platform/TermText.h"

namespace app {
bool CQuorvaneDlg::CheckIpRequest(const std::vector<int>& ticked) {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");
        return false;
    }
    if (ticked.empty()) {
        ShowMessage("你没有选择设备");
        return false;
    }
    return true;
}

void CQuorvaneDlg::OfferStartIp(const std::vector<int>& ticked) {
    const DeviceRow& first = m_listDevices.Row(ticked.front());
    for (int r : ticked) {
        const DeviceRow& row = m_listDevices.Row(r);
        if (row.foreignOf.empty() || row.adapterAddress != first.adapterAddress ||
            row.adapterPrefix != first.adapterPrefix) {
            return;
        }
    }
    platform::NetAdapter adapter;
    adapter.address = first.adapterAddress;
    adapter.prefix = first.adapterPrefix;
    const auto start = m_view.StartIp();
    const std::uint32_t typed = (std::uint32_t{start[0]} << 24) | (std::uint32_t{start[1]} << 16) |
                                (std::uint32_t{start[2]} << 8) | start[3];
    if (!m_view.StartIpBlank() && m_view.StartIpComplete() && platform::InSubnet(adapter, typed)) {
        return;  // already chosen inside it
    }
    std::set<std::uint32_t> used;
    for (int r = 0; r < m_listDevices.Count(); ++r) {
        if (const auto ip = ParseDottedIpv4(m_listDevices.Row(r).ip)) {
            used.insert((std::uint32_t{(*ip)[0]} << 24) | (std::uint32_t{(*ip)[1]} << 16) |
                        (std::uint32_t{(*ip)[2]} << 8) | (*ip)[3]);
        }
    }
    const auto proposal = ProposeStartIp(adapter.address, adapter.prefix, ticked.size(), used);
    if (!proposal) {
        return;
    }
    const std::string text = std::to_string((*proposal)[0]) + "." + std::to_string((*proposal)[1]) +
                             "." + std::to_string((*proposal)[2]) + "." +
                             std::to_string((*proposal)[3]);
    if (m_view.Confirm("所选设备都不在本机网段（" + first.foreignOf + "），起始IP改为" + text +
                       "？")) {
        m_view.SetStartIp(*proposal);
    }
}

int CQuorvaneDlg::IpProofMs() const {
    // Without a probe or a search nothing can be looked for: no wait is claimed.
    const bool canLook = m_deps.net.ProbeDevice != nullptr || m_deps.net.FindDevice != nullptr;
    return canLook ? std::max(m_deps.ipProofMs, 0) : 0;
}

BatchSettings CQuorvaneDlg::ProvedIpBatch(BatchSettings batch) const {
    batch.verifyTimeoutMs = IpProofMs();
    batch.verifyTiming = kIpProofPace;
    return batch;
}

std::vector<HeldAddress> CQuorvaneDlg::CamerasHeld() const {
    std::vector<HeldAddress> held;
    for (int i = 0; i < m_listDevices.Count(); ++i) {
        held.push_back({m_listDevices.Row(i).ip, m_listDevices.Row(i).mac});
    }
    // The rows are the last search, with the addresses a batch has moved
    // cameras to since (the search's records would name ones left).
    return held;
}

namespace {

// What one press may spend asking the LAN, and one round of it: a host that
// is there answers the first request within milliseconds.
constexpr std::chrono::milliseconds kLanBudget{1800};
constexpr std::chrono::milliseconds kLanRound{600};

// An answer at an address a camera of the list holds is that camera's (its
// interface may show another MAC than its record); any other one is held.
bool AddLanAnswer(addressing::InUse& held, std::uint32_t ip, const std::string& mac) {
    return held.emplace(ip, mac).second;
}

}  // namespace

void CQuorvaneDlg::SayLanUnchecked(const std::string& why) {
    m_view.AppendToLogPane("未检查局域网上的地址占用：" + platform::EscapeForTerminal(why) +
                           "\r\n");
}

std::optional<std::vector<addressing::Numbered>> CQuorvaneDlg::NumberWithLan(
    const std::vector<std::string>& macs) {
    // A partly blank address is as unusable as a blank one.
    const bool blank = m_view.StartIpBlank() || !m_view.StartIpComplete();
    const std::array<std::uint8_t, 4> start = m_view.StartIp();
    addressing::InUse held = HeldAddresses(CamerasHeld());
    std::string why;
    auto numbered = NumberCameras(blank, start, macs, held, &why);
    if (!numbered || !m_deps.probeLan) {
        if (!numbered) {
            ShowMessage("%s", why.c_str());
        }
        return numbered;
    }
    const WaitCursor wait(m_view);
    const auto deadline = std::chrono::steady_clock::now() + kLanBudget;
    std::set<std::uint32_t> asked;
    // The first round asks ahead (as many again and a few), so that a host in
    // the range seldom needs a second one.
    std::vector<std::string> ahead = macs;
    for (std::size_t k = 0; k < macs.size() + 8; ++k) {
        ahead.push_back("-");  // matches no camera or host
    }
    std::string ignored;
    const auto wide = NumberCameras(blank, start, ahead, held, &ignored);
    for (;;) {
        std::vector<std::uint32_t> fresh;
        for (const auto& n : (asked.empty() && wide) ? *wide : *numbered) {
            if (asked.insert(n.ip).second) {
                fresh.push_back(n.ip);
            }
        }
        std::erase_if(fresh, [&](std::uint32_t ip) { return held.count(ip) != 0; });
        if (fresh.empty()) {
            return numbered;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ShowMessage("无法在时限内检查局域网上的地址");
            return std::nullopt;
        }
        const platform::NeighbourProbe probe = m_deps.probeLan(fresh, std::min(left, kLanRound));
        if (!probe.checked) {
            SayLanUnchecked(probe.why);
            return numbered;
        }
        bool more = false;
        for (const auto& [ip, mac] : probe.answered) {
            more = AddLanAnswer(held, ip, mac) || more;
        }
        if (!more) {
            return numbered;
        }
        numbered = NumberCameras(blank, start, macs, held, &why);
        if (!numbered) {
            ShowMessage("%s", why.c_str());
            return numbered;
        }
    }
}

bool CQuorvaneDlg::PlanModifyIp(std::vector<PlannedAddress>* plan) {
    const std::vector<int> ticked = m_listDevices.Ticked();
    if (!CheckIpRequest(ticked)) {
        return false;
    }
    if (m_proposeStartIp) {
        OfferStartIp(ticked);
    }
    std::vector<std::string> macs;
    for (int row : ticked) {
        macs.push_back(m_listDevices.Row(row).mac);
    }
    const auto numbered = NumberWithLan(macs);
    if (!numbered) {
        return false;
    }
    plan->clear();
    for (std::size_t k = 0; k < ticked.size(); ++k) {
        // Network and broadcast addresses passed over are the batch's way
        // into the next subnet, no news; an address in use is.
        addressing::Numbered taken = (*numbered)[k];
        taken.skippedReserved.clear();
        const auto notes = addressing::SkipNotes(taken);
        plan->push_back({macs[k], m_listDevices.Row(ticked[k]).ip, addressing::FormatIpv4(taken.ip),
                         notes.empty() ? "" : notes.front(), "", "", ""});
    }
    return true;
}

void CQuorvaneDlg::OnBnClickedModifyIp() {
    ControlsOff off(*this);
    std::vector<PlannedAddress> plan;
    if (!PlanModifyIp(&plan) || !m_view.Confirm(IpPlanQuestion(plan))) {
        return;
    }
    if (StartModifyIp(plan)) {
        off.HandToBatch();
    }
}

bool CQuorvaneDlg::ModifyIpAsPlanned(const std::vector<PlannedAddress>& plan) {
    ControlsOff off(*this);
    if (plan.empty() || !StartModifyIp(plan)) {
        return false;
    }
    off.HandToBatch();
    return true;
}

bool CQuorvaneDlg::StartModifyIp(const std::vector<PlannedAddress>& plan) {
    const std::array<std::uint8_t, 4> start = m_view.StartIp();
    char startText[16];
    std::snprintf(startText, sizeof(startText), "%u.%u.%u.%u", unsigned{start[0]},
                  unsigned{start[1]}, unsigned{start[2]}, unsigned{start[3]});
    const auto total = static_cast<std::uint32_t>(plan.size());
    if (!StartBatch(ProvedIpBatch({.kind = TASK_MODIFY_IP, .total = total}),
                    std::string("起始IP ") + startText)) {
        return false;
    }
    m_session.Record().request.startIp = startText;
    m_session.Record().request.verifyTimeoutMs = IpProofMs();
    for (const PlannedAddress& p : plan) {
        if (!p.note.empty()) {
            m_ipNotes[p.mac] = p.note;
        }
        m_dispatcher.Enqueue(p.newIp.c_str(), p.mac.c_str(), "");
    }
    return true;
}

void CQuorvaneDlg::OnBnClickedRestoreIp() {
    ControlsOff off(*this);
    const std::vector<int> ticked = m_listDevices.Ticked();
    if (!CheckIpRequest(ticked)) {
        return;
    }
    std::string why;
    const auto defaultIp = ReadDefaultIp(m_strConfigFile, &why);
    if (!defaultIp) {
        ShowMessage("%s", why.c_str());
        return;
    }
    std::set<std::string> macs;
    for (int row : ticked) {
        macs.insert(m_listDevices.Row(row).mac);
    }
    // A camera left out that sits on the default already would share it.
    for (const HeldAddress& h : CamerasHeld()) {
        if (h.ip == *defaultIp && macs.count(h.mac) == 0) {
            ShowMessage("默认IP %s 已被占用（%s）", defaultIp->c_str(), h.mac.c_str());
            return;
        }
    }
    const auto defaultNumber = addressing::ParseIpv4(*defaultIp);
    const auto listed = HeldAddresses(CamerasHeld());
    if (m_deps.probeLan && defaultNumber && listed.count(*defaultNumber) == 0) {
        const WaitCursor wait(m_view);
        const platform::NeighbourProbe probe = m_deps.probeLan({*defaultNumber}, kLanRound);
        if (!probe.checked) {
            SayLanUnchecked(probe.why);
        } else if (const auto it = probe.answered.find(*defaultNumber);
                   // A ticked camera answering there (an entry from before it
                   // moved) is one of those that get the address anyway.
                   it != probe.answered.end() && macs.count(it->second) == 0) {
            ShowMessage("默认IP %s 已被局域网上的其他主机占用（%s）", defaultIp->c_str(),
                        it->second.empty() ? "本机" : it->second.c_str());
            return;
        }
    }
    if (ticked.size() > 1 && !m_view.Confirm(SameAddressQuestion(ticked.size(), *defaultIp))) {
        return;
    }
    const auto total = static_cast<std::uint32_t>(ticked.size());
    if (!StartBatch(
            ProvedIpBatch({.kind = TASK_RESTORE_IP, .total = total, .defaultIp = *defaultIp}),
            "默认IP " + *defaultIp)) {
        return;
    }
    off.HandToBatch();
    m_session.Record().request.defaultIp = *defaultIp;
    m_session.Record().request.verifyTimeoutMs = IpProofMs();
    for (int row : ticked) {
        const DeviceRow& r = m_listDevices.Row(row);
        m_dispatcher.Enqueue(r.ip.c_str(), r.mac.c_str(), "");
    }
}

}  // namespace app
