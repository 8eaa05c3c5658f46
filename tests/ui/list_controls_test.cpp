// The report-list pieces with a two-column stand-in for the monitors' lists:
// colours reaching the screen, widths kept in the settings file, the copy
// text, the sort mark, and row updates that never reset the view.
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QImage>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/fake/fake_file_store.h"
#include "settings/profile.h"
#include "ui/controls/list_copy.h"
#include "ui/controls/list_font.h"
#include "ui/controls/report_list_view.h"
#include "ui/models/list_model_base.h"

namespace tw::ui {
namespace {

// Hosts and ports; remote ports below 1024 are drawn in red, and one host
// gets a background of its own.
class PortModel : public ListModelBase {
 public:
  enum Column { kHost, kPort, kColumnCount };
  static constexpr shell::ListColumn kColumns[kColumnCount] = {
      {"Hostname", "ホスト", 120, shell::ColumnAlign::Left},
      {"Port", "ポート", 60, shell::ColumnAlign::Right},
  };
  struct Record {
    std::string host;
    int port;
  };

  explicit PortModel(Language lang = Language::English) : ListModelBase(kColumns, lang) {}

  void show(const std::vector<Record>& records) {
    std::vector<ListRow> rows;
    for (const Record& r : records) rows.push_back(make_row(r));
    replace_rows(std::move(rows));
  }
  static ListRow make_row(const Record& r) {
    ListRow row(kColumnCount);
    row[kHost].text = QString::fromStdString(r.host);
    if (r.host == "marked") row[kHost].background = kMarkBackground;
    row[kPort].text = QString::number(r.port);
    if (r.port < 1024) row[kPort].foreground = kLowPort;
    return row;
  }

  static inline const QColor kMarkBackground{0x20, 0x40, 0xC0};
  static inline const QColor kLowPort{0xFF, 0x00, 0x00};
};

constexpr const char* kPath = "/d/tarnix_u@h.ini";

struct ListControls : ::testing::Test {
  ListControls() {
    view.set_list_model(&model);
    view.resize(300, 200);
  }
  std::string ini() const { return files.files.count(kPath) ? files.files.at(kPath) : std::string(); }
  QRect cell(int row, int column) { return view.visualRect(model.index(row, column)); }
  QImage grab() { return view.viewport()->grab().toImage(); }

  platform::FakeFileStore files;
  settings::Profile profile{files, kPath};
  PortModel model;
  ReportListView view;
};

int count_pixels(const QImage& img, const QRect& r, const QColor& c) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += img.pixelColor(x, y) == c;
  return n;
}

TEST_F(ListControls, CellColoursReachTheScreenAndSelectionOverridesThem) {
  const QColor base(0, 0, 0), text(0xFF, 0xFF, 0xFF);
  view.set_base_colors(0x000000, 0xFFFFFF);
  QFont big = view.font();
  big.setPixelSize(20);
  big.setBold(true);  // thick strokes give pixels of the pure text colour
  view.setFont(big);
  view.header()->resizeSection(PortModel::kPort, 150);
  model.show({{"marked", 80}, {"plain", 8080}, {"other", 443}});
  QImage img = grab();

  const QRect marked = cell(0, PortModel::kHost);
  EXPECT_EQ(img.pixelColor(marked.left() + 1, marked.top() + 1), PortModel::kMarkBackground);
  EXPECT_EQ(img.pixelColor(marked.right() - 1, marked.bottom() - 1), PortModel::kMarkBackground);
  EXPECT_GT(count_pixels(img, marked, text), 0);  // no foreground: the list's text colour
  const QRect low = cell(0, PortModel::kPort);
  EXPECT_EQ(img.pixelColor(low.left() + 1, low.top() + 1), base);  // no background: the list's
  EXPECT_GT(count_pixels(img, low, PortModel::kLowPort), 0);
  const QRect high = cell(1, PortModel::kPort);
  EXPECT_EQ(count_pixels(img, high, PortModel::kLowPort), 0);
  EXPECT_GT(count_pixels(img, high, text), 0);
  // The port is right-aligned: its ink sits in the right half of the cell.
  const QRect high_left(high.topLeft(), QSize(high.width() / 2, high.height()));
  EXPECT_EQ(count_pixels(img, high_left, text), 0);

  view.selectionModel()->select(model.index(0, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  img = grab();
  const QPalette& pal = view.palette();
  const QColor highlight = pal.color(QPalette::Inactive, QPalette::Highlight);
  EXPECT_EQ(img.pixelColor(marked.left() + 1, marked.top() + 1), highlight);
  EXPECT_EQ(count_pixels(img, low, PortModel::kLowPort), 0);
  EXPECT_GT(count_pixels(img, low, pal.color(QPalette::Inactive, QPalette::HighlightedText)), 0);
}

TEST_F(ListControls, WidthsComeFromTheSettingsAndAreWrittenBackAtClose) {
  files.files[kPath] = "[Session]\nColnmWidth=0x50:-7\n";
  {
    ReportListView v;
    v.set_list_model(&model);
    v.keep_column_widths(profile, "Session");
    EXPECT_EQ(v.header()->sectionSize(0), 80);
    EXPECT_EQ(v.header()->sectionSize(1), 60);  // damaged: the default
    v.header()->resizeSection(0, 0);              // dragged shut
    v.header()->resizeSection(1, 75);
    ASSERT_TRUE(v.save_column_widths());
    EXPECT_EQ(profile.read_string("Session", "ColnmWidth", ""), "0:75");
    v.header()->resizeSection(0, 33);
    // A hidden column keeps the width it came with.
    v.header()->hideSection(1);
  }
  EXPECT_EQ(profile.read_string("Session", "ColnmWidth", ""), "33:60");
  {
    ReportListView bare;  // no columns: nothing to write, nothing wiped
    bare.keep_column_widths(profile, "Session");
  }
  EXPECT_EQ(profile.read_string("Session", "ColnmWidth", ""), "33:60");

  // Another list's section starts from the column table's defaults.
  ReportListView other;
  other.set_list_model(&model);
  other.keep_column_widths(profile, "Surveil");
  EXPECT_EQ(other.header()->sectionSize(0), 120);
  EXPECT_EQ(other.header()->sectionSize(1), 60);
}

TEST_F(ListControls, CopyTakesTheChosenColumnsOfTheSelectedRowsInListOrder) {
  model.show({{"a.example", 22}, {"b.example", 80}, {"c.example", 443}});
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("kept");
  EXPECT_FALSE(view.copy_selection());  // nothing selected: the clipboard stays
  EXPECT_EQ(clipboard->text(), "kept");

  auto select = [&](int row) {
    view.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  };
  select(2);
  select(0);
  EXPECT_EQ(copy_text(view, shell::parse_copy_items("1:1:0:0:0")), "a.example 22 \r\nc.example 443 \r\n");

  view.set_copy_items(shell::parse_copy_items("0:1:0:0:0"));
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), "22 \r\n443 \r\n");
}

TEST_F(ListControls, HeaderShowsTheModelsSortMarkWhateverIsClicked) {
  PortModel ja(Language::Japanese);
  EXPECT_EQ(ja.headerData(1, Qt::Horizontal).toString(), "ポート");
  EXPECT_EQ(ja.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);

  QHeaderView* h = view.header();
  EXPECT_FALSE(h->isSortIndicatorShown());
  model.set_sort_state({1, true});
  EXPECT_TRUE(h->isSortIndicatorShown());
  EXPECT_EQ(h->sortIndicatorSection(), 1);
  EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);

  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  QSignalSpy clicks(&view, &ReportListView::header_clicked);
  auto click = [&](int column) {
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(column) + 5, 5));
  };
  // An owner that does not sort (the filter grid): the mark does not move.
  click(0);
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.at(0).at(0).toInt(), 0);
  EXPECT_EQ(h->sortIndicatorSection(), 1);
  EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);

  // An owner that sorts: the mark follows the model.
  QObject::connect(&view, &ReportListView::header_clicked, &model, [this](int column) {
    shell::SortState s = model.sort_state();
    s.click(column);
    model.set_sort_state(s);
  });
  click(1);
  EXPECT_EQ(h->sortIndicatorSection(), 1);
  EXPECT_EQ(h->sortIndicatorOrder(), Qt::AscendingOrder);
  click(0);
  EXPECT_EQ(h->sortIndicatorSection(), 0);
  EXPECT_EQ(h->sortIndicatorOrder(), Qt::AscendingOrder);

  model.set_sort_state({});
  EXPECT_FALSE(h->isSortIndicatorShown());
}

struct ModelSignals {
  explicit ModelSignals(QAbstractItemModel* m)
      : reset(m, &QAbstractItemModel::modelReset), layout(m, &QAbstractItemModel::layoutChanged),
        inserted(m, &QAbstractItemModel::rowsInserted), removed(m, &QAbstractItemModel::rowsRemoved),
        changed(m, &QAbstractItemModel::dataChanged) {}
  // (top row, left column, bottom row, right column) of each dataChanged.
  std::vector<std::array<int, 4>> changes() const {
    std::vector<std::array<int, 4>> out;
    for (const auto& args : changed) {
      const auto tl = args.at(0).value<QModelIndex>(), br = args.at(1).value<QModelIndex>();
      out.push_back({tl.row(), tl.column(), br.row(), br.column()});
    }
    return out;
  }
  QSignalSpy reset, layout, inserted, removed, changed;
};

TEST_F(ListControls, RefreshAnnouncesOnlyWhatChangedAndSelectionStaysByPosition) {
  model.show({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}});
  view.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  ModelSignals s(&model);

  model.show({{"a", 1}, {"b", 20}, {"c", 30}, {"d", 4}, {"marked", 5}});
  EXPECT_EQ(s.changes(), (std::vector<std::array<int, 4>>{{1, 1, 2, 1}, {4, 0, 4, 0}}));
  EXPECT_EQ(model.index(4, 0).data(Qt::BackgroundRole).value<QColor>(), PortModel::kMarkBackground);
  model.show({{"a", 1}, {"b", 20}, {"c", 30}, {"d", 4}, {"marked", 5}});
  EXPECT_EQ(s.changed.count(), 2);  // nothing new, nothing announced
  // A colour change alone is a change too.
  model.show({{"a", 1}, {"b", 20}, {"c", 30}, {"d", 4000}, {"marked", 5}});
  EXPECT_EQ(s.changes().back(), (std::array<int, 4>{3, 1, 3, 1}));
  EXPECT_TRUE(s.inserted.isEmpty());
  EXPECT_TRUE(s.removed.isEmpty());

  model.show({{"x", 9}, {"y", 20}, {"c", 30}, {"d", 4000}, {"marked", 5}, {"f", 6}, {"g", 7}});
  ASSERT_EQ(s.inserted.count(), 1);
  EXPECT_EQ(s.inserted.at(0).at(1).toInt(), 5);
  EXPECT_EQ(s.inserted.at(0).at(2).toInt(), 6);
  model.show({{"x", 9}, {"y", 20}});
  ASSERT_EQ(s.removed.count(), 1);
  EXPECT_EQ(s.removed.at(0).at(1).toInt(), 2);
  EXPECT_EQ(s.removed.at(0).at(2).toInt(), 6);
  EXPECT_EQ(s.reset.count(), 0);
  EXPECT_EQ(s.layout.count(), 0);
  EXPECT_EQ(selected_rows(view), (std::vector<int>{1}));  // the same position, a new record

  model.show({});
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(s.reset.count(), 0);
}

TEST_F(ListControls, NewestOnTopWithACapMovesTheSelectionWithItsRow) {
  // The packet list: each new row goes on top and the oldest falls off.
  constexpr int kCap = 5;
  for (int i = 0; i < kCap; ++i) model.insert_rows(0, {PortModel::make_row({"h" + std::to_string(i), i})});
  view.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  ModelSignals s(&model);
  model.insert_rows(0, {PortModel::make_row({"new", 99})});
  model.remove_rows(kCap, model.rowCount());
  EXPECT_EQ(model.rowCount(), kCap);
  EXPECT_EQ(model.text(0, PortModel::kHost), "new");
  EXPECT_EQ(model.text(kCap - 1, PortModel::kHost), "h1");
  EXPECT_EQ(selected_rows(view), (std::vector<int>{3}));
  EXPECT_EQ(s.changed.count(), 0);
  EXPECT_EQ(s.reset.count(), 0);
  // Out-of-range requests change nothing.
  model.remove_rows(-3, 2);
  model.remove_rows(kCap, 10);
  model.set_row(kCap, PortModel::make_row({"x", 1}));
  EXPECT_EQ(model.rowCount(), kCap);
  EXPECT_EQ(s.removed.count(), 1);
}

// IPA Gothic at 12 px (a usual Japanese desktop face) hangs its period below
// the baseline like a comma: "192.0.2.2" reads "192,0,2,2". A Japanese list
// takes a face in which the two differ, and still draws Japanese.
TEST(ListFont, JapaneseListsTellThePeriodFromTheComma) {
  QFont ipa(QStringLiteral("IPAGothic"));
  ipa.setPixelSize(12);
  if (!QFontDatabase::writingSystems(QFontInfo(ipa).family()).contains(QFontDatabase::Japanese))
    GTEST_SKIP() << "IPA Gothic is not installed";
  EXPECT_FALSE(period_differs_from_comma(ipa));

  const QFont chosen = list_font(Language::Japanese, ipa);
  EXPECT_TRUE(period_differs_from_comma(chosen)) << QFontInfo(chosen).family().toStdString();
  EXPECT_EQ(QFontInfo(chosen).pixelSize(), 12);
  const QRawFont japanese = QRawFont::fromFont(chosen, QFontDatabase::Japanese);
  EXPECT_TRUE(japanese.supportsCharacter(QChar(0x30DB)));  // "ホ", as in the header "ホスト1"
  EXPECT_TRUE(japanese.supportsCharacter(QChar(0x6642)));  // "時"

  // The list view takes it for a Japanese model; English lists keep theirs.
  PortModel model_ja(Language::Japanese);
  ReportListView view_ja;
  view_ja.setFont(ipa);
  view_ja.set_list_model(&model_ja);
  EXPECT_TRUE(period_differs_from_comma(view_ja.font()));
  PortModel model_en;
  ReportListView view_en;
  view_en.setFont(ipa);
  view_en.set_list_model(&model_en);
  EXPECT_EQ(view_en.font(), ipa);
}

}  // namespace
}  // namespace tw::ui
