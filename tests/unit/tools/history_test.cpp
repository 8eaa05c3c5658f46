// Host lists and history files of the tool tabs.
#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_file_store.h"
#include "tools/tool_history.h"
#include "tools/tool_settings.h"

namespace tw::tools {
namespace {

TEST(ToolHistory, ReadingKeepsFiveHundredCleanLinesAndLeavesOutTheCurrentHost) {
  std::string text;
  for (int i = 0; i < 600; ++i) text += "host" + std::to_string(i) + ".example\r\n";
  const auto many = parse_history(text, "host3.example");
  ASSERT_EQ(many.size(), 499u);  // 500 kept, the current host among them left out
  EXPECT_EQ(many[0], "host0.example");
  EXPECT_EQ(many[3], "host4.example");

  // A control character first skips the line; a non-ASCII first byte (an
  // internationalised name) does not.
  const auto mixed = parse_history("\tskipped\n\x01no\n\xE4\xBE\x8B.jp\nplain\n\n", "");
  EXPECT_EQ(mixed, (std::vector<std::string>{"\xE4\xBE\x8B.jp", "plain"}));

  // A line longer than a read is split into reads, each an entry.
  const auto long_line = parse_history(std::string(1500, 'a') + "\n", "");
  ASSERT_EQ(long_line.size(), 2u);
  EXPECT_EQ(long_line[0].size(), kMaxHistoryLineChars);
  EXPECT_EQ(long_line[1].size(), 1500 - kMaxHistoryLineChars);
}

TEST(ToolHistory, WritingDropsEmptyAndRepeatedEntries) {
  EXPECT_EQ(format_history({"a.com", "a.com", "", "b\r\n.com", "a.com"}), "a.com\nb.com\na.com\n");
  EXPECT_EQ(format_history({}), "");
}

TEST(ToolHistory, ListIsCaseSensitiveAndSortedWithoutCase) {
  HostList list;
  EXPECT_TRUE(list.add("b.example"));
  EXPECT_TRUE(list.add("A.example"));
  EXPECT_TRUE(list.add("a.example"));
  EXPECT_FALSE(list.add("a.example"));
  EXPECT_FALSE(list.add(""));
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"A.example", "a.example", "b.example"}));
}

TEST(ToolHistory, LoadAndSaveFollowTheHistoryFlag) {
  platform::FakeFileStore files;
  const std::string path = "/data/tarnix_history_ping.txt";
  files.files[path] = "z.example\nlocalhost\na.example\n";
  HostList list;
  EXPECT_EQ(load_host_list(list, files, path, true, "localhost"), HistoryFile::Read);
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"a.example", "localhost", "z.example"}));
  list.add("m.example");
  ASSERT_TRUE(save_host_list(list, files, path, true, HistoryFile::Read).ok());
  EXPECT_EQ(files.files[path], "a.example\nlocalhost\nm.example\nz.example\n");

  // History off: nothing is read, and closing the tab deletes the file.
  EXPECT_EQ(load_host_list(list, files, path, false, "localhost"), HistoryFile::NotRead);
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"localhost"}));
  ASSERT_TRUE(save_host_list(list, files, path, false, HistoryFile::NotRead).ok());
  EXPECT_EQ(files.files.count(path), 0u);
  // A missing file is an empty history.
  EXPECT_EQ(load_host_list(list, files, path, true, "x"), HistoryFile::Missing);
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"x"}));
}

TEST(ToolHistory, AFileOfAnySizeGivesItsFirstEntriesAndAnUnreadableOneIsKept) {
  platform::FakeFileStore files;
  const std::string path = "/data/tarnix_history_whois.txt";
  // 2 MiB: blank lines (skipped, not counted) around 600 hosts, one line
  // longer than a read, and pieces that end inside lines.
  std::string text(300000, '\n');
  for (int i = 0; i < 600; ++i) text += "h" + std::to_string(1000 + i) + ".example\n";
  text.insert(300000 + 10, std::string(2000, 'x'));  // inside the first host's line
  text += std::string((std::size_t{2} << 20) - text.size(), '\n');
  files.files[path] = text;
  HostList list;
  EXPECT_EQ(load_host_list(list, files, path, true, "current"), HistoryFile::Read);
  const auto parsed = parse_history(text, "current");
  ASSERT_EQ(parsed.size(), kMaxHistoryLines);
  EXPECT_EQ(list.entries().size(), kMaxHistoryLines + 1);  // and the current host
  for (const auto& e : parsed) EXPECT_TRUE(list.contains(e)) << e;
  EXPECT_TRUE(list.contains("h1498.example"));  // 2 pieces of the long line, then hosts up to 1498
  EXPECT_FALSE(list.contains("h1499.example"));
  // Reading stopped once the entries were there: the tail was never read.
  EXPECT_LT(static_cast<std::size_t>(files.part_reads) * kHistoryReadPiece, files.files[path].size());

  // A file that is there but cannot be read is left alone at the close,
  // whether history stays on or was switched off meanwhile.
  files.unreadable.insert(path);
  EXPECT_EQ(load_host_list(list, files, path, true, "current"), HistoryFile::Unreadable);
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"current"}));
  EXPECT_FALSE(save_host_list(list, files, path, true, HistoryFile::Unreadable).ok());
  EXPECT_FALSE(save_host_list(list, files, path, false, HistoryFile::Unreadable).ok());
  EXPECT_EQ(files.files[path], text);
  EXPECT_EQ(files.replace_count, 0);
}

TEST(ToolSettings, OptionsCommandSelectsTheGroupOnce) {
  platform::FakeFileStore files;
  settings::Profile p(files, "/data/t.ini");
  p.write_int("Settings", "ConfigTab", 1);
  select_options_group(p, kPingTool.options_group);
  EXPECT_EQ(p.read_int("Settings", "ConfigSel", -1), 10);
  EXPECT_EQ(p.read_int("Settings", "ConfigTab", -1), 0);
  // Already on the group: the tab last shown there stays.
  p.write_int("Settings", "ConfigTab", 1);
  select_options_group(p, 10);
  EXPECT_EQ(p.read_int("Settings", "ConfigTab", -1), 1);

  EXPECT_EQ(load_command_tool(p, kTracertTool).options, "-m 20 -w 1");
  EXPECT_EQ(parse_record_filter("0:1:0"), (RecordFilter{0, 1, 0, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(format_record_filter(kDefaultRecordFilter), "1:1:1:1:1:1:1:1:1");
}

}  // namespace
}  // namespace tw::tools
