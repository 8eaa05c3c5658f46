// The settings store against an in-memory file system: the INI rules other
// programs (and older copies of this one) rely on, and the bad files and names
// that must neither crash nor destroy anything.
#include "settings/profile.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/fake/fake_file_store.h"

namespace tw::settings {
namespace {

constexpr const char* kPath = "/data/tarnix_me@box.ini";

class ProfileTest : public ::testing::Test {
 protected:
  std::string& file() { return files.files[kPath]; }
  platform::FakeFileStore files;
  Profile profile{files, kPath};
};

TEST_F(ProfileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
  EXPECT_EQ(profile.read_int("Settings", "TabCurSel", 7), 7);
  EXPECT_EQ(profile.read_string("Settings", "LogRootFolder", "def"), "def");
  EXPECT_FALSE(files.files.count(kPath));

  EXPECT_TRUE(profile.write_int("Settings", "TabCurSel", 3));
  EXPECT_TRUE(profile.write_string("Settings", "LogRootFolder", ""));
  EXPECT_TRUE(profile.write_int("Session", "SplitSize", -100));
  EXPECT_EQ(file(), "[Settings]\nTabCurSel=3\nLogRootFolder=\n\n[Session]\nSplitSize=-100\n");
  EXPECT_EQ(profile.read_int("Settings", "TabCurSel", 0), 3);
  EXPECT_EQ(profile.read_string("Settings", "LogRootFolder", "def"), "");
  EXPECT_EQ(profile.read_int("Session", "SplitSize", 0), -100);
}

TEST_F(ProfileTest, NamesAreCaseInsensitiveAndFirstMatchWins) {
  file() = "[settings]\nTABCURSEL=4\ntabcursel=5\n[Settings]\nTabCurSel=6\nOnlyHere=1\n";
  EXPECT_EQ(profile.read_int("Settings", "TabCurSel", 0), 4);
  EXPECT_EQ(profile.read_int("SETTINGS", "tabCurSel", 0), 4);
  // Only the first section of a name is searched, as the Windows reader does.
  EXPECT_EQ(profile.read_int("Settings", "OnlyHere", -1), -1);

  // A write replaces the first match and keeps its spelling.
  profile.write_int("Settings", "TabCurSel", 9);
  EXPECT_EQ(file(), "[settings]\nTABCURSEL=9\ntabcursel=5\n[Settings]\nTabCurSel=6\nOnlyHere=1\n");
}

TEST_F(ProfileTest, WritesKeepUnknownContentAndPlaceNewKeysInTheirSection) {
  file() =
      "; written by hand\n"
      "stray line\n"
      "[Settings]\n"
      "  Minimized = 0   \n"
      "; keep me\n"
      "garbage without equals\n"
      "\n"
      "\n"
      "[Other]\n"
      "x=1\n";
  profile.write_int("Settings", "Minimized", 1);
  profile.write_int("Settings", "IsZoomed", 1);
  profile.write_int("Other", "y", 2);
  profile.write_int("New", "z", 3);
  EXPECT_EQ(file(),
            "; written by hand\n"
            "stray line\n"
            "[Settings]\n"
            "Minimized=1\n"
            "; keep me\n"
            "garbage without equals\n"
            "IsZoomed=1\n"
            "\n"
            "\n"
            "[Other]\n"
            "x=1\n"
            "y=2\n"
            "\n"
            "[New]\n"
            "z=3\n");
}

TEST_F(ProfileTest, ReadsCrLfCrAndByteOrderMarkAndWritesLf) {
  file() = "\xEF\xBB\xBF[A]\r\nk1=one\r\n[B]\rk2=two\rk3= three ";
  EXPECT_EQ(profile.read_string("A", "k1", ""), "one");
  EXPECT_EQ(profile.read_string("B", "k2", ""), "two");
  EXPECT_EQ(profile.read_string("B", "k3", ""), "three");
  profile.write_int("A", "k4", 4);
  EXPECT_EQ(file(), "\xEF\xBB\xBF[A]\nk1=one\nk4=4\n[B]\nk2=two\nk3= three \n");
}

TEST_F(ProfileTest, QuotesAndBlanksAroundValues) {
  file() = "[S]\nd=\"quoted\"\ns='single'\nm=\"mixed'\nlone=\"\nempty=\"\"\nsp=  a b  \n";
  EXPECT_EQ(profile.read_string("S", "d", ""), "quoted");
  EXPECT_EQ(profile.read_string("S", "s", ""), "single");
  EXPECT_EQ(profile.read_string("S", "m", ""), "\"mixed'");
  EXPECT_EQ(profile.read_string("S", "lone", ""), "\"");
  EXPECT_EQ(profile.read_string("S", "empty", "def"), "");
  EXPECT_EQ(profile.read_string("S", "sp", ""), "a b");
}

TEST_F(ProfileTest, WrittenValuesReadBackUnchanged) {
  // A CSV log template enclosed in quotes, and blanks at either end, would
  // lose characters with a plain "key=value" line.
  for (std::string v : {"\"$DATE$\",\"$TIME$\"", " lead", "trail ", "\"\"", "'x'", "\"", "a=b;c",
                        "[not a section]", "日本語"}) {
    ASSERT_TRUE(profile.write_string("S", "k", v)) << v;
    EXPECT_EQ(profile.read_string("S", "k", "def"), v) << v;
  }
}

TEST_F(ProfileTest, ValuesCannotBreakTheLineStructure) {
  profile.write_string("S", "k", "one\r\ntwo\nthree\rfour");
  profile.write_string("S", "n", std::string_view("ab\0[X]\ny=1", 10));
  EXPECT_EQ(file(), "[S]\nk=one two three four\nn=ab\n");
  EXPECT_EQ(profile.read_string("X", "y", "none"), "none");
}

TEST_F(ProfileTest, NamesThatCannotBeStoredAreRefused) {
  file() = "[S]\nk=1\n";
  const std::string before = file();
  for (auto [section, key] : std::initializer_list<std::pair<std::string_view, std::string_view>>{
           {"", "k"}, {"S", ""}, {"  ", "k"}, {"A]B", "k"}, {"S", "a=b"}, {"S", "[k"},
           {"S", ";k"}, {"S\n[T]", "k"}, {"S", "k\nx"}, {std::string_view("S\0", 2), "k"}}) {
    EXPECT_FALSE(profile.write_int(section, key, 5)) << section << "/" << key;
    EXPECT_EQ(profile.read_int(section, key, -1), -1) << section << "/" << key;
  }
  EXPECT_EQ(file(), before);
  // Surrounding blanks are not part of a name.
  EXPECT_EQ(profile.read_int(" S ", " k ", 0), 1);
}

TEST_F(ProfileTest, IntegersReadLikeThePrivateProfileCall) {
  file() =
      "[N]\nplain=42\nneg=-5\nplus=+7\nblanks=   12   \ntail=12abc\nword=abc\nhex=0x10\n"
      "empty=\nsign=-\nwrap=4294967295\nmin=2147483648\nbig=99999999999\nquoted=\"15\"\n";
  EXPECT_EQ(profile.read_int("N", "plain", 0), 42);
  EXPECT_EQ(profile.read_int("N", "neg", 0), -5);
  EXPECT_EQ(profile.read_int("N", "plus", 0), 7);
  EXPECT_EQ(profile.read_int("N", "blanks", 0), 12);
  EXPECT_EQ(profile.read_int("N", "tail", 0), 12);
  EXPECT_EQ(profile.read_int("N", "word", 9), 0);
  EXPECT_EQ(profile.read_int("N", "hex", 9), 0);
  EXPECT_EQ(profile.read_int("N", "empty", 9), 9);
  EXPECT_EQ(profile.read_int("N", "sign", 9), 0);
  EXPECT_EQ(profile.read_int("N", "wrap", 0), -1);
  EXPECT_EQ(profile.read_int("N", "min", 0), INT_MIN);
  EXPECT_EQ(profile.read_int("N", "big", 0), 1215752191);  // 99999999999 mod 2^32
  EXPECT_EQ(profile.read_int("N", "quoted", 0), 15);
  profile.write_int("N", "m", INT_MIN);
  EXPECT_EQ(profile.read_int("N", "m", 0), INT_MIN);
}

TEST_F(ProfileTest, LongStringsAreCutAtCharacterBoundary) {
  profile.write_string("S", "ascii", std::string(5000, 'a'));
  EXPECT_EQ(profile.read_string("S", "ascii", "").size(), 4095u);
  // 4094 ASCII bytes then a three-byte character straddling the limit.
  profile.write_string("S", "utf8", std::string(4094, 'a') + "日");
  EXPECT_EQ(profile.read_string("S", "utf8", ""), std::string(4094, 'a'));
}

TEST_F(ProfileTest, UnusableFilesGiveDefaultsAndAreNeverReplaced) {
  // Binary content.
  file() = std::string("[S]\nk=1\n\0\x01\x02", 11);
  EXPECT_EQ(profile.read_int("S", "k", -1), -1);
  EXPECT_FALSE(profile.write_int("S", "k", 2));
  EXPECT_EQ(file().size(), 11u);

  // Too big to be a settings file.
  file() = "[S]\nk=1\n" + std::string(Profile::kMaxFileBytes, ';');
  EXPECT_EQ(profile.read_int("S", "k", -1), -1);
  EXPECT_FALSE(profile.write_int("S", "k", 2));
  EXPECT_EQ(file().size(), Profile::kMaxFileBytes + 8);

  // Unreadable.
  file() = "[S]\nk=1\n";
  files.unreadable.insert(kPath);
  EXPECT_EQ(profile.read_int("S", "k", -1), -1);
  EXPECT_FALSE(profile.write_int("S", "k", 2));
  EXPECT_EQ(file(), "[S]\nk=1\n");
  EXPECT_EQ(files.replace_count, 0);
}

TEST_F(ProfileTest, FileProblemTellsAnUnusableFileFromAMissingOne) {
  EXPECT_EQ(profile.file_problem(), SettingsFileProblem::None);  // missing: the defaults are meant
  file() = "[S]\nk=1\n";
  EXPECT_EQ(profile.file_problem(), SettingsFileProblem::None);
  file() = std::string("[S]\nk=1\n\0", 9);
  EXPECT_EQ(profile.file_problem(), SettingsFileProblem::NotText);
  file() = std::string(Profile::kMaxFileBytes + 1, ';');
  EXPECT_EQ(profile.file_problem(), SettingsFileProblem::TooBig);
  file() = "[S]\nk=1\n";
  files.unreadable.insert(kPath);
  EXPECT_EQ(profile.file_problem(), SettingsFileProblem::Unreadable);
  EXPECT_EQ(files.replace_count, 0);
}

TEST_F(ProfileTest, LargestAcceptedFileWithOddLineEndsIsReadInOnePass) {
  // Close to the size limit, lines ended by CR only: a lookup that rescans
  // for the next LF from every line would not finish.
  std::string big = "[S]\r";
  while (big.size() < Profile::kMaxFileBytes - 64) big += "key=value\r";
  big += "[T]\rlast=1\r";
  file() = big;
  EXPECT_EQ(profile.read_int("T", "last", 0), 1);
  EXPECT_EQ(profile.read_int("S", "missing", -1), -1);
  EXPECT_TRUE(profile.write_int("T", "last", 2));
  EXPECT_EQ(profile.read_int("T", "last", 0), 2);
  // A write that would push the file over the limit is refused.
  EXPECT_FALSE(profile.write_string("T", "long", std::string(100, 'x')));
  EXPECT_EQ(profile.read_int("T", "last", 0), 2);
}

TEST_F(ProfileTest, WriteFailuresLeaveTheFileAndReportFalse) {
  file() = "[S]\nk=1\n";
  files.read_only = true;
  EXPECT_FALSE(profile.write_int("S", "k", 2));
  EXPECT_EQ(profile.read_int("S", "k", 0), 1);
  files.read_only = false;
  // Rewriting the stored value does not touch the file.
  EXPECT_TRUE(profile.write_int("S", "k", 1));
  EXPECT_EQ(files.replace_count, 0);
}

TEST_F(ProfileTest, SeveralKeysGoInOneReplaceOrNotAtAll) {
  file() = "[Traffic]\nTotalSend=1\n";
  const Profile::KeyValue keys[] = {{"TotalSend", "4"}, {"TotalRecv", "1023"}, {"TotalSendB", "1024"}};
  ASSERT_TRUE(profile.write_strings("Traffic", keys));
  EXPECT_EQ(files.replace_count, 1);
  EXPECT_EQ(file(), "[Traffic]\nTotalSend=4\nTotalRecv=1023\nTotalSendB=1024\n");
  // Nothing changed: nothing written.
  ASSERT_TRUE(profile.write_strings("Traffic", keys));
  EXPECT_EQ(files.replace_count, 1);

  // A failed replace leaves every key as it was and says why, naming the file.
  const Profile::KeyValue changed[] = {{"TotalSend", "5"}, {"TotalRecv", "7"}};
  files.read_only = true;
  files.write_errno = ENOSPC;
  const Status s = profile.write_strings("Traffic", changed);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().errno_value, ENOSPC);
  EXPECT_NE(s.error().detail.find(kPath), std::string::npos) << s.error().detail;
  EXPECT_EQ(file(), "[Traffic]\nTotalSend=4\nTotalRecv=1023\nTotalSendB=1024\n");
  files.read_only = false;

  // A name that cannot be stored refuses the whole set.
  const Profile::KeyValue bad[] = {{"TotalSend", "6"}, {"Bad=Key", "1"}};
  EXPECT_FALSE(profile.write_strings("Traffic", bad).ok());
  EXPECT_EQ(profile.read_int("Traffic", "TotalSend", 0), 4);
}

TEST_F(ProfileTest, MalformedLinesNeverMatch) {
  file() = "k=outside\n[Unclosed\nk=1\n[S\n]\n=nokey\n[ S ] trailing\nk=2\n[]\nk=3\n";
  EXPECT_EQ(profile.read_int("S", "k", 0), 2);
  EXPECT_EQ(profile.read_int("Unclosed", "k", 0), 0);
}

TEST_F(ProfileTest, PlacementNeedsExactlyTenFields) {
  std::array<int, 10> p{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto original = p;
  EXPECT_FALSE(profile.read_placement("Position", p));

  file() = "[Settings]\nPosition=1:2:3\nEmpty=\nHex=0x10:010:-1:+4:0:0:0:0:0:0x\nLong=1:2:3:4:5:6:7:8:9:10:11\n"
           "Broken=1:2:3:4:5:x:7:8:9:10\n";
  EXPECT_FALSE(profile.read_placement("Position", p));
  EXPECT_FALSE(profile.read_placement("Empty", p));
  EXPECT_FALSE(profile.read_placement("Broken", p));
  EXPECT_EQ(p, original);

  ASSERT_TRUE(profile.read_placement("Hex", p));
  EXPECT_EQ(p, (std::array<int, 10>{16, 8, -1, 4, 0, 0, 0, 0, 0, 0}));
  // Extra fields after the tenth are ignored, as sscanf ignores them.
  ASSERT_TRUE(profile.read_placement("Long", p));
  EXPECT_EQ(p[9], 10);

  const std::array<int, 10> w{0, 1, -32000, -32000, -1, -1, 100, 120, 903, 560};
  profile.write_placement("MiniMonitorPos", w);
  EXPECT_EQ(profile.read_string("Settings", "MiniMonitorPos", ""), "0:1:-32000:-32000:-1:-1:100:120:903:560");
  std::array<int, 10> r{};
  ASSERT_TRUE(profile.read_placement("MiniMonitorPos", r));
  EXPECT_EQ(r, w);
}

}  // namespace
}  // namespace tw::settings
