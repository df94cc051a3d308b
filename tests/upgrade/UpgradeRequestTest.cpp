// The upgrade request on its own: grouping, the single-file routes, and the
// three preparers driven through the pack route with packs built here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpgradeFixture.h"
#include "platform/Paths.h"

using namespace upgradetest;
using upgrade::GroupResult;
using upgrade::SelectedCamera;

namespace {

const std::string kType = "KQM-RVT3305";
std::string Image(const std::string& code, const std::string& tag = "2.3",
                  const std::string& type = kType) {
    return "app_V" + tag + "_YJ" + code + "_" + type + ".jffs2";
}

TEST(VersionKeyTest, KeysAndTheirTwoNumbers) {
    struct Case {
        const char* soft;
        const char* key;
    };
    for (const Case& c : {Case{"2.3.1_180101", "2.3"}, Case{"1.2.3_A", "1.2"}, Case{"2.3_x", "2"},
                          Case{"2.3.1", ""}, Case{"2_1", ""}, Case{"", ""}}) {
        EXPECT_EQ(upgrade::VersionKey(c.soft), c.key) << c.soft;
    }
    struct Parse {
        const char* key;
        bool ok;
        int major, minor;
    };
    for (const Parse& p :
         {Parse{"2.3", true, 2, 3}, Parse{" 2. 3", true, 2, 3}, Parse{"-1.+2", true, -1, 2},
          Parse{"2.3.4", true, 2, 3}, Parse{"2 .3", false, 0, 0}, Parse{"a.1", false, 0, 0},
          Parse{"2", false, 0, 0}, Parse{"2.", false, 0, 0}, Parse{"99999999999.1", false, 0, 0}}) {
        int major = 0;
        int minor = 0;
        ASSERT_EQ(upgrade::ParseVersionKey(p.key, major, minor), p.ok) << p.key;
        if (p.ok) {
            EXPECT_EQ(major, p.major) << p.key;
            EXPECT_EQ(minor, p.minor) << p.key;
        }
    }
}

class RequestTest : public UpgradeFixture {};

TEST_F(RequestTest, TheFirstCameraThatDiffersDecides) {
    struct Case {
        std::vector<SelectedCamera> cams;
        GroupResult result;
        std::vector<std::string> hw;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{{"T", "1.2.3_A", "h1"}, {"T", "1.2.9_B", "h2"}, {"T", "1.2.0_C", "h1"}},
         GroupResult::Ok,
         {"h1", "h2"},
         nullptr},
        {{{"T", "1.2.3_A", "h1"}, {"T", "1.3.0_A", "h1"}},
         GroupResult::MixedVersions,
         {"h1"},
         "不能同时选择2种不同版本的相机进行升级！"},
        {{{"T", "1.2.3_A", "h1"}, {"U", "1.3.0_A", "h1"}},
         GroupResult::MixedTypes,
         {"h1"},
         "不能同时选择2种不同类型的相机进行升级！"},
        {{{"T", "1.2.3_A", "h1"}, {"T", "1.3.0_A", "h1"}, {"U", "1.2.3_A", "h1"}},
         GroupResult::MixedVersions,
         {"h1"},
         "不能同时选择2种不同版本的相机进行升级！"},
        // A camera without a type never restarts the group for the next one.
        {{{"", "1.2.3_A", "h1"}, {"T", "1.2.3_A", "h1"}},
         GroupResult::MixedTypes,
         {"h1"},
         "不能同时选择2种不同类型的相机进行升级！"},
        {{{"", "1.2.3_A", "h1"}, {"", "1.2.3_A", "h1"}}, GroupResult::Ok, {"h1"}, nullptr},
        {{}, GroupResult::NoneTicked, {}, "你没有选择相机"},
        // Cameras already on the file's version join the group of those behind.
        {{{"T", "1.3.0_A", "h1", true}, {"T", "1.2.3_A", "h2"}, {"T", "1.3.0_A", "h3", true}},
         GroupResult::Ok,
         {"h1", "h2", "h3"},
         nullptr},
        {{{"T", "1.3.0_A", "h1", true}, {"T", "1.2.3_A", "h1"}, {"T", "1.1.0_A", "h1"}},
         GroupResult::MixedVersions,
         {"h1"},
         "不能同时选择2种不同版本的相机进行升级！"},
        {{{"T", "1.3.0_A", "h1"}, {"U", "1.3.0_A", "h1", true}},
         GroupResult::MixedTypes,
         {"h1"},
         "不能同时选择2种不同类型的相机进行升级！"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        messages_.clear();
        EXPECT_EQ(req_->Group(cases[i].cams), cases[i].result) << i;
        EXPECT_EQ(req_->HwVersions(), cases[i].hw) << i;
        EXPECT_EQ(messages_, cases[i].message ? std::vector<std::string>{cases[i].message}
                                              : std::vector<std::string>{})
            << i;
    }
    // A pack is matched by the version of the cameras still behind.
    req_->Group(cases[7].cams);
    EXPECT_EQ(req_->VersionKeyText(), "1.2");
}

TEST_F(RequestTest, SingleFilesAreCheckedByNameAndServeEveryHardwareVersion) {
    struct Case {
        std::string name;
        std::string type;
        bool force;
        const char* message;  // null: accepted
        unsigned upgradeType;
    };
    const std::vector<Case> cases = {
        {"app_" + kType + ".jffs2", kType, false, nullptr, 0},
        {"app_" + kType + ".jffs2", "OTHER", true, nullptr, 1},
        {"uImage-3.4", kType, false, nullptr, 2},
        {"root.cramfs", kType, false, nullptr, 3},
        {"fw.tgz", kType, false, nullptr, 0},  // never the type of the request before
        {"app_OTHER.jffs2", kType, false, "设备类型不匹配", 0},
        {"app_OTHER.jffs2", "", false, "未知相机类型，无法升级", 0},
        {kType + "_app.jffs2", kType, false, "升级文件名称不匹配", 0},
        {"notes.txt", kType, false, "未知升级文件类型", 0xFFFF},
        {"FW.TGZ", kType, false, "升级文件格式已损坏!", 0},  // the pack route
    };
    const std::string kernel = tmp_ / "uImage";
    packtest::WriteFile(kernel, "kernel bytes");
    for (const Case& c : cases) {
        const std::string path = tmp_ / c.name;
        packtest::WriteFile(path, "image bytes");
        // A kernel request first: its type must not stay for the next one.
        Tick({"103"});
        ASSERT_TRUE(req_->PrepareUpgradeFile(kernel, false));
        ASSERT_EQ(req_->UpgradeInfo().UpgradeType, 2u);
        messages_.clear();
        Tick({"103", "101", "102"}, c.type);
        const bool ok = req_->PrepareUpgradeFile(path, c.force);
        EXPECT_EQ(ok, c.message == nullptr) << c.name;
        EXPECT_EQ(req_->UpgradeInfo().UpgradeType, c.upgradeType) << c.name;
        if (ok) {
            EXPECT_EQ(req_->UpgradeFiles(), std::vector<std::string>{path});
            EXPECT_EQ(req_->FileIndex(), (std::vector<int>{0, 0, 0}));
            EXPECT_EQ(std::string(req_->UpgradeInfo().szFilePath), path);
        } else {
            EXPECT_EQ(messages_, std::vector<std::string>{c.message}) << c.name;
        }
    }
    EXPECT_EQ(Workspaces(), 0u);
}

TEST_F(RequestTest, PathsThatDoNotFitATaskAndMissingFilesAreRefused) {
    Tick({"101"});
    struct Case {
        std::string path;
        const char* message;
    };
    const std::string longName = std::string(260, 'a') + "_" + kType + ".jffs2";
    for (const Case& c : {Case{"", "请选择升级文件"}, Case{"/" + longName, "升级文件路径过长"},
                          Case{tmp_ / ("gone_" + kType + ".jffs2"), "升级文件无法打开"},
                          Case{tmp_.path().string() + "/", "未知升级文件类型"}}) {
        messages_.clear();
        EXPECT_FALSE(req_->PrepareUpgradeFile(c.path, false));
        EXPECT_EQ(messages_, std::vector<std::string>{c.message});
    }
}

// ---- single update packs ----

TEST_F(RequestTest, ASinglePackIsSentAsItIsOrAsItsForcedCopy) {
    const std::string pack =
        WritePack("single.bin", {Kernel(), RootFs(), App("app_" + kType + ".jffs2")});
    Tick({"102", "101"});
    ASSERT_TRUE(req_->PrepareUpgradeFile(pack, false));
    EXPECT_EQ(req_->UpgradeFiles(), std::vector<std::string>{pack});
    EXPECT_EQ(req_->FileIndex(), (std::vector<int>{0, 0}));
    EXPECT_TRUE(Logged("bin file[1]:app_" + kType + ".jffs2\n"));  // listed by name

    Tick({"102", "101"}, "OTHER");
    ASSERT_TRUE(req_->PrepareUpgradeFile(pack, true));
    const std::string copy = platform::JoinPath(req_->WorkDir(), ".send", "Pack.bin");
    EXPECT_EQ(req_->UpgradeFiles(), std::vector<std::string>{copy});
    tPackHead head{};
    auto table = CheckFileMD5(copy.c_str(), &head);
    ASSERT_TRUE(table);
    EXPECT_EQ(table[head.uifileNum - 1].ucFileType, PACK_FILE_BIN);
    EXPECT_EQ(req_->UpgradeInfo().UpgradeType, 0u);
}

TEST_F(RequestTest, SinglePackModelRulesAndTheWorkspaceOfARefusal) {
    struct Case {
        std::string camera;
        std::string app;
        bool ok;
    };
    for (const Case& c :
         {Case{"KQM-RVT3305", "x_KQM-RVT7705.jffs2", true},
          Case{"KQM-RVT7705", "x_KQM-RVT3305.jffs2", true},
          Case{"LWZ484-MOE", "x_LWZ484-SOE.jffs2", true},
          Case{"LWZ484-SOE", "x_LWZ484-MOE.jffs2", false}, Case{"qzt12a", "x_QZTn2a.jffs2", true},
          Case{"kqm-rvt3305", "x_KQM-RVT3305.jffs2", false}}) {
        // y_Z.jffs2 is no application entry (type 4): the camera never flashes it.
        const std::string pack = WritePack(
            "p.bin",
            {Kernel(), App(c.app), {"y_Z.jffs2", PACK_FILE_OTHER, packtest::Bytes(30, 3), ""}});
        messages_.clear();
        log_.clear();
        Tick({"101"}, c.camera);
        EXPECT_EQ(req_->PrepareUpgradeFile(pack, false), c.ok) << c.camera << " " << c.app;
        if (!c.ok) {
            EXPECT_EQ(messages_, std::vector<std::string>{"设备类型不匹配"});
        }
        EXPECT_FALSE(Logged("bin file[3]:y_Z.jffs2\n"));  // only the first image is looked at
        EXPECT_EQ(Workspaces(), c.ok ? 1u : 0u);
        req_->DiscardWorkspace();
    }
}

TEST_F(RequestTest, TheSizeLimitOfASinglePackIsInclusive) {
    const std::size_t limit = UPGRADE_FILE_SIZE_LIMIT;
    for (std::size_t size : {limit, limit + 1}) {
        const std::string pack =
            WritePack("big.bin", {{"uImage", PACK_FILE_KERNEL,
                                   std::string(size - 64 - 200 - PACK_DIGEST_LEN, 'k'), ""}});
        ASSERT_EQ(fs::file_size(pack), size);
        messages_.clear();
        Tick({"101"});
        EXPECT_EQ(req_->PrepareUpgradeFile(pack, false), size == limit);
        if (size != limit) {
            EXPECT_EQ(messages_, std::vector<std::string>{"升级文件大小不能大于35M"});
        }
        req_->DiscardWorkspace();
        EXPECT_EQ(Workspaces(), 0u);
    }
}

// ---- multi-application packs: composed, or forced ----

// Three hardware versions ticked out of the order of the images in the pack.
class MultiTest : public UpgradeFixture {
  protected:
    std::string ThreeImagePack(std::vector<Entry> extra = {}) {
        std::vector<Entry> e = {App(Image("101"), 1), Kernel(), App(Image("102"), 2), RootFs(),
                                App(Image("103"), 3)};
        e.insert(e.end(), extra.begin(), extra.end());
        return WritePack("multi.bin", e, PACK_MAGIC_MULTI);
    }
    const std::vector<std::string> hw_ = {"103x", "101x", "102x"};
};

TEST_F(MultiTest, EachHardwareVersionGetsThePackComposedForIt) {
    Tick(hw_);
    ASSERT_TRUE(req_->PrepareUpgradeFile(ThreeImagePack(), false)) << messages_[0];
    ASSERT_EQ(req_->UpgradeFiles().size(), 3u);
    for (const std::string& h : hw_) {
        const std::string* file = req_->FileFor(h);
        ASSERT_NE(file, nullptr);
        const auto names = EntryNames(*file);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"rootfs.cramfs", "uImage", Image(h.substr(0, 3))}))
            << h;
    }
    EXPECT_EQ(req_->FileIndex(), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(req_->UpgradeFiles()[0], platform::JoinPath(req_->WorkDir(), ".send", "Pack0.bin"));
}

TEST_F(MultiTest, ForcedSelectionSendsTheImagesThemselves) {
    Tick(hw_);
    ASSERT_TRUE(req_->PrepareUpgradeFile(ThreeImagePack(), true));
    EXPECT_EQ(req_->UpgradeInfo().UpgradeType, 1u);
    for (const std::string& h : hw_) {
        EXPECT_EQ(*req_->FileFor(h), platform::JoinPath(req_->WorkDir(), Image(h.substr(0, 3))));
    }
}

TEST_F(MultiTest, RefusalsSayWhyAndLeaveNoWorkspace) {
    struct Case {
        std::vector<Entry> entries;
        bool force;
        std::string soft;
        const char* message;
        const char* logLine;
    };
    const char* tooFew = "此bin包包含的业务软件与硬件版本数量不匹配，不支持升级！";
    const char* tooFewLog = "解析BIN文件发现业务软件数量和勾选的设备数量不等，不支持升级！\n";
    const std::vector<Case> cases = {
        // Two images for 101 do not make up for the missing one of 102.
        {{App(Image("101")), App("b" + Image("101")), App(Image("103"))},
         false,
         "2.3.1_x",
         tooFew,
         tooFewLog},
        {{App(Image("101")), App("b" + Image("101")), App(Image("103"))},
         true,
         "2.3.1_x",
         tooFew,
         tooFewLog},
        // One image whose code fits every version is bound to the first only.
        {{App(Image("10#"))}, true, "2.3.1_x", tooFew, tooFewLog},
        {{Kernel(), RootFs()}, false, "2.3.1_x", "解析BIN文件未成功", "解析BIN文件未成功\n"},
        {{Kernel(), RootFs()}, true, "2.3.1_x", "解析BIN文件未成功", "解析BIN文件未成功\n"},
        {{App(Image("201"))}, true, "2.3.1_x", "升级文件硬件版本不匹配", nullptr},
        {{App(Image("101", "2.3", "OTHER"))}, false, "2.3.1_x", "设备类型不匹配", nullptr},
        {{App(Image("101", "2.4"))}, false, "2.3.1_x", "软件版本号不匹配", nullptr},
        {{App(Image("101"))}, false, "a.3.1_x", "读取相机版本号未成功", nullptr},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string pack = WritePack("m.bin", cases[i].entries, PACK_MAGIC_MULTI);
        Tick(hw_, kType, cases[i].soft);
        messages_.clear();
        log_.clear();
        EXPECT_FALSE(req_->PrepareUpgradeFile(pack, cases[i].force)) << i;
        EXPECT_EQ(messages_, std::vector<std::string>{cases[i].message}) << i;
        if (cases[i].logLine != nullptr) {
            EXPECT_TRUE(Logged(cases[i].logLine)) << i;
        }
        EXPECT_EQ(Workspaces(), 0u) << i;
    }
}

TEST_F(MultiTest, VersionKeyZeroTakesTheThreeAndSixTags) {
    const std::string pack = WritePack(
        "m.bin",
        {App(Image("101", "2.3")), App(Image("102", "2.5"), 3), App(Image("102", "2.6"), 2)},
        PACK_MAGIC_MULTI);
    Tick({"101", "102"}, kType, "2.0.9_x");
    ASSERT_TRUE(req_->PrepareUpgradeFile(pack, false));
    EXPECT_EQ(req_->UpgradeFiles().size(), 2u);
    EXPECT_EQ(EntryNames(*req_->FileFor("102")).back(), Image("102", "2.6"));
    EXPECT_EQ(req_->FileIndex(), (std::vector<int>{0, 1}));
}

TEST_F(MultiTest, AComposedPackOverTheLimitIsRefusedWithItsSize) {
    const std::size_t big = UPGRADE_FILE_SIZE_LIMIT - 300;
    const std::string pack = WritePack(
        "m.bin", {{"uImage", PACK_FILE_KERNEL, std::string(big, 'k'), ""}, App(Image("101"))},
        PACK_MAGIC_MULTI);
    Tick({"101"});
    EXPECT_FALSE(req_->PrepareUpgradeFile(pack, false));
    EXPECT_EQ(messages_, std::vector<std::string>{"BIN文件大小不符合"});
    EXPECT_TRUE(Logged("BIN文件大小不符合\n"));
}

// ---- bundles ----

TEST_F(MultiTest, ABundleServesEachVersionFromItsInnerPack) {
    const std::string a = WritePack("pack_YJ101_.bin", {Kernel(), App(Image("101"), 1)});
    const std::string c = WritePack("pack_YJ103_.bin", {Kernel(), App(Image("103"), 3)});
    const std::string multi =
        WritePack("pack_YJ102_.bin", {RootFs(), App(Image("102"), 2)}, PACK_MAGIC_MULTI);
    const auto file = [](const std::string& p) {
        return Entry{fs::path(p).filename().string(), PACK_FILE_OTHER, packtest::ReadFile(p), ""};
    };
    const std::string bundle =
        WritePack("bundle.bin", {file(a), file(multi), file(c)}, PACK_MAGIC_BUNDLE);

    // The inner multi-application pack cannot serve 103x, so 102x is left
    // without a file although 103x gets one later.
    Tick(hw_);
    EXPECT_FALSE(req_->PrepareUpgradeFile(bundle, false));
    EXPECT_EQ(messages_,
              std::vector<std::string>{"此bin包包含的业务软件与硬件版本数量不匹配，不支持升级！"});

    Tick({"103x", "101x"});
    messages_.clear();
    const std::string two =
        WritePack("bundle2.bin", {file(a), file(c), file(multi)}, PACK_MAGIC_BUNDLE);
    ASSERT_TRUE(req_->PrepareUpgradeFile(two, false)) << messages_[0];
    EXPECT_EQ(*req_->FileFor("101x"), platform::JoinPath(req_->WorkDir(), "pack_YJ101_.bin"));
    EXPECT_EQ(*req_->FileFor("103x"), platform::JoinPath(req_->WorkDir(), "pack_YJ103_.bin"));
    EXPECT_EQ(req_->FileIndex(), (std::vector<int>{1, 0}));
    req_->DiscardWorkspace();

    Tick({"103x", "101x"});
    ASSERT_TRUE(req_->PrepareUpgradeFile(two, true));
    EXPECT_EQ(*req_->FileFor("103x"), platform::JoinPath(req_->WorkDir(), ".send", "Pack1.bin"));
    req_->DiscardWorkspace();

    // The walk ends on an inner pack composed for 102x.
    Tick({"102x"});
    ASSERT_TRUE(req_->PrepareUpgradeFile(two, false));
    EXPECT_EQ(req_->UpgradeFiles(),
              std::vector<std::string>{platform::JoinPath(req_->WorkDir(), ".send", "Pack0.bin")});
    req_->DiscardWorkspace();

    for (const std::string& h : {std::string("102x"), std::string("201x")}) {
        Tick({h});
        messages_.clear();
        EXPECT_FALSE(req_->PrepareUpgradeFile(two, h == "102x"));
        EXPECT_EQ(messages_, std::vector<std::string>{h == "102x" ? "此bin包不支持强制升级！"
                                                                  : "升级文件硬件版本不匹配"});
    }
    req_->DiscardWorkspace();
    EXPECT_EQ(Workspaces(), 0u);
}

}  // namespace
