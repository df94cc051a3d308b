// quorvane-cli against a camsim fleet on loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "Fleet.h"
#include "app/BatchReport.h"
#include "platform/FileLock.h"

namespace fs = std::filesystem;

namespace {

using qvtest::CliRun;

std::string Quote(const std::string& s) {
    return qvtest::ShellQuote(s);
}

std::string ReadAll(const fs::path& p) {
    return qvtest::ReadWholeFile(p);
}

class CliEndToEnd : public ::testing::Test {
  protected:
    void StartFleet(qvtest::FleetOptions options) {
        options.patientSearch();
        fleet_ = std::make_unique<qvtest::Fleet>(std::move(options));
        ASSERT_TRUE(fleet_->ok()) << fleet_->error();
        dir_ = fs::path(fleet_->dir()) / "tool";
        fs::create_directories(dir_);
        fs::copy_file(fleet_->confPath(), dir_ / "quorvane-net.conf",
                      fs::copy_options::overwrite_existing);
    }

    // `prefix` goes before the command: environment settings, a ulimit.
    CliRun Cli(const std::vector<std::string>& args, const std::string& prefix = "") {
        return qvtest::RunCli(QV_CLI_PATH, dir_, args, prefix);
    }

    nlohmann::json Search(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"search", "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        const CliRun run = Cli(args);
        EXPECT_EQ(run.rc, 0) << run.err;
        return nlohmann::json::parse(run.out, nullptr, false);
    }

    std::string Block(int third, int last) const {
        // An address in the fleet's own 127.x.y block family, one subnet up.
        const std::string& ip = fleet_->cameras().front().ip;
        const auto second = ip.find('.', 4);
        return ip.substr(0, second) + "." + std::to_string(third) + "." + std::to_string(last);
    }

    static qvtest::FleetOptions Count(int n) {
        qvtest::FleetOptions o;
        o.count = n;
        return o;
    }
    static qvtest::FleetOptions FromJson(const std::string& json) {
        qvtest::FleetOptions o;
        o.fleetJson = json;
        return o;
    }

    std::unique_ptr<qvtest::Fleet> fleet_;
    fs::path dir_;
};

TEST_F(CliEndToEnd, SearchListsTheFleetSortedByAddress) {
    StartFleet(Count(3));
    const nlohmann::json rows = Search();
    ASSERT_TRUE(rows.is_array());
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["number"], std::to_string(i + 1));
        EXPECT_EQ(rows[i]["ip"], fleet_->cameras()[i].ip);
        EXPECT_EQ(rows[i]["mac"], fleet_->cameras()[i].mac);
        EXPECT_EQ(rows[i]["type"], "QV-LPR200");
        EXPECT_EQ(rows[i]["status"], "等待升级");
    }
    const nlohmann::json desc = Search({"--sort", "mac", "--descending"});
    ASSERT_EQ(desc.size(), 3u);
    EXPECT_EQ(desc[0]["mac"], fleet_->cameras()[2].mac);
    EXPECT_EQ(desc[0]["number"], "0");

    const CliRun table = Cli({"search"});
    EXPECT_EQ(table.rc, 0);
    EXPECT_EQ(table.out.rfind("序号\t设备类型\tIP地址\tMAC地址\t软件版本\t硬件版本\t状态\n", 0),
              0u);
    EXPECT_NE(table.err.find("QuorvaneV1.0.0.8(Custom版)   已启动"), std::string::npos);
    // The header and every row carry the same columns.
    std::istringstream lines(table.out);
    std::string line;
    int lineCount = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6) << line;
        ++lineCount;
    }
    EXPECT_EQ(lineCount, 4);
}

TEST_F(CliEndToEnd, ModifyThenRestoreMovesTheCameras) {
    StartFleet(Count(2));
    const std::string start = Block(200, 254);
    const CliRun mod = Cli({"modify-ip", start, "--all"});
    ASSERT_EQ(mod.rc, 0) << mod.out << mod.err;
    EXPECT_NE(mod.out.find("[" + fleet_->cameras()[0].mac + "] " + start + " 修改IP成功"),
              std::string::npos)
        << mod.out;
    EXPECT_NE(mod.out.find("[" + fleet_->cameras()[1].mac + "] " + Block(201, 1) + " 修改IP成功"),
              std::string::npos)
        << mod.out;
    EXPECT_NE(mod.err.find("批量修改IP完成"), std::string::npos);

    nlohmann::json rows = Search();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["ip"], start);
    EXPECT_EQ(rows[1]["ip"], Block(201, 1));

    const std::string def = Block(202, 7);
    std::ofstream(dir_ / "config.ini") << "[config]\r\ndefaultip=" << def << "\r\n";
    const CliRun res = Cli({"restore-ip", "--mac", fleet_->cameras()[1].mac});
    ASSERT_EQ(res.rc, 0) << res.out << res.err;
    EXPECT_NE(res.out.find(def + " 恢复默认IP成功"), std::string::npos) << res.out;
    EXPECT_NE(res.err.find("批量恢复默认IP完成"), std::string::npos);
    rows = Search({"--sort", "mac"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1]["ip"], def);

    // Every run appended to one daily log in the config folder.
    std::string log;
    for (const auto& e : fs::directory_iterator(dir_)) {
        if (e.path().extension() == ".log" && e.path().filename().string().size() == 14) {
            log += ReadAll(e.path());
        }
    }
    EXPECT_NE(log.find("]QuorvaneV1.0.0.8(Custom版)   已启动\r\n"), std::string::npos);
    EXPECT_NE(log.find(" 修改IP成功\r\n"), std::string::npos);
    EXPECT_NE(log.find(" 恢复默认IP成功\r\n"), std::string::npos);
}

TEST_F(CliEndToEnd, ModifyIpProvesEachCameraAtItsNewAddressAndHistoryKeepsTheAddresses) {
    StartFleet(Count(2));
    const auto& cams = fleet_->cameras();
    const CliRun mod = Cli({"modify-ip", Block(205, 1), "--all"});
    ASSERT_EQ(mod.rc, 0) << mod.out << mod.err;
    for (int k = 0; k < 2; ++k) {
        const std::string line =
            "[" + cams[static_cast<std::size_t>(k)].mac + "] " + Block(205, 1 + k);
        EXPECT_NE(mod.out.find(line + " 修改IP成功"), std::string::npos) << mod.out;
        EXPECT_NE(mod.out.find(line + " 已验证 新地址 " + Block(205, 1 + k)), std::string::npos)
            << mod.out;
    }
    EXPECT_NE((mod.out + mod.err).find("成功2（已验证2），拒绝0，失败0，用时"), std::string::npos)
        << mod.out << mod.err;

    const CliRun list = Cli({"history"});
    ASSERT_EQ(list.rc, 0) << list.err;
    const auto at = list.out.find("\tmodify-ip\t");
    ASSERT_NE(at, std::string::npos) << list.out;
    const std::string id = list.out.substr(list.out.rfind('\n', at) + 1, 19);
    EXPECT_NE(list.out.find("\t2\t成功2（已验证2 新地址无应答0 新地址被占用0 未验证0） 拒绝0 失败0 "
                            "已停止0 已暂缓0\n"),
              std::string::npos)
        << list.out;
    const CliRun one = Cli({"history", id});
    ASSERT_EQ(one.rc, 0) << one.err;
    const nlohmann::json doc = nlohmann::json::parse(one.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << one.out;
    EXPECT_EQ(doc["kind"], "modify-ip");
    ASSERT_EQ(doc["cameras"].size(), 2u);
    for (const nlohmann::json& c : doc["cameras"]) {
        SCOPED_TRACE(c.dump());
        // In the order they finished.
        const std::size_t k = c["mac"] == cams[0].mac ? 0 : 1;
        EXPECT_EQ(c["mac"], cams[k].mac);
        EXPECT_EQ(c["ip_before"], cams[k].ip);
        EXPECT_EQ(c["ip"], Block(205, 1 + static_cast<int>(k)));
        EXPECT_EQ(c["mask"], "255.255.255.0");
        EXPECT_EQ(c["verify"], "at-new-address");
    }
}

TEST_F(CliEndToEnd, AFaultyCameraFailsAloneAndTheExitSaysSo) {
    StartFleet(FromJson(R"({"cameras":[{}, {"faults":{"refuse-ip-change":true}}, {}]})"));
    const auto& cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), 3u);
    const CliRun run = Cli({"modify-ip", Block(210, 1), "--all"});
    EXPECT_EQ(run.rc, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("[" + cams[1].mac + "] " + Block(210, 2) + " 修改IP失败"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + Block(210, 1) + " 修改IP成功"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("批量修改IP完成"), std::string::npos);
    const nlohmann::json rows = Search({"--sort", "mac"});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1]["ip"], cams[1].ip);  // the faulty one stayed
}

TEST_F(CliEndToEnd, RefusedRequestsExitWithTwoAndTheirMessage) {
    StartFleet(Count(1));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases{
        {{"modify-ip", Block(220, 255), "--all"}, "IP地址最后一位不能255"},
        {{"modify-ip", Block(220, 0), "--all"}, "IP地址最后一位不能0"},
        {{"modify-ip", Block(220, 5), "--mac", "00:00:00:00:00:00"},
         "no camera with MAC 00:00:00:00:00:00"},
        {{"restore-ip", "--ip", "127.255.255.1"}, "no camera at 127.255.255.1"},
    };
    for (const Case& c : cases) {
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.rc, 2) << c.args[0];
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    // Nothing moved.
    const nlohmann::json rows = Search();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["ip"], fleet_->cameras()[0].ip);
    EXPECT_EQ(Cli({"bogus"}).rc, 2);
}

// Where a search says a camera is, by MAC.
std::string IpOf(const nlohmann::json& rows, const std::string& mac) {
    for (const auto& r : rows) {
        if (r["mac"] == mac) {
            return r["ip"];
        }
    }
    return "";
}

TEST_F(CliEndToEnd, AnAddressInUseIsPassedOverAndThePlanChangesNothing) {
    StartFleet(Count(3));
    const auto cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), 3u);
    // From the middle camera's address, which is not ticked: it and the last
    // camera's own address are passed over for the first.
    const std::vector<std::string> args{"modify-ip", cams[1].ip, "--mac",
                                        cams[0].mac, "--mac",    cams[2].mac};
    const std::string next1 = cams[1].ip.substr(0, cams[1].ip.rfind('.')) + ".4";
    const std::string next2 = cams[1].ip.substr(0, cams[1].ip.rfind('.')) + ".5";
    ASSERT_EQ(cams[1].ip.substr(cams[1].ip.rfind('.')), ".2");
    const std::string skipped = "跳过已占用地址 " + cams[1].ip + "、" + cams[2].ip;

    std::vector<std::string> plan = args;
    plan.push_back("--plan");
    const CliRun dry = Cli(plan);
    ASSERT_EQ(dry.rc, 0) << dry.out << dry.err;
    EXPECT_EQ(dry.out, "MAC地址\tIP地址\t新IP地址\t说明\n" + cams[0].mac + "\t" + cams[0].ip +
                           "\t" + next1 + "\t" + skipped + "\n" + cams[2].mac + "\t" + cams[2].ip +
                           "\t" + next2 + "\t-\n");
    EXPECT_EQ(dry.err.find("开始批量修改IP"), std::string::npos) << dry.err;
    // A plan is refused as a run is.
    const CliRun bad = Cli({"modify-ip", Block(220, 255), "--all", "--plan"});
    EXPECT_EQ(bad.rc, 2);
    EXPECT_NE(bad.err.find("IP地址最后一位不能255"), std::string::npos) << bad.err;
    EXPECT_EQ(bad.out, "");
    nlohmann::json rows = Search();
    for (const auto& cam : cams) {
        EXPECT_EQ(IpOf(rows, cam.mac), cam.ip);
    }

    const CliRun run = Cli(args);
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    // The plan first, then the batch.
    const auto planAt = run.out.find("MAC地址\tIP地址\t新IP地址\t说明\n");
    EXPECT_LT(planAt, run.out.find("开始批量修改IP：2台设备，起始IP " + cams[1].ip)) << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + next1 + " 修改IP成功\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + next1 + " " + skipped), std::string::npos)
        << run.out;
    rows = Search();
    EXPECT_EQ(IpOf(rows, cams[0].mac), next1);
    EXPECT_EQ(IpOf(rows, cams[1].mac), cams[1].ip);
    EXPECT_EQ(IpOf(rows, cams[2].mac), next2);
}

TEST_F(CliEndToEnd, APlanFileGivesEachCameraItsAddressAndUndoBringsThemBack) {
    StartFleet(Count(2));
    const auto cams = fleet_->cameras();
    ASSERT_EQ(cams.size(), 2u);
    const fs::path planPath = dir_ / "plan.csv";
    std::ofstream(planPath, std::ios::binary)
        << "mac,ip,name\n"
        << cams[0].mac << "," << Block(206, 20) << ",1号车道\n"
        << cams[1].mac << "," << Block(206, 10) << ",\n";

    // --plan prints the checked plan and changes nothing.
    const CliRun dry = Cli({"modify-ip", "--plan-file", planPath.string(), "--plan"});
    ASSERT_EQ(dry.rc, 0) << dry.out << dry.err;
    EXPECT_EQ(dry.out, "MAC地址\tIP地址\t新IP地址\t子网掩码\t网关\t名称\n" + cams[0].mac + "\t" +
                           cams[0].ip + "\t" + Block(206, 20) + "\t-\t-\t1号车道\n" + cams[1].mac +
                           "\t" + cams[1].ip + "\t" + Block(206, 10) + "\t-\t-\t-\n");
    EXPECT_EQ(IpOf(Search(), cams[0].mac), cams[0].ip);

    const CliRun run = Cli({"modify-ip", "--plan-file", planPath.string()});
    ASSERT_EQ(run.rc, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + Block(206, 20) + " 修改IP成功\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("[" + cams[0].mac + "] " + Block(206, 20) + " 1号车道；已验证 新地址"),
              std::string::npos)
        << run.out;
    nlohmann::json rows = Search();
    EXPECT_EQ(IpOf(rows, cams[0].mac), Block(206, 20));
    EXPECT_EQ(IpOf(rows, cams[1].mac), Block(206, 10));

    const CliRun list = Cli({"history"});
    const auto at = list.out.find("\tmodify-ip\t");
    ASSERT_NE(at, std::string::npos) << list.out;
    const std::string id = list.out.substr(list.out.rfind('\n', at) + 1, 19);
    const CliRun one = Cli({"history", id});
    const nlohmann::json doc = nlohmann::json::parse(one.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << one.out;
    EXPECT_EQ(doc["request"]["plan_file"], planPath.string());
    for (const nlohmann::json& c : doc["cameras"]) {
        EXPECT_EQ(c["name"], c["mac"] == cams[0].mac ? "1号车道" : "") << c.dump();
        EXPECT_EQ(c["mask_before"], "255.255.255.0") << c.dump();
    }

    // Undone by its id: every camera back where it was, proven there.
    const CliRun undo = Cli({"modify-ip", "--undo", id});
    ASSERT_EQ(undo.rc, 0) << undo.out << undo.err;
    EXPECT_NE(undo.out.find("开始批量修改IP：2台设备，恢复批次 " + id + " 前的地址"),
              std::string::npos)
        << undo.out;
    EXPECT_NE(undo.out.find("[" + cams[1].mac + "] " + cams[1].ip + " 已验证 新地址 " + cams[1].ip),
              std::string::npos)
        << undo.out;
    rows = Search();
    EXPECT_EQ(IpOf(rows, cams[0].mac), cams[0].ip);
    EXPECT_EQ(IpOf(rows, cams[1].mac), cams[1].ip);
    const CliRun again = Cli({"modify-ip", "--undo", id});
    EXPECT_EQ(again.rc, 2);
    EXPECT_NE(again.err.find("批次 " + id + " 的设备都已在原地址"), std::string::npos) << again.err;

    // A bad plan is refused whole with its line; so are options that clash.
    std::ofstream(planPath, std::ios::binary)
        << "mac,ip\n"
        << cams[0].mac << "," << Block(206, 30) << "\n02:00:00:00:00:99," << Block(206, 31) << "\n";
    const CliRun bad = Cli({"modify-ip", "--plan-file", planPath.string()});
    EXPECT_EQ(bad.rc, 2);
    EXPECT_NE(bad.err.find("第3行：未找到设备 02:00:00:00:00:99"), std::string::npos) << bad.err;
    EXPECT_EQ(IpOf(Search(), cams[0].mac), cams[0].ip);
    EXPECT_EQ(Cli({"modify-ip", "--plan-file", planPath.string(), "--all"}).rc, 2);
    EXPECT_EQ(Cli({"modify-ip", Block(206, 1), "--undo", id}).rc, 2);
    EXPECT_EQ(Cli({"modify-ip", "--undo", "yesterday"}).rc, 2);
}

TEST_F(CliEndToEnd, RestoreOfSeveralNeedsSameAddress) {
    StartFleet(Count(2));
    const auto cams = fleet_->cameras();
    const std::string def = Block(203, 9);
    std::ofstream(dir_ / "config.ini") << "[config]\ndefaultip=" << def << "\n";
    const CliRun refused = Cli({"restore-ip", "--all"});
    EXPECT_EQ(refused.rc, 2) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("quorvane-cli: 2台设备将使用同一地址 " + def +
                               "；确需如此请加 --same-address，没有设备被改动\n"),
              std::string::npos)
        << refused.err;
    nlohmann::json rows = Search();
    EXPECT_EQ(IpOf(rows, cams[0].mac), cams[0].ip);
    EXPECT_EQ(IpOf(rows, cams[1].mac), cams[1].ip);

    // Said yes to: the batch runs. The simulator itself lets one camera take it.
    const CliRun run = Cli({"restore-ip", "--all", "--same-address"});
    EXPECT_EQ(run.rc, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("批量恢复默认IP完成"), std::string::npos) << run.err;
    rows = Search();
    EXPECT_EQ((IpOf(rows, cams[0].mac) == def) + (IpOf(rows, cams[1].mac) == def), 1);
}

// ---- safe at the edges ----

std::string TodaysLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char name[32];
    std::snprintf(name, sizeof(name), "%04d_%02d_%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return name;
}

TEST_F(CliEndToEnd, CameraTextsCannotForgeRowsOrDriveTheTerminal) {
    StartFleet(
        FromJson(R"({"hostile_texts":true,"cameras":[{"type":"QV\tfake\nrow\u001b]0;owned\u0007",)"
                 R"("sw":"V1\r\u009b2J"}]})"));
    const CliRun run = Cli({"search"});
    ASSERT_EQ(run.rc, 0) << run.err;
    const auto lines = std::count(run.out.begin(), run.out.end(), '\n');
    EXPECT_EQ(lines, 2) << run.out;  // the heading and one row
    EXPECT_NE(run.out.find("QV\\tfake\\nrow\\x1b]0;owned\\x07"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("V1\\r\\u009b2J"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    // JSON keeps the text as it came.
    const nlohmann::json rows = Search();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["type"], "QV\tfake\nrow\x1b]0;owned\x07");
}

TEST_F(CliEndToEnd, ACameraAskedForButNotFoundRefusesTheWholeRequest) {
    StartFleet(Count(2));
    const auto& cams = fleet_->cameras();
    const CliRun run =
        Cli({"modify-ip", Block(230, 1), "--mac", cams[0].mac, "--mac", "02:00:00:00:00:99"});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("no camera with MAC 02:00:00:00:00:99"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("修改IP"), std::string::npos) << run.out;
    nlohmann::json rows = Search();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["ip"], cams[0].ip);  // untouched

    // Dashes and lower case name the same camera.
    std::string mac = cams[1].mac;
    std::replace(mac.begin(), mac.end(), ':', '-');
    std::transform(mac.begin(), mac.end(), mac.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const CliRun ok = Cli({"modify-ip", Block(231, 9), "--mac", mac});
    EXPECT_EQ(ok.rc, 0) << ok.err;
    rows = Search({"--sort", "mac"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1]["ip"], Block(231, 9));
}

TEST_F(CliEndToEnd, MalformedArgumentsAreRefusedBeforeTheSearch) {
    StartFleet(Count(1));
    const std::vector<std::vector<std::string>> cases{
        {"modify-ip", "127.0.999.1", "--all"},
        {"modify-ip", "127.0.01.1", "--all"},
        {"modify-ip", "127.0.0", "--all"},
        {"restore-ip", "--mac", "02:00:00:00:00"},
        {"restore-ip", "--mac", "zz:00:00:00:00:01"},
        {"restore-ip", "--mac", "02:00-00:00:00:01"},
        {"restore-ip", "--ip", "1.2.3.4.5"},
        // numbers are decimal digits only
        {"upgrade", "--parallel", "0x5", "f", "--all"},
        {"upgrade", "--parallel", "031", "f", "--all"},
        {"upgrade", "--parallel", "+5", "f", "--all"},
        {"upgrade", "--parallel", " 5", "f", "--all"},
        {"upgrade", "--parallel", "5x", "f", "--all"},
        {"upgrade", "--max-failures", "99999999999999999999", "f", "--all"},
        {"upgrade", "--probe-ms", "1e3", "f", "--all"},
        {"upgrade", "--verify-timeout", "0x10", "f", "--all"}};
    for (const auto& args : cases) {
        const auto started = std::chrono::steady_clock::now();
        const CliRun run = Cli(args);
        EXPECT_EQ(run.rc, 2) << args[1];
        EXPECT_NE(run.err.find("quorvane-cli: not "), std::string::npos) << run.err;
        // No search ran: it takes the quiet period, and the log is not even opened.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    }
    EXPECT_FALSE(fs::exists(dir_ / TodaysLogName()));
}

TEST_F(CliEndToEnd, ANetworkConfigurationThatCannotBeReadIsSaidAndRefused) {
    StartFleet(Count(1));
    fs::remove(dir_ / "quorvane-net.conf");
    ASSERT_EQ(::mkfifo((dir_ / "fifo.conf").c_str(), 0600), 0);
    for (const fs::path& conf : {dir_ / "missing.conf", dir_ / "fifo.conf", dir_}) {
        const CliRun run = Cli({"search"}, "QUORVANE_NET_CONF=" + Quote(conf.string()));
        EXPECT_EQ(run.rc, 2) << conf;
        EXPECT_NE(
            run.err.find("网络配置无法使用，搜索不到设备：cannot read network configuration " +
                         conf.string()),
            std::string::npos)
            << run.err;
        EXPECT_EQ(run.out, "") << conf;
    }
}

TEST_F(CliEndToEnd, ALogThatCannotBeWrittenHasAnExitStatusOfItsOwn) {
    StartFleet(Count(1));
    const fs::path log = dir_ / TodaysLogName();
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    const CliRun search = Cli({"search"});
    EXPECT_EQ(search.rc, 3) << search.err;
    EXPECT_NE(search.err.find("无法打开操作日志 " + log.string() + "：not a regular file"),
              std::string::npos)
        << search.err;
    EXPECT_NE(search.out.find(fleet_->cameras()[0].mac), std::string::npos);  // still listed

    // A file size limit: the line is refused whole, the tool is not killed.
    fs::remove(log);
    std::ofstream(log) << std::string(4096, 'x') << "\r\n";
    const CliRun limited = Cli({"modify-ip", Block(240, 5), "--all"}, "ulimit -f 2;");
    EXPECT_EQ(limited.rc, 3) << limited.err;
    EXPECT_NE(limited.err.find("无法写入操作日志"), std::string::npos) << limited.err;
    EXPECT_NE(limited.out.find("修改IP成功"), std::string::npos) << limited.out;
    EXPECT_EQ(fs::file_size(log), 4098u);
}

TEST_F(CliEndToEnd, ABatchRecordThatCannotBeSavedIsSaidAndExitsThree) {
    StartFleet(Count(1));
    std::ofstream(dir_ / "reports") << "not a folder";
    const CliRun run = Cli({"modify-ip", Block(240, 7), "--all"});
    EXPECT_EQ(run.rc, 3) << run.out << run.err;
    EXPECT_NE(run.out.find("修改IP成功"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("无法保存批次记录："), std::string::npos) << run.out;
    std::ifstream in(dir_ / TodaysLogName(), std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("无法保存批次记录："), std::string::npos) << log;
}

TEST_F(CliEndToEnd, OneBatchAtATimeOnAConfigurationFolder) {
    StartFleet(Count(1));
    platform::FileLock other;
    ASSERT_EQ(other.TryLock((dir_ / "quorvane.lock").string(), nullptr),
              platform::FileLock::Result::Locked);
    const CliRun run = Cli({"modify-ip", Block(241, 5), "--all"});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find("另一个Quorvane正在执行批量任务，请等它完成后再试"), std::string::npos)
        << run.err;
    // The lock comes before the file is even looked at.
    const CliRun upgrade = Cli({"upgrade", (dir_ / "missing.bin").string(), "--all"});
    EXPECT_EQ(upgrade.rc, 2);
    EXPECT_NE(upgrade.err.find("另一个Quorvane正在执行批量任务"), std::string::npos) << upgrade.err;
    EXPECT_EQ(upgrade.err.find("升级文件无法打开"), std::string::npos) << upgrade.err;
    other.Release();
    const nlohmann::json rows = Search();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["ip"], fleet_->cameras()[0].ip);
    const std::string file = ReadAll(dir_ / TodaysLogName());
    EXPECT_EQ(file.find("开始批量修改IP"), std::string::npos);
}

// `history` and `--retry-from` on records in a configuration folder of the
// fixture's own; none of them needs a camera.
class CliHistory : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qv-history-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A batch of eight cameras, one of every outcome.
    static app::BatchReport Batch(const std::string& id) {
        app::BatchReport r;
        r.id = id;
        r.kind = "upgrade";
        r.started = "2026-12-09 00:15:03.120";
        r.request.verifyTimeoutMs = 300000;
        const auto camera = [&](OutcomeResult result, VerifyResult verify, std::int32_t skipped) {
            app::ReportCamera c;
            c.mac = "02:51:56:00:00:0" + std::to_string(r.cameras.size() + 1);
            c.result = result == OutcomeResult::Succeeded ? 1 : 0;
            c.skipped = skipped;
            c.outcome.result = result;
            c.outcome.verify = verify;
            r.cameras.push_back(c);
        };
        camera(OutcomeResult::Succeeded, VerifyResult::NewVersion, 0);
        camera(OutcomeResult::Succeeded, VerifyResult::NotBack, 0);
        camera(OutcomeResult::Succeeded, VerifyResult::Unchanged, 0);
        camera(OutcomeResult::Succeeded, VerifyResult::NotChecked, 0);
        camera(OutcomeResult::Refused, VerifyResult::NotChecked, 0);
        camera(OutcomeResult::Failed, VerifyResult::NotChecked, 0);
        camera(OutcomeResult::None, VerifyResult::NotChecked, 18);
        camera(OutcomeResult::None, VerifyResult::NotChecked, 19);
        return r;
    }
    fs::path Write(const app::BatchReport& r) {
        std::string path;
        std::string why;
        EXPECT_TRUE(app::WriteReport(dir_.string(), r, &path, &why)) << why;
        return path;
    }
    CliRun Cli(const std::vector<std::string>& args) {
        return qvtest::RunCli(QV_CLI_PATH, dir_, args);
    }

    fs::path dir_;
};

TEST_F(CliHistory, TheRowCountsEveryOutcomeAndAddsUp) {
    Write(Batch("20261209-001503-120"));
    const CliRun run = Cli({"history"});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find("20261209-001503-120\tupgrade\t2026-12-09 00:15:03.120\t8\t"
                           "成功4（已验证1 未恢复1 版本未变1 版本不符0 未验证1） 拒绝1 失败1 "
                           "已停止1 已暂缓1\n"),
              std::string::npos)
        << run.out;
}

// One damaged field in one record: the list still shows the others and
// names the damaged file; the record itself and a retry from it are refused.
struct DamageCase {
    const char* pointer;
    nlohmann::json value;
};

class CliDamagedRecord : public CliHistory, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(CliDamagedRecord, IsNamedAndRefusedNeverFatal) {
    const DamageCase& c = GetParam();
    Write(Batch("20261209-001503-120"));
    const std::string bad = "20261209-001600-000";
    const fs::path path = Write(Batch(bad));
    nlohmann::json doc = nlohmann::json::parse(ReadAll(path));
    doc[nlohmann::json::json_pointer(c.pointer)] = c.value;
    std::ofstream(path, std::ios::trunc) << doc.dump();
    const std::string says = std::string("字段“") + c.pointer + "”不可用";

    CliRun run = Cli({"history"});
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find("20261209-001503-120\t"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(bad), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("批量记录已损坏：" + path.string() + ": " + says), std::string::npos)
        << run.err;

    for (const std::vector<std::string>& args : {std::vector<std::string>{"history", bad},
                                                 {"history", bad, "--csv"},
                                                 {"upgrade", "f", "--retry-from", path.string()}}) {
        run = Cli(args);
        EXPECT_EQ(run.rc, 2) << args.back() << run.err;
        EXPECT_NE(run.err.find(path.string() + ": " + says), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CliDamagedRecord,
    ::testing::Values(DamageCase{"/summary", 3}, DamageCase{"/summary/total", "8"},
                      DamageCase{"/kind", 1}, DamageCase{"/format", 1}, DamageCase{"/started", 1},
                      DamageCase{"/cameras/0/result", 1}, DamageCase{"/cameras/0/verify", 1},
                      DamageCase{"/cameras/0/mac", nullptr}, DamageCase{"/cameras/0/ip_before", 7},
                      DamageCase{"/cameras/0/mask", false},
                      DamageCase{"/cameras/0/address_seen", 1},
                      DamageCase{"/summary/not_at_new_address", -1}),
    [](const auto& p) { return std::to_string(p.index); });

TEST_F(CliHistory, CsvEscapesControlCharactersAndDefusesFormulas) {
    app::BatchReport r = Batch("20261209-001503-120");
    r.cameras[0].type = "=cmd|' /C calc'!A0";
    r.cameras[0].outcome.file = "/fw/\x1b]0;owned\x07\x1b[2JuImage";
    Write(r);
    const CliRun run = Cli({"history", r.id, "--csv"});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_NE(run.out.find(",'=cmd|' /C calc'!A0,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("/fw/\\x1b]0;owned\\x07\\x1b[2JuImage"), std::string::npos) << run.out;
    for (std::size_t i = 0; i < run.out.size(); ++i) {
        const auto b = static_cast<unsigned char>(run.out[i]);
        const bool lineEnd =
            (b == '\r' && run.out[i + 1] == '\n') || (b == '\n' && i > 0 && run.out[i - 1] == '\r');
        ASSERT_TRUE(b >= 0x20 || lineEnd) << "byte " << int(b) << " at " << i;
    }
}

TEST_F(CliHistory, ARecordThatIsALinkIsRefusedByName) {
    const fs::path real = Write(Batch("20261209-001503-120"));
    const fs::path link = dir_ / "reports" / "batch-20261209-001600-000.json";
    fs::create_symlink(real, link);
    const CliRun run = Cli({"history", "20261209-001600-000"});
    EXPECT_EQ(run.rc, 2);
    EXPECT_NE(run.err.find(link.string() + ": is a symbolic link"), std::string::npos) << run.err;
}

// ---- search by address ----

// The fleet's first /24, as --scan takes it.
std::string FirstSubnet(const qvtest::Fleet& fleet) {
    const std::string& ip = fleet.cameras().front().ip;
    return ip.substr(0, ip.rfind('.')) + ".0/24";
}

TEST_F(CliEndToEnd, ScanFindsTheCameraBehindTheRouterAndTheBatchesTakeIt) {
    StartFleet(FromJson(R"({"cameras":[{}, {}, {"faults":{"routed":true}}]})"));
    const auto& routed = fleet_->cameras()[2];
    EXPECT_EQ(Search().size(), 2u) << fleet_->log();

    const CliRun run = Cli({"search", "--json", "--scan", FirstSubnet(*fleet_)});
    ASSERT_EQ(run.rc, 0) << run.err;
    const auto rows = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_EQ(rows.size(), 3u) << run.out;
    EXPECT_EQ(rows[2]["mac"], routed.mac);
    EXPECT_EQ(rows[2]["number"], "3");
    EXPECT_NE(run.err.find("按地址搜索 " + FirstSubnet(*fleet_) +
                           "（254个地址）：搜索到3台设备，其中2台已在列表中"),
              std::string::npos)
        << run.err;

    // A batch names it like any camera of the list.
    const CliRun plan =
        Cli({"modify-ip", Block(200, 7), "--mac", routed.mac, "--plan", "--scan", routed.ip});
    EXPECT_EQ(plan.rc, 0) << plan.err;
    EXPECT_NE(plan.out.find(routed.mac), std::string::npos) << plan.out;
    const CliRun missing = Cli({"modify-ip", Block(200, 7), "--mac", routed.mac, "--plan"});
    EXPECT_EQ(missing.rc, 2) << missing.err;
}

TEST_F(CliEndToEnd, ABadScanIsRefusedBeforeTheSearch) {
    StartFleet(Count(1));
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"search", "--scan", "127.0.0.0/16"}, "一次最多搜索1024个"},
        {{"search", "--scan", "127.0.0.9-127.0.0.1"}, "大于结束地址"},
        {{"search", "--scan", "printer"}, "无法识别的地址"},
        {{"restore-ip", "--all", "--scan", std::string(100, '1')}, "最多64个字符"},
        {{"upgrade", "f", "--all", "--scan", "224.0.0.1"}, "不能搜索"},
    };
    for (const Case& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const CliRun run = Cli(c.args);
        EXPECT_EQ(run.rc, 2) << c.args.back();
        EXPECT_EQ(run.err.rfind("quorvane-cli: --scan: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    }
}

TEST_F(CliEndToEnd, CtrlCStopsAScanAndTheListFoundSoFarIsPrinted) {
    StartFleet(Count(2));
    {
        // 254 addresses at 50 a second: a scan of ten seconds.
        std::ofstream conf(dir_ / "quorvane-net.conf", std::ios::app);
        conf << "scan_rate = 50\n";
    }
    const fs::path out = dir_ / "out.json";
    const fs::path err = dir_ / "err.txt";
    const std::string cmd = Quote(QV_CLI_PATH) + " --config-dir " + Quote(dir_.string()) +
                            " search --json --scan " + FirstSubnet(*fleet_) + " >" +
                            Quote(out.string()) + " 2>" + Quote(err.string()) +
                            " & pid=$!; sleep 4; kill -INT $pid; wait $pid";
    const auto started = std::chrono::steady_clock::now();
    const int status = std::system(("bash -c " + Quote(cmd)).c_str());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4) << ReadAll(err);
    const auto rows = nlohmann::json::parse(ReadAll(out), nullptr, false);
    EXPECT_EQ(rows.size(), 2u) << ReadAll(out);
    EXPECT_NE(ReadAll(err).find("（254个地址）已停止"), std::string::npos) << ReadAll(err);
}

}  // namespace
