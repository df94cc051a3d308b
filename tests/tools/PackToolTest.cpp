#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "PackTestUtil.h"

using namespace packtest;

namespace {

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

class PackToolTest : public ::testing::Test {
  protected:
    ToolRun Tool(const std::vector<std::string>& args) {
        std::string cmd = Quote(QV_PACK_TOOL);
        for (const std::string& a : args) {
            cmd += " " + Quote(a);
        }
        cmd += " 2>" + Quote(dir / "stderr");
        ToolRun r;
        FILE* p = ::popen(cmd.c_str(), "r");
        if (p == nullptr) {
            return r;
        }
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            r.out.append(buf, n);
        }
        const int status = ::pclose(p);
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = ReadFile(dir / "stderr");
        return r;
    }

    void SetUp() override {
        WriteFile(dir / "app_qzt1a2.jffs2", Bytes(2000, 1));
        WriteFile(dir / "uImage", Bytes(900, 2));
        WriteFile(dir / "rootfs.cramfs", Bytes(100, 3));
    }

    TempDir dir;
};

TEST_F(PackToolTest, CreateListVerifyUnpackRoundTrip) {
    ToolRun r = Tool({"create", dir / "p.bin", dir / "app_qzt1a2.jffs2", dir / "uImage", "--magic",
                      "multi", dir / "rootfs.cramfs"});
    ASSERT_EQ(r.exit, 0) << r.err;
    r = Tool({"list", dir / "p.bin", "--json"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["magic"], 0x01234567u);
    EXPECT_EQ(j["file_count"], 3);
    EXPECT_EQ(j["pack_type"], 1);
    EXPECT_EQ(j["data_length"], 3000);
    ASSERT_EQ(j["files"].size(), 3u);
    EXPECT_EQ(j["files"][2]["name"], "app_qzt1a2.jffs2");
    EXPECT_EQ(j["files"][2]["type"], 1);
    EXPECT_EQ(j["files"][2]["size"], 2000);

    EXPECT_EQ(Tool({"verify", dir / "p.bin"}).exit, 0);
    fs::create_directory(dir.path() / "out");
    r = Tool({"unpack", dir / "p.bin", dir / "out"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_NE(r.err.find("DecUpdatePack DecUpdatePack name:uImage,file size 900\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir / "out/uImage"), Bytes(900, 2));

    r = Tool({"retype", dir / "p.bin", dir / "out", "r.bin"});
    EXPECT_EQ(r.exit, 0);
    r = Tool({"list", dir / "out/r.bin", "--json"});
    EXPECT_EQ(nlohmann::json::parse(r.out)["files"][2]["type"], 6);
    // code 6 needs ".bin" in the name
    EXPECT_EQ(Tool({"unpack", dir / "out/r.bin", dir / "out"}).exit, 4);
}

TEST_F(PackToolTest, ExitCodesFollowTheRoutines) {
    EXPECT_EQ(Tool({"create", dir / "p.bin", dir / "uImage", dir / "uImage"}).exit, 6);
    EXPECT_EQ(Tool({"create", dir / "p.bin", dir / "missing"}).exit, 4);
    ASSERT_EQ(Tool({"create", dir / "p.bin", dir / "uImage"}).exit, 0);
    std::string bytes = ReadFile(dir / "p.bin");
    bytes[100] ^= 1;
    WriteFile(dir / "bad.bin", bytes);
    EXPECT_EQ(Tool({"verify", dir / "bad.bin"}).exit, 1);
    EXPECT_EQ(Tool({"list", dir / "bad.bin"}).exit, 1);
    EXPECT_EQ(Tool({"unpack", dir / "bad.bin", dir.path().string()}).exit, 2);
    EXPECT_EQ(Tool({"retype", dir / "bad.bin", dir.path().string(), "x"}).exit, 2);
}

TEST_F(PackToolTest, UsageErrorsExit64) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"create", dir / "p.bin"},
        {"create", dir / "p.bin", dir / "uImage", "--magic", "double"},
        {"verify"},
        {"unpack", dir / "p.bin"},
        {"retype", dir / "p.bin", dir / "out"},
        {"inspect"},
        {"fit", "name"},
        {"fit", "name", "--type", "t", "--version-key", "2"},
        {"fit", "name", "--type"},
        {"verify", dir / "p.bin", "--json"},
        {"list", dir / "p.bin", "--bogus"},
    };
    for (const auto& args : bad) {
        const ToolRun r = Tool(args);
        EXPECT_EQ(r.exit, 64) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("usage: quorvane-pack"), std::string::npos);
    }
}

TEST_F(PackToolTest, InspectReportsClassKindAndSize) {
    ASSERT_EQ(Tool({"create", dir / "fw.bin", dir / "uImage"}).exit, 0);
    const ToolRun r =
        Tool({"inspect", dir / "fw.bin", dir / "app_qzt1a2.jffs2", dir / "gone", "--json"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 3u);
    EXPECT_EQ(j[0]["class"], 4);
    EXPECT_EQ(j[0]["kind"], 1);
    EXPECT_EQ(j[0]["size_check"], 1);
    EXPECT_EQ(j[1]["class"], 0);
    EXPECT_EQ(j[1]["kind"], -1);
    EXPECT_EQ(j[2]["kind"], 0);
    EXPECT_EQ(j[2]["size_check"], -1);
}

TEST_F(PackToolTest, FitGivesEachVerdict) {
    const ToolRun r = Tool({"fit", "cam_QZT1N2.jffs2_V2.3_YJ1#3_r", "--type", "qzt1a2",
                            "--version-key", "2.0", "--hw", "103", "--hw", "203", "--json"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["app_file_of_dev_type"], false);
    EXPECT_EQ(j["series_code"], true);
    EXPECT_EQ(j["version_tag"], true);
    EXPECT_EQ(j["hard_version"]["103"], true);
    EXPECT_EQ(j["hard_version"]["203"], false);
}

// Names in a pack are bytes; they must not break the JSON writer.
TEST_F(PackToolTest, ListSurvivesNamesThatAreNotUtf8) {
    PackSpec layout;
    layout.entries = {{"bad\xFF\xFEname", 4, "x", ""}};
    WriteFile(dir / "p.bin", BuildPack(layout));
    const ToolRun r = Tool({"list", dir / "p.bin", "--json"});
    ASSERT_EQ(r.exit, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    EXPECT_EQ(j["files"][0]["size"], 1);
}

// A name made to forge a row or drive the terminal is printed escaped; the
// diagnostics of a failing unpack name it escaped too.
TEST_F(PackToolTest, EntryNamesAreEscapedInTextOutput) {
    PackSpec layout;
    layout.entries = {{"app\tfake\n   9    9  forged\x1b]0;owned\x07", 4, "x", ""}};
    WriteFile(dir / "p.bin", BuildPack(layout));
    const ToolRun r = Tool({"list", dir / "p.bin"});
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_NE(r.out.find("app\\tfake\\n   9    9  forged\\x1b]0;owned\\x07\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.out.find("\n   9    9  forged"), std::string::npos);
    const auto j = nlohmann::json::parse(Tool({"list", dir / "p.bin", "--json"}).out);
    EXPECT_EQ(j["files"][0]["name"], "app\tfake\n   9    9  forged\x1b]0;owned\x07");

    const ToolRun inspect = Tool({"inspect", dir / "a\x1b[2Jb.bin"});
    EXPECT_EQ(inspect.out.find('\x1b'), std::string::npos) << inspect.out;
    EXPECT_NE(inspect.out.find("a\\x1b[2Jb.bin: class"), std::string::npos) << inspect.out;
}

}  // namespace
