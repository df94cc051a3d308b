#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "ScopedEnv.h"
#include "platform/Paths.h"
#include "platform/Workspace.h"

namespace fs = std::filesystem;

namespace {

std::string U8(const fs::path& p) {
    return platform::Utf8Path(p);
}

// Points the temporary directory at a fresh folder.
class WorkspaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("qv_ws_" + std::to_string(::getpid()));
        fs::remove_all(base_);
        // Named in Chinese, as %TEMP% is for a user with a Chinese name.
        tmp_ = base_ / platform::FsPath("临时 文件");
        fs::create_directories(tmp_);
        tmpEnv_ = std::make_unique<qvtest::ScopedEnv>("TMPDIR", U8(tmp_));
        ASSERT_EQ(platform::PrepareWorkspaceRoot(), platform::RootState::Ready);
        root_ = platform::FsPath(platform::WorkspaceRoot());
    }
    void TearDown() override {
        tmpEnv_.reset();
        fs::remove_all(base_);
    }
    fs::path MakeTree(const fs::path& dir) {
        fs::create_directories(dir / "bin");
        std::ofstream(dir / "Pack.bin") << "x";
        std::ofstream(dir / "bin" / "app") << "y";
        return dir;
    }

    fs::path base_;
    fs::path tmp_;   // the temporary directory
    fs::path root_;  // this user's private folder in it
    std::unique_ptr<qvtest::ScopedEnv> tmpEnv_;
};

TEST_F(WorkspaceTest, NameFollowsTheTimeStamp) {
    platform::LocalTime t{2026, 1, 2, 3, 4, 5, 7};
    EXPECT_EQ(platform::WorkspacePathFor(t), U8(root_ / "UpdatePacket_20260102030405007"));
}

TEST_F(WorkspaceTest, RemovesAWorkspaceTree) {
    const fs::path ws = MakeTree(root_ / "UpdatePacket_20260102030405007");
    EXPECT_TRUE(platform::IsToolWorkspace(U8(ws)));
    EXPECT_TRUE(platform::RemoveWorkspaceTree(U8(ws)));
    EXPECT_FALSE(fs::exists(ws));
    // Gone already: nothing to do, no complaint.
    EXPECT_FALSE(platform::RemoveWorkspaceTree(U8(ws)));
}

TEST_F(WorkspaceTest, LeavesEverythingElseAlone) {
    const fs::path outside = MakeTree(base_ / "UpdatePacket_20260102030405007");
    const fs::path nested = MakeTree(root_ / "sub" / "UpdatePacket_20260102030405007");
    const fs::path shortName = MakeTree(root_ / "UpdatePacket_2026010203040500");
    const fs::path longName = MakeTree(root_ / "UpdatePacket_202601020304050077");
    const fs::path letters = MakeTree(root_ / "UpdatePacket_2026010203040500x");
    const fs::path other = MakeTree(root_ / "Other_20260102030405007");
    for (const std::string& p : {U8(outside), U8(nested), U8(shortName), U8(longName), U8(letters),
                                 U8(other), U8(root_), std::string("/"), std::string(),
                                 U8(root_ / "UpdatePacket_20260102030405007" / ".." / ".."),
                                 std::string("UpdatePacket_20260102030405007")}) {
        EXPECT_FALSE(platform::RemoveWorkspaceTree(p)) << p;
    }
    for (const fs::path& p : {outside, nested, shortName, longName, letters, other}) {
        EXPECT_TRUE(fs::exists(p / "bin" / "app")) << p;
    }
}

TEST_F(WorkspaceTest, DotDotCannotEscapeTheRoot) {
    const fs::path victim = MakeTree(base_ / "UpdatePacket_20260102030405007");
    const std::string sneaky = U8(root_ / ".." / "UpdatePacket_20260102030405007");
    EXPECT_FALSE(platform::RemoveWorkspaceTree(sneaky));
    EXPECT_TRUE(fs::exists(victim / "Pack.bin"));
}

TEST_F(WorkspaceTest, ALinkNamedLikeAWorkspaceIsNotFollowed) {
    const fs::path victim = MakeTree(base_ / "victim");
    const fs::path link = root_ / "UpdatePacket_20260102030405007";
    std::error_code ec;
    fs::create_directory_symlink(victim, link, ec);
    if (ec) {
        GTEST_SKIP() << "this system makes no links: " << ec.message();
    }
    EXPECT_FALSE(platform::RemoveWorkspaceTree(U8(link)));
    EXPECT_TRUE(fs::exists(victim / "bin" / "app"));
}

TEST_F(WorkspaceTest, LinksInsideAWorkspaceAreRemovedNotFollowed) {
    const fs::path victim = MakeTree(base_ / "victim");
    const fs::path ws = MakeTree(root_ / "UpdatePacket_20260102030405999");
    std::error_code ec;
    fs::create_directory_symlink(victim, ws / "link", ec);
    if (ec) {
        GTEST_SKIP() << "this system makes no links: " << ec.message();
    }
    EXPECT_TRUE(platform::RemoveWorkspaceTree(U8(ws)));
    EXPECT_FALSE(fs::exists(ws));
    EXPECT_TRUE(fs::exists(victim / "bin" / "app"));
}

TEST_F(WorkspaceTest, ATrailingSeparatorIsAccepted) {
    const fs::path ws = MakeTree(root_ / "UpdatePacket_20260102030405008");
    EXPECT_TRUE(platform::RemoveWorkspaceTree(U8(ws) + "/"));
    EXPECT_FALSE(fs::exists(ws));
}

}  // namespace
