#pragma once
// Child processes with their standard output and standard error on pipes, for
// the PING and TRACERT tools.
//
// Threads: a ChildProcess is used by one thread at a time (the tool's
// worker); the runner may be asked from any thread.
#include <memory>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/cancellation.h"

namespace tw::platform {

class ChildProcess {
 public:
  // A child still running when its object goes is ended (terminate()).
  virtual ~ChildProcess() = default;

  enum class Progress { Running, Ended };
  // Waits at most `timeout_ms` for output, then appends what the child has
  // written to standard output to `out` and what it has written to standard
  // error to `err`. Ended once the child has exited and what it wrote before
  // has been read; from then on nothing more is appended.
  virtual Progress read(std::string& out, std::string& err, int timeout_ms) = 0;
  // Ends the child (a polite signal, then a forced one when it does not go
  // within a moment) and collects it.
  virtual void terminate() = 0;
  // Ends the child as Ctrl+C in its terminal would: SIGINT to it and its
  // process group, then what it still writes is appended to `out` and `err`
  // (ping prints its summary) until it has ended. A child still there after
  // `grace_ms`, or once `stop` is requested, is ended with terminate().
  // Returns when the child is gone.
  virtual void interrupt(std::string& out, std::string& err, int grace_ms, std::stop_token stop) = 0;
};

class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  virtual bool is_supported() { return true; }
  // Starts argv[0], looked up on the PATH, with `argv`; standard input reads
  // nothing. A program that is not installed gives an error whose errno_value
  // is ENOENT.
  virtual Result<std::unique_ptr<ChildProcess>> start(const std::vector<std::string>& argv) = 0;
};

}  // namespace tw::platform
