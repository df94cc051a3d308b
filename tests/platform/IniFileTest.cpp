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

// ---- writing one key ----

struct IniWrite {
    const char* name;
    std::string before;
    std::string after;  // with section "config", key "interface" set to "eth1"
};

class IniSet : public ::testing::TestWithParam<IniWrite> {};

TEST_P(IniSet, RewritesOnlyTheKey) {
    const IniWrite& c = GetParam();
    const std::string got =
        platform::SetProfileStringInText("config", "interface", "eth1", c.before);
    EXPECT_EQ(got, c.after);
    // What was written reads back, and the other keys keep their values.
    EXPECT_EQ(platform::GetProfileStringFromText("config", "interface", "DEF", got), "eth1");
    EXPECT_EQ(platform::GetProfileStringFromText("config", "defaultip", "DEF", got),
              platform::GetProfileStringFromText("config", "defaultip", "DEF", c.before));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniSet,
    ::testing::Values(
        IniWrite{"empty_file", "", "[config]\r\ninterface=eth1\r\n"},
        IniWrite{"replaced_in_place", "[config]\ninterface=eth0\ndefaultip=10.0.0.1\n",
                 "[config]\ninterface=eth1\ndefaultip=10.0.0.1\n"},
        IniWrite{"names_without_case", "[Config]\n Interface = wlan0 \n",
                 "[Config]\ninterface=eth1\n"},
        IniWrite{"added_at_the_sections_end",
                 "[config]\ndefaultip=10.0.0.1\n\n[other]\ninterface=x\n",
                 "[config]\ndefaultip=10.0.0.1\ninterface=eth1\n\n[other]\ninterface=x\n"},
        IniWrite{"crlf_kept", "[config]\r\ndefaultip=10.0.0.1\r\n",
                 "[config]\r\ndefaultip=10.0.0.1\r\ninterface=eth1\r\n"},
        IniWrite{"no_final_newline", "[config]\ndefaultip=10.0.0.1",
                 "[config]\ndefaultip=10.0.0.1\ninterface=eth1\n"},
        // Added after the section's last key: a comment below it may be the next section's.
        IniWrite{"comment_not_taken_for_the_key", "[config]\n;interface=eth0\n",
                 "[config]\ninterface=eth1\n;interface=eth0\n"},
        IniWrite{"new_section_after_others", "[other]\na=1\n",
                 "[other]\na=1\n[config]\ninterface=eth1\n"},
        IniWrite{"first_section_only", "[config]\na=1\n[config]\ninterface=eth0\n",
                 "[config]\na=1\ninterface=eth1\n[config]\ninterface=eth0\n"},
        IniWrite{"bom_kept", "\xEF\xBB\xBF[config]\ninterface=eth0\n",
                 "\xEF\xBB\xBF[config]\ninterface=eth1\n"}),
    [](const ::testing::TestParamInfo<IniWrite>& p) { return std::string(p.param.name); });

TEST(IniFile, WritesAKeyIntoTheFileAndRefusesWhatCannotBeOne) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("qv_iniw_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "config.ini").string();
    std::string why;
    ASSERT_TRUE(platform::WritePrivateProfileString("config", "interface", "以太网 2", path, &why))
        << why;
    EXPECT_EQ(platform::GetPrivateProfileString("config", "interface", "", path), "以太网 2");
    ASSERT_TRUE(platform::WritePrivateProfileString("config", "interface", "", path, &why));
    EXPECT_EQ(platform::GetPrivateProfileString("config", "interface", "DEF", path), "");
    EXPECT_FALSE(platform::WritePrivateProfileString("config", "interface", "a\nb=c", path, &why));
    EXPECT_FALSE(platform::WritePrivateProfileString("config", "interface", std::string(260, 'x'),
                                                     path, &why));
#ifndef _WIN32  // the Windows profile functions read and write UTF-16 files themselves
    std::ofstream(path, std::ios::binary) << std::string("\xFF\xFE[\0", 4);
    EXPECT_FALSE(platform::WritePrivateProfileString("config", "interface", "eth0", path, &why));
#endif
    std::filesystem::remove_all(dir);
}
