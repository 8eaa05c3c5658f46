#pragma once
// The worker thread of a tool tab (PING, TRACERT, NSLOOKUP, WHOIS, NETSTAT):
// one job at a time, a stop token the job hands to every blocking platform
// call, and a finished() signal back on the tab's thread.
//
// Ending a job early: cancel() stops the token and returns at once; stop()
// also waits for the job to return, which is quick because every wait the
// job makes (socket, resolver, child process) ends with the token. The
// destructor stops, so a tab that closes never waits out a silent server.
//
// Use (UI thread):
//   CancellableWorker worker;                       // a member of the tab
//   connect(&worker, &CancellableWorker::finished, this, &Tab::done);
//   worker.start([this](std::stop_token t) { run_.run_worker(runner_, t); });
//
// Threads: every member on the thread the object lives on; the job runs on a
// thread of its own and must touch no widget.
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <thread>

namespace tw::ui {

class CancellableWorker : public QObject {
  Q_OBJECT
 public:
  using Job = std::function<void(std::stop_token)>;

  explicit CancellableWorker(QObject* parent = nullptr);
  ~CancellableWorker() override;

  // Starts `job` on a new thread. False (nothing started) while the previous
  // job has not returned; a returned one is collected first.
  bool start(Job job);
  // Stops the running job's token; returns at once.
  void cancel();
  // cancel(), then waits for the job to return. finished() is not emitted
  // for a job collected this way.
  void stop();
  // A job was started and has not returned.
  bool busy() const { return thread_.joinable() && !returned_.load(); }

 signals:
  // The job has returned (emitted on the worker object's thread, through its
  // event loop).
  void finished();

 private:
  void collect();

  std::jthread thread_;
  std::atomic<bool> returned_{true};
  // Counts the jobs, so that the notice of a job collected by stop() (or a
  // start() that followed) does not report the next job as finished.
  std::uint64_t generation_ = 0;
};

}  // namespace tw::ui
