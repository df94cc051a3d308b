#include "app/OutcomeText.h"

#include <cstdarg>
#include <cstdio>

#include "app/DialogTexts.h"
#include "pack/PackInfo.h"
#include "platform/TermText.h"

namespace app {
namespace {

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[96];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

const char* ReasonWords(ReasonCode reason) {
    switch (reason) {
        case ReasonCode::None:
            return "";
        case ReasonCode::UnknownFileType:
            return "未知升级文件类型";
        case ReasonCode::BadAddress:
            return "IP地址无效";
        case ReasonCode::NoConnect:
            return "连接无应答";
        case ReasonCode::NoHello:
            return "相机未应答握手";
        case ReasonCode::LinkDropped:
            return "连接中断";
        case ReasonCode::Refused:
            return "相机拒绝";
        case ReasonCode::RefusedDigest:
            return "相机拒绝：校验不符";
        case ReasonCode::RefusedSize:
            return "相机拒绝：大小不符";
        case ReasonCode::RefusedHardware:
            return "相机拒绝：硬件版本不符";
        case ReasonCode::RefusedWrite:
            return "相机拒绝：无法写入";
        case ReasonCode::RefusedBusy:
            return "相机拒绝：正忙";
        case ReasonCode::RefusedFile:
            return "相机拒绝：文件无效";
        case ReasonCode::LocalFile:
            return "升级文件无法读取";
        case ReasonCode::Timeout:
            return "等待相机确认超时";
        case ReasonCode::Protocol:
            return "相机应答异常";
        case ReasonCode::NoLibrary:
            return "缺少设备库";
        case ReasonCode::NotTaken:
            return "相机未确认";
        case ReasonCode::NotStarted:
            return "批量任务已停止，未开始";
        case ReasonCode::Held:
            return "失败设备过多，暂缓";
        case ReasonCode::OtherDevice:
            return "地址上是另一台设备";
        case ReasonCode::MayHaveFile:
            return "已放弃，相机可能已收到文件";
        case ReasonCode::AlreadyCurrent:
            return "已是目标版本";
        case ReasonCode::Newer:
            return "未允许降级";
    }
    return "失败";  // a code of a later version read back from a report
}

}  // namespace

std::string LiveText(const LiveState& state) {
    switch (state.stage) {
        case LiveStage::Queued:
            return "排队等待";
        case LiveStage::Connecting:
            return Format("连接中（第%d次，共%d次）", state.attempt < 1 ? 1 : state.attempt,
                          state.attempts < 1 ? 1 : state.attempts);
        case LiveStage::Sending:
            return Format("发送中 %d%%", state.percent < 0 ? 0 : state.percent);
        case LiveStage::AwaitingVerdict:
            return "等待相机确认";
        case LiveStage::Rebooting:
            return "重启中";
        case LiveStage::Checking:
            return "检查版本";
        case LiveStage::Finished:
            return "";
    }
    return "";
}

std::string ReasonText(const CameraOutcome& o) {
    if (o.result == OutcomeResult::Succeeded || o.result == OutcomeResult::None) {
        return {};
    }
    std::string text = ReasonWords(o.reason);
    if (o.reason == ReasonCode::LinkDropped && o.percent >= 0) {
        text = Format("连接在%d%%时中断", o.percent);
    }
    if (o.reason == ReasonCode::OtherDevice) {
        text = "地址上是另一台设备 " + platform::EscapeForTerminal(o.otherMac);
    }
    if (!o.reasonText.empty()) {
        text += "（" + platform::EscapeForTerminal(o.reasonText) + "）";
    }
    return text;
}

std::string VerifyText(const CameraOutcome& o) {
    const std::string after = platform::EscapeForTerminal(o.versionAfter);
    switch (o.verify) {
        case VerifyResult::NotChecked:
            return {};
        case VerifyResult::NewVersion:
        case VerifyResult::NamedVersion:
            return "已验证 " + after;
        case VerifyResult::Unchanged:
            return "版本未变 " + after;
        case VerifyResult::NotBack:
            return "重启后未恢复";
        case VerifyResult::OtherDevice:
            return "地址上是另一台设备 " + platform::EscapeForTerminal(o.otherMac);
        case VerifyResult::OtherVersion:
            return "版本不符 " + after + "（文件为" + platform::EscapeForTerminal(o.versionNamed) +
                   "）";
        case VerifyResult::Stopped:
            return "已停止，未验证";
        case VerifyResult::NoVersion:
            return "无法验证：相机未报告版本";
        case VerifyResult::AtNewAddress:
            return "已验证 新地址 " + platform::EscapeForTerminal(o.addressSeen);
        case VerifyResult::NotAtNewAddress:
            return "新地址无应答";
    }
    return {};
}

const char* StatusOverride(const CameraOutcome& o) {
    return o.reason == ReasonCode::MayHaveFile ? ReasonWords(o.reason) : nullptr;
}

std::string DetailText(const CameraOutcome& o) {
    if (o.reason == ReasonCode::AlreadyCurrent) {
        return "已是目标版本 " + platform::EscapeForTerminal(o.versionBefore);
    }
    std::string detail;
    if (StatusOverride(o) == nullptr) {  // else the status says it all
        detail = ReasonText(o);
        detail = detail.empty() ? VerifyText(o) : detail;
    }
    if (CompareVersionKeys(SoftVersionKey(o.versionBefore), o.versionNamed).value_or(0) > 0) {
        const std::string mark = DowngradeText(o.versionBefore, o.versionNamed);
        return detail.empty() ? mark : mark + "，" + detail;
    }
    return detail;
}

std::string ForeignText(const std::string& adapter) {
    return "不在本机网段：" + adapter;
}

std::string DetailText(const CameraOutcome& o, const std::string& foreignOf) {
    if (!foreignOf.empty() && o.reason == ReasonCode::NoConnect &&
        o.result != OutcomeResult::Succeeded) {
        return ForeignText(foreignOf) + "，无法连接";
    }
    return DetailText(o);
}

const char* ResultName(OutcomeResult result) {
    switch (result) {
        case OutcomeResult::None:
            return "none";
        case OutcomeResult::Succeeded:
            return "succeeded";
        case OutcomeResult::Refused:
            return "refused";
        case OutcomeResult::Failed:
            return "failed";
    }
    return "unknown";
}

const char* ReasonName(ReasonCode reason) {
    switch (reason) {
        case ReasonCode::None:
            return "";
        case ReasonCode::UnknownFileType:
            return "unknown-file-type";
        case ReasonCode::BadAddress:
            return "bad-address";
        case ReasonCode::NoConnect:
            return "no-connect";
        case ReasonCode::NoHello:
            return "no-hello";
        case ReasonCode::LinkDropped:
            return "link-dropped";
        case ReasonCode::Refused:
            return "refused";
        case ReasonCode::RefusedDigest:
            return "refused-digest";
        case ReasonCode::RefusedSize:
            return "refused-size";
        case ReasonCode::RefusedHardware:
            return "refused-hardware";
        case ReasonCode::RefusedWrite:
            return "refused-write";
        case ReasonCode::RefusedBusy:
            return "refused-busy";
        case ReasonCode::RefusedFile:
            return "refused-file";
        case ReasonCode::LocalFile:
            return "local-file";
        case ReasonCode::Timeout:
            return "timeout";
        case ReasonCode::Protocol:
            return "protocol";
        case ReasonCode::NoLibrary:
            return "no-library";
        case ReasonCode::NotTaken:
            return "not-taken";
        case ReasonCode::NotStarted:
            return "not-started";
        case ReasonCode::Held:
            return "held";
        case ReasonCode::OtherDevice:
            return "other-device";
        case ReasonCode::MayHaveFile:
            return "may-have-file";
        case ReasonCode::AlreadyCurrent:
            return "already-current";
        case ReasonCode::Newer:
            return "newer";
    }
    return "unknown";
}

const char* VerifyName(VerifyResult verify) {
    switch (verify) {
        case VerifyResult::NotChecked:
            return "";
        case VerifyResult::NewVersion:
            return "new-version";
        case VerifyResult::NamedVersion:
            return "named-version";
        case VerifyResult::Unchanged:
            return "unchanged";
        case VerifyResult::NotBack:
            return "not-back";
        case VerifyResult::OtherDevice:
            return "other-device";
        case VerifyResult::OtherVersion:
            return "other-version";
        case VerifyResult::Stopped:
            return "stopped";
        case VerifyResult::NoVersion:
            return "no-version";
        case VerifyResult::AtNewAddress:
            return "at-new-address";
        case VerifyResult::NotAtNewAddress:
            return "not-at-new-address";
    }
    return "unknown";
}

}  // namespace app
