// The address plan by MAC: a file's plan, the list written as one, and the
// undo of an IP batch, which is a plan made from its record. All three are
// checked whole before a camera is touched and run as one modify-IP batch.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "addressing/Address.h"
#include "addressing/PlanCsv.h"
#include "app/QuorvaneDlg.h"
#include "app/WindowDescription.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"
#include "platform/WholeFile.h"

namespace app {
namespace {

// One round of asking the LAN: a host that is there answers within milliseconds.
constexpr std::chrono::milliseconds kPlanLanRound{600};
// Faults shown in one message; the rest are counted.
constexpr std::size_t kFaultsShown = 20;

std::string Faults(const std::string& heading, const std::vector<std::string>& errors) {
    std::string text = heading;
    for (std::size_t i = 0; i < errors.size() && i < kFaultsShown; ++i) {
        text += "\n" + platform::EscapeForTerminal(errors[i]);
    }
    if (errors.size() > kFaultsShown) {
        text += "\n……另有" + std::to_string(errors.size() - kFaultsShown) + "处";
    }
    return text;
}

std::optional<std::uint32_t> MaybeIp(const std::string& text) {
    return text.empty() ? std::nullopt : addressing::ParseIpv4(text);
}

bool IsIpBatch(const BatchReport& r) {
    return r.kind == "modify-ip" || r.kind == "restore-ip";
}

}  // namespace

void CQuorvaneDlg::TickPlanned(const std::vector<PlannedAddress>& plan) {
    std::set<std::string> macs;
    for (const PlannedAddress& p : plan) {
        macs.insert(p.mac);
    }
    for (int r = 0; r < m_listDevices.Count(); ++r) {
        m_listDevices.Tick(r, macs.count(m_listDevices.Row(r).mac) != 0);
    }
}

bool CQuorvaneDlg::CheckAddressPlan(std::vector<addressing::PlanRow> rows, bool bySubnet,
                                    const std::string& heading, std::vector<PlannedAddress>* plan) {
    addressing::PlanChecks checks;
    checks.knownMacs.emplace();
    for (int r = 0; r < m_listDevices.Count(); ++r) {
        const DeviceRow& row = m_listDevices.Row(r);
        checks.knownMacs->insert(row.mac);
        if (bySubnet && row.adapterPrefix > 0 && row.adapterPrefix <= 30) {
            const std::uint32_t mask = ~std::uint32_t{0} << (32 - row.adapterPrefix);
            checks.subnets[row.mac] = addressing::Subnet::Of(row.adapterAddress, mask);
        }
    }
    checks.inUse = HeldAddresses(CamerasHeld());
    // The list's own faults first: no LAN is asked about a plan that cannot be.
    addressing::Plan checked = addressing::CheckPlan(rows, checks);
    if (checked.ok() && m_deps.probeLan) {
        std::vector<std::uint32_t> targets;
        for (const auto& r : rows) {
            if (checks.inUse.count(r.ip) == 0) {
                targets.push_back(r.ip);
            }
        }
        if (!targets.empty()) {
            const WaitCursor wait(m_view);
            const platform::NeighbourProbe probe = m_deps.probeLan(targets, kPlanLanRound);
            if (!probe.checked) {
                SayLanUnchecked(probe.why);
            } else if (!probe.answered.empty()) {
                // An answer at an address a camera of the list holds is that
                // camera's; any other holds the address.
                for (const auto& [ip, mac] : probe.answered) {
                    checks.inUse.emplace(ip, mac);
                }
                checked = addressing::CheckPlan(rows, checks);
            }
        }
    }
    if (!checked.ok()) {
        ShowMessage("%s", Faults(heading, checked.errors).c_str());
        return false;
    }
    plan->clear();
    for (const addressing::PlanRow& r : checked.rows) {
        PlannedAddress p;
        p.mac = r.mac;
        p.ip = m_listDevices.Row(m_listDevices.FindByMac(r.mac)).ip;
        p.newIp = addressing::FormatIpv4(r.ip);
        p.mask = r.mask ? addressing::FormatIpv4(*r.mask) : "";
        p.gateway = r.gateway ? addressing::FormatIpv4(*r.gateway) : "";
        p.name = r.name;
        plan->push_back(std::move(p));
    }
    return true;
}

bool CQuorvaneDlg::PlanFromFile(const std::string& path, std::vector<PlannedAddress>* plan) {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");
        return false;
    }
    std::string why;
    const auto text = platform::ReadRegularFile(path, addressing::kMaxPlanBytes, &why);
    if (!text) {
        ShowMessage("无法读取地址表：%s", platform::EscapeForTerminal(why).c_str());
        return false;
    }
    // The file's own faults, each with its line; the rest is judged below.
    const addressing::Plan read = addressing::ReadPlan(*text, {});
    const std::string heading = "地址表有误，没有设备被改动：";
    if (!read.ok()) {
        ShowMessage("%s", Faults(heading, read.errors).c_str());
        return false;
    }
    if (!CheckAddressPlan(read.rows, true, heading, plan)) {
        return false;
    }
    TickPlanned(*plan);
    m_planOrigin = {"地址表 " + path, path, ""};
    return true;
}

bool CQuorvaneDlg::PlanUndo(const std::string& id, std::vector<PlannedAddress>* plan) {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");
        return false;
    }
    std::string why;
    std::optional<StoredReport> stored;
    if (!id.empty()) {
        stored = LoadReport(m_strStateDir, id, &why);
        if (!stored) {
            ShowMessage("%s", platform::EscapeForTerminal(why).c_str());
            return false;
        }
    } else {
        // The newest IP batch; damaged records are passed over.
        for (const ReportEntry& e : ListReports(m_strStateDir)) {
            auto one = LoadReport(m_strStateDir, e.id, &why);
            why.clear();
            if (one && IsIpBatch(one->report)) {
                stored = std::move(one);
                break;
            }
        }
        if (!stored) {
            ShowMessage("没有可恢复的IP批次");
            return false;
        }
    }
    const BatchReport& report = stored->report;
    const std::string batchId = report.id.empty() ? id : report.id;
    if (!IsIpBatch(report)) {
        ShowMessage("批次 %s 不是IP批次", batchId.c_str());
        return false;
    }
    std::vector<addressing::PlanRow> rows;
    for (const ReportCamera& c : report.cameras) {
        const auto ip = addressing::ParseIpv4(c.ipBefore);
        if (c.skipped != 0 || !ip) {
            continue;  // never touched, or where it was is not known
        }
        const int at = m_listDevices.FindByMac(c.mac);
        if (at >= 0 && m_listDevices.Row(at).ip == c.ipBefore &&
            (c.maskBefore.empty() || m_listDevices.Row(at).mask == c.maskBefore)) {
            continue;  // already where it was
        }
        addressing::PlanRow row;
        row.mac = c.mac;
        row.ip = *ip;
        row.mask = MaybeIp(c.maskBefore);
        // 0.0.0.0 was no gateway, and one off the subnet was one kept from
        // before: neither can be sent, and leaving the gateway gives it back.
        const auto net = addressing::Subnet::Of(*ip, row.mask.value_or(addressing::kDefaultMask));
        if (const auto gw = MaybeIp(c.gatewayBefore); gw && net.IsHost(*gw) && *gw != *ip) {
            row.gateway = gw;
        }
        row.name = c.name;
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        ShowMessage("批次 %s 的设备都已在原地址", batchId.c_str());
        return false;
    }
    if (!CheckAddressPlan(std::move(rows), false,
                          "无法恢复批次 " + batchId + " 前的地址，没有设备被改动：", plan)) {
        return false;
    }
    TickPlanned(*plan);
    m_planOrigin = {"恢复批次 " + batchId + " 前的地址", "", batchId};
    return true;
}

bool CQuorvaneDlg::RunAddressPlan(const std::vector<PlannedAddress>& plan) {
    ControlsOff off(*this);
    if (!StartAddressPlan(plan)) {
        return false;
    }
    off.HandToBatch();
    return true;
}

bool CQuorvaneDlg::StartAddressPlan(const std::vector<PlannedAddress>& plan) {
    if (plan.empty()) {
        return false;
    }
    const auto total = static_cast<std::uint32_t>(plan.size());
    if (!StartBatch(ProvedIpBatch({.kind = TASK_MODIFY_IP, .total = total}),
                    m_planOrigin.request)) {
        return false;
    }
    BatchReport& record = m_session.Record();
    record.request.planFile = m_planOrigin.planFile;
    record.request.undoOf = m_planOrigin.undoOf;
    record.request.verifyTimeoutMs = IpProofMs();
    for (const PlannedAddress& p : plan) {
        if (!p.name.empty()) {
            m_ipNotes[p.mac] = p.name;
        }
        if (const int row = m_listDevices.FindByMac(p.mac); row >= 0) {
            m_listDevices.SetName(row, p.name);
        }
        m_dispatcher.AddressCamera(p.mac, {p.mask, p.gateway});
        m_session.PlanCamera(p.mac, {p.mask, p.gateway, p.name});
        m_dispatcher.Enqueue(p.newIp.c_str(), p.mac.c_str(), "");
    }
    return true;
}

bool CQuorvaneDlg::ExportPlan(const std::string& path) {
    std::vector<addressing::PlanRow> rows;
    for (int r = 0; r < m_listDevices.Count(); ++r) {
        const DeviceRow& row = m_listDevices.Row(r);
        const auto ip = addressing::ParseIpv4(row.ip);
        if (!ip) {
            continue;  // no address a plan could give back
        }
        addressing::PlanRow p;
        p.mac = row.mac;
        p.ip = *ip;
        p.mask = MaybeIp(row.mask);
        p.gateway = MaybeIp(row.gateway);
        if (p.gateway && *p.gateway == 0) {
            p.gateway.reset();
        }
        p.name = row.name;
        rows.push_back(std::move(p));
    }
    const std::filesystem::path p = platform::FsPath(path);
    const std::string dir =
        p.has_parent_path() ? platform::Utf8Path(p.parent_path()) : std::string(".");
    std::string why;
    if (p.filename().empty() || !platform::WriteWholeFile(dir, platform::Utf8Path(p.filename()),
                                                          addressing::WritePlan(rows), &why)) {
        ShowMessage("无法导出地址表：%s",
                    platform::EscapeForTerminal(why.empty() ? path : why).c_str());
        return false;
    }
    m_view.AppendToLogPane("地址表已导出到 " + platform::EscapeForTerminal(path) + "\r\n");
    return true;
}

void CQuorvaneDlg::OnImportPlan() {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");  // before a file is chosen for nothing
        return;
    }
    const auto path = m_view.AskOpenPath(kImportPlanDialog);
    if (!path) {
        return;
    }
    ControlsOff off(*this);
    std::vector<PlannedAddress> plan;
    if (PlanFromFile(*path, &plan) && m_view.Confirm(IpPlanQuestion(plan)) &&
        StartAddressPlan(plan)) {
        off.HandToBatch();
    }
}

void CQuorvaneDlg::OnExportPlan() {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");
        return;
    }
    if (const auto path = m_view.AskSavePath(kExportPlanDialog)) {
        ExportPlan(*path);
    }
}

void CQuorvaneDlg::OnUndoIpBatch() {
    ControlsOff off(*this);
    std::vector<PlannedAddress> plan;
    if (PlanUndo({}, &plan) &&
        m_view.Confirm(m_planOrigin.request + "：\n" + IpPlanQuestion(plan)) &&
        StartAddressPlan(plan)) {
        off.HandToBatch();
    }
}

}  // namespace app
