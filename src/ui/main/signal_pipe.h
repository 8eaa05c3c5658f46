#pragma once
// The signals that end the program (SIGTERM, SIGINT, SIGHUP) turned into a Qt
// signal on the UI thread. A signal handler may only do async-signal-safe
// work, so it writes the signal number into a pipe; a QSocketNotifier on the
// pipe's other end emits received() from the event loop, where the orderly
// shut-down can run. SIGPIPE is ignored, so a command client that went away
// never kills the program.
//
// One per process, created on the UI thread after the QApplication. Its
// destructor puts the default handlers back.
#include <QObject>

#include <memory>
#include <string>

class QSocketNotifier;

namespace tw::ui {

class SignalPipe : public QObject {
  Q_OBJECT
 public:
  // Null (with *error set) when the pipe cannot be made or another
  // SignalPipe exists; the program then ends on these signals the default
  // way, without its shut-down.
  static std::unique_ptr<SignalPipe> install(std::string* error);
  ~SignalPipe() override;

 signals:
  void received(int signal_number);

 private:
  SignalPipe(int read_fd, int write_fd);
  void drain();

  int read_fd_;
  int write_fd_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tw::ui
