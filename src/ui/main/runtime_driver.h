#pragma once
// Drives the window-free runtime from the Qt event loop, as tarnixd's poll
// loop does: one timer that runs the runtime's due work, ticking at the
// shortest period of its armed timers (re-read whenever the schedule
// changes), the command channel and the runtime's wake-up descriptor (the
// sampler's news that the interface changed). Timers that are not armed
// (the automatic reset outside a countdown, the status record while the
// sampler publishes it) never wake the event loop.
//
// Threads: UI thread only. The runtime, the clock and the server must outlive
// the driver or its stop(), whichever comes first.
#include <QObject>
#include <QTimer>

#include <cstdint>

namespace tw::app {
class Runtime;
}
namespace tw::platform {
class Clock;
class CommandServer;
}  // namespace tw::platform

class QSocketNotifier;

namespace tw::ui {

class RuntimeDriver : public QObject {
  Q_OBJECT
 public:
  RuntimeDriver(app::Runtime& runtime, platform::Clock& clock, QObject* parent = nullptr);
  ~RuntimeDriver() override;

  // Starts driving the timers; the runtime must have started.
  void start();
  // Serves `server` until stop(); null does nothing.
  void serve_commands(platform::CommandServer* server);
  // No timer tick and no command from here on.
  void stop();

 private:
  void rearm();
  void run_due();

  app::Runtime& runtime_;
  platform::Clock& clock_;
  QTimer timer_;
  QSocketNotifier* notifier_ = nullptr;
  QSocketNotifier* wake_ = nullptr;
  platform::CommandServer* server_ = nullptr;
  std::uint32_t tick_ms_ = 0;
  bool stopped_ = false;
};

}  // namespace tw::ui
