// The upgrade job's outcome record: what the camera library's codes and details
// become (one row per cause), the live states on the way, and the proof after
// reboot against a scripted camera that answers probes and searches.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DeviceJobs.h"
#include "ScratchDir.h"

namespace {

// One scripted camera library, reset by every row.
struct Script {
    int addHandle = 7;
    int connRc = 0;
    tNetCallDetail connDetail{};
    int fileRc = 0;
    tNetCallDetail fileDetail{};
    std::vector<tNetProgress> progress;  // told during the file update
    // The proof after reboot: one answer per probe or search round; "" none,
    // else "MAC|version".
    std::vector<std::string> answers;
    bool probeWorks = true;
    size_t round = 0;
    int searches = 0;

    NetProgressCallback callback = nullptr;
    void* user = nullptr;
    bool fileDone = false;
};
Script g;

tNetDeviceInfo Record(const std::string& answer) {
    tNetDeviceInfo info{};
    unsigned m[6] = {};
    std::sscanf(answer.c_str(), "%02X:%02X:%02X:%02X:%02X:%02X", &m[0], &m[1], &m[2], &m[3], &m[4],
                &m[5]);
    for (int i = 0; i < 6; ++i) {
        info.ucMac[i] = static_cast<uint8_t>(m[i]);
    }
    const std::string version = answer.substr(answer.find('|') + 1);
    std::snprintf(info.szSoftVersion, sizeof(info.szSoftVersion), "%s", version.c_str());
    return info;
}

std::string NextAnswer() {
    return g.round < g.answers.size() ? g.answers[g.round++] : std::string();
}

NetApi Api() {
    NetApi api;
    api.AddCamera = [](const void*) { return g.addHandle; };
    api.ConnCamera = [](int, int, int) {
        if (g.callback != nullptr) {
            tNetProgress p{};
            p.uiStage = NET_STAGE_CONNECTING;
            p.uiAttempt = 1;
            p.uiAttempts = 5;
            g.callback(7, &p, g.user);
        }
        return g.connRc;
    };
    api.FileUpdate = [](int, const tNetFileUpdate*) {
        for (const auto& p : g.progress) {
            g.callback(7, &p, g.user);
        }
        g.fileDone = true;
        return g.fileRc;
    };
    api.DisConnCamera = [](int) { return 0; };
    api.DelCamera = [](int) { return 0; };
    api.SetProgressCallback = [](int, NetProgressCallback cb, void* user) {
        g.callback = cb;
        g.user = user;
        return 0;
    };
    api.GetCallDetail = [](int, tNetCallDetail* d) {
        *d = g.fileDone ? g.fileDetail : g.connDetail;
        return 0;
    };
    api.ProbeDevice = [](const char*, int, tNetDeviceInfo* info) -> int {
        if (!g.probeWorks) {
            return static_cast<int>(KORVEL_E_TIMEOUT);
        }
        const std::string a = NextAnswer();
        if (a.empty()) {
            return static_cast<int>(KORVEL_E_TIMEOUT);
        }
        *info = Record(a);
        return 0;
    };
    api.FindDevice = [](NetFindDeviceCallback cb, void* user) {
        ++g.searches;
        const std::string a = NextAnswer();
        if (!a.empty()) {
            const tNetDeviceInfo info = Record(a);
            cb(&info, user);
        }
        return 0;
    };
    return api;
}

tNetCallDetail Detail(uint32_t stage, uint32_t status = 0, uint32_t reason = 0,
                      const char* text = "", uint64_t sent = 0, uint64_t size = 0) {
    tNetCallDetail d{};
    d.uiStage = stage;
    d.uiAttempts = 1;
    d.uiCameraStatus = status;
    d.uiCameraReason = reason;
    d.ullSent = sent;
    d.ullSize = size;
    std::snprintf(d.szCameraReason, sizeof(d.szCameraReason), "%s", text);
    std::snprintf(d.szSoftVersion, sizeof(d.szSoftVersion), "%s", "2.3.1_180101");
    return d;
}

constexpr const char* kMac = "02:51:56:00:00:01";

DeviceTask Task(const std::string& path) {
    DeviceTask t{};
    std::snprintf(t.ip, sizeof(t.ip), "%s", "127.0.0.5");
    std::snprintf(t.aux, sizeof(t.aux), "%s", kMac);
    std::snprintf(t.path, sizeof(t.path), "%s", path.c_str());
    return t;
}

struct JobCase {
    const char* name;
    int addHandle;
    int connRc;
    tNetCallDetail connDetail;
    int fileRc;
    tNetCallDetail fileDetail;
    int result;
    OutcomeResult outcome;
    ReasonCode reason;
    const char* reasonText;
    int percent;
};

class UpgradeOutcome : public ::testing::TestWithParam<JobCase> {};

TEST_P(UpgradeOutcome, CarriesTheCauseFromTheLibraryToTheRecord) {
    const JobCase& c = GetParam();
    g = {};
    g.addHandle = c.addHandle;
    g.connRc = c.connRc;
    g.connDetail = c.connDetail;
    g.fileRc = c.fileRc;
    g.fileDetail = c.fileDetail;
    engine::BatchFields batch;
    batch.kind = TASK_UPGRADE;
    DeviceTask task = Task("/tmp/app_V2.6_YJ101_.jffs2");
    CameraOutcome out;
    const int result = engine::RunUpgradeJob(Api(), batch, {}, task, out);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(out.result, c.outcome);
    EXPECT_EQ(out.reason, c.reason);
    EXPECT_EQ(out.reasonText, c.reasonText);
    EXPECT_EQ(out.percent, c.percent);
    EXPECT_EQ(out.file, "/tmp/app_V2.6_YJ101_.jffs2");
    if (c.addHandle != -1) {
        EXPECT_EQ(out.versionBefore, "2.3.1_180101");
    }
}

const tNetCallDetail kConnected = Detail(NET_STAGE_HELLO);

INSTANTIATE_TEST_SUITE_P(
    EveryCause, UpgradeOutcome,
    ::testing::Values(
        JobCase{"Succeeded", 7, 0, kConnected, 0, Detail(NET_STAGE_DONE, 0, 0, "", 100, 100), 1,
                OutcomeResult::Succeeded, ReasonCode::None, "", -1},
        JobCase{"BadAddress",
                -1,
                0,
                {},
                0,
                {},
                0,
                OutcomeResult::Failed,
                ReasonCode::BadAddress,
                "",
                -1},
        JobCase{"NoAnswerToConnect",
                7,
                KORVEL_E_TIMEOUT,
                Detail(NET_STAGE_CONNECTING),
                0,
                {},
                0,
                OutcomeResult::Failed,
                ReasonCode::NoConnect,
                "",
                -1},
        JobCase{"ConnectionRefused",
                7,
                KORVEL_E_CONNECT,
                Detail(NET_STAGE_CONNECTING),
                0,
                {},
                0,
                OutcomeResult::Failed,
                ReasonCode::NoConnect,
                "",
                -1},
        JobCase{"NoHello",
                7,
                KORVEL_E_TIMEOUT,
                Detail(NET_STAGE_HELLO),
                0,
                {},
                0,
                OutcomeResult::Failed,
                ReasonCode::NoHello,
                "",
                -1},
        JobCase{"GarbageForHello",
                7,
                KORVEL_E_PROTOCOL,
                Detail(NET_STAGE_HELLO),
                0,
                {},
                0,
                OutcomeResult::Failed,
                ReasonCode::Protocol,
                "",
                -1},
        JobCase{"LinkDroppedAt43", 7, 0, kConnected, KORVEL_E_IO,
                Detail(NET_STAGE_SENDING, 0, 0, "", 43, 100), 0, OutcomeResult::Failed,
                ReasonCode::LinkDropped, "", 43},
        JobCase{"LocalFile", 7, 0, kConnected, KORVEL_E_IO, Detail(NET_STAGE_NONE), 0,
                OutcomeResult::Failed, ReasonCode::LocalFile, "", 0},
        JobCase{"WrongHardware", 7, 0, kConnected, KORVEL_E_VERIFY,
                Detail(NET_STAGE_VERDICT, 3, 4, "entry YJ202 for hw 101", 100, 100), 0,
                OutcomeResult::Refused, ReasonCode::RefusedHardware, "entry YJ202 for hw 101", 100},
        JobCase{"Digest", 7, 0, kConnected, KORVEL_E_VERIFY,
                Detail(NET_STAGE_VERDICT, 3, 2, "MD5 mismatch", 100, 100), 0,
                OutcomeResult::Refused, ReasonCode::RefusedDigest, "MD5 mismatch", 100},
        JobCase{"Size", 7, 0, kConnected, KORVEL_E_VERIFY,
                Detail(NET_STAGE_VERDICT, 3, 1, "size mismatch", 100, 100), 0,
                OutcomeResult::Refused, ReasonCode::RefusedSize, "size mismatch", 100},
        JobCase{"TooLarge", 7, 0, kConnected, KORVEL_E_REFUSED,
                Detail(NET_STAGE_NONE, 1, 7, "capacity", 0, 100), 0, OutcomeResult::Refused,
                ReasonCode::RefusedSize, "capacity", 0},
        JobCase{"CannotWrite", 7, 0, kConnected, KORVEL_E_IO,
                Detail(NET_STAGE_VERDICT, 5, 5, "disk full", 100, 100), 0, OutcomeResult::Refused,
                ReasonCode::RefusedWrite, "disk full", 100},
        JobCase{"OldCameraGivesNoReason", 7, 0, kConnected, KORVEL_E_VERIFY,
                Detail(NET_STAGE_VERDICT, 3, 0, "", 100, 100), 0, OutcomeResult::Refused,
                ReasonCode::RefusedFile, "", 100},
        JobCase{"OldCameraCannotWrite", 7, 0, kConnected, KORVEL_E_IO,
                Detail(NET_STAGE_VERDICT, 5, 0, "", 100, 100), 0, OutcomeResult::Refused,
                ReasonCode::RefusedWrite, "", 100},
        JobCase{"Busy", 7, 0, kConnected, KORVEL_E_REFUSED, Detail(NET_STAGE_NONE, 4, 6, "", 0, 9),
                0, OutcomeResult::Refused, ReasonCode::RefusedBusy, "", 0},
        JobCase{"NoVerdict", 7, 0, kConnected, KORVEL_E_TIMEOUT,
                Detail(NET_STAGE_VERDICT, 0, 0, "", 100, 100), 0, OutcomeResult::Failed,
                ReasonCode::Timeout, "", 100},
        JobCase{"StalledStream", 7, 0, kConnected, KORVEL_E_TIMEOUT,
                Detail(NET_STAGE_SENDING, 0, 0, "", 10, 100), 0, OutcomeResult::Failed,
                ReasonCode::LinkDropped, "", 10},
        JobCase{"MalformedVerdict", 7, 0, kConnected, KORVEL_E_PROTOCOL,
                Detail(NET_STAGE_VERDICT, 0, 0, "", 100, 100), 0, OutcomeResult::Failed,
                ReasonCode::Protocol, "", 100}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(UpgradeLiveState, ConnectingSendingAndVerdictAreToldInOrderAndThrottled) {
    g = {};
    g.connDetail = kConnected;
    g.fileDetail = Detail(NET_STAGE_DONE, 0, 0, "", 1000, 1000);
    for (uint64_t done = 0; done <= 1000; done += 10) {
        tNetProgress p{};
        p.uiStage = NET_STAGE_SENDING;
        p.ullDone = done;
        p.ullTotal = 1000;
        g.progress.push_back(p);
    }
    tNetProgress verdict{};
    verdict.uiStage = NET_STAGE_VERDICT;
    g.progress.push_back(verdict);
    std::vector<LiveState> told;
    const engine::LiveFn live = [&](const LiveState& s) { told.push_back(s); };
    engine::BatchFields batch;
    DeviceTask task = Task("/tmp/x.jffs2");
    CameraOutcome out;
    ASSERT_EQ(engine::RunUpgradeJob(Api(), batch, {}, task, out, live), 1);
    ASSERT_GE(told.size(), 3U);
    EXPECT_EQ(told.front().stage, LiveStage::Connecting);
    EXPECT_EQ(told.front().attempt, 1);
    EXPECT_EQ(told.front().attempts, 5);
    EXPECT_EQ(told.front().mac, kMac);
    EXPECT_EQ(told.back().stage, LiveStage::AwaitingVerdict);
    // A hundred steps of progress in no time are told a few times, not a hundred.
    int sending = 0;
    for (const auto& s : told) {
        sending += s.stage == LiveStage::Sending ? 1 : 0;
    }
    EXPECT_GE(sending, 1);
    EXPECT_LE(sending, 4);
}

struct VerifyCase {
    const char* name;
    const char* file;  // name of the file sent (its tag names a version)
    bool probeWorks;
    std::vector<std::string> answers;
    VerifyResult verify;
    const char* after;
};

class ProofAfterReboot : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(ProofAfterReboot, SaysWhatTheCameraCameBackWith) {
    const VerifyCase& c = GetParam();
    g = {};
    g.probeWorks = c.probeWorks;
    g.answers = c.answers;
    engine::BatchFields batch;
    batch.verifyTimeoutMs = 300;
    engine::VerifyTiming fast;
    fast.probeTimeoutMs = 1;
    fast.pauseMs = 5;
    fast.searchEveryRounds = 2;
    fast.unchangedGraceMs = 100;
    // A folder per case: the cases run at once in separate processes.
    const qvtest::ScratchDir scratch("qv-verify-");
    const std::filesystem::path dir = scratch.path() / c.name;
    std::filesystem::create_directories(dir);
    const std::string path = (dir / c.file).string();
    std::ofstream(path) << "image";
    const DeviceTask task = Task(path);
    CameraOutcome out;
    out.result = OutcomeResult::Succeeded;
    out.versionBefore = "2.3.1_180101";
    std::vector<LiveStage> stages;
    const engine::LiveFn live = [&](const LiveState& s) { stages.push_back(s.stage); };
    const std::atomic<bool> running{true};
    engine::VerifyAfterReboot(Api(), batch, task, out, live, running, fast);
    EXPECT_EQ(out.verify, c.verify);
    EXPECT_EQ(out.versionAfter, c.after);
    ASSERT_FALSE(stages.empty());
    EXPECT_NE(std::find(stages.begin(), stages.end(), LiveStage::Rebooting), stages.end());
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    EveryVerdict, ProofAfterReboot,
    ::testing::Values(
        VerifyCase{"ComesBackNew",
                   "app.jffs2",
                   true,
                   {"", "", "02:51:56:00:00:01|2.3.0_1a2b3c4d"},
                   VerifyResult::NewVersion,
                   "2.3.0_1a2b3c4d"},
        VerifyCase{"ComesBackWithTheNamedVersion",
                   "app_V2.6_YJ101_.jffs2",
                   true,
                   {"", "02:51:56:00:00:01|2.6.0_1a2b3c4d"},
                   VerifyResult::NamedVersion,
                   "2.6.0_1a2b3c4d"},
        VerifyCase{"ComesBackWithAnotherVersion",
                   "app_V2.6_YJ101_.jffs2",
                   true,
                   {"", "02:51:56:00:00:01|2.5.0_1a2b3c4d"},
                   VerifyResult::OtherVersion,
                   "2.5.0_1a2b3c4d"},
        VerifyCase{"ComesBackUnchanged",
                   "app.jffs2",
                   true,
                   {"", "02:51:56:00:00:01|2.3.1_180101"},
                   VerifyResult::Unchanged,
                   "2.3.1_180101"},
        VerifyCase{"OldVersionBeforeItRebootsIsNotBelievedAtOnce",
                   "app.jffs2",
                   true,
                   {"02:51:56:00:00:01|2.3.1_180101", "", "02:51:56:00:00:01|2.4.0_0000aaaa"},
                   VerifyResult::NewVersion,
                   "2.4.0_0000aaaa"},
        VerifyCase{"NeverComesBack", "app.jffs2", true, {}, VerifyResult::NotBack, ""},
        VerifyCase{"AnotherMacAtTheAddress", "app.jffs2", true,
                   std::vector<std::string>(400, "02:51:56:00:00:99|9.9.9_x"),
                   VerifyResult::OtherDevice, ""},
        VerifyCase{"FoundBySearchWhenProbesGoUnanswered",
                   "app.jffs2",
                   false,
                   {"", "02:51:56:00:00:01|2.3.0_00ff00ff"},
                   VerifyResult::NewVersion,
                   "2.3.0_00ff00ff"}),
    [](const auto& row) { return std::string(row.param.name); });

// What a camera answers that proves nothing, and old versions believed only
// after the grace: each case in a folder of its own.
struct ProofFromNothingCase {
    const char* name;
    const char* file;
    const char* before;
    std::vector<std::string> answers;
    VerifyResult verify;
    const char* after;
    int notBeforeMs;  // the verdict takes at least this long (the grace)
};

class ProofFromNothing : public ::testing::TestWithParam<ProofFromNothingCase> {
  protected:
    void SetUp() override {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("qvproof-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                dir_ = candidate;
            }
        }
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path dir_;
};

constexpr int kGraceMs = 300;

TEST_P(ProofFromNothing, NeitherAnEmptyVersionNorAnUnansweredProbeDecides) {
    const ProofFromNothingCase& c = GetParam();
    g = {};
    g.answers = c.answers;
    engine::BatchFields batch;
    batch.verifyTimeoutMs = 20000;
    engine::VerifyTiming fast;
    fast.probeTimeoutMs = 1;
    fast.pauseMs = 5;
    fast.searchEveryRounds = 0;
    fast.unchangedGraceMs = kGraceMs;
    const std::string path = (dir_ / c.file).string();
    std::ofstream(path) << "image";
    CameraOutcome out;
    out.result = OutcomeResult::Succeeded;
    out.versionBefore = c.before;
    const std::atomic<bool> running{true};
    engine::VerifyAfterReboot(Api(), batch, Task(path), out, {}, running, fast);
    EXPECT_EQ(out.verify, c.verify);
    EXPECT_EQ(out.versionAfter, c.after);
    EXPECT_GE(out.verifyMs, c.notBeforeMs);
}

// Answers enough to outlast the grace at a round every few milliseconds.
std::vector<std::string> Repeated(std::vector<std::string> first, const std::string& then) {
    first.resize(first.size() + 2000, then);
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProofFromNothing,
    ::testing::Values(
        ProofFromNothingCase{"EmptyBeforeAndAfter", "app.jffs2", "",
                             Repeated({}, "02:51:56:00:00:01|"), VerifyResult::NoVersion, "",
                             kGraceMs},
        ProofFromNothingCase{"EmptyAfter", "app.jffs2", "2.3.1_180101",
                             Repeated({}, "02:51:56:00:00:01|"), VerifyResult::NoVersion, "",
                             kGraceMs},
        ProofFromNothingCase{"ControlCharactersAreNoVersion", "app.jffs2", "2.3.1_180101",
                             Repeated({}, "02:51:56:00:00:01|\x01\x1b"), VerifyResult::NoVersion,
                             "\x01\x1b", kGraceMs},
        ProofFromNothingCase{"NothingToCompareWith", "app.jffs2", " ",
                             Repeated({}, "02:51:56:00:00:01|2.6.0_x"), VerifyResult::NoVersion,
                             "2.6.0_x", kGraceMs},
        ProofFromNothingCase{"TheNamedVersionProvesItWithoutABefore", "app_V2.6_x.jffs2", "",
                             Repeated({}, "02:51:56:00:00:01|2.6.0_x"), VerifyResult::NamedVersion,
                             "2.6.0_x", kGraceMs},
        ProofFromNothingCase{"AnUnansweredProbeIsNoSightingOfAbsence", "app.jffs2", "2.3.1_180101",
                             Repeated({""}, "02:51:56:00:00:01|2.3.1_180101"),
                             VerifyResult::Unchanged, "2.3.1_180101", kGraceMs},
        ProofFromNothingCase{"ABlankAnswerThenANewVersion", "app.jffs2", "2.3.1_180101",
                             Repeated({"02:51:56:00:00:01|", ""}, "02:51:56:00:00:01|2.4.0_y"),
                             VerifyResult::NewVersion, "2.4.0_y", 0}),
    [](const auto& row) { return std::string(row.param.name); });

// A stop must not leave the technician waiting out the whole wait, and what
// was cut is not a finding about the camera.
TEST(ProofAfterReboot, AStopEndsTheWaitAtOnceAndSaysSo) {
    g = {};
    engine::BatchFields batch;
    batch.verifyTimeoutMs = 60000;
    engine::VerifyTiming timing;
    timing.probeTimeoutMs = 1;
    timing.pauseMs = 1000;
    const DeviceTask task = Task("/nonexistent/app.jffs2");
    CameraOutcome out;
    out.result = OutcomeResult::Succeeded;
    std::atomic<bool> checking{true};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        checking = false;
    });
    const auto started = std::chrono::steady_clock::now();
    engine::VerifyAfterReboot(Api(), batch, task, out, {}, checking, timing);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(out.verify, VerifyResult::Stopped);
}

TEST(ProofAfterReboot, IsSkippedWhenOffOrWhenTheUpgradeFailed) {
    g = {};
    g.answers = {"02:51:56:00:00:01|2.6.0_x"};
    const std::atomic<bool> running{true};
    const DeviceTask task = Task("/nonexistent/app.jffs2");
    engine::BatchFields off;
    CameraOutcome ok;
    ok.result = OutcomeResult::Succeeded;
    engine::VerifyAfterReboot(Api(), off, task, ok, {}, running);
    EXPECT_EQ(ok.verify, VerifyResult::NotChecked);
    engine::BatchFields on;
    on.verifyTimeoutMs = 1000;
    CameraOutcome failed;
    failed.result = OutcomeResult::Failed;
    engine::VerifyAfterReboot(Api(), on, task, failed, {}, running);
    EXPECT_EQ(failed.verify, VerifyResult::NotChecked);
    EXPECT_EQ(g.round, 0U);  // the camera was never asked
}

}  // namespace

namespace {

// The look for a re-addressed camera: a stop ends it at once and says so; a
// change that failed is never looked for.
TEST(ProofAtNewAddress, AStopEndsTheWaitAndAFailedChangeIsNotLookedFor) {
    g = {};
    g.probeWorks = false;
    engine::BatchFields batch;
    batch.verifyTimeoutMs = 60000;
    const DeviceTask task = Task("");
    CameraOutcome out;
    out.result = OutcomeResult::Succeeded;
    const std::atomic<bool> checking{false};  // stopped
    const auto started = std::chrono::steady_clock::now();
    engine::VerifyAtNewAddress(Api(), batch, task, out, checking);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(out.verify, VerifyResult::Stopped);

    CameraOutcome failed;
    failed.result = OutcomeResult::Failed;
    const std::atomic<bool> running{true};
    engine::VerifyAtNewAddress(Api(), batch, task, failed, running);
    EXPECT_EQ(failed.verify, VerifyResult::NotChecked);
    EXPECT_EQ(g.searches, 0);
}

}  // namespace
