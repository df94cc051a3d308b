#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/OpenInEditor.h"

namespace fs = std::filesystem;

// The editor is started and not waited for; a stand-in editor records the
// path it was given, so the test polls for its file with a generous limit.
TEST(OpenInEditor, StartsTheConfiguredEditorWithThePath) {
    const fs::path dir = fs::temp_directory_path() / ("qv_editor_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path script = dir / "editor.sh";
    const fs::path out = dir / "opened.txt";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\nprintf '%s' \"$1\" > '" << (dir / "tmp.txt").string() << "'\nmv '"
          << (dir / "tmp.txt").string() << "' '" << out.string() << "'\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    ::setenv("QUORVANE_EDITOR", script.c_str(), 1);

    const std::string path = (dir / "2026_01_02.log").string();
    EXPECT_TRUE(platform::OpenInEditor(path));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(out) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(out));
    std::ifstream in(out);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, path);
    // A launcher that finds no program for the file fails at once: said.
    ::setenv("QUORVANE_EDITOR", "false", 1);
    EXPECT_FALSE(platform::OpenInEditor(path));
    ::setenv("QUORVANE_EDITOR", (dir / "no-such-editor").c_str(), 1);
    EXPECT_FALSE(platform::OpenInEditor(path));
    ::unsetenv("QUORVANE_EDITOR");
    fs::remove_all(dir);
}
