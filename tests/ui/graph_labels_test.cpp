// The speed labels over the traffic graph, read back from drawn frames: room
// for the first row's halo, rows that do not run into each other, and one
// column position shared by both rows, in both languages.
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "settings/profile.h"
#include "traffic/graph_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/traffic_graph.h"

namespace tw::ui {
namespace {

// A link running steadily at about 1230 Mbps each way: the maxima and the
// smoothed speeds read alike, and every integer has four digits.
QImage steady_frame(Language lang) {
  platform::FakeFileStore files;
  settings::Profile profile(files, "/data/tarnix_labels@host.ini");
  platform::FakeLinkStats links;
  links.add("eth0");
  platform::FakeClock clock;
  clock.set_ms(100000);
  traffic::TrafficMonitor monitor(profile, links, clock, lang);
  monitor.select_interface(0);
  for (int i = 0; i < 400; ++i) {
    links.rows[0].out_octets += 7'700'000;
    links.rows[0].in_octets += 7'700'000;
    clock.advance_ms(50);
    monitor.tick();
  }
  TrafficGraph graph(monitor, profile, lang, clock);
  graph.resize(803, 440);
  for (int i = 0; i < 12; ++i) graph.render();
  return graph.frame();
}

// Which columns of rows [top, bottom) differ from the "Background" colour.
std::vector<bool> inked_columns(const QImage& frame, int top, int bottom) {
  const QRgb back = QColor(0x00, 0x00, 0x10).rgb();  // "Background" 0x100000
  std::vector<bool> out(static_cast<std::size_t>(frame.width()));
  for (int x = 0; x < frame.width(); ++x)
    for (int y = top; y < bottom && !out[static_cast<std::size_t>(x)]; ++y)
      out[static_cast<std::size_t>(x)] = frame.pixel(x, y) != back;
  return out;
}

TEST(GraphLabels, RowsClearTheTopEdgeAndEachOtherAndShareTheirColumns) {
  for (Language lang : {Language::English, Language::Japanese}) {
    SCOPED_TRACE(lang == Language::English ? "English" : "Japanese");
    const QImage frame = steady_frame(lang);
    const int band = traffic::label_band_height(22);
    // Runs of pixel rows with label ink: the first row's halo stays off the
    // top edge, and a clear pixel row lies between the two label rows.
    std::vector<std::pair<int, int>> rows;
    for (int y = 0; y < band; ++y) {
      const auto ink = inked_columns(frame, y, y + 1);
      if (std::find(ink.begin(), ink.end(), true) == ink.end()) continue;
      if (!rows.empty() && rows.back().second == y - 1)
        rows.back().second = y;
      else
        rows.emplace_back(y, y);
    }
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_GT(rows[0].first, 0);

    // Both second labels begin with the same word ("Recv", "受信") after the
    // widest gap of the row (a head and its integer are a space apart), so
    // their first thirty columns of ink match when the column is shared.
    const auto first = inked_columns(frame, rows[0].first, rows[0].second + 1);
    const auto second = inked_columns(frame, rows[1].first, band);
    int gap = 0, widest = 0, x0 = -1;
    for (std::size_t x = static_cast<std::size_t>(std::find(first.begin(), first.end(), true) - first.begin());
         x < first.size(); ++x) {
      if (!first[x]) {
        ++gap;
        continue;
      }
      if (gap > widest) {
        widest = gap;
        x0 = static_cast<int>(x);
      }
      gap = 0;
    }
    ASSERT_GT(x0, 200);
    for (int x = x0 - 1; x < x0 + 30; ++x)
      EXPECT_EQ(first[static_cast<std::size_t>(x)], second[static_cast<std::size_t>(x)]) << "x " << x;
  }
}

}  // namespace
}  // namespace tw::ui
