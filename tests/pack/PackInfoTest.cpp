// What the engine and the console read from a pack: its role, its first
// application entry and that entry's version tag, from well-formed and hostile bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "PackTestUtil.h"
#include "pack/PackInfo.h"

using namespace packtest;

namespace {

// A header and table only, as the format lays them out; `cut` drops bytes at the end.
std::string Table(std::uint32_t magic, std::vector<Entry> entries, int fileNum = -1,
                  std::size_t cut = 0) {
    PackSpec layout;
    layout.magic = magic;
    layout.entries = std::move(entries);
    layout.fileNum = fileNum;
    std::string body = BuildBody(layout);
    body.resize(64 + 200 * layout.entries.size());  // the data is never read
    body.resize(body.size() > cut ? body.size() - cut : 0);
    return body;
}

struct EntryCase {
    const char* name;
    std::string bytes;
    PackRole role;
    bool found;
    std::string entry;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << c.name;
}

class FirstAppEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(FirstAppEntryTest, ReadsOnlyWhatIsThereAndWithinTheLimits) {
    const EntryCase& c = GetParam();
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const PackAppEntry got = PackFirstAppEntry(std::span(data, c.bytes.size()));
    EXPECT_EQ(got.role, c.role);
    EXPECT_EQ(got.found, c.found);
    EXPECT_EQ(got.name, c.entry);
}

const Entry kKernel{"uImage", PACK_FILE_KERNEL, "", ""};
const Entry kApp{"cam_YJ101_V2.6_.jffs2", PACK_FILE_APP, "", ""};
const std::string kLongName(140, 'n');

INSTANTIATE_TEST_SUITE_P(
    Bytes, FirstAppEntryTest,
    ::testing::Values(
        EntryCase{"Empty", "", PackRole::None, false, ""},
        EntryCase{"ShorterThanAHeader", Table(PACK_MAGIC_SINGLE, {kApp}).substr(0, 63),
                  PackRole::None, false, ""},
        EntryCase{"NoPackMagic", Table(0x12345678u, {kApp}), PackRole::None, false, ""},
        EntryCase{"SingleAppAfterKernel", Table(PACK_MAGIC_SINGLE, {kKernel, kApp}),
                  PackRole::Single, true, kApp.name},
        EntryCase{"MultiFirstOfTwoApps",
                  Table(PACK_MAGIC_MULTI, {kApp, {"b_V9.9", PACK_FILE_APP, "", ""}}),
                  PackRole::Multi, true, kApp.name},
        EntryCase{"ForcedCopyType6", Table(PACK_MAGIC_SINGLE, {{"x_V1.2", PACK_FILE_BIN, "", ""}}),
                  PackRole::Single, true, "x_V1.2"},
        EntryCase{"NoApplication", Table(PACK_MAGIC_SINGLE, {kKernel}), PackRole::Single, false,
                  ""},
        EntryCase{"BundleEntriesAreNotApplications",
                  Table(PACK_MAGIC_BUNDLE, {{"p_V1.1.bin", PACK_FILE_BIN, "", ""}}),
                  PackRole::Bundle, false, ""},
        EntryCase{"CountZero", Table(PACK_MAGIC_SINGLE, {kApp}, 0), PackRole::Single, false, ""},
        EntryCase{"CountAboveTheLimit", Table(PACK_MAGIC_SINGLE, {kApp}, 100), PackRole::Single,
                  false, ""},
        EntryCase{"CountLargestWithOneEntry", Table(PACK_MAGIC_SINGLE, {kKernel}, 0xFFFF),
                  PackRole::Single, false, ""},
        EntryCase{"CountBeyondTheBytesAppMissing",
                  Table(PACK_MAGIC_SINGLE, {kKernel, kApp}, 3, 200), PackRole::Single, false, ""},
        EntryCase{"AppEntryCutShort", Table(PACK_MAGIC_SINGLE, {kKernel, kApp}, -1, 1),
                  PackRole::Single, false, ""},
        EntryCase{"CountCoversOnlyTheKernel", Table(PACK_MAGIC_SINGLE, {kKernel, kApp}, 1),
                  PackRole::Single, false, ""},
        EntryCase{"NameFillsItsField",
                  Table(PACK_MAGIC_SINGLE, {{kLongName, PACK_FILE_APP, "", ""}}), PackRole::Single,
                  true, std::string(128, 'n')}));

struct TagCase {
    const char* name;
    const char* text;
    const char* tag;
};

void PrintTo(const TagCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(VersionTagTest, FirstWellFormedTag) {
    EXPECT_EQ(PackVersionTag(GetParam().text), GetParam().tag);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VersionTagTest,
    ::testing::Values(TagCase{"Plain", "cam_YJ101_V2.6_.jffs2", "2.6"},
                      TagCase{"LeadingZeros", "cam_V02.06", "2.6"},
                      TagCase{"NineDigits", "_V999999999.999999999", "999999999.999999999"},
                      TagCase{"TenDigitMajorSkipped", "_V1234567890.1_V3.4", "3.4"},
                      TagCase{"TenDigitMinor", "_V1.1234567890", ""},
                      TagCase{"NoMinor", "_V2.", ""}, TagCase{"NoDot", "_V2_x", ""},
                      TagCase{"NoMajor", "_V.3", ""}, TagCase{"LowerCase", "_v2.3", ""},
                      TagCase{"SecondTagAfterABrokenOne", "_Vx_V5.6", "5.6"},
                      TagCase{"AtTheEnd", "_V", ""}, TagCase{"Empty", "", ""}));

class NamedVersionTest : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(NamedVersionTest, FromThePackTableOrThePlainFilesName) {
    struct Row {
        const char* file;
        std::string bytes;
        const char* tag;
    };
    const Row rows[] = {
        {"plain_V1.4.jffs2", Bytes(500, 1), "1.4"},
        {"short_V1.5.bin", "tiny", "1.5"},
        {"Pack_V9.9.bin", BuildPack({PACK_MAGIC_SINGLE, 1, {{kApp.name, 1, Bytes(10, 2), ""}}}),
         "2.6"},
        {"noapp_V9.9.bin", BuildPack({PACK_MAGIC_SINGLE, 1, {{"uImage", 2, Bytes(10, 3), ""}}}),
         ""},
        {"bundle_V9.9.bin",
         BuildPack({PACK_MAGIC_BUNDLE, 1, {{"p_V1.1.bin", 6, Bytes(10, 4), ""}}}), ""},
        {"cut_V9.9.bin", Table(PACK_MAGIC_SINGLE, {kKernel, kApp}, -1, 100), ""},
    };
    for (const Row& r : rows) {
        WriteFile(dir_ / r.file, r.bytes);
        EXPECT_EQ(PackNamedVersion(dir_ / r.file), r.tag) << r.file;
    }
    // What cannot be opened as a file is judged by its name.
    EXPECT_EQ(PackNamedVersion(dir_ / "missing_V3.1.bin"), "3.1");
    fs::create_directory(dir_ / "folder_V3.2.bin");
    EXPECT_EQ(PackNamedVersion(dir_ / "folder_V3.2.bin"), "3.2");
    EXPECT_EQ(PackNamedVersion("C:\\fw\\cam_V3.3.bin"), "3.3");
    EXPECT_EQ(PackNamedVersion(""), "");
}

// Version order by number, and no order where either side cannot be read.
TEST(PackInfo, VersionKeysCompareByNumberOrNotAtAll) {
    struct Row {
        const char* a;
        const char* b;
        std::optional<int> order;
    };
    for (const Row& r :
         {Row{"2.10", "2.9", 1}, Row{"2.9", "2.10", -1}, Row{"2.3", "2.3", 0},
          Row{"2.3", "2.3.0", 0}, Row{"2.3.1", "2.3", 1}, Row{"10", "9.9", 1},
          Row{"", "2.3", std::nullopt}, Row{"2.x", "2.3", std::nullopt},
          Row{"2..3", "2.3", std::nullopt}, Row{"2.3.", "2.3", std::nullopt},
          Row{"1234567890.1", "2.3", std::nullopt}, Row{"1.1.1.1.1.1.1.1.1", "1", std::nullopt}}) {
        EXPECT_EQ(CompareVersionKeys(r.a, r.b), r.order) << r.a << " " << r.b;
    }
    EXPECT_EQ(SoftVersionKey("V2.6.0_1a2b"), "2.6");
    EXPECT_EQ(SoftVersionKey("2.10.3_180101"), "2.10");
    EXPECT_EQ(SoftVersionKey("vX.Y_1"), "");
}

// A multi-application pack's tags are the cameras' own family: nothing judged.
TEST(PackInfo, OnlyASingleFileNamesAVersionToJudgeBy) {
    const std::string dir = ::testing::TempDir();
    const std::string multi = dir + "/judged-multi.bin";
    const std::string single = dir + "/judged-single.bin";
    packtest::WritePack(multi, PACK_MAGIC_MULTI,
                        {{"app_V2.3_YJ101_T.jffs2", PACK_FILE_APP, "a", ""}});
    packtest::WritePack(single, PACK_MAGIC_SINGLE,
                        {{"app_V2.4_YJ101_T.jffs2", PACK_FILE_APP, "a", ""}});
    EXPECT_EQ(PackNamedVersion(multi), "2.3");
    EXPECT_EQ(PackJudgedVersion(multi), "");
    EXPECT_EQ(PackJudgedVersion(single), "2.4");
    EXPECT_EQ(PackJudgedVersion(dir + "/absent_V2.5"), "2.5");
}

}  // namespace
