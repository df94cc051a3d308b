// Packs made to slip firmware past the checks: each row is a pack, the ticked
// cameras, and what each camera may receive (the application entries of the
// file it is given) or the one refusal.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "UpgradeFixture.h"
#include "platform/Paths.h"

using namespace upgradetest;

namespace {

const std::string kType = "KQM-RVT3305";

struct Pack {
    std::uint32_t magic = PACK_MAGIC_SINGLE;
    std::vector<Entry> entries;
};

std::string Build(const Pack& p) {
    packtest::PackSpec layout;
    layout.magic = p.magic;
    layout.entries = p.entries;
    return packtest::BuildPack(layout);
}
Entry Inner(const std::string& name, const Pack& p) {
    return {name, PACK_FILE_OTHER, Build(p), ""};
}
Entry Typed(const std::string& name, std::uint8_t type, std::uint32_t seed = 5) {
    return {name, type, packtest::Bytes(200 + seed, seed), ""};
}

struct Row {
    const char* what;
    Pack pack;
    std::vector<std::string> hw;
    bool force;
    const char* refusal;  // null: accepted
    // Per hardware version, the application entries of the file it gets.
    std::map<std::string, std::vector<std::string>> receives;
};

class HostilePackTest : public UpgradeFixture {
  protected:
    // The application entries (types 1 and 6) of a file the request queued.
    static std::vector<std::string> Apps(const std::string& file) {
        tPackHead head{};
        auto table = CheckFileMD5(file.c_str(), &head);
        std::vector<std::string> names;
        for (unsigned i = 0; table && i < head.uifileNum; ++i) {
            if (table[i].ucFileType == PACK_FILE_APP || table[i].ucFileType == PACK_FILE_BIN) {
                names.push_back(PackEntryName(table[i]));
            }
        }
        return names;
    }
};

TEST_F(HostilePackTest, NoCameraIsGivenAnotherCamerasFirmware) {
    const Entry fits = App("app_" + kType + ".jffs2");
    const Entry other = App("app_QZT200.jffs2", 2);
    const Pack good101{PACK_MAGIC_SINGLE, {Kernel(), App("a_" + kType + "_YJ101_.jffs2", 3)}};
    const Pack good102{PACK_MAGIC_SINGLE, {Kernel(), App("b_" + kType + "_YJ102_.jffs2", 4)}};
    const std::string big(UPGRADE_FILE_SIZE_LIMIT + 1 - 64 - 2 * 200 - PACK_DIGEST_LEN, 'k');
    const std::vector<Row> rows = {
        {"a listed decoy shown before the real image",
         {PACK_MAGIC_SINGLE, {Typed("aaa_" + kType + ".ubifs", PACK_FILE_OTHER), Kernel(), other}},
         {"101"},
         false,
         "设备类型不匹配",
         {}},
        {"the real image hidden by a leading dot",
         {PACK_MAGIC_SINGLE, {Kernel(), App(".app_QZT200.jffs2")}},
         {"101"},
         false,
         "设备类型不匹配",
         {}},
        {"an image re-typed to 6 ahead of time",
         {PACK_MAGIC_SINGLE, {Kernel(), Typed("app_QZT200.bin", PACK_FILE_BIN)}},
         {"101"},
         false,
         "设备类型不匹配",
         {}},
        {"a fitting pack goes to every hardware version",
         {PACK_MAGIC_SINGLE, {Kernel(), fits}},
         {"101", "201"},
         false,
         nullptr,
         {{"101", {fits.name}}, {"201", {fits.name}}}},
        {"a single pack named for one hardware code is not sent to another",
         good101,
         {"101", "102"},
         false,
         "升级文件硬件版本不匹配",
         {}},
        {"forced, the same pack goes as its copy",
         good101,
         {"101", "102"},
         true,
         nullptr,
         {{"101", {good101.entries[1].name}}, {"102", {good101.entries[1].name}}}},
        {"a bundle's inner pack for another type, judged on its own files",
         {PACK_MAGIC_BUNDLE,
          {Inner("p_YJ101_.bin", good101),
           Inner("p_YJ102_.bin", {PACK_MAGIC_SINGLE, {Kernel(), App("zzz_QZT200.jffs2")}})}},
         {"101", "102"},
         false,
         "设备类型不匹配",
         {}},
        {"an inner pack whose image names another hardware code",
         {PACK_MAGIC_BUNDLE, {Inner("p_YJ101_.bin", good102)}},
         {"101"},
         false,
         "升级文件硬件版本不匹配",
         {}},
        {"a later inner pack serves what an earlier one could not",
         {PACK_MAGIC_BUNDLE, {Inner("a_YJ101_.bin", good102), Inner("b_YJ101_.bin", good101)}},
         {"101"},
         false,
         nullptr,
         {{"101", {good101.entries[1].name}}}},
        {"a forced copy never replaces an unpacked inner pack",
         {PACK_MAGIC_BUNDLE,
          {Inner("A_YJ101_.bin", good101),
           Inner("Pack0.bin", {PACK_MAGIC_SINGLE, {Kernel(), App("own_111.jffs2", 6)}})}},
         {"101", "111"},
         true,
         nullptr,
         {{"101", {good101.entries[1].name}}, {"111", {"own_111.jffs2"}}}},
        {"an inner pack over the size limit",
         {PACK_MAGIC_BUNDLE,
          {Inner("p_YJ101_.bin",
                 {PACK_MAGIC_SINGLE, {{"uImage", PACK_FILE_KERNEL, big, ""}, fits}})}},
         {"101"},
         true,
         "升级文件大小不能大于35M",
         {}},
        {"a multi-application pack names its hidden images for nobody",
         {PACK_MAGIC_MULTI,
          {Kernel(), App(".app_V2.3_YJ101_QZT200.jffs2", 8),
           App("app_V2.3_YJ101_" + kType + ".jffs2", 9)}},
         {"101"},
         false,
         nullptr,
         {{"101", {"app_V2.3_YJ101_" + kType + ".jffs2"}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = tmp_ / "hostile.bin";
        packtest::WriteFile(path, Build(row.pack));
        messages_.clear();
        Tick(row.hw);
        const bool ok = req_->PrepareUpgradeFile(path, row.force);
        ASSERT_EQ(ok, row.refusal == nullptr) << (messages_.empty() ? "" : messages_[0]);
        if (!ok) {
            EXPECT_EQ(messages_, std::vector<std::string>{row.refusal});
            EXPECT_EQ(Workspaces(), 0u);
            continue;
        }
        for (const auto& [hw, apps] : row.receives) {
            const std::string* file = req_->FileFor(hw);
            ASSERT_NE(file, nullptr) << hw;
            EXPECT_EQ(Apps(*file), apps) << hw << " gets " << *file;
        }
        req_->DiscardWorkspace();
        EXPECT_EQ(Workspaces(), 0u);
    }
}

// Only images that some ticked camera receives are composed.
TEST_F(HostilePackTest, ManyImagesForOneVersionComposeOnePack) {
    std::vector<Entry> entries = {Kernel(), RootFs()};
    for (int i = 0; i < 12; ++i) {
        entries.push_back(App("app" + std::to_string(10 + i) + "_V2.3_YJ101_" + kType + ".jffs2",
                              static_cast<std::uint32_t>(i + 1)));
    }
    const std::string pack = WritePack("many.bin", entries, PACK_MAGIC_MULTI);
    Tick({"101"});
    ASSERT_TRUE(req_->PrepareUpgradeFile(pack, false));
    EXPECT_EQ(req_->UpgradeFiles(),
              std::vector<std::string>{platform::JoinPath(req_->WorkDir(), ".send", "Pack0.bin")});
    EXPECT_EQ(packtest::DirNames(platform::JoinPath(req_->WorkDir(), ".send")),
              std::vector<std::string>{"Pack0.bin"});
}

// ---- a workspace that cannot take the pack is said as such ----

// Runs `body` in a child with mounts of its own (a small or read-only folder
// at `dir`) and returns what it wrote back; nullopt where mounts cannot be
// made here.
std::optional<std::string> WithOwnMount(const std::string& dir, const char* options,
                                        const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out = "\x01";  // no mounts here
        if (::unshare(CLONE_NEWNS) == 0 &&
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("qvtest", dir.c_str(), "tmpfs", 0, options) == 0) {
            out = body();
        }
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string got;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) {
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (got == "\x01") {
        return std::nullopt;
    }
    return got;
}

TEST_F(HostilePackTest, AWorkspaceThatCannotBeWrittenIsSaidAsSuch) {
    const std::string pack = WritePack("ws.bin", {Kernel(),
                                                  {std::string(120, 'n') + ".txt", PACK_FILE_OTHER,
                                                   packtest::Bytes(600 * 1024, 3), ""}});
    const std::string longTmp = wsRoot_.string() + "/" + std::string(90, 'l');
    const std::string small = wsRoot_.string() + "/small";
    fs::create_directories(longTmp);
    fs::create_directories(small);
    struct Case {
        const char* what;
        std::string tmpdir;
        const char* mount;  // tmpfs options at tmpdir, null: none
        std::string message;
    };
    const std::vector<Case> cases = {
        {"a temporary directory that does not exist", wsRoot_.string() + "/gone", nullptr,
         "临时目录不存在：" + wsRoot_.string() + "/gone"},
        {"a long temporary directory", longTmp, nullptr, "升级文件路径过长"},
        {"a full disk", small, "size=256k", "临时目录已满：" + small},
        {"a read-only disk", small, "ro,size=4m", "临时目录无法写入：" + small},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qvtest::ScopedEnv tmp("TMPDIR", c.tmpdir);
        auto run = [&] {
            messages_.clear();
            Tick({"101"});
            EXPECT_FALSE(req_->PrepareUpgradeFile(pack, false));
            EXPECT_EQ(Workspaces(), 0u);
            return messages_.empty() ? std::string() : messages_[0];
        };
        if (c.mount == nullptr) {
            EXPECT_EQ(run(), c.message);
            continue;
        }
        const auto said = WithOwnMount(c.tmpdir, c.mount, run);
        if (!said) {
            std::cout << "[  SKIPPED ] no mount namespace for: " << c.what << "\n";
            continue;
        }
        EXPECT_EQ(*said, c.message);
    }
}

// The file box: a missing or unreadable pack, and blanks pasted after a path.
TEST_F(HostilePackTest, TheChosenFileIsOpenedOrSaidUnopenable) {
    const std::string pack = WritePack("fw.bin", {Kernel(), App("app_" + kType + ".jffs2")});
    fs::create_directories(tmp_ / "folder.bin");
    struct Case {
        std::string typed;
        const char* message;  // null: accepted
        std::string taken;
    };
    const std::vector<Case> cases = {
        {tmp_ / "gone.bin", "升级文件无法打开", ""},
        {tmp_ / "folder.bin", "升级文件无法打开", ""},
        {pack + "  \t", nullptr, pack},
        {tmp_ / ("gone_" + kType + ".jffs2 "), "升级文件无法打开", ""},
    };
    for (const Case& c : cases) {
        messages_.clear();
        Tick({"101"});
        const bool ok = req_->PrepareUpgradeFile(c.typed, false);
        EXPECT_EQ(ok, c.message == nullptr) << c.typed;
        if (ok) {
            EXPECT_EQ(req_->UpgradeFiles(), std::vector<std::string>{c.taken});
            EXPECT_EQ(std::string(req_->UpgradeInfo().szFilePath), c.taken);
        } else {
            EXPECT_EQ(messages_, std::vector<std::string>{c.message}) << c.typed;
        }
        req_->DiscardWorkspace();
    }
    // A file whose name really ends in a blank is taken as it is.
    const std::string blank = tmp_ / ("x_" + kType + ".jffs2 ");
    fs::copy_file(pack, blank);
    Tick({"101"});
    ASSERT_TRUE(req_->PrepareUpgradeFile(blank, false));
    EXPECT_EQ(req_->UpgradeFiles(), std::vector<std::string>{blank});
}

}  // namespace
