// The rule file as a document: lines the grid does not hold keep their text
// and places, only edited rows are written from their cells, and edits go
// onto a file that changed on disk instead of over it.
#include <gtest/gtest.h>

#include "packetfilter/rule_file.h"

namespace tw::packetfilter {
namespace {

constexpr const char* kWeb = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,80,TCP,web";
constexpr const char* kMail = "DROP,0.0.0.0,255.255.255.255,0,10.0.0.3,255.255.255.255,25,TCP,mail";

std::string lines(std::initializer_list<std::string> l) {
  std::string out;
  for (const auto& s : l) out += s + "\n";
  return out;
}

TEST(RuleFileDocument, KeepsWhatTheGridDoesNotHold) {
  const std::string text = lines({"# my rules", kWeb, "FORWORD,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,typo",
                                  "DROP,0.0.0.0,255.255.255.255,0,10.213.22.77-,255.255.255.255,0,ANY,cut", "",
                                  "DROP,0.0.0.0,255.255.255.255,0,10.0.0.9,255.255.255.255,0443,TCP,odd", kMail});
  RuleFile file(text);
  ASSERT_EQ(file.grid().size(), 3u);
  EXPECT_EQ(file.grid()[1][kDstPort], "443");  // as the rule record gives it back
  EXPECT_EQ(file.problems(),
            (std::vector<LineProblem>{{3, false, {RowFault::Action, kAction, "FORWORD"}},
                                      {4, false, {RowFault::Address, kDstIp, "10.213.22.77-"}}}));
  EXPECT_EQ(file.text(), text);  // nothing edited: the same bytes

  // Editing the mail rule rewrites its line only; deleting the web rule
  // takes its line out; the typo, the comment and "0443" stay as they were.
  GridRow mail = file.grid()[2];
  mail[kDstPort] = "587";
  ASSERT_TRUE(file.set_row(2, mail));
  ASSERT_TRUE(file.erase_row(0));
  ASSERT_TRUE(file.insert_row(0, default_row()));  // before the "0443" rule
  EXPECT_EQ(file.text(),
            lines({"# my rules", "FORWORD,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,typo",
                   "DROP,0.0.0.0,255.255.255.255,0,10.213.22.77-,255.255.255.255,0,ANY,cut", "",
                   "FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, ",
                   "DROP,0.0.0.0,255.255.255.255,0,10.0.0.9,255.255.255.255,0443,TCP,odd",
                   "DROP,0.0.0.0,255.255.255.255,0,10.0.0.3,255.255.255.255,587,TCP,mail"}));

  // Swapping rows exchanges the rules; the lines keep their places.
  ASSERT_TRUE(file.swap_rows(1, 2));
  EXPECT_EQ(file.grid()[1][kMemo], "mail");
  EXPECT_FALSE(file.swap_rows(2, 3));
  EXPECT_FALSE(file.set_row(3, mail));
}

TEST(RuleFileDocument, RulesBeyondTheTableStayInTheFile) {
  std::string text;
  for (std::size_t i = 0; i < kMaxRules + 2; ++i) text += std::string(kWeb) + std::to_string(i) + "\n";
  RuleFile file(text);
  EXPECT_EQ(file.grid().size(), kMaxRules);
  ASSERT_EQ(file.problems().size(), 2u);
  EXPECT_EQ(file.problems()[0], (LineProblem{kMaxRules + 1, true, {}}));
  EXPECT_FALSE(file.insert_row(file.grid().size(), default_row()));  // the table is full
  ASSERT_TRUE(file.erase_row(0));
  EXPECT_EQ(file.text(), text.substr(text.find('\n') + 1));
  // Read again, the first rule beyond the table moves into it.
  EXPECT_EQ(RuleFile(file.text()).grid().size(), kMaxRules);
  EXPECT_EQ(RuleFile(file.text()).problems().size(), 1u);
}

TEST(RuleFileDocument, ByteOrderMarkLineEndsAndTheLastLine) {
  // A Windows editor's file: a BOM, CR LF, no line break after the last rule.
  const std::string text = "\xEF\xBB\xBF" + std::string(kWeb) + "\r\n# note\r\n" +
                           "DROP,0.0.0.0,0.0.0.0,0,10.0.0.4,255.255.255.255,0,ANY";
  RuleFile file(text);
  ASSERT_EQ(file.grid().size(), 2u);
  EXPECT_TRUE(file.problems().empty());
  EXPECT_EQ(file.grid()[0][kAction], "DROP");
  EXPECT_EQ(file.grid()[0][kMemo], "web");
  EXPECT_EQ(file.grid()[1][kProtocol], "ANY");  // the end of the file ends the last field
  EXPECT_EQ(file.grid()[1][kMemo], " ");

  ASSERT_TRUE(file.insert_row(file.grid().size(), default_row()));
  EXPECT_EQ(file.text(), text + "\r\nFORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, \r\n");
  GridRow first = file.grid()[0];
  first[kDstPort] = "81";
  ASSERT_TRUE(file.set_row(0, first));
  EXPECT_TRUE(file.text().starts_with(
      "\xEF\xBB\xBF" "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,81,TCP,web\r\n# note\r\n"));
  EXPECT_EQ(RuleFile(file.text()).grid(), file.grid());
}

TEST(RuleFileDocument, LongLinesAreOneLine) {
  const std::string memo(5000, 'm');
  RuleFile file(std::string(kWeb) + memo + "\n");
  ASSERT_EQ(file.grid().size(), 1u);
  EXPECT_EQ(file.grid()[0][kMemo], "web" + memo);
}

TEST(RuleFileDocument, EditsGoOntoAFileChangedOnDisk) {
  const std::string base = lines({"# rules", kWeb, kMail});
  RuleFile file(base);
  GridRow web = file.grid()[0];
  web[kDstPort] = "8080";
  ASSERT_TRUE(file.set_row(0, web));
  ASSERT_TRUE(file.insert_row(file.grid().size(), default_row()));  // appended

  // Meanwhile an editor added a rule at the end and a comment at the top.
  const std::string disk = lines({"# added by hand", "# rules", kWeb, kMail, "DROP,0.0.0.0,0.0.0.0,0,1.2.3.4,255.255.255.255,0,ANY,hand"});
  std::size_t given_up = 9;
  EXPECT_EQ(file.merged_onto(disk, &given_up),
            lines({"# added by hand", "# rules", "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,8080,TCP,web", kMail,
                   "DROP,0.0.0.0,0.0.0.0,0,1.2.3.4,255.255.255.255,0,ANY,hand",
                   "FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, "}));
  EXPECT_EQ(given_up, 0u);

  // The web rule itself was changed by hand: the hand's text stays, and the
  // edit is given up and counted. The deletion of the mail rule still holds.
  ASSERT_TRUE(file.erase_row(1));
  const std::string changed = lines({"# rules", "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,443,TCP,web", kMail});
  EXPECT_EQ(file.merged_onto(changed, &given_up),
            lines({"# rules", "DROP,0.0.0.0,255.255.255.255,0,10.0.0.2,255.255.255.255,443,TCP,web",
                   "FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, "}));
  EXPECT_EQ(given_up, 1u);

  // The file was deleted meanwhile: only what was added here is left.
  EXPECT_EQ(file.merged_onto(std::nullopt, &given_up),
            lines({"FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, "}));
  // No file when it was read, one on disk now: appended to it.
  RuleFile fresh;
  ASSERT_TRUE(fresh.insert_row(0, default_row()));
  EXPECT_EQ(fresh.merged_onto(lines({kWeb})),
            lines({kWeb, "FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, "}));
}

TEST(RuleFileDocument, RowsInsertedAtTheTopStayThereAfterAMerge) {
  RuleFile file(lines({kWeb, kMail}));
  ASSERT_TRUE(file.insert_row(0, default_row()));
  EXPECT_EQ(file.merged_onto(lines({kWeb, "# new", kMail})),
            lines({"FORWARD,0.0.0.0,255.255.255.255,0,0.0.0.0,255.255.255.255,0,TCP, ", kWeb, "# new", kMail}));
}

}  // namespace
}  // namespace tw::packetfilter
