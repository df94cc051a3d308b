#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "PackTestUtil.h"
#include "pack/UpdatePack.h"

using namespace packtest;

namespace {

PackSpec Sample() {
    PackSpec s;
    s.entries = {{"rootfs.cramfs", 3, Bytes(300, 1), ""},
                 {"notes", 4, Bytes(17, 2), ""},
                 {"uImage", 2, Bytes(250, 3), ""},
                 {"app_ABC.jffs2", 1, Bytes(400, 4), ""}};
    return s;
}

bool Verifies(const std::string& path) {
    tPackHead head{};
    return static_cast<bool>(CheckFileMD5(path.c_str(), &head));
}

}  // namespace

TEST(CheckFileMD5, ReadsAnIndependentlyBuiltPack) {
    TempDir dir;
    PackSpec layout = Sample();
    layout.magic = 0x01234567u;
    layout.packType = 0;
    WriteFile(dir / "p", BuildPack(layout));
    tPackHead head{};
    auto table = CheckFileMD5((dir / "p").c_str(), &head);
    ASSERT_TRUE(table);
    EXPECT_EQ(head.uiPackMagic, 0x01234567u);
    EXPECT_EQ(head.uifileNum, 4);
    EXPECT_EQ(head.uiDataLen, 967u);
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
        EXPECT_EQ(PackEntryName(table[i]), layout.entries[i].name);
        EXPECT_EQ(table[i].ucFileType, layout.entries[i].type);
        EXPECT_EQ(table[i].uiFileSize, layout.entries[i].data.size());
    }
}

// Any changed byte before the end of the digest spoils the pack; bytes after
// it are ignored.
TEST(CheckFileMD5, EveryCorruptedByteIsCaughtAndTrailingBytesAreNot) {
    TempDir dir;
    const std::string pack = BuildPack(Sample());
    std::size_t accepted = 0;
    for (std::size_t i = 0; i < pack.size(); ++i) {
        std::string bad = pack;
        bad[i] = static_cast<char>(bad[i] ^ 0x01);
        WriteFile(dir / "p", bad);
        if (Verifies(dir / "p")) {
            ++accepted;
            ADD_FAILURE() << "accepted a flip at offset " << i;
        }
    }
    EXPECT_EQ(accepted, 0u);
    WriteFile(dir / "p", pack + "trailing junk");
    EXPECT_TRUE(Verifies(dir / "p"));
}

TEST(CheckFileMD5, EveryTruncationIsRejected) {
    TempDir dir;
    const std::string pack = BuildPack(Sample());
    for (std::size_t len = 0; len < pack.size(); len += (len < 300 ? 1 : 37)) {
        WriteFile(dir / "p", pack.substr(0, len));
        EXPECT_FALSE(Verifies(dir / "p")) << len;
    }
}

TEST(CheckFileMD5, HeaderChecksAndTheirMessages) {
    TempDir dir;
    struct Case {
        std::string name;
        std::string bytes;
        std::string log;  // empty: no message at all
    };
    PackSpec type2 = Sample();
    type2.packType = 2;
    type2.fileNum = 0;  // the type is judged before the count
    PackSpec none = Sample();
    none.fileNum = 0;
    PackSpec hundred = Sample();
    hundred.fileNum = 100;
    PackSpec hugeData = Sample();
    hugeData.dataLen = 0xFFFFFFF0;
    PackSpec lessData = Sample();
    lessData.dataLen = 966;
    const std::string good = BuildPack(Sample());
    const std::vector<Case> cases = {
        {"short header", good.substr(0, 10), "CheckFileMD5 fread filed read 10,need 64!!!\n"},
        {"pack type 2", BuildPack(type2), "CheckFileMD5 PackType Error!!! recv Type 2\n"},
        {"no files", BuildPack(none), "CheckFileMD5 tPackHead.uifileNum = 0\n"},
        {"100 files", BuildPack(hundred), "CheckFileMD5 tPackHead.uifileNum = 100\n"},
        {"short table", good.substr(0, 64 + 500),
         "CheckFileMD5 fread filed read 500,need 800!!!\n"},
        {"short data", good.substr(0, 64 + 800 + 10),
         "CheckFileMD5 fread  failed ! read len 10,need len 967\n"},
        {"claims 4 GiB of data", BuildPack(hugeData),
         "CheckFileMD5 file sizes add up to 967, uiDataLen = 4294967280\n"},
        {"claims a byte less than the table", BuildPack(lessData),
         "CheckFileMD5 file sizes add up to 967, uiDataLen = 966\n"},
        {"no digest", good.substr(0, good.size() - 16), ""},
        {"wrong digest", good.substr(0, good.size() - 1) + "x", ""},
    };
    for (const Case& c : cases) {
        LogRecorder log;
        WriteFile(dir / "p", c.bytes);
        EXPECT_FALSE(Verifies(dir / "p")) << c.name;
        if (c.log.empty()) {
            EXPECT_EQ(log.All(), "") << c.name;
        } else {
            EXPECT_EQ(log.All(), c.log) << c.name;
        }
    }
    LogRecorder log;
    EXPECT_FALSE(Verifies(dir / "missing"));
    EXPECT_FALSE(Verifies(dir.path().string()));
    tPackHead head{};
    EXPECT_FALSE(CheckFileMD5(nullptr, &head));
    EXPECT_FALSE(CheckFileMD5((dir / "p").c_str(), nullptr));
    EXPECT_EQ(log.All(), "CheckFileMD5 invaild param\nCheckFileMD5 invaild param\n");
}

struct UpdateFileCase {
    int type;
    const char* name;
    const char* path;
    int rc;
    const char* log;
};

class CheckUpdateFileTest : public ::testing::TestWithParam<UpdateFileCase> {};

TEST_P(CheckUpdateFileTest, AppliesTheRuleOfItsTypeCode) {
    const UpdateFileCase& c = GetParam();
    LogRecorder log;
    EXPECT_EQ(CheckUpdateFile(static_cast<std::uint8_t>(c.type), c.name, c.path), c.rc);
    EXPECT_EQ(log.All(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckUpdateFileTest,
    ::testing::Values(
        UpdateFileCase{1, "a.jffs2", "", 0, ""}, UpdateFileCase{1, "x.yaffs2.old", "", 0, ""},
        UpdateFileCase{1, "a.JFFS2", "", -1,
                       "CheckUpdateFile check update file type:a.JFFS2 mismatch with dev type: "
                       ".jffs2 or .yaffs2\n"},
        UpdateFileCase{2, "my_uImage_2", "", 0, ""},
        UpdateFileCase{2, "uimage", "", -1, "CheckUpdateFile invalid kernel:uimage\n"},
        UpdateFileCase{3, "x.cramfs.1", "", 0, ""},
        UpdateFileCase{3, "x.squashfs", "", -1, "CheckUpdateFile invalid filesystem:x.squashfs\n"},
        UpdateFileCase{4, "", "", 0, ""}, UpdateFileCase{5, "any", "p", 0, ""},
        UpdateFileCase{5, "any", "", -1, "CheckUpdateFile invalid FilePath is NULL\n"},
        UpdateFileCase{6, "a.bin.jffs2", "", 0, ""},
        UpdateFileCase{6, "a.jffs2", "", -1, "CheckUpdateFile invalid filesystem:a.jffs2\n"},
        UpdateFileCase{0, "a", "", -1, "CheckUpdateFile Unkown file Type 0\n"},
        UpdateFileCase{7, "a", "", -1, "CheckUpdateFile Unkown file Type 7\n"},
        UpdateFileCase{255, "a", "", -1, "CheckUpdateFile Unkown file Type 255\n"},
        UpdateFileCase{4, nullptr, "", -1, ""}, UpdateFileCase{4, "a", nullptr, -1, ""}));

class DecUpdatePackTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directory(dir.path() / "out"); }
    std::string Out() const { return dir / "out"; }
    int Unpack(const PackSpec& layout) {
        WriteFile(dir / "p", BuildPack(layout));
        return DecUpdatePack((dir / "p").c_str(), Out().c_str());
    }
    TempDir dir;
};

TEST_F(DecUpdatePackTest, WritesEveryFileAndLogsEach) {
    LogRecorder log;
    const PackSpec layout = Sample();
    WriteFile(dir / "out/notes", "old content is overwritten");
    ASSERT_EQ(Unpack(layout), 0);
    for (const Entry& e : layout.entries) {
        EXPECT_EQ(ReadFile(dir / ("out/" + e.name)), e.data) << e.name;
    }
    EXPECT_TRUE(log.Has("DecUpdatePack DecUpdatePack name:uImage,file size 250\n")) << log.All();
    EXPECT_EQ(log.Lines().size(), 4u);
}

TEST_F(DecUpdatePackTest, CorruptPackWritesNothing) {
    std::string pack = BuildPack(Sample());
    for (std::size_t at : {std::size_t{0}, std::size_t{50}, std::size_t{64 + 8},
                           std::size_t{64 + 800 + 5}, pack.size() - 1}) {
        std::string bad = pack;
        bad[at] = static_cast<char>(bad[at] ^ 0x80);
        WriteFile(dir / "p", bad);
        EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), Out().c_str()), 2) << at;
        EXPECT_TRUE(DirNames(Out()).empty()) << at;
    }
    EXPECT_EQ(DecUpdatePack((dir / "missing").c_str(), Out().c_str()), 2);
    LogRecorder log;
    EXPECT_EQ(DecUpdatePack(nullptr, Out().c_str()), 1);
    EXPECT_EQ(log.All(), "DecUpdatePack DecUpdatePack invaild param\n");
    WriteFile(dir / "p", pack);
    EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), ""), 1);
}

// Entries before the refused one stay written; nothing lands outside the
// output directory.
TEST_F(DecUpdatePackTest, HostileOrUnknownEntriesStopWithResult4) {
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"", 4, "DecUpdatePack DecUpdatePack refused file name:\"\"\n"},
        {".", 4, "DecUpdatePack DecUpdatePack refused file name:\".\"\n"},
        {"..", 4, "DecUpdatePack DecUpdatePack refused file name:\"..\"\n"},
        {"../escaped", 4, "DecUpdatePack DecUpdatePack refused file name:\"../escaped\"\n"},
        {"/tmp/absolute", 4, "DecUpdatePack DecUpdatePack refused file name:\"/tmp/absolute\"\n"},
        {"sub/file", 4, "DecUpdatePack DecUpdatePack refused file name:\"sub/file\"\n"},
        {"code0", 0, "DecUpdatePack CheckUpdateFile failed name:code0,type 0,path \n"},
        {"code7", 7, "DecUpdatePack CheckUpdateFile failed name:code7,type 7,path \n"},
        // a re-typed application image needs ".bin" in its name
        {"app.jffs2", 6, "DecUpdatePack CheckUpdateFile failed name:app.jffs2,type 6,path \n"},
    };
    for (const auto& [name, type, line] : cases) {
        fs::remove_all(Out());
        fs::create_directory(Out());
        PackSpec layout;
        layout.entries = {{"first", 4, "1", ""},
                          {name, static_cast<std::uint8_t>(type), "evil", ""},
                          {"after", 4, "3", ""}};
        LogRecorder log;
        EXPECT_EQ(Unpack(layout), 4) << name;
        EXPECT_TRUE(log.Has(line)) << log.All();
        EXPECT_EQ(DirNames(Out()), std::vector<std::string>{"first"}) << name;
        EXPECT_EQ(DirNames(dir.path()), (std::vector<std::string>{"out", "p"})) << name;
        EXPECT_FALSE(fs::exists("/tmp/absolute"));
    }
}

TEST_F(DecUpdatePackTest, PathTypeEntryNeedsAPath) {
    PackSpec layout;
    layout.entries = {{"cfg", 5, "x", "/etc/cam"}};
    EXPECT_EQ(Unpack(layout), 0);
    layout.entries = {{"cfg", 5, "x", ""}};
    EXPECT_EQ(Unpack(layout), 4);
}

TEST_F(DecUpdatePackTest, OutputProblemsGiveResult5) {
    PackSpec layout;
    layout.entries = {{std::string(128, 'n'), 4, "data", ""}};
    WriteFile(dir / "p", BuildPack(layout));
    // A directory name that puts the joined path just past the limit.
    const std::string base = Out();
    std::string deep = base + "/" + std::string(254 - 128 - 1 - base.size() - 1, 'd');
    fs::create_directory(deep);
    EXPECT_EQ((deep + "/" + std::string(128, 'n')).size(), 254u);
    EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), deep.c_str()), 0);
    deep += "x";
    fs::create_directory(deep);
    EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), deep.c_str()), 5);
    EXPECT_TRUE(DirNames(deep).empty());
    EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), (dir / "missing").c_str()), 5);
}

TEST_F(DecUpdatePackTest, DoesNotFollowALinkPlantedInTheOutputDirectory) {
    WriteFile(dir / "victim", "keep me");
    fs::create_symlink(dir.path() / "victim", dir.path() / "out" / "uImage");
    PackSpec layout;
    layout.entries = {{"uImage", 2, "kernel", ""}};
    EXPECT_EQ(Unpack(layout), 5);
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me");
}

TEST_F(DecUpdatePackTest, AnEntryNamedLikeThePackDoesNotDestroyIt) {
    PackSpec layout;
    layout.entries = {{"p", 4, "inner", ""}};
    const std::string pack = BuildPack(layout);
    WriteFile(dir / "out/p", pack);
    LogRecorder log;
    EXPECT_EQ(DecUpdatePack((dir / "out/p").c_str(), Out().c_str()), 5);
    EXPECT_EQ(ReadFile(dir / "out/p"), pack);
}

TEST_F(DecUpdatePackTest, ReadOnlyPackIsUnpacked) {
    WriteFile(dir / "p", BuildPack(Sample()));
    ASSERT_EQ(::chmod((dir / "p").c_str(), 0444), 0);
    EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), Out().c_str()), 0);
}

class BinUpdateAppFileTypeTest : public ::testing::TestWithParam<int> {};

// The copy equals the source but for the re-typed codes and the digest.
TEST_P(BinUpdateAppFileTypeTest, RetypesApplicationEntriesAndRedigests) {
    TempDir dir;
    PackSpec layout;
    switch (GetParam()) {
        case 0:
            layout = Sample();
            break;
        case 1:  // no application entry
            layout.entries = {{"uImage", 2, Bytes(99, 5), ""}, {"x", 4, Bytes(1, 6), ""}};
            break;
        case 2:  // no data at all
            layout.entries = {{"a.jffs2", 1, "", ""}, {"b", 4, "", ""}};
            break;
        default:  // two code-1 entries from another writer
            layout.entries = {{"a.jffs2", 1, "A", ""}, {"b.yaffs2", 1, "B", ""}};
            break;
    }
    const std::string src = BuildPack(layout);
    WriteFile(dir / "src", src);
    LogRecorder log;
    ASSERT_EQ(BinUpdateAppFileType((dir / "src").c_str(), dir.path().c_str(), "out.bin"), 0);
    std::string expectBody = BuildBody(layout);
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
        if (layout.entries[i].type == 1) {
            expectBody[64 + 200 * i + 4] = 6;
        }
    }
    EXPECT_EQ(ReadFile(dir / "out.bin"), expectBody + Md5Of(expectBody));
    EXPECT_TRUE(Verifies(dir / "out.bin"));
    EXPECT_EQ(log.All(), "");
}

INSTANTIATE_TEST_SUITE_P(Packs, BinUpdateAppFileTypeTest, ::testing::Values(0, 1, 2, 3));

TEST(BinUpdateAppFileType, Failures) {
    TempDir dir;
    const std::string src = BuildPack(Sample());
    WriteFile(dir / "src", src);
    LogRecorder log;
    EXPECT_EQ(BinUpdateAppFileType(nullptr, dir.path().c_str(), "o"), 1);
    EXPECT_EQ(log.All(), "BinUpdateAppFileType DecUpdatePack invaild param\n");
    EXPECT_EQ(BinUpdateAppFileType((dir / "src").c_str(), "", "o"), 1);
    std::string bad = src;
    bad[70] ^= 1;
    WriteFile(dir / "bad", bad);
    EXPECT_EQ(BinUpdateAppFileType((dir / "bad").c_str(), dir.path().c_str(), "o"), 2);
    EXPECT_FALSE(fs::exists(dir / "o"));
    EXPECT_EQ(BinUpdateAppFileType((dir / "src").c_str(), (dir / "missing").c_str(), "o"), 5);
    EXPECT_EQ(BinUpdateAppFileType((dir / "src").c_str(), dir.path().c_str(),
                                   std::string(300, 'o').c_str()),
              5);
    // Writing over the source would lose it.
    EXPECT_EQ(BinUpdateAppFileType((dir / "src").c_str(), dir.path().c_str(), "src"), 5);
    EXPECT_EQ(ReadFile(dir / "src"), src);
}

// A re-typed image without ".bin" in its name can no longer be unpacked.
TEST(BinUpdateAppFileType, RetypedJffs2WithoutBinIsRefusedByDecUpdatePack) {
    TempDir dir;
    WriteFile(dir / "src", BuildPack(Sample()));
    ASSERT_EQ(BinUpdateAppFileType((dir / "src").c_str(), dir.path().c_str(), "r"), 0);
    fs::create_directory(dir.path() / "out");
    EXPECT_EQ(DecUpdatePack((dir / "r").c_str(), (dir / "out").c_str()), 4);
}

// A digest only proves the bytes were not changed; a writer may still have
// put a table in that disagrees with its data. Such a pack fails the check,
// so nothing of it is written: not the digest into the last file, nor files
// shifted against their names.
TEST_F(DecUpdatePackTest, TableThatDisagreesWithItsDataIsRefusedBeforeWriting) {
    const std::vector<std::tuple<const char*, std::uint32_t, std::string>> cases = {
        {"claims almost 4 GiB", 0xFFFFFF00u,
         "CheckFileMD5 file sizes add up to 4294967044, uiDataLen = 6\n"},
        {"claims one byte more", 3, "CheckFileMD5 file sizes add up to 7, uiDataLen = 6\n"},
        {"claims one byte less", 1, "CheckFileMD5 file sizes add up to 5, uiDataLen = 6\n"},
    };
    for (const auto& [what, sizeOfB, line] : cases) {
        PackSpec layout;
        layout.entries = {{"a", 4, "aaaa", ""}, {"b", 4, "bb", ""}};
        std::string body = BuildBody(layout);
        Put32(body, 64 + 200, sizeOfB);
        WriteFile(dir / "p", body + Md5Of(body) + "tail");
        LogRecorder log;
        EXPECT_EQ(DecUpdatePack((dir / "p").c_str(), Out().c_str()), 2) << what;
        EXPECT_EQ(log.All(), line) << what;
        EXPECT_TRUE(DirNames(Out()).empty()) << what;
        EXPECT_EQ(BinUpdateAppFileType((dir / "p").c_str(), Out().c_str(), "r.bin"), 2) << what;
    }
}

// The second entry of a name would replace the first without a word.
TEST_F(DecUpdatePackTest, SecondEntryOfANameIsRefusedWithResult4) {
    PackSpec layout;
    layout.entries = {{"uImage", 2, "first", ""},
                      {"x", 4, "x", ""},
                      {"uImage", 2, "second", ""},
                      {"after", 4, "a", ""}};
    LogRecorder log;
    EXPECT_EQ(Unpack(layout), 4);
    EXPECT_TRUE(log.Has("DecUpdatePack DecUpdatePack duplicate file name:\"uImage\"\n"))
        << log.All();
    EXPECT_EQ(DirNames(Out()), (std::vector<std::string>{"uImage", "x"}));
    EXPECT_EQ(ReadFile(dir / "out/uImage"), "first");
}

// Outputs are written under a temporary name and renamed into place: a hard
// link planted under an output's name keeps the foreign file's content, and
// nothing temporary stays behind.
TEST_F(DecUpdatePackTest, PlantedHardLinksAreReplacedNotWrittenThrough) {
    WriteFile(dir / "foreign", "foreign content");
    ASSERT_EQ(::link((dir / "foreign").c_str(), (dir / "out/uImage").c_str()), 0);
    ASSERT_EQ(::link((dir / "foreign").c_str(), (dir / "out/r.bin").c_str()), 0);
    PackSpec layout;
    layout.entries = {{"uImage", 2, "kernel", ""}, {"a.jffs2", 1, "app", ""}};
    EXPECT_EQ(Unpack(layout), 0);
    EXPECT_EQ(ReadFile(dir / "out/uImage"), "kernel");
    EXPECT_EQ(BinUpdateAppFileType((dir / "p").c_str(), Out().c_str(), "r.bin"), 0);
    EXPECT_TRUE(Verifies(dir / "out/r.bin"));
    EXPECT_EQ(ReadFile(dir / "foreign"), "foreign content");
    EXPECT_EQ(DirNames(Out()), (std::vector<std::string>{"a.jffs2", "r.bin", "uImage"}));
}

// An old output of ours (one link, our own) is reused for speed: whatever
// its length, it ends with exactly the new bytes.
TEST_F(DecUpdatePackTest, OldOutputsAreReplacedWhateverTheirLength) {
    WriteFile(dir / "out/uImage", std::string(5000, 'o'));
    WriteFile(dir / "out/r.bin", "short");
    PackSpec layout;
    layout.entries = {{"uImage", 2, "kernel", ""}, {"a.jffs2", 1, Bytes(3000, 7), ""}};
    EXPECT_EQ(Unpack(layout), 0);
    EXPECT_EQ(ReadFile(dir / "out/uImage"), "kernel");
    EXPECT_EQ(BinUpdateAppFileType((dir / "p").c_str(), Out().c_str(), "r.bin"), 0);
    EXPECT_TRUE(Verifies(dir / "out/r.bin"));
    EXPECT_EQ(DirNames(Out()), (std::vector<std::string>{"a.jffs2", "r.bin", "uImage"}));
}

// A failed write leaves neither a torn file under the entry's name nor a
// temporary one.
TEST_F(DecUpdatePackTest, OutputThatCannotBeReplacedLeavesNoTemporaryFile) {
    fs::create_directory(dir.path() / "out" / "uImage");  // a folder of the entry's name
    PackSpec layout;
    layout.entries = {{"x", 4, "x", ""}, {"uImage", 2, "kernel", ""}};
    EXPECT_EQ(Unpack(layout), 5);
    EXPECT_EQ(DirNames(Out()), (std::vector<std::string>{"uImage", "x"}));
    EXPECT_TRUE(fs::is_directory(dir.path() / "out" / "uImage"));
    EXPECT_EQ(BinUpdateAppFileType((dir / "p").c_str(), Out().c_str(), "uImage"), 5);
    EXPECT_EQ(DirNames(Out()), (std::vector<std::string>{"uImage", "x"}));
}

// Hostile tables with a correct digest: every reader must end cleanly, inside
// its output directory, whatever the fields say.
TEST(PackReaders, SurviveRandomTablesWithValidDigests) {
    TempDir dir;
    const std::string base = BuildBody(Sample());
    std::uint32_t x = 12345;
    auto next = [&x]() {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (int round = 0; round < 300; ++round) {
        std::string body = base;
        const int flips = 1 + static_cast<int>(next() % 8);
        for (int f = 0; f < flips; ++f) {
            // mostly the header and table, where the lengths and names are
            const std::size_t at = next() % 864;
            body[at] = static_cast<char>(next() & 0xFFu);
        }
        if (round % 3 == 0) {
            body[6] = static_cast<char>(round % 2);  // keep the pack type acceptable
        }
        WriteFile(dir / "p", body + Md5Of(body));
        const fs::path out = dir.path() / "out";
        fs::remove_all(out);
        fs::create_directory(out);
        const int rc = DecUpdatePack((dir / "p").c_str(), out.c_str());
        EXPECT_GE(rc, 0);
        EXPECT_LE(rc, 6);
        const int rt = BinUpdateAppFileType((dir / "p").c_str(), out.c_str(), "r.bin");
        EXPECT_TRUE(rt == 0 || rt == 2 || rt == 5) << rt;
        if (rt == 0) {
            EXPECT_TRUE(Verifies((out / "r.bin").string()));
        }
        EXPECT_EQ(DirNames(dir.path()), (std::vector<std::string>{"out", "p"}));
    }
}
