#include "shell/commands.h"

#include <gtest/gtest.h>

#include <string>

namespace tw::shell {
namespace {

using namespace std::string_literals;

TEST(CommandDispatch, WholeTextCommandsMatchOnlyExactly) {
  EXPECT_EQ(parse_command("tarnix.trafficmonitor /init").command, Command::TrafficInit);
  EXPECT_EQ(parse_command("tarnix.trafficmonitor /totalinit").command, Command::TrafficTotalInit);
  EXPECT_EQ(parse_command("tarnix.trafficmonitor /allinit").command, Command::TrafficAllInit);
  EXPECT_EQ(parse_command("tarnix.packetfilter /start").command, Command::FilterStart);
  EXPECT_EQ(parse_command("tarnix.packetfilter /stop").command, Command::FilterStop);
  EXPECT_EQ(parse_command("tarnix.packetfilter /reload").command, Command::FilterReload);

  // A trailing blank, a line end, other case or a prefix: not the command.
  for (const char* near : {"tarnix.trafficmonitor /init ", "tarnix.trafficmonitor /init\n",
                           " tarnix.trafficmonitor /init", "Tarnix.trafficmonitor /init",
                           "tarnix.trafficmonitor /INIT", "tarnix.trafficmonitor /ini",
                           "tarnix.packetfilter /start now", "", "tarnix."})
    EXPECT_EQ(parse_command(near).command, Command::None) << '"' << near << '"';
}

TEST(CommandDispatch, ContainedCommandsMatchAnywhere) {
  EXPECT_EQ(parse_command("tarnix.sessionmonitor /blockstart").command, Command::BlockStart);
  EXPECT_EQ(parse_command("xx tarnix.sessionmonitor /blockstart yy").command, Command::BlockStart);
  EXPECT_EQ(parse_command("tarnix.sessionmonitor /blockstop\n").command, Command::BlockStop);
  // Case-sensitive even when contained.
  EXPECT_EQ(parse_command("TARNIX.SESSIONMONITOR /BLOCKSTART").command, Command::None);

  auto add = parse_command("tarnix.packetfilter /add:1,DROP,ALL");
  EXPECT_EQ(add.command, Command::FilterAdd);
  EXPECT_EQ(add.text, "tarnix.packetfilter /add:1,DROP,ALL");
  // Only /add: carries its text along.
  EXPECT_TRUE(parse_command("tarnix.sessionmonitor /blockstop").text.empty());
}

TEST(CommandDispatch, FirstMatchInTableOrderWins) {
  // /add: is looked for before the auto-block switches.
  auto both = parse_command("tarnix.sessionmonitor /blockstart tarnix.packetfilter /add:x");
  EXPECT_EQ(both.command, Command::FilterAdd);
  EXPECT_EQ(both.text, "tarnix.sessionmonitor /blockstart tarnix.packetfilter /add:x");
  // /blockstart before /blockstop, wherever they stand in the text.
  EXPECT_EQ(parse_command("tarnix.sessionmonitor /blockstop tarnix.sessionmonitor /blockstart").command,
            Command::BlockStart);
}

TEST(CommandDispatch, TextEndsAtFirstNul) {
  EXPECT_EQ(parse_command("tarnix.trafficmonitor /init\0garbage"s).command, Command::TrafficInit);
  EXPECT_EQ(parse_command("\0tarnix.trafficmonitor /init"s).command, Command::None);
  auto add = parse_command("tarnix.packetfilter /add:r\0tail"s);
  EXPECT_EQ(add.text, "tarnix.packetfilter /add:r");
  EXPECT_EQ(parse_command("x\0tarnix.sessionmonitor /blockstart"s).command, Command::None);
}

TEST(CommandReplies, DatagramsRoundTripAndStayShort) {
  for (const CommandReply& r : {CommandReply{}, CommandReply{ReplyStatus::Done, "added as rule 3"},
                                CommandReply{ReplyStatus::Ignored, "not a command"},
                                CommandReply{ReplyStatus::Failed, "the rule table is full (2000 rules)"}})
    EXPECT_EQ(parse_reply(reply_datagram(r)), r);
  EXPECT_EQ(reply_datagram({ReplyStatus::Failed, "x"}), "failed: x");
  EXPECT_EQ(reply_datagram({}), "done");
  EXPECT_FALSE(parse_reply("tarnix.trafficmonitor /init"));
  EXPECT_FALSE(parse_reply("donex"));
  // A long reason is cut, never inside a UTF-8 character.
  std::string ja;
  for (int i = 0; i < 600; ++i) ja += "\xE3\x81\x82";  // "a" in hiragana, 3 bytes
  const std::string d = reply_datagram({ReplyStatus::Failed, ja});
  EXPECT_LE(d.size(), kMaxReplyBytes);
  EXPECT_EQ((d.size() - std::string("failed: ").size()) % 3, 0u);
}

}  // namespace
}  // namespace tw::shell
