// Files opened by name: links, FIFOs and directories refused without blocking,
// whole-line appends under a size limit, the batch lock and terminal escaping.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/FileLock.h"
#include "platform/IniFile.h"
#include "platform/SafeFile.h"
#include "platform/TermText.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SafeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qv_safe_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        { std::ofstream(dir_ / "target") << "[config]\ndefaultip=10.1.1.1\n"; }
        fs::create_symlink(dir_ / "target", dir_ / "link");
        ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
        fs::create_directories(dir_ / "folder");
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

// Each name that is not a regular file, and what opening it says.
struct Refused {
    const char* name;
    const char* why;
};
constexpr Refused kRefused[] = {
    {"link", "is a symbolic link"}, {"fifo", "not a regular file"}, {"folder", ""}};

TEST_F(SafeFileTest, OnlyRegularFilesAreOpenedAndNothingBlocks) {
    const auto started = std::chrono::steady_clock::now();
    for (const Refused& r : kRefused) {
        const std::string path = (dir_ / r.name).string();
        std::string why;
        EXPECT_EQ(platform::OpenAppendRegular(path, &why), -1) << r.name;
        EXPECT_NE(why.find(r.why), std::string::npos) << r.name << ": " << why;
        EXPECT_FALSE(platform::ReadRegularFile(path, 1024, &why)) << r.name;
        // The INI reader takes them for missing files.
        EXPECT_EQ(platform::GetPrivateProfileString("config", "defaultip", "D", path), "D");
        platform::FileLock lock;
        EXPECT_EQ(lock.TryLock(path, &why), platform::FileLock::Result::Error) << r.name;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(ReadAll(dir_ / "target"), "[config]\ndefaultip=10.1.1.1\n");  // link not followed
    std::string why;
    EXPECT_FALSE(platform::ReadRegularFile((dir_ / "target").string(), 4, &why));
    EXPECT_NE(why.find("bytes, at most 4 expected"), std::string::npos) << why;
}

// Appends lines until a size limit stops them, in a child that ignores
// SIGXFSZ; the file must end up holding whole lines only.
TEST_F(SafeFileTest, ASizeLimitNeverLeavesATornLine) {
    const fs::path log = dir_ / "limited.log";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        platform::IgnoreFileSizeSignal();
        const rlimit lim{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        const int fd = platform::OpenAppendRegular(log.string(), nullptr);
        int refused = 0;
        for (int i = 0; i < 40; ++i) {
            const std::string line = "line " + std::string(i < 10 ? "0" : "") + std::to_string(i) +
                                     std::string(39, 'x') + "\r\n";
            refused += platform::AppendWhole(fd, line, nullptr) ? 0 : 1;
        }
        ::_exit(refused > 0 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string text = ReadAll(log);
    ASSERT_FALSE(text.empty());
    EXPECT_LE(text.size(), 1000u);
    EXPECT_EQ(text.size() % 48, 0u) << text.size();
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

struct Escaped {
    const char* in;
    const char* out;
};

TEST(TermText, ControlsAndHiddenCharactersBecomeVisible) {
    const Escaped cases[] = {
        {"QV-LPR200", "QV-LPR200"},
        {"升级成功 é", "升级成功 é"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", platform::kBackslashSeparatesFolders ? "back\\slash" : "back\\\\slash"},
        {"c1 \xc2\x9b", "c1 \\u009b"},
        {"bidi \xe2\x80\xae", "bidi \\u202e"},
        {"bad \xff\xc3", "bad \\xff\\xc3"},
        {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},
    };
    for (const Escaped& c : cases) {
        EXPECT_EQ(platform::EscapeForTerminal(c.in), c.out) << c.in;
    }
}

TEST(IniText, Utf16WithAByteOrderMarkReadsAsWindowsReadsIt) {
    const std::u16string text = u"[config]\r\ndefaultip=10.2.3.4\r\nname=默认\r\n";
    std::string le = "\xFF\xFE";
    std::string be = "\xFE\xFF";
    for (char16_t c : text) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
        be += static_cast<char>(c >> 8);
        be += static_cast<char>(c & 0xFF);
    }
    for (const std::string& bytes : {le, be}) {
        const std::string utf8 = platform::IniTextToUtf8(bytes);
        EXPECT_EQ(platform::GetProfileStringFromText("config", "defaultip", "D", utf8), "10.2.3.4");
        EXPECT_EQ(platform::GetProfileStringFromText("config", "name", "D", utf8), "默认");
    }
    // A lone surrogate and an odd last byte do no harm.
    EXPECT_EQ(platform::IniTextToUtf8(std::string("\xFF\xFE\x00\xD8x\x00y", 7)), "\xEF\xBF\xBDx");
    EXPECT_EQ(platform::IniTextToUtf8("plain"), "plain");
}

TEST_F(SafeFileTest, AUnicodeConfigFileGivesItsValue) {
    const fs::path path = dir_ / "config.ini";
    {
        std::ofstream out(path, std::ios::binary);
        const std::string ascii = "[config]\r\ndefaultip=10.9.8.7\r\n";
        out << "\xFF\xFE";
        for (char c : ascii) {
            out << c << '\0';
        }
    }
    EXPECT_EQ(
        platform::GetPrivateProfileString("config", "defaultip", "192.168.0.10", path.string()),
        "10.9.8.7");
}

}  // namespace
