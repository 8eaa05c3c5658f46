#include "ui/main/runtime_driver.h"

#include <QSocketNotifier>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "app/runtime.h"
#include "platform/clock.h"
#include "platform/linux/command_socket.h"

namespace tw::ui {

RuntimeDriver::RuntimeDriver(app::Runtime& runtime, platform::Clock& clock, QObject* parent)
    : QObject(parent), runtime_(runtime), clock_(clock) {
  // A repeating coarse timer, like the window timers it stands for: the event
  // loop then wakes once for it and for the window's own timers of the same
  // period (the graph's redraw). Armed at each next due time instead, it
  // would wake the loop on a phase of its own, half again as often.
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, &RuntimeDriver::run_due);
}

RuntimeDriver::~RuntimeDriver() { stop(); }

void RuntimeDriver::start() {
  if (stopped_) return;
  runtime_.set_schedule_listener([this] { rearm(); });
  if (!wake_ && runtime_.wake_fd() >= 0) {
    wake_ = new QSocketNotifier(runtime_.wake_fd(), QSocketNotifier::Read, this);
    connect(wake_, &QSocketNotifier::activated, this, [this] {
      if (!stopped_) runtime_.handle_wake();
    });
  }
  rearm();
}

void RuntimeDriver::run_due() {
  if (stopped_) return;
  // The ticks fall near the deadlines but not on them: what falls due before
  // the middle of the next tick runs now. The schedule keeps its grid, so no
  // timer runs more often than its period asks.
  runtime_.run_due(clock_.tick_ms() + tick_ms_ / 2);
}

void RuntimeDriver::rearm() {
  if (stopped_) return;
  std::uint32_t tick = 0;
  if (runtime_.started() && !runtime_.is_shut_down()) {
    for (const app::TimerEntry& t : runtime_.timers()) tick = tick ? std::min(tick, t.period_ms) : t.period_ms;
  }
  tick_ms_ = std::min<std::uint32_t>(tick, INT_MAX);
  if (tick_ms_ == 0) {
    timer_.stop();
    return;
  }
  if (timer_.isActive() && timer_.interval() == static_cast<int>(tick_ms_)) return;
  // The schedule takes the changed periods from now, as the ticks do.
  runtime_.ms_until_next(clock_.tick_ms());
  timer_.start(static_cast<int>(tick_ms_));
}

void RuntimeDriver::serve_commands(platform::CommandServer* server) {
  if (!server || notifier_ || stopped_) return;
  server_ = server;
  notifier_ = new QSocketNotifier(server->fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    if (!server_ || stopped_) return;
    // A sender that waits (tarnixctl) hears the outcome; others get nothing.
    for (const platform::CommandRequest& r : server_->receive_requests())
      server_->reply(r, shell::reply_datagram(runtime_.answer_command(r.text)));
  });
}

void RuntimeDriver::stop() {
  if (stopped_) return;
  stopped_ = true;
  timer_.stop();
  runtime_.set_schedule_listener({});
  delete notifier_;
  notifier_ = nullptr;
  delete wake_;
  wake_ = nullptr;
  server_ = nullptr;
}

}  // namespace tw::ui
