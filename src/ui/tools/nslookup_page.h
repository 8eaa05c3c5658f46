#pragma once
// The NSLOOKUP tab: the address lines and the record listing built on a
// worker thread, a progress mark every second. STOP and closing the tab end
// the lookup under way at once (the worker's token); the finished report is
// shown from its top.
#include <QTimer>

#include "tools/nslookup.h"
#include "tools/tool_history.h"
#include "tools/tool_settings.h"
#include "ui/common/cancellable_worker.h"
#include "ui/tools/tool_page.h"

namespace tw::ui {

class HostBar;

class NslookupPage : public ToolPage {
  Q_OBJECT
 public:
  NslookupPage(settings::Profile& profile, platform::FileStore& files, platform::DnsClient* dns,
               platform::HostLookup& hosts, std::string data_folder, Language lang, QWidget* parent = nullptr);
  ~NslookupPage() override;

  void reload_settings() override;
  void run_for(const QString& target) override;

  HostBar* bar() const { return bar_; }
  void press();
  bool running() const { return run_.state() != tools::NslookupRun::kIdle; }

 private:
  void tick();

  platform::FileStore& files_;
  platform::DnsClient* dns_;
  platform::HostLookup& hosts_;
  std::string history_path_;
  tools::HistoryFile history_file_ = tools::HistoryFile::NotRead;
  tools::NslookupSettings settings_;
  tools::NslookupRun run_;
  CancellableWorker worker_;
  QTimer timer_;
  HostBar* bar_ = nullptr;
};

}  // namespace tw::ui
