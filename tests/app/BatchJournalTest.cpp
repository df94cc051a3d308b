#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/BatchJournal.h"
#include "app/BatchSession.h"
#include "platform/SafeFile.h"

namespace fs = std::filesystem;

namespace {

// A folder of the test's own, and a journal of a three-camera batch written
// into it by the writer: the first camera proven, the second failed, the
// third's check still to come, and a fourth queued without a verdict.
class BatchJournal : public ::testing::Test {
  protected:
    void SetUp() override {
        // mkdtemp is not on both systems: a random name, taken only if new.
        std::random_device random;
        do {
            dir_ = fs::temp_directory_path() / ("qv-journal-" + std::to_string(random()));
        } while (!fs::create_directory(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    static app::ReportCamera Camera(int n, OutcomeResult result, VerifyResult verify) {
        app::ReportCamera c;
        c.mac = "02:51:56:00:00:0" + std::to_string(n);
        c.ip = "127.0.1." + std::to_string(n);
        c.result = result == OutcomeResult::Succeeded ? 1 : 0;
        c.outcome.result = result;
        c.outcome.verify = verify;
        return c;
    }

    std::string Written(bool finish, const std::string& id = "20261211-101500-042") {
        app::BatchReport batch;
        batch.id = id;
        batch.kind = "upgrade";
        batch.started = "2026-12-11 10:15:00.042";
        batch.request.file = "/fw/uImage";
        app::JournalWriter w;
        std::string why;
        EXPECT_TRUE(w.Open(dir_.string(), batch, &why)) << why;
        for (int n = 1; n <= 4; ++n) {
            EXPECT_TRUE(w.Queued(Camera(n, {}, {}).mac, Camera(n, {}, {}).ip, &why)) << why;
        }
        EXPECT_TRUE(w.Camera(Camera(1, OutcomeResult::Succeeded, {}), true, &why));
        EXPECT_TRUE(w.Camera(Camera(2, OutcomeResult::Failed, {}), false, &why));
        EXPECT_TRUE(
            w.Camera(Camera(1, OutcomeResult::Succeeded, VerifyResult::NewVersion), false, &why));
        EXPECT_TRUE(w.Camera(Camera(3, OutcomeResult::Succeeded, {}), true, &why));
        if (finish) {
            batch.finished = "2026-12-11 10:16:00.000";
            EXPECT_TRUE(w.Finish(batch, &why));
        }
        EXPECT_EQ(w.Syncs(), finish ? 6u : 5u);  // the request, then one per record
        return platform::ReadRegularFile(app::JournalPath(dir_.string(), batch.id), 1u << 20, &why)
            .value_or("");
    }

    fs::path dir_;
};

// One row per journal as a crash, a kill or a disk may leave it.
TEST_F(BatchJournal, EachJournalReadsAsFarAsItGotOrIsRefused) {
    const std::string whole = Written(false);
    ASSERT_FALSE(whole.empty());
    const std::size_t lastLine = whole.rfind('\n', whole.size() - 2) + 1;
    const std::string header = whole.substr(0, whole.find('\n') + 1);
    struct Case {
        const char* name;
        std::string text;
        bool read;
        bool complete;
        unsigned unfinished;  // queued cameras without a final record
        unsigned cameras;
        const char* why;
    };
    const std::vector<Case> cases{
        {"cut off after the third camera's verdict", whole, true, false, 2, 4, ""},
        {"complete", Written(true, "20261211-101500-043"), true, true, 0, 4, ""},
        {"torn last line", whole.substr(0, whole.size() - 9), true, false, 2, 4, ""},
        {"last line whole but garbage", whole.substr(0, lastLine) + "{\"camera\":\n", true, false,
         2, 4, ""},
        {"last line zeros after a power loss", whole + std::string(40, '\0') + "\n", true, false, 2,
         4, ""},
        {"several damaged lines at the end", whole + std::string(40, '\0') + "\n{\"ca\n\n", true,
         false, 2, 4, ""},
        {"header only", header, true, false, 0, 0, ""},
        {"request lost with the last line", header + "{\"request\":{\"file\":", true, false, 0, 0,
         ""},
        {"empty", "", false, false, 0, 0, "批次日志是空的"},
        {"torn header", header.substr(0, 20), false, false, 0, 0, "批次日志是空的"},
        {"not a journal", "{\"format\":\"quorvane-batch-report\"}\n", false, false, 0, 0,
         "不是批次日志"},
        {"a header whose format is a number", "{\"journal\":1}\n", false, false, 0, 0,
         "不是批次日志"},
        {"garbage",
         "\x7f"
         "ELF\x02\x01\n\x00\x00\n",
         false, false, 0, 0, "批次日志第1行不可用"},
        {"a damaged line before the end", header + "{oops}\n" + whole.substr(header.size()), false,
         false, 0, 0, "批次日志第2行不可用"},
        {"an unknown line", header + "{\"what\":1}\n{\"request\":{}}\n", false, false, 0, 0,
         "批次日志第2行不可用"},
        {"a camera without its MAC",
         header + "{\"camera\":{\"result\":\"failed\"}}\n{\"request\":{}}\n", false, false, 0, 0,
         "批次日志第2行不可用"},
        {"a camera's field damaged",
         header + "{\"camera\":{\"mac\":\"m\",\"result\":\"exploded\"}}\n{}\n", false, false, 0, 0,
         "批次日志不可用：字段“/cameras/0/result”不可用"},
        {"a line too long",
         header + "{\"queued\":{\"mac\":\"" + std::string(70000, 'A') +
             "\",\"ip\":\"\"}}\n{\"request\":{}}\n",
         false, false, 0, 0, "批次日志第2行过长"},
        {"a kind of no batch", "{\"journal\":\"quorvane-batch-journal\",\"kind\":\"format\"}\n",
         false, false, 0, 0, "批次日志不可用：字段“/kind”不可用"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        const auto got = app::ParseJournal(c.text, &why);
        ASSERT_EQ(got.has_value(), c.read) << why;
        EXPECT_EQ(why, c.why);
        if (!got) {
            continue;
        }
        EXPECT_EQ(got->complete, c.complete);
        EXPECT_EQ(got->unfinished, c.unfinished);
        EXPECT_EQ(got->report.cameras.size(), c.cameras);
        EXPECT_EQ(got->doc["interrupted"], !c.complete);
    }
}

// What each camera of a cut-off batch counts as: the proof decides, the last
// record of a camera wins, and a camera without a verdict is not proven.
TEST_F(BatchJournal, OnlyAProvenCameraIsDone) {
    std::string why;
    const auto got = app::ParseJournal(Written(false), &why);
    ASSERT_TRUE(got) << why;
    ASSERT_EQ(got->report.cameras.size(), 4u);
    const std::vector<std::pair<bool, VerifyResult>> want{{true, VerifyResult::NewVersion},
                                                          {false, VerifyResult::NotChecked},
                                                          {false, VerifyResult::Stopped},
                                                          {false, VerifyResult::NotChecked}};
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        const app::ReportCamera& c = got->report.cameras[i];
        EXPECT_EQ(c.mac, "02:51:56:00:00:0" + std::to_string(i + 1));
        EXPECT_EQ(app::Proven(c), want[i].first);
        EXPECT_EQ(c.outcome.verify, want[i].second);
    }
    EXPECT_EQ(got->report.cameras[3].status, "未处理");
    EXPECT_EQ(got->report.request.file, "/fw/uImage");
    EXPECT_EQ(app::InterruptedText(*got), "上次批量任务未完成：2台未处理");
}

// The last batch of the folder decides what the next start says.
TEST_F(BatchJournal, OnlyTheLastBatchCutOffIsSaid) {
    EXPECT_FALSE(app::InterruptedLastBatch(dir_.string()));
    Written(false);
    auto last = app::InterruptedLastBatch(dir_.string());
    ASSERT_TRUE(last);
    EXPECT_EQ(last->unfinished, 2u);
    // A later batch that ended: nothing to say.
    app::BatchReport later;
    later.id = "20261211-110000-000";
    later.kind = "upgrade";
    std::string path;
    std::string why;
    ASSERT_TRUE(app::WriteReport(dir_.string(), later, &path, &why)) << why;
    EXPECT_FALSE(app::InterruptedLastBatch(dir_.string()));
}

// A batch of the session journals every camera and leaves only its report.
TEST_F(BatchJournal, ASessionJournalsAsItGoesAndLeavesTheReport) {
    app::BatchSession session;
    session.JournalInto(dir_.string());
    session.Begin(TASK_UPGRADE, "Quorvane", {2026, 12, 11, 10, 20, 30, 5});
    session.Queued("02:51:56:00:00:01", "127.0.1.1");
    const std::string path = app::JournalPath(dir_.string(), session.Record().id);
    ASSERT_TRUE(fs::exists(path));
    TaskResult r;
    std::snprintf(r.aux, sizeof(r.aux), "02:51:56:00:00:01");
    r.kind = TASK_UPGRADE;
    r.result = 1;
    r.outcome.result = OutcomeResult::Succeeded;
    session.Add(r, nullptr);
    std::string why;
    auto mid = app::ReadJournalFile(path, &why);
    ASSERT_TRUE(mid) << why;
    EXPECT_EQ(mid->unfinished, 0u);
    EXPECT_TRUE(app::Proven(mid->report.cameras.at(0)));
    session.End({2026, 12, 11, 10, 21, 0, 0});
    ASSERT_TRUE(session.Save(dir_.string())) << session.SaveFailure();
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(session.SavedPath()));
    EXPECT_EQ(session.TakeJournalFailure(), "");
}

// What a flush per camera costs on this machine's temporary folder.
TEST_F(BatchJournal, AFlushPerCameraIsCheap) {
    app::BatchReport batch;
    batch.id = "20261211-120000-000";
    batch.kind = "upgrade";
    app::JournalWriter w;
    std::string why;
    ASSERT_TRUE(w.Open(dir_.string(), batch, &why)) << why;
    constexpr int kCameras = 200;
    const auto t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < kCameras; ++n) {
        ASSERT_TRUE(w.Camera(Camera(n % 10, OutcomeResult::Succeeded, {}), false, &why)) << why;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("journal: %d cameras, %.3f ms per camera (flush %.3f ms)\n", kCameras,
                ms / kCameras, static_cast<double>(w.SyncMicros()) / 1000.0 / (w.Syncs()));
    EXPECT_EQ(w.Syncs(), static_cast<std::uint32_t>(kCameras) + 1);
}

}  // namespace
