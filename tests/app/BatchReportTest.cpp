// The batch report: every field as written and read back, the summary line,
// and how the files are written and found.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/BatchReport.h"

namespace fs = std::filesystem;

namespace {

app::BatchReport Sample() {
    app::BatchReport r;
    r.id = "20261209-001503-120";
    r.kind = "upgrade";
    r.tool = "QuorvaneV1.0.0.8(Custom版)";
    r.started = "2026-12-09 00:15:03.120";
    r.finished = "2026-12-09 00:16:08.500";
    r.durationMs = 65380;
    r.request.file = "/fw/fw.bin";
    r.request.fileMd5 = "0123456789abcdef0123456789abcdef";
    r.request.fileBytes = 1200;
    r.request.verifyTimeoutMs = 300000;
    app::ReportCamera ok;
    ok.mac = "02:51:56:00:00:01";
    ok.ip = ok.ipAfter = "127.0.1.1";
    ok.type = "QV-LPR200";
    ok.hw = "111A";
    ok.status = "升级成功";
    ok.detail = "已验证 2.6.0_1a2b3c4d";
    ok.result = 1;
    ok.outcome.result = OutcomeResult::Succeeded;
    ok.outcome.verify = VerifyResult::NamedVersion;
    ok.outcome.versionBefore = "2.1.3_20240115";
    ok.outcome.versionAfter = "2.6.0_1a2b3c4d";
    ok.outcome.versionNamed = "2.6";
    ok.outcome.file = "/tmp/UpdatePacket_x/Pack1.bin";
    ok.outcome.fileBytes = 1200;
    ok.outcome.bytesSent = 1200;
    ok.outcome.attempts = 1;
    ok.outcome.totalMs = 4200;
    app::ReportCamera refused = ok;
    refused.mac = "02:51:56:00:00:02";
    refused.status = "升级失败";
    refused.result = 0;
    refused.outcome = {};
    refused.outcome.result = OutcomeResult::Refused;
    refused.outcome.reason = ReasonCode::RefusedHardware;
    refused.outcome.reasonText = "entry YJ202";
    app::ReportCamera notBack = ok;
    notBack.mac = "02:51:56:00:00:03";
    notBack.outcome.verify = VerifyResult::NotBack;
    notBack.outcome.versionAfter.clear();
    app::ReportCamera dropped = refused;
    dropped.mac = "02:51:56:00:00:04";
    dropped.outcome.result = OutcomeResult::Failed;
    dropped.outcome.reason = ReasonCode::LinkDropped;
    dropped.outcome.percent = 43;
    r.cameras = {ok, refused, notBack, dropped};
    return r;
}

struct FieldRow {
    const char* pointer;
    nlohmann::json expected;
};

class ReportField : public ::testing::TestWithParam<FieldRow> {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("qv_report_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        std::string path;
        std::string why;
        ASSERT_TRUE(app::WriteReport(dir_.string(), Sample(), &path, &why)) << why;
        loaded_ = *app::LoadReport(dir_.string(), "20261209-001503-120", &why);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static inline fs::path dir_;
    static inline nlohmann::json loaded_;
};

TEST_P(ReportField, IsWrittenAndReadBack) {
    const FieldRow& f = GetParam();
    EXPECT_EQ(loaded_.at(nlohmann::json::json_pointer(f.pointer)), f.expected) << f.pointer;
}

INSTANTIATE_TEST_SUITE_P(
    EveryField, ReportField,
    ::testing::Values(
        FieldRow{"/format", "quorvane-batch-report"}, FieldRow{"/version", 1},
        FieldRow{"/id", "20261209-001503-120"}, FieldRow{"/kind", "upgrade"},
        FieldRow{"/tool", "QuorvaneV1.0.0.8(Custom版)"},
        FieldRow{"/started", "2026-12-09 00:15:03.120"}, FieldRow{"/duration_ms", 65380},
        FieldRow{"/request/file", "/fw/fw.bin"},
        FieldRow{"/request/file_md5", "0123456789abcdef0123456789abcdef"},
        FieldRow{"/request/file_bytes", 1200}, FieldRow{"/request/verify_timeout_ms", 300000},
        FieldRow{"/summary/total", 4}, FieldRow{"/summary/succeeded", 2},
        FieldRow{"/summary/verified", 1}, FieldRow{"/summary/refused", 1},
        FieldRow{"/summary/failed", 1}, FieldRow{"/summary/not_back", 1},
        FieldRow{"/cameras/0/mac", "02:51:56:00:00:01"}, FieldRow{"/cameras/0/ip", "127.0.1.1"},
        FieldRow{"/cameras/0/type", "QV-LPR200"}, FieldRow{"/cameras/0/hw", "111A"},
        FieldRow{"/cameras/0/version_before", "2.1.3_20240115"},
        FieldRow{"/cameras/0/version_after", "2.6.0_1a2b3c4d"},
        FieldRow{"/cameras/0/version_named", "2.6"},
        FieldRow{"/cameras/0/file", "/tmp/UpdatePacket_x/Pack1.bin"},
        FieldRow{"/cameras/0/bytes_sent", 1200}, FieldRow{"/cameras/0/result", "succeeded"},
        FieldRow{"/cameras/0/verify", "named-version"}, FieldRow{"/cameras/0/total_ms", 4200},
        FieldRow{"/cameras/1/result", "refused"}, FieldRow{"/cameras/1/reason", "refused-hardware"},
        FieldRow{"/cameras/1/reason_code", 9}, FieldRow{"/cameras/1/reason_text", "entry YJ202"},
        FieldRow{"/cameras/2/verify", "not-back"}, FieldRow{"/cameras/3/reason", "link-dropped"},
        FieldRow{"/cameras/3/percent", 43}),
    [](const auto& row) {
        std::string n = row.param.pointer;
        for (char& ch : n) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// The one rule the window's retry, the console's exit status, the report's
// count and a retry from a report go by.
struct ProofRow {
    int result;
    int skipped;
    VerifyResult verify;
    bool proven;
};

class ProvenRule : public ::testing::TestWithParam<ProofRow> {};

TEST_P(ProvenRule, DecidesAndTheReportCountsOnlyWhatACheckProved) {
    const ProofRow& c = GetParam();
    app::BatchReport r;
    r.kind = "upgrade";
    app::ReportCamera cam;
    cam.result = c.result;
    cam.skipped = c.skipped;
    cam.outcome.verify = c.verify;
    r.cameras = {cam};
    EXPECT_EQ(app::Proven(cam), c.proven);
    EXPECT_EQ(app::Summarize(r).verified,
              c.proven && c.verify != VerifyResult::NotChecked ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryVerify, ProvenRule,
                         ::testing::Values(ProofRow{1, 0, VerifyResult::NotChecked, true},
                                           ProofRow{1, 0, VerifyResult::NewVersion, true},
                                           ProofRow{1, 0, VerifyResult::NamedVersion, true},
                                           ProofRow{1, 0, VerifyResult::Unchanged, false},
                                           ProofRow{1, 0, VerifyResult::NotBack, false},
                                           ProofRow{1, 0, VerifyResult::OtherDevice, false},
                                           ProofRow{1, 0, VerifyResult::OtherVersion, false},
                                           ProofRow{1, 0, VerifyResult::Stopped, false},
                                           ProofRow{0, 0, VerifyResult::NotChecked, false},
                                           ProofRow{0, 0, VerifyResult::NamedVersion, false},
                                           ProofRow{0, 18, VerifyResult::NotChecked, false},
                                           ProofRow{1, 19, VerifyResult::NotChecked, false}));

TEST(BatchReport, SummaryLineCountsEveryOutcome) {
    EXPECT_EQ(app::SummaryLine(Sample()),
              "结果：共4台，成功2（已验证1），拒绝1，失败1，未恢复1，用时1分05秒");
}

TEST(BatchReport, FilesAreFoundByIdOnlyAndNeverWrittenThroughALink) {
    const fs::path dir = fs::temp_directory_path() / ("qv_reports_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "reports");
    app::BatchReport r = Sample();
    std::string path;
    std::string why;
    ASSERT_TRUE(app::WriteReport(dir.string(), r, &path, &why)) << why;
    r.id = "20261209-001600-000";
    ASSERT_TRUE(app::WriteReport(dir.string(), r, &path, &why)) << why;
    std::ofstream(dir / "reports" / "notes.json") << "{}";
    const auto list = app::ListReports(dir.string());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].id, "20261209-001600-000");  // newest first
    EXPECT_FALSE(app::LoadReport(dir.string(), "../../etc/passwd", &why));
    EXPECT_FALSE(app::LoadReport(dir.string(), "20261209-000000-000", &why));
#ifndef _WIN32  // Wine makes no links
    // A link where the report would go is left alone and the write refused.
    r.id = "20261209-001700-000";
    fs::create_symlink(dir / "elsewhere.json", dir / "reports" / "batch-20261209-001700-000.json");
    EXPECT_FALSE(app::WriteReport(dir.string(), r, &path, &why));
    EXPECT_FALSE(fs::exists(dir / "elsewhere.json"));
#endif
    // No temporary file is left behind.
    for (const auto& e : fs::directory_iterator(dir / "reports")) {
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos);
    }
    fs::remove_all(dir);
}

TEST(BatchReport, CsvKeepsCameraTextsInTheirCells) {
    nlohmann::json j = app::ReportJson(Sample());
    j["cameras"][0]["type"] = "=HYPERLINK(\"x\")";
    j["cameras"][1]["reason_text"] = "a,b\r\nc";
    const std::string csv = app::CamerasCsv(j);
    EXPECT_EQ(csv.rfind("mac,ip,ip_after,type,hw,", 0), 0u);
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos);
    EXPECT_NE(csv.find(",\"a,b\r\nc\","), std::string::npos);
}

}  // namespace
