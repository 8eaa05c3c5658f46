#pragma once
// Suspend and resume of the machine, from systemd-logind on the system bus:
// PrepareForSleep(true) before the machine sleeps, PrepareForSleep(false)
// after it woke up. A "delay" inhibitor lock is held while the program runs,
// so that logind waits (up to its InhibitDelayMaxSec) for the suspend work
// before the machine sleeps; it is released once suspending() has been
// handled and taken again after the resume.
//
// Without a system bus or logind nothing is ever emitted. No call blocks: the
// lock is asked for asynchronously, so a stalled bus cannot hold up the UI.
// UI thread only.
#include <QDBusUnixFileDescriptor>
#include <QObject>

class QDBusPendingCallWatcher;

namespace tw::ui {

class PowerEvents : public QObject {
  Q_OBJECT
 public:
  explicit PowerEvents(QObject* parent = nullptr);

  // True when the signal subscription on the system bus succeeded.
  bool connected() const { return connected_; }

 signals:
  // The machine is about to sleep. Receivers do their work directly in the
  // slot; the lock is released when they return.
  void suspending();
  // The machine woke up.
  void resumed();

 private slots:
  void on_prepare_for_sleep(bool start);

 private:
  void take_lock();

  bool connected_ = false;
  QDBusUnixFileDescriptor lock_;
  QDBusPendingCallWatcher* pending_ = nullptr;
};

}  // namespace tw::ui
