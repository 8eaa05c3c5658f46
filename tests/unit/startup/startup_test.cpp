// Start-up naming and argument rules, and the notice about an unusable
// settings file.
#include "app/startup.h"

#include <gtest/gtest.h>

namespace tw::app {
namespace {

TEST(SettingsFileName, UserBeforeHostAndSecondInstanceSuffix) {
  EXPECT_EQ(settings_file_name(kProgramBaseName, "alice", "box", false), "tarnix_alice@box.ini");
  EXPECT_EQ(settings_file_name(kProgramBaseName, "alice", "box", true), "tarnix_alice@box_#2.ini");
  // A renamed copy gets its own file.
  EXPECT_EQ(settings_file_name("mycopy", "alice", "box", false), "mycopy_alice@box.ini");
  // Names that could not be read stay empty.
  EXPECT_EQ(settings_file_name(kProgramBaseName, "", "", false), "tarnix_@.ini");
}

TEST(SettingsFileName, NamePartsCannotLeaveTheFolder) {
  EXPECT_EQ(settings_file_name(kProgramBaseName, "../../etc/x", "h/st", false),
            "tarnix_.._.._etc_x@h_st.ini");
  EXPECT_EQ(settings_file_name(kProgramBaseName, std::string_view("a\0b", 3), "h", false),
            "tarnix_a_b@h.ini");
}

TEST(RestartArgument, OnlyExactlyTwoArgumentsStartingWithSlashW) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(parse_restart_argument(Args{"/w", "1234"}), 1234);
  EXPECT_EQ(parse_restart_argument(Args{"/wait", "77"}), 77);  // only two characters compared
  EXPECT_EQ(parse_restart_argument(Args{"/w", "12abc"}), 12);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "abc"}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", ""}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "-5"}), 0);  // never a negative id
  EXPECT_EQ(parse_restart_argument(Args{"/w", "99999999999999999999999"}), 0);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "2147483647"}), 2147483647);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "2147483648"}), 0);

  EXPECT_EQ(parse_restart_argument(Args{}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/w"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/w", "1", "2"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/W", "1"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"w", "1"}), std::nullopt);
  EXPECT_EQ(parse_restart_argument(Args{"/", "1"}), std::nullopt);
}

TEST(RestartArgument, WhatARestartPassesIsUnderstood) {
  EXPECT_EQ(parse_restart_argument(restart_arguments(4242)), 4242);
}

TEST(Language, FirstSetVariableDecides) {
  EXPECT_EQ(language_from_locale(nullptr, nullptr, nullptr), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, nullptr, "ja_JP.UTF-8"), Language::Japanese);
  EXPECT_EQ(language_from_locale("", "", "ja"), Language::Japanese);
  EXPECT_EQ(language_from_locale("C", nullptr, "ja_JP.UTF-8"), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, "ja_JP.eucJP", "en_US.UTF-8"), Language::Japanese);
  EXPECT_EQ(language_from_locale("en_GB.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8"), Language::English);
  EXPECT_EQ(language_from_locale(nullptr, nullptr, "JA_JP"), Language::English);
}

TEST(SettingsProblemText, NamesTheFileTheReasonAndWhatIsLost) {
  using settings::SettingsFileProblem;
  const std::string path = "/home/a/.config/tarnwatch/tarnix_a@h.ini";
  EXPECT_EQ(settings_problem_text(path, SettingsFileProblem::None, Language::English), "");
  const std::string nul = settings_problem_text(path, SettingsFileProblem::NotText, Language::English);
  EXPECT_NE(nul.find(path), std::string::npos) << nul;
  EXPECT_NE(nul.find("NUL bytes"), std::string::npos) << nul;
  EXPECT_NE(nul.find("gross traffic totals"), std::string::npos) << nul;
  EXPECT_EQ(nul.find('\n'), std::string::npos) << "one line on stderr";
  EXPECT_NE(settings_problem_text(path, SettingsFileProblem::TooBig, Language::English).find("4 MiB"),
            std::string::npos);
  const std::string ja = settings_problem_text(path, SettingsFileProblem::Unreadable, Language::Japanese);
  EXPECT_NE(ja.find(path), std::string::npos) << ja;
  EXPECT_NE(ja.find("読み込めません"), std::string::npos) << ja;
}

}  // namespace
}  // namespace tw::app
