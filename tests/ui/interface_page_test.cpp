// The Interface tab on the offscreen platform, with fake sources.
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include "platform/fake/fake_file_store.h"
#include "platform/link_stats.h"
#include "platform/network_info.h"
#include "settings/profile.h"
#include "ui/pages/interface_page.h"

namespace tw::ui {
namespace {

class FakeNetworkInfo : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams& out) override {
    ++queries;
    out = {};
    out.host_name = host;
    if (params_error != 0) return Error{"Cannot read the network parameters.", "", static_cast<int>(params_error)};
    return {};
  }
  Status adapters(std::vector<platform::AdapterInfo>& out) override {
    out.clear();
    platform::AdapterInfo a;
    a.index = 7;
    a.name = "eth0";
    a.description = "eth0";
    out.push_back(a);
    return {};
  }
  std::string host = "deskpc";
  std::uint32_t params_error = 0;
  int queries = 0;
};

class FakeLinks : public platform::LinkStatsSource {
 public:
  Status read_table(std::vector<platform::LinkRow>& rows) override {
    rows.assign(1, platform::LinkRow{});
    rows[0].name = "lo";
    rows[0].type = 24;
    return {};
  }
};

struct Fixture {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/cfg/tarnix_user@host.ini"};
  FakeNetworkInfo info;
  FakeLinks links;
};

TEST(InterfacePage, ShowingThePageBuildsTheThreeReports) {
  Fixture f;
  InterfacePage page(f.profile, f.info, f.links, Language::English);
  EXPECT_EQ(f.info.queries, 0) << "nothing is queried before the page is shown";
  page.show();
  EXPECT_EQ(f.info.queries, 1);
  const QString text = page.output()->toPlainText();
  EXPECT_TRUE(page.output()->isReadOnly());
  EXPECT_FALSE(text.contains('\r'));
  const qsizetype params = text.indexOf("----- Network Parameter      ---");
  const qsizetype adapters = text.indexOf("----- Adapter Information ---");
  const qsizetype interfaces = text.indexOf("----- Interface Information ---");
  EXPECT_EQ(params, 0);
  EXPECT_GT(adapters, params);
  EXPECT_GT(interfaces, adapters);
  EXPECT_TRUE(text.contains("Hostname:                    deskpc\n"));
  EXPECT_TRUE(text.contains("Adapter Name:                eth0\n"));
  EXPECT_TRUE(text.contains("Interface Type               SoftwareLoopback(24)\n"));

  // Each showing asks again: the page always shows the current state.
  f.info.host = "renamed";
  page.hide();
  page.show();
  EXPECT_EQ(f.info.queries, 2);
  EXPECT_TRUE(page.output()->toPlainText().contains("Hostname:                    renamed\n"));
}

TEST(InterfacePage, FailedQueryShowsItsCodeAndTheOtherReportsStill) {
  Fixture f;
  f.info.params_error = 13;
  InterfacePage page(f.profile, f.info, f.links, Language::Japanese);
  page.refresh();
  const QString text = page.output()->toPlainText();
  EXPECT_TRUE(text.contains("NetworkParams failed. 0000000D\n"));
  EXPECT_TRUE(text.contains(QString::fromUtf8("----- アダプター情報")));
  EXPECT_TRUE(text.contains(QString::fromUtf8("----- インターフェイス情報")));
}

TEST(InterfacePage, OutputBoxUsesTheSettingsColoursAndAMonospaceFace) {
  Fixture f;
  {
    InterfacePage page(f.profile, f.info, f.links, Language::English);
    EXPECT_EQ(page.output()->palette().color(QPalette::Base), QColor(0, 0, 0));
    EXPECT_EQ(page.output()->palette().color(QPalette::Text), QColor(255, 255, 255));
    const QFont font = page.output()->font();
    EXPECT_EQ(font.family(), "Lucida Console");
    EXPECT_EQ(font.styleHint(), QFont::Monospace);
  }
  // 0x00BBGGRR: red in the low byte.
  f.profile.write_int("Interface", "Color00", 0x203040);
  f.profile.write_int("Interface", "Color01", 0x00FF80);
  InterfacePage page(f.profile, f.info, f.links, Language::English);
  EXPECT_EQ(page.output()->palette().color(QPalette::Base), QColor(0x40, 0x30, 0x20));
  EXPECT_EQ(page.output()->palette().color(QPalette::Text), QColor(0x80, 0xFF, 0x00));

  f.profile.write_int("Interface", "Color00", 0x0000FF);
  page.reload_settings();
  EXPECT_EQ(page.output()->palette().color(QPalette::Base), QColor(255, 0, 0));
}

}  // namespace
}  // namespace tw::ui
