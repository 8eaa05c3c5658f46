#pragma once
// The "NETSTAT" tab: a START/STOP button over a read-only output box. One run
// lists every IPv4 TCP connection whose state the "Netstat"/"Filter" setting
// lets through and every UDP endpoint, with names looked up while it runs, on
// a worker thread; the box shows progress marks every second and the whole
// listing when the worker is done. STOP appends "Aborted." and the box then
// shows what was gathered.
//
// Threads: the page on the UI thread; the worker reads `sockets` and
// `processes`, which must serve it alone (no other thread may use them), and
// the two name caches, which lock themselves. Everything referenced must
// outlive the page; the destructor stops a running worker and waits for it.
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "base/language.h"
#include "sessions/netstat.h"
#include "ui/common/cancellable_worker.h"

class QPlainTextEdit;
class QPushButton;

namespace tw::platform {
class ProcessTable;
class ReverseResolver;
class SocketTable;
}  // namespace tw::platform
namespace tw::settings {
class Profile;
}
namespace tw::shared {
class HostNameCache;
}
namespace tw::sessions {
class ProcessNameCache;
}

namespace tw::ui {

struct NetstatSources {
  platform::SocketTable* sockets = nullptr;
  platform::ProcessTable* processes = nullptr;
  sessions::ProcessNameCache* names = nullptr;
  shared::HostNameCache* hosts = nullptr;
  platform::ReverseResolver* services = nullptr;  // UDP service names
  // Run on the UI thread before each worker starts (may be empty): what the
  // process table asks must not be started by the short-lived worker.
  std::function<void()> before_run;
};

class NetstatPage : public QWidget {
  Q_OBJECT
 public:
  // Every source must be set.
  NetstatPage(settings::Profile& profile, const NetstatSources& sources, Language lang, QWidget* parent = nullptr);
  ~NetstatPage() override;

  // The button: starts a run when idle, asks the running one to stop.
  void start_stop();
  // The display timer (500 ms during a run); tests call it directly.
  void tick();
  // The state filter and the output-box colours again (after the options
  // dialog's OK); a run keeps the filter it started with.
  void reload_settings();

  int run_state() const { return run_.state(); }
  QPushButton* button() const { return button_; }
  QPlainTextEdit* output() const { return output_; }
  QTimer& display_timer() { return timer_; }

 private:
  settings::Profile& profile_;
  NetstatSources sources_;
  const Language lang_;
  sessions::NetstatRun run_;
  sessions::NetstatFilter filter_{};
  bool ipv6_ = true;  // "Settings"/"IPv6": list the IPv6 sockets too
  // Polled by the display timer rather than waited for through finished():
  // the run reports its end (and its progress) through run_.
  CancellableWorker worker_;
  QPushButton* button_ = nullptr;
  QPlainTextEdit* output_ = nullptr;
  QTimer timer_;  // the display timer: progress marks and the result
};

}  // namespace tw::ui
