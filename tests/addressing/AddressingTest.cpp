// Consecutive numbering that skips, and the address plan CSV: read, checked, written back.

#include <gtest/gtest.h>

#include <fstream>

#include "ScratchDir.h"
#include "addressing/Numbering.h"
#include "addressing/PlanCsv.h"

namespace {

using namespace addressing;

std::uint32_t Ip(const char* text) {
    return ParseIpv4(text).value();
}

const std::string kA = "02:51:56:00:00:01";
const std::string kB = "02:51:56:00:00:02";
const std::string kC = "02:51:56:00:00:03";

TEST(Numbering, SkipsWhatIsTaken) {
    struct Case {
        const char* what;
        const char* start;
        const char* mask;
        InUse inUse;
        std::vector<std::string> want;  // one address per camera A, B, C; empty: refused
        std::string error;
    };
    const Case cases[] = {
        {"nothing in the way",
         "10.77.1.18",
         "255.255.255.0",
         {},
         {"10.77.1.18", "10.77.1.19", "10.77.1.20"},
         ""},
        {"the server and another camera are skipped",
         "10.77.1.18",
         "255.255.255.0",
         {{Ip("10.77.1.19"), ""}, {Ip("10.77.1.20"), "02:51:56:00:00:09"}},
         {"10.77.1.18", "10.77.1.21", "10.77.1.22"},
         ""},
        {"a camera may keep its own address",
         "10.77.1.18",
         "255.255.255.0",
         {{Ip("10.77.1.19"), kB}},
         {"10.77.1.18", "10.77.1.19", "10.77.1.20"},
         ""},
        {"start on the network address",
         "10.77.1.0",
         "255.255.255.0",
         {},
         {"10.77.1.1", "10.77.1.2", "10.77.1.3"},
         ""},
        {"a /23 goes on past .255",
         "10.77.0.254",
         "255.255.254.0",
         {},
         {"10.77.0.254", "10.77.0.255", "10.77.1.0"},
         ""},
        {"a /24 ends at its broadcast",
         "10.77.1.253",
         "255.255.255.0",
         {},
         {},
         "子网 10.77.1.0/24 内地址不足"},
        {"taken up to the end",
         "10.77.1.250",
         "255.255.255.248",
         {{Ip("10.77.1.251"), ""}, {Ip("10.77.1.252"), ""}, {Ip("10.77.1.253"), ""}},
         {},
         "子网 10.77.1.248/29 内地址不足"},
        {"mask with a hole", "10.77.1.18", "255.0.255.0", {}, {}, "子网掩码无效 255.0.255.0"},
        {"mask /31", "10.77.1.18", "255.255.255.254", {}, {}, "子网掩码无效 255.255.255.254"},
        {"multicast start", "224.0.0.1", "255.255.255.0", {}, {}, "不是可用的主机地址 224.0.0.1"},
        {"the top of unicast does not wrap",
         "223.255.255.253",
         "255.255.255.252",
         {},
         {},
         "子网 223.255.255.252/30 内地址不足"},
    };
    for (const auto& c : cases) {
        const auto n = NumberFrom(Ip(c.start), Ip(c.mask), {kA, kB, kC}, c.inUse);
        EXPECT_EQ(n.error, c.error) << c.what;
        std::vector<std::string> got;
        for (const auto& cam : n.cameras) {
            got.push_back(FormatIpv4(cam.ip));
        }
        EXPECT_EQ(got, c.want) << c.what;
    }
}

TEST(Numbering, SaysPerCameraWhatItSkipped) {
    const InUse inUse = {{Ip("10.77.1.20"), ""}, {Ip("10.77.1.21"), kC}};
    const auto n = NumberFrom(Ip("10.77.1.19"), Ip("255.255.255.0"), {kA, kB}, inUse);
    ASSERT_EQ(n.cameras.size(), 2u);
    EXPECT_TRUE(SkipNotes(n.cameras[0]).empty());
    EXPECT_EQ(SkipNotes(n.cameras[1]),
              std::vector<std::string>{"跳过已占用地址 10.77.1.20、10.77.1.21"});
    const auto edge = NumberFrom(Ip("10.77.1.255"), Ip("255.255.255.0"), {kA}, {});
    EXPECT_EQ(edge.error, "子网 10.77.1.0/24 内地址不足");
    const auto net = NumberFrom(Ip("10.77.1.0"), Ip("255.255.255.0"), {kA}, {});
    ASSERT_EQ(net.cameras.size(), 1u);
    EXPECT_EQ(SkipNotes(net.cameras[0]), std::vector<std::string>{"跳过网络或广播地址 10.77.1.0"});
}

TEST(Numbering, GoesOnIntoTheNextSubnetsUpToThrough) {
    const InUse inUse = {{Ip("10.77.2.1"), ""}};
    const auto n =
        NumberFrom(Ip("10.77.1.254"), Ip("255.255.255.0"), {kA, kB}, inUse, Ip("10.77.2.3"));
    ASSERT_EQ(n.cameras.size(), 2u) << n.error;
    EXPECT_EQ(FormatIpv4(n.cameras[1].ip), "10.77.2.2");
    EXPECT_EQ(n.cameras[1].skippedReserved,
              (std::vector<std::uint32_t>{Ip("10.77.1.255"), Ip("10.77.2.0")}));
    EXPECT_EQ(n.cameras[1].skippedInUse, std::vector<std::uint32_t>{Ip("10.77.2.1")});
    // `through` itself is the last address given.
    const auto last =
        NumberFrom(Ip("10.77.1.254"), Ip("255.255.255.0"), {kA, kB, kC}, inUse, Ip("10.77.2.3"));
    ASSERT_EQ(last.cameras.size(), 3u);
    EXPECT_EQ(FormatIpv4(last.cameras[2].ip), "10.77.2.3");
    const auto out =
        NumberFrom(Ip("10.77.1.254"), Ip("255.255.255.0"), {kA, kB, kC}, inUse, Ip("10.77.2.2"));
    EXPECT_TRUE(out.cameras.empty());
    EXPECT_EQ(out.error, "可用IP地址不足");
    // Never on into multicast.
    const auto top =
        NumberFrom(Ip("223.255.255.254"), Ip("255.255.255.0"), {kA, kB}, {}, Ip("255.255.255.254"));
    EXPECT_EQ(top.error, "可用IP地址不足");
}

const std::string kHeader = "mac,ip,mask,gateway,name\n";

TEST(PlanCsv, EveryFaultWithItsLine) {
    PlanChecks checks;
    checks.knownMacs = std::set<std::string>{kA, kB, kC, "02:51:56:00:00:0A"};
    checks.inUse = {{Ip("10.77.1.20"), ""}, {Ip("10.77.1.5"), kB}};
    checks.subnet = Subnet::Of(Ip("10.77.1.1"), Ip("255.255.254.0"));
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> errors;  // empty: accepted
    };
    const std::string a = kA + ",10.77.1.10,,,\n";
    const Case cases[] = {
        {"good, any case and '-', blanks, CRLF, BOM, blank lines",
         "\xEF\xBB\xBF"
         "MAC , IP\r\n\r\n02-51-56-00-00-0a , 10.77.1.10\r\n" +
             kB + ",10.77.1.5\n",
         {}},
        {"columns in another order", "name,ip,mac\nlane 1,10.77.1.10," + kA + "\n", {}},
        {"MAC not in the list",
         kHeader + a + "02:51:56:00:00:09,10.77.1.11,,,\n",
         {"第3行：未找到设备 02:51:56:00:00:09"}},
        {"MAC twice",
         kHeader + a + "02:51:56:00:00:01,10.77.1.11,,,\n",
         {"第3行：MAC重复 02:51:56:00:00:01（第2行）"}},
        {"address twice",
         kHeader + a + kB + ",10.77.1.10,,,\n",
         {"第3行：地址重复 10.77.1.10（第2行）"}},
        {"address held by another host",
         kHeader + kA + ",10.77.1.20,,,\n",
         {"第2行：地址已被占用 10.77.1.20"}},
        {"address held by another camera",
         kHeader + kA + ",10.77.1.5,,,\n",
         {"第2行：地址已被占用 10.77.1.5"}},
        {"address outside the subnet",
         kHeader + kA + ",10.77.2.10,255.255.0.0,,\n",
         {"第2行：地址不在子网 10.77.0.0/23 内"}},
        {"bad MAC", kHeader + "02:51:56:00:00,10.77.1.10,,,\n", {"第2行：MAC地址无效"}},
        {"bad address", kHeader + kA + ",10.77.1.256,,,\n", {"第2行：IP地址无效"}},
        {"bad mask", kHeader + kA + ",10.77.1.10,255.0.255.0,,\n", {"第2行：子网掩码无效"}},
        {"bad gateway text", kHeader + kA + ",10.77.1.10,,10.77.1,\n", {"第2行：网关无效"}},
        {"gateway outside its subnet",
         kHeader + kA + ",10.77.1.10,,10.77.0.1,\n",
         {"第2行：网关不在子网内 10.77.0.1"}},
        {"broadcast address of its mask",
         kHeader + kA + ",10.77.0.255,,,\n",
         {"第2行：不是可用的主机地址 10.77.0.255"}},
        {"too few columns", kHeader + kA + ",10.77.1.10\n", {"第2行：列数不符"}},
        {"broken quotes", kHeader + kA + ",10.77.1.10,,,\"lane\n", {"第2行：引号不成对"}},
        {"control character in a name",
         kHeader + kA + ",10.77.1.10,,,a\x1b[2Jb\n",
         {"第2行：名称无效"}},
        {"bad UTF-8 in a name", kHeader + kA + ",10.77.1.10,,,\xE8\xBD\n", {"第2行：名称无效"}},
        {"name too long",
         kHeader + kA + ",10.77.1.10,,," + std::string(129, 'n') + "\n",
         {"第2行：名称无效"}},
        {"line too long",
         kHeader + a + kB + ",10.77.1.11,,," + std::string(600, 'n') + "\n",
         {"第3行：行过长"}},
        {"unknown column", "mac,ip,vlan\n", {"第1行：表头无效"}},
        {"column twice", "mac,ip,ip\n", {"第1行：表头无效"}},
        {"no ip column", "mac,name\n", {"第1行：表头缺少 mac 或 ip"}},
        {"header only", kHeader, {"地址表为空"}},
        {"nothing", "", {"地址表为空"}},
        {"faults of several lines all told",
         kHeader + a + kA + ",10.77.1.10,,,\n",
         {"第3行：MAC重复 02:51:56:00:00:01（第2行）", "第3行：地址重复 10.77.1.10（第2行）"}},
    };
    for (const auto& c : cases) {
        const Plan p = ReadPlan(c.text, checks);
        EXPECT_EQ(p.errors, c.errors) << c.what;
        EXPECT_EQ(p.rows.empty(), !c.errors.empty()) << c.what;
    }
}

TEST(PlanCsv, RoundTripsAndBoundsItsSize) {
    std::vector<PlanRow> rows;
    const char* names[] = {"", "1号车道 入口", "a,b", "say \"hi\"", " padded "};
    for (int i = 0; i < 5; ++i) {
        PlanRow r;
        r.mac = "02:51:56:00:01:0" + std::to_string(i);
        r.ip = Ip("10.77.1.30") + static_cast<std::uint32_t>(i);
        if (i % 2 == 1) {
            r.mask = Ip("255.255.254.0");
            r.gateway = Ip("10.77.0.1");
        }
        r.name = names[i];
        rows.push_back(r);
    }
    const Plan back = ReadPlan(WritePlan(rows), {});
    ASSERT_TRUE(back.ok()) << back.errors.front();
    EXPECT_EQ(back.rows, rows);
    EXPECT_EQ(back.rows[2].line, 4);

    qvtest::ScratchDir dir;
    { std::ofstream(dir / "plan.csv", std::ios::binary) << WritePlan(rows); }
    EXPECT_EQ(ReadPlanFile(dir / "plan.csv", {}).rows, rows);
    EXPECT_EQ(ReadPlanFile(dir / "missing.csv", {}).errors,
              std::vector<std::string>{"无法读取地址表"});

    std::string big = "mac,ip\n";
    for (std::size_t i = 0; i <= kMaxPlanRows; ++i) {
        const char* hex = "0123456789ABCDEF";
        const std::string mac =
            std::string("02:51:56:00:0") + hex[i >> 8] + ":" + hex[(i >> 4) & 0xF] + hex[i & 0xF];
        big += mac + ",10.1." + std::to_string(i / 200) + "." + std::to_string(1 + i % 200) + "\n";
    }
    ASSERT_TRUE(ReadPlan(big.substr(0, big.rfind("02:51")), {}).ok());
    EXPECT_EQ(ReadPlan(big, {}).errors, std::vector<std::string>{"地址表超过1024行"});
    EXPECT_EQ(ReadPlan(std::string(kMaxPlanBytes + 1, '\n'), {}).errors,
              std::vector<std::string>{"地址表过大"});
    // A file of faults reports a bounded number of them.
    std::string bad = "mac,ip\n";
    for (int i = 0; i < 300; ++i) {
        bad += "x,y\n";
    }
    const auto many = ReadPlan(bad, {});
    ASSERT_EQ(many.errors.size(), kMaxPlanErrors + 1);
    EXPECT_EQ(many.errors.back(), "另有500处错误");
}

TEST(PlanCsv, RowsMadeHereAreCheckedAsLinesAreAndNamedByMac) {
    PlanChecks checks;
    checks.knownMacs = std::set<std::string>{kA, kB, kC};
    checks.inUse = {{Ip("10.77.1.20"), ""}};
    checks.subnet = Subnet::Of(Ip("10.77.0.1"), Ip("255.255.0.0"));
    checks.subnets[kC] = Subnet::Of(Ip("10.99.0.1"), Ip("255.255.0.0"));
    auto row = [](const std::string& mac, const char* ip, int line = 0) {
        PlanRow r;
        r.mac = mac;
        r.ip = Ip(ip);
        r.line = line;
        return r;
    };
    const Plan good = CheckPlan({row(kA, "10.77.1.10"), row(kC, "10.99.1.10")}, checks);
    EXPECT_TRUE(good.ok());
    EXPECT_EQ(good.rows.size(), 2u);
    const Plan bad = CheckPlan({row(kA, "10.77.1.10"), row(kB, "10.77.1.10"), row(kC, "10.77.1.12"),
                                row(kB, "10.77.1.20", 7)},
                               checks);
    EXPECT_EQ(bad.errors, (std::vector<std::string>{
                              kB + "：地址重复 10.77.1.10", kC + "：地址不在子网 10.99.0.0/16 内",
                              "第7行：MAC重复 " + kB, "第7行：地址已被占用 10.77.1.20"}));
    EXPECT_TRUE(bad.rows.empty());
    std::vector<PlanRow> many(kMaxPlanRows + 1, row(kA, "10.77.1.10"));
    EXPECT_EQ(CheckPlan(many, {}).errors, std::vector<std::string>{"地址表超过1024行"});
}

}  // namespace
