#include "ui/main/power_events.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace tw::ui {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

PowerEvents::PowerEvents(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  connected_ = bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                           SLOT(on_prepare_for_sleep(bool)));
  if (connected_) take_lock();
}

void PowerEvents::take_lock() {
  if (pending_ || lock_.isValid()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep") << QStringLiteral("Tarnwatch")
       << QStringLiteral("Saving the traffic totals and ending the report log") << QStringLiteral("delay");
  pending_ = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
  connect(pending_, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
    // Not allowed (no session, a policy) is no error: suspend work then
    // races the sleep, as it would without logind.
    if (reply.isValid()) lock_ = reply.value();
    w->deleteLater();
    pending_ = nullptr;
  });
}

void PowerEvents::on_prepare_for_sleep(bool start) {
  if (start) {
    emit suspending();
    lock_ = QDBusUnixFileDescriptor();  // closing our copy of the fd lets the machine sleep
  } else {
    take_lock();
    emit resumed();
  }
}

}  // namespace tw::ui
