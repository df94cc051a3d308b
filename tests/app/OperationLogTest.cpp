#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/OperationLog.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class OperationLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qv_oplog_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

struct LineCase {
    platform::LocalTime t;
    std::string text;
    std::string expected;
};

class LineFormat : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineFormat, IsByteExact) {
    EXPECT_EQ(app::OperationLog::FormatLine(GetParam().t, GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineFormat,
    ::testing::Values(
        LineCase{{2026, 12, 7, 21, 5, 9, 123}, "x", "[2026-12-07 21:05:09: 123]x\r\n"},
        LineCase{
            {2026, 1, 2, 3, 4, 5, 7}, "ms below 100", "[2026-01-02 03:04:05: 007]ms below 100\r\n"},
        LineCase{{2026, 1, 2, 0, 0, 0, 42}, "", "[2026-01-02 00:00:00: 042]\r\n"},
        LineCase{{2026, 1, 2, 23, 59, 59, 999},
                 "100% %s %d",
                 "[2026-01-02 23:59:59: 999]100% %s %d\r\n"},
        LineCase{
            {2026, 1, 2, 3, 4, 5, 0}, "中文 已启动", "[2026-01-02 03:04:05: 000]中文 已启动\r\n"}));

TEST_F(OperationLogTest, AppendsAcrossOpensAndKeepsThePathOnFailure) {
    const fs::path file = dir_ / "2026_01_02.log";
    {
        app::OperationLog log([] { return platform::LocalTime{2026, 1, 2, 3, 4, 5, 6}; });
        EXPECT_EQ(log.GetPath(), "");
        ASSERT_TRUE(log.Open(file.string()));
        log.Write("first run");
    }
    {
        app::OperationLog log([] { return platform::LocalTime{2026, 1, 2, 3, 4, 6, 60}; });
        ASSERT_TRUE(log.Open(file.string()));
        log.Write("second run %d");
        // Each line is on disk as soon as Write returns.
        EXPECT_EQ(ReadAll(file),
                  "[2026-01-02 03:04:05: 006]first run\r\n[2026-01-02 03:04:06: 060]second run "
                  "%d\r\n");
    }
    app::OperationLog broken;
    const std::string bad = (dir_ / "missing" / "x.log").string();
    EXPECT_FALSE(broken.Open(bad));
    EXPECT_EQ(broken.GetPath(), bad);
    broken.Write("dropped");  // no file, no crash
    EXPECT_FALSE(fs::exists(bad));
}

TEST_F(OperationLogTest, ARunAcrossMidnightKeepsItsFileWithNewStamps) {
    platform::LocalTime now{2026, 12, 31, 23, 59, 59, 990};
    app::OperationLog log([&now] { return now; });
    const fs::path file = dir_ / "2026_12_31.log";
    ASSERT_TRUE(log.Open(file.string()));
    log.Write("before");
    now = platform::LocalTime{2027, 1, 1, 0, 0, 0, 5};
    log.Write("after");
    EXPECT_EQ(ReadAll(file),
              "[2026-12-31 23:59:59: 990]before\r\n[2027-01-01 00:00:00: 005]after\r\n");
    EXPECT_EQ(log.GetPath(), file.string());
}

}  // namespace
