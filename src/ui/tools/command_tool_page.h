#pragma once
// The PING and TRACERT tabs: the program run on a worker thread, its output
// shown every 500 ms, START/STOP, the host history.
//
// STOP interrupts the program as Ctrl+C would (ping prints its summary);
// closing the tab (destroying the page) saves "HostName", "History" and the
// history file, and ends a run still going (the child too) before it returns.
#include <QTimer>

#include "tools/command_run.h"
#include "tools/tool_history.h"
#include "tools/tool_settings.h"
#include "ui/common/cancellable_worker.h"
#include "ui/tools/tool_page.h"

namespace tw::ui {

class HostBar;

class CommandToolPage : public ToolPage {
  Q_OBJECT
 public:
  CommandToolPage(const tools::CommandToolKind& kind, settings::Profile& profile, platform::FileStore& files,
                  platform::ProcessRunner& runner, std::string data_folder, Language lang,
                  QWidget* parent = nullptr);
  ~CommandToolPage() override;

  void reload_settings() override;
  void run_for(const QString& target) override;

  HostBar* bar() const { return bar_; }
  // The START/STOP button.
  void press();
  bool running() const { return run_.state() != tools::CommandRun::kIdle; }

 private:
  void tick();

  const tools::CommandToolKind& kind_;
  platform::FileStore& files_;
  platform::ProcessRunner& runner_;
  std::string history_path_;
  tools::HistoryFile history_file_ = tools::HistoryFile::NotRead;
  tools::CommandToolSettings settings_;
  tools::CommandRun run_;
  CancellableWorker worker_;
  QTimer timer_;
  HostBar* bar_ = nullptr;
};

}  // namespace tw::ui
