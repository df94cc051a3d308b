#include "app/DialogTexts.h"

#include <cstdio>

#include "app/OutcomeText.h"
#include "engine/TaskDispatcher.h"
#include "platform/TermText.h"

namespace app {

namespace {

// The words of each kind of batch.
struct KindTexts {
    std::int32_t kind;
    const char* succeeded;
    const char* failed;
    const char* done;  // the completion message
    const char* name;
    const char* report;  // the record's kind
};

constexpr KindTexts kKinds[] = {
    {TASK_MODIFY_IP, "修改IP成功", "修改IP失败", "批量修改IP完成", "批量修改IP", "modify-ip"},
    {TASK_RESTORE_IP, "恢复默认IP成功", "恢复默认IP失败", "批量恢复默认IP完成", "批量恢复默认IP",
     "restore-ip"},
    {TASK_UPGRADE, "升级成功", "升级失败", "批量升级完成", "批量升级", "upgrade"},
};

const KindTexts* TextsOf(std::int32_t kind) {
    for (const KindTexts& k : kKinds) {
        if (k.kind == kind) {
            return &k;
        }
    }
    return nullptr;
}

}  // namespace

const char* StatusText(std::int32_t kind, std::int32_t result) {
    const KindTexts* k = TextsOf(kind);
    if (k == nullptr || (result != 0 && result != 1)) {
        return "";
    }
    return result == 1 ? k->succeeded : k->failed;
}

const char* SkippedText(std::int32_t kind, ReasonCode why) {
    const bool upgrade = kind == TASK_UPGRADE;
    if (why == ReasonCode::Held) {
        return upgrade ? "未升级（已暂缓）" : "未修改（已暂缓）";
    }
    return upgrade ? "未升级（已停止）" : "未修改（已停止）";
}

const char* FinishedText(std::int32_t kind, std::int32_t result, const CameraOutcome& outcome) {
    const ReasonCode why = outcome.reason;
    if (why == ReasonCode::NotStarted || why == ReasonCode::Held) {
        return SkippedText(kind, why);
    }
    const char* override = StatusOverride(outcome);
    return override != nullptr ? override : StatusText(kind, result);
}

const char* CompletionText(std::int32_t kind) {
    const KindTexts* k = TextsOf(kind);
    return k != nullptr ? k->done : nullptr;
}

const char* BatchName(std::int32_t kind) {
    const KindTexts* k = TextsOf(kind);
    return k != nullptr ? k->name : "批量任务";
}

const char* ReportKind(std::int32_t kind) {
    const KindTexts* k = TextsOf(kind);
    return k != nullptr ? k->report : "upgrade";
}

std::string UpgradeRequestText(const std::string& file, bool forced, int parallel,
                               std::uint32_t maxFailures, const Canary& canary) {
    std::string request = (forced ? "强制升级文件 " : "升级文件 ") + file;
    if (parallel > 1) {
        request += "，同时升级" + std::to_string(parallel) + "台";
    }
    if (maxFailures > 0) {
        request += "，失败" + std::to_string(maxFailures) + "台后暂缓其余";
    }
    if (canary.On()) {
        request += "，" + CanaryText(canary) + "，验证后再升级其余";
    }
    return request;
}

std::string CanaryText(const Canary& canary) {
    if (canary.perHardware) {
        return "先升级每种硬件1台";
    }
    return canary.count > 0 ? "先升级" + std::to_string(canary.count) + "台" : std::string();
}

std::string CanaryHeldText(const std::string& mac, const std::string& ip, std::uint32_t held) {
    return "先升级的设备[" + mac + "] " + ip + " 未通过，其余" + std::to_string(held) +
           "台暂缓，未开始";
}

std::string CanaryPassedText(std::uint32_t canaries, std::uint32_t rest) {
    return "先升级的" + std::to_string(canaries) + "台已通过，开始升级其余" + std::to_string(rest) +
           "台";
}

std::string IpPlanQuestion(const std::vector<PlannedAddress>& plan) {
    constexpr std::size_t kShown = 20;
    std::string text = "将修改" + std::to_string(plan.size()) + "台设备的IP地址：\n";
    for (std::size_t i = 0; i < plan.size() && i < kShown; ++i) {
        const PlannedAddress& p = plan[i];
        text += p.mac + "  " + p.ip + " → " + p.newIp;
        if (!p.mask.empty()) {
            text += " 子网掩码 " + p.mask;
        }
        if (!p.gateway.empty()) {
            text += " 网关 " + p.gateway;
        }
        if (!p.name.empty()) {
            text += "  " + platform::EscapeForTerminal(p.name);
        }
        if (!p.note.empty()) {
            text += "（" + p.note + "）";
        }
        text += "\n";
    }
    if (plan.size() > kShown) {
        text += "……另有" + std::to_string(plan.size() - kShown) + "台\n";
    }
    return text + "继续吗？";
}

std::string DowngradeText(const std::string& from, const std::string& to) {
    return "降级：" + platform::EscapeForTerminal(from) + " → " + platform::EscapeForTerminal(to);
}

std::string DowngradeQuestion(const std::vector<PlannedUpgrade>& plan) {
    constexpr std::size_t kShown = 20;
    std::string lines;
    std::size_t older = 0;
    for (const PlannedUpgrade& p : plan) {
        if (p.downgradeFrom.empty()) {
            continue;
        }
        if (++older <= kShown) {
            lines += p.mac + "  " + p.ip + "  " + DowngradeText(p.downgradeFrom, p.named) + "\n";
        }
    }
    if (older == 0) {
        return {};
    }
    if (older > kShown) {
        lines += "……另有" + std::to_string(older - kShown) + "台\n";
    }
    return kDowngradeAsk + std::to_string(older) + "台设备到较旧的版本：\n" + lines + "继续吗？";
}

std::string SameAddressQuestion(std::size_t cameras, const std::string& ip) {
    return std::to_string(cameras) + "台设备将使用同一地址 " + ip + "，继续吗？";
}

std::string NotFoundText(const char* address, const int (&ports)[3]) {
    char text[256];
    std::snprintf(text, sizeof(text),
                  "未搜索到设备（发现地址 %s，端口 %d；控制端口 %d，改IP端口 %d）\r\n",
                  platform::EscapeForTerminal(address).c_str(), ports[0], ports[1], ports[2]);
    return text;
}

std::string FormatText(const char* format, va_list args) {
    if (format == nullptr) {
        return {};
    }
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string_view ScanTextShown(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string ScanSummary(const std::string& shown, std::size_t asked, int added, int listed,
                        bool cancelled) {
    std::string line = "按地址搜索 " + shown + "（" + std::to_string(asked) + "个地址）";
    if (cancelled) {
        line += "已停止";
    }
    if (added == 0 && listed == 0) {
        return line + "：未搜索到设备";
    }
    line += "：搜索到" + std::to_string(added + listed) + "台设备";
    if (listed > 0) {
        line += "，其中" + std::to_string(listed) + "台已在列表中";
    }
    return line;
}

}  // namespace app
