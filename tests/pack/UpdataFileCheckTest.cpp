#include "pack/UpdataFileCheck.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "PackTestUtil.h"
#include "pack/UpdatePack.h"

using namespace packtest;

namespace {

struct TypeCase {
    const char* name;
    int cls;
};

class GetFileTypeTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(GetFileTypeTest, ClassifiesByName) {
    CUpdataFileCheck check;
    EXPECT_EQ(check.GetFileType(GetParam().name), GetParam().cls) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GetFileTypeTest,
    ::testing::Values(TypeCase{"APP.JFFS2", 0}, TypeCase{"Update.BIN", 4}, TypeCase{"fw.tar.gz", 0},
                      TypeCase{"fw.tgz", 4}, TypeCase{"fw.tgz.old", -1}, TypeCase{"my_UIMAGE", 2},
                      TypeCase{"rootfs.cramfs", 3}, TypeCase{"rootfs.cramfs.bak", -1},
                      TypeCase{"uImage.bin", 4}, TypeCase{"x.jffs2.bin", 0},
                      TypeCase{"a.yaffs2", 0}, TypeCase{"b.UBIFS", 0}, TypeCase{"bin", -1},
                      TypeCase{"", -1}, TypeCase{".bin", 4},
                      // bytes above 0x7F are left alone by the lower-casing
                      TypeCase{"\xC3\x84PP.JFFS2", 0}, TypeCase{"\xC3\x84.cramfs", 3}));

TEST(CUpdataFileCheck, KernelNameIsLowerCasedInPlace) {
    CUpdataFileCheck check;
    EXPECT_EQ(check.GetKernelName(), "uimage");
    EXPECT_EQ(check.GetKernelName(), "uimage");
    EXPECT_EQ(check.GetFileType("UImAgE-3.10"), 2);
}

TEST(CUpdataFileCheck, IsAppFileOfDevType) {
    CUpdataFileCheck check;
    EXPECT_TRUE(check.IsAppFileOfDevType("fw_qzt1a2.jffs2", "QZT1A2"));
    EXPECT_TRUE(check.IsAppFileOfDevType("FW_QZT1A2.UBIFS", "qzt1a2"));
    EXPECT_TRUE(check.IsAppFileOfDevType("x_qzt1a2.tar.gz_V2.3", "qzt1a2"));
    EXPECT_FALSE(check.IsAppFileOfDevType("fw_qzt1a2_.jffs2", "qzt1a2"));
    EXPECT_FALSE(check.IsAppFileOfDevType("fw_qzt1a2.tgz", "qzt1a2"));
    EXPECT_FALSE(check.IsAppFileOfDevType("fw.jffs2", "qzt1a2"));
}

struct SeriesCase {
    const char* name;
    const char* dev;
    bool match;
};

class MatchSeriesCodeTest : public ::testing::TestWithParam<SeriesCase> {};

TEST_P(MatchSeriesCodeTest, ComparesTheThreeCharactersAfterTheMarker) {
    CUpdataFileCheck check;
    const SeriesCase& c = GetParam();
    EXPECT_EQ(check.MatchSeriesCode(c.name, c.dev), c.match) << c.name << " / " << c.dev;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MatchSeriesCodeTest,
    ::testing::Values(SeriesCase{"app_QZT123.jffs2", "qzt123", true},
                      SeriesCase{"app_qztn23.jffs2", "QZT923", true},
                      SeriesCase{"app_qzt923.jffs2", "qztn23", true},
                      SeriesCase{"app_qztn24.jffs2", "qzt923", false},
                      SeriesCase{"app_qzt1n3.jffs2", "qzt1x3", true},
                      SeriesCase{"app_qzt12n.jffs2", "qzt12n", true},
                      SeriesCase{"app_qzt12n.jffs2", "qzt123", false},
                      SeriesCase{"app_qzt123.jffs2", "qzt12n", false},
                      SeriesCase{"app_qzt123.jffs2", "abc123", false},
                      SeriesCase{"qzt", "qzt123", false},       // shorter than 6
                      SeriesCase{"abcqzt12", "qzt123", false},  // two characters after the marker
                      SeriesCase{"xxxxxxqzt", "qzt123", false}, SeriesCase{"", "", false}));

TEST(CUpdataFileCheck, HasVersionTag) {
    CUpdataFileCheck check;
    EXPECT_TRUE(check.HasVersionTag("a_V2.0_b", 2, 0));
    EXPECT_TRUE(check.HasVersionTag("a_V2.3_b", 2, 0));
    EXPECT_TRUE(check.HasVersionTag("a_V2.6_b", 2, 0));
    EXPECT_FALSE(check.HasVersionTag("a_V2.4_b", 2, 0));
    EXPECT_TRUE(check.HasVersionTag("a_V2.3_b", 2, 3));
    EXPECT_FALSE(check.HasVersionTag("a_V2.0_b", 2, 3));
    EXPECT_FALSE(check.HasVersionTag("a_V2.6_b", 2, 3));
    EXPECT_TRUE(check.HasVersionTag("a_V2.01_b", 2, 0));
    EXPECT_FALSE(check.HasVersionTag("a_v2.0_b", 2, 0));
    EXPECT_TRUE(check.HasVersionTag("a_V12.345", 12, 345));
    EXPECT_FALSE(check.HasVersionTag("", 0, 0));
}

struct HwCase {
    const char* name;
    const char* hw;
    bool match;
};

class MatchHardVersionTest : public ::testing::TestWithParam<HwCase> {};

TEST_P(MatchHardVersionTest, ComparesTheHardwareCode) {
    CUpdataFileCheck check;
    const HwCase& c = GetParam();
    EXPECT_EQ(check.MatchHardVersion(c.name, c.hw), c.match) << c.name << " / " << c.hw;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MatchHardVersionTest,
    ::testing::Values(HwCase{"app.jffs2", "111", true}, HwCase{"app.jffs2", "1119", true},
                      HwCase{"app.jffs2", "112", false}, HwCase{"a_YJ1#3_x.jffs2", "103", true},
                      HwCase{"a_YJ1#3_x.jffs2", "1x3", true},
                      HwCase{"a_YJ1#3_x.jffs2", "104", false},
                      HwCase{"a_YJ12_x", "111", true},  // two characters: "111"
                      HwCase{"a_YJ12_x", "12", false},  // hardware version too short
                      HwCase{"a_YJ1234_x", "123", false}, HwCase{"a_YJ1234_x", "111", true},
                      HwCase{"a_YJX_b_YJ2#1_c", "201", true},
                      HwCase{"a_YJX_b_YJ2#1_c", "111", false},
                      HwCase{"a_yj203_c", "203", false},  // case-sensitive marker
                      HwCase{"a_YJ203", "203", false},    // no closing '_': "111"
                      HwCase{"a_YJ", "111", true}, HwCase{"a_YJ###_", "xyz", true},
                      HwCase{"a_YJ203_", "", false}));

TEST(CUpdataFileCheck, GetPackKindByTheFirstFourBytes) {
    TempDir dir;
    CUpdataFileCheck check;
    const std::vector<std::pair<std::string, int>> cases = {
        {std::string("\xEF\xCD\xAB\x89rest", 8), 1},
        {std::string("\x67\x45\x23\x01", 4), 2},
        {std::string("\x88\x88\x88\x88", 4), 3},
        {std::string("\x89\xAB\xCD\xEF", 4), -1},
        {std::string("\xEF\xCD", 2), -1},
        {"", -1}};
    for (const auto& [bytes, kind] : cases) {
        WriteFile(dir / "f", bytes);
        EXPECT_EQ(check.GetPackKind(dir / "f"), kind);
    }
    EXPECT_EQ(check.GetPackKind(dir / "missing"), 0);
    EXPECT_EQ(check.GetPackKind(dir.path().string()), 0);
}

#ifndef _WIN32  // /proc and permission bits
// A file the process may read but not write is still a valid firmware file.
TEST(CUpdataFileCheck, ReadOnlyFilesAreReadable) {
    // Even root cannot open a running executable for writing.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const int rw = ::open(self.c_str(), O_RDWR);
    if (rw >= 0) {
        ::close(rw);
        GTEST_SKIP() << "running executable is writable here";
    }
    CUpdataFileCheck check;
    EXPECT_EQ(check.GetPackKind(self), -1);  // an ELF file, not unreadable
    EXPECT_EQ(check.CheckFileSize(self), 1);
}

TEST(CUpdataFileCheck, ReadOnlyPermissionsAreNoObstacle) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not bind root";
    }
    TempDir dir;
    CUpdataFileCheck check;
    WriteFile(dir / "p", std::string("\x67\x45\x23\x01", 4));
    ASSERT_EQ(::chmod((dir / "p").c_str(), 0444), 0);
    EXPECT_EQ(check.GetPackKind(dir / "p"), 2);
    WriteFile(dir / "big", "");
    ASSERT_EQ(::truncate((dir / "big").c_str(), 36700161), 0);
    ASSERT_EQ(::chmod((dir / "big").c_str(), 0444), 0);
    EXPECT_EQ(check.CheckFileSize(dir / "big"), 0);
    ASSERT_EQ(::chmod((dir / "p").c_str(), 0), 0);
    EXPECT_EQ(check.GetPackKind(dir / "p"), 0);
    EXPECT_EQ(check.CheckFileSize(dir / "p"), -1);
}
#endif

TEST(CUpdataFileCheck, CheckFileSizeLimit) {
    TempDir dir;
    CUpdataFileCheck check;
    for (const auto& [size, want] : std::vector<std::pair<std::uintmax_t, int>>{
             {0, 1}, {36700160, 1}, {36700161, 0}, {std::uintmax_t{0x100000000}, 0}}) {
        WriteFile(dir / "f", "");
        std::error_code ec;
        fs::resize_file(dir / "f", size, ec);
        ASSERT_FALSE(ec) << ec.message();
        EXPECT_EQ(check.CheckFileSize(dir / "f"), want) << size;
    }
    EXPECT_EQ(check.CheckFileSize(dir / "missing"), -1);
}

TEST(CUpdataFileCheck, ListDirFilesSkipsDotNamesAndDirectories) {
    TempDir dir;
    CUpdataFileCheck check;
    fs::create_directory(dir.path() / "sub");
    std::vector<std::string> names{"kept"};
    std::vector<std::string> paths{"kept"};
    ASSERT_TRUE(check.ListDirFiles(dir.path().string(), names, paths));
    EXPECT_EQ(names, std::vector<std::string>{"kept"});
    EXPECT_EQ(paths, std::vector<std::string>{"kept"});

    WriteFile(dir / "b.jffs2", "1");
    WriteFile(dir / "a", "2");
    WriteFile(dir / ".hidden", "3");
    fs::create_directory(dir.path() / ".git");
    ASSERT_TRUE(check.ListDirFiles(dir.path().string(), names, paths));
    ASSERT_EQ(names.size(), 3u);
    std::vector<std::string> got(names.begin() + 1, names.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b.jffs2"}));
    for (std::size_t i = 1; i < names.size(); ++i) {
        EXPECT_EQ(paths[i], dir / names[i]);
    }
    EXPECT_FALSE(check.ListDirFiles(dir / "missing", names, paths));
    EXPECT_EQ(names.size(), 3u);
}

TEST(CUpdataFileCheck, ComposePackWritesASinglePack) {
    TempDir dir;
    CUpdataFileCheck check;
    WriteFile(dir / "uImage", "kernel");
    WriteFile(dir / "app_qzt1.jffs2", "application");
    WriteFile(dir / "rootfs.cramfs", "fs");
    ASSERT_EQ(check.ComposePack(dir.path().string(), "Pack1.bin",
                                {dir / "app_qzt1.jffs2", dir / "uImage", dir / "rootfs.cramfs"}),
              1);
    PackSpec expected;
    expected.entries = {{"rootfs.cramfs", 3, "fs", ""},
                        {"uImage", 2, "kernel", ""},
                        {"app_qzt1.jffs2", 1, "application", ""}};
    EXPECT_EQ(ReadFile(dir / "Pack1.bin"), BuildPack(expected));
    EXPECT_EQ(check.GetPackKind(dir / "Pack1.bin"), 1);
}

TEST(CUpdataFileCheck, ComposePackFailures) {
    TempDir dir;
    CUpdataFileCheck check;
    LogRecorder log;
    WriteFile(dir / "uImage", "k");
    EXPECT_EQ(check.ComposePack(dir.path().string(), "", {dir / "uImage"}), 2);
    EXPECT_EQ(check.ComposePack(dir / "missing", "P.bin", {dir / "uImage"}), 0);
    EXPECT_EQ(check.ComposePack(dir.path().string(), "P.bin", {dir / "uImage", dir / "uImage"}), 0);
    EXPECT_FALSE(fs::exists(dir / "P.bin"));
    // A path that does not fit its 256-byte slot is not cut to another name.
    const std::string longPath = dir.path().string() + "/" + std::string(255, 'x');
    EXPECT_EQ(check.ComposePack(dir.path().string(), "P.bin", {longPath}), 0);
    EXPECT_FALSE(fs::exists(dir / "P.bin"));
}

}  // namespace
