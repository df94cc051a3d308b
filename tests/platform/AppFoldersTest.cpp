#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/AppFolders.h"

namespace {

namespace fs = std::filesystem;
using platform::AppFolders;
using platform::DecideFolders;
using platform::FolderInputs;
using platform::FolderMode;

struct FolderCase {
    const char* name;
    FolderInputs in;
    FolderMode mode;
    std::vector<std::string> configDirs;
    std::string stateDir;
    std::string libDir;
};

const std::string kEtc = platform::SystemConfigDirFor("/opt/qv/bin");
const std::string kPrivate = platform::PrivateLibDirFor("/opt/qv/bin");

const FolderCase kCases[] = {
    {"BuildTreeKeepsEverythingBesideTheExecutable",
     {"/src/build/dev/bin", "", "/x/config", "/x/state", "/home/t", false},
     FolderMode::BuildTree,
     {"/src/build/dev/bin"},
     "/src/build/dev/bin",
     "/src/build/dev/bin"},
    {"InstalledUsesTheXdgFoldersThenEtc",
     {"/opt/qv/bin", "", "/x/config", "/x/state", "/home/t", true},
     FolderMode::Installed,
     {"/x/config/quorvane", kEtc},
     "/x/state/quorvane",
     kPrivate},
    {"InstalledDefaultsUnderHome",
     {"/opt/qv/bin", "", "", "", "/home/t", true},
     FolderMode::Installed,
     {"/home/t/.config/quorvane", kEtc},
     "/home/t/.local/state/quorvane",
     kPrivate},
    {"RelativeXdgValuesAreIgnored",
     {"/opt/qv/bin", "", "rel/config", "rel/state", "/home/t", true},
     FolderMode::Installed,
     {"/home/t/.config/quorvane", kEtc},
     "/home/t/.local/state/quorvane",
     kPrivate},
    {"InstalledWithoutAnyHomeReadsEtcOnly",
     {"/opt/qv/bin", "", "", "", "", true},
     FolderMode::Installed,
     {kEtc},
     "",
     kPrivate},
    {"ConfigDirOverridesAnInstalledTree",
     {"/opt/qv/bin", "/w/conf", "/x/config", "/x/state", "/home/t", true},
     FolderMode::Override,
     {"/w/conf"},
     "/w/conf",
     kPrivate},
    {"ConfigDirOverridesABuildTree",
     {"/src/bin", "/w/conf", "", "", "/home/t", false},
     FolderMode::Override,
     {"/w/conf"},
     "/w/conf",
     "/src/bin"},
};

class FolderRule : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderRule, Decides) {
    const FolderCase& c = GetParam();
    const AppFolders f = DecideFolders(c.in);
    EXPECT_EQ(f.mode, c.mode);
    EXPECT_EQ(f.configDirs, c.configDirs);
    EXPECT_EQ(f.stateDir, c.stateDir);
    EXPECT_EQ(f.libDir, c.libDir);
}

INSTANTIATE_TEST_SUITE_P(AppFolders, FolderRule, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(AppFolders, InstalledTreeFoldersHangOffTheExecutablesFolder) {
    const std::string lib = platform::PrivateLibDirFor("/usr/bin");
    EXPECT_EQ(lib.rfind("/usr/lib/", 0), 0u) << lib;
    EXPECT_EQ(fs::path(lib).filename(), "quorvane") << lib;
    // Either /etc/quorvane (installed under /usr) or inside the moved tree.
    const std::string etc = platform::SystemConfigDirFor("/opt/qv/bin");
    EXPECT_TRUE(etc == "/etc/quorvane" || etc == "/opt/qv/etc/quorvane") << etc;
}

// A scratch tree with a user and a system configuration folder.
class AppFoldersOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("qv-folders-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "user");
        fs::create_directories(root_ / "system");
        folders_.mode = FolderMode::Installed;
        folders_.configDirs = {(root_ / "user").string(), (root_ / "system").string()};
        folders_.stateDir = (root_ / "state" / "quorvane").string();
    }
    void TearDown() override { fs::remove_all(root_); }
    void Write(const fs::path& p) { std::ofstream(p) << "x\n"; }

    fs::path root_;
    AppFolders folders_;
};

TEST_F(AppFoldersOnDisk, EachFileFallsBackOnItsOwn) {
    Write(root_ / "system" / "config.ini");
    Write(root_ / "system" / "quorvane-net.conf");
    Write(root_ / "user" / "quorvane-net.conf");
    EXPECT_EQ(folders_.ConfigFile("config.ini"), (root_ / "system" / "config.ini").string());
    EXPECT_EQ(folders_.ConfigFile("quorvane-net.conf"),
              (root_ / "user" / "quorvane-net.conf").string());
    // Missing everywhere: named where the user would put it.
    EXPECT_EQ(folders_.ConfigFile("other.ini"), (root_ / "user" / "other.ini").string());
    EXPECT_EQ(folders_.StateFile("2026_12_08.log"),
              (root_ / "state" / "quorvane" / "2026_12_08.log").string());
}

TEST_F(AppFoldersOnDisk, StateFolderIsCreatedPrivate) {
    std::string error;
    ASSERT_TRUE(platform::MakeStateDir(folders_, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(folders_.stateDir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(platform::MakeStateDir(folders_, &error)) << "a second call finds it there";
}

TEST_F(AppFoldersOnDisk, StateFolderProblemsAreReported) {
    fs::create_directories(root_ / "state");
    Write(folders_.stateDir);  // a file where the folder should be
    std::string error;
    EXPECT_FALSE(platform::MakeStateDir(folders_, &error));
    EXPECT_NE(error.find("not a folder"), std::string::npos) << error;

    folders_.stateDir.clear();
    EXPECT_FALSE(platform::MakeStateDir(folders_, &error));
    EXPECT_NE(error.find("XDG_STATE_HOME"), std::string::npos) << error;
}

TEST_F(AppFoldersOnDisk, OnlyAnInstalledToolCreatesItsStateFolder) {
    folders_.mode = FolderMode::Override;
    std::string error;
    EXPECT_TRUE(platform::MakeStateDir(folders_, &error));
    EXPECT_FALSE(fs::exists(folders_.stateDir));
}

TEST(AppFolders, CurrentInputsComeFromTheEnvironment) {
    ::setenv("XDG_CONFIG_HOME", "/x/c", 1);
    ::setenv("XDG_STATE_HOME", "/x/s", 1);
    platform::SetConfigDirOverride("/w/d");
    const FolderInputs in = platform::CurrentFolderInputs();
    EXPECT_EQ(in.xdgConfigHome, "/x/c");
    EXPECT_EQ(in.xdgStateHome, "/x/s");
    EXPECT_EQ(in.configDirOverride, "/w/d");
    // The test runs from the build tree, which has no private library folder.
    EXPECT_FALSE(in.installed);
    EXPECT_FALSE(in.exeDir.empty());
    platform::SetConfigDirOverride("");
    EXPECT_EQ(platform::CurrentFolders().mode, FolderMode::BuildTree);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
