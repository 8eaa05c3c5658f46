#include "ui/options/general_pages.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <utility>

#include "logging/log_engine.h"
#include "shell/main_window_logic.h"
#include "shell/notice_logic.h"
#include "shell/shell_settings.h"
#include "traffic/mini_monitor_logic.h"
#include "ui/common/qt_text.h"
#include "ui/main/window_system.h"
#include "ui/notice/notice_dialog.h"
#include "ui/options/color_slot_page.h"
#include "ui/options/page_controls.h"

namespace tw::ui {

namespace {

QStringList interval_entries(Language lang) {
  QStringList items{tr2(lang, "Hide", "通知しない")};
  for (int m = 1; m <= 30; ++m) {
    items << (lang == Language::Japanese ? QStringLiteral(":%1分").arg(m, 2, 10, QLatin1Char('0'))
                                         : QStringLiteral(":%1min.").arg(m, 2, 10, QLatin1Char('0')));
  }
  return items;
}

}  // namespace

// ---------------------------------------------------------------------------

GeneralViewPage::GeneralViewPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::GeneralView, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(make_check(this, "windowTopMost", tr2(lang, "Always on topmost.", "常に最前面に表示する。")));
  layout->addWidget(make_check(this, "windowStretch",
                               tr2(lang, "To stretch the edges when you move your desktop.",
                                   "ウィンドウの移動時にデスクトップの端に吸着させる。")));
  placement_note_ = new QLabel(qs(shell::placement_unavailable_reason(lang)), this);
  placement_note_->setObjectName(QStringLiteral("placementNote"));
  placement_note_->setWordWrap(true);
  placement_note_->setContentsMargins(20, 0, 0, 0);
  placement_note_->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(placement_note_);
  layout->addWidget(make_check(this, "minimized",
                               tr2(lang, "Reside in the task tray when you start minimized.",
                                   "起動時に最小化してタスクトレイに常駐する。")));
  layout->addWidget(make_check(this, "exitConfirmationDialog",
                               tr2(lang, "Exit confirmation dialog is displayed.",
                                   "終了確認ダイアログを表示する。")));
  layout->addWidget(make_check(this, "taskTrayIcon",
                               tr2(lang, "Received the task tray icon displays the status.",
                                   "タスクトレイアイコンに送受信状態を表示する。")));
  notice_box_ = make_check(this, "noticeBox", tr2(lang, "Prompt notification.", "通知ダイアログを表示する。"));
  layout->addWidget(notice_box_);
  auto* row = new QHBoxLayout;
  row->addSpacing(20);
  row->addWidget(new QLabel(tr2(lang, "Display notification dialog cycle.", "通知ダイアログの表示周期"), this));
  interval_ = make_combo(this, "noticeBoxInterval", interval_entries(lang));
  row->addWidget(interval_);
  row->addStretch();
  layout->addLayout(row);
  layout->addWidget(make_check(this, "surveilAutoStart",
                               tr2(lang, "When you start to start the Packet Monitor.",
                                   "起動時にIP監視モニターを開始する。")));
  layout->addWidget(make_check(this, "sessionAutoStart",
                               tr2(lang, "When you start to start the Session Monitor.",
                                   "起動時にセッションモニターを開始する。")));
  layout->addStretch();
  connect(notice_box_, &QCheckBox::toggled, this, [this] { update_enabled(); });
  set_placement_available(window_placement_available());
}

void GeneralViewPage::set_placement_available(bool available) {
  for (const char* name : {"windowTopMost", "windowStretch"}) {
    auto* box = findChild<QCheckBox*>(QString::fromLatin1(name));
    box->setEnabled(available);
    box->setToolTip(available ? QString() : placement_note_->text());
  }
  placement_note_->setVisible(!available);
}

void GeneralViewPage::load() {
  // The shell loader applies the shell's own rules (the notice period is read
  // as |n| % 60), so the page shows what the program actually uses.
  loaded_ = shell::load_shell_settings(profile());
  auto set = [this](const char* name, bool on) { findChild<QCheckBox*>(QString::fromLatin1(name))->setChecked(on); };
  set("windowTopMost", loaded_.window_top_most);
  set("windowStretch", loaded_.window_stretch);
  set("minimized", loaded_.minimized);
  set("exitConfirmationDialog", loaded_.exit_confirmation_dialog);
  set("taskTrayIcon", loaded_.task_tray_icon);
  set("noticeBox", loaded_.notice_box);
  set_combo_position(interval_, loaded_.notice_box_interval);
  set("surveilAutoStart", loaded_.surveil_auto_start);
  set("sessionAutoStart", loaded_.session_auto_start);
  update_enabled();
}

void GeneralViewPage::save() {
  auto on = [this](const char* name) { return findChild<QCheckBox*>(QString::fromLatin1(name))->isChecked(); };
  shell::ShellSettings s = loaded_;
  s.window_top_most = on("windowTopMost");
  s.window_stretch = on("windowStretch");
  s.minimized = on("minimized");
  s.exit_confirmation_dialog = on("exitConfirmationDialog");
  s.task_tray_icon = on("taskTrayIcon");
  s.notice_box = on("noticeBox");
  // The list offers 0 to 30 minutes; a longer stored period shows no entry
  // and is kept as it is.
  s.notice_box_interval = combo_position_or(interval_, loaded_.notice_box_interval);
  s.surveil_auto_start = on("surveilAutoStart");
  s.session_auto_start = on("sessionAutoStart");
  shell::save_view_page(profile(), s);
}

void GeneralViewPage::update_enabled() { interval_->setEnabled(notice_box_->isChecked()); }

// ---------------------------------------------------------------------------

namespace {
std::vector<std::uint32_t> tray_colors(const shell::TrayIconSettings& t) {
  return {static_cast<std::uint32_t>(t.color_background), static_cast<std::uint32_t>(t.color_send),
          static_cast<std::uint32_t>(t.color_receive)};
}
}  // namespace

TasktrayPage::TasktrayPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::Tasktray, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(make_check(this, "taskTrayMonitor",
                               tr2(lang, "Display the transfer speed in the task tray icon.",
                                   "タスクトレイアイコンに転送速度を表示する。")));
  colors_ = make_color_list(this, ColorList::Layout::ColorFirst, color_columns(lang),
                            {tr2(lang, "Background color", "背景色"),
                             tr2(lang, "Text color Send speed", "送信速度の文字色"),
                             tr2(lang, "Text color Received speed", "受信速度の文字色")});
  layout->addWidget(colors_);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr2(lang, "Font", "フォント"), this), 0, 0);
  font_ = make_combo(this, "font", {QStringLiteral("Tahoma"), QStringLiteral("Arial"),
                                     tr2(lang, "Tahoma (for High DPI)", "Tahoma (高DPI用)")});
  grid->addWidget(font_, 0, 1);
  grid->addWidget(new QLabel(tr2(lang, "Unit", "単位"), this), 1, 0);
  unit_ = make_combo(this, "unit", {QStringLiteral("KB/s"), QStringLiteral("Kbps")});
  grid->addWidget(unit_, 1, 1);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);
  layout->addWidget(make_check(this, "highDpi", tr2(lang, "Draw for a high DPI display.",
                                                    "高DPIディスプレイ用に描画する。")));
  add_restore_row(layout, make_default_color_button(this, lang), lang, [this] { restore_default_colors(); });
}

void TasktrayPage::restore_default_colors() { colors_->set_colors(tray_colors(shell::TrayIconSettings{})); }

void TasktrayPage::load() {
  loaded_ = shell::load_shell_settings(profile());
  const shell::TrayIconSettings& t = loaded_.tray_icon;
  findChild<QCheckBox*>("taskTrayMonitor")->setChecked(loaded_.task_tray_monitor);
  colors_->set_colors(tray_colors(t));
  set_combo_position(font_, t.font);
  set_combo_position(unit_, t.unit);
  findChild<QCheckBox*>("highDpi")->setChecked(t.high_dpi != 0);
}

void TasktrayPage::save() {
  shell::ShellSettings s = loaded_;
  s.task_tray_monitor = findChild<QCheckBox*>("taskTrayMonitor")->isChecked();
  shell::TrayIconSettings& t = s.tray_icon;
  t.color_background = static_cast<int>(colors_->color(0));
  t.color_send = static_cast<int>(colors_->color(1));
  t.color_receive = static_cast<int>(colors_->color(2));
  t.font = combo_position_or(font_, t.font);
  t.unit = combo_position_or(unit_, t.unit);
  t.high_dpi = findChild<QCheckBox*>("highDpi")->isChecked() ? 1 : 0;
  shell::save_tasktray_page(profile(), s);
}

// ---------------------------------------------------------------------------

NoticeDialogPage::NoticeDialogPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::NoticeDialog, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  ColorList::Columns columns = color_columns(lang);
  columns.name_width = 100;
  columns.color_width = 250;
  colors_ = make_color_list(this, ColorList::Layout::NameFirst, columns,
                            {tr2(lang, "Background color", "通知ダイアログの背景色"),
                             tr2(lang, "Text color", "通知ダイアログの文字色")});
  colors_->setMaximumHeight(90);
  layout->addWidget(colors_);
  alpha_blend_ = make_check(this, "alphaBlend",
                            tr2(lang, "Transparent window to the notification dialog",
                                "通知ダイアログを半透明ウィンドウにする"));
  layout->addWidget(alpha_blend_);
  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(0, 20);
  grid->addWidget(new QLabel(tr2(lang, "Opacity setting", "不透明度の設定"), this), 0, 1);
  alpha_level_ = make_spin(this, "alphaLevel", 0, 255);
  grid->addWidget(alpha_level_, 0, 2);
  grid->addWidget(new QLabel(tr2(lang, "After fully visible", "完全に表示されてから"), this), 1, 1);
  timeout_ = make_spin(this, "timeOut", 0, 30000);
  grid->addWidget(timeout_, 1, 2);
  grid->addWidget(new QLabel(tr2(lang, "ms", "ms 後に閉じる"), this), 1, 3);
  grid->setColumnStretch(4, 1);
  layout->addLayout(grid);
  auto* row = new QHBoxLayout;
  auto* preview = new QPushButton(tr2(lang, ">> View TEST", ">> テスト表示"), this);
  preview->setObjectName(QStringLiteral("viewTest"));
  preview->setAutoDefault(false);
  row->addWidget(preview);
  row->addStretch();
  layout->addLayout(row);
  layout->addStretch();
  connect(alpha_blend_, &QCheckBox::toggled, this, [this] { update_enabled(); });
  connect(preview, &QPushButton::clicked, this, [this] { open_preview(); });
}

void NoticeDialogPage::load() {
  const shell::NoticeBoxSettings n = shell::load_shell_settings(profile()).notice;
  colors_->set_colors({static_cast<std::uint32_t>(n.bk_color), static_cast<std::uint32_t>(n.text_color)});
  alpha_blend_->setChecked(n.alpha_blend);
  alpha_level_->setValue(n.alpha_level);
  timeout_->setValue(n.time_out_ms);
  update_enabled();
}

shell::NoticeBoxSettings NoticeDialogPage::current() const {
  shell::NoticeBoxSettings n;
  n.bk_color = static_cast<int>(colors_->color(0));
  n.text_color = static_cast<int>(colors_->color(1));
  n.alpha_blend = alpha_blend_->isChecked();
  n.alpha_level = alpha_level_->value();
  n.time_out_ms = timeout_->value();
  return n;
}

void NoticeDialogPage::save() { shell::save_notice_box(profile(), current()); }

NoticeDialog* NoticeDialogPage::open_preview() {
  auto* notice = new NoticeDialog(qs(shell::preview_notice_text(lang())), shell::preview_notice_layout(),
                                  current(), lang());
  notice->start(screen());
  return notice;
}

void NoticeDialogPage::update_enabled() { alpha_level_->setEnabled(alpha_blend_->isChecked()); }

// ---------------------------------------------------------------------------

namespace {
std::vector<std::uint32_t> mini_colors(const traffic::MiniMonitorSettings& m) {
  return {m.colors.begin(), m.colors.end()};
}
}  // namespace

MiniMonitorPage::MiniMonitorPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::MiniMonitor, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  colors_ = make_color_list(this, ColorList::Layout::ColorFirst, color_columns(lang), {
      tr2(lang, "Background color", "背景色"),
      tr2(lang, "Text color Send speed", "送信速度の文字色"),
      tr2(lang, "Text color Received speed", "受信速度の文字色"),
      tr2(lang, "Text color MAX speed Send", "最大送信速度の文字色"),
      tr2(lang, "Text color MAX speed Received", "最大受信速度の文字色"),
      tr2(lang, "Text color for the total amount Send", "総送信量の文字色"),
      tr2(lang, "Text color for the total amount Received", "総受信量の文字色"),
      tr2(lang, "Text color for total gross amount Send", "総送信量累計の文字色"),
      tr2(lang, "Text color for total gross amount Received", "総受信量累計の文字色"),
  });
  layout->addWidget(colors_);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr2(lang, "Mini Monitor format", "ミニモニターの表示形式"), this), 0, 0);
  QStringList formats;
  for (const traffic::MiniFormat& f : traffic::mini_formats()) formats << qs(f.name);
  if (lang == Language::Japanese) formats[traffic::kMiniFormatHide] = qs("非表示");
  style_ = make_combo(this, "style", formats);
  grid->addWidget(style_, 0, 1, 1, 3);
  grid->addWidget(new QLabel(tr2(lang, "Font", "フォント"), this), 1, 0);
  font_name_ = new QComboBox(this);
  font_name_->setObjectName(QStringLiteral("fontName"));
  fill_font_families(font_name_);
  grid->addWidget(font_name_, 1, 1);
  grid->addWidget(make_spin(this, "fontSize", 1, traffic::kMaxMiniFontSize), 1, 2);
  grid->addWidget(make_check(this, "bold", tr2(lang, "Bold", "太字")), 1, 3);
  grid->addWidget(new QLabel(tr2(lang, "Unit", "単位"), this), 2, 0);
  unit_ = make_combo(this, "aveUnit", {QStringLiteral("KB/s"), QStringLiteral("Kbps"),
                                        QStringLiteral("MB/s"), QStringLiteral("Mbps")});
  grid->addWidget(unit_, 2, 1);
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);

  layout->addWidget(make_check(this, "trafficGraph", tr2(lang, "Show Graph", "グラフを表示する")));
  layout->addWidget(make_check(this, "gradientMode",
                               tr2(lang, "To the gradient background", "背景をグラデーションにする")));
  auto* alert = new QHBoxLayout;
  alert->addWidget(make_check(this, "messageMode", tr2(lang, "Like to display a message alert",
                                                       "メッセージアラートを表示する")));
  message_level_ = new QLineEdit(this);
  message_level_->setObjectName(QStringLiteral("messageLevel"));
  message_level_->setToolTip(tr2(lang, "Five levels, for example 60:50:50:20:20",
                                 "5つのレベル (例: 60:50:50:20:20)"));
  alert->addWidget(message_level_);
  layout->addLayout(alert);
  auto* alpha = new QHBoxLayout;
  alpha_blend_ = make_check(this, "alphaBlend", tr2(lang, "Transparent window", "半透明ウィンドウにする"));
  alpha->addWidget(alpha_blend_);
  alpha->addWidget(new QLabel(tr2(lang, "Opacity setting", "不透明度の設定"), this));
  alpha_level_ = make_spin(this, "alphaLevel", 0, 255);
  alpha->addWidget(alpha_level_);
  alpha->addStretch();
  layout->addLayout(alpha);
  layout->addWidget(make_check(this, "noFrame", tr2(lang, "Window without frame", "枠のないウィンドウにする")));

  add_restore_row(layout, make_default_color_button(this, lang), lang, [this] { restore_default_colors(); });
  connect(alpha_blend_, &QCheckBox::toggled, this, [this] { update_enabled(); });
}

void MiniMonitorPage::restore_default_colors() {
  colors_->set_colors(mini_colors(traffic::MiniMonitorSettings{}));
}

void MiniMonitorPage::load() {
  // The window's own loader: the page shows what the Mini Monitor uses.
  loaded_ = traffic::load_mini_monitor_settings(profile());
  const traffic::MiniMonitorSettings& m = loaded_;
  colors_->set_colors(mini_colors(m));
  set_font_name(font_name_, qs(m.font_name));
  findChild<QSpinBox*>("fontSize")->setValue(m.font_size);
  findChild<QCheckBox*>("bold")->setChecked(m.bold);
  unit_->setCurrentIndex(m.ave_unit);
  style_->setCurrentIndex(m.style);
  findChild<QCheckBox*>("trafficGraph")->setChecked(m.traffic_graph);
  findChild<QCheckBox*>("gradientMode")->setChecked(m.gradient_mode);
  findChild<QCheckBox*>("messageMode")->setChecked(m.message_mode);
  message_level_->setText(qs(settings::format_int_list(m.message_level)));
  alpha_blend_->setChecked(m.alpha_blend);
  alpha_level_->setValue(m.alpha_level);
  findChild<QCheckBox*>("noFrame")->setChecked(m.no_frame);
  update_enabled();
}

void MiniMonitorPage::save() {
  traffic::MiniMonitorSettings m = loaded_;
  const std::vector<std::uint32_t> colors = colors_->colors();
  for (std::size_t i = 0; i < m.colors.size() && i < colors.size(); ++i) m.colors[i] = static_cast<int>(colors[i]);
  m.font_name = to_std(font_name_->currentText().trimmed());
  m.font_size = findChild<QSpinBox*>("fontSize")->value();
  m.bold = findChild<QCheckBox*>("bold")->isChecked();
  m.ave_unit = unit_->currentIndex();
  m.style = style_->currentIndex();
  m.traffic_graph = findChild<QCheckBox*>("trafficGraph")->isChecked();
  m.gradient_mode = findChild<QCheckBox*>("gradientMode")->isChecked();
  m.message_mode = findChild<QCheckBox*>("messageMode")->isChecked();
  // An edit the Mini Monitor could not read would silently switch every
  // alert off; the loaded levels are kept instead.
  const std::string levels = to_std(message_level_->text().trimmed());
  if (traffic::message_level_valid(levels)) m.message_level = traffic::parse_message_level(levels);
  m.alpha_blend = alpha_blend_->isChecked();
  m.alpha_level = alpha_level_->value();
  m.no_frame = findChild<QCheckBox*>("noFrame")->isChecked();
  traffic::save_mini_monitor_settings(profile(), m);
}

void MiniMonitorPage::update_enabled() { alpha_level_->setEnabled(alpha_blend_->isChecked()); }

// ---------------------------------------------------------------------------

ReportPage::ReportPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::Report, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  log_check_ = make_check(this, "logCheck", tr2(lang, "Traffic Report log output",
                                                "トラフィックレポートをログ出力する"));
  layout->addWidget(log_check_);
  layout->addStretch();
}

void ReportPage::load() { log_check_->setChecked(logging::load_log_check(profile(), logging::LogKind::Report)); }
void ReportPage::save() { logging::save_log_check(profile(), logging::LogKind::Report, log_check_->isChecked()); }

}  // namespace tw::ui
