// The speed labels over the traffic graph, read back from drawn frames: room
// for the first row's halo, rows that do not run into each other, and one
// column position shared by both rows, in both languages.
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/graph_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/label_text.h"
#include "ui/traffic/traffic_graph.h"

namespace tw::ui {
namespace {

// A graph of a link running steadily at about 1230 Mbps each way, so that
// the maxima and the smoothed speeds read alike and every integer has four
// digits.
QImage steady_frame(Language lang) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/data/tarnix_labels@host.ini");
  platform::FakeLinkStats links;
  links.add("eth0");
  platform::FakeClock clock;
  clock.set_ms(100000);
  clock.set_wall({2024, 5, 6, 7, 8, 9});
  traffic::TrafficMonitor monitor(profile, links, clock, lang);
  monitor.select_interface(0);
  for (int i = 0; i < 400; ++i) {
    links.rows[0].out_octets += 7'700'000;
    links.rows[0].in_octets += 7'700'000;
    clock.advance_ms(50);
    monitor.tick();
  }
  TrafficGraph graph(monitor, profile, lang);
  graph.set_clock(clock);
  graph.resize(803, 440);
  for (int i = 0; i < 12; ++i) graph.render();
  return graph.frame();
}

// Pixels of the label band that differ from the "Background" colour.
struct Band {
  QImage frame;
  int height = 0;
  QRgb back = 0;
  bool ink(int x, int y) const { return (frame.pixel(x, y) & 0xFFFFFF) != (back & 0xFFFFFF); }
  bool row_inked(int y) const {
    for (int x = 0; x < frame.width(); ++x)
      if (ink(x, y)) return true;
    return false;
  }
  // Columns with ink anywhere in rows [top, bottom).
  std::vector<bool> columns(int top, int bottom) const {
    std::vector<bool> out(static_cast<std::size_t>(frame.width()));
    for (int x = 0; x < frame.width(); ++x)
      for (int y = top; y < bottom && !out[static_cast<std::size_t>(x)]; ++y) out[static_cast<std::size_t>(x)] = ink(x, y);
    return out;
  }
};

// Where the ink after the widest blank stretch begins: the second column's
// head (the gap between a head and its four-digit integer is one space).
int second_column_start(const std::vector<bool>& inked) {
  const auto first = std::find(inked.begin(), inked.end(), true);
  int best_gap = 0, best_start = -1, gap = 0;
  for (auto it = first; it != inked.end(); ++it) {
    if (!*it) {
      ++gap;
      continue;
    }
    if (gap > best_gap) {
      best_gap = gap;
      best_start = static_cast<int>(it - inked.begin());
    }
    gap = 0;
  }
  return best_start;
}

TEST(GraphLabels, RowsClearTheTopEdgeAndEachOtherAndShareTheirColumns) {
  for (Language lang : {Language::English, Language::Japanese}) {
    SCOPED_TRACE(lang == Language::English ? "English" : "Japanese");
    Band band;
    band.frame = steady_frame(lang);
    band.height = traffic::label_band_height(22);
    band.back = QColor(0x00, 0x00, 0x10).rgb();  // "Background" 0x100000
    ASSERT_EQ(band.frame.pixel(band.frame.width() - 1, 0) & 0xFFFFFF, band.back & 0xFFFFFF);

    // The first row's halo is whole and clear of the top edge.
    EXPECT_FALSE(band.row_inked(0));
    // Two rows of text with at least one clear pixel row between them.
    std::vector<std::pair<int, int>> rows;
    for (int y = 0; y < band.height; ++y) {
      if (!band.row_inked(y)) continue;
      if (!rows.empty() && rows.back().second == y - 1)
        rows.back().second = y;
      else
        rows.emplace_back(y, y);
    }
    ASSERT_EQ(rows.size(), 2u);

    // Both rows' second labels begin with the same word ("Recv", "受信"), so
    // their first thirty columns of ink line up when the column is shared.
    const std::vector<bool> first = band.columns(rows[0].first, rows[0].second + 1);
    const std::vector<bool> second = band.columns(rows[1].first, band.height);
    const int x0 = second_column_start(first);
    ASSERT_GT(x0, 200);
    for (int x = x0 - 1; x < x0 + 30; ++x)
      EXPECT_EQ(first[static_cast<std::size_t>(x)], second[static_cast<std::size_t>(x)]) << "x " << x;
  }
}

// Heads in a face whose lines are taller than the font size push the
// second row down; each column fits the wider of its two labels.
TEST(GraphLabels, GridFollowsTheMeasuredText) {
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setPixelSize(30);
  const QFontMetrics fm(font);
  const auto width = [&fm](const QString& s) { return fm.horizontalAdvance(s); };
  const std::array<std::array<QString, 2>, 2> heads{{{"A:", "Receive MAX:"}, {"Average:", "B:"}}};
  const SpeedLabelGrid g = speed_label_grid(font, 10, 8, heads, width, "0000", "0000.000 0000");
  EXPECT_EQ(g.row_top[0], 2);
  EXPECT_GE(g.row_top[1] - g.row_top[0], fm.height() + 2);  // the halos too
  EXPECT_EQ(g.column_x[0], 8);
  EXPECT_EQ(g.column_x[1], 8 + width("Average: 0000.000 0000"));
  EXPECT_EQ(g.integer_end[0], 8 + width("Average: 0000"));
  EXPECT_EQ(g.integer_end[1], g.column_x[1] + width("Receive MAX: 0000"));

  // A font size above the line height keeps the rows that far apart.
  EXPECT_EQ(speed_label_grid(font, 60, 8, heads, width, "0000", "0000.000 0000").row_top[1], 62);
}

}  // namespace
}  // namespace tw::ui
