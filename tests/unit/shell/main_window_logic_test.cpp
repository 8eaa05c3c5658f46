#include "shell/main_window_logic.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace tw::shell {
namespace {

TEST(MainTabs, LabelsReadInTabOrderInBothLanguages) {
  const std::vector<std::string> en{"Traffic Monitor", "Packet Monitor", "Session Monitor", "Packet Filter",
                                    "Interface",       "Statistics",     "NSLOOKUP",        "NETSTAT",
                                    "WHOIS",           "PING",           "TRACERT"};
  const std::vector<std::string> ja{"トラフィックモニター", "IP監視モニター", "セッションモニター",
                                    "パケットフィルター",   "IF詳細",         "統計値",
                                    "NSLOOKUP",             "NETSTAT",        "WHOIS",
                                    "PING",                 "TRACERT"};
  for (int tab = 0; tab < kMainTabCount; ++tab) {
    EXPECT_EQ(page_label(Language::English, page_at_tab(tab)), en[static_cast<std::size_t>(tab)]);
    EXPECT_EQ(page_label(Language::Japanese, page_at_tab(tab)), ja[static_cast<std::size_t>(tab)]);
    EXPECT_EQ(tab_of_page(page_at_tab(tab)), tab);
    // Tab labels are limited to 20 characters.
    EXPECT_LE(en[static_cast<std::size_t>(tab)].size(), 20u);
  }
  // The stored position is a tab position, not a page index.
  EXPECT_EQ(page_at_tab(0), MainPage::TrafficMonitor);
  EXPECT_EQ(tab_of_page(MainPage::PacketMonitor), 1);
  EXPECT_EQ(tab_of_page(MainPage::Whois), 8);
}

TEST(MainTabs, StoredPositionIsClampedAndSteppingStopsOrWraps) {
  EXPECT_EQ(clamp_main_tab(-3), 0);
  EXPECT_EQ(clamp_main_tab(0), 0);
  EXPECT_EQ(clamp_main_tab(10), 10);
  EXPECT_EQ(clamp_main_tab(99), 10);
  EXPECT_EQ(clamp_main_tab(INT_MIN), 0);
  EXPECT_EQ(clamp_main_tab(INT_MAX), 10);
  EXPECT_EQ(page_at_tab(99), MainPage::Tracert);

  // Ctrl+Page Down / Up: one step, no movement past the ends.
  EXPECT_EQ(tab_to_the_left(0), 0);
  EXPECT_EQ(tab_to_the_left(5), 4);
  EXPECT_EQ(tab_to_the_right(10), 10);
  EXPECT_EQ(tab_to_the_right(5), 6);
  // The page commands wrap around.
  EXPECT_EQ(next_tab_wrapping(10), 0);
  EXPECT_EQ(next_tab_wrapping(3), 4);
  EXPECT_EQ(previous_tab_wrapping(0), 10);
  EXPECT_EQ(previous_tab_wrapping(3), 2);
  // Out-of-range input is clamped first: never an index outside the tabs.
  EXPECT_EQ(next_tab_wrapping(INT_MAX), 0);
  EXPECT_EQ(previous_tab_wrapping(INT_MIN), 10);
  EXPECT_EQ(tab_to_the_right(INT_MAX), 10);
}

TEST(MainTexts, ExitConfirmationAndMenus) {
  EXPECT_TRUE(exit_needs_confirmation(false, true));
  EXPECT_FALSE(exit_needs_confirmation(true, true));   // forced close: restart after resume
  EXPECT_FALSE(exit_needs_confirmation(false, false));
  EXPECT_EQ(exit_question(Language::English), "Exit the Application.\nAre you sure?");
  EXPECT_EQ(tray_menu_text(Language::English, kTrayMenuItems.front()), "Back to original size(&R)");
  EXPECT_EQ(window_menu_text(Language::Japanese, WindowMenuItem::CenterMiniMonitor),
            "ミニモニターをデスクトップ中央へ(&U)");
}

TEST(Snapshot, NamesCarryTheSecondAndFollowTheLogRootFolder) {
  const platform::LocalTime t{2024, 3, 7, 9, 5, 1};
  EXPECT_EQ(snapshot_stamp(t), "20240307_090501");

  auto p = snapshot_paths("/home/u/.config/tarnwatch/", "tarnix", "", t);
  EXPECT_EQ(p.temporary, "/home/u/.config/tarnwatch/tarnix_snap20240307_090501.tmp");
  EXPECT_EQ(p.image, "/home/u/.config/tarnwatch/tarnix_snap20240307_090501.png");

  // A valid log root folder takes the image; the name is appended as it is.
  p = snapshot_paths("/data/", "tarnix", "/var/log/tw/", t);
  EXPECT_EQ(p.image, "/var/log/tw/tarnix_snap20240307_090501.png");
  EXPECT_EQ(p.temporary, "/data/tarnix_snap20240307_090501.tmp");
  p = snapshot_paths("/data/", "tarnix", "/var/log/tw", t);
  EXPECT_EQ(p.image, "/var/log/twtarnix_snap20240307_090501.png");

  // A relative folder (or a Windows drive path from an old file) is not valid.
  for (const char* bad : {"logs/", "C:\\logs\\", "~/logs/"}) {
    p = snapshot_paths("/data", "tarnix", bad, t);
    EXPECT_EQ(p.image, "/data/tarnix_snap20240307_090501.png") << bad;
  }
}

// After every event that may put the main window over the Mini Monitor, an
// open Mini Monitor is raised again; only its own menu gives it the focus.
TEST(Stacking, MiniMonitorEndsUpOverTheMainWindow) {
  using E = StackingEvent;
  for (E e : {E::StartedUp, E::MiniMonitorOpened, E::MiniMonitorCentred, E::TopmostFromMiniMonitor,
              E::TopmostFromMainWindow, E::MainWindowRestored}) {
    const StackingOrder open = stacking_after(e, true, true);
    EXPECT_TRUE(open.raise_mini) << static_cast<int>(e);
    EXPECT_EQ(open.activate_mini, e == E::TopmostFromMiniMonitor) << static_cast<int>(e);
    EXPECT_EQ(open.activate_main, e == E::MainWindowRestored) << static_cast<int>(e);
    EXPECT_EQ(stacking_after(e, false, true), (StackingOrder{e == E::MainWindowRestored, false, false}));
  }
  // A main window hidden in the tray is not pulled forward.
  EXPECT_EQ(stacking_after(E::MainWindowRestored, true, false), (StackingOrder{false, true, false}));
}

TEST(Placement, ListRoundTripAndMaximisedFlag) {
  const WindowPlacement normal = placement_for({10, 20, 830, 480}, false);
  EXPECT_EQ(normal.to_list(), (std::array<int, 10>{0, 1, -1, -1, -1, -1, 10, 20, 830, 480}));
  const WindowPlacement max = placement_for({10, 20, 830, 480}, true);
  EXPECT_TRUE(max.restore_maximized());
  EXPECT_EQ(max.show_cmd, kShowMaximized);
  const WindowPlacement back = WindowPlacement::from_list(max.to_list());
  EXPECT_EQ(back.to_list(), max.to_list());
  EXPECT_EQ(back.normal, (PixelRect{10, 20, 830, 480}));
}

// The stored rectangle is the frame's corner and the client's size; what
// one start stores, the next one restores to the same client area, so that
// the window stays put start after start under any frame.
TEST(Placement, FrameAndClientConvertBothWaysUnderAnyFrame) {
  for (const FrameMargins m : {FrameMargins{1, 20, 1, 1}, FrameMargins{0, 0, 0, 0}, FrameMargins{4, 28, 6, 5}}) {
    const PixelRect client{238, 187, 1041, 627};
    const PixelRect stored = stored_normal_rect(client, m);
    EXPECT_EQ(stored, (PixelRect{238 - m.left, 187 - m.top, 1041 - m.left, 627 - m.top}));
    PixelRect restored = client;
    for (int start = 0; start < 3; ++start) {
      const auto list = placement_for(stored_normal_rect(restored, m), false).to_list();
      restored = client_rect_for(WindowPlacement::from_list(list).normal, m);
      EXPECT_EQ(restored, client) << m.top << ", start " << start;
    }
  }
}

TEST(Placement, BroughtBackOnScreen) {
  const std::vector<PixelRect> one{{0, 0, 1920, 1040}};
  const std::vector<PixelRect> two{{0, 0, 1920, 1040}, {1920, 0, 3840, 1080}};

  // On screen: kept, also partly past an edge while the top band can be grabbed.
  EXPECT_EQ(bring_on_screen({100, 100, 900, 540}, one, 770, 200), (PixelRect{100, 100, 900, 540}));
  EXPECT_EQ(bring_on_screen({-700, 100, 100, 540}, one, 770, 200), (PixelRect{-700, 100, 100, 540}));
  EXPECT_EQ(bring_on_screen({2000, 50, 2800, 490}, two, 770, 200), (PixelRect{2000, 50, 2800, 490}));

  // The second monitor went away: centred on the primary, size kept.
  EXPECT_EQ(bring_on_screen({2000, 50, 2800, 490}, one, 770, 200), (PixelRect{560, 300, 1360, 740}));
  // Title band above the top of the screen, or only a sliver left: centred.
  EXPECT_EQ(bring_on_screen({100, -30, 900, 410}, one, 770, 200).top, 300);
  EXPECT_EQ(bring_on_screen({1900, 100, 2700, 540}, one, 770, 200).left, 560);

  // Sizes below the minimum are raised, sizes beyond every screen capped.
  EXPECT_EQ(bring_on_screen({100, 100, 110, 110}, one, 770, 200), (PixelRect{100, 100, 870, 300}));
  EXPECT_EQ(bring_on_screen({0, 0, 90000, 90000}, one, 770, 200), (PixelRect{0, 0, 1920, 1040}));
  EXPECT_EQ(bring_on_screen({500, 500, 100, 100}, one, 770, 200), (PixelRect{500, 500, 1270, 700}));

  // Hand-edited extremes neither overflow nor stay lost.
  const PixelRect r = bring_on_screen({INT_MAX, INT_MIN, INT_MIN, INT_MAX}, one, 770, 200);
  EXPECT_EQ(r, (PixelRect{575, 0, 1345, 1040}));
}

// Without a choice of the user's, a session with an X server runs on X11,
// also when it offers Wayland as well; Wayland only when there is no X.
TEST(WindowSystem, PlatformChoice) {
  EXPECT_EQ(choose_qpa_platform({"", ":0", "wayland-0", false}), "xcb;wayland");  // XWayland
  EXPECT_EQ(choose_qpa_platform({"", ":1", "", false}), "xcb");
  EXPECT_EQ(choose_qpa_platform({"", "", "wayland-0", false}), "");  // Wayland alone: Qt's choice
  EXPECT_EQ(choose_qpa_platform({"", "", "", false}), "");
  // The user's choice stands.
  EXPECT_EQ(choose_qpa_platform({"wayland", ":0", "wayland-0", false}), "");
  EXPECT_EQ(choose_qpa_platform({"offscreen", ":0", "", false}), "");
  EXPECT_EQ(choose_qpa_platform({"", ":0", "wayland-0", true}), "");

  EXPECT_TRUE(platform_places_windows("xcb"));
  EXPECT_TRUE(platform_places_windows("offscreen"));
  for (const char* name : {"wayland", "wayland-egl", "wayland-xcomposite-glx"}) EXPECT_FALSE(platform_places_windows(name));
}

}  // namespace
}  // namespace tw::shell
