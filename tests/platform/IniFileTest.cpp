#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "platform/IniFile.h"

namespace {

struct IniCase {
    const char* name;
    std::string text;
    std::string expected;  // for section "config", key "defaultip", default "DEF"
};

class IniLookup : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniLookup, GivesThePrivateProfileResult) {
    const IniCase& c = GetParam();
    EXPECT_EQ(platform::GetProfileStringFromText("config", "defaultip", "DEF", c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLookup,
    ::testing::Values(
        IniCase{"plain", "[config]\ndefaultip=10.0.0.1\n", "10.0.0.1"},
        IniCase{"names_without_case", "[CONFIG]\nDefaultIP=10.0.0.2\n", "10.0.0.2"},
        IniCase{"blanks_trimmed", "  [config]  \n \t defaultip \t=\t 10.0.0.3 \t\n", "10.0.0.3"},
        IniCase{"double_quotes", "[config]\ndefaultip=\"10.0.0.4\"\n", "10.0.0.4"},
        IniCase{"single_quotes", "[config]\ndefaultip='10.0.0.5'\n", "10.0.0.5"},
        IniCase{"mismatched_quotes_kept", "[config]\ndefaultip=\"10.0.0.6'\n", "\"10.0.0.6'"},
        IniCase{"lone_quote_kept", "[config]\ndefaultip=\"\n", "\""},
        IniCase{"inner_blanks_inside_quotes", "[config]\ndefaultip=\" a b \"\n", " a b "},
        IniCase{"no_inline_comment", "[config]\ndefaultip=10.0.0.7 ; lab\n", "10.0.0.7 ; lab"},
        IniCase{"comment_lines_skipped",
                "[config]\n;defaultip=1.1.1.1\n#defaultip=2.2.2.2\n"
                "defaultip=10.0.0.8\n",
                "10.0.0.8"},
        IniCase{"section_with_blanks_and_tail", "[ config ] tail\ndefaultip=10.0.0.9\n",
                "10.0.0.9"},
        IniCase{"first_key_wins", "[config]\ndefaultip=1.0.0.1\ndefaultip=1.0.0.2\n", "1.0.0.1"},
        IniCase{"first_section_wins", "[config]\nother=1\n[config]\ndefaultip=1.0.0.3\n", "DEF"},
        IniCase{"other_section_ignored", "[other]\ndefaultip=1.0.0.4\n[config]\nx=1\n", "DEF"},
        IniCase{"empty_value_is_not_default", "[config]\ndefaultip=\n", ""},
        IniCase{"empty_quotes_are_empty", "[config]\ndefaultip=\"\"\n", ""},
        IniCase{"key_without_equals", "[config]\ndefaultip\n", "DEF"},
        IniCase{"missing_section", "defaultip=1.0.0.5\n", "DEF"}, IniCase{"empty_file", "", "DEF"},
        IniCase{"crlf", "[config]\r\ndefaultip=10.0.1.1\r\n", "10.0.1.1"},
        IniCase{"cr_only", "[config]\rdefaultip=10.0.1.2\rnext=1\r", "10.0.1.2"},
        IniCase{"bom", "\xEF\xBB\xBF[config]\ndefaultip=10.0.1.3\n", "10.0.1.3"},
        IniCase{"no_final_newline", "[config]\ndefaultip=10.0.1.4", "10.0.1.4"},
        IniCase{"equals_in_value", "[config]\ndefaultip=a=b\n", "a=b"},
        IniCase{"long_value_cut", "[config]\ndefaultip=" + std::string(300, 'x') + "\n",
                std::string(259, 'x')},
        IniCase{"unclosed_header", "[config\ndefaultip=10.0.1.5\n", "10.0.1.5"}),
    [](const ::testing::TestParamInfo<IniCase>& p) { return std::string(p.param.name); });

TEST(IniFile, MissingFileGivesTheDefault) {
    EXPECT_EQ(platform::GetPrivateProfileString("config", "defaultip", "192.168.0.10",
                                                "/nonexistent/dir/config.ini"),
              "192.168.0.10");
}

TEST(IniFile, ReadsAFileAgainAtEveryCall) {
    const auto path =
        std::filesystem::temp_directory_path() / ("qv_ini_" + std::to_string(::getpid()) + ".ini");
    { std::ofstream(path) << "[config]\ndefaultip=127.0.0.50\n"; }
    EXPECT_EQ(platform::GetPrivateProfileString("config", "defaultip", "d", path.string()),
              "127.0.0.50");
    { std::ofstream(path) << "[config]\r\ndefaultip = 127.0.0.60\r\n"; }
    EXPECT_EQ(platform::GetPrivateProfileString("config", "defaultip", "d", path.string()),
              "127.0.0.60");
    std::filesystem::remove(path);
}

}  // namespace
