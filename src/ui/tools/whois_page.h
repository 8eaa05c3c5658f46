#pragma once
// The WHOIS tab: the target reduced, its server chosen from the server
// table, the query run on a worker thread (the window stays usable for the
// up to 8 s a silent server may take) and the reply shown. Closing the tab
// ends a query under way at once.
#include <vector>

#include "tools/tool_history.h"
#include "tools/tool_settings.h"
#include "tools/whois.h"
#include "ui/common/cancellable_worker.h"
#include "ui/tools/tool_page.h"

namespace tw::ui {

class HostBar;

class WhoisPage : public ToolPage {
  Q_OBJECT
 public:
  WhoisPage(settings::Profile& profile, platform::FileStore& files, platform::WhoisClient& client,
            std::string data_folder, Language lang, QWidget* parent = nullptr);
  ~WhoisPage() override;

  // Also reads the server table again.
  void reload_settings() override;
  void run_for(const QString& target) override;

  HostBar* bar() const { return bar_; }
  // The START button (and Enter): the query step.
  void press();
  bool busy() const { return busy_; }

 signals:
  // A query has shown its result.
  void queryFinished();

 private:
  void finish();

  platform::FileStore& files_;
  platform::WhoisClient& client_;
  std::string history_path_;
  std::string table_path_;
  tools::HistoryFile history_file_ = tools::HistoryFile::NotRead;
  tools::WhoisSettings settings_;
  std::vector<tools::WhoisServerEntry> table_;
  CancellableWorker worker_;
  std::string result_;  // written by the worker, read once it has returned
  bool busy_ = false;
  HostBar* bar_ = nullptr;
};

}  // namespace tw::ui
