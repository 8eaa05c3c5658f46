#include "ui/sessions/netstat_page.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "settings/profile.h"
#include "settings/shared_keys.h"
#include "ui/common/output_box.h"
#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"

namespace tw::ui {
namespace {

constexpr int kDisplayPeriodMs = 500;

}  // namespace

NetstatPage::NetstatPage(settings::Profile& profile, const NetstatSources& sources, Language lang, QWidget* parent)
    : QWidget(parent), profile_(profile), sources_(sources), lang_(lang), run_(lang) {
  button_ = new QPushButton(texts::start(lang_), this);
  button_->setObjectName(QStringLiteral("startStop"));
  button_->setAutoDefault(false);
  output_ = make_output_box(this);
  output_->setObjectName(QStringLiteral("output"));
  output_->setPlainText(tr2(lang, "Displays a list of current network connection status.",
                            "現在のネットワーク接続状態の一覧を表示します。"));

  auto* bar = new QHBoxLayout;
  bar->addWidget(button_);
  bar->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addLayout(bar);
  layout->addWidget(output_, 1);

  timer_.setInterval(kDisplayPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &NetstatPage::tick);
  connect(button_, &QPushButton::clicked, this, &NetstatPage::start_stop);
  reload_settings();
}

NetstatPage::~NetstatPage() {
  timer_.stop();
  // The worker writes into run_: it must be gone before the page is. The run
  // watches its own stop request, not the worker's token.
  run_.stop();
  worker_.stop();
}

void NetstatPage::reload_settings() {
  filter_ = sessions::load_netstat_filter(profile_);
  ipv6_ = profile_.read_int(settings::kSettingsSection, settings::kIpv6Key, settings::kIpv6Default) != 0;
  apply_output_box_colors(*output_, profile_);
}

void NetstatPage::start_stop() {
  button_->setEnabled(false);
  if (run_.state() == sessions::NetstatRun::kIdle) {
    worker_.stop();  // the last run's thread has ended; release it
    output_->setPlainText(box_text(run_.start()));
    button_->setText(texts::stop(lang_));
    button_->setEnabled(true);
    const sessions::NetstatFilter filter = filter_;
    const bool ipv6 = ipv6_;
    if (sources_.before_run) sources_.before_run();
    const NetstatSources s = sources_;
    worker_.start([this, filter, ipv6, s](std::stop_token) {
      run_.run_worker(*s.sockets, *s.processes, *s.names, *s.hosts, *s.services, filter, ipv6);
    });
    timer_.start();
    return;
  }
  // The button stays disabled until the display timer has shown the result:
  // a slow name lookup may hold the worker for a while after the request.
  output_->moveCursor(QTextCursor::End);
  output_->insertPlainText(box_text(run_.stop()));
}

void NetstatPage::tick() {
  const sessions::NetstatRun::TickOutput out = run_.tick();
  if (!out.append.empty()) {
    output_->moveCursor(QTextCursor::End);
    output_->insertPlainText(box_text(out.append));
  }
  if (!out.finished) return;
  timer_.stop();
  worker_.stop();  // the run is over; its thread returns at once
  output_->setPlainText(box_text(out.replace));
  output_->verticalScrollBar()->setValue(0);
  button_->setText(texts::start(lang_));
  button_->setEnabled(true);
}

}  // namespace tw::ui
