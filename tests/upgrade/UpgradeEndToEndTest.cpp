// quorvane-cli upgrade against a camsim fleet on loopback: what each camera
// keeps is compared byte for byte with the pack meant for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include "CliRunner.h"
#include "Fleet.h"
#include "PackTestUtil.h"
#include "pack/UpdataFileCheck.h"
#include "pack/UpdatePack.h"
#include "platform/Md5.h"

namespace fs = std::filesystem;
using packtest::Entry;

namespace {

const std::string kType = "KQM-RVT3305";

class UpgradeEndToEnd : public ::testing::Test {
  protected:
    // Cameras of kType with these hardware versions, in this order.
    void StartFleet(const std::vector<std::string>& hw, const std::string& faultyCamera = {}) {
        std::vector<std::string> cameras;
        for (std::size_t i = 0; i < hw.size(); ++i) {
            cameras.push_back(
                R"("hw": ")" + hw[i] + "\"" +
                (std::to_string(i) == faultyCamera ? R"(, "faults": {"drop-after": 5000})" : ""));
        }
        StartFleetOf(cameras);
    }
    // Cameras of kType, each given by the inside of its fleet-file object.
    void StartFleetOf(const std::vector<std::string>& cameras) {
        std::string json =
            R"({"defaults": {"type": ")" + kType + R"(", "sw": "2.3.1_180101"}, "cameras": [)";
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            json += std::string(i ? "," : "") + "{" + cameras[i] + "}";
        }
        qvtest::FleetOptions options = qvtest::FleetOptions::Json(json + "]}");
        options.patientSearch();
        fleet_ = std::make_unique<qvtest::Fleet>(std::move(options));
        ASSERT_TRUE(fleet_->ok()) << fleet_->error();
        dir_ = fs::path(fleet_->dir()) / "tool";
        tmp_ = fs::path(fleet_->dir()) / "tmp";
        fs::create_directories(dir_);
        fs::create_directories(tmp_);
        fs::copy_file(fleet_->confPath(), dir_ / "quorvane-net.conf",
                      fs::copy_options::overwrite_existing);
    }

    qvtest::CliRun Upgrade(const std::string& file, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"upgrade", file, "--all"};
        args.insert(args.end(), extra.begin(), extra.end());
        return qvtest::RunCli(QV_CLI_PATH, dir_, args, "TMPDIR=" + qvtest::ShellQuote(tmp_));
    }

    // Writes the entries as files into a folder of their own and returns it.
    std::string Files(const std::string& name, const std::vector<Entry>& entries) {
        const fs::path d = fs::path(fleet_->dir()) / name;
        fs::create_directories(d);
        for (const Entry& e : entries) {
            packtest::WriteFile((d / e.name).string(), e.data);
        }
        return d.string();
    }
    std::string Pack(const std::string& name, std::vector<Entry> entries, std::uint32_t magic) {
        const std::string path = (fs::path(fleet_->dir()) / name).string();
        packtest::WritePack(path, magic, std::move(entries));
        return path;
    }

    // The bytes the camera with this MAC kept of its last upgrade.
    std::string Kept(const std::string& mac) const {
        return fleet_->keptFile(mac).value_or(std::string());
    }

    bool WorkspaceLeft() const {
        return std::any_of(fs::directory_iterator(tmp_), fs::directory_iterator{},
                           [](const auto& e) {
                               return e.path().filename().string().rfind("UpdatePacket_", 0) == 0;
                           });
    }

    static Entry App(const std::string& code, std::uint32_t seed) {
        return {"app_V2.3_YJ" + code + "_" + kType + ".jffs2", PACK_FILE_APP,
                packtest::Bytes(40000 + seed, seed), ""};
    }

    std::unique_ptr<qvtest::Fleet> fleet_;
    fs::path dir_;
    fs::path tmp_;
};

TEST_F(UpgradeEndToEnd, AMultiApplicationPackGivesEachCameraThePackOfItsHardware) {
    const std::vector<std::string> hw = {"103A", "101A", "102A", "101A", "103A", "102A",
                                         "102A", "101A", "103A", "103A", "101A", "102A"};
    StartFleet(hw);
    const Entry kernel{"uImage", PACK_FILE_KERNEL, packtest::Bytes(90000, 1), ""};
    const Entry rootfs{"rootfs.cramfs", PACK_FILE_FS, packtest::Bytes(70000, 2), ""};
    const std::vector<Entry> entries = {App("102", 12), kernel, App("103", 13), rootfs,
                                        App("101", 11)};
    const std::string pack = Pack("multi.bin", entries, PACK_MAGIC_MULTI);

    // What the tool must compose: the common files by name, then one image.
    const std::string src = Files("expected", entries);
    CUpdataFileCheck check;
    std::map<std::string, std::string> expected;  // hardware code -> pack bytes
    for (const char* code : {"101", "102", "103"}) {
        const std::string image = src + "/" + App(code, 0).name;
        ASSERT_EQ(check.ComposePack(src, std::string("x") + code + ".bin",
                                    {src + "/rootfs.cramfs", src + "/uImage", image}),
                  1);
        expected[code] = packtest::ReadFile(src + "/x" + code + ".bin");
    }

    const qvtest::CliRun run = Upgrade(pack, {"--sync-time"});
    ASSERT_EQ(run.rc, 0) << run.out << run.err << fleet_->log();
    EXPECT_NE(run.err.find("[12/12] "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("批量升级完成"), std::string::npos);
    const auto& cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), hw.size());
    for (std::size_t i = 0; i < cams.size(); ++i) {
        EXPECT_NE(run.out.find("[" + cams[i].mac + "] " + cams[i].ip + " 升级成功"),
                  std::string::npos)
            << run.out;
        EXPECT_TRUE(Kept(cams[i].mac) == expected[hw[i].substr(0, 3)]) << cams[i].mac;
    }
    EXPECT_FALSE(WorkspaceLeft());
    const std::string log = qvtest::ReadWholeFile(dir_ / "korvel.log");
    EXPECT_NE(log.find("bin file[5]:uImage\n"), std::string::npos);

    // The next search shows the version each camera took from its pack.
    const qvtest::CliRun search = qvtest::RunCli(QV_CLI_PATH, dir_, {"search"});
    ASSERT_EQ(search.rc, 0) << search.err;
    for (std::size_t i = 0; i < cams.size(); ++i) {
        const platform::Digest md5 = platform::Md5Of(
            std::span(reinterpret_cast<const std::uint8_t*>(expected[hw[i].substr(0, 3)].data()),
                      expected[hw[i].substr(0, 3)].size()));
        const std::string sw = "2.3.0_" + platform::DigestHex(md5).substr(0, 8);
        EXPECT_NE(search.out.find(cams[i].mac + "\t" + sw + "\t" + hw[i]), std::string::npos)
            << search.out;
    }
}

TEST_F(UpgradeEndToEnd, BundleForcedPackAndACameraLostMidTransfer) {
    StartFleet({"101A", "102A", "101A"}, "2");
    const auto& cams = fleet_->cameras();
    const std::vector<Entry> a = {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(30000, 3), ""},
                                  App("101", 21)};
    const std::vector<Entry> b = {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(30000, 4), ""},
                                  App("102", 22)};
    const std::string innerA = packtest::BuildPack({PACK_MAGIC_SINGLE, 1, a, -1, -1});
    const std::string innerB = packtest::BuildPack({PACK_MAGIC_SINGLE, 1, b, -1, -1});
    const std::string bundle = Pack("bundle.bin",
                                    {{"fw_YJ102_.bin", PACK_FILE_OTHER, innerB, ""},
                                     {"fw_YJ101_.bin", PACK_FILE_OTHER, innerA, ""}},
                                    PACK_MAGIC_BUNDLE);
    qvtest::CliRun run = Upgrade(bundle);
    EXPECT_EQ(run.rc, 1) << run.out << run.err;  // the third camera drops the link
    EXPECT_TRUE(Kept(cams[0].mac) == innerA);
    EXPECT_TRUE(Kept(cams[1].mac) == innerB);
    EXPECT_NE(run.out.find("[" + cams[2].mac + "] " + cams[2].ip + " 升级失败"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + cams[0].ip + " 升级成功"), std::string::npos);

    // Forced: a pack for another model goes as its re-typed copy (its image is
    // named for hardware 10#, so the cameras themselves take it).
    const std::string other =
        Pack("other.bin",
             {{"uImage", PACK_FILE_KERNEL, packtest::Bytes(20000, 5), ""},
              {"app_OTHER_YJ10#_.jffs2", PACK_FILE_APP, packtest::Bytes(20000, 6), ""}},
             PACK_MAGIC_SINGLE);
    run = Upgrade(other);
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("设备类型不匹配"), std::string::npos) << run.err;
    ASSERT_EQ(BinUpdateAppFileType(other.c_str(), fleet_->dir().c_str(), "retyped.bin"), 0);
    run = Upgrade(other, {"--force"});
    EXPECT_EQ(run.rc, 1) << run.out << run.err;
    EXPECT_TRUE(Kept(cams[1].mac) == packtest::ReadFile(fleet_->dir() + "/retyped.bin"));
    EXPECT_FALSE(WorkspaceLeft());
}

// A batch stopped by Ctrl-C (once, twice) or held at its failure limit,
// through the console against camsim: the exit status says so, the pane says
// what happened to every camera, the cameras not started keep nothing and
// the workspace goes. The run is started and signalled like a technician's.
struct StopCase {
    const char* name;
    std::vector<std::string> cameras;  // fleet-file objects
    std::vector<std::string> extra;    // options after --all
    int interrupts;                    // SIGINTs once the batch has begun
    int rc;
    std::vector<std::string> statuses;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchStopEndToEnd : public UpgradeEndToEnd, public ::testing::WithParamInterface<StopCase> {
  protected:
    // Runs quorvane-cli in the background and interrupts it once the pane
    // shows the batch's request line (and the transfers have begun).
    qvtest::CliRun RunInterrupted(const std::vector<std::string>& args, int interrupts) {
        const fs::path out = dir_ / "stdout.txt";
        const fs::path err = dir_ / "stderr.txt";
        std::fflush(stdout);  // the child must not write the parent's buffered lines again
        std::fflush(stderr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen(out.c_str(), "w", stdout);
            std::freopen(err.c_str(), "w", stderr);
            ::setenv("TMPDIR", tmp_.c_str(), 1);
            std::vector<std::string> all{QV_CLI_PATH, "--config-dir", dir_.string()};
            all.insert(all.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (auto& a : all) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        qvtest::CliRun run;
        if (pid < 0) {
            return run;
        }
        if (interrupts > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (qvtest::ReadWholeFile(out).find("开始批量升级") == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            for (int k = 0; k < interrupts; ++k) {
                // A request to terminate stops as Ctrl-C does.
                ::kill(pid, k == 0 ? SIGTERM : SIGINT);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        run.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = qvtest::ReadWholeFile(out);
        run.err = qvtest::ReadWholeFile(err);
        return run;
    }
};

TEST_P(BatchStopEndToEnd, EveryCameraIsAccountedFor) {
    const StopCase& c = GetParam();
    StartFleetOf(c.cameras);
    const std::string image = (fs::path(fleet_->dir()) / "uImage").string();
    const std::string bytes = packtest::Bytes(400000, 9);
    packtest::WriteFile(image, bytes);
    std::vector<std::string> args{"upgrade", image, "--all"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const qvtest::CliRun run = RunInterrupted(args, c.interrupts);
    EXPECT_EQ(run.rc, c.rc) << run.out << run.err << fleet_->log();
    const auto& cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), c.statuses.size());
    for (std::size_t i = 0; i < cams.size(); ++i) {
        EXPECT_NE(run.out.find("[" + cams[i].mac + "] " + cams[i].ip + " " + c.statuses[i]),
                  std::string::npos)
            << i << "\n"
            << run.out;
        EXPECT_EQ(Kept(cams[i].mac) == bytes, c.statuses[i] == "升级成功") << i;
    }
    EXPECT_NE(run.err.find("批量升级完成"), std::string::npos) << run.err;
    // The stop may have come from a signal, not a key.
    EXPECT_EQ(run.err.find("Ctrl-C"), std::string::npos) << run.err;
    EXPECT_FALSE(WorkspaceLeft());
    // The daily log has every camera's line too.
    std::string log;
    for (const auto& e : fs::directory_iterator(dir_)) {
        if (e.path().extension() == ".log" && e.path().filename() != "korvel.log") {
            log += qvtest::ReadWholeFile(e.path());
        }
    }
    for (std::size_t i = 0; i < cams.size(); ++i) {
        EXPECT_NE(log.find("[" + cams[i].mac + "] " + cams[i].ip + " " + c.statuses[i]),
                  std::string::npos)
            << log;
    }
}

const char* const kFlash = R"("hw": "101A", "flash_ms": 1500)";
const char* const kSlow = R"("hw": "101A", "faults": {"throttle": 100000})";

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchStopEndToEnd,
    ::testing::Values(StopCase{"FirstCtrlCLetsTheRunningOneFinish",
                               {kFlash, kFlash, kFlash, kFlash},
                               {},
                               1,
                               4,
                               {"升级成功", "未升级（已停止）", "未升级（已停止）",
                                "未升级（已停止）"}},
                      StopCase{"SecondCtrlCAbandonsTheTransfers",
                               {kSlow, kSlow, kSlow},
                               {"--parallel", "2"},
                               2,
                               4,
                               {"升级失败", "升级失败", "未升级（已停止）"}},
                      StopCase{"FailureLimitHoldsTheRest",
                               {R"("hw": "101A", "faults": {"fail-verify": true})",
                                R"("hw": "101A")", R"("hw": "101A")"},
                               {"--max-failures", "1"},
                               0,
                               5,
                               {"升级失败", "未升级（已暂缓）", "未升级（已暂缓）"}},
                      // Canary first: the others wait, and a stop or a failed canary
                      // leaves them untouched.
                      StopCase{"StopDuringTheCanary",
                               {kFlash, kFlash, kFlash},
                               {"--canary", "1", "--parallel", "3"},
                               1,
                               4,
                               {"升级成功", "未升级（已停止）", "未升级（已停止）"}},
                      StopCase{"RefusedCanaryHoldsTheRest",
                               {R"("hw": "101A", "faults": {"fail-verify": true})",
                                R"("hw": "101A")", R"("hw": "101A")"},
                               {"--canary", "1", "--parallel", "3"},
                               0,
                               5,
                               {"升级失败", "未升级（已暂缓）", "未升级（已暂缓）"}},
                      StopCase{"SeveralAtOnceAllSucceed",
                               {kFlash, kFlash, kFlash, kFlash},
                               {"--parallel", "4", "--probe-ms", "1000"},
                               0,
                               0,
                               {"升级成功", "升级成功", "升级成功", "升级成功"}}),
    [](const ::testing::TestParamInfo<StopCase>& p) { return p.param.name; });

TEST_F(UpgradeEndToEnd, APlanPreparesAsARunAndSendsNothing) {
    StartFleet({"102A", "101A"});
    const std::vector<Entry> entries = {App("101", 11),
                                        {"uImage", PACK_FILE_KERNEL, packtest::Bytes(30000, 3), ""},
                                        App("102", 12)};
    const std::string pack = Pack("multi.bin", entries, PACK_MAGIC_MULTI);
    qvtest::CliRun run = Upgrade(pack, {"--plan", "--json"});
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    const auto plan = nlohmann::json::parse(run.out);
    ASSERT_EQ(plan.size(), 2u);
    const auto& cams = fleet_->cameras();
    for (const auto& line : plan) {
        const bool first = line["mac"] == cams[0].mac;
        EXPECT_EQ(line["name"], first ? "Pack1.bin" : "Pack0.bin") << line.dump();
        EXPECT_EQ(line["version"], "2.3");
        EXPECT_EQ(line["md5"].get<std::string>().size(), 32u);
        EXPECT_GT(line["size"].get<long long>(), 40000);
    }
    for (const auto& cam : cams) {
        EXPECT_FALSE(fleet_->keptFile(cam.mac)) << "a plan sent a file";
    }
    EXPECT_FALSE(WorkspaceLeft());
    // Text, and a refusal is the run's own.
    run = Upgrade(pack, {"--plan"});
    EXPECT_EQ(run.rc, 0);
    EXPECT_NE(run.out.find("MAC地址\tIP地址\t文件\t大小\tMD5\t版本\t说明\n"), std::string::npos);
    run = Upgrade(Pack("other.bin", {App("109", 1)}, PACK_MAGIC_MULTI), {"--plan"});
    EXPECT_EQ(run.rc, 2) << run.out << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
}

// --retry-from takes exactly the cameras a batch report did not prove upgraded.
TEST_F(UpgradeEndToEnd, RetryFromAReportTakesOnlyWhatDidNotSucceed) {
    StartFleet({"101A", "101A", "101A", "101A", "101A"});
    const auto& cams = fleet_->cameras();
    const std::string image = (fs::path(fleet_->dir()) / "uImage").string();
    const std::string bytes = packtest::Bytes(30000, 4);
    packtest::WriteFile(image, bytes);
    const auto report = [&](const std::string& kind, const std::vector<std::string>& results) {
        nlohmann::json doc = {{"format", "quorvane-batch-report"}, {"version", 1}, {"kind", kind}};
        doc["cameras"] = nlohmann::json::array();
        for (std::size_t i = 0; i < results.size(); ++i) {
            const auto colon = results[i].find(':');
            doc["cameras"].push_back(
                {{"mac", cams[i].mac},
                 {"result", results[i].substr(0, colon)},
                 {"verify",
                  colon == std::string::npos ? std::string() : results[i].substr(colon + 1)}});
        }
        const std::string path = (fs::path(fleet_->dir()) / ("report-" + kind + ".json")).string();
        packtest::WriteFile(path, doc.dump());
        return path;
    };
    const std::string last = report("upgrade", {"succeeded:new-version", "failed", "none",
                                                "succeeded:not-back", "succeeded:stopped"});
    qvtest::CliRun run = qvtest::RunCli(QV_CLI_PATH, dir_, {"upgrade", image, "--retry-from", last},
                                        "TMPDIR=" + qvtest::ShellQuote(tmp_));
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    EXPECT_FALSE(fleet_->keptFile(cams[0].mac)) << "a proven camera was taken again";
    for (std::size_t i = 1; i < cams.size(); ++i) {
        EXPECT_TRUE(Kept(cams[i].mac) == bytes) << i;
    }
    EXPECT_NE(run.out.find("开始批量升级：4台设备"), std::string::npos) << run.out;

    struct Refusal {
        std::string report;
        int rc;
        const char* says;
    };
    for (const Refusal& r :
         {Refusal{report("modify-ip", {"failed"}), 2, "not the report of an upgrade batch"},
          Refusal{(fs::path(fleet_->dir()) / "missing.json").string(), 2, "missing.json"},
          Refusal{image, 2, "uImage: 不是批次记录"},
          Refusal{report("upgrade", {"succeeded", "succeeded:named-version"}), 0,
                  "报告中没有失败或未升级的设备"}}) {
        run = qvtest::RunCli(QV_CLI_PATH, dir_, {"upgrade", image, "--retry-from", r.report});
        EXPECT_EQ(run.rc, r.rc) << r.report << run.err;
        EXPECT_NE(run.err.find(r.says), std::string::npos) << run.err;
    }
    run = qvtest::RunCli(QV_CLI_PATH, dir_, {"upgrade", image, "--all", "--retry-from", last});
    EXPECT_EQ(run.rc, 2) << "one way of choosing cameras";
}

// A console killed mid-batch leaves its journal: the next start says how many
// cameras were left, history lists the batch as interrupted, and a retry from
// its id takes exactly the cameras the journal does not prove upgraded.
TEST_F(UpgradeEndToEnd, AKilledBatchLeavesAJournalToRetryFrom) {
    StartFleetOf({kFlash, kFlash, kFlash, kFlash, kFlash});
    const auto& cams = fleet_->cameras();
    const std::string image = (fs::path(fleet_->dir()) / "uImage").string();
    const std::string bytes = packtest::Bytes(30000, 5);
    packtest::WriteFile(image, bytes);

    const fs::path reports = dir_ / "reports";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string out = (dir_ / "killed.out").string();
        (void)std::freopen(out.c_str(), "w", stdout);
        (void)std::freopen(out.c_str(), "a", stderr);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        const std::string config = dir_.string();
        ::execl(QV_CLI_PATH, QV_CLI_PATH, "--config-dir", config.c_str(), "upgrade", image.c_str(),
                "--all", "--no-verify", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Killed once two cameras are in the journal, while the third is being sent.
    fs::path journal;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (bool two = false; !two && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(reports, ec)) {
            if (e.path().extension() == ".journal") {
                journal = e.path();
                const std::string text = qvtest::ReadWholeFile(journal);
                std::size_t n = 0;
                for (auto at = text.find("{\"camera\""); at != std::string::npos;
                     at = text.find("{\"camera\"", at + 1)) {
                    ++n;
                }
                two = n >= 2;
            }
        }
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << qvtest::ReadWholeFile(dir_ / "killed.out");
    ASSERT_FALSE(journal.empty());
    const std::string id = journal.stem().string().substr(6);  // batch-ID
    EXPECT_FALSE(fs::exists(reports / ("batch-" + id + ".json")));

    std::vector<std::string> done;  // the cameras the journal proves
    std::istringstream lines(qvtest::ReadWholeFile(journal));
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.contains("camera") && j["camera"]["result"] == "succeeded") {
            done.push_back(j["camera"]["mac"]);
        }
    }
    ASSERT_GE(done.size(), 2u);
    ASSERT_LT(done.size(), cams.size());
    const std::size_t left = cams.size() - done.size();

    qvtest::CliRun run = qvtest::RunCli(QV_CLI_PATH, dir_, {"history"});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find(id + "\tupgrade\t"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\t5\t已中断 未处理" + std::to_string(left) + "台 "), std::string::npos)
        << run.out;
    run = qvtest::RunCli(QV_CLI_PATH, dir_, {"history", id});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out, nullptr, false).value("interrupted", false), true);

    // The camera whose transfer the kill cut is still flashing what it got, then reboots.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    run = qvtest::RunCli(QV_CLI_PATH, dir_, {"upgrade", image, "--retry-from", id, "--no-verify"},
                         "TMPDIR=" + qvtest::ShellQuote(tmp_));
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("上次批量任务未完成：" + std::to_string(left) + "台未处理"),
              std::string::npos)
        << run.out << run.err;
    EXPECT_NE(run.out.find("开始批量升级：" + std::to_string(left) + "台设备"), std::string::npos)
        << run.out;
    for (const auto& cam : cams) {
        const bool proven = std::find(done.begin(), done.end(), cam.mac) != done.end();
        EXPECT_EQ(run.out.find("[" + cam.mac + "]") != std::string::npos, !proven) << cam.mac;
        EXPECT_TRUE(Kept(cam.mac) == bytes) << cam.mac;
    }
    // The retry ended: its report is the last batch, and the next start says nothing.
    run = qvtest::RunCli(QV_CLI_PATH, dir_, {"search"});
    EXPECT_EQ((run.out + run.err).find("上次批量任务未完成"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::exists(journal)) << "the interrupted batch keeps its journal";
}

// What the file names against what the cameras run (2.3.1): the same is not
// sent unless --resend, an older one only with --allow-older.
struct VersionRow {
    const char* name;
    const char* file;
    std::vector<std::string> extra;
    int rc;
    bool kept;
    std::vector<const char*> outHas;
    std::vector<const char*> errHas;
};

TEST_F(UpgradeEndToEnd, TheNamedVersionDecidesWhatIsSent) {
    const std::vector<VersionRow> rows = {
        {"same",
         "uImage_V2.3",
         {},
         0,
         false,
         {"已是目标版本 2.3.1_180101", "，已是目标版本2，"},
         {}},
        {"same, resent", "uImage_V2.3", {"--resend"}, 0, true, {"已是目标版本的也发送"}, {}},
        {"older, planned",
         "uImage_V2.2",
         {"--plan"},
         0,
         false,
         {"\t降级：2.3.1_180101 → 2.2\n"},
         {}},
        {"older",
         "uImage_V2.2",
         {},
         2,
         false,
         {},
         {"将降级2台设备", "降级：2.3.1_180101 → 2.2",
          "确需如此请加 --allow-older，没有设备被改动"}},
        {"older, allowed",
         "uImage_V2.2",
         {"--allow-older"},
         0,
         true,
         {"，降级2台", "降级：2.3.1_180101 → 2.2"},
         {}},
        {"newer", "uImage_V2.4", {}, 0, true, {"升级成功"}, {}},
    };
    for (const VersionRow& row : rows) {
        SCOPED_TRACE(row.name);
        StartFleet({"101A", "101A"});
        const std::string image = (fs::path(fleet_->dir()) / row.file).string();
        const std::string bytes = packtest::Bytes(20000, 5);
        packtest::WriteFile(image, bytes);
        const qvtest::CliRun run = Upgrade(image, row.extra);
        EXPECT_EQ(run.rc, row.rc) << run.out << run.err;
        for (const auto& cam : fleet_->cameras()) {
            EXPECT_EQ(Kept(cam.mac) == bytes, row.kept) << cam.mac;
        }
        for (const char* text : row.outHas) {
            EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
        }
        for (const char* text : row.errHas) {
            EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
        }
        if (std::string(row.name).find("older") == std::string::npos) {
            EXPECT_EQ(run.out.find("降级"), std::string::npos) << run.out;
        }
        EXPECT_FALSE(WorkspaceLeft());
    }
}

// Canary first through the console, proven after the cameras' reboot: the
// others are sent the file only once every canary is back with the version
// the file names.
struct CanaryRow {
    const char* name;
    std::vector<std::string> cameras;  // fleet-file objects
    std::vector<std::string> extra;
    const char* configIni;  // config.ini's [config] lines
    int rc;
    std::vector<std::string> statuses;  // empty: refused before any camera
    int heldBy;                         // the canary named as holding the rest, or -1
    std::vector<const char*> outHas;
    std::vector<const char*> errHas;
};

TEST_F(UpgradeEndToEnd, CanariesAreProvenBeforeTheRestStart) {
    const char* const kA = R"("hw": "101A")";
    const char* const kB = R"("hw": "101B")";
    const char* const kBStuck = R"("hw": "101B", "faults": {"keep-version": true})";
    const std::string ok = "升级成功";
    const std::string held = "未升级（已暂缓）";
    const std::vector<CanaryRow> rows = {
        {"one proven, then the rest",
         {kA, kA, kA},
         {"--canary", "1"},
         "",
         0,
         {ok, ok, ok},
         -1,
         {"，先升级1台，验证后再升级其余", "先升级的1台已通过，开始升级其余2台"},
         {}},
        {"per hardware version, one not proven",
         {kA, kA, kBStuck, kB},
         {"--canary", "per-hardware", "--verify-timeout", "6"},
         "",
         5,
         {ok, held, ok, held},
         2,
         {"，先升级每种硬件1台"},
         {}},
        {"config.ini's value unusable",
         {kA},
         {},
         "upgrade_canary=two\n",
         2,
         {},
         -1,
         {},
         {"config.ini 中的upgrade_canary“two”不可用"}},
        {"option malformed", {kA}, {"--canary", "2x"}, "", 2, {}, -1, {}, {"for --canary: 2x"}},
    };
    for (const CanaryRow& row : rows) {
        SCOPED_TRACE(row.name);
        StartFleetOf(row.cameras);
        if (*row.configIni != '\0') {
            packtest::WriteFile((dir_ / "config.ini").string(),
                                std::string("[config]\n") + row.configIni);
        }
        const std::string image = (fs::path(fleet_->dir()) / "uImage_V2.4").string();
        const std::string bytes = packtest::Bytes(20000, 6);
        packtest::WriteFile(image, bytes);
        const qvtest::CliRun run = Upgrade(image, row.extra);
        EXPECT_EQ(run.rc, row.rc) << run.out << run.err;
        const auto& cams = fleet_->cameras();
        std::size_t lastCanaryLine = 0;
        for (std::size_t i = 0; i < cams.size(); ++i) {
            const std::string status = row.statuses.empty() ? "" : row.statuses[i];
            // A camera that kept its old version took the file all the same.
            EXPECT_EQ(Kept(cams[i].mac) == bytes, status == ok) << i;
            if (status.empty()) {
                continue;
            }
            const auto line = run.out.find("[" + cams[i].mac + "] " + cams[i].ip + " " + status);
            EXPECT_NE(line, std::string::npos) << i << "\n" << run.out;
            if (i == 0 && line != std::string::npos) {
                lastCanaryLine = line;
            }
        }
        // The others' lines come after the canary's.
        if (row.rc == 0) {
            for (std::size_t i = 1; i < cams.size(); ++i) {
                EXPECT_GT(run.out.find("[" + cams[i].mac + "] " + cams[i].ip + " " + ok),
                          lastCanaryLine);
            }
        }
        if (row.heldBy >= 0) {
            const auto& c = cams[static_cast<std::size_t>(row.heldBy)];
            const std::string says = "先升级的设备[" + c.mac + "] " + c.ip + " 未通过，其余2台暂缓";
            EXPECT_NE(run.out.find(says), std::string::npos) << says << "\n" << run.out;
        }
        for (const char* text : row.outHas) {
            EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
        }
        for (const char* text : row.errHas) {
            EXPECT_NE(run.err.find(text), std::string::npos) << text << "\n" << run.err;
        }
        EXPECT_FALSE(WorkspaceLeft());
    }
}

}  // namespace
