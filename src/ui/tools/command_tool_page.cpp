#include "ui/tools/command_tool_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/profile.h"
#include "ui/tools/host_bar.h"

namespace tw::ui {

CommandToolPage::CommandToolPage(const tools::CommandToolKind& kind, settings::Profile& profile,
                                 platform::FileStore& files, platform::ProcessRunner& runner,
                                 std::string data_folder, Language lang, QWidget* parent)
    : ToolPage(profile, lang, parent),
      kind_(kind),
      files_(files),
      runner_(runner),
      history_path_(tool_file_path(data_folder, kind.history_suffix)),
      run_(kind) {
  swallows_escape_ = true;
  bar_ = new HostBar(lang_, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(bar_);
  layout->addWidget(output_, 1);

  settings_ = tools::load_command_tool(profile_, kind_);
  history_file_ =
      tools::load_host_list(bar_->list(), files_, history_path_, settings_.history, settings_.host_name);
  bar_->refill();
  bar_->set_text(settings_.host_name);
  bar_->history()->setChecked(settings_.history);

  connect(bar_->button(), &QPushButton::clicked, this, &CommandToolPage::press);
  connect(bar_, &HostBar::entered, this, &CommandToolPage::press);
  connect(bar_->history(), &QCheckBox::toggled, this, [this](bool on) {
    settings_.history = on;
    tools::save_tool_history_flag(profile_, kind_.section, on);
  });
  timer_.setInterval(500);
  connect(&timer_, &QTimer::timeout, this, &CommandToolPage::tick);
  add_options_command(kind_.options_group);
  ToolPage::reload_settings();
}

CommandToolPage::~CommandToolPage() {
  timer_.stop();
  settings_.host_name = bar_->text();
  tools::save_command_tool_state(profile_, kind_, settings_);
  (void)tools::save_host_list(bar_->list(), files_, history_path_, settings_.history, history_file_);
  // The token first: the worker then ends the child at once (no Ctrl+C and
  // no grace for a summary nobody will read) and returns with it.
  worker_.cancel();
  run_.cancel();
  worker_.stop();
}

void CommandToolPage::reload_settings() {
  ToolPage::reload_settings();
  settings_.options = tools::load_command_tool(profile_, kind_).options;
}

void CommandToolPage::run_for(const QString& target) {
  if (running()) return;
  bar_->hosts()->setEditText(target);
  press();
}

void CommandToolPage::press() {
  switch (run_.state()) {
    case tools::CommandRun::kIdle: {
      const std::string host = bar_->text();
      if (host.empty()) return;
      bar_->button()->setEnabled(false);
      bar_->add(host);
      worker_.stop();  // the previous run's thread has returned; collect it
      if (!run_.start(settings_.options, host)) {
        bar_->button()->setEnabled(true);
        return;
      }
      show_text({});
      bar_->show_running(true);
      bar_->button()->setEnabled(true);
      worker_.start([this](std::stop_token token) { run_.run_worker(runner_, token); });
      timer_.start();
      return;
    }
    case tools::CommandRun::kRunning:
      // The worker interrupts the child, collects its last words and says
      // "Aborted." within a moment; the tick shows it. The window is not
      // held up meanwhile.
      run_.request_abort();
      return;
    default: return;
  }
}

void CommandToolPage::tick() {
  auto t = run_.tick(shown_length_);
  // The output only grows during a run: appending the new part keeps a long
  // run (a ping without a count) from laying out the whole box every tick.
  // Whole lines only, so that no character is split between two ticks.
  if (t.show && !t.finished && t.text.size() > shown_length_ && shown_length_ > 0) {
    const std::size_t end = t.text.rfind('\n');
    if (end != std::string::npos && end + 1 > shown_length_)
      append_text(t.text.substr(shown_length_, end + 1 - shown_length_));
  } else if (t.show) {
    show_text(t.text);
  }
  if (t.finished) {
    timer_.stop();
    worker_.stop();  // state 3 is the worker's last step: this only collects it
    bar_->show_running(false);
    bar_->button()->setEnabled(true);
  }
}

}  // namespace tw::ui
