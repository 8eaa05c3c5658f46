#include "ui/options/traffic_pages.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

#include "logging/log_engine.h"
#include "logging/template.h"
#include "traffic/graph_logic.h"
#include "ui/common/qt_text.h"
#include "ui/options/color_list.h"
#include "ui/options/page_controls.h"

namespace tw::ui {

namespace {

QStringList unit_names() {
  return {QStringLiteral("KB/s"), QStringLiteral("Kbps"), QStringLiteral("MB/s"), QStringLiteral("Mbps")};
}

// Unit codes are taken modulo 4 wherever they are used.
int unit_position(int code) { return ((code % 4) + 4) % 4; }

// Period indices 0..9 stand for 50..500 ms.
QStringList period_names() {
  QStringList items;
  for (int i = 0; i < 10; ++i) items << QString::number((i + 1) * 50);
  return items;
}
int period_position(int value) { return value < 1 ? 0 : value >= 9 ? 9 : value; }

QCheckBox* check(QWidget* page, const char* key) { return page->findChild<QCheckBox*>(QString::fromLatin1(key)); }
QSpinBox* spin(QWidget* page, const char* key) { return page->findChild<QSpinBox*>(QString::fromLatin1(key)); }
QComboBox* combo(QWidget* page, const char* key) { return page->findChild<QComboBox*>(QString::fromLatin1(key)); }


}  // namespace

// ---------------------------------------------------------------------------

TrafficView1Page::TrafficView1Page(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::TrafficView1, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(make_check(this, "viewMode", tr2(lang, "To view detailed information (More)",
                                                     "詳細情報を表示する (More)")));
  layout->addWidget(make_check(this, "maxLineMode", tr2(lang, "'Send MAX' 'Recv MAX' to display",
                                                        "'Send MAX' 'Recv MAX' を表示する")));
  layout->addWidget(make_check(this, "reportMode", tr2(lang, "To enable alpha blending",
                                                       "アルファブレンドを有効にする")));
  layout->addWidget(make_check(this, "gradientMode", tr2(lang, "Enable the gradient of the graph drawing",
                                                         "グラフ描画のグラデーションを有効にする")));
  layout->addWidget(make_check(this, "reverse", tr2(lang, "To reverse the scroll direction of the graph.",
                                                      "グラフのスクロール方向を逆にする。")));
  layout->addWidget(make_check(this, "polyline", tr2(lang, "To draw polyline.", "折れ線を描画する。")));
  layout->addWidget(make_check(this, "doubleSampling", tr2(lang, "Double sampling", "ダブルサンプリング")));
  layout->addWidget(make_check(this, "scaleFixed", tr2(lang, "Fix the magnification scale.",
                                                      "表示倍率を固定する。")));
  auto* scale = new QHBoxLayout;
  scale->addSpacing(20);
  scale->addWidget(new QLabel(tr2(lang, "Magnification scale  1/", "表示倍率  1/"), this));
  scale->addWidget(make_spin(this, "scaleVal", 1, traffic::kMaxScaleVal));
  scale->addWidget(new QLabel(tr2(lang, "x (1 - 65536)", "倍 (1 - 65536)"), this));
  scale->addStretch();
  layout->addLayout(scale);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr2(lang, "MAX line period (20 samples)", "MAXラインの期間 (20サンプル単位)"), this), 0, 0);
  grid->addWidget(make_spin(this, "maxLineTime", 0, traffic::kMaxLineTimeLimit), 0, 1);
  grid->addWidget(new QLabel(tr2(lang, "Unit of 'MAX'", "MAX表示の単位"), this), 1, 0);
  grid->addWidget(make_combo(this, "maxUnit", unit_names()), 1, 1);
  grid->addWidget(new QLabel(tr2(lang, "Unit of 'AVE'", "AVE表示の単位"), this), 2, 0);
  grid->addWidget(make_combo(this, "aveUnit", unit_names()), 2, 1);
  grid->addWidget(new QLabel(tr2(lang, "Unit of the average speeds (More)", "平均速度の単位 (More)"), this), 3, 0);
  grid->addWidget(make_combo(this, "extUnit", unit_names()), 3, 1);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);
  layout->addStretch();
  connect(check(this, "scaleFixed"), &QCheckBox::toggled, this, [this] { update_enabled(); });
}

void TrafficView1Page::load() {
  // The graph's own loader, so the page shows the values the graph uses
  // (out-of-range numbers already brought into range, unit codes modulo 4).
  loaded_ = traffic::load_graph_settings(profile(), lang());
  const traffic::GraphSettings& g = loaded_;
  check(this, "viewMode")->setChecked(g.view_mode);
  check(this, "maxLineMode")->setChecked(g.max_line_mode);
  check(this, "reportMode")->setChecked(g.report_mode);
  check(this, "gradientMode")->setChecked(g.gradient_mode);
  check(this, "reverse")->setChecked(g.reverse);
  check(this, "polyline")->setChecked(g.polyline);
  check(this, "doubleSampling")->setChecked(g.double_sampling);
  check(this, "scaleFixed")->setChecked(g.scale_fixed);
  spin(this, "scaleVal")->setValue(g.scale_val);
  spin(this, "maxLineTime")->setValue(g.max_line_time);
  combo(this, "maxUnit")->setCurrentIndex(unit_position(g.max_unit));
  combo(this, "aveUnit")->setCurrentIndex(unit_position(g.ave_unit));
  combo(this, "extUnit")->setCurrentIndex(unit_position(g.ext_unit));
  update_enabled();
}

void TrafficView1Page::save() {
  traffic::GraphSettings g = loaded_;
  g.view_mode = check(this, "viewMode")->isChecked();
  g.max_line_mode = check(this, "maxLineMode")->isChecked();
  g.report_mode = check(this, "reportMode")->isChecked();
  g.gradient_mode = check(this, "gradientMode")->isChecked();
  g.reverse = check(this, "reverse")->isChecked();
  g.polyline = check(this, "polyline")->isChecked();
  g.double_sampling = check(this, "doubleSampling")->isChecked();
  g.scale_fixed = check(this, "scaleFixed")->isChecked();
  // The spin boxes hold only values the graph accepts (divisor 1..65536).
  g.scale_val = spin(this, "scaleVal")->value();
  g.max_line_time = spin(this, "maxLineTime")->value();
  g.max_unit = combo(this, "maxUnit")->currentIndex();
  g.ave_unit = combo(this, "aveUnit")->currentIndex();
  g.ext_unit = combo(this, "extUnit")->currentIndex();
  traffic::save_graph_view(profile(), g);
}

void TrafficView1Page::update_enabled() {
  spin(this, "scaleVal")->setEnabled(check(this, "scaleFixed")->isChecked());
}

// ---------------------------------------------------------------------------

TrafficView2Page::TrafficView2Page(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::TrafficView2, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  auto* fonts = new QGridLayout;
  fonts->addWidget(new QLabel(tr2(lang, "Large font", "大きいフォント"), this), 0, 0);
  font_name_ = new QComboBox(this);
  font_name_->setObjectName(QStringLiteral("fontName"));
  font_name_->setEditable(true);
  fonts->addWidget(font_name_, 0, 1);
  fonts->addWidget(make_spin(this, "fontSize", 0, traffic::kMaxFontPixels), 0, 2);
  fonts->addWidget(new QLabel(QStringLiteral("px"), this), 0, 3);
  fonts->addWidget(new QLabel(tr2(lang, "Small font", "小さいフォント"), this), 1, 0);
  font_name2_ = new QComboBox(this);
  font_name2_->setObjectName(QStringLiteral("fontName2"));
  font_name2_->setEditable(true);
  fonts->addWidget(font_name2_, 1, 1);
  fonts->addWidget(make_spin(this, "fontSize2", 0, traffic::kMaxFontPixels), 1, 2);
  fonts->addWidget(new QLabel(QStringLiteral("px"), this), 1, 3);
  fonts->setColumnStretch(1, 1);
  layout->addLayout(fonts);
  auto* styles = new QHBoxLayout;
  styles->addWidget(make_check(this, "largeFontEmphasis", tr2(lang, "Emphasis", "強調")));
  styles->addWidget(make_check(this, "englishLabels", tr2(lang, "English Style", "英語表記")));
  styles->addStretch();
  layout->addLayout(styles);
  enum_check_ = make_check(this, "fontEnumCheck", tr2(lang, "List only fixed-pitch fonts.",
                                                      "固定ピッチのフォントだけを一覧に表示する。"));
  enum_draw_ = make_check(this, "fontEnumDraw", tr2(lang, "Show the font names in their own face.",
                                                    "フォント名をそのフォントで表示する。"));
  layout->addWidget(enum_check_);
  layout->addWidget(enum_draw_);

  auto* timing = new QGridLayout;
  timing->addWidget(new QLabel(tr2(lang, "Sampling interval", "サンプリング間隔"), this), 0, 0);
  timing->addWidget(make_combo(this, "threadResponce", period_names()), 0, 1);
  timing->addWidget(new QLabel(tr2(lang, "ms (Def: 50ms)", "ms (初期値: 50ms)"), this), 0, 2);
  timing->addWidget(new QLabel(tr2(lang, "(Must be Restarted.)", "(再起動後に有効)"), this), 0, 3);
  timing->addWidget(new QLabel(tr2(lang, "Drawing interval", "描画間隔"), this), 1, 0);
  timing->addWidget(make_combo(this, "viewResponce", period_names()), 1, 1);
  timing->addWidget(new QLabel(QStringLiteral("ms"), this), 1, 2);
  timing->addWidget(new QLabel(tr2(lang, "Can specify the range of 50ms - 500ms",
                                   "50ms～500msの範囲で指定できます"), this), 1, 3);
  timing->setColumnStretch(4, 1);
  layout->addLayout(timing);

  layout->addWidget(make_check(this, "interfaceAutoReset",
                               tr2(lang, "Reset automatically when the network interface changes.",
                                   "ネットワークインターフェースが変わったら自動的にリセットする。")));
  auto* reset = new QHBoxLayout;
  reset->addSpacing(20);
  reset->addWidget(make_spin(this, "interfaceAutoResetTimer", 1, 65536));
  reset->addWidget(new QLabel(tr2(lang, "sec later", "秒後"), this));
  reset->addStretch();
  layout->addLayout(reset);
  layout->addStretch();

  connect(enum_check_, &QCheckBox::toggled, this, [this] { refill_font_lists(); });
  connect(enum_draw_, &QCheckBox::toggled, this, [this] { refill_font_lists(); });
  connect(check(this, "interfaceAutoReset"), &QCheckBox::toggled, this, [this] { update_enabled(); });
}

void TrafficView2Page::refill_font_lists() {
  const bool fixed_only = enum_check_->isChecked();
  const bool draw = enum_draw_->isChecked();
  QStringList families;
  for (const QString& family : QFontDatabase::families()) {
    if (!fixed_only || QFontDatabase::isFixedPitch(family)) families << family;
  }
  for (QComboBox* box : {font_name_, font_name2_}) {
    const QString chosen = box->currentText();
    box->clear();
    box->addItems(families);
    if (draw) {
      for (int i = 0; i < box->count(); ++i) box->setItemData(i, QFont(box->itemText(i)), Qt::FontRole);
    }
    set_font_name(box, chosen);
  }
}

void TrafficView2Page::load() {
  loaded_ = traffic::load_graph_settings(profile(), lang());
  loaded_sampler_ = traffic::load_sampler_settings(profile());
  loaded_shell_ = shell::load_shell_settings(profile());
  const traffic::GraphSettings& g = loaded_;
  enum_check_->setChecked(loaded_shell_.font_enum_check);
  enum_draw_->setChecked(loaded_shell_.font_enum_draw);
  set_font_name(font_name_, qs(g.font_name));
  set_font_name(font_name2_, qs(g.font_name2));
  refill_font_lists();
  spin(this, "fontSize")->setValue(g.font_size);
  spin(this, "fontSize2")->setValue(g.font_size2);
  check(this, "largeFontEmphasis")->setChecked(g.large_font_emphasis);
  check(this, "englishLabels")->setChecked(g.english_labels);
  combo(this, "threadResponce")->setCurrentIndex(period_position(loaded_sampler_.thread_responce));
  combo(this, "viewResponce")->setCurrentIndex(period_position(g.view_responce));
  check(this, "interfaceAutoReset")->setChecked(loaded_sampler_.interface_auto_reset);
  spin(this, "interfaceAutoResetTimer")->setValue(loaded_sampler_.interface_auto_reset_timer);
  update_enabled();
}

void TrafficView2Page::save() {
  shell::ShellSettings sh = loaded_shell_;
  sh.font_enum_check = enum_check_->isChecked();
  sh.font_enum_draw = enum_draw_->isChecked();
  shell::save_font_list_flags(profile(), sh);
  // An emptied face is not written: the graph keeps the stored one.
  traffic::GraphSettings g = loaded_;
  g.font_name = to_std(font_name_->currentText().trimmed());
  g.font_name2 = to_std(font_name2_->currentText().trimmed());
  g.font_size = spin(this, "fontSize")->value();
  g.font_size2 = spin(this, "fontSize2")->value();
  g.large_font_emphasis = check(this, "largeFontEmphasis")->isChecked();
  g.english_labels = check(this, "englishLabels")->isChecked();
  g.view_responce = combo(this, "viewResponce")->currentIndex();
  traffic::save_graph_text(profile(), g);
  traffic::SamplerSettings t = loaded_sampler_;
  t.thread_responce = combo(this, "threadResponce")->currentIndex();
  t.interface_auto_reset = check(this, "interfaceAutoReset")->isChecked();
  // The spin box keeps the countdown within 1..65536 seconds.
  t.interface_auto_reset_timer = spin(this, "interfaceAutoResetTimer")->value();
  traffic::save_sampler_settings(profile(), t);
}

void TrafficView2Page::update_enabled() {
  spin(this, "interfaceAutoResetTimer")->setEnabled(check(this, "interfaceAutoReset")->isChecked());
}

// ---------------------------------------------------------------------------

const std::vector<std::uint32_t>& TrafficColorPage::default_colors() {
  static const std::vector<std::uint32_t> colors = [] {
    std::vector<std::uint32_t> v;
    for (int slot = 0; slot < traffic::kGraphColorCount; ++slot) v.push_back(traffic::default_graph_color(slot));
    return v;
  }();
  return colors;
}

namespace {
QStringList graph_color_names(Language lang) {
  QStringList names;
  for (int slot = 0; slot < traffic::kGraphColorCount; ++slot) names << qs(traffic::graph_color_name(slot, lang));
  return names;
}
}  // namespace

TrafficColorPage::TrafficColorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : ColorSlotPage(shell::OptionsPageId::TrafficColor, profile, lang, parent, graph_color_names(lang),
                    make_default_color_button, default_colors()) {}

void TrafficColorPage::load() {
  loaded_ = traffic::load_graph_settings(profile(), lang());
  colors()->set_colors({loaded_.colors.begin(), loaded_.colors.end()});
}

void TrafficColorPage::save() {
  traffic::GraphSettings g = loaded_;
  const std::vector<std::uint32_t> colors = this->colors()->colors();
  for (std::size_t i = 0; i < g.colors.size() && i < colors.size(); ++i) g.colors[i] = colors[i];
  traffic::save_graph_colors(profile(), g);
}

}  // namespace tw::ui
