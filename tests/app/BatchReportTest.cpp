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
        loaded_ = app::LoadReport(dir_.string(), "20261209-001503-120", &why)->doc;
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
                                           ProofRow{1, 0, VerifyResult::AtNewAddress, true},
                                           ProofRow{1, 0, VerifyResult::NotAtNewAddress, false},
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

// A cell is escaped as the console escapes, a formula defused, and quoted
// when it holds a separator; the window's list export writes cells the same way.
struct CsvRow {
    const char* text;
    const char* cell;
};

class CsvCell : public ::testing::TestWithParam<CsvRow> {};

TEST_P(CsvCell, IsEscapedDefusedAndQuoted) {
    EXPECT_EQ(app::CsvField(GetParam().text), GetParam().cell);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CsvCell,
    ::testing::Values(CsvRow{"plain 摄像机", "plain 摄像机"},
                      CsvRow{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                      CsvRow{"+1", "'+1"}, CsvRow{"-1", "'-1"}, CsvRow{"@SUM(A1)", "'@SUM(A1)"},
                      CsvRow{"a,b\r\nc", "\"a,b\\r\\nc\""},
                      CsvRow{"fw\x1b]0;owned\x07.bin", "fw\\x1b]0;owned\\x07.bin"},
                      CsvRow{"\tx", "\\tx"}, CsvRow{"\x7f\xc2\x9b", "\\x7f\\u009b"}));

TEST(BatchReport, CsvHoldsNoControlCharacterButItsLineEnds) {
    app::BatchReport r = Sample();
    r.cameras[0].outcome.file = "/fw/\x1b[2J\x1b]0;x\x07uImage";
    r.cameras[1].outcome.reasonText = "a,b\r\nc";
    const std::string csv = app::CamerasCsv(r);
    EXPECT_EQ(csv.rfind("mac,ip,ip_after,type,hw,", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const auto c = static_cast<unsigned char>(csv[i]);
        if (c == '\r') {
            ASSERT_EQ(csv[i + 1], '\n') << i;
            ++lines;
            ++i;
            continue;
        }
        ASSERT_TRUE(c >= 0x20 && c != 0x7f) << "byte " << int(c) << " at " << i;
    }
    EXPECT_EQ(lines, 1 + r.cameras.size());
}

// What the writer writes, the reader gives back as it was given.
TEST(BatchReport, TheReaderGivesBackWhatWasWritten) {
    app::BatchReport r = Sample();
    r.cameras[2].skipped = 19;
    r.cameras[2].result = 0;
    r.cameras[2].outcome.result = OutcomeResult::None;
    std::string why;
    const auto back = app::ParseReport(app::ReportJson(r).dump(), &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(app::ReportJson(back->report), app::ReportJson(r));
}

TEST(BatchReport, ARecordFromBeforeTheAddressFieldsIsStillRead) {
    app::BatchReport r = Sample();
    r.kind = "modify-ip";
    r.cameras[0].ipBefore = "127.0.0.9";
    r.cameras[0].mask = "255.255.255.0";
    r.cameras[0].outcome.verify = VerifyResult::AtNewAddress;
    r.cameras[0].outcome.addressSeen = "127.0.1.1";
    std::string why;
    auto back = app::ParseReport(app::ReportJson(r).dump(), &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->report.cameras[0].ipBefore, "127.0.0.9");
    EXPECT_EQ(back->report.cameras[0].outcome.addressSeen, "127.0.1.1");
    EXPECT_EQ(back->report.cameras[0].outcome.verify, VerifyResult::AtNewAddress);

    nlohmann::json old = app::ReportJson(r);
    old["summary"].erase("not_at_new_address");
    for (auto& c : old["cameras"]) {
        for (const char* key : {"ip_before", "mask", "gateway", "address_seen"}) {
            c.erase(key);
        }
    }
    back = app::ParseReport(old.dump(), &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->report.cameras[0].ipBefore, "");
    EXPECT_EQ(back->report.cameras[0].mask, "");
}

// A record with one field of the wrong type or out of its range is refused
// with the field's name; nothing is thrown.
struct DamageRow {
    const char* pointer;
    nlohmann::json value;
    const char* says;
};

class DamagedRecord : public ::testing::TestWithParam<DamageRow> {};

TEST_P(DamagedRecord, IsRefusedWithTheFieldsName) {
    const DamageRow& row = GetParam();
    nlohmann::json doc = app::ReportJson(Sample());
    const nlohmann::json::json_pointer at(row.pointer);
    if (row.value.is_discarded()) {
        doc[at.parent_pointer()].erase(at.back());
    } else {
        doc[at] = row.value;
    }
    std::string why;
    std::optional<app::StoredReport> read;
    EXPECT_NO_THROW(read = app::ParseReport(doc.dump(), &why));
    EXPECT_FALSE(read);
    EXPECT_EQ(why, row.says);
}

const nlohmann::json kGone = nlohmann::json(nlohmann::json::value_t::discarded);

INSTANTIATE_TEST_SUITE_P(
    Fields, DamagedRecord,
    ::testing::Values(DamageRow{"/format", 5, "字段“/format”不可用"},
                      DamageRow{"/format", "other", "不是批次记录"},
                      DamageRow{"/version", 2, "字段“/version”不可用"},
                      DamageRow{"/kind", 5, "字段“/kind”不可用"},
                      DamageRow{"/kind", "format-disk", "字段“/kind”不可用"},
                      DamageRow{"/id", "../x", "字段“/id”不可用"},
                      DamageRow{"/started", 5, "字段“/started”不可用"},
                      DamageRow{"/duration_ms", 1.5, "字段“/duration_ms”不可用"},
                      DamageRow{"/summary", "x", "字段“/summary”不可用"},
                      DamageRow{"/summary/total", "4", "字段“/summary/total”不可用"},
                      DamageRow{"/summary/failed", -1, "字段“/summary/failed”不可用"},
                      DamageRow{"/request/force", 1, "字段“/request/force”不可用"},
                      DamageRow{"/request/file_bytes", -5, "字段“/request/file_bytes”不可用"},
                      DamageRow{"/cameras", kGone, "缺少字段“/cameras”"},
                      DamageRow{"/cameras", "x", "字段“/cameras”不可用"},
                      DamageRow{"/cameras/1", 7, "字段“/cameras/1”不可用"},
                      DamageRow{"/cameras/0/mac", kGone, "缺少字段“/cameras/0/mac”"},
                      DamageRow{"/cameras/0/result", 5, "字段“/cameras/0/result”不可用"},
                      DamageRow{"/cameras/0/result", "won", "字段“/cameras/0/result”不可用"},
                      DamageRow{"/cameras/3/verify", 5, "字段“/cameras/3/verify”不可用"},
                      DamageRow{"/cameras/3/verify", "maybe", "字段“/cameras/3/verify”不可用"},
                      DamageRow{"/cameras/3/percent", 101, "字段“/cameras/3/percent”不可用"},
                      DamageRow{"/cameras/3/skipped", 7, "字段“/cameras/3/skipped”不可用"},
                      DamageRow{"/cameras/3/total_ms", nullptr, "字段“/cameras/3/total_ms”不可用"},
                      DamageRow{"/cameras/3/reason_code", 1e10,
                                "字段“/cameras/3/reason_code”不可用"}),
    [](const auto& row) {
        std::string n = row.param.pointer;
        for (char& ch : n) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n + "_" + std::to_string(row.index);
    });

}  // namespace
