#include "ui/tools/nslookup_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/profile.h"
#include "ui/tools/host_bar.h"

namespace tw::ui {

NslookupPage::NslookupPage(settings::Profile& profile, platform::FileStore& files, platform::DnsClient* dns,
                           platform::HostLookup& hosts, std::string data_folder, Language lang, QWidget* parent)
    : ToolPage(profile, lang, parent),
      files_(files),
      dns_(dns),
      hosts_(hosts),
      history_path_(tool_file_path(data_folder, tools::kNslookupHistorySuffix)),
      run_(lang) {
  swallows_escape_ = true;
  bar_ = new HostBar(lang_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(bar_);
  layout->addWidget(output_, 1);

  settings_ = tools::load_nslookup_settings(profile_);
  history_file_ = tools::load_host_list(bar_->list(), files_, history_path_, settings_.history, settings_.target);
  bar_->refill();
  bar_->set_text(settings_.target);
  bar_->history()->setChecked(settings_.history);
  connect(bar_->button(), &QPushButton::clicked, this, &NslookupPage::press);
  connect(bar_, &HostBar::entered, this, &NslookupPage::press);
  connect(bar_->history(), &QCheckBox::toggled, this, [this](bool on) {
    settings_.history = on;
    tools::save_tool_history_flag(profile_, tools::kNslookupSection, on);
  });
  timer_.setInterval(500);
  connect(&timer_, &QTimer::timeout, this, &NslookupPage::tick);
  add_options_command(tools::kNslookupOptionsGroup);
  reload_settings();
}

NslookupPage::~NslookupPage() {
  timer_.stop();
  settings_.target = bar_->text();
  tools::save_nslookup_state(profile_, settings_);
  (void)tools::save_host_list(bar_->list(), files_, history_path_, settings_.history, history_file_);
  worker_.cancel();
  run_.cancel();
  worker_.stop();
}

void NslookupPage::reload_settings() {
  ToolPage::reload_settings();
  const auto s = tools::load_nslookup_settings(profile_);
  settings_.filter = s.filter;
  settings_.bypass_cache = s.bypass_cache;
}

void NslookupPage::run_for(const QString& target) {
  if (running()) return;
  bar_->hosts()->setEditText(target);
  press();
}

void NslookupPage::press() {
  const int state = run_.state();
  if (state == tools::NslookupRun::kIdle) {
    const std::string target = bar_->text();
    const std::string shown = run_.start(target);
    if (shown.empty()) return;
    bar_->add(target);
    worker_.stop();  // the previous run's thread has returned; collect it
    show_text(shown);
    bar_->show_running(true);
    const tools::RecordFilter filter = settings_.filter;
    const bool direct = settings_.bypass_cache;
    worker_.start([this, filter, direct](std::stop_token token) {
      run_.run_worker(dns_, hosts_, filter, direct, token);
    });
    timer_.start();
  } else if (state == tools::NslookupRun::kRunning) {
    const std::string text = run_.stop();
    if (text.empty()) return;
    // The lookup under way ends at once; the tick shows the end.
    worker_.cancel();
    bar_->button()->setEnabled(false);
    show_text(text);
  }
}

void NslookupPage::tick() {
  auto t = run_.tick();
  if (!t.append.empty()) append_text(t.append);
  if (t.finished) {
    timer_.stop();
    worker_.stop();  // state 3 is the worker's last step: this only collects it
    // The report starts with the address lines: shown from the top.
    show_report(t.text);
    bar_->show_running(false);
    bar_->button()->setEnabled(true);
  }
}

}  // namespace tw::ui
