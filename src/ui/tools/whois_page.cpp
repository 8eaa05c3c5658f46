#include "ui/tools/whois_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/whois_client.h"
#include "settings/profile.h"
#include "ui/tools/host_bar.h"

namespace tw::ui {

WhoisPage::WhoisPage(settings::Profile& profile, platform::FileStore& files, platform::WhoisClient& client,
                     std::string data_folder, Language lang, QWidget* parent)
    : ToolPage(profile, lang, parent),
      files_(files),
      client_(client),
      history_path_(tool_file_path(data_folder, tools::kWhoisHistorySuffix)),
      table_path_(tool_file_path(data_folder, tools::kWhoisTableSuffix)) {
  swallows_escape_ = true;
  bar_ = new HostBar(lang_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(bar_);
  layout->addWidget(output_, 1);

  settings_ = tools::load_whois_settings(profile_);
  history_file_ =
      tools::load_host_list(bar_->list(), files_, history_path_, settings_.history, settings_.domain_name);
  bar_->refill();
  bar_->set_text(settings_.domain_name);
  bar_->history()->setChecked(settings_.history);
  connect(bar_->button(), &QPushButton::clicked, this, &WhoisPage::press);
  connect(bar_, &HostBar::entered, this, &WhoisPage::press);
  connect(bar_->history(), &QCheckBox::toggled, this, [this](bool on) {
    settings_.history = on;
    tools::save_tool_history_flag(profile_, tools::kWhoisSection, on);
  });
  connect(&worker_, &CancellableWorker::finished, this, &WhoisPage::finish);
  add_options_command(tools::kWhoisOptionsGroup);
  reload_settings();
}

WhoisPage::~WhoisPage() {
  settings_.domain_name = bar_->text();
  tools::save_whois_settings(profile_, settings_);
  (void)tools::save_host_list(bar_->list(), files_, history_path_, settings_.history, history_file_);
  // A query still out ends at once.
  worker_.stop();
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

void WhoisPage::reload_settings() {
  ToolPage::reload_settings();
  table_ = tools::load_whois_table(files_, table_path_);
}

void WhoisPage::run_for(const QString& target) {
  if (busy_) return;
  bar_->hosts()->setEditText(target);
  press();
}

void WhoisPage::press() {
  if (busy_) return;
  const std::string typed = bar_->text();
  if (typed.empty()) return;
  busy_ = true;
  QGuiApplication::setOverrideCursor(Qt::BusyCursor);
  bar_->button()->setEnabled(false);
  const std::string target = tools::reduce_whois_target(typed);
  bar_->add(target);
  bar_->set_text(target);
  const std::string server = tools::choose_whois_server(table_, target);
  worker_.start([this, target, server](std::stop_token token) {
    std::string reply;
    if (!target.empty()) {
      auto r = client_.query(server, tools::kWhoisPort, tools::whois_request(target), tools::kWhoisTimeoutMs, token);
      if (r) reply = std::move(*r);
    }
    result_ = tools::whois_output(tools::convert_whois_reply(reply, target));
  });
}

void WhoisPage::finish() {
  show_report(result_);
  bar_->button()->setEnabled(true);
  busy_ = false;
  QGuiApplication::restoreOverrideCursor();
  emit queryFinished();
}

}  // namespace tw::ui
