// The figures file in the runtime: written every 5 s and at the end, to the
// file the setting names (relative names from the data folder) or the fixed
// one, re-read after the options changed, with one warning per failing spell
// and not one per write.
#include "app/metrics_feature.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_store.h"

namespace tw::app {
namespace {

using ::testing::HasSubstr;

constexpr char kIni[] = "/data/tarnix_u@h.ini";

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

struct Rig {
  explicit Rig(const std::string& ini, std::string fixed = "") {
    files.files[kIni] = ini;
    clock.set_ms(1000);
    feature = std::make_unique<MetricsFeature>(
        runtime, profile, files, "/data/", std::move(fixed),
        MetricsFeature::Hooks{[this](const std::string& t) { warnings.push_back(t); },
                              [this](const std::string& t) { notes.push_back(t); }});
    feature->add_section([this](metrics::Figures& f) {
      f.sessions = metrics::SessionSection{true, connections, 0, 0, std::nullopt};
    });
  }
  int connections = 1;
  platform::FakeFileStore files;
  platform::FakeClock clock;
  NoBeep beeper;
  settings::Profile profile{files, kIni};
  logging::LogEngine logs{profile, files, clock, beeper, Language::English, "/data/"};
  Runtime runtime{profile, logs};
  std::vector<std::string> warnings, notes;
  std::unique_ptr<MetricsFeature> feature;
};

TEST(MetricsFeature, WritesEveryFiveSecondsAndAtTheEndAndTellsAFailingFileOnce) {
  Rig rig("[Settings]\nMetricsFile=/node/tarnwatch.prom\n");
  const std::string path = "/node/tarnwatch.prom";
  rig.runtime.start();
  EXPECT_EQ(rig.runtime.ms_until_next(1000), 5000u);  // the logs' timers are longer
  rig.runtime.run_due(6000);
  EXPECT_THAT(rig.files.files[path], HasSubstr("tarnwatch_session_connections 1\n"));

  rig.files.unwritable.insert(path);
  rig.runtime.run_due(11000);
  rig.runtime.run_due(16000);
  ASSERT_EQ(rig.warnings.size(), 1u);  // not one every 5 s
  EXPECT_THAT(rig.warnings[0], HasSubstr(path));
  rig.files.unwritable.clear();
  rig.connections = 7;
  rig.runtime.shutdown(false);  // the final figures
  EXPECT_THAT(rig.files.files[path], HasSubstr("tarnwatch_session_connections 7\n"));
  EXPECT_EQ(rig.notes.size(), 1u);  // working again
}

TEST(MetricsFeature, OffByDefaultRelativeFromTheDataFolderAndReloaded) {
  Rig off("");
  off.runtime.start();
  off.runtime.fire_timer(kTimerMetricsFile);
  EXPECT_EQ(off.feature->path(), "");
  EXPECT_EQ(off.files.replace_count, 0);

  Rig rel("[Settings]\nMetricsFile=m.prom\n");
  EXPECT_EQ(rel.feature->path(), "/data/m.prom");
  rel.files.files[kIni] = "[Settings]\nMetricsFile=\n";  // switched off in the options
  rel.runtime.reload_settings();
  EXPECT_EQ(rel.feature->path(), "");

  // tarnixd's --metrics-file wins over the setting, reloads included.
  Rig fixed("[Settings]\nMetricsFile=m.prom\n", "/run/fixed.prom");
  fixed.runtime.reload_settings();
  EXPECT_EQ(fixed.feature->path(), "/run/fixed.prom");
}

}  // namespace
}  // namespace tw::app
