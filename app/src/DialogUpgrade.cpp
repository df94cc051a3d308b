// The upgrade press of the dialog: from the ticked rows to the cameras queued
// with their files, every check and refusal on the way.
#include <algorithm>

#include "app/DialogTexts.h"
#include "app/QuorvaneDlg.h"
#include "pack/PackInfo.h"

namespace app {

upgrade::RequestEnv CQuorvaneDlg::MakeRequestEnv() {
    upgrade::RequestEnv env;
    env.showMessage = [this](const std::string& text) { ShowMessage("%s", text.c_str()); };
    if (auto* log = m_deps.search.Log) {
        env.netLog = [log](const std::string& line) { log("%s", line.c_str()); };
    }
    env.clock = m_deps.clock;
    return env;
}

std::optional<UpgradeLimits> CQuorvaneDlg::ReadUpgradeLimits() {
    std::string why;
    auto limits = app::ReadUpgradeLimits(m_strConfigFile, m_overrides, &why);
    if (!limits) {
        ShowMessage("%s", why.c_str());
    }
    return limits;
}

bool CQuorvaneDlg::PrepareUpgrade(std::vector<PlannedUpgrade>* plan, bool forBatch) {
    if (m_listDevices.Count() == 0) {
        ShowMessage("请先搜索设备");
        return false;
    }
    const std::vector<int> ticked = m_listDevices.Ticked();
    // Those already on the version the file names are passed over unless resent.
    const std::string current =
        m_view.IsChecked(IDC_RESEND) ? std::string() : PackJudgedVersion(m_view.FileEditText());
    std::vector<upgrade::SelectedCamera> cameras;
    cameras.reserve(ticked.size());
    for (int row : ticked) {
        const DeviceRow& r = m_listDevices.Row(row);
        cameras.push_back(
            {r.type, r.soft, r.hard, !current.empty() && SoftVersionKey(r.soft) == current});
    }
    if (m_upgrade.Group(cameras) != upgrade::GroupResult::Ok) {
        return false;
    }
    // Before any unpacking: a batch that will be refused must not cost one.
    if (forBatch && !TakeBatchLock()) {
        return false;
    }
    auto refuse = [this, forBatch] {
        if (forBatch) {
            m_session.ReleaseLock();
        }
        return false;
    };
    m_strUpdateFile = m_view.FileEditText();
    bool prepared = false;
    {
        // Unpacking and composing a large pack takes a while.
        const WaitCursor wait(m_view);
        prepared =
            m_upgrade.PrepareUpgradeFile(m_strUpdateFile, m_view.IsChecked(IDC_FORCE_UPGRADE));
    }
    if (!prepared) {
        return refuse();
    }
    // The request may have dropped blanks pasted after the path.
    m_strUpdateFile = m_upgrade.UpdateFile();

    // Each row's file, chosen by its hardware version.
    const std::string named = PackJudgedVersion(m_strUpdateFile);
    plan->clear();
    plan->reserve(ticked.size());
    for (int row : ticked) {
        const DeviceRow& r = m_listDevices.Row(row);
        const std::string* file = m_upgrade.FileFor(r.hard);
        if (file == nullptr) {
            ShowMessage("升级文件硬件版本不匹配");
            m_upgrade.DiscardWorkspace();
            return refuse();
        }
        PlannedUpgrade p{r.ip, r.mac, *file, {}, named};
        if (CompareVersionKeys(SoftVersionKey(r.soft), named).value_or(0) > 0) {
            p.downgradeFrom = r.soft;
        }
        plan->push_back(std::move(p));
    }
    return true;
}

bool CQuorvaneDlg::PlanUpgrade(
    const std::function<void(const std::vector<PlannedUpgrade>&)>& show) {
    const ControlsOff off(*this);
    std::vector<PlannedUpgrade> plan;
    if (!PrepareUpgrade(&plan, false)) {
        return false;
    }
    const bool settings = ReadUpgradeLimits().has_value();
    if (settings && show) {
        show(plan);
    }
    m_upgrade.DiscardWorkspace();
    return settings;
}

void CQuorvaneDlg::OnBnClickedUpgrade() {
    ControlsOff off(*this);
    std::vector<PlannedUpgrade> plan;
    if (!PrepareUpgrade(&plan, true)) {
        return;
    }
    auto refuse = [this] {
        m_upgrade.DiscardWorkspace();
        m_session.ReleaseLock();
    };
    const auto limits = ReadUpgradeLimits();
    if (!limits) {
        return refuse();
    }
    const int parallel = std::clamp(m_overrides.parallel.value_or(m_view.UpgradeParallel()), 1,
                                    TaskDispatcher::kMaxParallel);
    int verifyMs = 0;
    if (m_verifyOverride) {
        verifyMs = *m_verifyOverride;
    } else if (m_deps.search.GetVerifyTimeout != nullptr) {
        verifyMs = m_deps.search.GetVerifyTimeout();
    }
    // An older version is sent only when the technician says so, once for all.
    const std::string downgrades = DowngradeQuestion(plan);
    if (!downgrades.empty() && !m_view.Confirm(downgrades)) {
        return refuse();
    }
    const bool forced = m_view.IsChecked(IDC_FORCE_UPGRADE);
    BatchSettings batch{.kind = TASK_UPGRADE, .total = static_cast<std::uint32_t>(plan.size())};
    batch.syncTime = m_view.IsChecked(IDC_SYNC_TIME);
    batch.upgrade = m_upgrade.UpgradeInfo();
    batch.parallel = parallel;
    batch.maxFailures = limits->maxFailures;
    batch.probeMs = limits->probeMs;
    batch.verifyTimeoutMs = verifyMs;
    batch.canary = m_overrides.canary.value_or(m_view.UpgradeCanary());
    // Unticked, a camera already on the version the file names is not sent it.
    const bool resend = m_view.IsChecked(IDC_RESEND);
    std::string requestText =
        UpgradeRequestText(m_strUpdateFile, forced, parallel, limits->maxFailures, batch.canary);
    if (resend) {
        requestText += "，已是目标版本的也发送";
    }
    const auto older = std::count_if(
        plan.begin(), plan.end(), [](const PlannedUpgrade& p) { return !p.downgradeFrom.empty(); });
    if (older > 0) {
        requestText += "，降级" + std::to_string(older) + "台";
    }
    if (!StartBatch(batch, requestText)) {
        return refuse();
    }
    off.HandToBatch();
    ReportRequest& request = m_session.Record().request;
    request.file = m_strUpdateFile;
    request.force = forced;
    request.syncTime = m_view.IsChecked(IDC_SYNC_TIME);
    request.verifyTimeoutMs = verifyMs;
    m_session.DescribeFile(m_strUpdateFile);
    // Forcing and resending are choices for one batch, never settings that stay.
    m_view.SetChecked(IDC_FORCE_UPGRADE, false);
    m_view.SetChecked(IDC_RESEND, false);
    // Every camera of the batch says it waits for its turn until a worker takes it.
    for (const PlannedUpgrade& p : plan) {
        LiveState queued;
        queued.ip = p.ip;
        queued.mac = p.mac;
        m_listDevices.SetText(m_listDevices.FindByMac(p.mac), kColDetail, "");
        OnLiveState(queued);
    }
    for (const PlannedUpgrade& p : plan) {
        // The camera at the address must be the one judged here.
        const DeviceRow& row = m_listDevices.Row(m_listDevices.FindByMac(p.mac));
        TaskDispatcher::Expectation expected;
        expected.type = row.type;
        expected.hw = row.hard;
        expected.checkVersion = !resend && !p.named.empty();
        expected.allowOlder = p.named.empty() || !p.downgradeFrom.empty();
        m_dispatcher.ExpectCamera(p.mac, std::move(expected));
        m_session.Queued(p.mac, p.ip);
        m_dispatcher.Enqueue(p.ip.c_str(), p.mac.c_str(), p.file.c_str());
    }
}

}  // namespace app
