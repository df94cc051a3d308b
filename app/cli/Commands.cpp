#include "Commands.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>

#include "ConsoleView.h"
#include "Interfaces.h"
#include "Plan.h"
#include "Retry.h"
#include "app/BatchReport.h"
#include "app/IpBatch.h"
#include "app/QuorvaneDlg.h"
#include "platform/AppFolders.h"
#include "platform/NeighbourProbe.h"
#include "platform/Paths.h"
#include "platform/StopRequests.h"
#include "platform/TermText.h"

namespace cli {
namespace {

// Every outcome of a listed batch, so that the row adds up: the cameras are
// the succeeded, refused, failed, stopped and held ones, and the succeeded
// ones are the verified, not back, unchanged, other version and unchecked ones.
std::string HistoryCounts(const app::BatchReport& report) {
    const app::ReportSummary s = app::Summarize(report);
    unsigned held = 0;
    for (const app::ReportCamera& c : report.cameras) {
        held += c.skipped == static_cast<std::int32_t>(ReasonCode::Held) ? 1u : 0u;
    }
    char text[256];
    if (report.kind != "upgrade") {
        // Its proofs are at the new address: no version to compare.
        const unsigned checked = s.verified + s.notAtNewAddress + s.otherDevice;
        std::snprintf(text, sizeof(text),
                      "成功%u（已验证%u 新地址无应答%u 新地址被占用%u 未验证%u） 拒绝%u 失败%u "
                      "已停止%u 已暂缓%u",
                      s.succeeded, s.verified, s.notAtNewAddress, s.otherDevice,
                      s.succeeded > checked ? s.succeeded - checked : 0u, s.refused, s.failed,
                      s.notStarted - held, held);
        return text;
    }
    const unsigned checked = s.verified + s.notBack + s.unchanged + s.otherVersion + s.otherDevice;
    std::snprintf(text, sizeof(text),
                  "成功%u（已验证%u 未恢复%u 版本未变%u 版本不符%u 未验证%u） 拒绝%u 失败%u "
                  "已停止%u 已暂缓%u",
                  s.succeeded, s.verified, s.notBack, s.unchanged, s.otherVersion + s.otherDevice,
                  s.succeeded > checked ? s.succeeded - checked : 0u, s.refused, s.failed,
                  s.notStarted - held, held);
    return text;
}

// `history`: the batches recorded beside the log, newest first, or one of them.
int History(const Args& a) {
    const std::string stateDir = platform::CurrentFolders().stateDir;
    if (a.historyId.empty()) {
        const auto reports = app::ListReports(stateDir);
        if (reports.empty()) {
            std::fprintf(stderr, "quorvane-cli: %s 中没有批次记录\n",
                         platform::EscapeForTerminal(app::ReportsDir(stateDir)).c_str());
            return kExitAllOk;
        }
        std::printf("编号\t类型\t开始\t设备\t结果\n");
        int shown = 0;
        for (const auto& r : reports) {
            if (++shown > 50) {
                break;
            }
            // A damaged record is named and passed over; the others are still listed.
            std::string why;
            const auto stored = app::LoadReport(stateDir, r.id, &why);
            if (!stored) {
                std::fprintf(stderr, "quorvane-cli: 批量记录已损坏：%s\n",
                             platform::EscapeForTerminal(why).c_str());
                continue;
            }
            std::printf("%s\t%s\t%s\t%s\t%s\n", r.id.c_str(),
                        platform::EscapeForTerminal(stored->report.kind).c_str(),
                        platform::EscapeForTerminal(stored->report.started).c_str(),
                        std::to_string(stored->report.cameras.size()).c_str(),
                        HistoryCounts(stored->report).c_str());
        }
        return kExitAllOk;
    }
    std::string why;
    const auto stored = app::LoadReport(stateDir, a.historyId, &why);
    if (!stored) {
        std::fprintf(stderr, "quorvane-cli: %s\n", platform::EscapeForTerminal(why).c_str());
        return kExitRefused;
    }
    if (a.csv) {
        std::fputs(app::CamerasCsv(stored->report).c_str(), stdout);
    } else {
        std::cout << stored->doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << "\n";
    }
    return kExitAllOk;
}

}  // namespace

int Run(const Args& given) {
    Args a = given;
    if (!a.retryFrom.empty()) {
        // Read before anything is searched: a report that cannot serve refuses.
        std::string why;
        const auto macs = CamerasToRetry(a.retryFrom, &why);
        if (!macs) {
            std::fprintf(stderr, "quorvane-cli: %s\n", platform::EscapeForTerminal(why).c_str());
            return kExitRefused;
        }
        if (macs->empty()) {
            std::fprintf(stderr, "quorvane-cli: 报告中没有失败或未升级的设备\n");
            return kExitAllOk;
        }
        a.macs = *macs;
    }
    // The device libraries follow the same folder.
    platform::SetConfigDirOverride(a.configDir);
    if (a.command == "history") {
        return History(a);
    }
    if (a.command == "interfaces") {
        return ListInterfaces(a.json);
    }
    // For search, a plan and JSON, stdout carries the list only; the log lines go to stderr.
    const bool listOnStdout = a.command == "search" || a.plan || a.json;
    ConsoleView view(listOnStdout ? stderr : stdout);
    app::DialogDeps deps;
    deps.configDir = a.configDir;
    deps.probeLan = platform::ProbeNeighbours;
    app::CQuorvaneDlg dlg(view, deps);
    dlg.OnInitDialog();
    // Said once on stderr at the end, whatever else happened.
    struct LogFailureNote {
        const app::CQuorvaneDlg& dlg;
        bool paneOnStderr;
        ~LogFailureNote() {
            if (!dlg.LogFailure().empty() && !paneOnStderr) {
                std::fprintf(stderr, "quorvane-cli: %s\n", dlg.LogFailure().c_str());
            }
        }
    } note{dlg, listOnStdout};

    // Ctrl-C and termination requests are the window's stop control: the
    // first starts no further camera, the second abandons the transfers.
    // A scan in progress ends at the first, keeping what it found.
    std::atomic<int> stops{0};
    std::optional<platform::StopRequests> stopRequests;
    const bool batchRun = a.command != "search" && !a.plan;
    if (batchRun || !a.scan.empty()) {
        stopRequests.emplace([&, batchRun](int count) {
            stops = count;
            dlg.CancelScan();
            if (!batchRun) {
                return;
            }
            if (count == 1) {
                std::fprintf(stderr, "quorvane-cli: 再次要求停止将放弃正在进行的传输\n");
            }
            view.PostToUi([&dlg] { dlg.OnBnClickedStop(); });
        });
    }
    if (!dlg.NetInitError().empty()) {
        std::fprintf(stderr, "quorvane-cli: %s\n",
                     platform::EscapeForTerminal(dlg.NetInitError()).c_str());
        return kExitRefused;
    }
    dlg.SetStartIpProposals(false);
    if (!dlg.ChooseAdapter(a.adapter)) {
        return kExitRefused;
    }
    // A batch takes its folder's lock before it searches: a second one is
    // refused before it costs a search, an unpacking or a composition.
    const bool batch =
        a.command == "upgrade" || a.command == "modify-ip" || a.command == "restore-ip";
    if (batch && !dlg.TakeBatchLock()) {
        return kExitRefused;
    }
    dlg.OnBnClickedSearch();
    if (!a.scan.empty() && stops == 0 && !dlg.ScanAddresses(a.scan)) {
        return kExitRefused;
    }
    if (a.sortColumn > 0) {
        // Header clicks: the first sorts descending, the second ascending.
        dlg.OnLvnColumnclickDeviceList(a.sortColumn);
        if (!a.descending) {
            dlg.OnLvnColumnclickDeviceList(a.sortColumn);
        }
    }

    if (a.command == "search") {
        if (a.json) {
            PrintJson(view);
        } else {
            PrintTable(view);
        }
        if (!dlg.LogFailure().empty()) {
            return kExitLogFailed;
        }
        return stops > 0 ? kExitStopped : kExitAllOk;
    }

    const std::set<std::string> macs(a.macs.begin(), a.macs.end());
    const std::set<std::string> ips(a.ips.begin(), a.ips.end());
    std::set<std::string> seen;
    for (int r = 0; r < dlg.List().Count(); ++r) {
        const std::string& ip = dlg.List().Row(r).ip;
        const std::string& mac = dlg.List().Row(r).mac;
        const bool pick = a.all || macs.count(mac) != 0 || ips.count(ip) != 0;
        view.SetRowChecked(r, pick);
        if (pick) {
            seen.insert(macs.count(mac) != 0 ? mac : ip);
        }
    }
    // A camera asked for but not found refuses the whole request: the others
    // are not changed without it.
    bool missing = false;
    for (const auto& m : macs) {
        if (seen.count(m) == 0) {
            std::fprintf(stderr, "quorvane-cli: no camera with MAC %s; nothing was changed\n",
                         m.c_str());
            missing = true;
        }
    }
    for (const auto& ip : ips) {
        if (seen.count(ip) == 0) {
            std::fprintf(stderr, "quorvane-cli: no camera at %s; nothing was changed\n",
                         ip.c_str());
            missing = true;
        }
    }
    if (missing) {
        return kExitRefused;
    }

    if (stops > 0) {
        std::fprintf(stderr, "quorvane-cli: 已停止，没有设备被改动\n");
        return kExitStopped;
    }
    if (a.command == "modify-ip" && (!a.planFile.empty() || !a.undoId.empty())) {
        // Checked whole and printed before anything changes, as the window asks.
        std::vector<app::PlannedAddress> plan;
        std::error_code ec;
        const auto file = std::filesystem::absolute(platform::FsPath(a.planFile), ec);
        const bool planned =
            a.planFile.empty()
                ? dlg.PlanUndo(a.undoId, &plan)
                : dlg.PlanFromFile(ec ? a.planFile : platform::Utf8Path(file), &plan);
        if (!planned) {
            return kExitRefused;
        }
        PrintIpPlan(plan, stdout, true);
        if (a.plan) {
            return dlg.LogFailure().empty() ? kExitAllOk : kExitLogFailed;
        }
        dlg.RunAddressPlan(plan);
    } else if (a.command == "modify-ip") {
        view.SetStartIp(*app::ParseDottedIpv4(a.start));
        // The plan before anything changes: what the window asks about.
        std::vector<app::PlannedAddress> plan;
        if (!dlg.PlanModifyIp(&plan)) {
            return kExitRefused;
        }
        PrintIpPlan(plan, stdout);
        if (a.plan) {
            return dlg.LogFailure().empty() ? kExitAllOk : kExitLogFailed;
        }
        // The very plan printed, not one asked for again.
        dlg.ModifyIpAsPlanned(plan);
    } else if (a.command == "upgrade") {
        // Relative to where the command was given, as a file dialog would give it.
        std::error_code ec;
        const auto file = std::filesystem::absolute(platform::FsPath(a.file), ec);
        view.SetFileEditText(ec ? a.file : platform::Utf8Path(file));
        view.SetChecked(app::IDC_SYNC_TIME, a.syncTime);
        view.SetChecked(app::IDC_FORCE_UPGRADE, a.force);
        view.SetChecked(app::IDC_RESEND, a.resend);
        dlg.SetUpgradeOverrides(a.settings);
        if (a.noVerify) {
            dlg.SetVerifyTimeoutOverride(0);
        } else if (a.verifyTimeoutS) {
            dlg.SetVerifyTimeoutOverride(*a.verifyTimeoutS * 1000);
        }
        if (a.plan) {
            std::vector<PlanLine> lines;
            const bool planned = dlg.PlanUpgrade([&](const auto& plan) {
                for (const app::PlannedUpgrade& camera : plan) {
                    lines.push_back(DescribePlanned(camera));
                }
            });
            if (!planned) {
                return kExitRefused;
            }
            PrintPlan(lines, a.json);
            return dlg.LogFailure().empty() ? kExitAllOk : kExitLogFailed;
        }
        view.ReportProgress();
        // The window's question about older versions is answered here.
        bool askedOlder = false;
        view.answer = [&](const std::string& question) {
            if (question.rfind(app::kDowngradeAsk, 0) != 0) {
                return true;
            }
            askedOlder = true;
            return a.allowOlder;
        };
        dlg.OnBnClickedUpgrade();
        view.answer = nullptr;  // the stop's question is the window's own
        if (view.windowEnabled && askedOlder && !a.allowOlder) {
            std::string why = view.questions.back();
            if (const auto ask = why.rfind("继续吗？"); ask != std::string::npos) {
                why.erase(ask);
            }
            std::fprintf(stderr, "quorvane-cli: %s确需如此请加 --allow-older，没有设备被改动\n",
                         why.c_str());
            return kExitRefused;
        }
    } else {
        // The window's question about one address for several is answered here.
        view.confirmAnswer = a.sameAddress;
        dlg.OnBnClickedRestoreIp();
        if (view.windowEnabled && !view.questions.empty() && !a.sameAddress) {
            std::string why = view.questions.back();
            if (const auto ask = why.rfind("，继续吗？"); ask != std::string::npos) {
                why.erase(ask);
            }
            std::fprintf(stderr, "quorvane-cli: %s；确需如此请加 --same-address，没有设备被改动\n",
                         why.c_str());
            return kExitRefused;
        }
    }
    if (view.windowEnabled) {
        return kExitRefused;  // refused: the message is on stderr
    }
    // The window is enabled again once the completion message has been shown.
    // A site of hundreds of cameras one after another takes hours.
    if (!view.RunUntil([&] { return view.windowEnabled; }, std::chrono::hours(24 * 7))) {
        std::fprintf(stderr, "quorvane-cli: the batch did not end\n");
        return kExitSomeFailed;
    }
    const char* ok = a.command == "modify-ip" ? "修改IP成功"
                     : a.command == "upgrade" ? "升级成功"
                                              : "恢复默认IP成功";
    bool allOk = true;
    for (int r = 0; r < dlg.List().Count(); ++r) {
        if (view.RowChecked(r) && dlg.List().Row(r).status != ok) {
            allOk = false;
        }
    }
    // A camera that took the file but did not come back with a new version
    // has not been upgraded as far as anyone can tell.
    for (const app::ReportCamera& c : dlg.LastReport().cameras) {
        allOk = allOk && app::Proven(c);
    }
    if (a.json) {
        nlohmann::json j = app::ReportJson(dlg.LastReport());
        j["report_path"] = dlg.LastReportPath();
        std::cout << j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }
    if (!dlg.LogFailure().empty() || !dlg.ReportFailure().empty()) {
        return kExitLogFailed;
    }
    if (dlg.BatchStopped()) {
        return kExitStopped;
    }
    if (dlg.BatchHeld()) {
        return kExitHeld;
    }
    return allOk ? kExitAllOk : kExitSomeFailed;
}

}  // namespace cli
