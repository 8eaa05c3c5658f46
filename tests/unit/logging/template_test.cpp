#include "logging/template.h"

#include <gtest/gtest.h>

#include <vector>

namespace tw::logging {
namespace {

const platform::LocalTime kMarch5{2024, 3, 5, 9, 7, 3};

TEST(TemplateExpansion, StepsRunInOrderAndNeverRescanTheirOwnInsertions) {
  // A name inserted by a step is expanded by the later steps only.
  const std::vector<Variable> later{{"$A$", "<$B$>"}, {"$B$", "b"}};
  EXPECT_EQ(expand_variables("$A$ $B$", later), "<b> b");
  const std::vector<Variable> earlier{{"$B$", "b"}, {"$A$", "<$B$>"}};
  EXPECT_EQ(expand_variables("$A$ $B$", earlier), "<$B$> b");
  // A value holding its own name is inserted once and left alone.
  const std::vector<Variable> self{{"$X$", "$X$$X$"}};
  EXPECT_EQ(expand_variables("$X$-$X$", self), "$X$$X$-$X$$X$");
  // Every occurrence, case-sensitive, left to right without overlaps.
  const std::vector<Variable> mm{{"$MM$", "03"}};
  EXPECT_EQ(expand_variables("$MM$$MM$ $mm$ $MM$MM$", mm), "0303 $mm$ 03MM$");
  const std::vector<Variable> empty_name{{"", "x"}};
  EXPECT_EQ(expand_variables("abc", empty_name), "abc");
}

TEST(TemplateExpansion, EntryValuesAreExpandedOnlyByLaterVariables) {
  EntryValues v;
  EXPECT_TRUE(v.set("$CAPTURE_TIME$", "$DATE$|$CONNECTIONS$"));  // "$DATE$" comes before
  EXPECT_TRUE(v.set("$CONNECTIONS$", "7"));
  EXPECT_TRUE(v.set("$SESSION$", "$TIME$ $IP_PACKET$"));  // "$TIME$" before, "$IP_PACKET$" after
  EXPECT_TRUE(v.set("$IP_PACKET$", "pk"));
  EXPECT_TRUE(v.set("$TOTAL_SEND_DIS$", "$TOTAL_RECV_DIS$ $TOTAL_RECV$"));
  EXPECT_TRUE(v.set("$TOTAL_RECV_DIS$", "42"));
  const std::string tmpl = "$CAPTURE_TIME$ $SESSION$ $TOTAL_SEND_DIS$ $TOTAL_RECV$";
  EXPECT_EQ(expand_entry(tmpl, date_texts(kMarch5), v),
            "$DATE$|7 $TIME$ pk 42 $TOTAL_RECV$ ");  // unset values are empty

  // The date and time are the writer's; names outside the language are refused.
  EXPECT_FALSE(v.set("$DATE$", "x"));
  EXPECT_FALSE(v.set("$SS$", "x"));
  EXPECT_FALSE(v.set("$session$", "x"));
  EXPECT_FALSE(v.has("$TOTAL_RECV$"));
  EXPECT_EQ(expand_entry("$DATE$ $SS$", date_texts(kMarch5), v), "2024/03/05 03");
}

TEST(TemplateExpansion, DateTextsAndFileNames) {
  const DateTexts d = date_texts(kMarch5);
  EXPECT_EQ(d.date, "2024/03/05");
  EXPECT_EQ(d.time, "09:07:03");
  EXPECT_EQ(date_texts({2000, 12, 31, 23, 59, 58}).yy, "00");
  EXPECT_EQ(expand_file_name("tarnix_traffic$YYYY$$MM$.log", d), "tarnix_traffic202403.log");
  EXPECT_EQ(expand_file_name("$YY$-$DD$_$HH$$MI$$SS$ $DATE$", d), "24-05_090703 $DATE$");
}

TEST(TemplateExpansion, LineBreaks) {
  EXPECT_EQ(template_from_stored("a$CRLF$$CRLF$b$crlf$"), "a\r\n\r\nb$crlf$");
  EXPECT_EQ(template_to_stored("a\r\nb\nc\rd"), "a$CRLF$b$CRLF$c$CRLF$d");
  EXPECT_EQ(template_to_stored(template_from_stored("x$CRLF$y$CRLF$")), "x$CRLF$y$CRLF$");
  EXPECT_EQ(crlf_to_lf("a\r\nb\nc\rd\r"), "a\nb\nc\rd\r");
  // Pairs become line feeds before any variable is expanded.
  EXPECT_EQ(expand_entry("$DATE$\r\n$TIME$", date_texts(kMarch5), {}), "2024/03/05\n09:07:03");
}

TEST(TemplateExpansion, LengthLimits) {
  // Entries are cut at the limit, never inside a UTF-8 character.
  const std::string big(kMaxEntryLength + 10, 'x');
  EXPECT_EQ(expand_entry(big, date_texts(kMarch5), {}).size(), kMaxEntryLength);
  std::string ja = "x";
  while (ja.size() < kMaxEntryLength + 10) ja += "総";  // three bytes each
  const std::string cut = expand_entry(ja, date_texts(kMarch5), {});
  EXPECT_EQ(cut.size(), 1 + (kMaxEntryLength - 1) / 3 * 3);
  EXPECT_EQ(cut.substr(cut.size() - 3), "総");

  // Values that repeat later names cannot blow the text up.
  std::string row;
  for (int i = 0; i < 100; ++i) row += "$B$";
  const std::vector<Variable> chain{{"$A$", row}, {"$B$", row}, {"$B$", row}};
  const std::string text = expand_variables("$A$$A$$A$", chain, 100000);
  EXPECT_LE(text.size(), 100000u);
  EXPECT_EQ(text.substr(0, 6), "$B$$B$");
}

}  // namespace
}  // namespace tw::logging
