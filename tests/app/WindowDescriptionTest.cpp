// The window's description read as its views read it: the columns by their
// console names, the keys, input while a batch runs, Browse's start folder
// and the start-up options of the two window programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/WindowDescription.h"
#include "app/WindowStart.h"
#include "platform/Paths.h"

namespace {

TEST(WindowDescription, ColumnsByNameAndWhichSort) {
    for (const app::ColumnSpec& c : app::kColumns) {
        EXPECT_EQ(app::ColumnByKey(c.key), c.column) << c.key;
        EXPECT_EQ(c.column, &c - app::kColumns.data());
    }
    EXPECT_FALSE(app::ColumnByKey("Type"));
    EXPECT_FALSE(app::ColumnByKey(""));
    // The number column and 详情 do not sort; neither does a column not there.
    for (int column : {int{app::kColNumber}, int{app::kColDetail}, -1, int{app::kColumnCount}}) {
        EXPECT_FALSE(app::SortsBy(column)) << column;
    }
    EXPECT_TRUE(app::SortsBy(app::kColStatus));
}

// 先升级's items: a value of config.ini that is none of them is shown in
// its place among the counts, and each item reads back as what it shows.
struct CanaryItemsRow {
    Canary shown;
    std::vector<std::string> texts;
    int index;
};

TEST(WindowDescription, CanaryItemsShowTheValueGiven) {
    const std::vector<CanaryItemsRow> rows = {
        {{}, {"无", "1台", "2台", "3台", "5台", "每种硬件1台"}, 0},
        {{1, false}, {"无", "1台", "2台", "3台", "5台", "每种硬件1台"}, 1},
        {{4, false}, {"无", "1台", "2台", "3台", "4台", "5台", "每种硬件1台"}, 4},
        {{1000, false}, {"无", "1台", "2台", "3台", "5台", "1000台", "每种硬件1台"}, 5},
        {{0, true}, {"无", "1台", "2台", "3台", "5台", "每种硬件1台"}, 5},
    };
    for (const CanaryItemsRow& row : rows) {
        const auto items = app::CanaryItems(row.shown);
        std::vector<std::string> texts;
        for (const app::CanaryItem& item : items) {
            texts.push_back(item.text);
            EXPECT_EQ(app::CanaryItemIndex(items, item.canary), &item - items.data()) << item.text;
        }
        EXPECT_EQ(texts, row.texts) << row.shown.count;
        EXPECT_EQ(app::CanaryItemIndex(items, row.shown), row.index) << row.shown.count;
    }
    EXPECT_EQ(app::CanaryItemIndex(app::CanaryItems({}), {9, false}), 0);
}

TEST(WindowDescription, EveryControlOnceAndEveryButtonWired) {
    for (const app::ControlSpec& c : app::kControls) {
        if (c.id != app::kLabelId) {
            EXPECT_EQ(app::FindControl(c.id), &c) << c.id;
        }
        // A push button without a handler would be a dead button.
        if (c.kind == app::ControlKind::Button) {
            EXPECT_TRUE(app::Press(nullptr, c.id)) << c.text;
        }
    }
    EXPECT_EQ(app::FindControl(app::kLabelId), nullptr);
    EXPECT_FALSE(app::Press(nullptr, app::IDC_SYNC_TIME));  // read by the upgrade request
    EXPECT_FALSE(app::Press(nullptr, app::IDC_FORCE_UPGRADE));
}

struct KeyCase {
    app::WindowKey key;
    bool down;
    bool stopEnabled;
    bool swallow;
    bool stop;
};

TEST(WindowDescription, EnterAndEscapeDoNothingButEscapeStopsABatch) {
    using K = app::WindowKey;
    const KeyCase cases[] = {
        {K::Enter, true, false, true, false},  {K::Enter, true, true, true, false},
        {K::Escape, true, false, true, false}, {K::Escape, true, true, true, true},
        {K::Escape, false, true, true, false},  // the key's release or its character
        {K::Other, true, true, false, false},
    };
    for (const KeyCase& c : cases) {
        const app::KeyAnswer a = app::OnWindowKey(c.key, c.down, c.stopEnabled);
        EXPECT_EQ(a.swallow, c.swallow) << static_cast<int>(c.key) << c.down << c.stopEnabled;
        EXPECT_EQ(a.pressStop, c.stop) << static_cast<int>(c.key) << c.down << c.stopEnabled;
    }
    EXPECT_TRUE(app::TakesInput(true, app::IDC_SEARCH));
    EXPECT_FALSE(app::TakesInput(false, app::IDC_SEARCH));
    EXPECT_FALSE(app::TakesInput(false, app::kLabelId));
    EXPECT_TRUE(app::TakesInput(false, app::IDC_STOP));
    EXPECT_FALSE(app::MayClose(false));
    EXPECT_FALSE(app::MenuOpens(false));
    EXPECT_EQ(app::ProgressHigh(0, 0), 1);
    EXPECT_EQ(app::ProgressHigh(0, 5), 5);
}

class BrowseFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qv-browse-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        // Through FsPath: Windows would read a narrow name in the ANSI code page.
        std::filesystem::create_directories(dir_ / platform::FsPath("固件"));
        std::ofstream(dir_ / platform::FsPath("固件") / "fw.bin") << "x";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string At(const std::string& rest) const { return platform::Utf8Path(dir_) + rest; }
    std::filesystem::path dir_;
};

TEST_F(BrowseFolder, TheFolderOfWhatTheBoxHolds) {
    const std::string sep(1, static_cast<char>(std::filesystem::path::preferred_separator));
    const std::string folder = At(sep + "固件");
    const struct {
        std::string box;
        std::string want;
    } cases[] = {
        {folder + sep + "fw.bin", folder},
        {"  " + folder + sep + "fw.bin\t", folder},  // the edge's blanks are not the path's
        {folder, folder},
        {folder + sep + "new.bin", folder},  // a file not yet there: its folder
        {At(sep + "no-such" + sep + "fw.bin"), ""},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::BrowseStartFolder(c.box), c.want) << c.box;
    }
}

struct StartCase {
    std::vector<std::string> args;
    bool withSteps;
    app::StartAction action;
    std::string configDir;
    bool service;
};

TEST(WindowStart, OneParserForBothWindows) {
    using A = app::StartAction;
    const StartCase cases[] = {
        {{}, false, A::Run, "", false},
        {{"--config-dir", "D:\\现场", "--service"}, false, A::Run, "D:\\现场", true},
        {{"--config-dir"}, false, A::Refused, "", false},  // no folder
        {{"--search"}, false, A::Refused, "", false},      // the Qt window's step only
        {{"--search", "--upgrade", "fw.bin"}, true, A::Run, "", false},
        {{"--upgrade"}, true, A::Refused, "", false},
        {{"--help"}, false, A::Help, "", false},
        {{"-h", "--version"}, true, A::Help, "", false},
        {{"--version"}, false, A::Version, "", false},
        {{"--version", "--bogus"}, false, A::Refused, "", false},
        {{"service"}, false, A::Refused, "", false},
    };
    for (const StartCase& c : cases) {
        std::vector<std::string> args{"quorvane"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        app::StartOptions opt;
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(app::ParseStartOptions(args, c.withSteps, opt), c.action);
        if (c.action == A::Run) {
            EXPECT_EQ(opt.configDir, c.configDir);
            EXPECT_EQ(opt.service, c.service);
        }
    }
    app::StartOptions steps;
    ASSERT_EQ(app::ParseStartOptions({"quorvane", "--select-all", "--screenshot", "a.png",
                                      "--upgrade", "fw.bin", "--search"},
                                     true, steps),
              app::StartAction::Run);
    EXPECT_TRUE(steps.search && steps.selectAll);
    EXPECT_EQ(steps.screenshot, "a.png");
    EXPECT_EQ(steps.upgradeFile, "fw.bin");
}

}  // namespace
