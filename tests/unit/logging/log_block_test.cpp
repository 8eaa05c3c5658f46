// A log block saved by its options page loads back as it was saved, in every
// section, and the single-key writers leave the rest of the block alone.
#include <gtest/gtest.h>

#include "logging/log_engine.h"
#include "platform/fake/fake_file_store.h"

namespace tw::logging {
namespace {

constexpr char kIni[] = "/data/tarnix_u@h.ini";

TEST(LogBlockSettings, RoundTripInEverySection) {
  platform::FakeFileStore files;
  settings::Profile profile{files, kIni};
  for (LogKind kind : {LogKind::Traffic, LogKind::Packet, LogKind::Session, LogKind::Report}) {
    LogBlock b = load_log_block(profile, kind, Language::English);
    EXPECT_EQ(b.log_file_name, default_log_file_name(kind));
    b.log_check = true;
    b.log_sound = true;
    b.log_write_mode = 1;
    b.log_file_name = std::string(log_section(kind)) + "-$YYYY$.log";
    b.log_cycle_time = 0;  // kept as stored: the engine decides what it means
    b.log_fmt = "a\r\n$DATE$\r\n";
    save_log_block(profile, kind, b);
    EXPECT_EQ(load_log_block(profile, kind, Language::English), b) << log_section(kind);
  }
  save_log_check(profile, LogKind::Report, false);
  EXPECT_FALSE(load_log_check(profile, LogKind::Report));
  EXPECT_TRUE(load_log_block(profile, LogKind::Report, Language::English).log_sound);
  EXPECT_TRUE(load_log_check(profile, LogKind::Traffic));

  save_log_root_folder(profile, "/var/log/tw/");
  EXPECT_EQ(load_log_root_folder(profile), "/var/log/tw/");
}

}  // namespace
}  // namespace tw::logging
