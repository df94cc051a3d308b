// The texts of outcomes that are not plain failures: status, detail and the
// report's reason name.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app/OutcomeText.h"

namespace {

struct TextCase {
    const char* name;
    OutcomeResult result;
    ReasonCode reason;
    const char* otherMac;
    const char* status;  // nullptr: the plain status word stands
    const char* detail;
    const char* reasonName;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class OutcomeTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(OutcomeTextTest, SaysWhatHappened) {
    const auto& c = GetParam();
    CameraOutcome o;
    o.result = c.result;
    o.reason = c.reason;
    o.otherMac = c.otherMac;
    o.versionBefore = "2.6.0_1a2b3c4d";
    o.percent = 37;
    const char* status = app::StatusOverride(o);
    EXPECT_EQ(status == nullptr ? std::string("-") : std::string(status),
              c.status == nullptr ? std::string("-") : std::string(c.status));
    EXPECT_EQ(app::DetailText(o), c.detail);
    EXPECT_STREQ(app::ReasonName(o.reason), c.reasonName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutcomeTextTest,
    ::testing::Values(TextCase{"AnotherCamera", OutcomeResult::Failed, ReasonCode::OtherDevice,
                               "02:51:56:00:00:02 LWZ484-MOE", nullptr,
                               "地址上是另一台设备 02:51:56:00:00:02 LWZ484-MOE", "other-device"},
                      TextCase{"NamesAreEscaped", OutcomeResult::Failed, ReasonCode::OtherDevice,
                               "02:51:56:00:00:02 \x1b[2J", nullptr,
                               "地址上是另一台设备 02:51:56:00:00:02 \\x1b[2J", "other-device"},
                      TextCase{"MayHaveTheFile", OutcomeResult::Failed, ReasonCode::MayHaveFile, "",
                               "已放弃，相机可能已收到文件", "", "may-have-file"},
                      TextCase{"AlreadyAtTheVersion", OutcomeResult::Succeeded,
                               ReasonCode::AlreadyCurrent, "", nullptr,
                               "已是目标版本 2.6.0_1a2b3c4d", "already-current"},
                      TextCase{"PlainLinkDrop", OutcomeResult::Failed, ReasonCode::LinkDropped, "",
                               nullptr, "连接在37%时中断", "link-dropped"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
