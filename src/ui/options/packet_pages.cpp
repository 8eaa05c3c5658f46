#include "ui/options/packet_pages.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

#include "logging/template.h"
#include "packets/packet_list.h"
#include "ui/options/color_slot_page.h"
#include "ui/options/page_controls.h"
#include "ui/options/page_support.h"

namespace tw::ui {
namespace {

constexpr auto kPacketLog = logging::LogKind::Packet;
constexpr int kMinCycle = 1;
constexpr int kMaxCycle = 3600;

}  // namespace

// ---- View -----------------------------------------------------------------

PacketViewPage::PacketViewPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::PacketView, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(tr2(lang, "Display interval", "表示間隔"), this));
  interval_ = make_spin(this, "interval", packets::kMinIntervalMs, packets::kMaxIntervalMs);
  row->addWidget(interval_);
  row->addWidget(new QLabel(tr2(lang, "ms (1~100)", "ミリ秒 (1～100)"), this));
  row->addStretch();
  layout->addLayout(row);

  auto* data = new QGroupBox(tr2(lang, "Packet DATA", "データ"), this);
  auto* data_layout = new QHBoxLayout(data);
  hex_ = new QRadioButton(tr2(lang, "Hexadecimal", "16進数"), data);
  hex_->setObjectName(QStringLiteral("dataHex"));
  text_ = new QRadioButton(tr2(lang, "Text", "テキスト"), data);
  text_->setObjectName(QStringLiteral("dataText"));
  data_layout->addWidget(hex_);
  data_layout->addWidget(text_);
  data_layout->addStretch();
  layout->addWidget(data);

  filter_ = make_check(this, "filter", tr2(lang, "Do not list packets of these ports", "次のポートのパケットを表示しない"));
  layout->addWidget(filter_);
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(tr2(lang, "Port1", "ポート1"), this), 0, 0);
  port1_ = new QLineEdit(this);
  port1_->setObjectName(QStringLiteral("filterPort1"));
  grid->addWidget(port1_, 0, 1);
  grid->addWidget(new QLabel(tr2(lang, "Port2", "ポート2"), this), 1, 0);
  port2_ = new QLineEdit(this);
  port2_->setObjectName(QStringLiteral("filterPort2"));
  grid->addWidget(port2_, 1, 1);
  grid->addWidget(new QLabel(tr2(lang, "e.g. 80;443;1024-65535", "例: 80;443;1024-65535"), this), 2, 1);
  layout->addLayout(grid);
  layout->addStretch();
  connect(filter_, &QCheckBox::toggled, this, [this](bool on) {
    port1_->setEnabled(on);
    port2_->setEnabled(on);
  });
}

void PacketViewPage::load() {
  loaded_ = packets::load_packet_settings(profile());
  interval_->setValue(loaded_.interval_ms);
  (loaded_.data_as_text ? text_ : hex_)->setChecked(true);
  filter_->setChecked(loaded_.filter);
  port1_->setText(qs(loaded_.filter_port1));
  port2_->setText(qs(loaded_.filter_port2));
  port1_->setEnabled(loaded_.filter);
  port2_->setEnabled(loaded_.filter);
}

void PacketViewPage::save() {
  packets::PacketSettings s = packets::load_packet_settings(profile());  // "AskDNS" may have changed meanwhile
  s.interval_ms = interval_->value();
  s.data_as_text = text_->isChecked();
  s.filter = filter_->isChecked();
  s.filter_port1 = to_std(port1_->text());
  s.filter_port2 = to_std(port2_->text());
  packets::save_packet_settings(profile(), s);
}

// ---- Copy Items -------------------------------------------------------------

PacketCopyItemsPage::PacketCopyItemsPage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::PacketCopyItems, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr2(lang, "Columns taken by \"Clipboard Copy\"", "コピーする項目"), this));
  auto* grid = new QGridLayout;
  for (int c = 0; c < packets::kColumnCount; ++c) {
    const packets::PacketColumn& col = packets::packet_columns()[static_cast<std::size_t>(c)];
    const std::string name = "copyItem" + std::to_string(c);
    auto* box = make_check(this, name.c_str(), qs(pick(lang, col.header_en, col.header_ja)));
    boxes_[static_cast<std::size_t>(c)] = box;
    grid->addWidget(box, c % 6, c / 6);
  }
  layout->addLayout(grid);
  layout->addStretch();
}

void PacketCopyItemsPage::load() {
  loaded_ = shell::read_copy_items(profile(), packets::kPacketSection);
  for (std::size_t c = 0; c < boxes_.size(); ++c) boxes_[c]->setChecked(loaded_[c] == 1);
}

void PacketCopyItemsPage::save() {
  shell::CopyItems items = loaded_;
  for (std::size_t c = 0; c < boxes_.size(); ++c) {
    // A stored value other than 0 and 1 (hand-edited) stays unless toggled.
    const bool was = loaded_[c] == 1;
    if (boxes_[c]->isChecked() != was) items[c] = boxes_[c]->isChecked() ? 1 : 0;
  }
  shell::write_copy_items(profile(), packets::kPacketSection, items);
}

// ---- Log File ---------------------------------------------------------------

PacketLogFilePage::PacketLogFilePage(settings::Profile& profile, Language lang, QWidget* parent)
    : OptionsPage(shell::OptionsPageId::PacketLogFile, profile, lang, parent) {
  auto* layout = new QVBoxLayout(this);
  log_check_ = make_check(this, "logCheck", tr2(lang, "Packet Monitor log output", "IP監視モニターのログを出力する"));
  layout->addWidget(log_check_);
  auto* grid = new QGridLayout;
  auto* name_label = new QLabel(tr2(lang, "Output log filename", "出力ログファイル名"), this);
  grid->addWidget(name_label, 0, 0);
  file_name_ = new QLineEdit(this);
  file_name_->setObjectName(QStringLiteral("logFileName"));
  grid->addWidget(file_name_, 0, 1, 1, 2);
  auto* cycle_label = new QLabel(tr2(lang, "Logging interval", "ログ出力間隔"), this);
  grid->addWidget(cycle_label, 1, 0);
  cycle_ = make_spin(this, "logCycleTime", kMinCycle, kMaxCycle);
  grid->addWidget(cycle_, 1, 1);
  auto* cycle_unit = new QLabel(tr2(lang, "Sec. (1~3600)", "秒 (1～3600)"), this);
  grid->addWidget(cycle_unit, 1, 2);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid);
  sound_ = make_check(this, "logSound", tr2(lang, "Play a sound when writing", "書き込み時に音を鳴らす"));
  overwrite_ = make_check(this, "logWriteMode", tr2(lang, "Overwrite mode", "上書きモード"));
  layout->addWidget(sound_);
  layout->addWidget(overwrite_);
  auto* format_row = new QHBoxLayout;
  auto* format_label = new QLabel(tr2(lang, "Log formatting", "ログの書式"), this);
  format_row->addWidget(format_label);
  format_row->addStretch();
  auto* def = make_default_button(this, lang);
  format_row->addWidget(def);
  layout->addLayout(format_row);
  format_ = new QPlainTextEdit(this);
  format_->setObjectName(QStringLiteral("logFmt"));
  format_->setLineWrapMode(QPlainTextEdit::NoWrap);
  QFont mono(QStringLiteral("monospace"));
  mono.setStyleHint(QFont::TypeWriter);
  format_->setFont(mono);
  layout->addWidget(format_, 1);
  dependents_ = {name_label, file_name_, cycle_label, cycle_, cycle_unit, sound_, overwrite_, format_label, def, format_};
  connect(log_check_, &QCheckBox::toggled, this, [this] { update_enabled(); });
  connect(def, &QPushButton::clicked, this, [this] {
    if (!ask_back_to_defaults(this, this->lang())) return;
    format_->setPlainText(
        qs(logging::crlf_to_lf(logging::template_from_stored(logging::default_log_fmt(kPacketLog, this->lang())))));
  });
}

void PacketLogFilePage::load() {
  loaded_ = logging::load_log_block(profile(), kPacketLog, lang());
  log_check_->setChecked(loaded_.log_check);
  sound_->setChecked(loaded_.log_sound);
  overwrite_->setChecked(loaded_.log_write_mode != 0);
  file_name_->setText(qs(loaded_.log_file_name));
  cycle_->setValue(loaded_.log_cycle_time);
  format_->setPlainText(qs(logging::crlf_to_lf(loaded_.log_fmt)));
  update_enabled();
}

void PacketLogFilePage::save() {
  logging::LogBlock b = loaded_;
  b.log_check = log_check_->isChecked();
  b.log_file_name = to_std(file_name_->text());
  if (b.log_file_name.empty()) b.log_file_name = std::string(logging::default_log_file_name(kPacketLog));
  b.log_sound = sound_->isChecked();
  // A stored period outside 1..3600 shows clamped and stays unless changed.
  const int cycle = cycle_->value();
  if (cycle != std::clamp(loaded_.log_cycle_time, kMinCycle, kMaxCycle)) b.log_cycle_time = cycle;
  b.log_fmt = to_std(format_->toPlainText());
  // "Overwrite mode" keeps a stored non-zero mode as it is.
  if (overwrite_->isChecked() != (loaded_.log_write_mode != 0)) b.log_write_mode = overwrite_->isChecked() ? 1 : 0;
  logging::save_log_block(profile(), kPacketLog, b);
}

void PacketLogFilePage::update_enabled() {
  for (QWidget* w : dependents_) w->setEnabled(log_check_->isChecked());
}

}  // namespace tw::ui
