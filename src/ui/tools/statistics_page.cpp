#include "ui/tools/statistics_page.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/protocol_stats_source.h"
#include "tools/protocol_stats.h"
#include "ui/common/ui_texts.h"

namespace tw::ui {

namespace {
// The Statistics group of the options dialog (its only tab is the colours).
constexpr int kStatisticsOptionsGroup = 6;
}  // namespace

StatisticsPage::StatisticsPage(settings::Profile& profile, platform::ProtocolStatsSource& source, Language lang,
                               QWidget* parent)
    : ToolPage(profile, lang, parent), source_(source) {
  button_ = new QPushButton(texts::start(lang_), this);
  button_->setObjectName(QStringLiteral("startButton"));
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(button_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(row);
  layout->addWidget(output_, 1);
  connect(button_, &QPushButton::clicked, this, &StatisticsPage::refresh);
  show_text(std::string(tools::protocol_report_placeholder(lang_)));
  add_options_command(kStatisticsOptionsGroup);
  reload_settings();
}

void StatisticsPage::refresh() {
  tools::SnmpTable snmp;
  if (auto text = source_.snmp_text()) snmp = tools::parse_snmp(*text);
  show_report(tools::protocol_report(snmp, source_.table_counts(), lang_));
}

}  // namespace tw::ui
