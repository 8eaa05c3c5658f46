// The shell's keys: defaults, load rules, and what shut-down and the options
// pages write.
#include "shell/shell_settings.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <string>

#include "logging/log_engine.h"
#include "shell/main_window_logic.h"
#include "shell/options_model.h"
#include "platform/fake/fake_file_store.h"

namespace tw::shell {
namespace {

constexpr const char* kPath = "/d/tarnix_u@h.ini";

class ShellSettingsTest : public ::testing::Test {
 protected:
  platform::FakeFileStore files;
  settings::Profile profile{files, kPath};
};

TEST_F(ShellSettingsTest, StoredValuesAndLoadTransformations) {
  files.files[kPath] =
      "[Settings]\nWindowTopMost=1\nWindowStretch=0\nNoticeBoxInterval=-5\nTabCurSel=99\n"
      "LogRootFolder=/var/log/tw/\nPosition=1:2:3\nMainWindow=0\n"
      "[NoticeBox]\nBkColor=255\nAlphaBlend=1\nTimeOut=0\n"
      "[TaskTrayIcon]\nUnit=1\nColor00=0x10\n"
      "[Session]\nAutoStart=0\nSplitSize=250\n";
  const ShellSettings s = load_shell_settings(profile);
  EXPECT_TRUE(s.window_top_most);
  EXPECT_FALSE(s.window_stretch);
  EXPECT_EQ(s.notice_box_interval, 5);
  EXPECT_EQ(s.tab_cur_sel, 99);
  EXPECT_EQ(clamp_tab(s.tab_cur_sel, 11), 10);
  EXPECT_EQ(s.log_root_folder, "/var/log/tw/");
  EXPECT_FALSE(s.position.has_value());  // three fields: ignored
  EXPECT_FALSE(s.main_window);
  EXPECT_EQ(s.notice.bk_color, 255);
  EXPECT_TRUE(s.notice.alpha_blend);
  EXPECT_EQ(s.notice.time_out_ms, 0);
  EXPECT_EQ(s.tray_icon.unit, 1);
  EXPECT_EQ(s.tray_icon.color_background, 0);  // single integers are decimal only
  EXPECT_FALSE(s.session_auto_start);
  EXPECT_EQ(s.session_split_size, 250);
}

// Both programs start the Session Monitor from load_session_auto_start(), and
// the View page shows the same reading: a hand-edited 2 must neither start the
// monitor in one program and not the other, nor show as on while it is off.
TEST_F(ShellSettingsTest, SessionKeysOneReadingForBothPrograms) {
  EXPECT_TRUE(load_session_auto_start(profile));  // absent: on
  for (const auto& [stored, on] : std::array<std::pair<const char*, bool>, 4>{
           {{"1", true}, {"0", false}, {"2", false}, {"-1", false}}}) {
    files.files[kPath] = std::string("[Session]\nAutoStart=") + stored + "\nSplitSize=5\n";
    EXPECT_EQ(load_session_auto_start(profile), on) << stored;
    EXPECT_EQ(load_shell_settings(profile).session_auto_start, on) << stored;
  }
  EXPECT_EQ(load_shell_settings(profile).session_split_size, 12);
  EXPECT_EQ(clamp_session_split_size(1200), 1200);
  EXPECT_EQ(clamp_session_split_size(5000), 1200);
  EXPECT_EQ(clamp_session_split_size(13), 13);
}

// The View page shows "Surveil"/"AutoStart" from load_shell_settings(), and
// both programs start the Packet Monitor from load_surveil_auto_start(): a
// hand-edited 2 must not show as checked in one place and stay off in the
// other.
TEST_F(ShellSettingsTest, SurveilAutoStartOneReadingForBothPrograms) {
  EXPECT_FALSE(load_surveil_auto_start(profile));  // absent: off
  for (const auto& [stored, on] : std::array<std::pair<const char*, bool>, 5>{
           {{"1", true}, {"0", false}, {"2", false}, {"-1", false}, {"x", false}}}) {
    files.files[kPath] = std::string("[Surveil]\nAutoStart=") + stored + "\n";
    EXPECT_EQ(load_surveil_auto_start(profile), on) << stored;
    EXPECT_EQ(load_shell_settings(profile).surveil_auto_start, on) << stored;
  }
}

TEST(NoticeInterval, AbsoluteValueModuloSixty) {
  EXPECT_EQ(normalise_notice_interval(-5), 5);
  EXPECT_EQ(normalise_notice_interval(75), 15);
  EXPECT_EQ(normalise_notice_interval(60), 0);
  EXPECT_EQ(normalise_notice_interval(INT_MIN), 8);  // 2^31 % 60, no overflow
  EXPECT_EQ(normalise_notice_interval(INT_MAX), 7);
}

TEST_F(ShellSettingsTest, ShutDownWritesAfterDeletedFile) {
  save_window_state(profile, 3, false, true, 120);
  save_empty_log_root_folder(profile, "");
  logging::save_log_check(profile, logging::LogKind::Report, true);
  save_window_placement(profile, false, {0, 1, -1, -1, -1, -1, 10, 20, 813, 460});
  EXPECT_EQ(files.files[kPath],
            "[Settings]\nTabCurSel=3\nMainWindow=0\nNotifyIcon=1\nLogRootFolder=\nIsZoomed=0\n"
            "Position=0:1:-1:-1:-1:-1:10:20:813:460\n\n"
            "[Session]\nSplitSize=120\n\n[Report]\nLogCheck=1\n");
  const ShellSettings s = load_shell_settings(profile);
  EXPECT_EQ(s.tab_cur_sel, 3);
  ASSERT_TRUE(s.position.has_value());
  EXPECT_EQ((*s.position)[8], 813);

  // A configured folder is left alone.
  save_empty_log_root_folder(profile, "/x/");
  EXPECT_EQ(profile.read_string("Settings", "LogRootFolder", "missing"), "");
}

TEST_F(ShellSettingsTest, WindowPlacementRoundTripAndGarbledPosition) {
  const std::array<int, 10> maximised = placement_for({10, 20, 813, 460}, true).to_list();
  save_window_placement(profile, true, maximised);
  ShellSettings s = load_shell_settings(profile);
  EXPECT_TRUE(s.is_zoomed);
  EXPECT_EQ(s.position, maximised);
  EXPECT_EQ(load_window_position(profile), maximised);
  EXPECT_TRUE(WindowPlacement::from_list(*load_window_position(profile)).restore_maximized());

  // The next exit replaces both keys in place.
  const std::array<int, 10> normal = placement_for({-5, 0, 900, 700}, false).to_list();
  save_window_placement(profile, false, normal);
  s = load_shell_settings(profile);
  EXPECT_FALSE(s.is_zoomed);
  EXPECT_EQ(s.position, normal);
  EXPECT_EQ(files.files[kPath].find("IsZoomed"), files.files[kPath].rfind("IsZoomed"));

  // A list the user shortened or spoilt is no placement at all.
  for (const char* bad : {"1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8:9:x", ""}) {
    files.files[kPath] = std::string("[Settings]\nPosition=") + bad + "\n";
    EXPECT_FALSE(load_window_position(profile).has_value()) << bad;
  }
}

TEST_F(ShellSettingsTest, PagesRoundTrip) {
  ShellSettings s;
  s.window_top_most = true;
  s.minimized = true;
  s.notice_box = true;
  s.notice_box_interval = 30;
  s.surveil_auto_start = true;
  s.session_auto_start = false;
  s.notice = {0x112233, 0x445566, true, 0, 30000};
  s.tray_icon = {1, 2, 3, 2, 1, 1};
  s.task_tray_monitor = true;
  s.font_enum_check = false;
  s.font_enum_draw = false;
  save_view_page(profile, s);
  save_notice_box(profile, s.notice);
  save_tasktray_page(profile, s);
  save_font_list_flags(profile, s);
  save_options_position(profile, 5, 1);
  save_shell_flag(profile, ShellFlag::MiniMonitor, true);
  save_shell_flag(profile, ShellFlag::TaskTrayIcon, false);

  const ShellSettings r = load_shell_settings(profile);
  EXPECT_TRUE(r.window_top_most);
  EXPECT_TRUE(r.minimized);
  EXPECT_TRUE(r.notice_box);
  EXPECT_EQ(r.notice_box_interval, 30);
  EXPECT_TRUE(r.surveil_auto_start);
  EXPECT_FALSE(r.session_auto_start);
  EXPECT_EQ(r.notice.bk_color, 0x112233);
  EXPECT_EQ(r.notice.alpha_level, 0);
  EXPECT_EQ(r.notice.time_out_ms, 30000);
  EXPECT_EQ(r.tray_icon.font, 2);
  EXPECT_EQ(r.tray_icon.high_dpi, 1);
  EXPECT_TRUE(r.task_tray_monitor);
  EXPECT_FALSE(r.font_enum_check);
  EXPECT_FALSE(r.font_enum_draw);
  EXPECT_EQ(r.config_sel, 5);
  EXPECT_EQ(r.config_tab, 1);
  EXPECT_TRUE(r.mini_monitor);
  EXPECT_FALSE(r.task_tray_icon);
}

}  // namespace
}  // namespace tw::shell
