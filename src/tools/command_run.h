#pragma once
// The run of the PING or TRACERT tab: the program run as a child process, its
// output gathered while it runs and shown by the tab's 500 ms tick.
//
// Run states: 0 idle, 1 starting, 2 running, 3 finished, 4 abort requested.
// 0 -> 1 (start) -> 2 (worker) -> 3 (child ended, start failed or abort
// served) -> 0 (tick); 2 -> 4 (abort) -> 3.
//
// An abort ends the child too: on Linux a ping left behind would keep
// running (and sending) after the tab has forgotten it, with nobody to read
// its output. The button's abort interrupts it as Ctrl+C would (SIGINT), so
// that ping prints its summary before "Aborted."; a child that does not end
// within kInterruptGraceMs is terminated. A stop of the worker's token (the
// tab closing) terminates it at once: nobody will read a summary.
//
// Threads: start(), request_abort() and tick() on the user-interface thread;
// run_worker() on the tab's worker thread. The output buffer is shared under
// a lock; the state is atomic.
#include <atomic>
#include <cstddef>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_runner.h"
#include "tools/tool_settings.h"

namespace tw::tools {

// The options text split into words at blanks and tabs (the child gets no
// shell, so no host text can ever run a command).
std::vector<std::string> split_options(std::string_view options);

// The line shown for a program that cannot be started: names it and says why.
std::string start_failure_text(std::string_view program, const Error& error);

// How long an interrupted child may take to print its summary and end.
inline constexpr int kInterruptGraceMs = 2000;

class CommandRun {
 public:
  enum State : int { kIdle = 0, kStarting = 1, kRunning = 2, kFinished = 3, kAbortRequested = 4 };

  explicit CommandRun(const CommandToolKind& kind) : kind_(kind) {}

  int state() const { return state_.load(); }

  // The button while idle: builds the command line and enters state 1. False
  // (nothing happens) for an empty host or when not idle. The caller then
  // starts the worker and the tick.
  bool start(std::string_view options, std::string_view host);
  // "PROGRAM OPTIONS -- HOST", as echoed at the top of the output: the "--"
  // is passed (see argv()), so the line shows it.
  const std::string& command_line() const { return command_line_; }
  // What the child is started with: the options' words, then "--" and the
  // host, so that a host text starting with "-" is never taken as an option.
  const std::vector<std::string>& argv() const { return argv_; }

  // The button while running: asks the worker to stop. False when not running.
  bool request_abort();
  // The tab closing: like request_abort(), and a worker that has not begun
  // yet ends at once without starting the child.
  void cancel();

  // The worker: runs the child and appends its output until it ends or the
  // run is aborted (or `token` stopped), then state 3.
  void run_worker(platform::ProcessRunner& runner, std::stop_token token = {});

  // The 500 ms tick. `shown_length` is the length of the text on display.
  struct TickOutput {
    bool show = false;  // `text` replaces the display
    std::string text;
    bool finished = false;  // the run is idle again; the button reads "START"
  };
  TickOutput tick(std::size_t shown_length);

  // A copy of the output so far; any thread.
  std::string output() const;
  // Standard error of the child: kept, never shown.
  std::string errors() const;

 private:
  void append(const std::string& out, const std::string& err);

  const CommandToolKind& kind_;
  std::atomic<int> state_{kIdle};
  std::string command_line_;
  std::vector<std::string> argv_;
  mutable std::mutex mutex_;
  std::string output_;
  std::string errors_;
};

}  // namespace tw::tools
