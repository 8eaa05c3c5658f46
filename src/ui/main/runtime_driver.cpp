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
  // A coarse timer lets the event loop wake up once for this and the
  // window's own timers (the graph's redraw); it may fire up to 5 % of its
  // interval early, so what falls due within that counts as due (run_due).
  timer_.setTimerType(Qt::CoarseTimer);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &RuntimeDriver::run_due);
}

RuntimeDriver::~RuntimeDriver() { stop(); }

void RuntimeDriver::start() {
  if (stopped_) return;
  runtime_.set_schedule_listener([this] { rearm(); });
  rearm();
}

void RuntimeDriver::run_due() {
  if (stopped_) return;
  runtime_.run_due(clock_.tick_ms() + early_ms_);
  rearm();
}

void RuntimeDriver::rearm() {
  if (stopped_) return;
  const auto wait = runtime_.ms_until_next(clock_.tick_ms());
  if (!wait) {
    timer_.stop();
    return;
  }
  const auto interval = std::min<std::uint32_t>(*wait, INT_MAX);
  early_ms_ = interval / 20;
  timer_.start(static_cast<int>(interval));
}

void RuntimeDriver::serve_commands(platform::CommandServer* server) {
  if (!server || notifier_ || stopped_) return;
  server_ = server;
  notifier_ = new QSocketNotifier(server->fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    if (!server_ || stopped_) return;
    for (const std::string& text : server_->receive_pending()) runtime_.handle_command(text);
  });
}

void RuntimeDriver::stop() {
  if (stopped_) return;
  stopped_ = true;
  timer_.stop();
  runtime_.set_schedule_listener({});
  delete notifier_;
  notifier_ = nullptr;
  server_ = nullptr;
}

}  // namespace tw::ui
