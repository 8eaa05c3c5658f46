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
  bar_ = new HostBar(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(bar_);
  layout->addWidget(output_, 1);

  settings_ = tools::load_whois_settings(profile_);
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
  add_options_command(tools::kWhoisOptionsGroup);
  reload_settings();
}

WhoisPage::~WhoisPage() {
  settings_.domain_name = bar_->text();
  tools::save_whois_settings(profile_, settings_);
  (void)tools::save_host_list(bar_->list(), files_, history_path_, settings_.history);
  // A query still out ends by its time-outs.
  if (worker_.joinable()) worker_.join();
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
  if (worker_.joinable()) worker_.join();
  worker_ = std::thread([this, target, server] {
    std::string reply;
    if (!target.empty()) {
      auto r = client_.query(server, tools::kWhoisPort, tools::whois_request(target), tools::kWhoisTimeoutMs);
      if (r) reply = std::move(*r);
    }
    std::string text = tools::whois_output(tools::convert_whois_reply(reply, target));
    // Back on the user-interface thread; dropped if the page is gone.
    QMetaObject::invokeMethod(this, [this, text = std::move(text)] { finish(text); }, Qt::QueuedConnection);
  });
}

void WhoisPage::finish(const std::string& text) {
  if (worker_.joinable()) worker_.join();
  show_text(text);
  output_->moveCursor(QTextCursor::Start);
  bar_->button()->setEnabled(true);
  busy_ = false;
  QGuiApplication::restoreOverrideCursor();
  emit queryFinished();
}

}  // namespace tw::ui
