// Paths named in Chinese on both systems: on Windows a narrow path handed to
// std::filesystem is read in the ANSI code page, while the tool's are UTF-8.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/Paths.h"
#include "wire/NetConfig.h"

namespace {

namespace fs = std::filesystem;

std::string U8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

TEST(ConfigPath, Utf8PathsSurviveTheFilesystemBoundary) {
    const char* const rows[] = {
        "quorvane-net.conf",
        "便携 工具",
        "C:\\Users\\张三\\AppData\\Roaming\\Quorvane",
        "/home/技术员/工具/korvel.log",
    };
    for (const char* r : rows) {
        EXPECT_EQ(platform::Utf8Path(platform::FsPath(r)), r);
        EXPECT_TRUE(platform::FsPath(r).u8string() == std::u8string(r, r + std::strlen(r))) << r;
    }
}

// A portable copy unpacked into a folder named in Chinese reads the file beside
// it instead of falling back to the built-in values.
TEST(ConfigPath, FolderWithAChineseNameIsRead) {
    if (std::getenv(wire::kNetConfEnv) != nullptr) {
        GTEST_SKIP() << "QUORVANE_NET_CONF is set";
    }
    const fs::path top =
        fs::temp_directory_path() / ("qv-configpath-" + std::to_string(std::random_device{}()));
    const fs::path dir = top / std::u8string(u8"便携 工具");
    fs::create_directories(dir);
    std::ofstream(dir / wire::kNetConfFileName, std::ios::binary) << "discovery_port = 4001\r\n";
    std::string error;
    const auto loaded = wire::LoadNetConfigFrom({U8(dir)}, U8(top), &error);
    std::error_code ec;
    fs::remove_all(top, ec);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->config.discoveryPort, 4001);
    EXPECT_EQ(loaded->path, U8(dir / wire::kNetConfFileName));
    EXPECT_EQ(loaded->dir, U8(dir));
}

}  // namespace
