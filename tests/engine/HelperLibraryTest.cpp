#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "EngineTestUtil.h"
#include "FakeDeviceLibs.h"
#include "RecordingReportWindow.h"
#include "nimbrel.h"
#include "platform/Paths.h"

using namespace enginetest;
namespace fs = std::filesystem;

namespace {

// An executable folder of our own, with or without a helper library in it.
class HelperFolder {
  public:
    explicit HelperFolder(const char* module) {
        dir_ = fs::temp_directory_path() /
               ("qv-engine-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(dir_);
        if (module != nullptr) {
            fs::copy_file(module, dir_ / NIMBREL_LIBRARY_NAME);
        }
    }
    ~HelperFolder() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path() const { return dir_.string(); }

  private:
    static inline int counter_ = 0;
    fs::path dir_;
};

std::vector<TaskResult> RunModifyBatch(TaskDispatcher& d) {
    RecordingReportWindow window;
    d.SetReportWindow(&window);
    d.BeginBatch({.kind = TASK_MODIFY_IP, .total = 2});
    d.Enqueue("10.3.0.1", "02:00:00:00:00:01", "");
    d.Enqueue("10.3.0.2", "02:00:00:00:00:02", "");
    EXPECT_TRUE(window.WaitForBatchDone());
    d.SetReportWindow(nullptr);
    return window.Results();
}

int Successes(const std::vector<TaskResult>& results) {
    int n = 0;
    for (const auto& r : results) {
        n += r.result;
    }
    return n;
}

TEST(HelperLibraryTest, LoadsTheHelperFromTheExecutableFolderAndUsesModifyDevIp) {
    HelperFolder folder(QV_TEST_HELPER_FULL);
    TaskDispatcher d(NetApi{}, folder.Path());
    EXPECT_TRUE(d.Helper().Loaded());
    EXPECT_NE(d.Helper().Api().ModifyDevIp, nullptr);
    EXPECT_NE(d.Helper().Api().GetDevList, nullptr);
    EXPECT_EQ(d.Helper().Folder(), platform::JoinPath(folder.Path(), ""));
    const auto results = RunModifyBatch(d);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(Successes(results), 1) << "the library's own answers came back";
}

TEST(HelperLibraryTest, WithoutModifyDevIpTheIpJobsFail) {
    HelperFolder folder(QV_TEST_HELPER_PARTIAL);
    TaskDispatcher d(NetApi{}, folder.Path());
    EXPECT_EQ(d.Helper().Api().ModifyDevIp, nullptr);
    EXPECT_NE(d.Helper().Api().GetDevList, nullptr);
    const auto results = RunModifyBatch(d);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(Successes(results), 0);
}

TEST(HelperLibraryTest, WithoutTheLibraryTheDispatcherStillStartsAndIpJobsFail) {
    HelperFolder folder(nullptr);
    TaskDispatcher d(NetApi{}, folder.Path());
    EXPECT_FALSE(d.Helper().Loaded());
    EXPECT_EQ(d.RunningWorkers(), TaskDispatcher::kWorkerCount);
    const auto results = RunModifyBatch(d);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(Successes(results), 0);
}

}  // namespace
