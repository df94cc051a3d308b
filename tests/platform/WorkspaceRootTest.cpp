// The user's private folder for workspaces, on a POSIX system: ownership,
// mode and links are what keep other users out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "platform/Workspace.h"

namespace fs = std::filesystem;

namespace {

class WorkspaceRootTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("qv_wsroot_" + std::to_string(::getpid()));
        fs::remove_all(base_);
        fs::create_directories(base_ / "tmp");
        tmpEnv_ = std::make_unique<qvtest::ScopedEnv>("TMPDIR", (base_ / "tmp").string());
        root_ = platform::WorkspaceRoot();
    }
    void TearDown() override {
        tmpEnv_.reset();
        fs::remove_all(base_);
    }

    fs::path base_;
    fs::path root_;
    std::unique_ptr<qvtest::ScopedEnv> tmpEnv_;
};

// The private folder is made once, closed to others, and refused when it is
// not really ours: another user could otherwise plant or read workspaces.
TEST_F(WorkspaceRootTest, ThePrivateFolderIsOursOrRefused) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& root)> plant;
        platform::RootState state;
    };
    const std::vector<Case> cases = {
        {"missing: made", [](const fs::path& r) { fs::remove_all(r); }, platform::RootState::Ready},
        {"ours but open: closed again",
         [](const fs::path& r) { fs::permissions(r, fs::perms(0755)); },
         platform::RootState::Ready},
        {"a link to a folder",
         [this](const fs::path& r) {
             fs::remove_all(r);
             fs::create_directory(base_ / "elsewhere");
             fs::create_directory_symlink(base_ / "elsewhere", r);
         },
         platform::RootState::NotPrivate},
        {"a file",
         [](const fs::path& r) {
             fs::remove_all(r);
             std::ofstream(r) << "x";
         },
         platform::RootState::NotPrivate},
        {"another user's folder",
         [](const fs::path& r) {
             if (::chown(r.c_str(), ::geteuid() + 1, ::getegid()) != 0) {
                 fs::remove_all(r);  // no right to give it away: nothing to test
                 fs::create_directory_symlink("/", r);
             }
         },
         platform::RootState::NotPrivate},
    };
    for (const Case& c : cases) {
        fs::remove_all(base_ / "elsewhere");
        fs::remove_all(root_);
        ASSERT_EQ(platform::PrepareWorkspaceRoot(), platform::RootState::Ready) << c.what;
        c.plant(root_);
        EXPECT_EQ(platform::PrepareWorkspaceRoot(), c.state) << c.what;
        if (c.state == platform::RootState::Ready) {
            struct stat st {};
            ASSERT_EQ(::lstat(root_.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u) << c.what;
        }
    }
    fs::remove_all(root_);
    qvtest::ScopedEnv gone("TMPDIR", (base_ / "no-such-folder").string());
    EXPECT_EQ(platform::PrepareWorkspaceRoot(), platform::RootState::NoTempDirectory);
    EXPECT_FALSE(platform::SystemTempDirectory().exists);
    EXPECT_EQ(platform::SystemTempDirectory().path, (base_ / "no-such-folder").string());
}

}  // namespace
