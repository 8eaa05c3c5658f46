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
#include "ui/common/qt_text.h"
#include "ui/options/color_slot_page.h"
#include "ui/options/page_controls.h"

namespace tw::ui {
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

  auto* data_box = new QGroupBox(tr2(lang, "Packet DATA", "データ"), this);
  auto* data_layout = new QHBoxLayout(data_box);
  hex_ = new QRadioButton(tr2(lang, "Hexadecimal", "16進数"), data_box);
  hex_->setObjectName(QStringLiteral("dataHex"));
  text_ = new QRadioButton(tr2(lang, "Text", "テキスト"), data_box);
  text_->setObjectName(QStringLiteral("dataText"));
  data_layout->addWidget(hex_);
  data_layout->addWidget(text_);
  data_layout->addStretch();
  layout->addWidget(data_box);

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

std::vector<shell::ListColumn> packet_copy_columns() {
  std::vector<shell::ListColumn> out;
  for (const auto& c : packets::packet_columns())
    out.push_back({c.header_en, c.header_ja, c.default_width,
                   c.align_right ? shell::ColumnAlign::Right : shell::ColumnAlign::Left});
  return out;
}

}  // namespace tw::ui
